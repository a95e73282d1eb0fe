// Time accounting: whole wall-clock minutes since the start of each user's counting period,
// written to the database whenever that number grows.
#include "filter/time_accounting.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "filter/data_sets.h"
#include "filter/diagnostic_log.h"
#include "filter/lookups.h"
#include "filter/request_state.h"
#include "filter/reset_marker.h"
#include "filter/schedule.h"
#include "filter/sections.h"
#include "filter/shared_store.h"
#include "filter/usage.h"
#include "filter/user_db.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/never_destroyed.h"
#include "platform/text.h"
#include "store/usage.h"

// Never destroyed: the filter object empties it from its destructor (see data_sets.cpp).
std::map<std::string, UserTimesRecord>& TimesMap =
    platform::NeverDestroyed<std::map<std::string, UserTimesRecord>>();

namespace {

std::string ClockText(std::time_t t) {
  const std::tm tm = platform::LocalTime(t);
  char text[16];
  const size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &tm);
  return std::string(text, n);
}

// Whole minutes from `from` to `to`, rounded toward zero.
int WholeMinutes(std::time_t from, std::time_t to) { return static_cast<int>((to - from) / 60); }

// The host of the request being decided, where its user's next minutes are spent.
std::string RequestHost() { return store::HostOfUrl(gblRequestUrl); }

// Notes the request's host in `period`, without a copy while the user stays on one host.
void NoteRequestHost(UserTimesRecord& period) {
  const std::string_view host = store::HostPartOfUrl(gblRequestUrl);
  if (!platform::EqualsNoCase(host, period.strLastHost)) {
    period.strLastHost = platform::LowerAscii(host);
  }
}

// A new period starting now from the used minutes in the database.
UserTimesRecord NewPeriod(std::time_t now, int old_minutes) {
  UserTimesRecord record;
  record.ctimeFirstRequest = now;
  record.ctimeLastRequest = now;
  record.iOldMinutes = old_minutes;
  record.strLastHost = RequestHost();
  return record;
}

// The start of period minute `index` (0 the first).
std::time_t MinuteStart(const UserTimesRecord& period, int index) {
  return period.ctimeFirstRequest + 60 * static_cast<std::time_t>(index);
}

// Of the period's minutes `from` to `to` (0-based, `to` excluded), those in free hours.
int FreeMinutesOf(const std::string& upperName, const UserTimesRecord& period, int from, int to) {
  if (from >= to || !HasFreeHours(upperName)) return 0;
  int free = 0;
  for (int i = from; i < to; ++i) free += FreeMinuteAt(upperName, MinuteStart(period, i)) ? 1 : 0;
  return free;
}

// Writes UserSet's new minutes and the history of the period's minutes `from` to `to` in one
// transaction: a charge and its history are there together or not at all. `before` is what the
// row held; the charged minutes recorded are what it grew by (a cap may have cut them), the
// minutes in free hours are recorded as free.
void WriteCharge(const std::string& userName, const UserTimesRecord& period, int from, int to,
                 LONG before) {
  const std::string upper = platform::UpperAscii(userName);
  // A shared store's charge runs inside the transaction that holds the user's row lock.
  const bool own_transaction = !SharedStore();
  if (own_transaction) {
    m_pConnection->BeginTrans();
  } else {
    NoteChargeWritten();
  }
  try {
    if (UserSet.CurrentInternetTime != before) {
      if (own_transaction) {
        gblPicUsersRS->Update(&UserSet);
      } else {
        ChargeUsersRow(userName);
      }
    }
    int charged_left = static_cast<int>(UserSet.CurrentInternetTime - before);
    const bool has_free = HasFreeHours(upper);
    int i = from;
    while (i < to) {
      const bool free = has_free && FreeMinuteAt(upper, MinuteStart(period, i));
      int end = i + 1;
      if (has_free) {
        while (end < to && FreeMinuteAt(upper, MinuteStart(period, end)) == free) ++end;
      } else {
        end = to;
      }
      int count = end - i;
      if (!free) {
        count = std::min(count, std::max(charged_left, 0));
        charged_left -= count;
      }
      if (!free && !own_transaction) ClaimChargedMinutes(upper, MinuteStart(period, i), count);
      RecordChargedMinutes(upper, MinuteStart(period, i), count, period.strLastHost, free);
      i = end;
    }
    if (own_transaction) m_pConnection->CommitTrans();
  } catch (...) {
    if (own_transaction) {
      try {
        m_pConnection->RollbackTrans();
      } catch (...) {
        // Already rolled back by the failed commit.
      }
    }
    throw;
  }
}

