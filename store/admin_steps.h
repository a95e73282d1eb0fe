// The steps that the administrator's changes share, for the files of store/ that make them
// (admin.cpp for users, sites and settings; schedule_admin.cpp for groups and schedules). Not a
// public interface: tools call store/admin.h and store/schedule_admin.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/ado.h"
#include "store/admin.h"
#include "store/usage.h"

namespace store::admin_steps {

// Runs `change` in one immediate transaction with the store's own tables present, and records
// what it filled into the audit entry in the same transaction. Anything it throws rolls it back.
ChangeResult Apply(const ado::ConnectionPtr& connection, const Actor& actor, const char* command,
                   const std::function<ChangeResult(AuditEntry&)>& change);

// Tells a running filter to read the users, their extra minutes, the schedules and the store's
// own settings again at its next request.
void MarkUsersChanged(const ado::ConnectionPtr& connection);

// Refusal unless Users has the row `upper`.
void RequireUser(const ado::ConnectionPtr& connection, const std::string& upper);

// Refusal unless `allowance` is -1 (unlimited) or fits MaxInternetTime.
void CheckAllowance(std::int64_t allowance);

// "unlimited" for -1, else the number.
std::string Limit(std::int64_t allowance);

// ---- a user's rows in the schedule tables (schedule_admin.cpp), in the caller's transaction ----

// The stored name of the group `given` names ("5a" or "@5A"); Refusal when there is none.
std::string RequireGroup(const ado::ConnectionPtr& connection, const std::string& given);
// The group the user `upper` is in; empty for none.
std::string GroupOf(const ado::ConnectionPtr& connection, const std::string& upper);
// Puts the user `upper` into `group` (a stored name), out of any other.
void JoinGroup(const ado::ConnectionPtr& connection, const std::string& upper,
               const std::string& group);
// "; group 5A" and the user's own schedule, as a removal records them; empty for neither.
std::string ScheduleOfUserText(const ado::ConnectionPtr& connection, const std::string& upper);
// Deletes the user's membership and the schedule rows the user owns.
void ForgetUserSchedule(const ado::ConnectionPtr& connection, const std::string& upper);
// Moves the user's membership and own schedule rows to `new_upper` (whose stale rows go first).
void MoveUserSchedule(const ado::ConnectionPtr& connection, const std::string& upper,
                      const std::string& new_upper);

}  // namespace store::admin_steps
