// What the store keeps of each user beyond the period's counter: the history of charged minutes,
// the extra minutes of the current period, the audit of administrators' changes and the store's
// own settings. Every function works in the caller's transaction when one is open and raises
// ado::ComError on failure. Not for use by several threads on one connection at once.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ado.h"

namespace store {

// ---- the store's own settings (table MinutrixSettings) ----

// Days of history kept (0 keeps none); default 400.
inline constexpr const char* kHistoryDays = "HistoryDays";
// Whether history names the host of each minute ("yes" or "no"); default "yes".
inline constexpr const char* kHistoryHosts = "HistoryHosts";

// The text of the denied page outside the allowed hours.
inline constexpr const char* kOutsideHoursMessage = "OutsideHoursMessage";
inline constexpr const char* kDefaultOutsideHoursMessage = "Browsing is not allowed at this hour.";

struct OwnSettings {
  long history_days = 400;
  bool history_hosts = true;
  std::string outside_hours_message = kDefaultOutsideHoursMessage;
};

// The settings as stored, each missing or unreadable one at its default; all defaults when the
// table does not exist (a database of an older build).
OwnSettings ReadOwnSettings(const ado::ConnectionPtr& connection);

// ---- history ----

// Local date of `t` as days since 1970-01-01, and back to "YYYY-MM-DD".
long long LocalDayNumber(std::time_t t);
std::string DayText(long long day);
// "YYYY-MM-DD" as a day number; nullopt unless it is a date that exists.
std::optional<long long> ParseDay(std::string_view text);

// The host of a URL as history keeps it: lower case, without scheme, user, port, path or query
// ("https://Www.Example.org:8443/a?b" is "www.example.org"; a CONNECT's "host:443" is "host").
std::string HostOfUrl(std::string_view url);
// The same, as a view into `url`, not yet lower-cased.
std::string_view HostPartOfUrl(std::string_view url);

struct Minutes {
  std::string user;       // as Users holds it (upper case)
  std::time_t first = 0;  // the start of the first minute
  int count = 0;          // consecutive minutes from `first`
  std::string host;       // empty: not recorded
  bool free = false;      // minutes that were not charged (free hours)
};

// Host numbers of HistoryHosts already looked up, for one open file (empty it when the file is
// opened again).
using HostIds = std::map<std::string, std::int64_t, std::less<>>;

// Adds `minutes` to the history, extending the user's run where it goes on (same day, host and
// kind, the next minute) and starting a run otherwise; a run is split at local midnight.
// `host_ids`, when given, saves looking up a host seen before.
void RecordMinutes(const ado::ConnectionPtr& connection, const Minutes& minutes,
                   const OwnSettings& settings, HostIds* host_ids = nullptr);

// Deletes at most `limit` runs of days before `first_kept_day`; returns how many it deleted.
long PruneHistory(const ado::ConnectionPtr& connection, long long first_kept_day, long limit);

// ---- extra minutes of the current period ----

// Extra minutes by user name (upper case); empty when the table does not exist.
std::map<std::string, long, std::less<>> ReadExtraMinutes(const ado::ConnectionPtr& connection);

// Empties the extra minutes (at a reset). Nothing when the table does not exist.
void ClearExtraMinutes(const ado::ConnectionPtr& connection);

// ---- audit ----

struct AuditEntry {
  std::string who;
  std::string command;
  std::string target;
  std::string old_value;
  std::string new_value;
  std::string reason;
};

// Appends `entry` with the local time of now.
void RecordAudit(const ado::ConnectionPtr& connection, const AuditEntry& entry);

}  // namespace store