// How far the clocks of the proxies that share a store may differ (they follow one time server).
constexpr std::time_t kProxyClockSkew = 5;

// How far behind the last reset the clock may step and still be waited for; a time sync steps
// seconds or minutes, a clock corrected after a wrong jump steps further.
constexpr std::time_t kClockStepBackKept = 24 * 3600;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12).
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long of_era = year - era * 400;
  const long long of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long days = of_era * 365 + of_era / 4 - of_era / 100 + of_year;
  return era * 146097 + days - 719468;
}
long long LocalDay(const std::tm& tm) {
  return DaysFromCivil(tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday);
}
// The local date of the Monday that starts the week of `tm`.
long long WeekStart(const std::tm& tm) { return LocalDay(tm) - (tm.tm_wday + 6) % 7; }
long long LocalMonth(const std::tm& tm) { return (tm.tm_year + 1900LL) * 12 + tm.tm_mon; }

// The local time of one second, converted again only for another second: the reset check asks
// for the same two seconds (now and the last reset) request after request. Under section 1.
class LocalTimeOf {
 public:
  const std::tm& operator()(std::time_t t) {
    if (!known_ || t != t_) {
      tm_ = platform::LocalTime(t);
      t_ = t;
      known_ = true;
    }
    return tm_;
  }

 private:
  bool known_ = false;
  std::time_t t_ = 0;
  std::tm tm_{};
};
LocalTimeOf g_today, g_last_reset;

// Another filter of a shared store moved the marker first: its reset is this filter's too.
void FollowSharedReset() {
  ReadResetMarker();
  ReadUsageTables();  // without the extra minutes that the reset emptied
  TimesMap.clear();
  DoMessageHandling(
      "[CheckResetSchedule] Another filter made the reset of " + MarkerText(lastReset), 0);
}

// A shared store's reset: made by the one filter whose conditional update moves the marker from
// the value all of them read; zeroes the users and ends every period in the same transaction.
// Returns false when another filter was first (lastReset then follows the store).
bool SharedResetAndMark(bool reset, std::time_t marker, bool by_statement) {
  SectionLock section(3);
  long users = 0;
  m_pConnection->BeginTrans();
  try {
    // The marker as stored (an administrator may have written it in another form): moved by
    // another filter when it is no longer the time this filter read. Filters that started at
    // the same moment on an empty table may each have added the row: all of them move.
    const std::string from = ado::QueryText(
        m_pConnection, std::string("SELECT LastReset FROM ") + kResetMarkerTable, {}, "");
    const std::optional<std::time_t> stored = ParseMarker(from);
    if (!stored || *stored != lastReset ||
        ado::Execute(
            m_pConnection,
            std::string("UPDATE ") + kResetMarkerTable + " SET LastReset = ?1 WHERE LastReset = ?2",
            {MarkerText(marker), from}) == 0) {
      m_pConnection->RollbackTrans();
      FollowSharedReset();
      return false;
    }
    if (reset && by_statement) {
      // The loaded rows lag behind the store (a server tells its changes only between
      // transactions): one statement, whose change notice brings them up to date.
      users = m_pRstUsers->RecordCount();
      if (users == 0) DoMessageHandling("[ResetUserTimes] Failed to find any users!", 3);
      ado::Execute(m_pConnection,
                   "UPDATE Users SET CurrentInternetTime = 0 WHERE CurrentInternetTime <> 0");
      store::ClearExtraMinutes(m_pConnection);
      ClearSharedPeriods();
    } else if (reset) {
      m_pRstUsers->MoveFirst();
      if (m_pRstUsers->IsEOF()) DoMessageHandling("[ResetUserTimes] Failed to find any users!", 3);
      while (!m_pRstUsers->IsEOF()) {
        if (UserSet.CurrentInternetTime != 0) {
          UserSet.CurrentInternetTime = 0;
          gblPicUsersRS->Update(&UserSet);
        }
        m_pRstUsers->MoveNext();
        ++users;
      }
      store::ClearExtraMinutes(m_pConnection);
      ClearSharedPeriods();
    }
    m_pConnection->CommitTrans();
  } catch (...) {
    try {
      m_pConnection->RollbackTrans();
    } catch (...) {
      // Already rolled back by the failed commit.
    }
    throw;
  }
  lastReset = marker;
  if (!reset) return true;
  ForgetExtraMinutes();
  TimesMap.clear();
  DoMessageHandlingRepeated("[ResetUserTimes] User reset!\n", 1, users);
  return true;
}

