// minutrix-admin: the administration console of Minutrix in the browser, and its accounts.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "admin/accounts.h"
#include "admin/console.h"
#include "platform/ado.h"
#include "platform/machine.h"
#include "platform/shlwapi.h"
#include "platform/text.h"
#include "platform/web/http_server.h"
#include "platform/web/secrets.h"

namespace {

constexpr const char* kUsage = R"(Usage: minutrix-admin COMMAND [ARGUMENTS]

The administration console of Minutrix: a web server with the Today board (who browses, who is
out of minutes, +15 with one click), users and classes, free sites, settings, reports, the
audit and the filter's health, for administrators and teachers. It works on the machine root's
store as the filter does: the database c:\Minutrix\UserTimesDB\UserTimesDB.mdb of the machine
root in MINUTRIX_ROOT (default /var/lib/minutrix/machine), or the PostgreSQL store that the
machine's registry value MinutrixStore (HKLM\software\Minutrix) names.

Commands:
  serve [--listen ADDR:PORT] [--tls-cert FILE --tls-key FILE] [--trusted-proxy ADDR]
        [--store CONNECTION]
        Serve the console until SIGINT or SIGTERM, on 127.0.0.1:8090 unless --listen says
        otherwise (port 0 takes a free port; the address served is printed). With a
        certificate and its key (PEM), it speaks HTTPS itself. Behind nginx, give nginx's
        address as --trusted-proxy: only from there are X-Real-IP (the browser's address,
        for the login throttle) and X-Forwarded-Proto (https makes the cookie Secure) taken,
        and nginx must set both (proxy_set_header). Nothing else from the client is trusted.
        --store takes a PostgreSQL connection string (a postgresql:// URI or libpq's
        key=value form; the password belongs in ~/.pgpass or PGPASSFILE, never here) in
        place of the machine's store.
  passwd NAME [--role admin|teacher] [--groups G1,G2]
        Add an account, or change its password (and role and classes). The password comes
        from standard input, or is asked for without echo at a terminal; at least 8
        characters. A new account is an admin unless --role says teacher; a teacher sees
        and changes only the users of its classes (--groups, the class names).
  users
        List the accounts with their role and classes.
  remove NAME
        Remove an account; its sessions end at their next request.

Files of the machine root: c:\Minutrix\minutrix-admin.accounts (the accounts with yescrypt
hashes of their passwords; mode 0600, owned by the owner of c:\Minutrix so that the service
reads it) and c:\Minutrix\minutrix-admin.log (the console's log: starts, logins, throttled
logins, database failures).

Exit status: 0 on success, 1 when the command failed, 2 for a usage error.
)";

constexpr const char* kAccountsFile = "c:\\Minutrix\\minutrix-admin.accounts";
constexpr const char* kLogFile = "c:\\Minutrix\\minutrix-admin.log";
constexpr const char* kDatabase = "c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb";
constexpr size_t kMinPassword = 8;

// Set once the server has stopped serving; read by the thread that waits for the signals, which
// outlives Serve.
std::atomic<bool> g_served{false};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "minutrix-admin: %s\nTry 'minutrix-admin --help'.\n", message.c_str());
  return 2;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "minutrix-admin: error: %s\n", message.c_str());
  return 1;
}

std::filesystem::path MachinePath(const char* windows_path) {
  const auto path = platform::HostPath(windows_path);
  if (!path) throw admin::AccountError(std::string(windows_path) + " maps to no folder");
  return *path;
}

// Options of the form --name VALUE after the command's own arguments.
struct Options {
  std::vector<std::string> positional;
  std::map<std::string, std::string> named;
};

std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    std::initializer_list<const char*> known, std::string& error) {
  Options options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      options.positional.push_back(arg);
      continue;
    }
    bool found = false;
    for (const char* name : known) found = found || arg == name;
    if (!found) {
      error = "unknown option '" + arg + "' for '" + args[0] + "'.";
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      error = "option " + arg + " needs a value.";
      return std::nullopt;
    }
    if (options.named.count(arg) != 0) {
      error = "option " + arg + " is given twice.";
      return std::nullopt;
    }
    options.named[arg] = args[++i];
  }
  return options;
}

