// Groups and schedules over the database layer's parameterised commands: requests are checked
// before anything is written, and each change commits with its audit row or not at all.
#include "store/schedule_admin.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "platform/ado_admin.h"
#include "platform/text.h"
#include "store/admin_steps.h"
#include "store/input_checks.h"
#include "store/schema.h"

namespace store {
namespace {

using admin_steps::Apply;
using admin_steps::MarkUsersChanged;

const char* KindColumn(HoursKind kind) { return kind == HoursKind::kFree ? "free" : "allowed"; }
const char* KindName(HoursKind kind) {
  return kind == HoursKind::kFree ? "free hours" : "allowed hours";
}

// A group as typed: without the '@' of an owner, upper-case.
std::string GroupKey(const std::string& given) {
  return platform::UpperAscii(!given.empty() && given.front() == '@' ? given.substr(1) : given);
}

std::string CheckedGroupName(const std::string& given) {
  const std::string key = GroupKey(given);
  if (key.find_first_not_of(platform::kWhitespace) == std::string::npos)
    throw Refusal("a group name must not be empty or blank.");
  CheckCharacters("group name", key, Encoding::kUtf8);
  CheckLength("a group name", key, kMaxGroupName);
  if (key == "-") throw Refusal("'-' is no group name: set-group NAME - takes a user out.");
  if (key.front() == '@')
    throw Refusal("group name '" + Printable(key) + "' starts with '@' twice.");
  return key;
}

// A user's own rows are the rows whose owner is the user's name; a name that reads as a group or
// as everyone (made by other tools) owns none.
bool OwnsRows(const std::string& upper) {
  return !upper.empty() && upper != kEveryone && upper.front() != '@';
}

// The owner a schedule command names, checked to exist, and how messages call it.
struct Owner {
  std::string key;
  std::string shown;
};
Owner ResolveOwner(const ado::ConnectionPtr& connection, const std::string& given) {
  if (given == kEveryone) return {kEveryone, "everyone (*)"};
  if (!given.empty() && given.front() == '@') {
    const std::string group = admin_steps::RequireGroup(connection, given);
    return {GroupOwner(group), "group " + group};
  }
  const std::string upper = platform::UpperAscii(given);
  admin_steps::RequireUser(connection, upper);
  return {upper, upper};
}

std::string MinutesShown(long minutes) {
  return minutes == -1 ? "unlimited" : std::to_string(minutes);
}

std::string AllowanceText(const std::array<long, 7>& by_day) {
  std::vector<std::pair<long, std::vector<int>>> runs;  // minutes and their days, first day first
  for (int day = 0; day < 7; ++day) {
    const long minutes = by_day[static_cast<size_t>(day)];
    if (minutes == kNoAllowance) continue;
    auto same = std::find_if(runs.begin(), runs.end(),
                             [&](const auto& run) { return run.first == minutes; });
    if (same == runs.end()) same = runs.insert(runs.end(), {minutes, {}});
    same->second.push_back(day);
  }
  std::string text;
  for (const auto& [minutes, days] : runs)
    text += (text.empty() ? "" : " ") + DaysText(days) + " " + MinutesShown(minutes);
  return text;
}

std::string WindowsText(const std::vector<Window>& windows) {
  std::vector<std::tuple<int, int, std::vector<int>>> spans;  // start, end, days
  std::vector<Window> sorted = windows;
  std::sort(sorted.begin(), sorted.end(), [](const Window& a, const Window& b) {
    return std::tie(a.weekday, a.start, a.end) < std::tie(b.weekday, b.start, b.end);
  });
  for (const Window& w : sorted) {
    auto same = std::find_if(spans.begin(), spans.end(), [&](const auto& span) {
      return std::get<0>(span) == w.start && std::get<1>(span) == w.end;
    });
    if (same == spans.end()) same = spans.insert(spans.end(), {w.start, w.end, {}});
    std::get<2>(*same).push_back(w.weekday);
  }
  std::string text;
  for (auto& [start, end, days] : spans) {
    days.erase(std::unique(days.begin(), days.end()), days.end());
    text += (text.empty() ? "" : " ") + DaysText(days) + " " + MinuteText(start) + "-" +
            MinuteText(end);
  }
  return text;
}

std::string OrNone(const std::string& text) { return text.empty() ? "none" : text; }

std::string AllowancesOf(const ado::ConnectionPtr& connection, const std::string& owner) {
  const Schedule schedule = ReadSchedule(connection);
  const auto found = schedule.allowances.find(owner);
  return found == schedule.allowances.end() ? "" : AllowanceText(found->second);
}

std::string WindowsOf(const ado::ConnectionPtr& connection, const std::string& owner,
                      HoursKind kind) {
  const Schedule schedule = ReadSchedule(connection);
  const auto& windows = kind == HoursKind::kFree ? schedule.free : schedule.allowed;
  const auto found = windows.find(owner);
  return found == windows.end() ? "" : WindowsText(found->second);
}

}  // namespace

namespace admin_steps {

std::string RequireGroup(const ado::ConnectionPtr& connection, const std::string& given) {
  const std::string key = GroupKey(given);
  // The column compares without case.
  const std::string stored =
      ado::QueryText(connection, "SELECT Name FROM ScheduleGroups WHERE Name = ?1", {key}, "");
  if (stored.empty())
    throw Refusal("there is no group '" + Printable(key) + "'; add-group makes one.");
  return stored;
}

std::string GroupOf(const ado::ConnectionPtr& connection, const std::string& upper) {
  return ado::QueryText(connection, "SELECT GroupName FROM GroupMembers WHERE UserName = ?1",
                        {upper}, "");
}

void JoinGroup(const ado::ConnectionPtr& connection, const std::string& upper,
               const std::string& group) {
  ado::Execute(connection,
               "INSERT INTO GroupMembers (UserName, GroupName) VALUES (?1, ?2)"
               " ON CONFLICT (UserName) DO UPDATE SET GroupName = excluded.GroupName",
               {upper, group});
}

std::string ScheduleOfUserText(const ado::ConnectionPtr& connection, const std::string& upper) {
  std::string text;
  if (const std::string group = GroupOf(connection, upper); !group.empty())
    text += ", group " + group;
  if (OwnsRows(upper)) {
    if (const std::string own = ScheduleText(ReadSchedule(connection), upper); !own.empty())
      text += ", own schedule: " + own;
  }
  return text;
}

void ForgetUserSchedule(const ado::ConnectionPtr& connection, const std::string& upper) {
  ado::Execute(connection, "DELETE FROM GroupMembers WHERE UserName = ?1", {upper});
  if (!OwnsRows(upper)) return;
  ado::Execute(connection, "DELETE FROM WeekdayAllowances WHERE Owner = ?1", {upper});
  ado::Execute(connection, "DELETE FROM ScheduleWindows WHERE Owner = ?1", {upper});
}

void MoveUserSchedule(const ado::ConnectionPtr& connection, const std::string& upper,
                      const std::string& new_upper) {
  ForgetUserSchedule(connection, new_upper);
  ado::Execute(connection, "UPDATE GroupMembers SET UserName = ?2 WHERE UserName = ?1",
               {upper, new_upper});
  if (!OwnsRows(upper) || !OwnsRows(new_upper)) return;
  ado::Execute(connection, "UPDATE WeekdayAllowances SET Owner = ?2 WHERE Owner = ?1",
               {upper, new_upper});
  ado::Execute(connection, "UPDATE ScheduleWindows SET Owner = ?2 WHERE Owner = ?1",
               {upper, new_upper});
}

}  // namespace admin_steps

ChangeResult AddGroup(const ado::ConnectionPtr& connection, const Actor& actor,
                      const std::string& group) {
  const std::string name = CheckedGroupName(group);
  return Apply(connection, actor, "add-group", [&](AuditEntry& entry) {
    const std::string existing =
        ado::QueryText(connection, "SELECT Name FROM ScheduleGroups WHERE Name = ?1", {name}, "");
    if (!existing.empty()) throw Refusal("group " + Printable(existing) + " exists already.");
    ado::Execute(connection, "INSERT INTO ScheduleGroups (Name) VALUES (?1)", {name});
    // Stale rows of a group removed by another tool must not come back with the new one.
    ado::Execute(connection, "DELETE FROM WeekdayAllowances WHERE Owner = ?1", {GroupOwner(name)});
    ado::Execute(connection, "DELETE FROM ScheduleWindows WHERE Owner = ?1", {GroupOwner(name)});
    MarkUsersChanged(connection);
    entry.target = GroupOwner(name);
    entry.new_value = "group " + name;
    return ChangeResult{"Added group " + name + ".", {}};
  });
}

ChangeResult RemoveGroup(const ado::ConnectionPtr& connection, const Actor& actor,
                         const std::string& group) {
  return Apply(connection, actor, "remove-group", [&](AuditEntry& entry) {
    const std::string name = admin_steps::RequireGroup(connection, group);
    std::vector<std::string> members;
    ado::QueryRows(connection,
                   "SELECT UserName FROM GroupMembers WHERE GroupName = ?1 ORDER BY UserName",
                   {name}, [&](const std::vector<ado::Parameter>& row) {
                     const auto* user = std::get_if<std::string>(&row[0]);
                     members.push_back(user != nullptr ? Printable(*user) : "?");
                   });
    if (!members.empty()) {
      std::string listed;
      for (size_t i = 0; i < members.size() && i < 5; ++i)
        listed += (i == 0 ? "" : ", ") + members[i];
      if (members.size() > 5) listed += ", ...";
      throw Refusal("group " + Printable(name) + " still has " + std::to_string(members.size()) +
                    (members.size() == 1 ? " member" : " members") + " (" + listed +
                    "): take them out first (set-group DATABASE NAME -, or another group).");
    }
    const std::string owner = GroupOwner(name);
    const std::string schedule = ScheduleText(ReadSchedule(connection), owner);
    ado::Execute(connection, "DELETE FROM ScheduleGroups WHERE Name = ?1", {name});
    ado::Execute(connection, "DELETE FROM WeekdayAllowances WHERE Owner = ?1", {owner});
    ado::Execute(connection, "DELETE FROM ScheduleWindows WHERE Owner = ?1", {owner});
    MarkUsersChanged(connection);
    entry.target = owner;
    entry.old_value = "group " + name + (schedule.empty() ? "" : ", schedule: " + schedule);
    return ChangeResult{"Removed group " + Printable(name) +
                            (schedule.empty() ? "" : " and its schedule (" + schedule + ")") + ".",
                        {}};
  });
}

ChangeResult SetGroup(const ado::ConnectionPtr& connection, const Actor& actor,
                      const std::string& name, const std::string& group) {
  const std::string upper = platform::UpperAscii(name);
  return Apply(connection, actor, "set-group", [&](AuditEntry& entry) {
    admin_steps::RequireUser(connection, upper);
    const std::string before = admin_steps::GroupOf(connection, upper);
    const std::string after = group == "-" ? "" : admin_steps::RequireGroup(connection, group);
    if (after.empty()) {
      ado::Execute(connection, "DELETE FROM GroupMembers WHERE UserName = ?1", {upper});
    } else {
      admin_steps::JoinGroup(connection, upper, after);
    }
    MarkUsersChanged(connection);
    entry.target = upper;
    entry.old_value = before;
    entry.new_value = after;
    const std::string was = " (was " + (before.empty() ? "in none" : "in " + before) + ")";
    return ChangeResult{after.empty()
                            ? "Took " + Printable(upper) + " out of its group" + was + "."
                            : "Put " + Printable(upper) + " in group " + after + was + ".",
                        {}};
  });
}

ChangeResult SetWeekdayAllowance(const ado::ConnectionPtr& connection, const Actor& actor,
                                 const std::string& owner, std::optional<std::int64_t> minutes,
                                 const std::vector<int>& days) {
  if (minutes) admin_steps::CheckAllowance(*minutes);
  if (owner == kEveryone) {
    throw Refusal(
        "an allowance by weekday is for a user or a @GROUP, not for everyone (*): the "
        "allowance of everyone else is each user's own (set-allowance NAME MINUTES).");
  }
  if (days.empty()) throw Refusal("no weekdays given.");
  return Apply(connection, actor, "set-allowance", [&](AuditEntry& entry) {
    const Owner who = ResolveOwner(connection, owner);
    if (minutes) {
      const std::string reset = ado::QueryText(
          connection,
          "SELECT CASE WHEN ResetWeekly != 0 THEN 'ResetWeekly' WHEN ResetMonthly != 0"
          " THEN 'ResetMonthly' ELSE '' END FROM FilterSettings ORDER BY rowid",
          {}, "");
      if (!reset.empty()) {
        throw Refusal("allowances by weekday apply only while the periods are days, and " + reset +
                      " is yes: they would be ignored. Set " + reset +
                      " no first, or give the allowance of every period (set-allowance NAME "
                      "MINUTES).");
      }
    }
    const std::string before = AllowancesOf(connection, who.key);
    for (const int day : days) {
      if (minutes) {
        ado::Execute(connection,
                     "INSERT INTO WeekdayAllowances (Owner, Weekday, Minutes) VALUES (?1, ?2, ?3)"
                     " ON CONFLICT (Owner, Weekday) DO UPDATE SET Minutes = excluded.Minutes",
                     {who.key, std::int64_t{day}, *minutes});
      } else {
        ado::Execute(connection, "DELETE FROM WeekdayAllowances WHERE Owner = ?1 AND Weekday = ?2",
                     {who.key, std::int64_t{day}});
      }
    }
    const std::string after = AllowancesOf(connection, who.key);
    MarkUsersChanged(connection);
    entry.target = who.key;
    entry.old_value = before;
    entry.new_value = after;
    const std::string on = " on " + DaysText(days);
    return ChangeResult{
        (minutes ? "Set the allowance of " + Printable(who.shown) + on + " to " +
                       (*minutes == -1 ? "unlimited access" : std::to_string(*minutes) + " minutes")
                 : "Removed the allowance of " + Printable(who.shown) + on) +
            " (by weekday now: " + OrNone(after) + "; was: " + OrNone(before) + ").",
        {}};
  });
}

std::vector<Window> ParseWindows(const std::vector<std::string>& words) {
  if (words.size() == 1 && platform::EqualsNoCase(words[0], "none")) return {};
  if (words.empty())
    throw Refusal("give windows such as mon-fri 08:00-16:30, or none to remove them.");
  std::vector<Window> windows;
  for (size_t i = 0; i < words.size(); i += 2) {
    const std::string which = "window " + std::to_string(i / 2 + 1) + ": ";
    if (platform::EqualsNoCase(words[i], "none"))
      throw Refusal(which + "'none' removes all the hours and stands alone.");
    std::string error;
    const auto days = ParseDays(words[i], error);
    if (!days) {
      throw Refusal(Printable(which + error +
                              "; a window is a day list and a time window, such as mon-fri "
                              "08:00-16:30."));
    }
    if (i + 1 >= words.size()) {
      throw Refusal(Printable(which + "'" + words[i] +
                              "' has no time window after it; give one such as 08:00-16:30."));
    }
    const auto times = ParseTimes(words[i + 1], error);
    if (!times) throw Refusal(Printable(which + error + "."));
    for (const int day : *days) {
      const Window window{day, times->first, times->second};
      if (std::find(windows.begin(), windows.end(), window) == windows.end())
        windows.push_back(window);
    }
  }
  return windows;
}

ChangeResult SetHours(const ado::ConnectionPtr& connection, const Actor& actor,
                      const std::string& owner, HoursKind kind,
                      const std::vector<Window>& windows) {
  const char* command = kind == HoursKind::kFree ? "set-free-hours" : "set-hours";
  return Apply(connection, actor, command, [&](AuditEntry& entry) {
    const Owner who = ResolveOwner(connection, owner);
    const std::string before = WindowsOf(connection, who.key, kind);
    // Rows of other tools may spell the kind in another case; anything but free is allowed.
    ado::Execute(connection,
                 kind == HoursKind::kFree
                     ? "DELETE FROM ScheduleWindows WHERE Owner = ?1 AND lower(Kind) = 'free'"
                     : "DELETE FROM ScheduleWindows WHERE Owner = ?1 AND lower(Kind) != 'free'",
                 {who.key});
    for (const Window& w : windows) {
      ado::Execute(connection,
                   "INSERT INTO ScheduleWindows (Owner, Kind, Weekday, Start, \"End\")"
                   " VALUES (?1, ?2, ?3, ?4, ?5)",
                   {who.key, std::string(KindColumn(kind)), std::int64_t{w.weekday},
                    std::int64_t{w.start}, std::int64_t{w.end}});
    }
    const std::string after = WindowsOf(connection, who.key, kind);
    MarkUsersChanged(connection);
    entry.target = who.key;
    entry.old_value = before;
    entry.new_value = after;
    return ChangeResult{(windows.empty() ? std::string("Removed the ") + KindName(kind) + " of " +
                                               Printable(who.shown)
                                         : std::string("Set the ") + KindName(kind) + " of " +
                                               Printable(who.shown) + " to " + after) +
                            " (was: " + OrNone(before) + ").",
                        {}};
  });
}

std::vector<GroupSummary> ReadGroups(const ado::ConnectionPtr& connection) {
  std::vector<GroupSummary> groups;
  if (!HasTable(connection, "ScheduleGroups") || !HasTable(connection, "GroupMembers"))
    return groups;
  const Schedule schedule = ReadSchedule(connection);
  ado::QueryRows(connection,
                 "SELECT Name, (SELECT count(*) FROM GroupMembers m WHERE m.GroupName = g.Name)"
                 " FROM ScheduleGroups g ORDER BY Name",
                 {}, [&](const std::vector<ado::Parameter>& row) {
                   GroupSummary group;
                   if (const auto* name = std::get_if<std::string>(&row[0])) group.name = *name;
                   if (const auto* count = std::get_if<std::int64_t>(&row[1]))
                     group.members = *count;
                   group.schedule = ScheduleText(schedule, GroupOwner(group.name));
                   groups.push_back(group);
                 });
  return groups;
}

std::map<std::string, std::string> ReadOwnSchedules(const ado::ConnectionPtr& connection) {
  const Schedule schedule = ReadSchedule(connection);
  std::set<std::string> owners;
  for (const auto* map : {&schedule.allowed, &schedule.free}) {
    for (const auto& [owner, windows] : *map) owners.insert(owner);
  }
  for (const auto& [owner, by_day] : schedule.allowances) owners.insert(owner);
  std::map<std::string, std::string> own;
  for (const std::string& owner : owners) {
    if (owner.empty() || owner.front() != '@') own[owner] = ScheduleText(schedule, owner);
  }
  return own;
}

std::map<std::string, std::string> ReadGroupsOfUsers(const ado::ConnectionPtr& connection) {
  std::map<std::string, std::string> groups;
  if (!HasTable(connection, "GroupMembers")) return groups;
  ado::QueryRows(connection, "SELECT UserName, GroupName FROM GroupMembers", {},
                 [&](const std::vector<ado::Parameter>& row) {
                   const auto* user = std::get_if<std::string>(&row[0]);
                   const auto* group = std::get_if<std::string>(&row[1]);
                   if (user != nullptr && group != nullptr)
                     groups[platform::UpperAscii(*user)] = *group;
                 });
  return groups;
}

std::string DaysText(const std::vector<int>& days) {
  std::string text;
  for (size_t i = 0; i < days.size();) {
    size_t last = i;
    while (last + 1 < days.size() && days[last + 1] == days[last] + 1) ++last;
    if (!text.empty()) text += ",";
    text += WeekdayName(days[i]);
    if (last - i >= 2) {
      text += std::string("-") + WeekdayName(days[last]);
    } else if (last > i) {
      text += std::string(",") + WeekdayName(days[last]);
    }
    i = last + 1;
  }
  return text;
}

std::string ScheduleText(const Schedule& schedule, const std::string& owner) {
  std::string text;
  const auto add = [&](const char* what, const std::string& part) {
    if (!part.empty()) text += (text.empty() ? "" : "; ") + std::string(what) + " " + part;
  };
  if (const auto found = schedule.allowances.find(owner); found != schedule.allowances.end())
    add("minutes", AllowanceText(found->second));
  if (const auto found = schedule.allowed.find(owner); found != schedule.allowed.end())
    add("hours", WindowsText(found->second));
  if (const auto found = schedule.free.find(owner); found != schedule.free.end())
    add("free", WindowsText(found->second));
  return text;
}

}  // namespace store
