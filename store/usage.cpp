// History in runs of minutes, extra minutes, the audit and the store's own settings, over the
// database layer's parameterised commands.
#include "store/usage.h"

#include <charconv>
#include <cstdio>

#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/dialect.h"
#include "store/free_site_rule.h"

namespace store {
namespace {

bool TableExists(const ado::ConnectionPtr& connection, const char* table) {
  return HasTable(connection, table);
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12), and back.
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long of_era = year - era * 400;
  const long long of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long days = of_era * 365 + of_era / 4 - of_era / 100 + of_year;
  return era * 146097 + days - 719468;
}
void CivilFromDays(long long days, long long& year, int& month, int& day) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long of_era = days - era * 146097;
  const long long year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
  const long long of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long mp = (5 * of_year + 2) / 153;
  day = static_cast<int>(of_year - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = year_of_era + era * 400 + (month <= 2);
}

long long HostId(const ado::ConnectionPtr& connection, const std::string& host) {
  ado::Execute(connection,
               "INSERT INTO HistoryHosts (Name) VALUES (?1) ON CONFLICT (Name) DO NOTHING", {host});
  return ado::QueryInteger(connection, "SELECT ID FROM HistoryHosts WHERE Name = ?1", {host}, 0);
}

// Adds `count` minutes from minute `start` of `day` to the user's history.
void AddRun(const ado::ConnectionPtr& connection, const std::string& user, long long day, int start,
            int count, long long host, bool free) {
  std::optional<std::int64_t> extend;  // the start of the run these minutes go on
  ado::QueryRows(connection,
                 "SELECT Start, Minutes, Host, Free FROM History WHERE Day = ?1 AND UserName = ?2"
                 " AND Start <= ?3 ORDER BY Start DESC LIMIT 1",
                 {day, user, static_cast<std::int64_t>(start)},
                 [&](const std::vector<ado::Parameter>& row) {
                   const auto run_start = std::get<std::int64_t>(row[0]);
                   if (run_start + std::get<std::int64_t>(row[1]) == start &&
                       std::get<std::int64_t>(row[2]) == host &&
                       (std::get<std::int64_t>(row[3]) != 0) == free) {
                     extend = run_start;
                   }
                 });
  const bool extended = extend.has_value();
  if (extended) {
    ado::Execute(connection,
                 "UPDATE History SET Minutes = Minutes + ?4"
                 " WHERE Day = ?1 AND UserName = ?2 AND Start = ?3",
                 {day, user, *extend, static_cast<std::int64_t>(count)});
  }
  if (extended) return;
  // A run may start where one began already, when the clock was set back: the minutes add up.
  ado::Execute(connection,
               "INSERT INTO History (Day, UserName, Start, Minutes, Host, Free)"
               " VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (Day, UserName, Start)"
               " DO UPDATE SET Minutes = History.Minutes + excluded.Minutes",
               {day, user, static_cast<std::int64_t>(start), static_cast<std::int64_t>(count), host,
                static_cast<std::int64_t>(free ? 1 : 0)});
}

}  // namespace

OwnSettings ReadOwnSettings(const ado::ConnectionPtr& connection) {
  OwnSettings settings;
  if (!TableExists(connection, "MinutrixSettings")) return settings;
  ado::QueryRows(connection, "SELECT Name, Value FROM MinutrixSettings", {},
                 [&](const std::vector<ado::Parameter>& row) {
                   const std::string* name = std::get_if<std::string>(&row[0]);
                   if (name == nullptr) return;
                   std::string value = std::holds_alternative<std::int64_t>(row[1])
                                           ? std::to_string(std::get<std::int64_t>(row[1]))
                                           : std::get<std::string>(row[1]);
                   if (platform::EqualsNoCase(*name, kHistoryDays)) {
                     long days = 0;
                     const auto [end, ec] =
                         std::from_chars(value.data(), value.data() + value.size(), days);
                     if (ec == std::errc() && end == value.data() + value.size() && days >= 0) {
                       settings.history_days = days;
                     }
                   } else if (platform::EqualsNoCase(*name, kOutsideHoursMessage)) {
                     if (!value.empty()) settings.outside_hours_message = value;
                   } else if (platform::EqualsNoCase(*name, kHistoryHosts)) {
                     if (platform::EqualsNoCase(value, "no")) settings.history_hosts = false;
                     if (platform::EqualsNoCase(value, "yes")) settings.history_hosts = true;
                   }
                 });
  return settings;
}

long long LocalDayNumber(std::time_t t) {
  const std::tm tm = platform::LocalTime(t);
  return DaysFromCivil(tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday);
}

