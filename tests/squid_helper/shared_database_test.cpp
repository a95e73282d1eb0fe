// The helper serving requests without pause while other programs open, read, change, checkpoint
// and vacuum its database hundreds of times: it must never die, and every answer must be right.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hosts/squid/filter_chain.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::steady_clock;

// At least 30 s, as a soak; MINUTRIX_SOAK_SECONDS lengthens it for a hunt.
int SoakSeconds() {
  const char* text = std::getenv("MINUTRIX_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 30 ? seconds : 30;
}

class SharedDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Product() / "UserTimesDB");
    fs::copy_file(test_support::kBuildDir / "Minutrix.dll", Product() / "Minutrix.dll");
    Db({"create"});
    // A removed user leaves a gap in the row numbers, which a VACUUM may close.
    for (const char* name : {"gone", "alice", "kim", "pat", "dave"}) Db({"add-user", name, "5000"});
    Db({"remove-user", "gone"});
    Db({"set-allowance", "pat", "-1"});
    Db({"set-allowance", "kim", "3"});
    Db({"set-used", "kim", "3"});
    Db({"add-site", "--host", "free.example.org"});
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey, "/v", "FilterLoadOrder", "/d",
                  "Minutrix", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey + "\\Minutrix", "/v",
                  "FilterPath", "/d", "c:\\Minutrix\\Minutrix.dll", "/f"});
    SetClock(0);
  }
  fs::path Product() const { return machine_.root() / "c/Minutrix"; }
  fs::path Database() const { return Product() / "UserTimesDB/UserTimesDB.mdb"; }
  test_support::CommandResult DbRun(std::vector<std::string> args) const {
    args.insert(args.begin() + 1, Database().string());
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    return test_support::Run(args);
  }
  void Db(std::vector<std::string> args) {
    const auto result = DbRun(std::move(args));
    ASSERT_EQ(result.exit_code, 0) << result.output;
  }
  test_support::CommandResult Sql(const std::string& statement) const {
    return test_support::Run({"/usr/bin/sqlite3", Database().string(), statement});
  }
  // The helper's clock: 09:00 on a Monday plus `minutes`.
  void SetClock(int minutes) {
    char text[64];
    std::snprintf(text, sizeof text, "2026-12-07 %02d:%02d:00\n", 9 + minutes / 60, minutes % 60);
    test_support::WriteFile(clock_.path() / "clock", text);
  }
  // The helper, as `user` when given (the test runs as root then).
  std::unique_ptr<test_support::LiveProcess> StartHelper(const std::string& user = "") {
    std::vector<std::string> argv = {(test_support::kBuildDir / "minutrix-squid-helper").string(),
                                     "--server-name", "proxy.test"};
    if (!user.empty()) argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", user, "--"});
    return std::make_unique<test_support::LiveProcess>(
        argv,
        std::map<std::string, std::string>{
            {"MINUTRIX_ROOT", machine_.root().string()},
            {"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()}},
        clock_.path() / "helper.err");
  }

  test_support::ScratchMachine machine_;
  test_support::ScratchDir clock_;
};

// Another program's turn at the database, run again and again until the soak ends.
struct Visitor {
  const char* what;
  std::function<test_support::CommandResult(int round)> run;
};

TEST_F(SharedDatabaseTest, HelperKeepsAnsweringRightWhileOtherProgramsUseTheDatabase) {
  auto helper = StartHelper();
  const std::string page = "OK status=302 url=\"http://proxy.test:80/Minutrix/Minutrix.asp?";
  ASSERT_EQ(helper->Ask("1 http://a.example/ ip=127.0.0.1 method=GET user=alice"), "1 ERR");

  const std::vector<Visitor> visitors = {
      {"sqlite3 SELECT", [&](int) { return Sql("SELECT count(*) FROM Users;"); }},
      {"minutrix-db users", [&](int) { return DbRun({"users"}); }},
      {"minutrix-db set-allowance",
       [&](int round) {
         return DbRun({"set-allowance", "dave", std::to_string(4000 + round)});
       }},
      {"checkpoint", [&](int) { return Sql("PRAGMA wal_checkpoint(TRUNCATE);"); }},
      {"VACUUM", [&](int) { return Sql("VACUUM;"); }},
  };
  std::atomic<bool> stop{false};
  std::atomic<int> runs{0};
  std::vector<std::string> failures;
  std::mutex failures_mutex;
  std::vector<std::thread> threads;
  // Three programs at a time, each cycling through the visitors from another start.
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; !stop.load(); ++round) {
        const Visitor& visitor = visitors[(round + t * 2) % visitors.size()];
        const auto result = visitor.run(round);
        ++runs;
        // A program that found the file locked may say so; it must not have been hurt.
        if (result.exit_code != 0 && result.output.find("locked") == std::string::npos &&
            result.output.find("busy") == std::string::npos) {
          std::lock_guard lock(failures_mutex);
          failures.push_back(std::string(visitor.what) + ": " + result.output);
        }
      }
    });
  }

  const auto end = steady_clock::now() + std::chrono::seconds(SoakSeconds());
  int minute = 0;
  int requests = 1;
  auto next_minute = steady_clock::now() + std::chrono::milliseconds(500);
  std::string wrong;
  while (steady_clock::now() < end && wrong.empty()) {
    if (steady_clock::now() >= next_minute) {
      SetClock(++minute);
      next_minute += std::chrono::milliseconds(500);
    }
    const std::string id = std::to_string(++requests);
    const struct {
      const char* line;
      bool redirected;
    } asks[] = {
        {"http://a.example/page ip=127.0.0.1 method=GET user=alice", false},
        {"http://b.example/ ip=127.0.0.1 method=GET user=pat", false},
        {"http://c.example/ ip=127.0.0.1 method=GET user=dave", false},
        {"http://free.example.org/ ip=127.0.0.1 method=GET user=kim", false},
        {"http://d.example/ ip=127.0.0.1 method=GET user=kim", true},
        {"http://d.example/ ip=127.0.0.1 method=GET user=stranger", true},
    };
    for (const auto& ask : asks) {
      const std::string answer = helper->Ask(id + " " + ask.line);
      const bool right = ask.redirected ? answer.rfind(id + " " + page, 0) == 0 &&
                                              answer.find("&DeniedMessage=") != std::string::npos
                                        : answer == id + " ERR";
      if (!right) {
        wrong = std::string(ask.line) + " at minute " + std::to_string(minute) + " answered '" +
                answer + "'";
        break;
      }
    }
  }
  stop = true;
  for (auto& thread : threads) thread.join();

  EXPECT_TRUE(wrong.empty()) << wrong << "\n"
                             << test_support::ReadFile(clock_.path() / "helper.err");
  EXPECT_TRUE(helper->Running()) << "the helper died: status " << helper->ExitStatus() << "\n"
                                 << test_support::ReadFile(clock_.path() / "helper.err");
  EXPECT_GE(runs.load(), 200) << "too few visits to prove anything";
  for (const auto& failure : failures) ADD_FAILURE() << failure;
  // One last request at the last minute charges every minute since the first request.
  const std::string last = std::to_string(++requests);
  EXPECT_EQ(helper->Ask(last + " http://a.example/ ip=127.0.0.1 method=GET user=alice"),
            last + " ERR");
  EXPECT_EQ(Sql("SELECT CurrentInternetTime FROM Users WHERE UserName = 'ALICE';").output,
            std::to_string(minute) + "\n");
  EXPECT_EQ(helper->Stop(), 0);
}

