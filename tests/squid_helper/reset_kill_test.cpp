// The daily reset of 10,000 users in the helper killed with SIGKILL at any moment: the database
// holds either every old minute with the old marker or all zeros with the new one, and the helper
// that Squid starts next, which keeps nothing but the database, finishes the reset.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "hosts/squid/filter_chain.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsers = 10000;
const std::string kRequest = "http://a.example/ ip=127.0.0.1 method=GET user=U1\n";

class ResetKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Product() / "UserTimesDB");
    fs::copy_file(test_support::kBuildDir / "Minutrix.dll", Product() / "Minutrix.dll");
    const auto made = test_support::Run(
        {(test_support::kBuildDir / "minutrix-db").string(), "create", Database().string()});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    Sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(kUsers) + ") INSERT INTO Users SELECT 'U' || i, 60, 7 FROM n;");
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey, "/v", "FilterLoadOrder", "/d",
                  "Minutrix", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey + "\\Minutrix", "/v",
                  "FilterPath", "/d", "c:\\Minutrix\\Minutrix.dll", "/f"});
  }
  fs::path Product() const { return machine_.root() / "c/Minutrix"; }
  fs::path Database() const { return Product() / "UserTimesDB/UserTimesDB.mdb"; }
  std::string Sql(const std::string& statement) {
    const auto result = test_support::Run({"/usr/bin/sqlite3", Database().string(), statement});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    std::string out = result.output;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  void At(const std::string& local_time) {
    test_support::WriteFile(clock_.path() / "clock", local_time + "\n");
  }
  std::vector<std::string> HelperArgv() const {
    return {(test_support::kBuildDir / "minutrix-squid-helper").string(), "--server-name",
            "proxy.test"};
  }
  std::map<std::string, std::string> HelperEnv() const {
    return {{"MINUTRIX_ROOT", machine_.root().string()},
            {"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()}};
  }
  // Starts the helper, gives it one request and kills it after `delay`.
  void RunAndKill(std::chrono::milliseconds delay) {
    int to_child[2];
    ASSERT_EQ(::pipe(to_child), 0);
    const auto argv = HelperArgv();
    const auto env = HelperEnv();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(to_child[0], 0);
      ::close(to_child[0]);
      ::close(to_child[1]);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> args;
      for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(to_child[0]);
    ASSERT_EQ(::write(to_child[1], kRequest.data(), kRequest.size()),
              static_cast<ssize_t>(kRequest.size()));
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(to_child[1]);
  }
  // "old" (every user at 7, the old marker), "reset" (all 0, the new marker) or what was found.
  std::string State() {
    const std::string sevens = Sql("SELECT count(*) FROM Users WHERE CurrentInternetTime = 7");
    const std::string zeros = Sql("SELECT count(*) FROM Users WHERE CurrentInternetTime = 0");
    const std::string marker = Sql("SELECT LastReset FROM ResetMarker");
    const std::string all = std::to_string(kUsers);
    if (sevens == all && marker == "2026-12-07 23:00:00") return "old";
    if (zeros == all && marker.rfind("2026-12-08 ", 0) == 0) return "reset";
    return sevens + " at 7, " + zeros + " at 0, marker " + marker;
  }

  test_support::ScratchMachine machine_;
  test_support::ScratchDir clock_;
};

TEST_F(ResetKillTest, KillDuringTheResetLeavesAllOrNothingAndTheNextHelperFinishes) {
  At("2026-12-07 23:00:00");
  const auto first = test_support::Run(HelperArgv(), HelperEnv(), kRequest);
  ASSERT_EQ(first.exit_code, 0) << first.output;
  Sql("UPDATE Users SET CurrentInternetTime = 7");  // the first request began U1's period
  ASSERT_EQ(State(), "old");

  At("2026-12-08 00:01:00");
  for (int delay : {0, 5, 20, 40, 80, 150}) {
    RunAndKill(std::chrono::milliseconds(delay));
    const std::string state = State();
    ASSERT_TRUE(state == "old" || state == "reset") << "killed after " << delay << " ms: " << state;
    if (state == "reset") break;
  }
  // Squid starts the helper again: it finishes the day's reset if the killed one did not.
  At("2026-12-08 00:02:00");
  const auto again = test_support::Run(HelperArgv(), HelperEnv(), kRequest);
  ASSERT_EQ(again.exit_code, 0) << again.output;
  EXPECT_EQ(State(), "reset");
}

}  // namespace
