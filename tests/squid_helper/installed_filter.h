// A scratch machine with Minutrix.dll installed and registered for the helper, and its database
// made by minutrix-db: what the helper's program tests start from. The store is a parameter: the
// file beside the filter, or a store named by MinutrixStore that the filter shares with others
// (its counting periods kept in the store), so that every scenario runs on both.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hosts/squid/filter_chain.h"
#include "tests/support/test_support.h"

namespace helper_test {

enum class StoreKind {
  kBeside,      // UserTimesDB\UserTimesDB.mdb beside the filter, no MinutrixStore
  kSharedFile,  // MinutrixStore naming a file elsewhere: the shared store's code on SQLite
};

struct StoreCase {
  const char* name;
  StoreKind kind;
};

inline auto Stores() {
  return ::testing::Values(StoreCase{"Beside", StoreKind::kBeside},
                           StoreCase{"SharedFile", StoreKind::kSharedFile});
}

class InstalledFilterTest : public ::testing::TestWithParam<StoreCase> {
 protected:
  void SetUp() override {
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
  // minutrix-db COMMAND DATABASE ARGS...
  test_support::CommandResult DbRun(std::vector<std::string> args) const {
    args.insert(args.begin() + 1, Database().string());
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    return test_support::Run(args);
  }
  void Db(std::vector<std::string> args) const {
    const auto result = DbRun(std::move(args));
    ASSERT_EQ(result.exit_code, 0) << result.output;
  }

  test_support::ScratchMachine machine_;
  test_support::ScratchDir store_;
};

}  // namespace helper_test
