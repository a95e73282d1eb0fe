// minutrix-squid-helper: a Squid url_rewrite helper that hosts the ISAPI filters of this machine,
// delivering each request to them as the web server would and answering in Squid's syntax.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hosts/squid/filter_chain.h"
#include "hosts/squid/free_sites.h"
#include "hosts/squid/squid_config.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "platform/services.h"

namespace {

constexpr const char* kHelp =
    R"(Usage: minutrix-squid-helper [--filter PATH]... [--server-name NAME] [--extras FORM]
                             [--store-down-policy refuse|allow]
       minutrix-squid-helper --squid-config [--server-name NAME] [--product-port PORT]
                             [--concurrency N] [--extras FORM] [--filter PATH]...
                             [--ssl-bump CERT [--http-port PORT] [--ssl-db DIR]
                              [--splice-host HOST]...]

A Squid url_rewrite helper that hosts ISAPI filters. It loads the filters registered with
the web server of the machine in $MINUTRIX_ROOT (registry HKLM\SYSTEM\ControlSet001\Services\
W3SVC\Filters: "FilterLoadOrder" lists the names, each name's subkey holds "FilterPath"),
and any given with --filter (a host path or a Windows path of the machine). Each filter's
GetFilterVersion is called once; a filter that answers FALSE is not used.

The helper is that machine's web service W3SVC: while "net stop w3svc" has it recorded as
stopped (services.state of the machine root), every request passes unfiltered and no filter
is loaded; the state is looked at before each request. "net start w3svc" runs the profile's
Start= command, which for a running Squid is "squid -k reconfigure": Squid then starts a new
helper, which loads the filters registered at that moment.

Squid writes one request per line ("[channel-ID] URL extras"); the helper answers one line
per request, in order:
  ERR                          the request passes unchanged
  OK status=302 url="..."      the filter redirected (the product page)
  OK minutrix=block            the filter ended the request; squid.conf makes Squid answer 403
                               (a CONNECT, which no redirect can reach, is refused when the
                               filter denies it; the start page lets its tunnel open)
  OK minutrix=block            also for a line that does not fit the extras: it is never
                               passed unfiltered (the first such line is reported on stderr)
  BH message="..."             the helper itself failed on this line; it goes on

Options:
  --server-name NAME   the proxy's host name as the browsers know it (SERVER_NAME); the
                       product page is at http://NAME:PORT/Minutrix/Minutrix.asp
                       (default: this machine's host name; it must not be empty). Only a
                       URL whose host is NAME (with or without a port) is this server's.
  --extras FORM        the extras Squid appends to each line (url_rewrite_extras):
                         keyed    "ip=%>a method=%>rm user=%#un" (the default; --squid-config
                                  prints that line)
                         default  Squid's own default "%>a/%>A %un %>rm myip=%la myport=%lp",
                                  when squid.conf sets no url_rewrite_extras; the user name
                                  runs from the third word up to the method word
                       The form is never guessed from a line.
  --filter PATH        load this filter library too
  --store-down-policy refuse|allow
                       when the filters share one store (registry value MinutrixStore, a
                       PostgreSQL server) and it cannot be reached: "refuse" (the default)
                       refuses every authenticated request (OK minutrix=block) as a store
                       failure always did, "allow" lets them through uncharged. Each answer
                       still comes at once; the store is tried again once a second and the
                       filter's log tells when the outage starts and when it ends. This
                       option wins over the registry value StoreDownPolicy, which the
                       administrator may set instead (the store that holds the other
                       settings is the one that is down). Passed to the filters as the
                       environment variable MINUTRIX_STORE_DOWN_POLICY.
  --squid-config       print the squid.conf lines that hook this helper in, and exit
  --product-port PORT  with --squid-config: the port of the product page (ServerPort)
  --concurrency N      with --squid-config: Squid's concurrency for the helper (default 0)
  --ssl-bump CERT      with --squid-config: also print the SslBump lines of Debian's
                       squid-openssl, so that HTTPS sites are decrypted with the proxy's
                       certificate authority CERT (its certificate and key in one PEM file)
                       and the filter's pages answer https:// requests too. The free sites
                       of the filters' databases (read now: print the lines again after
                       adding one) and the --splice-host hosts are never decrypted.
  --http-port PORT     with --ssl-bump: Squid's port, [ADDRESS:]PORT (default 3128); the
                       printed http_port line replaces squid.conf's own for that port
  --ssl-db DIR         with --ssl-bump: the certificate generator's database (default
                       /var/lib/squid/ssl_db)
  --splice-host HOST   with --ssl-bump: never decrypt HOST (a name, which includes the names
                       below it, or an IPv4 address), e.g. a bank; repeatable
  --help               this text

Examples:
  minutrix-squid-helper --squid-config --server-name proxy.school.example --product-port 80
  minutrix-squid-helper --squid-config --server-name proxy.school.example \
      --ssl-bump /etc/squid/minutrix-ca.pem --splice-host bank.example
)";

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

