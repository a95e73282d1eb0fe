// UserTimesDB.mdb administration over the database layer. Requests are checked before anything is
// written; each change runs in one immediate transaction, so a refusal or failure changes nothing.
#include "tools/db/user_times_db.h"

#include <charconv>
#include <climits>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <span>
#include <vector>

#include "platform/ado.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/machine.h"

namespace user_times_db {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema[] = {
    "CREATE TABLE Users ("
    " UserName TEXT NOT NULL PRIMARY KEY,"
    " MaxInternetTime INTEGER NOT NULL DEFAULT 0,"
    " CurrentInternetTime INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE FilterSettings ("
    " ID INTEGER PRIMARY KEY,"
    " ResetDaily INTEGER NOT NULL DEFAULT 1,"
    " ResetWeekly INTEGER NOT NULL DEFAULT 0,"
    " ResetMonthly INTEGER NOT NULL DEFAULT 0,"
    " ShowStartMessage INTEGER NOT NULL DEFAULT 0,"
    " DeniedMessage TEXT NOT NULL DEFAULT '',"
    " UsersChanged INTEGER NOT NULL DEFAULT 0,"
    " IdleGapMinutes INTEGER NOT NULL DEFAULT 10,"
    " CurrentUserCommand TEXT NOT NULL DEFAULT 'timeleft',"
    " ServerPort TEXT NOT NULL DEFAULT '80',"
    " ChangedBy TEXT NOT NULL DEFAULT '',"
    " ChangedAt TEXT NOT NULL DEFAULT '',"
    " WarningMode INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE tblPages (ID INTEGER PRIMARY KEY, PageName TEXT NOT NULL DEFAULT '')",
    // The filter's last reset decision (local time "YYYY-MM-DD HH:MM:SS"); its first start
    // fills it in.
    "CREATE TABLE ResetMarker (ID INTEGER PRIMARY KEY, LastReset TEXT NOT NULL)",
};
constexpr const char* kDefaultDeniedMessage = "Your internet time for this period is used up.";

struct SampleUser {
  const char* name;
  std::int64_t allowance;
};
constexpr SampleUser kSampleUsers[] = {{"JSMITH", 60}, {"PJANSEN", -1}};

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

// The Windows name of a host path, or the argument itself when it is one already.
std::string DataSource(const std::string& path) {
  const bool windows = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return windows ? path : platform::WindowsPath(path);
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
    throw DbError("cannot open " + path + ": " + error.Description());
  }
}

// Runs `change` in one transaction; anything it throws rolls it back.
void Change(const std::string& path, const std::function<void(const ado::ConnectionPtr&)>& change) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    ado::Execute(connection, "BEGIN IMMEDIATE");
  } catch (const ado::ComError& error) {
    throw DbError("cannot change " + path + ": " + error.Description());
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
      throw DbError("cannot change " + path + ": " + error.Description());
    }
  }
}

std::string CheckedUserName(const std::string& name) {
  if (name.empty()) throw DbError("a user name must not be empty.");
  if (name.size() > kMaxUserName) {
    throw DbError("user name '" + name + "' is longer than " + std::to_string(kMaxUserName) +
                  " bytes; the filter could never match it.");
  }
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == '\\') {
      throw DbError("user name '" + name +
                    "' holds a control character or a backslash; give the "
                    "login name without its domain.");
    }
  }
  return platform::UpperAscii(name);
}

void CheckAllowance(std::int64_t allowance) {
  if (allowance < -1 || allowance > INT32_MAX) {
    throw DbError("an allowance is -1 (unlimited) or 0 to " + std::to_string(INT32_MAX) +
                  " minutes.");
  }
}

void CheckSiteText(const std::string& text) {
  if (text.empty())
    throw DbError("a free-site text must not be empty: it would make every site free.");
  if (text.size() > 254) throw DbError("a free-site text holds at most 254 bytes.");
}

void MarkUsersChanged(const ado::ConnectionPtr& connection) {
  ado::Execute(connection, "UPDATE FilterSettings SET UsersChanged = 1");
}

void RequireUser(const ado::ConnectionPtr& connection, const std::string& upper) {
  if (ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {upper}, 0) ==
      0) {
    throw DbError("there is no user " + upper + ".");
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
  const fs::path host = fs::absolute(path, ec);
  if (fs::exists(host, ec)) throw DbError(path + " exists already; remove it first.");
  if (host.has_parent_path()) fs::create_directories(host.parent_path(), ec);
  try {
    ado::CreateDatabase("Data Source=" + DataSource(host.string()) + ";");
  } catch (const ado::ComError& error) {
    throw DbError("cannot create " + path + ": " + error.Description());
  }
  try {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open("Data Source=" + DataSource(host.string()) + ";", "", "", 0);
    ado::Execute(connection, "BEGIN IMMEDIATE");
    for (const char* statement : kSchema) ado::Execute(connection, statement);
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
    throw DbError("cannot create " + path + ": " + error.Description());
  }
}

void ListUsers(const std::string& path, std::ostream& out) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    ado::RecordsetPtr users = ado::CreateRecordset();
    users->Open("Users", connection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
    UserRow row{};
    users->QueryBinding()->BindToRecordset(&row);
    out << std::left << std::setw(30) << "USER" << std::right << std::setw(10) << "ALLOWANCE"
        << std::setw(8) << "USED" << std::setw(10) << "LEFT"
        << "\n";
    for (users->MoveFirst(); !users->IsEOF(); users->MoveNext()) {
      const std::int64_t left = row.MaxInternetTime == -1
                                    ? -1
                                    : std::max<std::int64_t>(0, std::int64_t{row.MaxInternetTime} -
                                                                    row.CurrentInternetTime);
      out << std::left << std::setw(30) << row.UserName << std::right << std::setw(10)
          << Limit(row.MaxInternetTime) << std::setw(8) << row.CurrentInternetTime << std::setw(10)
          << Limit(left) << "\n";
    }
  } catch (const ado::ComError& error) {
    throw DbError("cannot read " + path + ": " + error.Description());
  }
}

