// Administrators' changes over the database layer's parameterised commands. Requests are checked
// before anything is written; each change and its audit row commit together or not at all.
#include "store/admin.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <ctime>
#include <functional>

#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/admin_steps.h"
#include "store/dialect.h"
#include "store/free_site_rule.h"
#include "store/schedules.h"
#include "store/schema.h"
#include "store/usage.h"

namespace store {

namespace admin_steps {

ChangeResult Apply(const ado::ConnectionPtr& connection, const Actor& actor, const char* command,
                   const std::function<ChangeResult(AuditEntry&)>& change) {
  if (!actor.reason.empty()) {
    CheckCharacters("reason", actor.reason, Encoding::kUtf8);
    CheckLength("a reason", actor.reason, kMaxReason);
  }
  BeginWrite(connection);
  try {
    CreateOwnTables(connection);
    AuditEntry entry;
    entry.command = command;
    ChangeResult result = change(entry);
    entry.who = actor.who;
    entry.reason = actor.reason;
    RecordAudit(connection, entry);
    ado::Execute(connection, "COMMIT");
    return result;
  } catch (...) {
    RollBackQuietly(connection);
    throw;
  }
}

void MarkUsersChanged(const ado::ConnectionPtr& connection) {
  ado::Execute(connection, "UPDATE FilterSettings SET UsersChanged = 1");
}

void RequireUser(const ado::ConnectionPtr& connection, const std::string& upper) {
  if (ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {upper}, 0) ==
      0) {
    throw Refusal("there is no user " + Printable(upper) + ".");
  }
}

void CheckAllowance(std::int64_t allowance) {
  if (allowance > kMaxColumnNumber) {
    throw Refusal("an allowance of " + std::to_string(allowance) +
                  " minutes is too large: MaxInternetTime holds at most " +
                  std::to_string(kMaxColumnNumber) + " (-1 is unlimited).");
  }
  if (allowance < -1) {
    throw Refusal("an allowance is -1 (unlimited) or 0 to " + std::to_string(kMaxColumnNumber) +
                  " minutes, not " + std::to_string(allowance) + ".");
  }
}

std::string Limit(std::int64_t allowance) {
  return allowance == -1 ? "unlimited" : std::to_string(allowance);
}

}  // namespace admin_steps

