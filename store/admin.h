// The changes an administrator makes to UserTimesDB.mdb, for minutrix-db and any later console:
// users, allowances, extra minutes, free sites and settings. Each change is checked, then made in
// one immediate transaction together with its audit row (and the store's own tables where they
// are missing); a refusal (Refusal) or a failure (ado::ComError) rolls it all back, so nothing
// changes. Not for use by several threads on one connection at once.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado.h"
#include "store/input_checks.h"

namespace store {

inline constexpr std::size_t kMaxUserName = 59;  // what the filter's UserName field holds
inline constexpr std::size_t kMaxReason = 1000;
inline constexpr long kMaxHistoryDays = 36500;

// The prefix of a free-site row that matches by host: "host:example.org" makes the URLs whose
// host is example.org or ends in ".example.org" free; any other row matches wherever its text
// appears in the URL, the query string included.
inline constexpr const char* kHostRowPrefix = "host:";

// Who makes a change, recorded with it: the login, the program (FilterSettings.ChangedBy) and
// why (may be empty).
struct Actor {
  std::string who;
  std::string reason;
  std::string program = "minutrix-db";
};

// What a change did, in one line, and what the administrator should know about it (the change
// was made all the same).
struct ChangeResult {
  std::string done;
  std::vector<std::string> warnings;
};

// `allowance` -1 means unlimited. Names are stored upper-case; a new name must be UTF-8 without
// control characters, not blank, and fit the filter's field. Names of existing users are only
// looked up, so rows written by other tools can still be changed or removed. Removing or
// renaming a user takes the extra minutes along; the history stays under the name it was
// charged to.
ChangeResult AddUser(const ado::ConnectionPtr& connection, const Actor& actor,
                     const std::string& name, std::int64_t allowance);
ChangeResult RemoveUser(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& name);
ChangeResult RenameUser(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& name, const std::string& new_name);
// Warns when the user has used more than the new allowance.
ChangeResult SetAllowance(const ado::ConnectionPtr& connection, const Actor& actor,
                          const std::string& name, std::int64_t allowance);
// Warns when the minutes are above the user's allowance.
ChangeResult SetUsed(const ado::ConnectionPtr& connection, const Actor& actor,
                     const std::string& name, std::int64_t minutes);

// Adds `minutes` (negative: takes them away) to the user's extra minutes of the current period,
// atomically: two administrators adding 15 at once give 30. The allowance of today (a weekday's
// entry of the user or the group while the periods are days, else MaxInternetTime) plus the
// extra stays within 0 and the largest allowance: a change beyond that is cut there, with a
// warning. Refused for an unknown user and for one with unlimited access today.
ChangeResult AddMinutes(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& name, std::int64_t minutes);

// With `by_host`, or a `text` that starts with "host:", adds a host row for the host name given,
// which needs a dot ("com" alone would free a whole top-level domain).
ChangeResult AddSite(const ado::ConnectionPtr& connection, const Actor& actor,
                     const std::string& text, bool by_host);
ChangeResult RemoveSite(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& text, bool by_host);

// `key` is a column name of FilterSettings or one of the store's own settings (HistoryDays,
// HistoryHosts), compared without case. ServerPort is 1 to 65535; IdleGapMinutes 0 is set with a
// warning (nothing is charged then); HistoryDays is 0 to kMaxHistoryDays.
ChangeResult SetSetting(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& key, const std::string& value);

// The audit row of a database just made (`what` says how), in the caller's transaction.
void RecordCreation(const ado::ConnectionPtr& connection, const Actor& actor,
                    const std::string& what);

// Every setting by name with its value as shown ("yes", "no", numbers, texts as stored), the
// FilterSettings columns first, then the store's own settings (their defaults where unset).
std::vector<std::pair<std::string, std::string>> ReadSettings(const ado::ConnectionPtr& connection);
// How many rows FilterSettings holds; the filter needs exactly one.
std::int64_t FilterSettingsRows(const ado::ConnectionPtr& connection);

// Whether `text` is a host row ("host:...", in any case).
bool IsHostRow(const std::string& text);

// `text` as a whole number; Refusal naming `what` otherwise, saying "too large" (or "too small")
// for a number beyond 64 bits. The callers check the column's range.
std::int64_t ParseInteger(const std::string& text, const char* what);

}  // namespace store
