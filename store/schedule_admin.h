// The administrator's changes to classes and schedules: groups and their members, allowances by
// weekday, allowed hours and free hours; and how they read in listings and the audit. Each change
// is checked, then made in one immediate transaction with its audit row, and sets UsersChanged so
// that a running filter reads the schedules again at its next request; a refusal (Refusal) or a
// failure (ado::ComError) changes nothing. Not for use by several threads on one connection.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado.h"
#include "store/admin.h"
#include "store/schedules.h"

namespace store {

inline constexpr std::size_t kMaxGroupName = 59;

// Group names compare without case and are stored upper-case; a leading '@' (as in @5A) is taken
// off. A new name must be UTF-8 without control characters, not blank, not "-", and at most
// kMaxGroupName bytes.
ChangeResult AddGroup(const ado::ConnectionPtr& connection, const Actor& actor,
                      const std::string& group);
// Refused while the group has members. Takes the group's schedule rows along.
ChangeResult RemoveGroup(const ado::ConnectionPtr& connection, const Actor& actor,
                         const std::string& group);
// Puts an existing user into an existing group, out of any other; `group` "-" takes the user
// out of its group.
ChangeResult SetGroup(const ado::ConnectionPtr& connection, const Actor& actor,
                      const std::string& name, const std::string& group);

// Sets the allowance of `owner` (a user, or @GROUP) on each of `days` (weekday 0 is Monday) to
// `minutes` (-1 unlimited), or removes the entries of those days when `minutes` is empty.
// Setting is refused while ResetWeekly or ResetMonthly is on (weekday entries would be ignored);
// removing is not.
ChangeResult SetWeekdayAllowance(const ado::ConnectionPtr& connection, const Actor& actor,
                                 const std::string& owner, std::optional<std::int64_t> minutes,
                                 const std::vector<int>& days);

enum class HoursKind { kAllowed, kFree };

// The windows of "mon-fri 08:00-16:30 sat 10:00-12:00": pairs of a day list and a time window;
// "none" alone is no window. Refusal naming the bad word otherwise.
std::vector<Window> ParseWindows(const std::vector<std::string>& words);

// Replaces the allowed (or free) hours of `owner` (a user, @GROUP or "*" for everyone) with
// `windows`; no windows removes them.
ChangeResult SetHours(const ado::ConnectionPtr& connection, const Actor& actor,
                      const std::string& owner, HoursKind kind, const std::vector<Window>& windows);

// ---- reading, for the listings ----

struct GroupSummary {
  std::string name;
  std::int64_t members = 0;
  std::string schedule;  // ScheduleText of the group
};
// Every group by name; empty when the tables do not exist. Raises ado::ComError on failure.
std::vector<GroupSummary> ReadGroups(const ado::ConnectionPtr& connection);
// The schedules that are no group's: everyone's ("*") and users' own, by owner.
std::map<std::string, std::string> ReadOwnSchedules(const ado::ConnectionPtr& connection);
// The group of each user in one (user name upper-case); empty when the table does not exist.
std::map<std::string, std::string> ReadGroupsOfUsers(const ado::ConnectionPtr& connection);

// "mon-fri", "sat,sun", "mon-wed,fri": weekdays (sorted, each once) as ParseDays reads them.
std::string DaysText(const std::vector<int>& days);
// What `owner` has, in the words of the commands: "minutes mon-fri 30 sat,sun 90; hours mon-fri
// 08:00-16:30; free wed 10:00-11:00"; empty when nothing.
std::string ScheduleText(const Schedule& schedule, const std::string& owner);

}  // namespace store