namespace {

using admin_steps::Apply;
using admin_steps::CheckAllowance;
using admin_steps::Limit;
using admin_steps::MarkUsersChanged;
using admin_steps::RequireUser;

const std::string kMaxNumber = std::to_string(kMaxColumnNumber);

// What the filter's PageName field holds, without its terminating zero.
constexpr std::size_t kMaxPageName = 254;

enum class Kind {
  kYesNo,     // FilterSettings switches
  kMinutes,   // FilterSettings numbers
  kText,      // FilterSettings texts
  kPort,      // ServerPort
  kDays,      // HistoryDays
  kOwnYesNo,  // HistoryHosts
  kOwnText,   // OutsideHoursMessage
};
struct Setting {
  const char* name;
  Kind kind;
  std::size_t max_bytes;  // text settings: what the filter's field holds
};
constexpr Setting kSettings[] = {
    {"ResetDaily", Kind::kYesNo, 0},
    {"ResetWeekly", Kind::kYesNo, 0},
    {"ResetMonthly", Kind::kYesNo, 0},
    {"ShowStartMessage", Kind::kYesNo, 0},
    {"DeniedMessage", Kind::kText, 254},
    {"UsersChanged", Kind::kYesNo, 0},
    {"IdleGapMinutes", Kind::kMinutes, 0},
    {"CurrentUserCommand", Kind::kText, 49},
    {"ServerPort", Kind::kPort, 9},
    {"WarningMode", Kind::kYesNo, 0},
    {kHistoryDays, Kind::kDays, 0},
    {kHistoryHosts, Kind::kOwnYesNo, 0},
    {kOutsideHoursMessage, Kind::kOwnText, 254},
};

bool IsOwn(Kind kind) {
  return kind == Kind::kDays || kind == Kind::kOwnYesNo || kind == Kind::kOwnText;
}

// A login name as the filter compares it: upper case, UTF-8, nothing it could never match.
std::string CheckedUserName(const std::string& name) {
  if (name.find_first_not_of(platform::kWhitespace) == std::string::npos)
    throw Refusal("a user name must not be empty or blank: no login has that name.");
  CheckCharacters("user name", name, Encoding::kUtf8);
  if (name.size() > kMaxUserName) {
    throw Refusal("user name '" + name + "' is longer than " + std::to_string(kMaxUserName) +
                  " bytes; the filter could never match it.");
  }
  if (name.find('\\') != std::string::npos) {
    throw Refusal("user name '" + name +
                  "' holds a backslash; give the login name without its domain.");
  }
  // The schedule commands name groups and everyone this way.
  if (name.front() == '@') {
    throw Refusal("user name '" + name + "' starts with '@', which marks a group (@GROUP).");
  }
  if (name == kEveryone) throw Refusal("user name '*' stands for everyone in the hours.");
  return platform::UpperAscii(name);
}

void CheckSiteText(const std::string& text) {
  if (text.find_first_not_of(" \t") == std::string::npos)
    throw Refusal("a free-site text must not be empty or blank: it would match no site.");
  CheckCharacters("free-site text", text, Encoding::kAnyBytes);
  CheckLength("a free-site text", text, kMaxPageName);
}

// The row for a host name ("example.org", or a row "host:example.org"): lower case, without a
// leading dot; refused when it is not a host name alone. A `new_row` also needs a dot between
// two names: "com" would free every site of .com. Rows made before that rule can still go.
std::string HostRow(const std::string& given, bool new_row) {
  std::string name = IsHostRule(given) ? given.substr(kHostRulePrefix.size()) : given;
  if (!name.empty() && name.front() == '.') name.erase(0, 1);
  const bool bracketed = name.size() > 2 && name.front() == '[' && name.back() == ']';
  bool fits = !name.empty();
  for (size_t i = 0; fits && i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool plain = std::isalnum(c) || c == '.' || c == '-' || c == '_';
    const bool address =
        bracketed && (c == ':' || ((c == '[' || c == ']') && (i == 0 || i + 1 == name.size())));
    fits = plain || address;
  }
  if (!fits) {
    throw Refusal("'" + Printable(given) +
                  "' is not a host name: give the host alone, such as example.org (no scheme, "
                  "port, path or spaces).");
  }
  CheckLength("a free-host row", std::string(kHostRulePrefix) + name, kMaxPageName);
  name = platform::LowerAscii(name);
  if (new_row && !bracketed) {
    if (name.find('.') == std::string::npos) {
      throw Refusal("host '" + name + "' has no dot: a host row for it would make every site " +
                    "ending in ." + name + " free; give a host name such as example.org.");
    }
    if (name.front() == '.' || name.back() == '.' || name.find("..") != std::string::npos) {
      throw Refusal("host '" + name +
                    "' starts or ends with a dot or has two in a row; give a host name such as "
                    "example.org.");
    }
  }
  return std::string(kHostRulePrefix) + name;
}

std::string SiteRule(const std::string& row) {
  if (IsHostRule(row)) {
    const std::string host(HostRuleName(row));
    return "URLs whose host is " + host + " or ends in ." + host + " cost no time";
  }
  return "every URL that contains it, in any case and anywhere (query string included), costs "
         "no time";
}

std::string Now() {
  const std::tm tm = platform::LocalNow();
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm));
}

std::int64_t Allowance(const ado::ConnectionPtr& connection, const std::string& upper) {
  return ado::QueryInteger(connection, "SELECT MaxInternetTime FROM Users WHERE UserName = ?1",
                           {upper}, -1);
}
std::int64_t UsedMinutes(const ado::ConnectionPtr& connection, const std::string& upper) {
  return ado::QueryInteger(connection, "SELECT CurrentInternetTime FROM Users WHERE UserName = ?1",
                           {upper}, 0);
}
std::int64_t ExtraOf(const ado::ConnectionPtr& connection, const std::string& upper) {
  return ado::QueryInteger(connection, "SELECT Minutes FROM ExtraMinutes WHERE UserName = ?1",
                           {upper}, 0);
}

