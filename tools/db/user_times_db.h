// The administration of UserTimesDB.mdb: schema, users, allowances, free sites and settings, as the
// product's administration tools keep them. Every change is one transaction; a refused change
// leaves the file as it was.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace user_times_db {

// A refused request or a failed database operation, with a message for the administrator.
class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kMaxUserName = 59;  // what the filter's UserName field holds

// What a change did, in one line, and what the administrator should know about it (the change
// was made all the same).
struct Report {
  std::string done;
  std::vector<std::string> warnings;
};

// The prefix of a free-site row that matches by host: "host:example.org" makes the URLs whose
// host is example.org or ends in ".example.org" free; any other row matches wherever its text
// appears in the URL, the query string included.
inline constexpr const char* kHostRowPrefix = "host:";

// Makes a new database at `path` (host path) with the one settings row and empty tables; with
// `sample_users`, also two users for tests and the demo.
void Create(const std::string& path, bool sample_users);

void ListUsers(const std::string& path, std::ostream& out);
// `allowance` -1 means unlimited. Names are stored upper-case; a new name must be UTF-8 without
// control characters, not blank, and fit the filter's field. Names of existing users are only
// looked up, so rows written by other tools can still be changed or removed.
// Each change returns its Report; errors name `path` as it was given.
Report AddUser(const std::string& path, const std::string& name, std::int64_t allowance);
Report RemoveUser(const std::string& path, const std::string& name);
Report RenameUser(const std::string& path, const std::string& name, const std::string& new_name);
// Warns when the user has used more than the new allowance.
Report SetAllowance(const std::string& path, const std::string& name, std::int64_t allowance);
// Warns when the minutes are above the user's allowance.
Report SetUsed(const std::string& path, const std::string& name, std::int64_t minutes);

// Lists the rows on `out`; warns on `warnings` when a plain row also matches query strings.
void ListSites(const std::string& path, std::ostream& out, std::ostream& warnings);
// With `by_host`, or a `text` that starts with "host:", adds a host row for the host name given,
// which needs a dot ("com" alone would free a whole top-level domain).
Report AddSite(const std::string& path, const std::string& text, bool by_host = false);
Report RemoveSite(const std::string& path, const std::string& text, bool by_host = false);

// `text` as a whole number; DbError naming `what` otherwise, saying "too large" (or "too small")
// for a number beyond 64 bits. The callers check the column's range.
std::int64_t ParseInteger(const std::string& text, const char* what);

void ShowSettings(const std::string& path, std::ostream& out);
// `key` is a column name of FilterSettings, compared without case.
// ServerPort is 1 to 65535; IdleGapMinutes 0 is set with a warning (nothing is charged then).
Report SetSetting(const std::string& path, const std::string& key, const std::string& value);

}  // namespace user_times_db
