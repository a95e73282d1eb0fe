// A scratch machine with Minutrix.dll installed and registered for the helper, and its database
// made by minutrix-db: what the helper's program tests start from. The store is a parameter: the
// file beside the filter, or a store named by MinutrixStore that the filter shares with others
// (its counting periods kept in the store) on a file or on a PostgreSQL server, so that every
// scenario runs on each.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hosts/squid/filter_chain.h"
#include "tests/support/postgres_server.h"
#include "tests/support/test_support.h"

namespace helper_test {

enum class StoreKind {
  kBeside,      // UserTimesDB\UserTimesDB.mdb beside the filter, no MinutrixStore
  kSharedFile,  // MinutrixStore naming a file elsewhere: the shared store's code on SQLite
  kPostgres,    // MinutrixStore naming a database on a PostgreSQL server of the test's own
};

struct StoreCase {
  const char* name;
  StoreKind kind;
};

// The stores that are files: where a store can come from an older build.
inline auto FileStores() {
  return ::testing::Values(StoreCase{"Beside", StoreKind::kBeside},
                           StoreCase{"SharedFile", StoreKind::kSharedFile});
}

inline auto Stores() {
  return ::testing::Values(StoreCase{"Beside", StoreKind::kBeside},
                           StoreCase{"SharedFile", StoreKind::kSharedFile},
                           StoreCase{"PostgreSQL", StoreKind::kPostgres});
}

// Days since 1970-01-01 of a date "YYYY-MM-DD": the History table's Day.
inline long DayNumber(const std::string& date) {
  const std::chrono::year_month_day day{std::chrono::year{std::stoi(date.substr(0, 4))},
                                        std::chrono::month{unsigned(std::stoi(date.substr(5, 2)))},
                                        std::chrono::day{unsigned(std::stoi(date.substr(8, 2)))}};
  return std::chrono::sys_days{day}.time_since_epoch().count();
}

class InstalledFilterTest : public ::testing::TestWithParam<StoreCase> {
 protected:
  void SetUp() override {
    if (GetParam().kind == StoreKind::kPostgres) {
      if (!test_support::PostgresServer::Installed()) GTEST_SKIP() << "PostgreSQL 15 is missing";
      postgres_ = std::make_unique<test_support::PostgresStore>();
      ASSERT_TRUE(postgres_->server().Running());
    }
    std::filesystem::create_directories(Product() / "UserTimesDB");
    std::filesystem::create_directories(Database().parent_path());
    std::filesystem::copy_file(test_support::kBuildDir / "Minutrix.dll",
                               Product() / "Minutrix.dll");
    Db({"create"});
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    if (GetParam().kind == StoreKind::kSharedFile) {
      std::string windows = "Z:" + Database().string();
      for (char& c : windows) c = c == '/' ? '\\' : c;
      machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixStore", "/d",
                    "Data Source=" + windows + ";", "/f"});
    }
    if (postgres_) {
      machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixStore", "/d",
                    postgres_->Target(), "/f"});
    }
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey, "/v", "FilterLoadOrder", "/d",
                  "Minutrix", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey + "\\Minutrix", "/v",
                  "FilterPath", "/d", "c:\\Minutrix\\Minutrix.dll", "/f"});
  }
  std::filesystem::path Product() const { return machine_.root() / "c/Minutrix"; }
  // The store's file, which minutrix-db and the sqlite3 shell are given.
  std::filesystem::path Database() const {
    if (GetParam().kind == StoreKind::kSharedFile) return store_.path() / "UserTimesDB.mdb";
    return Product() / "UserTimesDB/UserTimesDB.mdb";
  }
  bool OnServer() const { return postgres_ != nullptr; }
  // What minutrix-db is given: the file, or the server's connection string.
  std::string Store() const { return postgres_ ? postgres_->Target() : Database().string(); }
  // minutrix-db COMMAND STORE ARGS...
  test_support::CommandResult DbRun(std::vector<std::string> args) const {
    args.insert(args.begin() + 1, Store());
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    const auto result = test_support::Run(args);
    Changed();
    return result;
  }
  void Db(std::vector<std::string> args) const {
    const auto result = DbRun(std::move(args));
    ASSERT_EQ(result.exit_code, 0) << result.output;
  }
  // An SQL statement through the store's own shell, as another program would; rows a line each,
  // columns joined by '|'.
  std::string Sql(const std::string& statement) const {
    if (postgres_) {
      const std::string rows = postgres_->Sql(statement);
      if (statement.rfind("SELECT", 0) != 0) Changed();
      return rows;
    }
    auto out = test_support::Run({"/usr/bin/sqlite3", Database().string(), statement}).output;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  // After a change: until a running filter on a server's store has its notice.
  void Changed() const {
    if (postgres_) std::this_thread::sleep_for(test_support::PostgresStore::kNoticeDelay);
  }

  test_support::ScratchMachine machine_;
  test_support::ScratchDir store_;
  std::unique_ptr<test_support::PostgresStore> postgres_;
};

}  // namespace helper_test