// The allowance of today as the filter counts it: the user's entry for the weekday, else the
// group's, else MaxInternetTime; weekday entries count only while the periods are days.
std::int64_t AllowanceToday(const ado::ConnectionPtr& connection, const std::string& upper,
                            std::int64_t max_internet_time) {
  const Schedule schedule = ReadSchedule(connection);
  if (schedule.allowances.empty()) return max_internet_time;
  if (ado::QueryInteger(connection,
                        "SELECT ResetWeekly != 0 OR ResetMonthly != 0 FROM FilterSettings"
                        " ORDER BY rowid",
                        {}, 0) != 0) {
    return max_internet_time;
  }
  const int weekday = LocalMinuteOf(platform::Now()).weekday;
  const auto entry_of = [&](const std::string& owner) -> long {
    const auto found = schedule.allowances.find(owner);
    return found == schedule.allowances.end() ? kNoAllowance
                                              : found->second[static_cast<size_t>(weekday)];
  };
  const std::string owner = UserOwner(upper);
  if (const long own = entry_of(owner); own != kNoAllowance) return own;
  if (const auto group = schedule.group_of.find(owner); group != schedule.group_of.end()) {
    if (const long of_group = entry_of(group->second); of_group != kNoAllowance) return of_group;
  }
  return max_internet_time;
}

std::string MinutesText(std::int64_t minutes) {
  return minutes == -1 ? "unlimited access" : std::to_string(minutes) + " minutes";
}

std::string OverAllowance(const std::string& upper, std::int64_t used, std::int64_t allowance) {
  return Printable(upper) + " has used " + std::to_string(used) +
         " minutes, more than the allowance of " + std::to_string(allowance) +
         ": no time left until the next reset.";
}

std::string YesNo(bool yes) { return yes ? "yes" : "no"; }

// "yes"/"no" (also 1/0, true/false, any case) as a switch; Refusal naming `name` otherwise.
bool ParseYesNo(const char* name, const std::string& value) {
  const std::string upper = platform::UpperAscii(value);
  if (upper == "YES" || upper == "1" || upper == "TRUE") return true;
  if (upper == "NO" || upper == "0" || upper == "FALSE") return false;
  throw Refusal(std::string(name) + " is yes or no, not '" + Printable(value) + "'.");
}

const Setting& FindSetting(const std::string& key) {
  for (const Setting& setting : kSettings) {
    if (platform::EqualsNoCase(setting.name, key)) return setting;
  }
  throw Refusal("there is no setting '" + Printable(key) + "'; see minutrix-db --help.");
}

// The value of a FilterSettings column as `settings` shows it.
std::string FilterSettingShown(const ado::ConnectionPtr& connection, const Setting& setting) {
  const std::string select =
      "SELECT " + ado::QuoteIdentifier(setting.name) + " FROM FilterSettings ORDER BY rowid";
  if (setting.kind == Kind::kText || setting.kind == Kind::kPort)
    return ado::QueryText(connection, select, {}, "");
  const std::int64_t value = ado::QueryInteger(connection, select, {}, 0);
  return setting.kind == Kind::kYesNo ? YesNo(value != 0) : std::to_string(value);
}

std::string OwnSettingShown(const OwnSettings& own, const Setting& setting) {
  if (setting.kind == Kind::kOwnText) return own.outside_hours_message;
  return setting.kind == Kind::kDays ? std::to_string(own.history_days) : YesNo(own.history_hosts);
}

// The weekday allowances stored; 0 when the table does not exist.
std::int64_t WeekdayAllowanceRows(const ado::ConnectionPtr& connection) {
  if (!HasTable(connection, "WeekdayAllowances")) return 0;
  return ado::QueryInteger(connection, "SELECT count(*) FROM WeekdayAllowances", {}, 0);
}

}  // namespace

