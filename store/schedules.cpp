// Reading, evaluating and parsing schedules.
#include "store/schedules.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/dialect.h"

namespace store {
namespace {

constexpr int kMinutesPerWeek = 7 * kMinutesPerDay;
constexpr const char* kWeekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

bool TableExists(const ado::ConnectionPtr& connection, const char* table) {
  return HasTable(connection, table);
}

std::int64_t Integer(const ado::Parameter& value) {
  const auto* number = std::get_if<std::int64_t>(&value);
  return number != nullptr ? *number : -1;
}
std::string Text(const ado::Parameter& value) {
  const auto* text = std::get_if<std::string>(&value);
  return text != nullptr ? *text : std::to_string(std::get<std::int64_t>(value));
}

std::optional<int> Weekday(std::string_view name) {
  static constexpr const char* kLong[] = {"monday", "tuesday",  "wednesday", "thursday",
                                          "friday", "saturday", "sunday"};
  for (int i = 0; i < 7; ++i) {
    if (platform::EqualsNoCase(name, kWeekdays[i]) || platform::EqualsNoCase(name, kLong[i])) {
      return i;
    }
  }
  return std::nullopt;
}

// "H:MM" or "HH:MM"; up to 24:00 when `end`.
std::optional<int> ParseClock(std::string_view text, bool end) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3) {
    return std::nullopt;
  }
  int hour = 0;
  int minute = 0;
  for (char c : text) {
    if (c != ':' && (c < '0' || c > '9')) return std::nullopt;
  }
  std::from_chars(text.data(), text.data() + colon, hour);
  std::from_chars(text.data() + colon + 1, text.data() + text.size(), minute);
  if (minute > 59) return std::nullopt;
  if (hour < 24) return hour * 60 + minute;
  if (end && hour == 24 && minute == 0) return kMinutesPerDay;
  return std::nullopt;
}

}  // namespace

std::string UserOwner(std::string_view user) { return platform::UpperAscii(user); }
std::string GroupOwner(std::string_view group) { return "@" + platform::UpperAscii(group); }

Schedule ReadSchedule(const ado::ConnectionPtr& connection) {
  Schedule schedule;
  if (!TableExists(connection, "ScheduleWindows")) return schedule;
  ado::QueryRows(connection, "SELECT UserName, GroupName FROM GroupMembers", {},
                 [&](const std::vector<ado::Parameter>& row) {
                   schedule.group_of[UserOwner(Text(row[0]))] = GroupOwner(Text(row[1]));
                 });
  ado::QueryRows(connection, "SELECT Owner, Weekday, Minutes FROM WeekdayAllowances", {},
                 [&](const std::vector<ado::Parameter>& row) {
                   const std::int64_t weekday = Integer(row[1]);
                   if (weekday < 0 || weekday > 6) return;
                   auto [entry, made] = schedule.allowances.try_emplace(Text(row[0]));
                   if (made) entry->second.fill(kNoAllowance);
                   entry->second[static_cast<size_t>(weekday)] = static_cast<long>(Integer(row[2]));
                 });
  ado::QueryRows(
      connection,
      "SELECT Owner, Kind, Weekday, Start, \"End\" FROM ScheduleWindows"
      " ORDER BY Owner, Kind, Weekday, Start",
      {}, [&](const std::vector<ado::Parameter>& row) {
        Window window;
        window.weekday = static_cast<int>(Integer(row[2]));
        window.start = static_cast<int>(Integer(row[3]));
        window.end = static_cast<int>(Integer(row[4]));
        if (window.weekday < 0 || window.weekday > 6 || window.start < 0 ||
            window.start >= kMinutesPerDay || window.end < 0 || window.end > kMinutesPerDay) {
          return;  // a row made by other hands that means nothing
        }
        const std::string kind = Text(row[1]);
        auto& windows = platform::EqualsNoCase(kind, "free") ? schedule.free : schedule.allowed;
        windows[Text(row[0])].push_back(window);
      });
  return schedule;
}

