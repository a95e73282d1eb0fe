// Time accounting: whole wall-clock minutes since the start of each user's counting period,
// written to the database whenever that number grows.
#include "filter/time_accounting.h"

#include <optional>

#include "filter/data_sets.h"
#include "filter/diagnostic_log.h"
#include "filter/lookups.h"
#include "filter/request_state.h"
#include "filter/sections.h"
#include "filter/user_db.h"
#include "platform/clock.h"
#include "platform/never_destroyed.h"

// Never destroyed: the filter object empties it from its destructor (see data_sets.cpp).
std::map<std::string, UserTimesRecord>& TimesMap =
    platform::NeverDestroyed<std::map<std::string, UserTimesRecord>>();
std::time_t lastReset = platform::Now();

namespace {

std::string ClockText(std::time_t t) {
  const std::tm tm = platform::LocalTime(t);
  char text[16];
  const size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &tm);
  return std::string(text, n);
}

// Whole minutes from `from` to `to`, rounded toward zero.
int WholeMinutes(std::time_t from, std::time_t to) { return static_cast<int>((to - from) / 60); }

// A new period starting now from the used minutes in the database.
UserTimesRecord NewPeriod(std::time_t now, int old_minutes) {
  UserTimesRecord record;
  record.ctimeFirstRequest = now;
  record.ctimeLastRequest = now;
  record.iOldMinutes = old_minutes;
  return record;
}

void Log(const char* format, long long value) { DoMessageHandling(format, value, 0); }
void Log(const char* format, const std::string& value) { DoMessageHandling(format, value, 0); }

}  // namespace

