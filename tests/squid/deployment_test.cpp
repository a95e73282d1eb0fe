// docs/deployment.md followed as it stands: the blocks it marks with "<!-- test: NAME -->" run in
// their order, as root, each from a folder of its own, on a machine of the test's own: new mount,
// network and process namespaces where /etc, /var, /run, /root and /usr/local are copy-on-write
// layers over this machine's, the network is loopback only (the guide's ports 80 and 3128 are
// free there), and systemctl starts Debian's Squid and nginx itself (tests/squid/deployment/).
// Only the source and build folder of the guide's install are replaced by the build under test.
// The guide's commands then install, charge a user, back up, restore and uninstall; afterwards
// the machine's files are compared with those before.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::kBuildDir;
using test_support::kSourceDir;

struct Block {
  std::string name;
  std::string text;
};

// The blocks that follow a "<!-- test: NAME -->" line, in document order. A marker must stand
// right before its fenced block, or the marked block is reported as missing.
std::vector<Block> MarkedBlocks(const std::string& markdown, std::string& problems) {
  static const std::regex kMarker(R"(^<!-- test: ([a-z0-9-]+) -->$)");
  std::vector<Block> blocks;
  std::istringstream in(markdown);
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (!std::regex_match(line, match, kMarker)) continue;
    Block block{match[1], ""};
    if (!std::getline(in, line) || line.rfind("```", 0) != 0) {
      problems += "marker '" + block.name + "' is not followed by a fenced block\n";
      continue;
    }
    while (std::getline(in, line) && line.rfind("```", 0) != 0) block.text += line + "\n";
    blocks.push_back(block);
  }
  return blocks;
}

