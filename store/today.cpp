// The Today board's figures, decided as the filter decides a request: hours first, then free
// hours, unlimited access, the minutes left, and the idle gap.
#include "store/today.h"

#include <algorithm>
#include <map>

#include "platform/ado_admin.h"
#include "platform/text.h"
#include "store/dialect.h"
#include "store/schedules.h"
#include "store/usage.h"

namespace store {
namespace {

bool TableExists(const ado::ConnectionPtr& connection, const char* table) {
  return HasTable(connection, table);
}

std::int64_t Integer(const ado::Parameter& value) {
  const auto* number = std::get_if<std::int64_t>(&value);
  return number != nullptr ? *number : 0;
}
std::string Text(const ado::Parameter& value) {
  const auto* text = std::get_if<std::string>(&value);
  return text != nullptr ? *text : std::to_string(std::get<std::int64_t>(value));
}

// What is read once for all users.
struct Context {
  Schedule schedule;
  std::map<std::string, long, std::less<>> extra;
  std::map<std::string, std::string, std::less<>> group_name;  // user -> class as named
  std::map<std::string, int, std::less<>> last;                // user -> last minute today
  bool daily = true;
  long idle_gap = 10;
  LocalMinute now{};
};

Context ReadContext(const ado::ConnectionPtr& connection, std::time_t now,
                    const std::string& only_user) {
  Context context;
  context.now = LocalMinuteOf(now);
  ado::QueryRows(connection,
                 "SELECT IdleGapMinutes, ResetWeekly, ResetMonthly FROM FilterSettings"
                 " ORDER BY ID LIMIT 1",
                 {}, [&](const std::vector<ado::Parameter>& row) {
                   context.idle_gap = static_cast<long>(Integer(row[0]));
                   context.daily = Integer(row[1]) == 0 && Integer(row[2]) == 0;
                 });
  context.schedule = ReadSchedule(connection);
  context.extra = ReadExtraMinutes(connection);
  if (TableExists(connection, "GroupMembers") && TableExists(connection, "ScheduleGroups")) {
    ado::QueryRows(connection,
                   "SELECT m.UserName, coalesce(g.Name, m.GroupName) FROM GroupMembers m"
                   " LEFT JOIN ScheduleGroups g ON g.Name = m.GroupName",
                   {}, [&](const std::vector<ado::Parameter>& row) {
                     context.group_name[platform::UpperAscii(Text(row[0]))] = Text(row[1]);
                   });
  }
  if (TableExists(connection, "History")) {
    const std::string sql =
        "SELECT UserName, max(Start + Minutes) - 1 FROM History WHERE Day = ?1" +
        std::string(only_user.empty() ? "" : " AND UserName = ?2") + " GROUP BY UserName";
    std::vector<ado::Parameter> parameters = {LocalDayNumber(now)};
    if (!only_user.empty()) parameters.push_back(only_user);
    ado::QueryRows(connection, sql, parameters, [&](const std::vector<ado::Parameter>& row) {
      context.last[Text(row[0])] = static_cast<int>(Integer(row[1]));
    });
  }
  return context;
}

UserToday Decide(const Context& context, const std::string& name, long max_internet_time,
                 long used) {
  UserToday today;
  today.user = platform::UpperAscii(name);
  today.used = used;
  today.max_internet_time = max_internet_time;
  if (auto group = context.group_name.find(today.user); group != context.group_name.end()) {
    today.group = group->second;
  }
  today.allowance = context.daily ? AllowanceOn(context.schedule, today.user, context.now.weekday,
                                                max_internet_time)
                                  : max_internet_time;
  if (auto extra = context.extra.find(today.user); extra != context.extra.end()) {
    today.extra = extra->second;
  }
  if (auto last = context.last.find(today.user); last != context.last.end()) {
    today.last = last->second;
  }
  if (today.allowance == -1) {
    today.left = -1;
  } else {
    const long long period = std::clamp<long long>(
        static_cast<long long>(today.allowance) + today.extra, 0, 0x7fffffffLL);
    today.left = static_cast<long>(std::max<long long>(0, period - used));
  }
  const auto* allowed = WindowsOf(context.schedule, context.schedule.allowed, today.user);
  const auto* free = WindowsOf(context.schedule, context.schedule.free, today.user);
  if (allowed != nullptr && !InWindows(*allowed, context.now.weekday, context.now.minute)) {
    today.state = UserState::kOutsideHours;
  } else if (free != nullptr && InWindows(*free, context.now.weekday, context.now.minute)) {
    today.state = UserState::kFreeHours;
  } else if (today.left == -1) {
    today.state = UserState::kUnlimited;
  } else if (today.left == 0) {
    today.state = UserState::kOutOfTime;
  } else if (today.last >= 0 && context.now.minute >= today.last &&
             context.now.minute - today.last < std::max(context.idle_gap, 1L)) {
    today.state = UserState::kBrowsing;
  } else {
    today.state = UserState::kIdle;
  }
  return today;
}

}  // namespace

const char* StateName(UserState state) {
  switch (state) {
    case UserState::kBrowsing:
      return "browsing";
    case UserState::kOutOfTime:
      return "out-of-time";
    case UserState::kOutsideHours:
      return "outside-hours";
    case UserState::kFreeHours:
      return "free-hours";
    case UserState::kUnlimited:
      return "unlimited";
    case UserState::kIdle:
      break;
  }
  return "idle";
}

std::vector<UserToday> ReadToday(const ado::ConnectionPtr& connection, std::time_t now) {
  const Context context = ReadContext(connection, now, {});
  std::vector<UserToday> users;
  ado::QueryRows(connection,
                 "SELECT UserName, MaxInternetTime, CurrentInternetTime FROM Users"
                 " ORDER BY UserName",
                 {}, [&](const std::vector<ado::Parameter>& row) {
                   users.push_back(Decide(context, Text(row[0]), static_cast<long>(Integer(row[1])),
                                          static_cast<long>(Integer(row[2]))));
                 });
  return users;
}

bool ReadUserToday(const ado::ConnectionPtr& connection, const std::string& user, std::time_t now,
                   UserToday& today) {
  bool found = false;
  std::string name;
  long max_internet_time = 0;
  long used = 0;
  ado::QueryRows(connection,
                 "SELECT UserName, MaxInternetTime, CurrentInternetTime FROM Users"
                 " WHERE upper(UserName) = ?1 LIMIT 1",
                 {platform::UpperAscii(user)}, [&](const std::vector<ado::Parameter>& row) {
                   found = true;
                   name = Text(row[0]);
                   max_internet_time = static_cast<long>(Integer(row[1]));
                   used = static_cast<long>(Integer(row[2]));
                 });
  if (!found) return false;
  today = Decide(ReadContext(connection, now, platform::UpperAscii(name)), name, max_internet_time,
                 used);
  return true;
}

}  // namespace store