ChangeResult AddUser(const ado::ConnectionPtr& connection, const Actor& actor,
                     const std::string& name, std::int64_t allowance, const std::string& group) {
  const std::string upper = CheckedUserName(name);
  CheckAllowance(allowance);
  return Apply(connection, actor, "add-user", [&](AuditEntry& entry) {
    const std::string joined = group.empty() ? "" : admin_steps::RequireGroup(connection, group);
    if (ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {upper},
                          0) != 0) {
      throw Refusal("user " + upper + " exists already.");
    }
    ado::Execute(
        connection,
        "INSERT INTO Users (UserName, MaxInternetTime, CurrentInternetTime) VALUES (?1, ?2, 0)",
        {upper, allowance});
    // Stale rows of a name removed by another tool must not come back with the new user.
    ado::Execute(connection, "DELETE FROM ExtraMinutes WHERE UserName = ?1", {upper});
    admin_steps::ForgetUserSchedule(connection, upper);
    if (!joined.empty()) admin_steps::JoinGroup(connection, upper, joined);
    MarkUsersChanged(connection);
    entry.target = upper;
    entry.new_value = "allowance " + Limit(allowance);
    if (!joined.empty()) entry.new_value += ", group " + joined;
    return ChangeResult{"Added user " + upper + " with " + MinutesText(allowance) +
                            (joined.empty() ? "" : " in group " + joined) + ".",
                        {}};
  });
}

ChangeResult RemoveUser(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& name) {
  const std::string upper = platform::UpperAscii(name);
  return Apply(connection, actor, "remove-user", [&](AuditEntry& entry) {
    RequireUser(connection, upper);
    entry.target = upper;
    entry.old_value = "allowance " + Limit(Allowance(connection, upper)) + ", used " +
                      std::to_string(UsedMinutes(connection, upper));
    if (const std::int64_t extra = ExtraOf(connection, upper); extra != 0)
      entry.old_value += ", extra " + std::to_string(extra);
    entry.old_value += admin_steps::ScheduleOfUserText(connection, upper);
    ado::Execute(connection, "DELETE FROM Users WHERE UserName = ?1", {upper});
    ado::Execute(connection, "DELETE FROM ExtraMinutes WHERE UserName = ?1", {upper});
    admin_steps::ForgetUserSchedule(connection, upper);
    MarkUsersChanged(connection);
    return ChangeResult{"Removed user " + Printable(upper) + ".", {}};
  });
}

ChangeResult RenameUser(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& name, const std::string& new_name) {
  const std::string upper = platform::UpperAscii(name);
  const std::string new_upper = CheckedUserName(new_name);
  return Apply(connection, actor, "rename-user", [&](AuditEntry& entry) {
    RequireUser(connection, upper);
    if (new_upper != upper &&
        ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {new_upper},
                          0) != 0) {
      throw Refusal("user " + new_upper + " exists already.");
    }
    ado::Execute(connection, "UPDATE Users SET UserName = ?2 WHERE UserName = ?1",
                 {upper, new_upper});
    if (new_upper != upper) {
      ado::Execute(connection, "DELETE FROM ExtraMinutes WHERE UserName = ?1", {new_upper});
      ado::Execute(connection, "UPDATE ExtraMinutes SET UserName = ?2 WHERE UserName = ?1",
                   {upper, new_upper});
      admin_steps::MoveUserSchedule(connection, upper, new_upper);
    }
    MarkUsersChanged(connection);
    entry.target = upper;
    entry.old_value = upper;
    entry.new_value = new_upper;
    return ChangeResult{"Renamed user " + Printable(upper) + " to " + new_upper + ".", {}};
  });
}

ChangeResult SetAllowance(const ado::ConnectionPtr& connection, const Actor& actor,
                          const std::string& name, std::int64_t allowance) {
  const std::string upper = platform::UpperAscii(name);
  CheckAllowance(allowance);
  return Apply(connection, actor, "set-allowance", [&](AuditEntry& entry) {
    RequireUser(connection, upper);
    const std::int64_t before = Allowance(connection, upper);
    const std::int64_t used = UsedMinutes(connection, upper);
    ado::Execute(connection, "UPDATE Users SET MaxInternetTime = ?2 WHERE UserName = ?1",
                 {upper, allowance});
    MarkUsersChanged(connection);
    entry.target = upper;
    entry.old_value = Limit(before);
    entry.new_value = Limit(allowance);
    ChangeResult result;
    result.done = "Set the allowance of " + Printable(upper) + " to " + MinutesText(allowance) +
                  " (was " + MinutesText(before) + ").";
    if (allowance != -1 && used > allowance)
      result.warnings.push_back(OverAllowance(upper, used, allowance));
    return result;
  });
}

