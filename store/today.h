// What each user has today, as the administration console's Today board shows it: the allowance
// of today, the minutes used and given, what is left and what the filter would do now. Read-only;
// works on a database of an older build (no groups, no extra minutes, no history). Raises
// ado::ComError on failure. Not for use by several threads on one connection at once.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "platform/ado.h"

namespace store {

enum class UserState {
  kBrowsing,      // charged a minute within the idle gap
  kOutOfTime,     // no minutes left: denied except free sites
  kOutsideHours,  // outside the allowed hours: denied
  kFreeHours,     // inside free hours: nothing charged
  kUnlimited,
  kIdle,
};
// "browsing", "out-of-time", "outside-hours", "free-hours", "unlimited", "idle".
const char* StateName(UserState state);

struct UserToday {
  std::string user;            // as Users holds it (upper case)
  std::string group;           // the class as it was named, or empty
  long max_internet_time = 0;  // the allowance per period (Users); -1 unlimited
  long allowance = 0;          // of today, before extra minutes; -1 unlimited
  long used = 0;               // CurrentInternetTime
  long extra = 0;              // extra minutes of the current period
  long left = 0;               // -1 unlimited
  UserState state = UserState::kIdle;
  int last = -1;  // minute of today of the last minute in the history, -1 none today
};

// Every user of Users, by name, at `now`.
std::vector<UserToday> ReadToday(const ado::ConnectionPtr& connection, std::time_t now);

// One user (upper case) at `now`; false when there is no such user.
bool ReadUserToday(const ado::ConnectionPtr& connection, const std::string& user, std::time_t now,
                   UserToday& today);

}  // namespace store
