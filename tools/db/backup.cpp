// Backup and restore through the database layer's whole-file copies.
#include "tools/db/backup.h"

#include <cctype>
#include <filesystem>

#include "platform/ado.h"
#include "platform/ado_admin.h"
#include "platform/ado_backup.h"
#include "platform/machine.h"
#include "store/schema.h"

namespace user_times_db {
namespace {

namespace fs = std::filesystem;

bool IsWindowsPath(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

// The Windows name the database layer takes: a host path is made absolute first.
std::string DataSource(const std::string& path) {
  if (IsWindowsPath(path)) return path;
  std::error_code ec;
  return platform::WindowsPath(fs::absolute(path, ec).lexically_normal().string());
}

// The layer's description with the Windows name of `path` put back as the administrator gave it.
std::string AsGiven(std::string text, const std::string& path) {
  const std::string named = DataSource(path);
  for (size_t at = text.find(named); !named.empty() && named != path && at != std::string::npos;
       at = text.find(named, at + path.size())) {
    text.replace(at, named.size(), path);
  }
  return text;
}

// An open user-times database: the filter's three tables, and pages SQLite can read.
ado::ConnectionPtr OpenChecked(const std::string& path) {
  ado::ConnectionPtr connection = ado::CreateConnection();
  try {
    connection->Open("Data Source=" + DataSource(path) + ";", "", "", 0);
    for (const char* table : {"Users", "FilterSettings", "tblPages"}) {
      if (!store::HasTable(connection, table)) {
        throw DbError(path + " is not a user-times database: it has no table " + table + ".");
      }
    }
    const std::string check = ado::QueryText(connection, "PRAGMA quick_check", {}, "");
    if (check != "ok") throw DbError(path + " is damaged: " + check);
  } catch (const ado::ComError& error) {
    throw DbError("cannot open " + path + ": " + AsGiven(error.Description(), path));
  }
  return connection;
}

// "1 user", "2 users": the rows of `table`, named.
std::string Count(const ado::ConnectionPtr& connection, const char* table, const std::string& row) {
  const long long rows =
      ado::QueryInteger(connection, std::string("SELECT count(*) FROM ") + table, {}, 0);
  return std::to_string(rows) + " " + row + (rows == 1 ? "" : "s");
}

// Backups are of files: a server's database has its own tools, and copy moves a store between both.
void RefuseServer(const std::string& a, const std::string& b) {
  if (ado::IsPostgreSqlConnectionString(a) || ado::IsPostgreSqlConnectionString(b)) {
    throw DbError(
        "backup and restore work on database files; back up a PostgreSQL store with its "
        "server's tools (pg_dump), or copy it to a file with: minutrix-db copy SOURCE FILE");
  }
}

}  // namespace

store::ChangeResult Backup(const std::string& database, const std::string& file) {
  RefuseServer(database, file);
  ado::ConnectionPtr connection = OpenChecked(database);
  try {
    ado::BackupDatabase(connection, DataSource(file));
  } catch (const ado::ComError& error) {
    throw DbError("cannot back up " + database + ": " + AsGiven(error.Description(), file));
  }
  ado::ConnectionPtr copy = OpenChecked(file);
  return {"Backed up " + database + " to " + file + " (" + Count(copy, "Users", "user") + ", " +
              Count(copy, "tblPages", "free-site row") + ").",
          {}};
}

store::ChangeResult Restore(const std::string& file, const std::string& database) {
  RefuseServer(file, database);
  ado::ConnectionPtr connection = OpenChecked(file);
  try {
    ado::ReplaceDatabase(connection, DataSource(database));
  } catch (const ado::ComError& error) {
    throw DbError("cannot restore " + database + ": " + AsGiven(error.Description(), database));
  }
  return {"Restored " + database + " from " + file + " (" + Count(connection, "Users", "user") +
              "); a running filter reads it at its next request.",
          {}};
}

}  // namespace user_times_db
