// A database made by the real minutrix-db in a scratch folder, the tool run on it with the clock
// fixed where a test needs it, and the sqlite3 shell to set up rows and to see every row.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace db_tool_test {

namespace fs = std::filesystem;

class DbToolFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto made = Tool({"create", "DB"});
    ASSERT_EQ(made.exit_code, 0) << made.output;
  }

  // minutrix-db with `args`, "DB" standing for the database; the clock stands at `clock_`, the
  // login is "tester" and `env` is added to the environment (it may name another login).
  test_support::CommandResult Tool(std::vector<std::string> args,
                                   std::map<std::string, std::string> env = {}) {
    for (auto& arg : args) {
      if (arg == "DB") arg = db_.string();
    }
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    test_support::WriteFile(clock_file_, clock_ + "\n");
    env.emplace("MINUTRIX_CLOCK_FILE", clock_file_.string());
    env.emplace("SUDO_USER", "");
    env.emplace("LOGNAME", "tester");
    return test_support::Run(args, env);
  }
  // Runs `args` and fails the test unless it succeeds.
  std::string Ok(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {}) {
    const auto result = Tool(args, env);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return result.output;
  }
  test_support::CommandResult Sqlite(const std::string& sql) {
    return test_support::Run({"/usr/bin/sqlite3", db_.string(), sql});
  }
  // Every row of every table, as the database file holds them.
  std::string Rows() {
    const auto dump = Sqlite(".dump");
    EXPECT_EQ(dump.exit_code, 0) << dump.output;
    return dump.output;
  }
  std::string Tables() { return Sqlite(".tables").output; }

  test_support::ScratchDir dir_;
  fs::path db_ = dir_.path() / "UserTimesDB.mdb";
  fs::path clock_file_ = dir_.path() / "clock.txt";
  std::string clock_ = "2026-12-08 12:00:00";  // a Tuesday
};

}  // namespace db_tool_test
