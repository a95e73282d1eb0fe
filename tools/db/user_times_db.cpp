// UserTimesDB.mdb by path over the database layer: made, opened, listed, and changed through the
// store's operations, with the path as the administrator typed it in every error.
#include "tools/db/user_times_db.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <span>
#include <vector>

#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "store/dialect.h"
#include "store/free_site_rule.h"
#include "store/input_checks.h"
#include "store/postgres_schema.h"
#include "store/schedule_admin.h"
#include "store/schema.h"
#include "store/usage.h"

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

using store::Columns;
using store::IsHostRule;
using store::Printable;

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

bool IsServer(const std::string& path) { return ado::IsPostgreSqlConnectionString(path); }

DbError Failure(const std::string& what, const std::string& path, const ado::ComError& error) {
  if (IsServer(path)) return DbError(what + " " + Shown(path) + ": " + error.Description());
  return DbError(what + " " + path + ": " + AsGiven(error.Description(), path));
}

ado::ConnectionPtr Connect(const std::string& path) {
  try {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open(IsServer(path) ? path : "Data Source=" + DataSource(path) + ";", "", "", 0);
    for (const char* table : {"Users", "FilterSettings", "tblPages"}) {
      if (!store::HasTableAnyCase(connection, table)) {
        throw DbError(Shown(path) + " is not a user-times database: it has no table " + table +
                      ".");
      }
    }
    return connection;
  } catch (const ado::ComError& error) {
    throw Failure("cannot open", path, error);
  }
}

std::string Now() {
  const std::tm tm = platform::LocalNow();
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm));
}

void InsertSettingsRow(const ado::ConnectionPtr& connection, bool sample_users,
                       const store::Actor& actor) {
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
  store::RecordCreation(connection, actor, sample_users ? "with sample users" : "");
}

std::string CreateOnServer(const std::string& path, bool sample_users, const store::Actor& actor) {
  try {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open(path, "", "", 0);
    const std::vector<std::string> made = store::CreatePostgreSqlStore(connection);
    bool settings = false;
    store::BeginWrite(connection);
    try {
      if (ado::QueryInteger(connection, "SELECT count(*) FROM FilterSettings", {}, 0) == 0) {
        InsertSettingsRow(connection, sample_users, actor);
        settings = true;
      }
      ado::Execute(connection, "COMMIT");
    } catch (...) {
      store::RollBackQuietly(connection);
      throw;
    }
    if (made.empty() && !settings) return "The store in " + Shown(path) + " is complete already";
    std::string what;
    for (const std::string& line : made) what += (what.empty() ? "" : ", ") + line;
    if (settings) what += std::string(what.empty() ? "" : ", ") + "the settings row";
    return "Created in " + Shown(path) + ": " + what;
  } catch (const ado::ComError& error) {
    throw Failure("cannot create", path, error);
  }
}

fs::path NewFile(const std::string& path) {
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
  return host;
}

std::string Limit(std::int64_t allowance) {
  return allowance == -1 ? "unlimited" : std::to_string(allowance);
}

}  // namespace

std::string Shown(const std::string& path) {
  return IsServer(path) ? ado::RedactConnectionString(path) : path;
}

ado::ConnectionPtr OpenStore(const std::string& path) { return Connect(path); }

namespace {

// A new file with every table, and the settings row when `actor` is given; nothing is left of
// it when that fails.
void MakeFile(const std::string& path, bool sample_users, const store::Actor* actor) {
  std::error_code ec;
  const fs::path host = NewFile(path);
  try {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open("Data Source=" + DataSource(host.string()) + ";", "", "", 0);
    ado::Execute(connection, "BEGIN IMMEDIATE");
    for (const char* statement : store::ProductTables()) ado::Execute(connection, statement);
    store::CreateOwnTables(connection);
    if (actor != nullptr) InsertSettingsRow(connection, sample_users, *actor);
    ado::Execute(connection, "COMMIT");
    connection->Close();
  } catch (const ado::ComError& error) {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(host.string() + suffix, ec);
    throw Failure("cannot create", path, error);
  }
}

}  // namespace

std::string Create(const std::string& path, bool sample_users, const store::Actor& actor) {
  if (IsServer(path)) return CreateOnServer(path, sample_users, actor);
  MakeFile(path, sample_users, &actor);
  return "Created " + path;
}

void MakeEmptyStore(const std::string& path) { MakeFile(path, false, nullptr); }

