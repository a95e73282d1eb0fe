// The console's accounts: who may log in, as what (admin or teacher), for which classes, with a
// yescrypt hash of the password. Kept in one text file of the machine root that only the
// service's user may read. An Accounts object may be used from several threads.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace admin {

// A refused request or a damaged file, with a message for the administrator.
class AccountError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Role { kAdmin, kTeacher };
const char* RoleName(Role role);  // "admin", "teacher"
std::optional<Role> ParseRole(std::string_view text);

struct Account {
  std::string name;  // as given at passwd; compared without case
  Role role = Role::kAdmin;
  std::vector<std::string> groups;  // the classes of a teacher, as named
  std::string hash;                 // yescrypt, "$y$..."
};

// Why a name or a class name cannot be used; empty when it can. Names are 1 to 64 characters of
// letters, digits and . _ - @; class names any printable text without a comma.
std::string CheckAccountName(std::string_view name);
std::string CheckGroupName(std::string_view group);
// "G1,G2" as the class names, each checked; raises AccountError.
std::vector<std::string> ParseGroups(std::string_view list);

// The file's text and back. Parse raises AccountError naming the damaged line.
std::vector<Account> ParseAccounts(const std::string& text);
std::string FormatAccounts(const std::vector<Account>& accounts);

class Accounts {
 public:
  explicit Accounts(std::filesystem::path file) : file_(std::move(file)) {}
  const std::filesystem::path& file() const { return file_; }

  // All accounts by name; none when the file does not exist. Raises AccountError when it cannot
  // be read or is damaged.
  std::vector<Account> List() const;
  // The account of `name` (any case), as the file holds it now; nullopt when there is none or
  // the file cannot be read.
  std::optional<Account> Find(std::string_view name);
  // Adds the account, or changes the password (and role and classes) of the one of that name.
  // Returns whether it was new. Raises AccountError.
  bool Set(const Account& account);
  // Removes the account; false when there was none. Raises AccountError.
  bool Remove(std::string_view name);

 private:
  std::filesystem::path file_;
  std::mutex mutex_;  // between a change and the reads of this process
};

}  // namespace admin