ChangeResult SetUsed(const ado::ConnectionPtr& connection, const Actor& actor,
                     const std::string& name, std::int64_t minutes) {
  const std::string upper = platform::UpperAscii(name);
  if (minutes > kMaxColumnNumber) {
    throw Refusal("used minutes of " + std::to_string(minutes) +
                  " are too large: CurrentInternetTime holds at most " + kMaxNumber + ".");
  }
  if (minutes < 0)
    throw Refusal("used minutes are 0 or more, not " + std::to_string(minutes) + ".");
  return Apply(connection, actor, "set-used", [&](AuditEntry& entry) {
    RequireUser(connection, upper);
    const std::int64_t before = UsedMinutes(connection, upper);
    const std::int64_t allowance = Allowance(connection, upper);
    ado::Execute(connection, "UPDATE Users SET CurrentInternetTime = ?2 WHERE UserName = ?1",
                 {upper, minutes});
    MarkUsersChanged(connection);
    entry.target = upper;
    entry.old_value = std::to_string(before);
    entry.new_value = std::to_string(minutes);
    ChangeResult result;
    result.done = "Set the minutes used by " + Printable(upper) + " to " + std::to_string(minutes) +
                  " (was " + std::to_string(before) + ").";
    if (allowance != -1 && minutes > allowance)
      result.warnings.push_back(OverAllowance(upper, minutes, allowance));
    return result;
  });
}

ChangeResult AddMinutes(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& name, std::int64_t minutes) {
  const std::string upper = platform::UpperAscii(name);
  if (minutes > kMaxColumnNumber || minutes < -kMaxColumnNumber) {
    throw Refusal("extra minutes run from -" + kMaxNumber + " to " + kMaxNumber + ", not " +
                  std::to_string(minutes) + ".");
  }
  return Apply(connection, actor, "add-minutes", [&](AuditEntry& entry) {
    RequireUser(connection, upper);
    const std::int64_t allowance = AllowanceToday(connection, upper, Allowance(connection, upper));
    if (allowance == -1) {
      throw Refusal(Printable(upper) +
                    " has unlimited access: extra minutes would change nothing. Give an "
                    "allowance first (set-allowance) to limit the user.");
    }
    // The period allows allowance + extra minutes, which stays within 0 and the column's most;
    // an extra already beyond that (the allowance was lowered since) counts as at the bound.
    const std::int64_t lowest = -allowance;
    const std::int64_t highest = kMaxColumnNumber - allowance;
    const std::int64_t before = ExtraOf(connection, upper);
    const std::int64_t from = std::min(std::max(before, lowest), highest);
    const std::int64_t wanted = from + minutes;
    // The transaction holds the write lock from its start, and the upsert adds to what is
    // stored: a second administrator's minutes, committed just before, are kept.
    ado::Execute(connection, AddExtraMinutesSql(connection), {upper, minutes, lowest, highest});
    const std::int64_t after = ExtraOf(connection, upper);
    MarkUsersChanged(connection);
    entry.target = upper;
    entry.old_value = std::to_string(before);
    entry.new_value = std::to_string(after);
    const std::int64_t allowed = allowance + after;
    const std::int64_t used = UsedMinutes(connection, upper);
    const std::int64_t changed = after - from;
    ChangeResult result;
    result.done =
        (changed >= 0
             ? "Gave " + Printable(upper) + " " + std::to_string(changed) + " extra minutes"
             : "Took " + std::to_string(-changed) + " minutes from " + Printable(upper)) +
        " for this period: extra " + std::to_string(after) + " (was " + std::to_string(before) +
        "), " + std::to_string(allowed) + " minutes allowed, " + std::to_string(used) + " used, " +
        std::to_string(std::max<std::int64_t>(0, allowed - used)) + " left.";
    if (after != wanted) {
      result.warnings.push_back(
          wanted < lowest
              ? "the allowance of " + Printable(upper) + " is " + std::to_string(allowance) +
                    " minutes and a period cannot allow fewer than 0: took " +
                    std::to_string(-changed) + " minutes, not " + std::to_string(-minutes) + "."
              : "a period allows at most " + kMaxNumber + " minutes: gave " +
                    std::to_string(changed) + " minutes, not " + std::to_string(minutes) + ".");
    }
    return result;
  });
}

