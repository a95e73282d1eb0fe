// Classes and schedules: groups of users, allowances by weekday, allowed hours and free hours,
// as the store keeps them and as the tools write them. Weekday 0 is Monday, 6 Sunday; times are
// minutes of the local day.
#pragma once

#include <array>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado.h"

namespace store {

inline constexpr int kMinutesPerDay = 1440;
inline constexpr long kNoAllowance = -2;  // no weekday entry: the next in precedence decides

// A window of one weekday: Start to End; End at or before Start crosses midnight into the next
// weekday, End 1440 is midnight (24:00).
struct Window {
  int weekday = 0;
  int start = 0;
  int end = 0;
  bool operator==(const Window&) const = default;
};

// The owner of schedule rows: a user (upper case), "@GROUP" (upper case) or "*" (everyone).
std::string UserOwner(std::string_view user);
std::string GroupOwner(std::string_view group);
inline constexpr const char* kEveryone = "*";

struct Schedule {
  std::map<std::string, std::string, std::less<>> group_of;            // user owner -> group owner
  std::map<std::string, std::array<long, 7>, std::less<>> allowances;  // owner -> by weekday
  std::map<std::string, std::vector<Window>, std::less<>> allowed;     // owner -> windows
  std::map<std::string, std::vector<Window>, std::less<>> free;
  bool empty() const {
    return group_of.empty() && allowances.empty() && allowed.empty() && free.empty();
  }
};

// Everything at once; empty when the tables do not exist (a database of an older build). Raises
// ado::ComError on failure.
Schedule ReadSchedule(const ado::ConnectionPtr& connection);

// ---- evaluation ----

// The windows that apply to a user (upper case): its own, else its group's, else everyone's;
// null when none do. `windows` is `schedule.allowed` or `schedule.free`.
const std::vector<Window>* WindowsOf(
    const Schedule& schedule,
    const std::map<std::string, std::vector<Window>, std::less<>>& windows, std::string_view user);
// The allowance of `weekday` for a user (upper case): its own entry, else its group's, else
// `max_internet_time` (its MaxInternetTime; -1 unlimited).
long AllowanceOn(const Schedule& schedule, std::string_view user, int weekday,
                 long max_internet_time);

// Whether `minute` of `weekday` lies in one of `windows`.
bool InWindows(const std::vector<Window>& windows, int weekday, int minute);
// Minutes from (weekday, minute) to the next start of a window, at most a week; nullopt when
// there is no window.
std::optional<int> MinutesToNextStart(const std::vector<Window>& windows, int weekday, int minute);
// Minutes from (weekday, minute), inside the windows, to the end of the span of windows it is
// in (windows that touch or overlap go on); at most a week.
int MinutesToEnd(const std::vector<Window>& windows, int weekday, int minute);

// The local weekday (0 Monday) and minute of the day of a time.
struct LocalMinute {
  int weekday = 0;
  int minute = 0;
};
LocalMinute LocalMinuteOf(std::time_t t);

// ---- parsing, for the tools ----

// "mon-fri", "sat,sun", "mon-wed,fri", "mon": the weekdays named, in order, each once. On
// failure, `error` names the bad part.
std::optional<std::vector<int>> ParseDays(std::string_view text, std::string& error);
// "08:00-16:30", "22:00-02:00" (crosses midnight), "10:00-24:00": start and end minutes. An empty
// window ("10:00-10:00") and times that do not exist ("25:00", "8-16") are refused.
std::optional<std::pair<int, int>> ParseTimes(std::string_view text, std::string& error);
// "HH:MM" of a minute of the day (1440 is "24:00").
std::string MinuteText(int minute);
// "mon".."sun".
const char* WeekdayName(int weekday);

}  // namespace store