const std::vector<Window>* WindowsOf(
    const Schedule& schedule,
    const std::map<std::string, std::vector<Window>, std::less<>>& windows, std::string_view user) {
  if (windows.empty()) return nullptr;
  if (auto own = windows.find(user); own != windows.end()) return &own->second;
  if (auto group = schedule.group_of.find(user); group != schedule.group_of.end()) {
    if (auto of_group = windows.find(group->second); of_group != windows.end()) {
      return &of_group->second;
    }
  }
  if (auto everyone = windows.find(kEveryone); everyone != windows.end()) return &everyone->second;
  return nullptr;
}

long AllowanceOn(const Schedule& schedule, std::string_view user, int weekday,
                 long max_internet_time) {
  if (schedule.allowances.empty()) return max_internet_time;
  const auto entry_of = [&](std::string_view owner) -> long {
    const auto found = schedule.allowances.find(owner);
    return found == schedule.allowances.end() ? kNoAllowance
                                              : found->second[static_cast<size_t>(weekday)];
  };
  if (const long own = entry_of(user); own != kNoAllowance) return own;
  if (auto group = schedule.group_of.find(user); group != schedule.group_of.end()) {
    if (const long of_group = entry_of(group->second); of_group != kNoAllowance) return of_group;
  }
  return max_internet_time;
}

bool InWindows(const std::vector<Window>& windows, int weekday, int minute) {
  for (const Window& w : windows) {
    if (w.end > w.start) {
      if (weekday == w.weekday && minute >= w.start && minute < w.end) return true;
    } else if ((weekday == w.weekday && minute >= w.start) ||
               (weekday == (w.weekday + 1) % 7 && minute < w.end)) {
      return true;
    }
  }
  return false;
}

std::optional<int> MinutesToNextStart(const std::vector<Window>& windows, int weekday, int minute) {
  std::optional<int> best;
  const int now = weekday * kMinutesPerDay + minute;
  for (const Window& w : windows) {
    const int start = w.weekday * kMinutesPerDay + w.start;
    const int ahead = ((start - now) % kMinutesPerWeek + kMinutesPerWeek) % kMinutesPerWeek;
    if (!best || ahead < *best) best = ahead;
  }
  return best;
}

int MinutesToEnd(const std::vector<Window>& windows, int weekday, int minute) {
  int ahead = 0;
  int day = weekday;
  int at = minute;
  while (ahead < kMinutesPerWeek && InWindows(windows, day, at)) {
    ++ahead;
    if (++at == kMinutesPerDay) {
      at = 0;
      day = (day + 1) % 7;
    }
  }
  return ahead;
}

LocalMinute LocalMinuteOf(std::time_t t) {
  const std::tm tm = platform::LocalTime(t);
  return {(tm.tm_wday + 6) % 7, tm.tm_hour * 60 + tm.tm_min};
}

std::optional<std::vector<int>> ParseDays(std::string_view text, std::string& error) {
  std::vector<int> days;
  if (text.empty()) {
    error = "no weekdays given";
    return std::nullopt;
  }
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t comma = text.find(',', begin);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view part = text.substr(begin, comma - begin);
    const size_t dash = part.find('-');
    const auto first = Weekday(part.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : Weekday(part.substr(dash + 1));
    if (!first || !last) {
      error = "'" + std::string(part) + "' is not a weekday or a range of weekdays (mon to sun)";
      return std::nullopt;
    }
    for (int day = *first;; day = (day + 1) % 7) {  // fri-mon wraps over the weekend
      days.push_back(day);
      if (day == *last) break;
    }
    begin = comma + 1;
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  return days;
}

std::optional<std::pair<int, int>> ParseTimes(std::string_view text, std::string& error) {
  const size_t dash = text.find('-');
  const auto start =
      dash == std::string_view::npos ? std::nullopt : ParseClock(text.substr(0, dash), false);
  const auto end =
      dash == std::string_view::npos ? std::nullopt : ParseClock(text.substr(dash + 1), true);
  if (!start || !end) {
    error = "'" + std::string(text) + "' is not a time window HH:MM-HH:MM (00:00 to 24:00)";
    return std::nullopt;
  }
  if (*start == *end) {
    error = "'" + std::string(text) + "' is an empty window";
    return std::nullopt;
  }
  return std::make_pair(*start, *end);
}

std::string MinuteText(int minute) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d", minute / 60, minute % 60);
  return text;
}

const char* WeekdayName(int weekday) { return kWeekdays[((weekday % 7) + 7) % 7]; }

}  // namespace store
