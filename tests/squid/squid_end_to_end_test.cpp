// Browsers' requests through a real Squid with minutrix-squid-helper and the filter, the product
// page and a local site served by nginx, all on loopback. The helper's clock follows a file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::kBuildDir;

constexpr const char* kProxy = "http://127.0.0.1:13128";
constexpr const char* kSite = "http://127.0.0.2:18080/";
constexpr const char* kFreeSite = "http://127.0.0.2:18080/free/";
const std::string kPage = "http://127.0.0.1:18080/Minutrix/Minutrix.asp?";
const std::string kDenied = "Your%20internet%20time%20for%20this%20period%20is%20used%20up.";

struct Reply {
  std::string code;      // the HTTP status, or the CONNECT status for https
  std::string location;  // the redirect's target
};

class SquidTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<test_support::ScratchDir>();
    const fs::path machine = dir_->path() / "machine";
    const std::map<std::string, std::string> env = {{"MINUTRIX_ROOT", machine.string()}};
    auto must = [&](const std::vector<std::string>& argv) {
      const auto result = test_support::Run(argv, env);
      ASSERT_EQ(result.exit_code, 0) << argv[0] << ": " << result.output;
    };
    const std::string tool = (kBuildDir / "minutrix-machine").string();
    const std::string db_tool = (kBuildDir / "minutrix-db").string();
    must({tool, "init", machine.string()});
    fs::create_directories(machine / "c/Minutrix/UserTimesDB");
    fs::copy_file(kBuildDir / "Minutrix.dll", machine / "c/Minutrix/Minutrix.dll");
    const std::string db = Database().string();
    must({db_tool, "create", db});
    must({db_tool, "set", db, "ServerPort", "18080"});
    must({db_tool, "add-site", db, "127.0.0.2:18080/free"});
    must({db_tool, "add-user", db, "alice", "30"});
    must({db_tool, "add-user", db, "bob", "2"});
    must({db_tool, "add-user", db, "dave", "100"});
    must({db_tool, "set-used", db, "bob", "2"});
    must({tool, "reg", "add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d",
          "c:\\Minutrix\\", "/f"});
    const std::string filters = "HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters";
    must({tool, "reg", "add", filters, "/v", "FilterLoadOrder", "/d", "Minutrix", "/f"});
    must({tool, "reg", "add", filters + "\\Minutrix", "/v", "FilterPath", "/d",
          "c:\\Minutrix\\Minutrix.dll", "/f"});
    const std::string htpasswd = (dir_->path() / "htpasswd").string();
    must({"/usr/bin/htpasswd", "-bc", htpasswd, "CORP\\alice", "pw"});
    for (const char* user : {"bob", "carol", "dave"})
      must({"/usr/bin/htpasswd", "-b", htpasswd, user, "pw"});
    SetClock("2026-12-07 09:00:00");
    must({(test_support::kSourceDir / "scripts/minutrix-stack").string(), "start",
          dir_->path().string(), "--build", kBuildDir.string(), "--proxy-port", "13128",
          "--web-port", "18080", "--clock-file", (dir_->path() / "clock").string()});
  }

  static void TearDownTestSuite() {
    test_support::Run({(test_support::kSourceDir / "scripts/minutrix-stack").string(), "stop",
                       dir_->path().string()});
    dir_.reset();
  }

  static fs::path Database() {
    return dir_->path() / "machine/c/Minutrix/UserTimesDB/UserTimesDB.mdb";
  }
  static void SetClock(const std::string& local_time) {
    test_support::WriteFile(dir_->path() / "clock", local_time + "\n");
  }
  static std::string Sql(const std::string& statement) {
    auto out = test_support::Run({"/usr/bin/sqlite3", Database().string(), statement}).output;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  static int Used(const std::string& user) {
    return std::stoi(Sql("SELECT CurrentInternetTime FROM Users WHERE UserName='" + user + "'"));
  }

  static Reply Get(const std::string& account, const std::string& url) {
    const bool https = url.rfind("https://", 0) == 0;
    const auto result = test_support::Run(
        {"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time", "20", "-x", kProxy, "-U",
         account + ":pw", "-w",
         https ? "%{http_connect} %{redirect_url}" : "%{http_code} %{redirect_url}", url});
    std::istringstream in(result.output);
    Reply reply;
    in >> reply.code;
    std::getline(in >> std::ws, reply.location);
    return reply;
  }

  static std::unique_ptr<test_support::ScratchDir> dir_;
};

