// The administration of UserTimesDB.mdb: schema, users, allowances, free sites and settings, as the
// product's administration tools keep them. Every change is one transaction; a refused change
// leaves the file as it was.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

namespace user_times_db {

// A refused request or a failed database operation, with a message for the administrator.
class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kMaxUserName = 59;  // what the filter's UserName field holds

// Makes a new database at `path` (host path) with the one settings row and empty tables; with
// `sample_users`, also two users for tests and the demo.
void Create(const std::string& path, bool sample_users);

void ListUsers(const std::string& path, std::ostream& out);
// `allowance` -1 means unlimited. Names are stored upper-case.
void AddUser(const std::string& path, const std::string& name, std::int64_t allowance);
void RemoveUser(const std::string& path, const std::string& name);
void RenameUser(const std::string& path, const std::string& name, const std::string& new_name);
void SetAllowance(const std::string& path, const std::string& name, std::int64_t allowance);
void SetUsed(const std::string& path, const std::string& name, std::int64_t minutes);

void ListSites(const std::string& path, std::ostream& out);
void AddSite(const std::string& path, const std::string& text);
void RemoveSite(const std::string& path, const std::string& text);

// `text` as a whole number; DbError naming `what` otherwise.
std::int64_t ParseInteger(const std::string& text, const char* what);

void ShowSettings(const std::string& path, std::ostream& out);
// `key` is a column name of FilterSettings, compared without case.
void SetSetting(const std::string& path, const std::string& key, const std::string& value);

}  // namespace user_times_db