int RegisterTime(const std::string& userName, HTTP_FILTER_CONTEXT*, int* firstRequest,
                 int hasTime) {
  std::optional<SectionLock> section3;
  try {
    if (!hasTime) return 1;  // a user out of time is not charged further
    const std::time_t now = platform::Now();
    auto entry = TimesMap.find(userName);

    if (entry == TimesMap.end()) {
      UserTimesRecord record = NewPeriod(now, 0);
      if (!m_pRstUsers->IsEOF() && UserSet.CurrentInternetTime > 0) {
        record.iOldMinutes = UserSet.CurrentInternetTime;
        Log("[RegisterTime] iOldMinutes nieuwe timestruct : %d", record.iOldMinutes);
      }
      TimesMap[userName] = record;
      if (SettingsRecord.ShowStartMessage) {
        *firstRequest = 1;
        DoMessageHandling("User Added and First Call", 0);
      }
      Log("[RegisterTime] ctimeFirstRequest User : %s", userName);
      if (DoesUserHaveUnlimitedTime(userName)) {
        DoMessageHandling(
            "UnlimitedAccess: " + userName + " is being given free accesss to all internet sites",
            0);
        return SF_STATUS_REQ_NEXT_NOTIFICATION;
      }
    } else {
      UserTimesRecord copy = entry->second;
      Log("[RegisterTime] User Found : %s", userName);
      Log("[RegisterTime] First request  : %s", ClockText(copy.ctimeFirstRequest));
      Log("[RegisterTime] Last request   : %s", ClockText(copy.ctimeLastRequest));
      Log("[RegisterTime] Passed Minutes : %d", copy.dwPassedMinutes);
      Log("[RegisterTime] OldMinutes     : %d", copy.iOldMinutes);

      const int current = UserSet.CurrentInternetTime;
      if (current != copy.iOldMinutes + copy.dwPassedMinutes) {
        // Changed by the administration tools, or left so by a free-site request.
        Log("[RegisterTime] %d !=,", current);
        Log("[RegisterTime] %d", copy.iOldMinutes);
        copy = NewPeriod(now, current);
        DoMessageHandling("[RegisterTime] Time has been altered in database now using new time", 0);
        Log("[RegisterTime] (CurrentInternetTime %d != ,", current);
        Log("[RegisterTime] UserPassedMinutes %d + ,", copy.dwPassedMinutes);
        Log("[RegisterTime] UserOldMinutes %d)", copy.iOldMinutes);
        Log("[RegisterTime] %d != ,", current);
        Log("[RegisterTime] %d , ", copy.iOldMinutes);
        Log("[RegisterTime] (passedmin = %d)", copy.dwPassedMinutes);
      }

      const int gap = WholeMinutes(copy.ctimeLastRequest, now);
      if (copy.bFreeSite) {
        // Back from a free site: the time since that visit began is not charged.
        const std::time_t visit_start = copy.ctimeFirstRequest;
        copy = NewPeriod(now, UserSet.CurrentInternetTime);
        TimesMap[userName] = copy;
        DoMessageHandling("Value of Deduction = %6d", WholeMinutes(visit_start, now), 0);
      }

      // A clock set back behind the period is handled like an idle gap, so nothing is un-charged.
      if (gap >= SettingsRecord.IdleGapMinutes || now < copy.ctimeLastRequest) {
        copy = NewPeriod(now, UserSet.CurrentInternetTime);
        TimesMap[userName] = copy;
        if (SettingsRecord.ShowStartMessage) *firstRequest = 1;
        DoMessageHandling("[RegisterTime] 10 min zijn verlopen", 0);
        Log("[RegisterTime] Nieuwe starttijd is : %s", ClockText(now));
        Log("[RegisterTime] Aantal minuten was : %d", copy.iOldMinutes);
      } else if (gblFreeSite) {
        const int minutes = WholeMinutes(copy.ctimeFirstRequest, now);
        const int used = UserSet.CurrentInternetTime;
        UserSet.CurrentInternetTime = copy.iOldMinutes + minutes;
        gblPicUsersRS->Update(&UserSet);
        UserTimesRecord record = NewPeriod(now, used);
        record.dwPassedMinutes = minutes;
        record.bFreeSite = true;
        TimesMap[userName] = record;
        DoMessageHandling("[RegisterTime] Accessing a free site", 0);
        Log("[RegisterTime] New start time is : %s", ClockText(now));
        Log("[RegisterTime] Total minutes are : %d", used);
      } else {
        const int minutes = WholeMinutes(copy.ctimeFirstRequest, now);
        Log("[RegisterTime] %d - ,", minutes);
        Log("[RegisterTime] %d = ,", copy.dwPassedMinutes);
        Log("[RegisterTime] %d", minutes - copy.dwPassedMinutes);
        if (minutes == copy.dwPassedMinutes) {
          TimesMap[userName] = copy;
        } else {
          section3.emplace(3);
          SeekUserInSet(userName);
          if (m_pRstUsers->IsEOF()) {
            DoMessageHandling("[RegisterTime] Failed to find user " + userName, 3);
            DoMessageHandling("[RegisterTime] Please add user " + userName + " to database", 0);
            return 0;
          }
          const int total = minutes + copy.iOldMinutes;
          if (total > UserSet.MaxInternetTime) {
            UserSet.CurrentInternetTime = UserSet.MaxInternetTime;
            DoMessageHandling("[RegisterTime] Max time is reached", 0);
          } else {
            UserSet.CurrentInternetTime = total;
            Log("[RegisterTime] Not max time dest. %d (passedmin), ", minutes);
            Log("[RegisterTime] %d (in recordset)", UserSet.CurrentInternetTime);
          }
          gblPicUsersRS->Update(&UserSet);
          section3.reset();

          const std::time_t previous_last = copy.ctimeLastRequest;
          copy.dwPassedMinutes = minutes;
          copy.ctimeLastRequest = now;
          Log("[RegisterTime] USER %s: ,", userName);
          Log("[RegisterTime] StartTime %s iOldMINUTES WERE : ,",
              ClockText(copy.ctimeFirstRequest));
          Log("[RegisterTime] %d ,", copy.iOldMinutes);
          Log("[RegisterTime] OUTUSER %s : StartTime ,", userName);
          Log("[RegisterTime] %s iOldMINUTES WERE : ,", ClockText(copy.ctimeFirstRequest));
          Log("[RegisterTime] %d", copy.iOldMinutes);
          Log("[RegisterTime] CALCULATED MINUTES : %d (CurrentTime - "
              "InputTimesStructure.ctimeLastRequest ,",
              minutes);
          Log("[RegisterTime] %s)", ClockText(previous_last));
          TimesMap[userName] = copy;
        }
      }
    }

    if (*firstRequest != 0) {
      Log("[RegisterTime] FirstRequest %d", *firstRequest);
      DoMessageHandling("[RegisterTime] Should get start message", 0);
    }
    return 1;
  } catch (const ado::ComError& error) {
    ReportStoreError("", error);
    return 0;
  } catch (...) {
    DoMessageHandling("[RegisterTime] Error occured (all) 1.10", 3);
    DoMessageHandling("", 3);
    return 0;
  }
}

void CheckResetSchedule() {
  const std::time_t now = platform::Now();
  DoMessageHandling("Log Time " + ClockText(now), 0);
  m_pSettingsRecord->MoveFirst();
  const std::tm today = platform::LocalTime(now);
  constexpr int kMonday = 1;
  if (today.tm_mon != platform::LocalTime(lastReset).tm_mon && SettingsRecord.ResetMonthly) {
    lastReset = now;
    ResetUserTimes();
  }
  if (today.tm_wday == kMonday && platform::LocalTime(lastReset).tm_wday != kMonday &&
      SettingsRecord.ResetWeekly) {
    lastReset = now;
    ResetUserTimes();
  }
  if (today.tm_mday != platform::LocalTime(lastReset).tm_mday) {
    lastReset = now;
    if (SettingsRecord.ResetDaily) ResetUserTimes();
  }
}

void ResetUserTimes() {
  SectionLock section(3);
  m_pRstUsers->MoveFirst();
  if (m_pRstUsers->IsEOF()) DoMessageHandling("[ResetUserTimes] Failed to find any users!", 3);
  TimesMap.clear();
  while (!m_pRstUsers->IsEOF()) {
    DoMessageHandling("[ResetUserTimes] User reset!\n", 1);
    UserSet.CurrentInternetTime = 0;
    gblPicUsersRS->Update(&UserSet);
    m_pRstUsers->MoveNext();
  }
}