// Zeroes every user's minutes (when `reset`) and moves the marker to `marker` (when given) in one
// transaction; lastReset and TimesMap change only once it is committed.
void ResetAndMark(bool reset, std::optional<std::time_t> marker) {
  if (SharedStore() && marker) {
    // A conflict with a charge of another filter (its row read before it committed): once more,
    // by one statement.
    try {
      SharedResetAndMark(reset, *marker, false);
    } catch (const ado::ComError& error) {
      if (error.Error() != ado::kErrorRowChanged) throw;
      SharedResetAndMark(reset, *marker, true);
    }
    return;
  }
  SectionLock section(3);
  if (reset) {
    m_pRstUsers->MoveFirst();
    if (m_pRstUsers->IsEOF()) DoMessageHandling("[ResetUserTimes] Failed to find any users!", 3);
  }
  long users = 0;
  m_pConnection->BeginTrans();
  try {
    while (reset && !m_pRstUsers->IsEOF()) {
      UserSet.CurrentInternetTime = 0;
      gblPicUsersRS->Update(&UserSet);
      m_pRstUsers->MoveNext();
      ++users;
    }
    if (reset) store::ClearExtraMinutes(m_pConnection);  // extra minutes were for this period
    if (marker) WriteMarker(*marker);
    m_pConnection->CommitTrans();
  } catch (...) {
    try {
      m_pConnection->RollbackTrans();
    } catch (...) {
      // Already rolled back by the failed commit.
    }
    throw;
  }
  if (marker) lastReset = *marker;
  if (!reset) return;
  ForgetExtraMinutes();
  TimesMap.clear();
  DoMessageHandlingRepeated("[ResetUserTimes] User reset!\n", 1, users);
}

void Log(const char* format, long long value) { DoMessageHandling(format, value, 0); }
void Log(const char* format, const std::string& value) { DoMessageHandling(format, value, 0); }
// A clock time's line; the time is formatted only for a line that is kept.
void LogClock(const char* format, std::time_t t) {
  if (!DetailLineDropped()) DoMessageHandling(format, ClockText(t), 0);
}

}  // namespace

