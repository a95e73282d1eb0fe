// The accounts file: a version line, then one account a line, its fields split by tabs:
//   name, role, classes (comma-separated), hash.
#include "admin/accounts.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/text.h"
#include "platform/web/secrets.h"

namespace admin {
namespace {

constexpr const char* kVersionLine = "minutrix-admin accounts 1";

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (true) {
    const size_t end = text.find(separator, begin);
    parts.emplace_back(text.substr(begin, end - begin));
    if (end == std::string_view::npos) return parts;
    begin = end + 1;
  }
}

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw AccountError("cannot read " + file.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

const char* RoleName(Role role) { return role == Role::kTeacher ? "teacher" : "admin"; }

std::optional<Role> ParseRole(std::string_view text) {
  if (text == "admin") return Role::kAdmin;
  if (text == "teacher") return Role::kTeacher;
  return std::nullopt;
}

std::string CheckAccountName(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > 64) return "the name is longer than 64 characters";
  for (char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-' || c == '@';
    if (!allowed) return "the name may hold only letters, digits and . _ - @";
  }
  return {};
}

std::string CheckGroupName(std::string_view group) {
  if (platform::Trim(group).empty()) return "a class name is empty";
  for (unsigned char c : group) {
    if (c < 0x20 || c == 0x7f || c == ',') {
      return "a class name may not hold a comma or a control character";
    }
  }
  return {};
}

std::vector<std::string> ParseGroups(std::string_view list) {
  std::vector<std::string> groups;
  if (list.empty()) return groups;
  for (const std::string& part : Split(list, ',')) {
    const std::string group = platform::Trim(part);
    if (const std::string why = CheckGroupName(group); !why.empty()) throw AccountError(why);
    const bool known = std::any_of(groups.begin(), groups.end(), [&](const std::string& g) {
      return platform::EqualsNoCase(g, group);
    });
    if (!known) groups.push_back(group);
  }
  return groups;
}

std::vector<Account> ParseAccounts(const std::string& text) {
  std::vector<Account> accounts;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1) {
      if (line != kVersionLine) {
        throw AccountError("line 1: not an accounts file of minutrix-admin (expected \"" +
                           std::string(kVersionLine) + "\")");
      }
      continue;
    }
    if (line.empty()) continue;
    const std::vector<std::string> fields = Split(line, '\t');
    const auto damaged = [&](const std::string& why) {
      return AccountError("line " + std::to_string(number) + ": " + why);
    };
    if (fields.size() != 4) throw damaged("expected 4 fields split by tabs");
    Account account;
    account.name = fields[0];
    if (const std::string why = CheckAccountName(account.name); !why.empty()) throw damaged(why);
    const auto role = ParseRole(fields[1]);
    if (!role) throw damaged("unknown role '" + fields[1] + "'");
    account.role = *role;
    try {
      account.groups = ParseGroups(fields[2]);
    } catch (const AccountError& error) {
      throw damaged(error.what());
    }
    account.hash = fields[3];
    if (account.hash.empty() || account.hash[0] != '$') throw damaged("no password hash");
    accounts.push_back(std::move(account));
  }
  return accounts;
}

std::string FormatAccounts(const std::vector<Account>& accounts) {
  std::string text = std::string(kVersionLine) + "\n";
  for (const Account& account : accounts) {
    std::string groups;
    for (const std::string& group : account.groups) {
      if (!groups.empty()) groups += ',';
      groups += group;
    }
    text +=
        account.name + "\t" + RoleName(account.role) + "\t" + groups + "\t" + account.hash + "\n";
  }
  return text;
}

std::vector<Account> Accounts::List() const {
  std::error_code ec;
  if (!std::filesystem::exists(file_, ec)) return {};
  std::vector<Account> accounts;
  try {
    accounts = ParseAccounts(ReadText(file_));
  } catch (const AccountError& error) {
    throw AccountError(file_.string() + ": " + error.what());
  }
  std::sort(accounts.begin(), accounts.end(), [](const Account& a, const Account& b) {
    return platform::LessNoCase(a.name, b.name);
  });
  return accounts;
}

std::optional<Account> Accounts::Find(std::string_view name) {
  // Read at every call: a password changed or an account removed counts at once.
  std::vector<Account> accounts;
  try {
    std::lock_guard lock(mutex_);
    accounts = List();
  } catch (const AccountError&) {
    return std::nullopt;
  }
  for (Account& account : accounts) {
    if (platform::EqualsNoCase(account.name, name)) return std::move(account);
  }
  return std::nullopt;
}

bool Accounts::Set(const Account& account) {
  std::lock_guard lock(mutex_);
  std::vector<Account> accounts = List();
  bool added = true;
  for (Account& existing : accounts) {
    if (platform::EqualsNoCase(existing.name, account.name)) {
      existing = account;
      added = false;
    }
  }
  if (added) accounts.push_back(account);
  if (const std::string error = platform::ReplaceSecretFile(file_, FormatAccounts(accounts));
      !error.empty()) {
    throw AccountError("cannot write " + file_.string() + ": " + error);
  }
  return added;
}

bool Accounts::Remove(std::string_view name) {
  std::lock_guard lock(mutex_);
  std::vector<Account> accounts = List();
  const auto gone = std::remove_if(accounts.begin(), accounts.end(), [&](const Account& a) {
    return platform::EqualsNoCase(a.name, name);
  });
  if (gone == accounts.end()) return false;
  accounts.erase(gone, accounts.end());
  if (const std::string error = platform::ReplaceSecretFile(file_, FormatAccounts(accounts));
      !error.empty()) {
    throw AccountError("cannot write " + file_.string() + ": " + error);
  }
  return true;
}

}  // namespace admin
