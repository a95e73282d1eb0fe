// Local wall-clock time for the product, with two ways for tests to move it:
// in-process (SetFixedTime / AdvanceFixedTime) and, for a library loaded into another program,
// the file named by $MINUTRIX_CLOCK_FILE, read at every call. Its one line is either an absolute
// local time "YYYY-MM-DD HH:MM:SS" (the clock stands there), "@N" seconds since 1970 UTC (for a
// local time that happens twice), or a shift "+N" / "-N" in seconds
// (optionally with suffix m, h or d) added to the real time. A value that is neither, or that
// does not fit the time type, is an error: it is reported once on standard error and the real
// time is used. Thread-safe.
#pragma once

#include <ctime>
#include <optional>

namespace platform {

// Seconds since the epoch, as the product's clock stands now.
std::time_t Now();

// Broken-down local time of `t` (TZ applies, as on Windows).
std::tm LocalTime(std::time_t t);

// Local time of Now().
inline std::tm LocalNow() { return LocalTime(Now()); }

// Fixes the in-process clock at `t`, or releases it with nullopt.
void SetFixedTime(std::optional<std::time_t> t);
// Moves a fixed in-process clock on by `seconds`; starts from the real time if none is fixed.
void AdvanceFixedTime(long seconds);

}  // namespace platform
