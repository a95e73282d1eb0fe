// A machine with Minutrix.dll and its database installed in c:\Minutrix\, the clock set through
// MINUTRIX_CLOCK_FILE, and the filter loaded by the test host as the web server loads it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hosts/isapi/filter_host.h"
#include "tests/support/postgres_server.h"
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

  // Runs minutrix-db COMMAND <store> ARGS...; fails the test when it fails.
  void Db(const std::string& command, const std::vector<std::string>& args = {});
  // An SQL statement on the store through its own shell, as another program would; rows a line
  // each, columns joined by '|'.
  virtual std::string Sql(const std::string& statement);
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
  // What minutrix-db is given: the database file, or a server's connection string.
  virtual std::string Store() const { return Database().string(); }
  // After minutrix-db changed the store: until the filter can see the change.
  virtual void Changed() {}

  test_support::ScratchMachine machine_;
  test_support::ScratchDir clock_dir_;
  std::unique_ptr<isapi_host::LoadedFilter> filter_;
  HTTP_FILTER_VERSION version_{};
};

// The store as a parameter: the file beside the filter; a file elsewhere that MinutrixStore
// names, as the filters that share a store use it (periods kept in the store); or a database on
// a PostgreSQL server of the test's own that MinutrixStore names.
enum class HostStore { kBeside, kShared, kPostgres };
struct HostStoreCase {
  const char* name;
  HostStore store;
};
inline auto HostStores() {
  return ::testing::Values(HostStoreCase{"Beside", HostStore::kBeside},
                           HostStoreCase{"SharedFile", HostStore::kShared},
                           HostStoreCase{"PostgreSQL", HostStore::kPostgres});
}

// The parts of a test fixture that depend on the store: a base for StoreHostTest and for
// fixtures whose parameter holds more than the store.
class StoreChoice : public HostTest {
 protected:
  // The SetUp of a fixture on `store`.
  void Choose(HostStore store);
  std::string Sql(const std::string& statement) override;
  std::filesystem::path Database() const override;
  std::string Store() const override;
  void Changed() override;

  HostStore store_ = HostStore::kBeside;
  test_support::ScratchDir shared_;
  std::unique_ptr<test_support::PostgresStore> postgres_;
};

class StoreHostTest : public StoreChoice, public ::testing::WithParamInterface<HostStoreCase> {
 protected:
  void SetUp() override { Choose(GetParam().store); }
};

}  // namespace host_test