std::unique_ptr<test_support::ScratchDir> SquidTest::dir_;

TEST_F(SquidTest, MonitoredUserWithTimePassesAndIsCharged) {
  SetClock("2026-12-07 09:00:00");
  EXPECT_EQ(Get("CORP\\alice", kSite).code, "200");
  SetClock("2026-12-07 09:03:20");
  EXPECT_EQ(Get("CORP\\alice", kSite).code, "200");
  EXPECT_EQ(Used("ALICE"), 3);
}

TEST_F(SquidTest, TimeLeftPageAnswersWithTheExactLocation) {
  const Reply reply = Get("CORP\\alice", "http://timeleft/");
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location, kPage +
                                "UserName=alice&TimeLeft=" + std::to_string(30 - Used("ALICE")) +
                                "&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com");
}

TEST_F(SquidTest, UserOverTheAllowanceIsDeniedButReachesFreeSites) {
  Reply reply = Get("bob", kSite);
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location, kPage +
                                "UserName=bob&TimeLeft=0&CurrentUserCommand=timeleft"
                                "&RequestedURL=www.minutrix.com&DeniedMessage=" +
                                kDenied);
  EXPECT_EQ(Get("bob", kFreeSite).code, "200");
}

TEST_F(SquidTest, UnmonitoredUserIsDeniedAndHttpsIsRefused) {
  Reply reply = Get("carol", kSite);
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location, kPage +
                                "UserName=carol&TimeLeft=0&CurrentUserCommand=timeleft"
                                "&RequestedURL=www.minutrix.com&DeniedMessage=" +
                                kDenied + "&Unknown=1");
  // A CONNECT cannot be redirected: Squid refuses it itself.
  EXPECT_EQ(Get("carol", "https://127.0.0.2:18443/").code, "403");
}

TEST_F(SquidTest, ProductPageIsNotFilteredSoNobodyLoops) {
  const Reply reply = Get("carol", kPage + "UserName=carol&TimeLeft=0");
  EXPECT_NE(reply.code, "302");
  EXPECT_NE(reply.code, "403");
}

