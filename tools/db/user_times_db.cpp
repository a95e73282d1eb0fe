// UserTimesDB.mdb administration over the database layer. Requests are checked before anything is
// written; each change runs in one immediate transaction, so a refusal or failure changes nothing.
#include "tools/db/user_times_db.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "platform/ado.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "store/schema.h"
#include "tools/db/input_checks.h"

namespace user_times_db {
namespace {

namespace fs = std::filesystem;

// The row the administration tools leave in tblPages; the filter skips it.
constexpr const char* kPlaceholder = store::kFreeSitesPlaceholder;
constexpr const char* kDefaultDeniedMessage = "Your internet time for this period is used up.";

struct SampleUser {
  const char* name;
  std::int64_t allowance;
};
constexpr SampleUser kSampleUsers[] = {{"JSMITH", 60}, {"PJANSEN", -1}};

// What the filter's PageName field holds, without its terminating zero.
constexpr std::size_t kMaxPageName = 254;

enum class Kind { kYesNo, kMinutes, kText, kPort };
struct Setting {
  const char* name;
  Kind kind;
  std::size_t max_bytes;  // text settings: what the filter's field holds
};
constexpr Setting kSettings[] = {
    {"ResetDaily", Kind::kYesNo, 0},       {"ResetWeekly", Kind::kYesNo, 0},
    {"ResetMonthly", Kind::kYesNo, 0},     {"ShowStartMessage", Kind::kYesNo, 0},
    {"DeniedMessage", Kind::kText, 254},   {"UsersChanged", Kind::kYesNo, 0},
    {"IdleGapMinutes", Kind::kMinutes, 0}, {"CurrentUserCommand", Kind::kText, 49},
    {"ServerPort", Kind::kPort, 9},        {"WarningMode", Kind::kYesNo, 0},
};

// Rows as the tool reads them; wider than the filter's fields so nothing is cut in listings.
struct UserRow {
  char UserName[1024];
  LONG MaxInternetTime;
  LONG CurrentInternetTime;
  static std::span<const ado::FieldBinding> Bindings() {
    static const ado::FieldBinding kFields[] = {
        ADO_TEXT_FIELD(UserRow, 1, UserName, false),
        ADO_INTEGER_FIELD(UserRow, 2, MaxInternetTime, false),
        ADO_INTEGER_FIELD(UserRow, 3, CurrentInternetTime, false),
    };
    return kFields;
  }
};

struct SiteRow {
  char PageName[1024];
  static std::span<const ado::FieldBinding> Bindings() {
    static const ado::FieldBinding kFields[] = {ADO_TEXT_FIELD(SiteRow, 2, PageName, false)};
    return kFields;
  }
};

bool IsWindowsPath(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

// The Windows name of a host path, or the argument itself when it is one already.
std::string DataSource(const std::string& path) {
  return IsWindowsPath(path) ? path : platform::WindowsPath(path);
}

// The database layer's description with the path it names replaced by `path` as it was given.
std::string AsGiven(std::string text, const std::string& path) {
  std::error_code ec;
  for (const std::string& named :
       {DataSource(path), DataSource(fs::absolute(path, ec).lexically_normal().string())}) {
    if (named.empty() || named == path) continue;
    for (size_t at = text.find(named); at != std::string::npos;
         at = text.find(named, at + path.size())) {
      text.replace(at, named.size(), path);
    }
  }
  return text;
}

DbError Failure(const std::string& what, const std::string& path, const ado::ComError& error) {
  return DbError(what + " " + path + ": " + AsGiven(error.Description(), path));
}

ado::ConnectionPtr Connect(const std::string& path) {
  try {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open("Data Source=" + DataSource(path) + ";", "", "", 0);
    for (const char* table : {"Users", "FilterSettings", "tblPages"}) {
      const std::int64_t found = ado::QueryInteger(
          connection,
          "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE",
          {std::string(table)}, 0);
      if (found == 0) {
        throw DbError(path + " is not a user-times database: it has no table " + table + ".");
      }
    }
    return connection;
  } catch (const ado::ComError& error) {
    throw Failure("cannot open", path, error);
  }
}

// Runs `change` in one transaction; anything it throws rolls it back.
void Change(const std::string& path, const std::function<void(const ado::ConnectionPtr&)>& change) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    ado::Execute(connection, "BEGIN IMMEDIATE");
  } catch (const ado::ComError& error) {
    throw Failure("cannot change", path, error);
  }
  try {
    change(connection);
    ado::Execute(connection, "COMMIT");
  } catch (...) {
    try {
      ado::Execute(connection, "ROLLBACK");
    } catch (const ado::ComError&) {
      // Nothing was committed either way.
    }
    try {
      throw;
    } catch (const ado::ComError& error) {
      throw Failure("cannot change", path, error);
    }
  }
}

// A login name as the filter compares it: upper case, UTF-8, nothing it could never match.
std::string CheckedUserName(const std::string& name) {
  if (name.find_first_not_of(platform::kWhitespace) == std::string::npos)
    throw DbError("a user name must not be empty or blank: no login has that name.");
  CheckCharacters("user name", name, Encoding::kUtf8);
  if (name.size() > kMaxUserName) {
    throw DbError("user name '" + name + "' is longer than " + std::to_string(kMaxUserName) +
                  " bytes; the filter could never match it.");
  }
  if (name.find('\\') != std::string::npos) {
    throw DbError("user name '" + name +
                  "' holds a backslash; give the login name without its domain.");
  }
  return platform::UpperAscii(name);
}

const std::string kMaxNumber = std::to_string(kMaxColumnNumber);

void CheckAllowance(std::int64_t allowance) {
  if (allowance > kMaxColumnNumber) {
    throw DbError("an allowance of " + std::to_string(allowance) +
                  " minutes is too large: MaxInternetTime holds at most " + kMaxNumber +
                  " (-1 is unlimited).");
  }
  if (allowance < -1) {
    throw DbError("an allowance is -1 (unlimited) or 0 to " + kMaxNumber + " minutes, not " +
                  std::to_string(allowance) + ".");
  }
}

void CheckSiteText(const std::string& text) {
  if (text.find_first_not_of(" \t") == std::string::npos)
    throw DbError("a free-site text must not be empty or blank: it would match no site.");
  CheckCharacters("free-site text", text, Encoding::kAnyBytes);
  CheckLength("a free-site text", text, kMaxPageName);
}

bool IsHostRow(const std::string& text) {
  const std::string prefix = kHostRowPrefix;
  return text.size() >= prefix.size() &&
         platform::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The row for a host name ("example.org", or a row "host:example.org"): lower case, without a
// leading dot; refused when it is not a host name alone. A `new_row` also needs a dot between
// two names: "com" would free every site of .com. Rows made before that rule can still go.
std::string HostRow(const std::string& given, bool new_row) {
  std::string name = IsHostRow(given) ? given.substr(std::string(kHostRowPrefix).size()) : given;
  if (!name.empty() && name.front() == '.') name.erase(0, 1);
  const bool bracketed = name.size() > 2 && name.front() == '[' && name.back() == ']';
  bool fits = !name.empty();
  for (size_t i = 0; fits && i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool plain = std::isalnum(c) || c == '.' || c == '-' || c == '_';
    const bool address =
        bracketed && (c == ':' || ((c == '[' || c == ']') && (i == 0 || i + 1 == name.size())));
    fits = plain || address;
  }
  if (!fits) {
    throw DbError("'" + Printable(given) +
                  "' is not a host name: give the host alone, such as example.org (no scheme, "
                  "port, path or spaces).");
  }
  CheckLength("a free-host row", kHostRowPrefix + name, kMaxPageName);
  name = platform::LowerAscii(name);
  if (new_row && !bracketed) {
    if (name.find('.') == std::string::npos) {
      throw DbError("host '" + name + "' has no dot: a host row for it would make every site " +
                    "ending in ." + name + " free; give a host name such as example.org.");
    }
    if (name.front() == '.' || name.back() == '.' || name.find("..") != std::string::npos) {
      throw DbError("host '" + name +
                    "' starts or ends with a dot or has two in a row; give a host name such as "
                    "example.org.");
    }
  }
  return kHostRowPrefix + name;
}

std::string SiteRule(const std::string& row) {
  if (IsHostRow(row)) {
    const std::string host = row.substr(std::strlen(kHostRowPrefix));
    return "URLs whose host is " + host + " or ends in ." + host + " cost no time";
  }
  return "every URL that contains it, in any case and anywhere (query string included), costs "
         "no time";
}

void MarkUsersChanged(const ado::ConnectionPtr& connection) {
  ado::Execute(connection, "UPDATE FilterSettings SET UsersChanged = 1");
}

void RequireUser(const ado::ConnectionPtr& connection, const std::string& upper) {
  if (ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {upper}, 0) ==
      0) {
    throw DbError("there is no user " + Printable(upper) + ".");
  }
}

std::string Now() {
  const std::tm tm = platform::LocalNow();
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm));
}

