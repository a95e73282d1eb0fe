// Backup and restore of UserTimesDB.mdb while the filter uses it.
#pragma once

#include <string>

#include "store/admin.h"
#include "tools/db/user_times_db.h"

namespace user_times_db {

// Writes a consistent copy of `database` to `file` (the minutes charged until that moment, those
// still in the write-ahead log included), while the filter goes on charging. An existing `file`
// is replaced only by the whole copy. Raises DbError.
store::ChangeResult Backup(const std::string& database, const std::string& file);

// Replaces `database` with the user-times database `file` (checked first), by a copy beside it
// that takes the old file's owner and mode and is renamed over it: the running filter opens the
// new file at its next request. Raises DbError, with `database` untouched.
store::ChangeResult Restore(const std::string& file, const std::string& database);

}  // namespace user_times_db
