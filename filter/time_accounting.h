// Charging each monitored user's browsing minutes in counting periods, written through to
// CurrentInternetTime of the user's row, and the daily, weekly and monthly resets.
#pragma once

#include <ctime>
#include <map>
#include <string>

#include "platform/isapi.h"

// One user's counting period.
struct UserTimesRecord {
  int dwPassedMinutes = 0;  // minutes of this period already added to the database
  std::time_t ctimeFirstRequest = 0;
  std::time_t ctimeLastRequest = 0;  // period start, or the last request that was charged
  int iOldMinutes = 0;               // CurrentInternetTime when the period started
  bool bFreeSite = false;            // the period was started by a free-site request
  bool bWarned = false;              // the one warning of warning mode was shown
  int iFreeMinutes = 0;              // of the dwPassedMinutes, those in free hours
  std::string strLastHost;           // host of the latest request: the minutes until the next
                                     // one are spent there
};

// User name (as RegisterTime receives it, case-sensitive) to its period; in memory only.
// Guarded by section 1 (the request decision) and section 3.
extern std::map<std::string, UserTimesRecord>& TimesMap;

// Charges `userName` for this request (gblFreeSite tells a free site). Returns 1 when done, 0 when
// the time could not be charged (user gone, database error; logged),
// SF_STATUS_REQ_NEXT_NOTIFICATION for a user new to TimesMap with unlimited access. Sets
// *firstRequest to 1 when the start page is due. The caller holds sections 1 and 2, and
// LookUpUserInSet has just positioned Users on the user.
int RegisterTime(const std::string& userName, HTTP_FILTER_CONTEXT* context, int* firstRequest,
                 int hasTime);

// Runs the reset that a new month, week (Monday) or day calls for. Database errors are raised.
// The caller holds section 1.
void CheckResetSchedule();

// Sets every user's used minutes to 0 in one transaction and then empties TimesMap; on failure
// nothing is changed. Takes section 3; errors are raised.
void ResetUserTimes();