// A database restored by root (owned by root, mode 0644) under a helper that runs as `proxy`, as
// Squid runs it, can only be opened read-only; given back to `proxy`, it is opened again. Not root,
// the test takes write permission away and back instead.
TEST_F(SharedDatabaseTest, DatabaseRestoredReadOnlyIsOpenedAgainWhenGivenBack) {
  const bool root = ::geteuid() == 0;
  if (root) {
    for (const fs::path& dir : {machine_.root(), clock_.path()}) {
      ASSERT_EQ(test_support::Run({"/bin/chown", "-R", "proxy:proxy", dir.string()}).exit_code, 0);
    }
  }
  auto helper = StartHelper(root ? "proxy" : "");
  ASSERT_EQ(helper->Ask("1 http://a.example/ ip=127.0.0.1 method=GET user=alice"), "1 ERR");
  SetClock(2);
  ASSERT_EQ(helper->Ask("2 http://a.example/ ip=127.0.0.1 method=GET user=alice"), "2 ERR");
  ASSERT_EQ(Sql("SELECT CurrentInternetTime FROM Users WHERE UserName = 'ALICE';").output, "2\n");

  // The administrator restores a backup as root.
  const fs::path copy = Product() / "UserTimesDB/restored.mdb";
  ASSERT_EQ(Sql(".backup '" + copy.string() + "'").exit_code, 0);
  if (root) {
    ASSERT_EQ(test_support::Run({"/bin/chown", "root:root", copy.string()}).exit_code, 0);
  } else {
    fs::permissions(copy, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  fs::rename(copy, Database());
  SetClock(4);
  const std::string refused = helper->Ask("3 http://a.example/ ip=127.0.0.1 method=GET user=alice");
  EXPECT_EQ(refused, "3 OK minutrix=block") << "a charge that cannot be written is no pass";
  const fs::path log = Product() / "MinutrixOutput07122026.txt";
  EXPECT_NE(test_support::ReadFile(log).find("The database file is read-only for this process"),
            std::string::npos);

  // Given back, as the deployment guide says: `chown proxy:`.
  if (root) {
    ASSERT_EQ(test_support::Run({"/bin/chown", "proxy:proxy", Database().string()}).exit_code, 0);
  } else {
    fs::permissions(Database(), fs::perms::owner_write, fs::perm_options::add);
  }
  SetClock(5);
  EXPECT_EQ(helper->Ask("4 http://a.example/ ip=127.0.0.1 method=GET user=alice"), "4 ERR");
  EXPECT_NE(
      test_support::ReadFile(log).find(
          "[CountMonitoredUsers] The database file's owner or mode changed, opening it again"),
      std::string::npos);
  SetClock(6);
  EXPECT_EQ(helper->Ask("5 http://a.example/ ip=127.0.0.1 method=GET user=alice"), "5 ERR");
  EXPECT_GT(
      std::stoi(Sql("SELECT CurrentInternetTime FROM Users WHERE UserName = 'ALICE';").output), 2)
      << "charged again once the file could be written";
  EXPECT_TRUE(helper->Running());
}

}  // namespace
