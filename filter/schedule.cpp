// The schedule in memory and its look-ups.
#include "filter/schedule.h"

#include "filter/diagnostic_log.h"
#include "filter/user_db.h"
#include "platform/clock.h"
#include "store/schedules.h"

namespace {

store::Schedule g_schedule;
bool g_daily_periods = true;

// The local minute of the second asked last: the decision asks for the same second again and
// again.
store::LocalMinute LocalMinuteCached(std::time_t t) {
  static std::time_t known = -1;
  static store::LocalMinute minute;
  if (t != known) {
    minute = store::LocalMinuteOf(t);
    known = t;
  }
  return minute;
}

// The windows that apply to a user: the own, else the group's, else everyone's; null for none.
const std::vector<store::Window>* WindowsOf(
    const std::map<std::string, std::vector<store::Window>, std::less<>>& windows,
    const std::string& upperName) {
  if (windows.empty()) return nullptr;
  if (auto own = windows.find(upperName); own != windows.end()) return &own->second;
  if (auto group = g_schedule.group_of.find(upperName); group != g_schedule.group_of.end()) {
    if (auto of_group = windows.find(group->second); of_group != windows.end()) {
      return &of_group->second;
    }
  }
  if (auto everyone = windows.find(store::kEveryone); everyone != windows.end()) {
    return &everyone->second;
  }
  return nullptr;
}

// The end, as a minute of the day, of the span of windows around (weekday, minute); 1440 when
// it ends at midnight.
int EndOfSpan(const std::vector<store::Window>& windows, store::LocalMinute at) {
  const int ahead = store::MinutesToEnd(windows, at.weekday, at.minute);
  const int end = (at.minute + ahead) % store::kMinutesPerDay;
  return end == 0 ? store::kMinutesPerDay : end;
}

}  // namespace

void ReadScheduleTables() noexcept {
  g_schedule = store::Schedule();
  try {
    g_schedule = store::ReadSchedule(m_pConnection);
  } catch (const ado::ComError& error) {
    ReportStoreError("[ReadScheduleTables] The schedules were not read", error);
  } catch (...) {
    DoMessageHandling("[ReadScheduleTables] The schedules were not read", 3);
  }
}

void SetDailyPeriods(bool daily) noexcept { g_daily_periods = daily; }

LONG AllowanceOfToday(const char* upperName, LONG maxInternetTime) {
  if (g_schedule.allowances.empty() || !g_daily_periods) return maxInternetTime;
  const int weekday = LocalMinuteCached(platform::Now()).weekday;
  const auto entry_of = [&](std::string_view owner) -> long {
    const auto found = g_schedule.allowances.find(owner);
    return found == g_schedule.allowances.end() ? store::kNoAllowance
                                                : found->second[static_cast<size_t>(weekday)];
  };
  const std::string_view name(upperName);
  if (const long own = entry_of(name); own != store::kNoAllowance) return own;
  if (auto group = g_schedule.group_of.find(name); group != g_schedule.group_of.end()) {
    if (const long of_group = entry_of(group->second); of_group != store::kNoAllowance) {
      return of_group;
    }
  }
  return maxInternetTime;
}

HoursNow HoursOf(const std::string& upperName, std::time_t now, bool ends) {
  HoursNow hours;
  if (g_schedule.allowed.empty() && g_schedule.free.empty()) return hours;
  const store::LocalMinute at = LocalMinuteCached(now);
  if (const auto* allowed = WindowsOf(g_schedule.allowed, upperName)) {
    hours.allowed = store::InWindows(*allowed, at.weekday, at.minute);
    if (hours.allowed) {
      if (ends) hours.allowed_until = EndOfSpan(*allowed, at);
    } else {
      hours.opens_in = store::MinutesToNextStart(*allowed, at.weekday, at.minute).value_or(-1);
    }
  }
  if (const auto* free = WindowsOf(g_schedule.free, upperName)) {
    hours.free = store::InWindows(*free, at.weekday, at.minute);
    if (hours.free && ends) hours.free_until = EndOfSpan(*free, at);
  }
  return hours;
}

bool HasFreeHours(const std::string& upperName) {
  return WindowsOf(g_schedule.free, upperName) != nullptr;
}

bool FreeMinuteAt(const std::string& upperName, std::time_t t) {
  const auto* free = WindowsOf(g_schedule.free, upperName);
  if (free == nullptr) return false;
  const store::LocalMinute at = store::LocalMinuteOf(t);
  return store::InWindows(*free, at.weekday, at.minute);
}
