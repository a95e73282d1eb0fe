// A scratch machine with Minutrix.dll installed and registered for the helper, and its database
// made by minutrix-db: what the helper's program tests start from.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hosts/squid/filter_chain.h"
#include "tests/support/test_support.h"

namespace helper_test {

class InstalledFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(Product() / "UserTimesDB");
    std::filesystem::copy_file(test_support::kBuildDir / "Minutrix.dll",
                               Product() / "Minutrix.dll");
    Db({"create"});
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey, "/v", "FilterLoadOrder", "/d",
                  "Minutrix", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey + "\\Minutrix", "/v",
                  "FilterPath", "/d", "c:\\Minutrix\\Minutrix.dll", "/f"});
  }
  std::filesystem::path Product() const { return machine_.root() / "c/Minutrix"; }
  std::filesystem::path Database() const { return Product() / "UserTimesDB/UserTimesDB.mdb"; }
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
};

}  // namespace helper_test
