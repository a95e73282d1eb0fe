// The product on the machine's own Squid, as docs/deployment.md puts it there: setup from a copy
// of the distribution folder, the lines of --squid-config with basic authentication in a conf.d
// file, and Debian's own squid.conf of the installed package, changed only where a test must
// (its port on 127.0.0.1, its pid file, logs and core folder in the test's folder).
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::kBuildDir;
using test_support::kSourceDir;

constexpr const char* kProxy = "http://127.0.0.1:23130";
constexpr const char* kSite = "http://127.0.0.2:23081/";

class DeploymentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Run());
    fs::create_directories(dir_.path() / "conf.d");
  }
  void TearDown() override {
    // Squid and nginx run in sessions of their own: end them with everything they started.
    for (const char* session : {"squid.session", "nginx.session"}) {
      if (!fs::exists(Run() / session)) continue;
      const std::string group = "-" + Trimmed(test_support::ReadFile(Run() / session));
      test_support::Run({"/bin/kill", "-TERM", "--", group});
      for (int i = 0; i < 100 && test_support::Run({"/bin/kill", "-0", "--", group}).exit_code == 0;
           ++i) {
        test_support::Run({"/bin/sleep", "0.1"});
      }
      test_support::Run({"/bin/kill", "-KILL", "--", group});
    }
  }

  fs::path Machine() const { return dir_.path() / "machine"; }
  fs::path Run() const { return dir_.path() / "run"; }
  static std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }
  std::string Must(const std::vector<std::string>& argv,
                   std::map<std::string, std::string> env = {}) {
    env.emplace("MINUTRIX_ROOT", Machine().string());
    const auto result = test_support::Run(argv, env);
    EXPECT_EQ(result.exit_code, 0) << argv[0] << ": " << result.output;
    return result.output;
  }
  // Starts `command` in a session of its own, its pid in run/`name`.session.
  void Start(const std::string& name, const std::string& command) {
    Must({"/bin/sh", "-c",
          "setsid " + command + " >'" + (Run() / (name + ".out")).string() +
              "' 2>&1 </dev/null & echo $! >'" + (Run() / (name + ".session")).string() + "'"});
  }
  static std::string Code(const std::string& account) {
    return test_support::Run({"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time", "20", "-x",
                              kProxy, "-U", account + ":pw", "-w", "%{http_code}", kSite})
        .output;
  }
  int Used(const std::string& user) {
    const auto result = test_support::Run(
        {"/usr/bin/sqlite3", (Machine() / "c/Minutrix/UserTimesDB/UserTimesDB.mdb").string(),
         "SELECT CurrentInternetTime FROM Users WHERE UserName='" + user + "'"});
    return std::atoi(result.output.c_str());
  }

  test_support::ScratchDir dir_;
};

// Debian's squid.conf with the test's port and paths; every other line as the package has it.
std::string DebianSquidConf(const fs::path& dir) {
  std::istringstream in(test_support::ReadFile("/etc/squid/squid.conf"));
  std::string out;
  int replaced = 0;
  for (std::string line; std::getline(in, line);) {
    if (line == "http_port 3128") {
      line = "http_port 127.0.0.1:23130";
      ++replaced;
    } else if (line == "include /etc/squid/conf.d/*.conf") {
      line = "include " + (dir / "conf.d").string() + "/*.conf";
      ++replaced;
    } else if (line.rfind("coredump_dir ", 0) == 0) {
      line = "coredump_dir " + (dir / "run").string();
      ++replaced;
    }
    out += line + "\n";
  }
  EXPECT_EQ(replaced, 3) << "Debian's squid.conf changed: its port, include or core folder line";
  out += "pid_filename " + (dir / "run/squid.pid").string() + "\n";
  out += "cache_log " + (dir / "run/cache.log").string() + "\n";
  out += "access_log stdio:" + (dir / "run/access.log").string() + "\n";
  out += "shutdown_lifetime 1 seconds\n";
  return out;
}