std::string Limit(std::int64_t allowance) {
  return allowance == -1 ? "unlimited" : std::to_string(allowance);
}

}  // namespace

void Create(const std::string& path, bool sample_users) {
  std::error_code ec;
  // A Windows path names a file of the machine root, not one below the current folder.
  fs::path host;
  if (IsWindowsPath(path)) {
    const auto mapped = platform::HostPath(path);
    if (!mapped) throw DbError("cannot create " + path + ": the name maps to no file.");
    host = *mapped;
  } else {
    host = fs::absolute(path, ec);
  }
  if (fs::exists(host, ec)) throw DbError(path + " exists already; remove it first.");
  if (host.has_parent_path()) fs::create_directories(host.parent_path(), ec);
  try {
    ado::CreateDatabase("Data Source=" + DataSource(host.string()) + ";");
  } catch (const ado::ComError& error) {
    throw Failure("cannot create", path, error);
  }
  try {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open("Data Source=" + DataSource(host.string()) + ";", "", "", 0);
    ado::Execute(connection, "BEGIN IMMEDIATE");
    for (const char* statement : store::ProductTables()) ado::Execute(connection, statement);
    store::CreateOwnTables(connection);
    ado::Execute(
        connection,
        "INSERT INTO FilterSettings (ResetDaily, ResetWeekly, ResetMonthly, ShowStartMessage,"
        " DeniedMessage, UsersChanged, IdleGapMinutes, CurrentUserCommand, ServerPort,"
        " ChangedBy, ChangedAt, WarningMode) VALUES (1, 0, 0, 0, ?1, 0, 10, 'timeleft', '80',"
        " 'minutrix-db', ?2, 0)",
        {std::string(kDefaultDeniedMessage), Now()});
    if (sample_users) {
      for (const SampleUser& user : kSampleUsers) {
        ado::Execute(
            connection,
            "INSERT INTO Users (UserName, MaxInternetTime, CurrentInternetTime) VALUES (?1, ?2, 0)",
            {std::string(user.name), user.allowance});
      }
    }
    ado::Execute(connection, "COMMIT");
    connection->Close();
  } catch (const ado::ComError& error) {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(host.string() + suffix, ec);
    throw Failure("cannot create", path, error);
  }
}