namespace {

// The charge of one request on the user's period in TimesMap. Raises ado::ComError.
int ChargePeriod(const std::string& userName, int* firstRequest, int hasTime) {
  std::optional<SectionLock> section3;
  {
    if (!hasTime) return 1;  // a user out of time is not charged further
    std::time_t now = platform::Now();
    auto entry = TimesMap.find(userName);
    // Another proxy's clock a little ahead of this one's charged the period last: its time holds.
    if (SharedStore() && entry != TimesMap.end() && now < entry->second.ctimeLastRequest &&
        entry->second.ctimeLastRequest - now <= kProxyClockSkew) {
      now = entry->second.ctimeLastRequest;
    }

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
      LogClock("[RegisterTime] First request  : %s", copy.ctimeFirstRequest);
      LogClock("[RegisterTime] Last request   : %s", copy.ctimeLastRequest);
      Log("[RegisterTime] Passed Minutes : %d", copy.dwPassedMinutes);
      Log("[RegisterTime] OldMinutes     : %d", copy.iOldMinutes);

      const int current = UserSet.CurrentInternetTime;
      if (current != copy.iOldMinutes + copy.dwPassedMinutes - copy.iFreeMinutes) {
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
        LogClock("[RegisterTime] Nieuwe starttijd is : %s", now);
        Log("[RegisterTime] Aantal minuten was : %d", copy.iOldMinutes);
      } else if (gblFreeSite) {
        const int minutes = WholeMinutes(copy.ctimeFirstRequest, now);
        const int used = UserSet.CurrentInternetTime;
        const int free = copy.iFreeMinutes + FreeMinutesOf(platform::UpperAscii(userName), copy,
                                                           copy.dwPassedMinutes, minutes);
        // Capped as a charged request is: a free site never carries a user past the allowance.
        int charged = copy.iOldMinutes + minutes - free;
        const LONG allowance = AllowanceOfPeriod(UserSet.UserName, UserSet.MaxInternetTime);
        if (allowance >= 0 && charged > allowance) charged = allowance;
        UserSet.CurrentInternetTime = charged;
        if (charged != used || free > copy.iFreeMinutes) {
          WriteCharge(userName, copy, copy.dwPassedMinutes, minutes, used);
        }
        UserTimesRecord record = NewPeriod(now, used);
        record.dwPassedMinutes = minutes;
        record.bFreeSite = true;
        TimesMap[userName] = record;
        DoMessageHandling("[RegisterTime] Accessing a free site", 0);
        LogClock("[RegisterTime] New start time is : %s", now);
        Log("[RegisterTime] Total minutes are : %d", used);
      } else {
        const int minutes = WholeMinutes(copy.ctimeFirstRequest, now);
        Log("[RegisterTime] %d - ,", minutes);
        Log("[RegisterTime] %d = ,", copy.dwPassedMinutes);
        Log("[RegisterTime] %d", minutes - copy.dwPassedMinutes);
        if (minutes == copy.dwPassedMinutes) {
          NoteRequestHost(copy);
          entry->second = std::move(copy);
        } else {
          section3.emplace(3);
          // A shared store's charge has the user's row locked and read already.
          if (!SharedStore()) SeekUserInSet(userName);
          if (m_pRstUsers->IsEOF()) {
            DoMessageHandling("[RegisterTime] Failed to find user " + userName, 3);
            DoMessageHandling("[RegisterTime] Please add user " + userName + " to database", 0);
            return 0;
          }
          const int new_free =
              FreeMinutesOf(platform::UpperAscii(userName), copy, copy.dwPassedMinutes, minutes);
          const int total = minutes - copy.iFreeMinutes - new_free + copy.iOldMinutes;
          const LONG before = UserSet.CurrentInternetTime;
          const LONG allowance = AllowanceOfPeriod(UserSet.UserName, UserSet.MaxInternetTime);
          if (total > allowance) {
            UserSet.CurrentInternetTime = allowance;
            DoMessageHandling("[RegisterTime] Max time is reached", 0);
          } else {
            UserSet.CurrentInternetTime = total;
            Log("[RegisterTime] Not max time dest. %d (passedmin), ", minutes);
            Log("[RegisterTime] %d (in recordset)", UserSet.CurrentInternetTime);
          }
          if (UserSet.CurrentInternetTime != before || new_free > 0) {
            WriteCharge(userName, copy, copy.dwPassedMinutes, minutes, before);
          }
          section3.reset();

          const std::time_t previous_last = copy.ctimeLastRequest;
          copy.dwPassedMinutes = minutes;
          copy.iFreeMinutes += new_free;
          copy.ctimeLastRequest = now;
          copy.strLastHost = RequestHost();
          Log("[RegisterTime] USER %s: ,", userName);
          LogClock("[RegisterTime] StartTime %s iOldMINUTES WERE : ,", copy.ctimeFirstRequest);
          Log("[RegisterTime] %d ,", copy.iOldMinutes);
          Log("[RegisterTime] OUTUSER %s : StartTime ,", userName);
          LogClock("[RegisterTime] %s iOldMINUTES WERE : ,", copy.ctimeFirstRequest);
          Log("[RegisterTime] %d", copy.iOldMinutes);
          Log("[RegisterTime] CALCULATED MINUTES : %d (CurrentTime - "
              "InputTimesStructure.ctimeLastRequest ,",
              minutes);
          LogClock("[RegisterTime] %s)", previous_last);
          TimesMap[userName] = copy;
        }
      }
    }

    if (*firstRequest != 0) {
      Log("[RegisterTime] FirstRequest %d", *firstRequest);
      DoMessageHandling("[RegisterTime] Should get start message", 0);
    }
    return 1;
  }
}

// The charge on a shared store: the user's row locked, the period read from the store, charged
// and written back in one transaction, so that any filter continues any user's period and a
// minute is charged once whichever filter saw it first.
// Whether this request of a user changes nothing of the period as this filter last read it from
// the store: the same minute of the period, the same host, no free site, no idle gap, and the
// user's minutes (the loaded row, which follows every commit to the store) as the period left
// them. Most requests are such; they cost no transaction. Users is on the user's row.
bool NothingDue(const std::string& userName) {
  const auto entry = TimesMap.find(userName);
  if (entry == TimesMap.end() || gblFreeSite || m_pRstUsers->IsEOF()) return false;
  const UserTimesRecord& period = entry->second;
  const std::time_t now = platform::Now();
  return !period.bFreeSite && now >= period.ctimeLastRequest &&
         WholeMinutes(period.ctimeLastRequest, now) < SettingsRecord.IdleGapMinutes &&
         WholeMinutes(period.ctimeFirstRequest, now) == period.dwPassedMinutes &&
         UserSet.CurrentInternetTime ==
             period.iOldMinutes + period.dwPassedMinutes - period.iFreeMinutes &&
         platform::EqualsNoCase(store::HostPartOfUrl(gblRequestUrl), period.strLastHost);
}