TEST_F(DeploymentTest, DebiansSquidWithTheSnippetChargesAnInstalledUser) {
  // The machine root and setup from the distribution folder on drive D:.
  Must({(kBuildDir / "minutrix-machine").string(), "init", Machine().string()});
  fs::copy(kBuildDir / "dist", Machine() / "d", fs::copy_options::recursive);
  Must({(Machine() / "d/Setup.exe").string()},
       {{"MINUTRIX_UI", "script"},
        {"MINUTRIX_UI_SCRIPT", (kSourceDir / "scripts/ui/install.ui").string()}});
  ASSERT_TRUE(fs::exists(Machine() / "c/Minutrix/Minutrix.dll"));
  const std::string db = "c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb";
  Must({(kBuildDir / "minutrix-db").string(), "set", db, "ServerPort", "23081"});
  test_support::WriteFile(dir_.path() / "clock", "2026-12-07 09:00:00\n");

  // The accounts and the snippet in conf.d, beside a copy of Debian's own conf.d file.
  const std::string htpasswd = (dir_.path() / "htpasswd").string();
  Must({"/usr/bin/htpasswd", "-bc", htpasswd, "CORP\\jsmith", "pw"});
  Must({"/usr/bin/htpasswd", "-b", htpasswd, "carol", "pw"});
  const std::string helper_lines =
      Must({(kBuildDir / "minutrix-squid-helper").string(), "--squid-config", "--server-name",
            "127.0.0.1", "--product-port", "23081"},
           {{"MINUTRIX_CLOCK_FILE", (dir_.path() / "clock").string()}});
  test_support::WriteFile(dir_.path() / "conf.d/minutrix.conf",
                          "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + htpasswd +
                              "\n"
                              "auth_param basic children 5 startup=1 idle=1\n"
                              "auth_param basic realm Minutrix\n"
                              "auth_param basic casesensitive on\n"
                              "acl minutrix_users proxy_auth REQUIRED\n"
                              "http_access deny !minutrix_users\n"
                              "acl minutrix_net src 10.0.0.0/8\n"
                              "http_access allow minutrix_net\n" +
                              helper_lines);
  fs::copy_file("/etc/squid/conf.d/debian.conf", dir_.path() / "conf.d/debian.conf");
  test_support::WriteFile(dir_.path() / "squid.conf", DebianSquidConf(dir_.path()));
  // Squid's helpers run as proxy: the machine root is theirs, as in its production place.
  Must({"/bin/chown", "-R", "proxy:", dir_.path().string()});
  Must({"/bin/chmod", "755", dir_.path().string()});

  // The product page and a site, from the product's nginx configuration.
  Must({(kSourceDir / "web/nginx-conf.sh").string(), Run().string(), "127.0.0.1:23081",
        "127.0.0.2:23081", "off"});
  Start("nginx", "/usr/sbin/nginx -g 'daemon off;' -p '" + Run().string() + "' -e '" +
                     (Run() / "error.log").string() + "' -c '" + (Run() / "nginx.conf").string() +
                     "'");
  Must({"/usr/sbin/squid", "-k", "parse", "-f", (dir_.path() / "squid.conf").string()});
  Start("squid", "/usr/sbin/squid -N -f '" + (dir_.path() / "squid.conf").string() + "'");
  std::string code;
  for (int i = 0; i < 200 && code != "407"; ++i) {
    test_support::Run({"/bin/sleep", "0.05"});
    code = test_support::Run({"/usr/bin/curl", "-s", "-o", "/dev/null", "-x", kProxy, "-w",
                              "%{http_code}", kSite})
               .output;
  }
  ASSERT_EQ(code, "407") << "Squid asks for credentials\n"
                         << test_support::ReadFile(Run() / "squid.out");

  EXPECT_EQ(Code("carol"), "302") << "not monitored: denied by the installed filter";
  EXPECT_EQ(Code("CORP\\jsmith"), "200");
  test_support::WriteFile(dir_.path() / "clock", "2026-12-07 09:02:10\n");
  EXPECT_EQ(Code("CORP\\jsmith"), "200");
  EXPECT_EQ(Used("JSMITH"), 2) << "charged in the installed database";
}

}  // namespace