void ListUsers(const std::string& path, std::ostream& out) {
  ado::ConnectionPtr connection = Connect(path);
  // The cells as shown; the widths follow from them once all rows are read.
  std::vector<std::array<std::string, 4>> lines = {{"USER", "ALLOWANCE", "USED", "LEFT"}};
  try {
    ado::RecordsetPtr users = ado::CreateRecordset();
    users->Open("Users", connection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
    UserRow row{};
    users->QueryBinding()->BindToRecordset(&row);
    for (users->MoveFirst(); !users->IsEOF(); users->MoveNext()) {
      const std::int64_t left = row.MaxInternetTime == -1
                                    ? -1
                                    : std::max<std::int64_t>(0, std::int64_t{row.MaxInternetTime} -
                                                                    row.CurrentInternetTime);
      lines.push_back({Printable(row.UserName), Limit(row.MaxInternetTime),
                       std::to_string(row.CurrentInternetTime), Limit(left)});
    }
  } catch (const ado::ComError& error) {
    throw Failure("cannot read", path, error);
  }
  // The usual widths, wider where a cell needs it: a space always parts two columns.
  std::size_t widths[4] = {30, 10, 8, 10};
  for (const auto& line : lines) {
    widths[0] = std::max(widths[0], Columns(line[0]));
    for (std::size_t column = 1; column < 4; ++column)
      widths[column] = std::max(widths[column], line[column].size() + 1);
  }
  for (const auto& line : lines) {
    out << line[0] << std::string(widths[0] - Columns(line[0]), ' ');
    for (std::size_t column = 1; column < 4; ++column)
      out << std::string(widths[column] - line[column].size(), ' ') << line[column];
    out << "\n";
  }
}

namespace {

std::int64_t Allowance(const ado::ConnectionPtr& connection, const std::string& upper) {
  return ado::QueryInteger(connection, "SELECT MaxInternetTime FROM Users WHERE UserName = ?1",
                           {upper}, -1);
}
std::int64_t UsedMinutes(const ado::ConnectionPtr& connection, const std::string& upper) {
  return ado::QueryInteger(connection, "SELECT CurrentInternetTime FROM Users WHERE UserName = ?1",
                           {upper}, 0);
}

std::string Minutes(std::int64_t minutes) {
  return minutes == -1 ? "unlimited access" : std::to_string(minutes) + " minutes";
}

std::string OverAllowance(const std::string& upper, std::int64_t used, std::int64_t allowance) {
  return Printable(upper) + " has used " + std::to_string(used) +
         " minutes, more than the allowance of " + std::to_string(allowance) +
         ": no time left until the next reset.";
}

}  // namespace

Report AddUser(const std::string& path, const std::string& name, std::int64_t allowance) {
  const std::string upper = CheckedUserName(name);
  CheckAllowance(allowance);
  Change(path, [&](const ado::ConnectionPtr& connection) {
    if (ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {upper},
                          0) != 0) {
      throw DbError("user " + upper + " exists already.");
    }
    ado::Execute(
        connection,
        "INSERT INTO Users (UserName, MaxInternetTime, CurrentInternetTime) VALUES (?1, ?2, 0)",
        {upper, allowance});
    MarkUsersChanged(connection);
  });
  return {"Added user " + upper + " with " + Minutes(allowance) + ".", {}};
}