void ListUsers(const std::string& path, std::ostream& out) {
  ado::ConnectionPtr connection = Connect(path);
  // The cells as shown; the widths follow from them once all rows are read. Newer columns come
  // last, so that scripts that read the first columns read what they always did.
  std::vector<std::array<std::string, 6>> lines = {
      {"USER", "ALLOWANCE", "USED", "LEFT", "EXTRA", "GROUP"}};
  try {
    const auto extras = store::ReadExtraMinutes(connection);
    const auto groups = store::ReadGroupsOfUsers(connection);
    ado::RecordsetPtr users = ado::CreateRecordset();
    users->Open("Users", connection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
    UserRow row{};
    users->QueryBinding()->BindToRecordset(&row);
    for (users->MoveFirst(); !users->IsEOF(); users->MoveNext()) {
      const auto found = extras.find(platform::UpperAscii(row.UserName));
      const std::int64_t extra = found != extras.end() ? found->second : 0;
      const std::int64_t left =
          row.MaxInternetTime == -1
              ? -1
              : std::max<std::int64_t>(
                    0, std::int64_t{row.MaxInternetTime} + extra - row.CurrentInternetTime);
      const auto group = groups.find(platform::UpperAscii(row.UserName));
      lines.push_back({Printable(row.UserName), Limit(row.MaxInternetTime),
                       std::to_string(row.CurrentInternetTime), Limit(left), std::to_string(extra),
                       group != groups.end() ? Printable(group->second) : "-"});
    }
  } catch (const ado::ComError& error) {
    throw Failure("cannot read", path, error);
  }
  // The usual widths, wider where a cell needs it: a space always parts two columns.
  // The group, a name, is aligned left after a space, as the user is.
  std::size_t widths[5] = {30, 10, 8, 10, 7};
  for (const auto& line : lines) {
    widths[0] = std::max(widths[0], Columns(line[0]));
    for (std::size_t column = 1; column < 5; ++column)
      widths[column] = std::max(widths[column], line[column].size() + 1);
  }
  for (const auto& line : lines) {
    out << line[0] << std::string(widths[0] - Columns(line[0]), ' ');
    for (std::size_t column = 1; column < 5; ++column)
      out << std::string(widths[column] - line[column].size(), ' ') << line[column];
    out << "  " << line[5] << "\n";
  }
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
      plain = plain || (text.find_first_not_of(" \t") != std::string::npos && !IsHostRule(text) &&
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

void ListGroups(const std::string& path, std::ostream& out) {
  Read(path, [&](const ado::ConnectionPtr& connection) {
    const auto groups = store::ReadGroups(connection);
    const auto own = store::ReadOwnSchedules(connection);
    // A name column as wide as its longest name, two spaces after it.
    const auto pad = [](const std::string& name, std::size_t width) {
      return name + std::string(width + 2 - std::min(width, Columns(name)), ' ');
    };
    if (groups.empty()) {
      out << "no groups\n";
    } else {
      std::size_t width = 5;
      for (const auto& group : groups) width = std::max(width, Columns(Printable(group.name)));
      out << pad("GROUP", width) << "MEMBERS  SCHEDULE\n";
      for (const auto& group : groups) {
        const std::string members = std::to_string(group.members);
        out << pad(Printable(group.name), width)
            << std::string(7 - std::min<std::size_t>(7, members.size()), ' ') << members << "  "
            << (group.schedule.empty() ? "-" : Printable(group.schedule)) << "\n";
      }
    }
    if (own.empty()) return;
    // Everyone's schedule ("*"), and users' own rows, which come before their group's.
    std::size_t width = 5;
    for (const auto& [owner, schedule] : own) width = std::max(width, Columns(Printable(owner)));
    out << "\n" << pad("OWNER", width) << "SCHEDULE\n";
    for (const auto& [owner, schedule] : own)
      out << pad(Printable(owner), width) << Printable(schedule) << "\n";
  });
}

void ShowSettings(const std::string& path, std::ostream& out) {
  Read(path, [&](const ado::ConnectionPtr& connection) {
    const std::int64_t rows = store::FilterSettingsRows(connection);
    if (rows != 1)
      out << "warning: FilterSettings holds " << rows << " rows; the filter needs exactly 1.\n";
    for (const auto& [name, value] : store::ReadSettings(connection))
      out << name << " = " << Printable(value) << "\n";
  });
}

store::ChangeResult Change(
    const std::string& path,
    const std::function<store::ChangeResult(const ado::ConnectionPtr&)>& change) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    return change(connection);
  } catch (const ado::ComError& error) {
    throw Failure("cannot change", path, error);
  }
}

std::filesystem::path HostFile(const std::string& path) {
  std::error_code ec;
  if (IsServer(path)) return {};
  if (!IsWindowsPath(path)) return fs::absolute(path, ec).lexically_normal();
  const auto mapped = platform::HostPath(path);
  return mapped ? mapped->lexically_normal() : fs::path();
}

void Read(const std::string& path, const std::function<void(const ado::ConnectionPtr&)>& read) {
  ado::ConnectionPtr connection = Connect(path);
  try {
    read(connection);
  } catch (const ado::ComError& error) {
    throw Failure("cannot read", path, error);
  }
}

}  // namespace user_times_db
