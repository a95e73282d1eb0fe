// A whole store copied from one database to another: a SQLite file to a PostgreSQL database and
// back (or file to file, server to server).
#pragma once

#include <ostream>
#include <string>

#include "store/admin.h"

namespace user_times_db {

// Copies every table of the store at `source` (users, settings, free sites, the reset marker,
// history, audit, groups and schedules) to `target`, a path or a connection string, as
// `minutrix-db` takes them. A missing target file is made; a PostgreSQL target gets the store's
// tables and roles where they are missing. Refused, changing nothing, when the target holds rows
// and `replace` is false. One transaction on the target: it holds the whole copy or what it held
// before. Writes a progress line to `progress` now and then on long copies. Returns the line that
// says what was copied; raises store::Refusal with the names as given (passwords left out).
std::string Copy(const std::string& source, const std::string& target, bool replace,
                 std::ostream& progress);

}  // namespace user_times_db