Report RemoveUser(const std::string& path, const std::string& name) {
  const std::string upper = platform::UpperAscii(name);
  Change(path, [&](const ado::ConnectionPtr& connection) {
    RequireUser(connection, upper);
    ado::Execute(connection, "DELETE FROM Users WHERE UserName = ?1", {upper});
    MarkUsersChanged(connection);
  });
  return {"Removed user " + Printable(upper) + ".", {}};
}

Report RenameUser(const std::string& path, const std::string& name, const std::string& new_name) {
  const std::string upper = platform::UpperAscii(name);
  const std::string new_upper = CheckedUserName(new_name);
  Change(path, [&](const ado::ConnectionPtr& connection) {
    RequireUser(connection, upper);
    if (new_upper != upper &&
        ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {new_upper},
                          0) != 0) {
      throw DbError("user " + new_upper + " exists already.");
    }
    ado::Execute(connection, "UPDATE Users SET UserName = ?2 WHERE UserName = ?1",
                 {upper, new_upper});
    MarkUsersChanged(connection);
  });
  return {"Renamed user " + Printable(upper) + " to " + new_upper + ".", {}};
}

Report SetAllowance(const std::string& path, const std::string& name, std::int64_t allowance) {
  const std::string upper = platform::UpperAscii(name);
  CheckAllowance(allowance);
  Report report;
  Change(path, [&](const ado::ConnectionPtr& connection) {
    RequireUser(connection, upper);
    const std::int64_t before = Allowance(connection, upper);
    const std::int64_t used = UsedMinutes(connection, upper);
    ado::Execute(connection, "UPDATE Users SET MaxInternetTime = ?2 WHERE UserName = ?1",
                 {upper, allowance});
    MarkUsersChanged(connection);
    report.done = "Set the allowance of " + Printable(upper) + " to " + Minutes(allowance) +
                  " (was " + Minutes(before) + ").";
    if (allowance != -1 && used > allowance)
      report.warnings.push_back(OverAllowance(upper, used, allowance));
  });
  return report;
}