void AddUser(const std::string& path, const std::string& name, std::int64_t allowance) {
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
}

void RemoveUser(const std::string& path, const std::string& name) {
  const std::string upper = platform::UpperAscii(name);
  Change(path, [&](const ado::ConnectionPtr& connection) {
    RequireUser(connection, upper);
    ado::Execute(connection, "DELETE FROM Users WHERE UserName = ?1", {upper});
    MarkUsersChanged(connection);
  });
}

void RenameUser(const std::string& path, const std::string& name, const std::string& new_name) {
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
}

void SetAllowance(const std::string& path, const std::string& name, std::int64_t allowance) {
  const std::string upper = platform::UpperAscii(name);
  CheckAllowance(allowance);
  Change(path, [&](const ado::ConnectionPtr& connection) {
    RequireUser(connection, upper);
    ado::Execute(connection, "UPDATE Users SET MaxInternetTime = ?2 WHERE UserName = ?1",
                 {upper, allowance});
    MarkUsersChanged(connection);
  });
}

void SetUsed(const std::string& path, const std::string& name, std::int64_t minutes) {
  const std::string upper = platform::UpperAscii(name);
  if (minutes < 0 || minutes > INT32_MAX) throw DbError("used minutes are 0 or more.");
  Change(path, [&](const ado::ConnectionPtr& connection) {
    RequireUser(connection, upper);
    ado::Execute(connection, "UPDATE Users SET CurrentInternetTime = ?2 WHERE UserName = ?1",
                 {upper, minutes});
    MarkUsersChanged(connection);
  });
}

void ListSites(const std::string& path, std::ostream& out) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    ado::RecordsetPtr sites = ado::CreateRecordset();
    sites->Open("tblPages", connection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
    SiteRow row{};
    sites->QueryBinding()->BindToRecordset(&row);
    for (sites->MoveFirst(); !sites->IsEOF(); sites->MoveNext()) out << row.PageName << "\n";
  } catch (const ado::ComError& error) {
    throw DbError("cannot read " + path + ": " + error.Description());
  }
}

void AddSite(const std::string& path, const std::string& text) {
  CheckSiteText(text);
  Change(path, [&](const ado::ConnectionPtr& connection) {
    if (ado::QueryInteger(connection, "SELECT count(*) FROM tblPages WHERE PageName = ?1", {text},
                          0) != 0) {
      throw DbError("free site '" + text + "' is listed already.");
    }
    ado::Execute(connection, "INSERT INTO tblPages (PageName) VALUES (?1)", {text});
  });
}

void RemoveSite(const std::string& path, const std::string& text) {
  Change(path, [&](const ado::ConnectionPtr& connection) {
    if (ado::Execute(connection, "DELETE FROM tblPages WHERE PageName = ?1", {text}) == 0) {
      throw DbError("free site '" + text + "' is not listed.");
    }
  });
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
        out << ado::QueryText(connection,
                              "SELECT " + column + " FROM FilterSettings ORDER BY rowid", {}, "");
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
    throw DbError("cannot read " + path + ": " + error.Description());
  }
}

void SetSetting(const std::string& path, const std::string& key, const std::string& value) {
  const Setting* setting = nullptr;
  for (const Setting& candidate : kSettings) {
    if (platform::EqualsNoCase(candidate.name, key)) setting = &candidate;
  }
  if (setting == nullptr)
    throw DbError("there is no setting '" + key + "'; see minutrix-db --help.");
  ado::Parameter parameter;
  switch (setting->kind) {
    case Kind::kYesNo: {
      const std::string upper = platform::UpperAscii(value);
      if (upper == "YES" || upper == "1" || upper == "TRUE") {
        parameter = std::int64_t{1};
      } else if (upper == "NO" || upper == "0" || upper == "FALSE") {
        parameter = std::int64_t{0};
      } else {
        throw DbError(std::string(setting->name) + " is yes or no, not '" + value + "'.");
      }
      break;
    }
    case Kind::kMinutes: {
      const std::int64_t minutes = ParseInteger(value, setting->name);
      if (minutes < 0 || minutes > INT32_MAX)
        throw DbError(std::string(setting->name) + " is 0 or more minutes.");
      parameter = minutes;
      break;
    }
    case Kind::kPort:
      for (char c : value) {
        if (c < '0' || c > '9')
          throw DbError("ServerPort is a port number (digits only), not '" + value + "'.");
      }
      [[fallthrough]];
    case Kind::kText:
      if (value.size() > setting->max_bytes) {
        throw DbError(std::string(setting->name) + " holds at most " +
                      std::to_string(setting->max_bytes) + " bytes.");
      }
      parameter = value;
      break;
  }
  Change(path, [&](const ado::ConnectionPtr& connection) {
    const std::string column = ado::QuoteIdentifier(setting->name);
    if (ado::Execute(connection,
                     "UPDATE FilterSettings SET " + column +
                         " = ?1, ChangedBy = 'minutrix-db', ChangedAt = ?2",
                     {parameter, Now()}) == 0) {
      throw DbError("FilterSettings has no row to change.");
    }
  });
}

std::int64_t ParseInteger(const std::string& text, const char* what) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw DbError(std::string(what) + " must be a whole number, not '" + text + "'.");
  }
  return value;
}

}  // namespace user_times_db
