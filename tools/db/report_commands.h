// minutrix-db's commands that read the history and the audit: report, history and audit. Each
// checks its options before it opens the database and changes nothing in it.
#pragma once

#include <map>
#include <ostream>
#include <string>

namespace user_times_db {

// An option's value by its name ("--from").
using Options = std::map<std::string, std::string>;

// `report DATABASE [--by ...] [--from ...] [--to ...] [--user ...] [--format ...] [--lang ...]
// [--output FILE]`: the report on `out`, or in FILE with one line on `out` saying so. An empty
// period says "no usage" on `out`, or on `notes` when `out` carries CSV, JSON or HTML. DbError
// for bad options, an unknown user, or a file that cannot be written.
void Report(const std::string& path, const Options& options, std::ostream& out,
            std::ostream& notes);

// `history DATABASE NAME [--date YYYY-MM-DD]`: the user's runs of that day (today by default).
void History(const std::string& path, const std::string& name, const Options& options,
             std::ostream& out);

// `audit DATABASE [--from YYYY-MM-DD] [--user NAME]`: the administrators' changes.
void Audit(const std::string& path, const Options& options, std::ostream& out);

}  // namespace user_times_db