Report SetUsed(const std::string& path, const std::string& name, std::int64_t minutes) {
  const std::string upper = platform::UpperAscii(name);
  if (minutes > kMaxColumnNumber) {
    throw DbError("used minutes of " + std::to_string(minutes) +
                  " are too large: CurrentInternetTime holds at most " + kMaxNumber + ".");
  }
  if (minutes < 0)
    throw DbError("used minutes are 0 or more, not " + std::to_string(minutes) + ".");
  Report report;
  Change(path, [&](const ado::ConnectionPtr& connection) {
    RequireUser(connection, upper);
    const std::int64_t before = UsedMinutes(connection, upper);
    const std::int64_t allowance = Allowance(connection, upper);
    ado::Execute(connection, "UPDATE Users SET CurrentInternetTime = ?2 WHERE UserName = ?1",
                 {upper, minutes});
    MarkUsersChanged(connection);
    report.done = "Set the minutes used by " + Printable(upper) + " to " + std::to_string(minutes) +
                  " (was " + std::to_string(before) + ").";
    if (allowance != -1 && minutes > allowance)
      report.warnings.push_back(OverAllowance(upper, minutes, allowance));
  });
  return report;
}

void ListSites(const std::string& path, std::ostream& out, std::ostream& warnings) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    ado::RecordsetPtr sites = ado::CreateRecordset();
    sites->Open("tblPages", connection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
    SiteRow row{};
    sites->QueryBinding()->BindToRecordset(&row);
    bool plain = false;
    for (sites->MoveFirst(); !sites->IsEOF(); sites->MoveNext()) {
      out << Printable(row.PageName) << "\n";
      const std::string text = row.PageName;
      plain = plain || (text.find_first_not_of(" \t") != std::string::npos && !IsHostRow(text) &&
                        text.rfind(kPlaceholder, 0) != 0);
    }
    if (plain) {
      warnings << "minutrix-db: warning: a plain row matches wherever its text appears in a URL, "
                  "the query string included (http://any.example/?q=TEXT costs no time either); "
                  "to match by host only, add the site with add-site --host NAME.\n";
    }
  } catch (const ado::ComError& error) {
    throw Failure("cannot read", path, error);
  }
}

Report AddSite(const std::string& path, const std::string& given, bool by_host) {
  CheckSiteText(given);
  const std::string text = by_host || IsHostRow(given) ? HostRow(given, true) : given;
  Change(path, [&](const ado::ConnectionPtr& connection) {
    if (ado::QueryInteger(connection, "SELECT count(*) FROM tblPages WHERE PageName = ?1", {text},
                          0) != 0) {
      throw DbError("free site '" + text + "' is listed already.");
    }
    ado::Execute(connection, "INSERT INTO tblPages (PageName) VALUES (?1)", {text});
  });
  return {"Added free site '" + text + "': " + SiteRule(text) + ".", {}};
}

Report RemoveSite(const std::string& path, const std::string& given, bool by_host) {
  const std::string text = by_host ? HostRow(given, false) : given;
  Change(path, [&](const ado::ConnectionPtr& connection) {
    if (ado::Execute(connection, "DELETE FROM tblPages WHERE PageName = ?1", {text}) == 0) {
      throw DbError("free site '" + Printable(text) + "' is not listed.");
    }
  });
  return {"Removed free site '" + Printable(text) + "'.", {}};
}

void ShowSettings(const std::string& path, std::ostream& out) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    const std::int64_t rows =
        ado::QueryInteger(connection, "SELECT count(*) FROM FilterSettings", {}, 0);
    if (rows != 1)
      out << "warning: FilterSettings holds " << rows << " rows; the filter needs exactly 1.\n";
    for (const Setting& setting : kSettings) {
      const std::string column = ado::QuoteIdentifier(setting.name);
      out << setting.name << " = ";
      if (setting.kind == Kind::kText || setting.kind == Kind::kPort) {
        out << Printable(ado::QueryText(
            connection, "SELECT " + column + " FROM FilterSettings ORDER BY rowid", {}, ""));
      } else {
        const std::int64_t value = ado::QueryInteger(
            connection, "SELECT " + column + " FROM FilterSettings ORDER BY rowid", {}, 0);
        if (setting.kind == Kind::kYesNo) {
          out << (value != 0 ? "yes" : "no");
        } else {
          out << value;
        }
      }
      out << "\n";
    }
  } catch (const ado::ComError& error) {
    throw Failure("cannot read", path, error);
  }
}

