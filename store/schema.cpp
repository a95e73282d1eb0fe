// The statements that make the database's tables.
#include "store/schema.h"

#include "platform/ado_admin.h"

namespace store {

std::span<const char* const> ProductTables() {
  static constexpr const char* kStatements[] = {
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
      "CREATE TABLE ResetMarker (ID INTEGER PRIMARY KEY, LastReset TEXT NOT NULL)",
  };
  return kStatements;
}

std::span<const char* const> OwnTables() {
  static constexpr const char* kStatements[] = {
      // Settings beyond FilterSettings, whose columns are fixed: one row per name.
      "CREATE TABLE IF NOT EXISTS MinutrixSettings ("
      " Name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, Value TEXT NOT NULL)",
      // Charged minutes in runs: Minutes consecutive minutes from minute Start (0 to 1439) of
      // the local date Day (days since 1970-01-01), on one host, free or charged. One row per
      // run keeps a year of a school in a few bytes a minute; the key leads with the day, so
      // that pruning and reports over a range read only their days.
      "CREATE TABLE IF NOT EXISTS History ("
      " Day INTEGER NOT NULL, UserName TEXT NOT NULL, Start INTEGER NOT NULL,"
      " Minutes INTEGER NOT NULL, Host INTEGER NOT NULL DEFAULT 0,"
      " Free INTEGER NOT NULL DEFAULT 0,"
      " PRIMARY KEY (Day, UserName, Start)) WITHOUT ROWID",
      // The hosts that History names by number; 0 is no host (not recorded).
      "CREATE TABLE IF NOT EXISTS HistoryHosts ("
      " ID INTEGER PRIMARY KEY, Name TEXT NOT NULL UNIQUE)",
      // Minutes given (or taken, when negative) for the current period only; a reset empties it.
      "CREATE TABLE IF NOT EXISTS ExtraMinutes ("
      " UserName TEXT NOT NULL PRIMARY KEY, Minutes INTEGER NOT NULL)",
      // Classes: a user is in at most one group; group names compare without case.
      "CREATE TABLE IF NOT EXISTS ScheduleGroups (Name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE)",
      "CREATE TABLE IF NOT EXISTS GroupMembers ("
      " UserName TEXT NOT NULL PRIMARY KEY, GroupName TEXT NOT NULL COLLATE NOCASE)",
      // Owner of a schedule row: a user (upper case, as in Users), "@GROUP" (upper case) or "*"
      // (everyone). Weekday 0 is Monday, 6 Sunday.
      "CREATE TABLE IF NOT EXISTS WeekdayAllowances ("
      " Owner TEXT NOT NULL, Weekday INTEGER NOT NULL, Minutes INTEGER NOT NULL,"
      " PRIMARY KEY (Owner, Weekday))",
      // Allowed or free hours: from minute Start to minute End of the local day (1440 is 24:00);
      // End at or before Start crosses midnight into the next day.
      "CREATE TABLE IF NOT EXISTS ScheduleWindows ("
      " Owner TEXT NOT NULL, Kind TEXT NOT NULL, Weekday INTEGER NOT NULL,"
      " Start INTEGER NOT NULL, End INTEGER NOT NULL)",
      // Every change an administrator made: when (local time), who, with which command, to
      // which user or setting, the value before and after, and why.
      "CREATE TABLE IF NOT EXISTS Audit ("
      " ID INTEGER PRIMARY KEY, At TEXT NOT NULL, Who TEXT NOT NULL, Command TEXT NOT NULL,"
      " Target TEXT NOT NULL, OldValue TEXT NOT NULL, NewValue TEXT NOT NULL,"
      " Reason TEXT NOT NULL DEFAULT '')",
  };
  return kStatements;
}

std::span<const char* const> SharedPeriodTables() {
  static constexpr const char* kStatements[] = {
      // Times are seconds since 1970 (UTC); minutes are whole minutes from FirstRequest.
      "CREATE TABLE IF NOT EXISTS CountingPeriods ("
      " UserName TEXT NOT NULL PRIMARY KEY,"
      " FirstRequest BIGINT NOT NULL, LastRequest BIGINT NOT NULL,"
      " OldMinutes INTEGER NOT NULL, PassedMinutes INTEGER NOT NULL,"
      " FreeMinutes INTEGER NOT NULL DEFAULT 0, FreeSite INTEGER NOT NULL DEFAULT 0,"
      " LastHost TEXT NOT NULL DEFAULT '')",
      // Minute is the second at which a charged minute of the user's period starts.
      "CREATE TABLE IF NOT EXISTS ChargedMinutes ("
      " UserName TEXT NOT NULL, Minute BIGINT NOT NULL, PRIMARY KEY (UserName, Minute))",
  };
  return kStatements;
}

void CreateOwnTables(const ado::ConnectionPtr& connection) {
  if (IsPostgreSql(connection)) return;
  for (const char* statement : OwnTables()) ado::Execute(connection, statement);
}

void CreateResetMarkerTable(const ado::ConnectionPtr& connection) {
  if (IsPostgreSql(connection)) return;
  ado::Execute(connection, std::string("CREATE TABLE IF NOT EXISTS ") + kResetMarkerTable +
                               " (ID INTEGER PRIMARY KEY, LastReset TEXT NOT NULL)");
}

}  // namespace store
