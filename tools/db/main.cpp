// minutrix-db: creates and administers the filter's database UserTimesDB.mdb.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/db/backup.h"
#include "tools/db/user_times_db.h"

namespace {

constexpr const char* kUsage = R"(Usage: minutrix-db COMMAND DATABASE [ARGUMENTS]

Administers UserTimesDB.mdb, the database of the Minutrix filter (an SQLite file).
DATABASE is a host path, or a Windows path (X:\...) of the machine root in MINUTRIX_ROOT.
Every change is one transaction: a refused or failed command changes nothing.

Commands:
  create DATABASE [--sample]     Make a new database: the three tables and the one settings
                                 row (ResetDaily yes, IdleGapMinutes 10, CurrentUserCommand
                                 timeleft, ServerPort 80). --sample adds the users JSMITH
                                 (60 minutes) and PJANSEN (unlimited).
  users DATABASE                 List the users with their allowance and minutes used and left.
  add-user DATABASE NAME MINUTES Add a user. NAME is the login name without domain (UTF-8, at
                                 most 59 bytes, stored upper-case); MINUTES is the allowance per
                                 period, 0 to 2147483647, or -1 for unlimited access.
  rename-user DATABASE NAME NEW  Change a user's name.
  remove-user DATABASE NAME      Remove a user.
  set-allowance DATABASE NAME MINUTES
                                 Change a user's allowance (-1 for unlimited).
  set-used DATABASE NAME MINUTES Set the minutes a user has used in this period (0 restarts it;
                                 at most 2147483647).
  sites DATABASE                 List the free sites (warns when a plain row would also match
                                 query strings).
  add-site DATABASE TEXT         Add a free site: every URL that contains TEXT (in any case,
                                 anywhere: host, path or query string) costs no time. Use it
                                 for entries such as 127.0.0.2:8080/free. At most 254 bytes.
  add-site DATABASE --host NAME  Add a free host: only URLs whose host is NAME or ends in .NAME
                                 cost no time (stored as the row host:NAME). A user cannot
                                 make another site free by adding NAME to its query. NAME
                                 needs a dot (example.org, not org) unless it is [an:address].
  remove-site DATABASE [--host] TEXT
                                 Remove a free site.
  settings DATABASE              Show the settings.
  set DATABASE KEY VALUE         Change a setting. KEY is one of
                                   ResetDaily, ResetWeekly, ResetMonthly, ShowStartMessage,
                                   WarningMode, UsersChanged      (yes or no)
                                   IdleGapMinutes                 (minutes, 0 to 2147483647;
                                                                   0 charges nothing)
                                   DeniedMessage                  (text, at most 254 bytes)
                                   CurrentUserCommand             (text, at most 49 bytes)
                                   ServerPort                     (1 to 65535)
  backup DATABASE FILE           Write a copy of the database to FILE while the filter runs:
                                 one consistent moment, every minute charged until then
                                 included (also those not yet in the database file itself).
                                 A copy with cp misses those. FILE is replaced only by a whole
                                 copy.
  restore FILE DATABASE          Replace the database with the backup FILE (checked first): a
                                 copy beside it, with its owner and mode, renamed over it. The
                                 running filter reads it at its next request.

No text may hold a control character (line break, tab or other).

Each change prints one line saying what it changed; warnings (a change that was made but is
likely not what was meant, such as used minutes above the allowance) go to standard error.
The commands that change users also set UsersChanged, so that a running filter reads the users
again at its next request.

Exit status: 0 on success, 1 when the command failed or was refused, 2 for a usage error.
)";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "minutrix-db: %s\nTry 'minutrix-db --help'.\n", message.c_str());
  return 2;
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
  const auto need = [&](size_t count) { return args.size() == count + 1; };
  namespace db = user_times_db;
  const auto tell = [](const db::Report& report) {
    std::printf("%s\n", report.done.c_str());
    for (const std::string& warning : report.warnings)
      std::fprintf(stderr, "minutrix-db: warning: %s\n", warning.c_str());
  };
  try {
    if (command == "create" && (need(1) || (need(2) && args[2] == "--sample"))) {
      db::Create(args[1], args.size() == 3);
      std::printf("Created %s\n", args[1].c_str());
    } else if (command == "users" && need(1)) {
      db::ListUsers(args[1], std::cout);
    } else if (command == "add-user" && need(3)) {
      tell(db::AddUser(args[1], args[2], db::ParseInteger(args[3], "MINUTES")));
    } else if (command == "rename-user" && need(3)) {
      tell(db::RenameUser(args[1], args[2], args[3]));
    } else if (command == "remove-user" && need(2)) {
      tell(db::RemoveUser(args[1], args[2]));
    } else if (command == "set-allowance" && need(3)) {
      tell(db::SetAllowance(args[1], args[2], db::ParseInteger(args[3], "MINUTES")));
    } else if (command == "set-used" && need(3)) {
      tell(db::SetUsed(args[1], args[2], db::ParseInteger(args[3], "MINUTES")));
    } else if (command == "sites" && need(1)) {
      db::ListSites(args[1], std::cout, std::cerr);
    } else if (command == "add-site" && need(2)) {
      tell(db::AddSite(args[1], args[2], by_host));
    } else if (command == "remove-site" && need(2)) {
      tell(db::RemoveSite(args[1], args[2], by_host));
    } else if (command == "settings" && need(1)) {
      db::ShowSettings(args[1], std::cout);
    } else if (command == "set" && need(3)) {
      tell(db::SetSetting(args[1], args[2], args[3]));
    } else if ((command == "backup" || command == "restore") && need(2)) {
      tell(command == "backup" ? db::Backup(args[1], args[2]) : db::Restore(args[1], args[2]));
    } else {
      const char* known[] = {"create",        "users",    "add-user", "rename-user", "remove-user",
                             "set-allowance", "set-used", "sites",    "add-site",    "remove-site",
                             "settings",      "set",      "backup",   "restore"};
      for (const char* name : known) {
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
