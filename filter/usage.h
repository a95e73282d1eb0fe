// The filter's side of what the store keeps beyond the period's counters: the extra minutes of
// the current period, the history of charged minutes and the store's own settings. Used under
// the request decision's sections, like the record sets.
#pragma once

#include <ctime>
#include <string>

#include "platform/win_types.h"

// The text the denied page shows outside the allowed hours (setting OutsideHoursMessage).
const std::string& OutsideHoursMessage();

// Reads the store's own settings, the schedules and the extra minutes again (at start-up, when the
// administration tools set UsersChanged, when the file was opened again). A failure is logged
// and leaves the defaults and no extra minutes; never raises.
void ReadUsageTables() noexcept;

// The allowance of the current period of a user of Users (its upper-case name and
// MaxInternetTime): -1 for unlimited, otherwise the allowance of today (MaxInternetTime, or the
// weekday's) plus the user's extra minutes, never below 0.
LONG AllowanceOfPeriod(const char* upperName, LONG maxInternetTime);

// Records `count` charged (or, when `free`, free) minutes from `first` on `host` in the history, in
// the caller's transaction (making the store's own tables first in a database of an older build).
// Raises ado::ComError on failure, so that the charge fails with it.
void RecordChargedMinutes(const std::string& upperName, std::time_t first, int count,
                          const std::string& host, bool free = false);

// A committed reset emptied the extra minutes.
void ForgetExtraMinutes() noexcept;

// Deletes history older than HistoryDays a bounded slice at a time: a new date starts it, and
// each later request decision takes one more slice until nothing is left. Errors are logged.
void PruneHistoryStep(std::time_t now, bool newDate) noexcept;
