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
  return static_cast<LONG>(store::AllowanceOn(g_schedule, upperName, weekday, maxInternetTime));
}

HoursNow HoursOf(const std::string& upperName, std::time_t now, bool ends) {
  HoursNow hours;
  if (g_schedule.allowed.empty() && g_schedule.free.empty()) return hours;
  const store::LocalMinute at = LocalMinuteCached(now);
  if (const auto* allowed = store::WindowsOf(g_schedule, g_schedule.allowed, upperName)) {
    hours.allowed = store::InWindows(*allowed, at.weekday, at.minute);
    if (hours.allowed) {
      if (ends) hours.allowed_until = EndOfSpan(*allowed, at);
    } else {
      hours.opens_in = store::MinutesToNextStart(*allowed, at.weekday, at.minute).value_or(-1);
    }
  }
  if (const auto* free = store::WindowsOf(g_schedule, g_schedule.free, upperName)) {
    hours.free = store::InWindows(*free, at.weekday, at.minute);
    if (hours.free && ends) hours.free_until = EndOfSpan(*free, at);
  }
  return hours;
}

bool HasFreeHours(const std::string& upperName) {
  return store::WindowsOf(g_schedule, g_schedule.free, upperName) != nullptr;
}

bool FreeMinuteAt(const std::string& upperName, std::time_t t) {
  const auto* free = store::WindowsOf(g_schedule, g_schedule.free, upperName);
  if (free == nullptr) return false;
  const store::LocalMinute at = store::LocalMinuteOf(t);
  return store::InWindows(*free, at.weekday, at.minute);
}