ChangeResult AddSite(const ado::ConnectionPtr& connection, const Actor& actor,
                     const std::string& given, bool by_host) {
  CheckSiteText(given);
  const std::string text = by_host || IsHostRule(given) ? HostRow(given, true) : given;
  return Apply(connection, actor, "add-site", [&](AuditEntry& entry) {
    if (ado::QueryInteger(connection, "SELECT count(*) FROM tblPages WHERE PageName = ?1", {text},
                          0) != 0) {
      throw Refusal("free site '" + text + "' is listed already.");
    }
    ado::Execute(connection, "INSERT INTO tblPages (PageName) VALUES (?1)", {text});
    entry.target = text;
    entry.new_value = text;
    return ChangeResult{"Added free site '" + text + "': " + SiteRule(text) + ".", {}};
  });
}

ChangeResult RemoveSite(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& given, bool by_host) {
  const std::string text = by_host ? HostRow(given, false) : given;
  return Apply(connection, actor, "remove-site", [&](AuditEntry& entry) {
    if (ado::Execute(connection, "DELETE FROM tblPages WHERE PageName = ?1", {text}) == 0) {
      throw Refusal("free site '" + Printable(text) + "' is not listed.");
    }
    entry.target = text;
    entry.old_value = text;
    return ChangeResult{"Removed free site '" + Printable(text) + "'.", {}};
  });
}

