// A machine with Minutrix.dll and its database installed in c:\Minutrix\, the clock set through
// MINUTRIX_CLOCK_FILE, and the filter loaded by the test host as the web server loads it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hosts/isapi/filter_host.h"
#include "tests/support/test_support.h"

namespace host_test {

inline constexpr const char* kServerName = "proxy.school.test";

struct Answer {
  DWORD status = 0;
  std::vector<isapi_host::SentResponse> responses;
  // The Location of the one redirect sent, or "" when none was sent.
  std::string location() const;
};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs minutrix-db COMMAND <database> ARGS...; fails the test when it fails.
  void Db(const std::string& command, const std::vector<std::string>& args = {});
  // An SQL statement on the database through the sqlite3 shell, as another program would.
  std::string Sql(const std::string& statement);
  int UsedMinutes(const std::string& user);

  // Sets the filter's clock to a local time "YYYY-MM-DD HH:MM:SS".
  void At(const std::string& local_time);

  // Loads Minutrix.dll and makes its version call.
  BOOL Load();
  void Unload();
  Answer Send(const std::string& user, const std::string& url);

  std::string Log() const;
  // Lines of the log, without their CR LF.
  std::vector<std::string> LogLines() const;

  std::filesystem::path Product() const { return machine_.root() / "c/Minutrix"; }
  virtual std::filesystem::path Database() const {
    return Product() / "UserTimesDB/UserTimesDB.mdb";
  }

  test_support::ScratchMachine machine_;
  test_support::ScratchDir clock_dir_;
  std::unique_ptr<isapi_host::LoadedFilter> filter_;
  HTTP_FILTER_VERSION version_{};
};

// The store as a parameter: the file beside the filter, or a file elsewhere that MinutrixStore
// names, as the filters that share a store use it (periods kept in the store).
enum class HostStore { kBeside, kShared };
struct HostStoreCase {
  const char* name;
  HostStore store;
};
inline auto HostStores() {
  return ::testing::Values(HostStoreCase{"Beside", HostStore::kBeside},
                           HostStoreCase{"SharedFile", HostStore::kShared});
}

class StoreHostTest : public HostTest, public ::testing::WithParamInterface<HostStoreCase> {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    if (GetParam().store != HostStore::kShared) return;
    std::string windows = "Z:" + Database().string();
    for (char& c : windows) c = c == '/' ? '\\' : c;
    machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixStore", "/d",
                  "Data Source=" + windows + ";", "/f"});
  }
  std::filesystem::path Database() const override {
    if (GetParam().store == HostStore::kShared) return shared_.path() / "UserTimesDB.mdb";
    return HostTest::Database();
  }

  test_support::ScratchDir shared_;
};

}  // namespace host_test
