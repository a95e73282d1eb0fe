// Whole-database copies for the administration tools, made while the filter reads and writes the
// same file: SQLite's online backup into a file beside the target, renamed into place.
#pragma once

#include <string>

#include "platform/ado.h"

namespace ado {

// Writes a copy of the database open on `source` to `destination` (a Windows path of the machine
// root, as a Data Source names it): one consistent moment of it, every committed transaction
// included, also those still in the write-ahead log, while other programs go on reading and
// writing. The copy is made beside `destination` and renamed over it, so `destination` is the old
// file or the whole copy, never a part. Refused when `destination` is the source's own file or
// has side files of its own (it is in use). Raises ComError; nothing is left of a failed copy.
void BackupDatabase(const ConnectionPtr& source, const std::string& destination);

// Replaces the database file `destination` (a Windows path) with a copy of the database open on
// `source`, so that a program that has the old file open sees a replaced file and opens the name
// again. The copy gets the old file's owner, group and mode. While the copy is renamed over the
// old file, no writer can commit to it and its write-ahead log is empty; the old file's side files
// are then removed, so nothing of the old file is ever read as part of the new one. A destination
// that is missing, or is no database at all (a damaged one), is replaced as it is. Raises
// ComError, with `destination` as it was, when the old file stays busy or the copy fails.
void ReplaceDatabase(const ConnectionPtr& source, const std::string& destination);

}  // namespace ado