// Reads lines of any length; a line longer than kMaxLine is answered as broken, not stored.
class LineReader {
 public:
  static constexpr size_t kMaxLine = 1 << 20;
  // While no input comes, `idle` (when set) is called about every kIdleMs.
  static constexpr int kIdleMs = 200;
  void set_idle(std::function<void()> idle) { idle_ = std::move(idle); }

  // False at the end of the input. `too_long` tells that the line was cut.
  bool Next(std::string& line, bool& too_long) {
    line.clear();
    too_long = false;
    for (;;) {
      if (pos_ == len_) {
        if (std::fflush(stdout) != 0) return false;  // answers go out before the helper waits
        if (idle_) WaitForInput();
        const ssize_t n = ::read(0, buffer_, sizeof buffer_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line.empty() || too_long;
        pos_ = 0;
        len_ = static_cast<size_t>(n);
      }
      const char* start = buffer_ + pos_;
      const void* newline = std::memchr(start, '\n', len_ - pos_);
      const size_t take = newline ? static_cast<const char*>(newline) - start : len_ - pos_;
      if (line.size() + take <= kMaxLine) {
        line.append(start, take);
      } else {
        too_long = true;
      }
      pos_ += take;
      if (newline) {
        ++pos_;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
    }
  }

 private:
  void WaitForInput() {
    pollfd input{0, POLLIN, 0};
    for (;;) {
      const int ready = ::poll(&input, 1, kIdleMs);
      if (ready > 0 || (ready < 0 && errno != EINTR)) return;  // read() tells what came
      if (ready == 0) idle_();
    }
  }

  std::function<void()> idle_;
  char buffer_[65536];
  size_t pos_ = 0;
  size_t len_ = 0;
};

// squid.conf takes a path or a port as one word; a wrong one would only show when Squid starts.
bool SslBumpOptionsFit(const squid::ConfigOptions& config, std::string& problem) {
  for (const std::string* word : {&config.ssl_bump_cert, &config.ssl_db, &config.http_port}) {
    if (word->empty() || word->find_first_of(" \t\r\n\"#") != std::string::npos) {
      problem = "\"" + *word + "\" cannot stand in squid.conf (empty, or a space, quote or #)";
      return false;
    }
  }
  if (config.ssl_bump_cert[0] != '/' || config.ssl_db[0] != '/') {
    problem = "--ssl-bump and --ssl-db take absolute paths";
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(config.ssl_bump_cert, ec)) {
    problem = "--ssl-bump: no certificate file " + config.ssl_bump_cert;
    return false;
  }
  const std::string port = config.http_port.substr(config.http_port.rfind(':') + 1);
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) == 0 ||
      std::stoi(port) > 65535) {
    problem = "--http-port is [ADDRESS:]PORT, not \"" + config.http_port + "\"";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> filters;
  squid::ConfigOptions config;
  config.server_name = HostName();
  bool print_config = false;
  std::vector<std::string> splice_hosts;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--filter" && has_value) {
      filters.push_back(argv[++i]);
    } else if (arg == "--server-name" && has_value) {
      config.server_name = argv[++i];
    } else if (arg == "--squid-config") {
      print_config = true;
    } else if (arg == "--product-port" && has_value) {
      config.product_port = argv[++i];
    } else if (arg == "--extras" && has_value) {
      const std::string form = argv[++i];
      if (form == "keyed") {
        config.extras = squid::Extras::kKeyed;
      } else if (form == "default") {
        config.extras = squid::Extras::kDefault;
      } else {
        std::fprintf(stderr,
                     "minutrix-squid-helper: --extras is \"keyed\" or \"default\", not \"%s\"\n",
                     form.c_str());
        return 2;
      }
    } else if (arg == "--ssl-bump" && has_value) {
      config.ssl_bump_cert = argv[++i];
    } else if (arg == "--http-port" && has_value) {
      config.http_port = argv[++i];
    } else if (arg == "--ssl-db" && has_value) {
      config.ssl_db = argv[++i];
    } else if (arg == "--splice-host" && has_value) {
      const auto domain = squid::SpliceDomainOfHost(argv[++i]);
      if (!domain) {
        std::fprintf(stderr,
                     "minutrix-squid-helper: --splice-host \"%s\" is not a host name or an IPv4 "
                     "address\n",
                     argv[i]);
        return 2;
      }
      splice_hosts.push_back(*domain);
    } else if ((arg == "--store-down-policy" && has_value) ||
               arg.rfind("--store-down-policy=", 0) == 0) {
      const std::string policy =
          arg == "--store-down-policy" ? argv[++i] : arg.substr(arg.find('=') + 1);
      if (policy != "refuse" && policy != "allow") {
        std::fprintf(stderr,
                     "minutrix-squid-helper: --store-down-policy is \"refuse\" or \"allow\", not "
                     "\"%s\"\n",
                     policy.c_str());
        return 2;
      }
      config.store_down_policy = policy;
    } else if (arg == "--concurrency" && has_value) {
      config.concurrency = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "minutrix-squid-helper: bad argument \"%s\" (see --help)\n",
                   arg.c_str());
      return 2;
    }
  }

  // With no name every URL would be "this server" to some check; refuse rather than guess.
  if (config.server_name.find_first_not_of(" \t") == std::string::npos) {
    std::fputs(
        "minutrix-squid-helper: --server-name must not be empty: give the proxy's host name as "
        "the browsers know it\n",
        stderr);
    return 2;
  }

  if (print_config) {
    std::error_code ec;
    config.helper_path = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    config.filters = filters;
    // PGPASSFILE: where libpq finds the password of a shared store (MinutrixStore).
    for (const char* name : {"MINUTRIX_ROOT", "MINUTRIX_CLOCK_FILE", "PGPASSFILE"}) {
      if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
        config.environment.push_back(std::string(name) + "=" + value);
      }
    }
    if (!config.ssl_bump_cert.empty()) {
      std::string problem;
      if (!SslBumpOptionsFit(config, problem)) {
        std::fprintf(stderr, "minutrix-squid-helper: %s\n", problem.c_str());
        return 2;
      }
      try {
        std::vector<std::string> problems;
        std::vector<std::string> paths = squid::RegisteredFilterPaths(problems);
        paths.insert(paths.end(), filters.begin(), filters.end());
        config.splice = splice_hosts;
        for (const std::string& row : squid::FreeSiteRows(paths)) {
          if (auto domain = squid::SpliceDomainOfRow(row)) config.splice.push_back(*domain);
        }
        config.splice = squid::WithoutCoveredDomains(config.splice);
        config.time_left_hosts = squid::TimeLeftHosts(paths);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "minutrix-squid-helper: %s\n", e.what());
        return 1;
      }
    } else if (!splice_hosts.empty() || config.http_port != "3128" ||
               config.ssl_db != squid::ConfigOptions().ssl_db) {
      std::fputs(
          "minutrix-squid-helper: --splice-host, --http-port and --ssl-db go with --ssl-bump\n",
          stderr);
      return 2;
    }
    std::fputs(squid::SquidConfig(config).c_str(), stdout);
    return 0;
  }

  // Read by the filters when their shared store is down: the helper's own word on it.
  if (!config.store_down_policy.empty()) {
    ::setenv("MINUTRIX_STORE_DOWN_POLICY", config.store_down_policy.c_str(), 1);
  }
  std::optional<squid::FilterChain> chain;
  // Held while the filters are loaded: net stop waits until this helper has unloaded them.
  std::optional<platform::ServiceWork> work;
  bool loaded = false;
  // The filters registered when the web service (re)starts.
  const auto load = [&] {
    loaded = true;
    chain.emplace();
    chain->set_extras(config.extras);
    std::vector<std::string> problems;
    std::vector<std::string> paths = squid::RegisteredFilterPaths(problems);
    paths.insert(paths.end(), filters.begin(), filters.end());
    chain->Load(paths, problems);
    for (const auto& problem : problems)
      std::fprintf(stderr, "minutrix-squid-helper: %s\n", problem.c_str());
    std::fprintf(stderr,
                 "minutrix-squid-helper: %zu filter(s) active, machine root %s, server name %s, "
                 "%s extras\n",
                 chain->active(), platform::MachineRoot().c_str(), config.server_name.c_str(),
                 config.extras == squid::Extras::kKeyed ? "keyed" : "Squid's default");
    std::fflush(stderr);
  };
  // A stopped web service unloads its filters, as IIS does: their shut-down runs now, not when
  // Squid ends this helper.
  const auto unload = [&] {
    chain.reset();
    work.reset();
    loaded = false;
  };
  platform::ServiceStateWatch web_service(squid::kWebService);
  // The lock before the look at the state: a net stop after the look then waits for the unload.
  work.emplace(squid::kWebService);
  if (web_service.Running()) {
    load();
  } else {
    work.reset();
    std::fprintf(stderr,
                 "minutrix-squid-helper: the web service %s is stopped (machine root %s): requests "
                 "pass unfiltered until \"net start %s\"\n",
                 squid::kWebService, platform::MachineRoot().c_str(), squid::kWebService);
    std::fflush(stderr);
  }

  constexpr std::time_t kNoteWorkEvery = 10;
  std::time_t noted_work = 0;
  LineReader reader;
  reader.set_idle([&] {
    if (loaded && !web_service.Running()) unload();
  });
  std::string line;
  bool too_long = false;
  while (reader.Next(line, too_long)) {
    std::string answer;
    if (!web_service.Running()) {
      if (loaded) unload();
      answer = squid::PassAnswer(squid::ChannelOf(line));
    } else if (too_long) {
      // Refused, not BH: Squid would pass the request on after its retries.
      answer = squid::BlockAnswer(squid::ChannelOf(line));
    } else {
      // Started while the service was stopped, and the state changed without a new helper.
      if (!loaded) {
        work.emplace(squid::kWebService);
        load();
      }
      answer = chain->Answer(line, config.server_name);
      // For the console's Health page: when the filters last decided a request.
      if (const std::time_t now = platform::Now();
          now - noted_work >= kNoteWorkEvery || now < noted_work) {
        platform::NoteServiceWork(squid::kWebService, now);
        noted_work = now;
      }
    }
    answer.push_back('\n');
    if (std::fwrite(answer.data(), 1, answer.size(), stdout) != answer.size()) break;
  }
  std::fflush(stdout);
  return 0;
}