int Serve(const Options& options) {
  if (!options.positional.empty()) return UsageError("serve takes no arguments, only options.");
  std::string listen = "127.0.0.1:8090";
  if (auto found = options.named.find("--listen"); found != options.named.end()) {
    listen = found->second;
  }
  const size_t colon = listen.rfind(':');
  int port = -1;
  std::string address;
  if (colon != std::string::npos) {
    address = listen.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
      address = address.substr(1, address.size() - 2);
    }
    try {
      size_t used = 0;
      port = std::stoi(listen.substr(colon + 1), &used);
      if (used != listen.size() - colon - 1) port = -1;
    } catch (const std::exception&) {
      port = -1;
    }
  }
  if (address.empty() || port < 0 || port > 65535) {
    return UsageError("--listen takes ADDRESS:PORT, such as 127.0.0.1:8090, not '" + listen + "'.");
  }
  const auto option = [&](const char* name) {
    const auto found = options.named.find(name);
    return found == options.named.end() ? std::string() : found->second;
  };
  const std::string certificate = option("--tls-cert");
  const std::string key = option("--tls-key");
  if (certificate.empty() != key.empty()) {
    return UsageError("--tls-cert and --tls-key go together.");
  }
  admin::ConsoleOptions console_options;
  console_options.trusted_proxy = option("--trusted-proxy");
  // The store the machine's filter uses: a server named in the registry, else the file.
  std::string store = option("--store");
  if (store.empty()) {
    store = platform::Trim(
        platform::GetValueText(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixStore"),
        platform::kWhitespace);
  }
  if (!store.empty() && !ado::IsPostgreSqlConnectionString(store)) {
    const std::string text = "the store '" + ado::RedactConnectionString(store) +
                             "' is no PostgreSQL connection string (postgresql://... or host=... "
                             "dbname=...).";
    return option("--store").empty() ? Failure("MinutrixStore: " + text) : UsageError(text);
  }
  try {
    const auto database = MachinePath(kDatabase);
    if (!store.empty()) {
      console_options.connection_string = store;
    } else if (!std::filesystem::is_regular_file(database)) {
      return Failure("there is no database " + database.string() +
                     " (is Minutrix installed on this machine? MINUTRIX_ROOT is " +
                     platform::MachineRoot().string() + ")");
    } else {
      console_options.connection_string = std::string("Data Source=") + kDatabase + ";";
    }
    console_options.accounts_file = MachinePath(kAccountsFile);
    console_options.log_file = MachinePath(kLogFile);
  } catch (const admin::AccountError& error) {
    return Failure(error.what());
  }
  try {
    if (admin::Accounts(console_options.accounts_file).List().empty()) {
      std::fprintf(stderr,
                   "minutrix-admin: warning: no accounts yet; nobody can log in until one is "
                   "added with: minutrix-admin passwd NAME\n");
    }
  } catch (const admin::AccountError& error) {
    std::fprintf(stderr, "minutrix-admin: warning: nobody can log in: %s\n", error.what());
  }
  if (platform::ReadableByOthers(console_options.accounts_file)) {
    std::fprintf(stderr,
                 "minutrix-admin: warning: %s can be read by other users; "
                 "chmod 600 it.\n",
                 console_options.accounts_file.string().c_str());
  }
  std::string error;
  auto server = platform::HttpServer::Create(certificate, key, error);
  if (!server) return Failure(error);
  // Before the server's threads start, so that they all leave the signals to the waiting one.
  platform::HttpServer* const running = server.get();
  platform::OnTerminationSignal([running] {
    // A signal between the bind and the start of serving would find nothing to stop yet: asked
    // again until serving has ended.
    while (!g_served.load()) {
      running->Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const int bound = server->Bind(address, port, error);
  if (bound < 0) return Failure(error);
  admin::Console console(console_options);
  const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
  const std::string url =
      (certificate.empty() ? "http://" : "https://") + host + ":" + std::to_string(bound) + "/";
  console.Log("Serving " + url + " for the machine root " + platform::MachineRoot().string());
  std::printf("Listening on %s\n", url.c_str());
  std::fflush(stdout);
  const bool served = server->Run(
      [&console](const platform::HttpRequest& request, platform::HttpResponse& response) {
        console.Handle(request, response);
      });
  g_served.store(true);
  console.Log("Stopped");
  return served ? 0 : Failure("the server could not run");
}

int Passwd(const Options& options, admin::Accounts& accounts) {
  if (options.positional.size() != 1) return UsageError("passwd takes one NAME.");
  admin::Account account;
  account.name = options.positional[0];
  if (const std::string why = admin::CheckAccountName(account.name); !why.empty()) {
    return Failure(why + ".");
  }
  const auto existing = accounts.Find(account.name);
  if (existing) {
    account.name = existing->name;
    account.role = existing->role;
    account.groups = existing->groups;
  }
  if (auto role = options.named.find("--role"); role != options.named.end()) {
    const auto parsed = admin::ParseRole(role->second);
    if (!parsed) return UsageError("--role is admin or teacher, not '" + role->second + "'.");
    account.role = *parsed;
  }
  if (auto groups = options.named.find("--groups"); groups != options.named.end()) {
    account.groups = admin::ParseGroups(groups->second);
  }
  if (account.role == admin::Role::kTeacher && account.groups.empty()) {
    return Failure("a teacher needs its classes: give --groups G1,G2.");
  }
  if (account.role == admin::Role::kAdmin) account.groups.clear();
  const auto password = platform::ReadPassword("Password for " + account.name + ": ");
  if (!password) return Failure("no password given (standard input ended).");
  if (password->size() < kMinPassword) {
    return Failure("the password is shorter than " + std::to_string(kMinPassword) +
                   " characters; nothing was changed.");
  }
  account.hash = platform::HashPassword(*password);
  if (account.hash.empty()) return Failure("the system's crypt library made no yescrypt hash.");
  const bool added = accounts.Set(account);
  std::printf("%s %s (%s%s%s).\n", added ? "Added" : "Changed the password of",
              account.name.c_str(), admin::RoleName(account.role),
              account.groups.empty() ? "" : ", classes ",
              [&] {
                std::string list;
                for (const auto& g : account.groups) list += (list.empty() ? "" : ",") + g;
                return list;
              }()
                  .c_str());
  return 0;
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
  const std::string& command = args[0];
  std::string error;
  try {
    if (command == "serve") {
      const auto options = ParseOptions(
          args, {"--listen", "--tls-cert", "--tls-key", "--trusted-proxy", "--store"}, error);
      if (!options) return UsageError(error);
      return Serve(*options);
    }
    if (command != "passwd" && command != "users" && command != "remove") {
      return UsageError("unknown command '" + command + "'.");
    }
    admin::Accounts accounts(MachinePath(kAccountsFile));
    if (command == "passwd") {
      const auto options = ParseOptions(args, {"--role", "--groups"}, error);
      if (!options) return UsageError(error);
      return Passwd(*options, accounts);
    }
    if (command == "users") {
      if (args.size() != 1) return UsageError("users takes no arguments.");
      const auto list = accounts.List();
      if (list.empty()) std::printf("No accounts yet; add one with minutrix-admin passwd NAME.\n");
      for (const auto& account : list) {
        std::string groups;
        for (const auto& g : account.groups) groups += (groups.empty() ? "" : ",") + g;
        std::printf("%-24s %-8s %s\n", account.name.c_str(), admin::RoleName(account.role),
                    groups.c_str());
      }
      return 0;
    }
    if (args.size() != 2) return UsageError("remove takes one NAME.");
    if (!accounts.Remove(args[1])) return Failure("there is no account " + args[1] + ".");
    std::printf("Removed %s.\n", args[1].c_str());
    return 0;
  } catch (const admin::AccountError& failure) {
    return Failure(failure.what());
  } catch (const std::exception& failure) {
    return Failure(failure.what());
  }
}
