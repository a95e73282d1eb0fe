// minutrix-db: creates and administers the filter's database UserTimesDB.mdb.
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/text.h"
#include "store/admin.h"
#include "store/schedule_admin.h"
#include "tools/db/backup.h"
#include "tools/db/copy.h"
#include "tools/db/report_commands.h"
#include "tools/db/user_times_db.h"

namespace {

constexpr const char* kUsage = R"(Usage: minutrix-db COMMAND DATABASE [ARGUMENTS]

Administers UserTimesDB.mdb, the database of the Minutrix filter (an SQLite file), or the store
of several proxies on a PostgreSQL server.
DATABASE is a host path, or a Windows path (X:\...) of the machine root in MINUTRIX_ROOT, or a
PostgreSQL connection string: a postgresql:// URI or libpq's key=value form, quoted as one word
('host=db.school.local dbname=minutrix user=admin'). Keep the password out of it: libpq reads
~/.pgpass or PGPASSFILE. No password is ever printed.
Every change is one transaction: a refused or failed command changes nothing.

Commands that change the database (each takes --reason TEXT, kept in the audit):
  create DATABASE [--sample]     Make a new database: the three tables and the one settings
                                 row (ResetDaily yes, IdleGapMinutes 10, CurrentUserCommand
                                 timeleft, ServerPort 80), and the tables of the history, the
                                 extra minutes and the audit. --sample adds the users JSMITH
                                 (60 minutes) and PJANSEN (unlimited). On PostgreSQL it makes
                                 the tables, their change notices and the roles minutrix_filter
                                 (reads; charges minutes, never allowances or users) and
                                 minutrix_admin (everything) where they are missing: running it
                                 again changes nothing. A database holding other tables is
                                 refused.
  add-user DATABASE NAME MINUTES [--group GROUP]
                                 Add a user. NAME is the login name without domain (UTF-8, at
                                 most 59 bytes, stored upper-case, not starting with @ nor *);
                                 MINUTES is the allowance per period, 0 to 2147483647, or -1 for
                                 unlimited access. --group puts the user in a group.
  rename-user DATABASE NAME NEW  Change a user's name (the extra minutes, the group and the
                                 user's own schedule go along; the history stays under the old
                                 name).
  remove-user DATABASE NAME      Remove a user with the user's extra minutes, group membership
                                 and own schedule (the history stays until HistoryDays have
                                 passed).
  set-allowance DATABASE NAME MINUTES
                                 Change a user's allowance (-1 for unlimited). For allowances
                                 by weekday, see below.
  set-used DATABASE NAME MINUTES Set the minutes a user has used in this period (0 restarts it;
                                 at most 2147483647).
  add-minutes DATABASE NAME N    Give a user N extra minutes for this period only (a negative N
                                 takes minutes away); the next reset ends them. The allowance
                                 (of today: the weekday's, where one is set) plus the extra
                                 never goes below 0: a larger cut stops there, with a warning.
                                 Refused for a user with unlimited access today. Two
                                 administrators adding at the same moment get both added.
  add-site DATABASE TEXT         Add a free site: every URL that contains TEXT (in any case,
                                 anywhere: host, path or query string) costs no time. Use it
                                 for entries such as 127.0.0.2:8080/free. At most 254 bytes.
  add-site DATABASE --host NAME  Add a free host: only URLs whose host is NAME or ends in .NAME
                                 cost no time (stored as the row host:NAME). A user cannot
                                 make another site free by adding NAME to its query. NAME
                                 needs a dot (example.org, not org) unless it is [an:address].
  remove-site DATABASE [--host] TEXT
                                 Remove a free site.
  set DATABASE KEY VALUE         Change a setting. KEY is one of
                                   ResetDaily, ResetWeekly, ResetMonthly, ShowStartMessage,
                                   WarningMode, UsersChanged      (yes or no)
                                   IdleGapMinutes                 (minutes, 0 to 2147483647;
                                                                   0 charges nothing)
                                   DeniedMessage                  (text, at most 254 bytes)
                                   CurrentUserCommand             (text, at most 49 bytes)
                                   ServerPort                     (1 to 65535)
                                   HistoryDays                    (days of history kept, 0 to
                                                                   36500; default 400; 0 keeps
                                                                   none)
                                   HistoryHosts                   (yes or no, default yes: no
                                                                   keeps the minutes without
                                                                   the site they were spent on)
                                   OutsideHoursMessage            (text, at most 254 bytes,
                                                                   shown outside the allowed
                                                                   hours; empty gives the
                                                                   default "Browsing is not
                                                                   allowed at this hour.")

Classes and schedules (changes too: each takes --reason TEXT, and the filter sees it at the
user's next request):
  add-group DATABASE GROUP       Add a group, such as a class. Group names compare without
                                 case and are stored upper-case (UTF-8, at most 59 bytes).
  remove-group DATABASE GROUP    Remove a group with its schedule; refused while it has
                                 members.
  set-group DATABASE NAME GROUP  Put a user in a group (a user is in at most one); GROUP -
                                 takes the user out of its group.
  set-allowance DATABASE NAME|@GROUP MINUTES --days DAYS
                                 The allowance of a user or a group (@GROUP) on the weekdays
                                 DAYS: mon-fri, sat,sun, mon-wed,fri, ... A @GROUP without
                                 --days: all seven days. MINUTES none removes the entries of
                                 those days. The allowance of a day is the user's own entry
                                 for the weekday, else the group's, else the user's allowance
                                 (set-allowance NAME MINUTES). Entries by weekday apply while
                                 the periods are days: refused while ResetWeekly or
                                 ResetMonthly is yes, and ignored when either is set later.
  set-hours DATABASE NAME|@GROUP|* WINDOW...
                                 The hours in which a user, a group or everyone (*) may
                                 browse, replacing those set before. A WINDOW is a day list
                                 and a time window, two words: mon-fri 08:00-16:30 sat
                                 10:00-12:00. A window may cross midnight (fri 22:00-02:00) or
                                 end at 24:00. Once there are hours, a day without a window
                                 allows no browsing. none removes the hours. The user's own hours apply, else the
                                 group's, else everyone's. Outside them a request is denied
                                 with OutsideHoursMessage and the time browsing opens again;
                                 nothing is charged, free sites stay open, and unlimited users
                                 are bound too.
  set-free-hours DATABASE NAME|@GROUP|* WINDOW...
                                 Hours in which browsing costs no time, even for a user out of
                                 minutes: the same form and order as set-hours.

Commands that only read:
  users DATABASE                 List the users with their allowance, the minutes used and
                                 left in this period, the extra minutes of this period
                                 (EXTRA; LEFT counts them) and the group (GROUP, the last
                                 column; - for none).
  groups DATABASE                List the groups with their members' count and schedule, then
                                 everyone's schedule (*) and users' own schedules.
  sites DATABASE                 List the free sites (warns when a plain row would also match
                                 query strings).
  settings DATABASE              Show the settings, HistoryDays and HistoryHosts included.
  report DATABASE [--by day|user|site|hour] [--from YYYY-MM-DD] [--to YYYY-MM-DD]
         [--user NAME] [--format text|csv|json|html] [--lang en|nl] [--output FILE]
                                 Charged minutes of the history, by day and user (the
                                 default), by user (with the days used and the allowance), by
                                 site (with the users), or by hour of the day (local time; a
                                 run of minutes across an hour counts in each). The days run
                                 from --from to --to, both included (default: the last 7 days
                                 up to today); --user keeps one user. text is aligned with a
                                 total line (in English, or Dutch with --lang nl); csv has the
                                 head line date,user,minutes / user,minutes,days,allowance /
                                 site,minutes,users / hour,minutes; json is an array of objects
                                 with those names (allowance -1 is unlimited, empty or null a
                                 user no longer listed; site empty: not recorded); html is one
                                 printable page with a bar chart and the table, that needs no
                                 network and no script. --output writes the report to FILE
                                 (never the database). A period without minutes says
                                 "no usage".
  history DATABASE NAME [--date YYYY-MM-DD]
                                 One user's charged minutes of a day (default today), run by
                                 run: from, to, minutes and the site.
  audit DATABASE [--from YYYY-MM-DD] [--user NAME]
                                 The changes made with minutrix-db, oldest first: when, who
                                 (SUDO_USER, else LOGNAME, else the uid), the command, the user
                                 or setting, the value before and after, and the reason.

Moving a store between a file and a server:
  copy SOURCE TARGET [--replace] Copy the whole store (users, settings, free sites, the reset
                                 marker, history, audit, groups and schedules) from SOURCE to
                                 TARGET, either a file or a connection string: SQLite to
                                 PostgreSQL and back. A missing target file is made; a server's
                                 database gets the tables and roles first. A target that holds
                                 rows is refused unless --replace. One transaction on the
                                 target: all is copied or nothing. Long copies print progress
                                 on standard error.

Backup and restore of a file, while the filter runs:
  backup DATABASE FILE           Write a copy of the database to FILE: one consistent moment,
                                 every minute charged until then included (also those not yet
                                 in the database file itself, which a copy with cp misses).
                                 FILE is replaced only by a whole copy.
  restore FILE DATABASE          Replace the database with the backup FILE (checked first): a
                                 copy beside it, with its owner and mode, renamed over it. The
                                 running filter reads it at its next request.

No text may hold a control character (line break, tab or other).

Example, a school week: class 5A has 30 minutes a day on school days and 90 at the weekend,
browses from 08:00 to 16:30 on school days (and all day at the weekend), and has a free lesson
hour on Wednesday from 10:00 to 11:00:
  minutrix-db add-group DATABASE 5A
  minutrix-db add-user DATABASE anna 30 --group 5A
  minutrix-db set-group DATABASE jsmith 5A
  minutrix-db set-allowance DATABASE @5A 30 --days mon-fri
  minutrix-db set-allowance DATABASE @5A 90 --days sat,sun
  minutrix-db set-hours DATABASE @5A mon-fri 08:00-16:30 sat,sun 00:00-24:00
  minutrix-db set-free-hours DATABASE @5A wed 10:00-11:00
  minutrix-db groups DATABASE

Each change prints one line saying what it changed; warnings (a change that was made but is
likely not what was meant, such as used minutes above the allowance) go to standard error.
The commands that change users, extra minutes, groups, schedules, HistoryDays, HistoryHosts
or OutsideHoursMessage also set UsersChanged, so that a running filter reads them again at its
next request.

Exit status: 0 on success, 1 when the command failed or was refused, 2 for a usage error.
)";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "minutrix-db: %s\nTry 'minutrix-db --help'.\n", message.c_str());
  return 2;
}

// The options each command takes, each with one value.
const std::map<std::string, std::set<std::string>> kOptions = {
    {"report", {"--by", "--from", "--to", "--user", "--format", "--lang", "--output"}},
    {"history", {"--date"}},
    {"audit", {"--from", "--user"}},
};
// The options of the changes beyond --reason, each with one value.
const std::map<std::string, std::set<std::string>> kChangeOptions = {
    {"add-user", {"--group"}},
    {"set-allowance", {"--days"}},
};
const std::set<std::string> kChanges = {
    "create",    "add-user",     "rename-user", "remove-user", "set-allowance",
    "set-used",  "add-minutes",  "add-site",    "remove-site", "set",
    "add-group", "remove-group", "set-group",   "set-hours",   "set-free-hours"};

bool IsChangeOption(const std::string& command, const std::string& word) {
  if (word == "--reason") return true;
  const auto known = kChangeOptions.find(command);
  return known != kChangeOptions.end() && known->second.count(word) != 0;
}

// Takes the options of `command` out of `args` into `options`. The reading commands refuse any
// other word that starts with "--"; the changes take only --reason and their own options, and
// leave other words alone (a free-site text may start with dashes). Returns a message for a usage
// error, else empty.
std::string TakeOptions(const std::string& command, std::vector<std::string>& args,
                        user_times_db::Options& options) {
  const auto known = kOptions.find(command);
  const bool change = kChanges.count(command) != 0;
  if (known == kOptions.end() && !change) return "";
  for (std::size_t i = 1; i < args.size();) {
    const std::string& word = args[i];
    const bool option =
        change ? IsChangeOption(command, word) : word.rfind("--", 0) == 0 && word.size() > 2;
    if (!option) {
      ++i;
      continue;
    }
    if (!change && known->second.count(word) == 0)
      return "'" + command + "' has no option " + word + ".";
    if (i + 1 >= args.size()) return word + " needs a value.";
    if (!options.emplace(word, args[i + 1]).second) return word + " is given twice.";
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  return "";
}

// MINUTES of an allowance by weekday: none removes the entries.
std::optional<std::int64_t> WeekdayMinutes(const std::string& text) {
  if (platform::EqualsNoCase(text, "none")) return std::nullopt;
  return store::ParseInteger(text, "MINUTES");
}

// The weekdays of --days; all seven without it.
std::vector<int> Days(const user_times_db::Options& options) {
  const auto given = options.find("--days");
  if (given == options.end()) return {0, 1, 2, 3, 4, 5, 6};
  std::string error;
  const auto days = store::ParseDays(given->second, error);
  if (!days) throw store::Refusal(store::Printable("--days: " + error + "."));
  return *days;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (args.empty()) return UsageError("no command given.");
  const std::string command = args[0];
  bool by_host = false;
  if (command == "add-site" || command == "remove-site") {
    for (auto it = args.begin() + 1; it != args.end(); ++it) {
      if (*it == "--host") {
        by_host = true;
        args.erase(it);
        break;
      }
    }
  }
  namespace db = user_times_db;
  db::Options options;
  if (const std::string error = TakeOptions(command, args, options); !error.empty())
    return UsageError(error);
  const auto need = [&](size_t count) { return args.size() == count + 1; };
  const store::Actor actor{platform::LoginName(),
                           options.count("--reason") != 0 ? options.at("--reason") : ""};
  const auto tell = [](const store::ChangeResult& result) {
    std::printf("%s\n", result.done.c_str());
    for (const std::string& warning : result.warnings)
      std::fprintf(stderr, "minutrix-db: warning: %s\n", warning.c_str());
  };
  using Connection = const ado::ConnectionPtr&;
  try {
    if (command == "create" && (need(1) || (need(2) && args[2] == "--sample"))) {
      std::printf("%s\n", db::Create(args[1], args.size() == 3, actor).c_str());
    } else if (command == "copy" && (need(2) || (need(3) && args[3] == "--replace"))) {
      std::printf("%s\n", db::Copy(args[1], args[2], args.size() == 4, std::cerr).c_str());
    } else if (command == "users" && need(1)) {
      db::ListUsers(args[1], std::cout);
    } else if (command == "add-user" && need(3)) {
      const std::int64_t minutes = store::ParseInteger(args[3], "MINUTES");
      const std::string group = options.count("--group") != 0 ? options.at("--group") : "";
      if (options.count("--group") != 0 && group.empty())
        throw store::Refusal("--group needs the name of a group.");
      tell(db::Change(args[1], [&](Connection c) {
        return store::AddUser(c, actor, args[2], minutes, group);
      }));
    } else if (command == "rename-user" && need(3)) {
      tell(db::Change(args[1],
                      [&](Connection c) { return store::RenameUser(c, actor, args[2], args[3]); }));
    } else if (command == "remove-user" && need(2)) {
      tell(db::Change(args[1], [&](Connection c) { return store::RemoveUser(c, actor, args[2]); }));
    } else if (command == "set-allowance" && need(3) &&
               (options.count("--days") != 0 || args[2].rfind('@', 0) == 0 ||
                platform::EqualsNoCase(args[3], "none"))) {
      tell(db::Change(args[1], [&](Connection c) {
        return store::SetWeekdayAllowance(c, actor, args[2], WeekdayMinutes(args[3]),
                                          Days(options));
      }));
    } else if (command == "set-allowance" && need(3)) {
      const std::int64_t minutes = store::ParseInteger(args[3], "MINUTES");
      tell(db::Change(
          args[1], [&](Connection c) { return store::SetAllowance(c, actor, args[2], minutes); }));
    } else if (command == "set-used" && need(3)) {
      const std::int64_t minutes = store::ParseInteger(args[3], "MINUTES");
      tell(db::Change(args[1],
                      [&](Connection c) { return store::SetUsed(c, actor, args[2], minutes); }));
    } else if (command == "add-minutes" && need(3)) {
      const std::int64_t minutes = store::ParseInteger(args[3], "N");
      tell(db::Change(args[1],
                      [&](Connection c) { return store::AddMinutes(c, actor, args[2], minutes); }));
    } else if (command == "add-group" && need(2)) {
      tell(db::Change(args[1], [&](Connection c) { return store::AddGroup(c, actor, args[2]); }));
    } else if (command == "remove-group" && need(2)) {
      tell(
          db::Change(args[1], [&](Connection c) { return store::RemoveGroup(c, actor, args[2]); }));
    } else if (command == "set-group" && need(3)) {
      tell(db::Change(args[1],
                      [&](Connection c) { return store::SetGroup(c, actor, args[2], args[3]); }));
    } else if ((command == "set-hours" || command == "set-free-hours") && args.size() >= 4) {
      const auto windows = store::ParseWindows({args.begin() + 3, args.end()});
      const auto kind =
          command == "set-hours" ? store::HoursKind::kAllowed : store::HoursKind::kFree;
      tell(db::Change(args[1], [&](Connection c) {
        return store::SetHours(c, actor, args[2], kind, windows);
      }));
    } else if (command == "groups" && need(1)) {
      db::ListGroups(args[1], std::cout);
    } else if (command == "sites" && need(1)) {
      db::ListSites(args[1], std::cout, std::cerr);
    } else if (command == "add-site" && need(2)) {
      tell(db::Change(args[1],
                      [&](Connection c) { return store::AddSite(c, actor, args[2], by_host); }));
    } else if (command == "remove-site" && need(2)) {
      tell(db::Change(args[1],
                      [&](Connection c) { return store::RemoveSite(c, actor, args[2], by_host); }));
    } else if (command == "settings" && need(1)) {
      db::ShowSettings(args[1], std::cout);
    } else if (command == "set" && need(3)) {
      tell(db::Change(args[1],
                      [&](Connection c) { return store::SetSetting(c, actor, args[2], args[3]); }));
    } else if (command == "report" && need(1)) {
      db::Report(args[1], options, std::cout, std::cerr);
    } else if (command == "history" && need(2)) {
      db::History(args[1], args[2], options, std::cout);
    } else if (command == "audit" && need(1)) {
      db::Audit(args[1], options, std::cout);
    } else if (command == "backup" || command == "restore") {
      if (!need(2)) return UsageError("wrong arguments for '" + command + "'.");
      tell(command == "backup" ? db::Backup(args[1], args[2]) : db::Restore(args[1], args[2]));
    } else {
      for (const char* name :
           {"create",      "copy",           "users",     "add-user",     "rename-user",
            "remove-user", "set-allowance",  "set-used",  "add-minutes",  "sites",
            "add-site",    "remove-site",    "settings",  "set",          "report",
            "history",     "audit",          "add-group", "remove-group", "set-group",
            "set-hours",   "set-free-hours", "groups"}) {
        if (command == name) return UsageError("wrong arguments for '" + command + "'.");
      }
      return UsageError("unknown command '" + command + "'.");
    }
  } catch (const db::DbError& error) {
    std::fprintf(stderr, "minutrix-db: error: %s\n", error.what());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "minutrix-db: error: %s\n", error.what());
    return 1;
  }
  return 0;
}
