// What the history and the audit tell an administrator: minutes by day, user, site and hour over
// a range of days, one user's day run by run, and the administrators' changes. Read-only; on a
// database without the store's own tables (made by an older build) every answer is empty.
// Raises ado::ComError on failure. Not for use by several threads on one connection at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado.h"

namespace store {

// Which history rows reports count: the charged minutes. Free minutes are kept beside them
// (History.Free = 1) and left out everywhere, here in one place.
inline constexpr const char* kCountedMinutes = "Free = 0";

// The days first_day to last_day (day numbers, both included), of one user (upper case) or,
// with `user` empty, of all.
struct Period {
  long long first_day = 0;
  long long last_day = 0;
  std::string user;
};

struct DayUsage {
  long long day = 0;
  std::string user;
  std::int64_t minutes = 0;
};
struct UserUsage {
  std::string user;
  std::int64_t minutes = 0;
  std::int64_t days = 0;                  // days with charged minutes
  std::optional<std::int64_t> allowance;  // Users.MaxInternetTime (-1 unlimited); none: removed
};
struct SiteUsage {
  std::string site;  // empty: minutes kept without their host (HistoryHosts no)
  std::int64_t minutes = 0;
  std::int64_t users = 0;
};
struct HourUsage {
  int hour = 0;  // 0 to 23, local time
  std::int64_t minutes = 0;
};

// By day and user, in that order.
std::vector<DayUsage> UsageByDay(const ado::ConnectionPtr& connection, const Period& period);
// By user name.
std::vector<UserUsage> UsageByUser(const ado::ConnectionPtr& connection, const Period& period);
// Most minutes first, then by site name.
std::vector<SiteUsage> UsageBySite(const ado::ConnectionPtr& connection, const Period& period);
// The 24 hours of the day in order (a run that crosses an hour counts in each); empty when the
// period has no minutes at all.
std::vector<HourUsage> UsageByHour(const ado::ConnectionPtr& connection, const Period& period);

// One run of a user's day: `minutes` minutes from minute `start` (0 to 1439) on `site`.
struct Run {
  int start = 0;
  std::int64_t minutes = 0;
  std::string site;  // empty: not recorded
};
// The user's (upper case) counted runs of `day`, in order of time.
std::vector<Run> UserDay(const ado::ConnectionPtr& connection, const std::string& user,
                         long long day);

// Whether `user` (upper case) is a user now or has counted minutes in the period's days.
bool KnownUser(const ado::ConnectionPtr& connection, const std::string& user, const Period& period);

struct AuditRow {
  std::string at;  // local time, "YYYY-MM-DD HH:MM:SS"
  std::string who;
  std::string command;
  std::string target;
  std::string old_value;
  std::string new_value;
  std::string reason;
};
// The administrators' changes from the start of day `from_day` (all with nullopt), oldest first;
// with a `user` (upper case), only the changes to that user, under the names it had before
// renames too.
std::vector<AuditRow> ReadAudit(const ado::ConnectionPtr& connection,
                                std::optional<long long> from_day, const std::string& user);

}  // namespace store