ChangeResult SetSetting(const ado::ConnectionPtr& connection, const Actor& actor,
                        const std::string& key, const std::string& value) {
  const Setting& setting = FindSetting(key);
  ado::Parameter parameter;
  std::string shown = value;
  std::vector<std::string> warnings;
  switch (setting.kind) {
    case Kind::kYesNo:
      parameter = std::int64_t{ParseYesNo(setting.name, value) ? 1 : 0};
      shown = YesNo(std::get<std::int64_t>(parameter) != 0);
      break;
    case Kind::kOwnYesNo:
      shown = YesNo(ParseYesNo(setting.name, value));
      parameter = shown;
      break;
    case Kind::kMinutes: {
      const std::int64_t minutes = ParseInteger(value, setting.name);
      if (minutes > kMaxColumnNumber) {
        throw Refusal(std::string(setting.name) + " of " + std::to_string(minutes) +
                      " is too large: the column holds at most " + kMaxNumber + ".");
      }
      if (minutes < 0) {
        throw Refusal(std::string(setting.name) + " is 0 or more minutes, not " +
                      std::to_string(minutes) + ".");
      }
      parameter = minutes;
      shown = std::to_string(minutes);
      if (minutes == 0) {
        warnings.push_back(
            "IdleGapMinutes 0 ends every counting period at its first request: nothing will be "
            "charged.");
      }
      break;
    }
    case Kind::kDays: {
      const bool digits =
          !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
      std::int64_t days = -1;
      if (digits) std::from_chars(value.data(), value.data() + value.size(), days);
      if (!digits || days < 0 || days > kMaxHistoryDays) {
        throw Refusal(std::string(setting.name) + " is a number of days from 0 to " +
                      std::to_string(kMaxHistoryDays) + " (digits only), not '" + Printable(value) +
                      "'.");
      }
      shown = std::to_string(days);
      parameter = shown;
      if (days == 0) {
        warnings.push_back(
            "HistoryDays 0 keeps no history: the filter records no more minutes, and the daily "
            "reset removes the history kept so far.");
      }
      break;
    }
    case Kind::kPort: {
      std::int64_t port = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
      const bool digits =
          !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
      if (!digits || error != std::errc() || end != value.data() + value.size() || port < 1 ||
          port > 65535) {
        throw Refusal("ServerPort is a port number from 1 to 65535 (digits only), not '" +
                      Printable(value) + "'.");
      }
      shown = std::to_string(port);
      parameter = shown;
      break;
    }
    case Kind::kText:
    case Kind::kOwnText:
      // The filter copies these texts into a redirect's Location header and onto the page.
      CheckCharacters(setting.name, value, Encoding::kAnyBytes);
      CheckLength(setting.name, value, setting.max_bytes);
      parameter = value;
      // An empty OutsideHoursMessage gives the default text back.
      if (setting.kind == Kind::kOwnText && value.empty()) shown = kDefaultOutsideHoursMessage;
      break;
  }
  const bool periods_not_days = (std::strcmp(setting.name, "ResetWeekly") == 0 ||
                                 std::strcmp(setting.name, "ResetMonthly") == 0) &&
                                shown == "yes";
  return Apply(connection, actor, "set", [&](AuditEntry& entry) {
    if (const std::int64_t rows = WeekdayAllowanceRows(connection); periods_not_days && rows > 0) {
      warnings.push_back(std::to_string(rows) +
                         " weekday allowances (set-allowance --days) are now ignored: they apply "
                         "only while ResetWeekly and ResetMonthly are no; every period allows "
                         "MaxInternetTime.");
    }
    std::string before;
    if (IsOwn(setting.kind)) {
      before = OwnSettingShown(ReadOwnSettings(connection), setting);
      ado::Execute(connection,
                   "INSERT INTO MinutrixSettings (Name, Value) VALUES (?1, ?2)"
                   " ON CONFLICT (Name) DO UPDATE SET Name = excluded.Name, Value = excluded.Value",
                   {std::string(setting.name), parameter});
      MarkUsersChanged(connection);
    } else {
      before = FilterSettingShown(connection, setting);
      if (ado::Execute(connection,
                       "UPDATE FilterSettings SET " + ado::QuoteIdentifier(setting.name) +
                           " = ?1, ChangedBy = ?2, ChangedAt = ?3",
                       {parameter, actor.program, Now()}) == 0) {
        throw Refusal("FilterSettings has no row to change.");
      }
    }
    entry.target = setting.name;
    entry.old_value = before;
    entry.new_value = shown;
    return ChangeResult{std::string("Set ") + setting.name + " to '" + shown + "' (was '" +
                            Printable(before) + "').",
                        warnings};
  });
}

void RecordCreation(const ado::ConnectionPtr& connection, const Actor& actor,
                    const std::string& what) {
  RecordAudit(connection, {actor.who, "create", "", "", what, actor.reason});
}

std::vector<std::pair<std::string, std::string>> ReadSettings(
    const ado::ConnectionPtr& connection) {
  std::vector<std::pair<std::string, std::string>> settings;
  const OwnSettings own = ReadOwnSettings(connection);
  for (const Setting& setting : kSettings) {
    settings.emplace_back(setting.name, IsOwn(setting.kind)
                                            ? OwnSettingShown(own, setting)
                                            : FilterSettingShown(connection, setting));
  }
  return settings;
}

std::int64_t FilterSettingsRows(const ado::ConnectionPtr& connection) {
  return ado::QueryInteger(connection, "SELECT count(*) FROM FilterSettings", {}, 0);
}

std::int64_t ParseInteger(const std::string& text, const char* what) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range && end == text.data() + text.size()) {
    throw Refusal(std::string(what) + " '" + text + "' is too " +
                  (text.front() == '-' ? "small" : "large") + ": the database's numbers run from " +
                  std::to_string(INT32_MIN) + " to " + kMaxNumber + ".");
  }
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw Refusal(std::string(what) + " must be a whole number, not '" + Printable(text) + "'.");
  }
  return value;
}

}  // namespace store
