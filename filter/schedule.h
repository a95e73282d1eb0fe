// Classes and schedules as the filter applies them: the allowance of today by weekday, allowed
// hours and free hours, each from the user's own entries, else the group's, else everyone's.
// Read with the users (start-up, UsersChanged, a reopened file); used under the request
// decision's sections.
#pragma once

#include <ctime>
#include <string>

#include "platform/win_types.h"

// Reads the schedule tables again. A failure is logged and leaves no schedule; never raises.
void ReadScheduleTables() noexcept;

// Whether the periods are days (no weekly or monthly reset): weekday allowances apply only then.
// Set from the settings row at each reset decision.
void SetDailyPeriods(bool daily) noexcept;

// The allowance of today before extra minutes: the user's own entry for today's weekday, else
// the group's, else `maxInternetTime`.
LONG AllowanceOfToday(const char* upperName, LONG maxInternetTime);

// What the hours say of a user at `now`.
struct HoursNow {
  bool allowed = true;     // inside the allowed hours, or none apply
  bool free = false;       // inside free hours
  int opens_in = -1;       // outside: minutes until browsing opens again (-1: never)
  int allowed_until = -1;  // inside allowed hours: minute of the day they end (1440: midnight)
  int free_until = -1;     // inside free hours: minute of the day they end
};
// `ends` asks for allowed_until and free_until too (for the pages: they cost a walk of the
// windows; the decision leaves them at -1).
HoursNow HoursOf(const std::string& upperName, std::time_t now, bool ends = false);

// Whether the user has free hours at all, and whether the minute that starts at `t` is free.
bool HasFreeHours(const std::string& upperName);
bool FreeMinuteAt(const std::string& upperName, std::time_t t);