// The guide's folders for the source and the build, which the test takes from the build under
// test; everything else is run as written.
std::string WithTheBuildUnderTest(std::string text) {
  const std::pair<std::string, std::string> kFolders[] = {
      {"/usr/local/src/minutrix/build", kBuildDir.string()},
      {"/usr/local/src/minutrix", kSourceDir.string()}};
  std::string out;
  for (size_t at = 0; at < text.size();) {
    bool replaced = false;
    for (const auto& [from, to] : kFolders) {
      if (text.compare(at, from.size(), from) == 0) {
        out += to;
        at += from.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[at++];
  }
  return out;
}

class DeploymentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the guide is for root";
    // Squid's helpers run as proxy and read the clock file here.
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    fs::create_directories(dir_.path() / "layers");
    fs::create_directories(Private());
    fs::permissions(Private(), fs::perms::owner_all);
    SetClock("2026-12-07 09:00:00");
    const std::string namespace_script =
        (kSourceDir / "tests/squid/deployment/namespace.sh").string();
    const auto started = test_support::Run(
        {"/bin/sh", "-c",
         "setsid /usr/bin/unshare --mount --net --pid --fork --mount-proc --propagation private "
         "'" +
             namespace_script + "' '" + dir_.path().string() + "' >'" +
             (dir_.path() / "namespace.out").string() + "' 2>&1 </dev/null & echo $!"},
        {{"PATH", Path()}});
    unshare_pid_ = std::atoi(started.output.c_str());
    for (int i = 0; i < 300 && !fs::exists(dir_.path() / "ready"); ++i) {
      if (unshare_pid_ <= 0 || ::kill(unshare_pid_, 0) != 0) break;
      test_support::Run({"/bin/sleep", "0.1"});
    }
    // The namespace's first process: down from the process started (setsid may have forked
    // before unshare did) to the first one in another process namespace.
    std::error_code ec;
    const fs::path own_namespace = fs::read_symlink("/proc/self/ns/pid", ec);
    for (int pid = unshare_pid_; pid > 0 && namespace_pid_ == 0;) {
      const std::string proc = "/proc/" + std::to_string(pid);
      if (fs::read_symlink(proc + "/ns/pid", ec) != own_namespace && !ec) namespace_pid_ = pid;
      pid = std::atoi(
          test_support::ReadFile(proc + "/task/" + std::to_string(pid) + "/children").c_str());
    }
    ASSERT_TRUE(fs::exists(dir_.path() / "ready"))
        << "no namespace of the test's own:\n"
        << test_support::ReadFile(dir_.path() / "namespace.out");
    ASSERT_GT(namespace_pid_, 0);
  }
  void TearDown() override {
    // The end of the namespace's first process ends every process in it: Squid, its helpers,
    // nginx.
    if (namespace_pid_ > 0) ::kill(namespace_pid_, SIGKILL);
    for (int i = 0; i < 100 && unshare_pid_ > 0 && ::kill(unshare_pid_, 0) == 0; ++i) {
      test_support::Run({"/bin/sleep", "0.1"});
    }
  }

  fs::path Private() const { return dir_.path() / "private"; }
  std::string Path() const {
    return (kSourceDir / "tests/squid/deployment").string() +
           ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
  }
  void SetClock(const std::string& local_time) {
    test_support::WriteFile(dir_.path() / "clock", local_time + "\n");
  }
  // `script` in the namespace, as root's bash does it: a clean environment, stopping at the first
  // command that fails. The helper's clock follows the test's clock file.
  test_support::CommandResult InNamespace(const std::string& script,
                                          const std::string& input = {}) {
    return test_support::Run({"/usr/bin/nsenter",
                              "-t",
                              std::to_string(namespace_pid_),
                              "-m",
                              "-n",
                              "-p",
                              "--wd=" + Private().string(),
                              "--",
                              "/usr/bin/env",
                              "-i",
                              "PATH=" + Path(),
                              "HOME=/root",
                              "USER=root",
                              "LANG=C.UTF-8",
                              "MINUTRIX_CLOCK_FILE=" + (dir_.path() / "clock").string(),
                              "/bin/bash",
                              "-e",
                              "-o",
                              "pipefail",
                              "-c",
                              script},
                             {}, input);
  }
  // How the machine's files differ from this machine's: what the test's namespace wrote.
  std::string Changes() {
    return InNamespace("'" + (kSourceDir / "tests/squid/deployment/changes.sh").string() + "' '" +
                       dir_.path().string() + "'")
        .output;
  }
  // A request through the guide's proxy as `account` (password PASSWORD): the CONNECT's and the
  // request's status and the redirect, and curl's exit status when it failed. A proxy that is
  // reloading refuses connections for a moment.
  std::string Get(const std::string& account, const std::string& url) {
    std::string answer;
    for (int i = 0; i < 100; ++i) {
      answer = InNamespace(
                   "curl -s -o /dev/null -w '%{http_connect} %{http_code} %{redirect_url}' "
                   "-x http://proxy.school.example:3128 -U '" +
                   account + ":PASSWORD' '" + url + "' || echo \" curl $?\"")
                   .output;
      if (answer.find(" curl 7\n") == std::string::npos) break;
      test_support::Run({"/bin/sleep", "0.1"});
    }
    return answer;
  }

  test_support::ScratchDir dir_;
  int unshare_pid_ = 0;
  int namespace_pid_ = 0;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Changes that are not the guide's to undo: the services' logs and pid files, and the Java
// keystore that a hook of Debian's trust store writes anew, with the time in each entry, whenever
// the store changes (the test's set-up changed it first: the digests differ).
bool NotTheGuides(const std::string& change) {
  for (const char* prefix : {"/var/log/", "/run/", "/etc/ssl/certs/java/cacerts "}) {
    if (change.find(std::string(" ") + prefix) == 1) return true;
  }
  return false;
}

std::vector<std::string> Without(const std::vector<std::string>& changes) {
  std::vector<std::string> out;
  for (const std::string& change : changes) {
    if (!NotTheGuides(change)) out.push_back(change);
  }
  return out;
}

TEST_F(DeploymentTest, TheGuideAsWrittenChargesAUserAndItsUninstallLeavesNothing) {
  std::string problems;
  const std::vector<Block> blocks =
      MarkedBlocks(test_support::ReadFile(kSourceDir / "docs/deployment.md"), problems);
  ASSERT_EQ(problems, "");
  std::vector<std::string> names;
  for (const Block& block : blocks) names.push_back(block.name);
  // Each block's check below knows what it does: a new block needs its own.
  ASSERT_EQ(
      names,
      (std::vector<std::string>{
          "name",       "before",          "install",        "machine-root",   "distribution",
          "setup",      "setup-check",     "users",          "password-file",  "password-check",
          "nginx-site", "squid",           "squid-check",    "minutes-check",  "ca",
          "ssl-db",     "squid-ssl-bump",  "ssl-bump-check", "trust-store",    "backup",
          "restore",    "uninstall-setup", "uninstall-rest", "uninstall-check"}));

  // What the test's own set-up changed: the name in /etc/hosts, its Squid setting, the trust store.
  const std::vector<std::string> changes_before = Without(Lines(Changes()));
  ASSERT_NE(std::find(changes_before.begin(), changes_before.end(),
                      "+ /etc/squid/conf.d/test-shutdown.conf"),
            changes_before.end());
  const std::string page = "http://proxy.school.example:80/Minutrix/Minutrix.asp?";
  for (const Block& block : blocks) {
    SCOPED_TRACE("block " + block.name + ":\n" + block.text);
    // The password the guide's reader types twice, and the test's tick of the clock.
    if (block.name == "minutes-check") SetClock("2026-12-07 09:02:10");
    const auto result = InNamespace(WithTheBuildUnderTest(block.text),
                                    block.name == "password-file" ? "PASSWORD\nPASSWORD\n" : "");
    ASSERT_EQ(result.exit_code, 0) << result.output;
    const std::string& out = result.output;
    const auto says = [&](const std::string& text) {
      EXPECT_NE(out.find(text), std::string::npos) << "no '" << text << "' in:\n" << out;
    };
    if (block.name == "name") says("proxy.school.example");
    if (block.name == "before") says("nginx\nsquid\n");
    if (block.name == "install") says("proxy can run the helper\n");
    if (block.name == "machine-root") says("\n1\n");
    if (block.name == "setup") {
      says("list: The database has no users yet");
      says("box \"Install success\"");
    }
    if (block.name == "setup-check") {
      EXPECT_EQ(out.substr(out.find("USER")).find('\n'), out.substr(out.find("USER")).size() - 1)
          << "a heading and no users:\n"
          << out;
    }
    if (block.name == "users") {
      says("\nJSMITH                               120       0       120 ");
      says("\nHEADTEACHER                    unlimited       0 unlimited ");
    }
    if (block.name == "password-file") {
      // A login of the test's own that the database does not know.
      ASSERT_EQ(InNamespace("htpasswd -b /etc/squid/minutrix.htpasswd carol PASSWORD").exit_code,
                0);
    }
    if (block.name == "password-check") says("OK");
    if (block.name == "nginx-site") says("200 text/html; charset=utf-8\n");
    if (block.name == "squid-check") {
      EXPECT_EQ(Lines(out),
                (std::vector<std::string>{"407",
                                          "302 " + page +
                                              "UserName=jsmith&TimeLeft=120&CurrentUserCommand="
                                              "timeleft&RequestedURL=http://127.0.0.1/",
                                          "200"}));
      EXPECT_EQ(Get("carol", "http://127.0.0.1/"),
                "000 302 " + page +
                    "UserName=carol&TimeLeft=0&CurrentUserCommand=timeleft&RequestedURL=www."
                    "minutrix.com&DeniedMessage=Your%20internet%20time%20for%20this%20period%"
                    "20is%"
                    "20used%20up.&Unknown=1");
    }
    if (block.name == "minutes-check") {
      says("200\n");
      says("\nJSMITH                               120       2       118 ");
    }
    if (block.name == "ca") says("subject=O = School, CN = School web proxy CA");
    if (block.name == "ssl-db") says("certs\nindex.txt\nsize\n");
    if (block.name == "ssl-bump-check") {
      says("302 " + page +
           "UserName=jsmith&TimeLeft=118&CurrentUserCommand=timeleft"
           "&RequestedURL=www.minutrix.com\n");
      // A spliced host is never decrypted, also not to refuse a user without time: the
      // CONNECT itself is refused, before any certificate.
      EXPECT_EQ(Get("carol", "https://bank.example/"), "403 000  curl 56\n");
    }
    if (block.name == "trust-store") {
      says("1 added, 0 removed");
      says("\n302\n");
    }
    if (block.name == "backup") says("(2 users, 1 free-site row)");
    if (block.name == "restore") {
      says("Restored ");
      says(" proxy proxy ");
      // The helper reads the restored file whole: the minutes of the backup, and a new
      // period that begins with the start page.
      EXPECT_EQ(Get("jsmith", "http://127.0.0.1/"),
                "000 302 " + page +
                    "UserName=jsmith&TimeLeft=118&CurrentUserCommand=timeleft&RequestedURL="
                    "http://"
                    "127.0.0.1/");
    }
    if (block.name == "uninstall-setup") {
      says("box \"Uninstall success\"");
      EXPECT_EQ(out.substr(out.rfind("InstallScript.txt")),
                "InstallScript.txt\nSetup.exe\nUserTimesDB\n");
      EXPECT_EQ(Get("carol", "http://127.0.0.1/"), "000 200 ") << "no filter any more";
    }
    if (block.name == "uninstall-check") says("as before\n");
  }
  EXPECT_EQ(Without(Lines(Changes())), changes_before)
      << "the uninstall leaves the machine's files as they were before the install";
}

}  // namespace