Report SetSetting(const std::string& path, const std::string& key, const std::string& value) {
  const Setting* setting = nullptr;
  for (const Setting& candidate : kSettings) {
    if (platform::EqualsNoCase(candidate.name, key)) setting = &candidate;
  }
  if (setting == nullptr)
    throw DbError("there is no setting '" + Printable(key) + "'; see minutrix-db --help.");
  ado::Parameter parameter;
  std::string shown = value;
  Report report;
  switch (setting->kind) {
    case Kind::kYesNo: {
      const std::string upper = platform::UpperAscii(value);
      if (upper == "YES" || upper == "1" || upper == "TRUE") {
        parameter = std::int64_t{1};
        shown = "yes";
      } else if (upper == "NO" || upper == "0" || upper == "FALSE") {
        parameter = std::int64_t{0};
        shown = "no";
      } else {
        throw DbError(std::string(setting->name) + " is yes or no, not '" + Printable(value) +
                      "'.");
      }
      break;
    }
    case Kind::kMinutes: {
      const std::int64_t minutes = ParseInteger(value, setting->name);
      if (minutes > kMaxColumnNumber) {
        throw DbError(std::string(setting->name) + " of " + std::to_string(minutes) +
                      " is too large: the column holds at most " + kMaxNumber + ".");
      }
      if (minutes < 0) {
        throw DbError(std::string(setting->name) + " is 0 or more minutes, not " +
                      std::to_string(minutes) + ".");
      }
      parameter = minutes;
      shown = std::to_string(minutes);
      if (minutes == 0) {
        report.warnings.push_back(
            "IdleGapMinutes 0 ends every counting period at its first request: nothing will be "
            "charged.");
      }
      break;
    }
    case Kind::kPort: {
      std::int64_t port = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
      const bool digits =
          !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
      if (!digits || error != std::errc() || end != value.data() + value.size() || port < 1 ||
          port > 65535) {
        throw DbError("ServerPort is a port number from 1 to 65535 (digits only), not '" +
                      Printable(value) + "'.");
      }
      shown = std::to_string(port);
      parameter = shown;
      break;
    }
    case Kind::kText:
      // The filter copies these texts into a redirect's Location header and onto the page.
      CheckCharacters(setting->name, value, Encoding::kAnyBytes);
      CheckLength(setting->name, value, setting->max_bytes);
      parameter = value;
      break;
  }
  Change(path, [&](const ado::ConnectionPtr& connection) {
    const std::string column = ado::QuoteIdentifier(setting->name);
    const std::string select = "SELECT " + column + " FROM FilterSettings ORDER BY rowid";
    std::string before;
    if (setting->kind == Kind::kText || setting->kind == Kind::kPort) {
      before = ado::QueryText(connection, select, {}, "");
    } else {
      const std::int64_t old = ado::QueryInteger(connection, select, {}, 0);
      before = setting->kind == Kind::kYesNo ? (old != 0 ? "yes" : "no") : std::to_string(old);
    }
    report.done = std::string("Set ") + setting->name + " to '" + shown + "' (was '" +
                  Printable(before) + "').";
    if (ado::Execute(connection,
                     "UPDATE FilterSettings SET " + column +
                         " = ?1, ChangedBy = 'minutrix-db', ChangedAt = ?2",
                     {parameter, Now()}) == 0) {
      throw DbError("FilterSettings has no row to change.");
    }
  });
  return report;
}

std::int64_t ParseInteger(const std::string& text, const char* what) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range && end == text.data() + text.size()) {
    throw DbError(std::string(what) + " '" + text + "' is too " +
                  (text.front() == '-' ? "small" : "large") + ": the database's numbers run from " +
                  std::to_string(INT32_MIN) + " to " + kMaxNumber + ".");
  }
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw DbError(std::string(what) + " must be a whole number, not '" + Printable(text) + "'.");
  }
  return value;
}

}  // namespace user_times_db