int ChargeSharedPeriod(const std::string& userName, int* firstRequest, int hasTime) {
  if (!hasTime) return 1;
  SectionLock section(3);
  if (NothingDue(userName)) return 1;
  const int asked = *firstRequest;
  for (int attempt = 1;; ++attempt) {
    *firstRequest = asked;
    m_pConnection->BeginTrans();
    BeginSharedCharge();
    try {
      bool found = false;
      const std::optional<UserTimesRecord> loaded = LoadSharedPeriod(userName, found);
      if (!found) {
        m_pConnection->RollbackTrans();
        DoMessageHandling("[RegisterTime] Failed to find user " + userName, 3);
        DoMessageHandling("[RegisterTime] Please add user " + userName + " to database", 0);
        return 0;
      }
      const int result = ChargePeriod(userName, firstRequest, hasTime);
      if (result == 0) {
        m_pConnection->RollbackTrans();
        return 0;
      }
      SaveSharedPeriod(userName, loaded);
      BeforeSharedCommit();
      m_pConnection->CommitTrans();
      return result;
    } catch (const ado::ComError& error) {
      try {
        m_pConnection->RollbackTrans();
      } catch (...) {
        // Already rolled back by the failed commit.
      }
      if (error.Error() == ado::kErrorRowChanged) {
        // The loaded rows lagged behind another filter's charge: read again, charge once more.
        if (attempt == 1) {
          m_pRstUsers->Requery(ado::adOptionUnspecified);
          gblPicUsersRS->BindToRecordset(&UserSet);
          continue;
        }
        // Still a minute that is charged already: the store stays as it is.
        DoMessageHandling("[RegisterTime] Not charged: " + error.Description(), 2);
        return 0;
      }
      throw;
    }
  }
}

}  // namespace

int RegisterTime(const std::string& userName, HTTP_FILTER_CONTEXT*, int* firstRequest,
                 int hasTime) {
  try {
    if (SharedStore()) return ChargeSharedPeriod(userName, firstRequest, hasTime);
    return ChargePeriod(userName, firstRequest, hasTime);
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
  if (!DetailLineDropped()) DoMessageHandling("Log Time " + ClockText(now), 0);
  m_pSettingsRecord->MoveFirst();
  SetDailyPeriods(!SettingsRecord.ResetWeekly && !SettingsRecord.ResetMonthly);
  if (now < lastReset) {
    // A clock stepped back (time sync) must not bring back a day, week or month that was reset:
    // the marker stays until the clock passes it. Far behind, the marker came from a clock that
    // was wrong (a jump corrected since); the resets then follow the clock again from now on.
    if (lastReset - now <= kClockStepBackKept) return;
    DoMessageHandling("[CheckResetSchedule] The clock is behind the last reset (" +
                          MarkerText(lastReset) + "); the reset dates follow the clock from now",
                      2);
    ResetAndMark(false, now);
    return;
  }
  const std::tm today = g_today(now);
  // Converted again only when a reset moved it.
  std::tm last = g_last_reset(lastReset);
  // Calendar dates, not fields alone: the same day of a later month is another day. Only a date
  // after the marker's resets: the marker never moves back.
  if (LocalMonth(today) > LocalMonth(last) && SettingsRecord.ResetMonthly) {
    ResetAndMark(true, now);
    last = g_last_reset(lastReset);
  }
  if (WeekStart(today) > WeekStart(last) && SettingsRecord.ResetWeekly) {
    ResetAndMark(true, now);
    last = g_last_reset(lastReset);
  }
  const bool new_date = LocalDay(today) > LocalDay(last);
  if (new_date) ResetAndMark(SettingsRecord.ResetDaily != 0, now);
  PruneHistoryStep(now, new_date);
}

void ResetUserTimes() { ResetAndMark(true, std::nullopt); }