TEST_F(SquidTest, KilledHelperIsRestartedAndLosesAtMostAMinute) {
  SetClock("2026-12-07 10:00:00");
  EXPECT_EQ(Get("dave", kSite).code, "200");
  const int start = Used("DAVE");
  SetClock("2026-12-07 10:01:00");
  Get("dave", kSite);
  SetClock("2026-12-07 10:02:00");
  Get("dave", kSite);
  ASSERT_EQ(Used("DAVE"), start + 2);

  const std::string session = test_support::ReadFile(dir_->path() / "run/squid.session");
  const auto pids =
      test_support::Run({"/usr/bin/pgrep", "-P", session.substr(0, session.find('\n')), "-f",
                         "minutrix-squid-helper"});
  ASSERT_EQ(pids.exit_code, 0) << "no helper found";
  std::set<std::string> killed;
  for (std::istringstream in(pids.output); in;) {
    std::string pid;
    if (in >> pid) {
      test_support::Run({"kill", "-KILL", pid});
      killed.insert(pid);
    }
  }
  // The request of the restart's minute goes to the new helper once Squid has started one (a
  // request made before that passes unfiltered and would start a new period a minute later).
  bool restarted = false;
  for (int i = 0; i < 200 && !restarted; ++i) {
    const auto now =
        test_support::Run({"/usr/bin/pgrep", "-P", session.substr(0, session.find('\n')), "-f",
                           "minutrix-squid-helper"});
    std::istringstream in(now.output);
    for (std::string pid; in >> pid;) restarted = restarted || killed.count(pid) == 0;
    if (!restarted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(restarted) << "Squid started no new helper";
  SetClock("2026-12-07 10:03:00");
  Get("dave", kSite);
  SetClock("2026-12-07 10:04:00");
  EXPECT_EQ(Get("dave", kSite).code, "200");
  SetClock("2026-12-07 10:05:00");
  EXPECT_EQ(Get("dave", kSite).code, "200");
  const int used = Used("DAVE") - start;
  EXPECT_GE(used, 4) << "at most the minute of the restart is lost";
  EXPECT_LE(used, 5) << "nothing is charged twice";
  EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok");
  // Squid still works with its new helper.
  EXPECT_EQ(Get("CORP\\alice", "http://timeleft/").code, "302");
}

// The helper's process ids under the running Squid.
std::set<std::string> HelperPids(const fs::path& run) {
  const std::string session = test_support::ReadFile(run / "squid.session");
  const auto pids =
      test_support::Run({"/usr/bin/pgrep", "-P", session.substr(0, session.find('\n')), "-f",
                         "minutrix-squid-helper"});
  std::set<std::string> found;
  std::istringstream in(pids.output);
  for (std::string pid; in >> pid;) found.insert(pid);
  return found;
}

// Browsers under load while an administrator reads and changes the database and other programs
// checkpoint and vacuum it: Squid keeps its one helper, and every answer is right.
TEST_F(SquidTest, HelperSurvivesAdministratorsWorkUnderLoad) {
  const fs::path run = dir_->path() / "run";
  const auto before = HelperPids(run);
  ASSERT_FALSE(before.empty());
  // Only what Squid writes from now on: an earlier test kills a helper on purpose.
  const size_t log_start = test_support::ReadFile(run / "logs/cache.log").size();
  const std::string db_tool = (kBuildDir / "minutrix-db").string();
  const std::string db = Database().string();
  std::atomic<bool> stop{false};
  std::atomic<int> admin_runs{0};
  std::atomic<int> requests{0};
  std::mutex wrong_mutex;
  std::vector<std::string> wrong;
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (!stop) {
        const Reply pass = Get("dave", kSite);
        const Reply denied = Get("carol", kSite);
        requests += 2;
        if (pass.code != "200" || denied.code != "302" ||
            denied.location.find(kDenied) == std::string::npos) {
          std::lock_guard lock(wrong_mutex);
          wrong.push_back("dave " + pass.code + ", carol " + denied.code + " " + denied.location);
        }
      }
    });
  }
  threads.emplace_back([&] {
    const std::vector<std::vector<std::string>> commands = {
        {db_tool, "users", db},
        {db_tool, "set-allowance", db, "dave", "101"},
        {"/usr/bin/sqlite3", db, "SELECT count(*) FROM Users;"},
        {db_tool, "set-allowance", db, "dave", "100"},
        {"/usr/bin/sqlite3", db, "PRAGMA wal_checkpoint(TRUNCATE);"},
        {"/usr/bin/sqlite3", db, "VACUUM;"},
    };
    for (size_t i = 0; !stop; ++i) {
      test_support::Run(commands[i % commands.size()]);
      ++admin_runs;
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(15));  // how long the load runs
  stop = true;
  for (auto& thread : threads) thread.join();

  for (const auto& line : wrong) ADD_FAILURE() << line;
  EXPECT_GE(admin_runs.load(), 60);
  EXPECT_GE(requests.load(), 60);
  EXPECT_EQ(HelperPids(run), before) << "Squid had to start another helper";
  const std::string cache_log = test_support::ReadFile(run / "logs/cache.log").substr(log_start);
  EXPECT_EQ(cache_log.find("crashing too rapidly"), std::string::npos) << cache_log;
  EXPECT_EQ(cache_log.find("exited"), std::string::npos) << cache_log;
  EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok");
}

}  // namespace
