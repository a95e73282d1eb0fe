// The filter's store opened on the test's own PostgreSQL server (made by minutrix-db create, the
// filter connected as the filter's role): charges, an administrator's change seen at the next
// request, the daily reset with its marker, and the server stopped in between.
#include <gtest/gtest.h>

#include <memory>

#include "tests/store/store_fixture.h"
#include "tests/support/postgres_server.h"

namespace store_test {
namespace {

using test_support::PostgresServer;

class PostgresFilterStoreTest : public StoreTest {
 protected:
  static void SetUpTestSuite() {
    if (PostgresServer::Installed()) server_ = std::make_unique<PostgresServer>();
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    if (!PostgresServer::Installed()) {
      GTEST_SKIP() << "PostgreSQL 15 is not installed (" << PostgresServer::kBinDir
                   << " is missing)";
    }
    StoreTest::SetUp();
    ASSERT_TRUE(server_ != nullptr);
    if (!server_->Running()) {
      ASSERT_TRUE(server_->Start());
    }
    const std::string database = server_->NewDatabase();
    const auto made = test_support::Run({(test_support::kBuildDir / "minutrix-db").string(),
                                         "create", server_->KeyValue(database)});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    server_->Sql(database,
                 "DO 'BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = ''proxy'') THEN"
                 " CREATE ROLE proxy LOGIN IN ROLE minutrix_filter; END IF; END'");
    store_ = server_->KeyValue(database, "proxy");
    admin_ = ado::CreateConnection();  // the administration tools' side, on the server now
    admin_->Open(server_->KeyValue(database), "", "", 0);
    AddUser("JSMITH", 600);
  }

  bool StartOnServer() {
    started_ = true;
    lastReset = platform::Now();
    OpenDBConnection(store_);
    return filter_.InitializeFilter();
  }

  static std::unique_ptr<PostgresServer> server_;
  std::string store_;
};

std::unique_ptr<PostgresServer> PostgresFilterStoreTest::server_;

TEST_F(PostgresFilterStoreTest, ChargesResetsAndAdministratorsChangesAsOnAFile) {
  ASSERT_TRUE(StartOnServer());
  EXPECT_EQ(Request("jsmith").charged, 1);  // opens the period
  for (int minute = 1; minute <= 3; ++minute) {
    Advance(1);
    EXPECT_EQ(Request("jsmith").charged, 1);
    EXPECT_EQ(Used("JSMITH"), minute);
  }
  EXPECT_EQ(ado::QueryInteger(admin_, "SELECT sum(Minutes) FROM History", {}, 0), 3);

  // An administrator's change, made elsewhere, decides the next request.
  Sql("UPDATE Users SET MaxInternetTime = 2 WHERE UserName = 'JSMITH'");
  Sql("UPDATE FilterSettings SET UsersChanged = 1");
  EXPECT_TRUE(test_support::WaitUntil([&] {
    Advance(0, 1);
    const Outcome outcome = Request("jsmith");
    return outcome.found && !outcome.has_time;
  }));

  // The next day's first request resets, and the marker moves, once.
  Sql("UPDATE Users SET MaxInternetTime = 600 WHERE UserName = 'JSMITH'");
  Sql("UPDATE FilterSettings SET UsersChanged = 1");
  platform::SetFixedTime(At(2026, 12, 9, 8, 0));
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 0);
  EXPECT_EQ(ado::QueryText(admin_, "SELECT LastReset FROM ResetMarker", {}, ""),
            "2026-12-09 08:00:00");
}

TEST_F(PostgresFilterStoreTest, ServerStoppedBetweenRequestsFailsThemThenReconnects) {
  ASSERT_TRUE(StartOnServer());
  EXPECT_EQ(Request("jsmith").charged, 1);
  Advance(1);
  EXPECT_EQ(Request("jsmith").charged, 1);
  EXPECT_EQ(Used("JSMITH"), 1);
  admin_.Release();

  server_->Stop();
  Advance(1);
  const auto before = std::chrono::steady_clock::now();
  Request("jsmith");  // refused as a store failure is, never a crash or a hang
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
  bool told = false;
  for (const std::string& line : Log()) {
    told = told || line.find("the connection to the database server was lost") != std::string::npos;
  }
  EXPECT_TRUE(told) << "no log line tells of the lost server";

  ASSERT_TRUE(server_->Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // tried again once a second
  Advance(0, 10);
  Request("jsmith");
  EXPECT_TRUE(Logged("-[CountMonitoredUsers] Database opened again"));
  Advance(1);
  EXPECT_EQ(Request("jsmith").charged, 1);
  admin_ = ado::CreateConnection();
  admin_->Open(store_, "", "", 0);
  EXPECT_GE(Used("JSMITH"), 2);  // what was confirmed before the stop stays
}

}  // namespace
}  // namespace store_test