std::string DayText(long long day) {
  long long year = 0;
  int month = 0;
  int day_of_month = 0;
  CivilFromDays(day, year, month, day_of_month);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d", year, month, day_of_month);
  return text;
}

std::optional<long long> ParseDay(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int parts[3] = {};
  const std::string_view fields[3] = {text.substr(0, 4), text.substr(5, 2), text.substr(8, 2)};
  for (int i = 0; i < 3; ++i) {
    for (char c : fields[i]) {
      if (c < '0' || c > '9') return std::nullopt;
    }
    std::from_chars(fields[i].data(), fields[i].data() + fields[i].size(), parts[i]);
  }
  if (parts[1] < 1 || parts[1] > 12 || parts[2] < 1) return std::nullopt;
  const long long day = DaysFromCivil(parts[0], parts[1], parts[2]);
  if (DayText(day) != text) return std::nullopt;  // 2027-02-30 came back as March
  return day;
}

std::string HostOfUrl(std::string_view url) { return platform::LowerAscii(HostPartOfUrl(url)); }

std::string_view HostPartOfUrl(std::string_view url) {
  // The host the filter decides on: a minute is never put down to a host a URL merely mentions.
  return HostOfUrlAsRequested(url).host;
}

void RecordMinutes(const ado::ConnectionPtr& connection, const Minutes& minutes,
                   const OwnSettings& settings, HostIds* host_ids) {
  if (settings.history_days == 0 || minutes.count <= 0) return;
  long long host = 0;
  if (settings.history_hosts && !minutes.host.empty()) {
    const auto known = host_ids != nullptr ? host_ids->find(minutes.host) : HostIds::iterator();
    if (host_ids != nullptr && known != host_ids->end()) {
      host = known->second;
    } else {
      host = HostId(connection, minutes.host);
      if (host_ids != nullptr && host != 0) (*host_ids)[minutes.host] = host;
    }
  }
  // Minutes of one local day that follow each other make one run; midnight, or a clock that
  // jumps (summer time), starts another.
  long long run_day = 0;
  int run_start = 0;
  int run_count = 0;
  for (int i = 0; i < minutes.count; ++i) {
    const std::time_t t = minutes.first + 60LL * i;
    const std::tm tm = platform::LocalTime(t);
    const long long day = DaysFromCivil(tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday);
    const int minute = tm.tm_hour * 60 + tm.tm_min;
    if (run_count > 0 && day == run_day && minute == run_start + run_count) {
      ++run_count;
      continue;
    }
    if (run_count > 0) {
      AddRun(connection, minutes.user, run_day, run_start, run_count, host, minutes.free);
    }
    run_day = day;
    run_start = minute;
    run_count = 1;
  }
  AddRun(connection, minutes.user, run_day, run_start, run_count, host, minutes.free);
}

long PruneHistory(const ado::ConnectionPtr& connection, long long first_kept_day, long limit) {
  if (!TableExists(connection, "History")) return 0;
  return ado::Execute(connection,
                      "DELETE FROM History WHERE (Day, UserName, Start) IN (SELECT Day, UserName,"
                      " Start FROM History WHERE Day < ?1 ORDER BY Day LIMIT ?2)",
                      {first_kept_day, static_cast<std::int64_t>(limit)});
}

std::map<std::string, long, std::less<>> ReadExtraMinutes(const ado::ConnectionPtr& connection) {
  std::map<std::string, long, std::less<>> extras;
  if (!TableExists(connection, "ExtraMinutes")) return extras;
  ado::QueryRows(connection, "SELECT UserName, Minutes FROM ExtraMinutes", {},
                 [&](const std::vector<ado::Parameter>& row) {
                   const std::string* name = std::get_if<std::string>(&row[0]);
                   const std::int64_t* minutes = std::get_if<std::int64_t>(&row[1]);
                   if (name != nullptr && minutes != nullptr) {
                     extras[platform::UpperAscii(*name)] = static_cast<long>(*minutes);
                   }
                 });
  return extras;
}

void ClearExtraMinutes(const ado::ConnectionPtr& connection) {
  if (TableExists(connection, "ExtraMinutes")) ado::Execute(connection, "DELETE FROM ExtraMinutes");
}

void RecordAudit(const ado::ConnectionPtr& connection, const AuditEntry& entry) {
  const std::tm tm = platform::LocalTime(platform::Now());
  char at[32];
  std::strftime(at, sizeof at, "%Y-%m-%d %H:%M:%S", &tm);
  ado::Execute(connection,
               "INSERT INTO Audit (At, Who, Command, Target, OldValue, NewValue, Reason)"
               " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
               {std::string(at), entry.who, entry.command, entry.target, entry.old_value,
                entry.new_value, entry.reason});
}

}  // namespace store
