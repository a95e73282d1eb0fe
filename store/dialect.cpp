// SQLite's and PostgreSQL's forms of the statements that differ.
#include "store/dialect.h"

#include "platform/ado_admin.h"
#include "platform/text.h"

namespace store {

bool IsPostgreSql(const ado::ConnectionPtr& connection) {
  return connection && connection.get()->IsPostgreSql();
}

bool HasTable(const ado::ConnectionPtr& connection, const char* name) {
  if (IsPostgreSql(connection)) {
    return ado::QueryInteger(connection,
                             "SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() "
                             "AND tablename = ?1",
                             {platform::LowerAscii(name)}, 0) > 0;
  }
  return ado::QueryInteger(connection,
                           "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1",
                           {std::string(name)}, 0) > 0;
}

bool HasTableAnyCase(const ado::ConnectionPtr& connection, const char* name) {
  if (IsPostgreSql(connection)) return HasTable(connection, name);
  return ado::QueryInteger(
             connection,
             "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE",
             {std::string(name)}, 0) > 0;
}

void BeginWrite(const ado::ConnectionPtr& connection) {
  if (!IsPostgreSql(connection)) {
    ado::Execute(connection, "BEGIN IMMEDIATE");
    return;
  }
  ado::Execute(connection, "BEGIN");
  try {
    // The same lock as the database layer's transactions take.
    ado::Execute(connection, "SELECT pg_advisory_xact_lock(?1)",
                 {std::int64_t{ado::kPostgreSqlWriteLock}});
  } catch (const ado::ComError&) {
    RollBackQuietly(connection);
    throw;
  }
}

void RollBackQuietly(const ado::ConnectionPtr& connection) {
  try {
    ado::Execute(connection, "ROLLBACK");
  } catch (const ado::ComError&) {
  }
}

const char* AddExtraMinutesSql(const ado::ConnectionPtr& connection) {
  if (IsPostgreSql(connection)) {
    return "INSERT INTO ExtraMinutes (UserName, Minutes) VALUES (?1, least(greatest(?2, ?3), ?4))"
           " ON CONFLICT (UserName) DO UPDATE SET Minutes = least(greatest(least(greatest("
           "ExtraMinutes.Minutes, ?3), ?4) + ?2, ?3), ?4)";
  }
  return "INSERT INTO ExtraMinutes (UserName, Minutes) VALUES (?1, min(max(?2, ?3), ?4))"
         " ON CONFLICT (UserName) DO UPDATE"
         " SET Minutes = min(max(min(max(Minutes, ?3), ?4) + ?2, ?3), ?4)";
}

}  // namespace store
