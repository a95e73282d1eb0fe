// The console on a store of the test's own PostgreSQL server (serve --store): the Today board and
// +15 read and write the server's tables.
#include <gtest/gtest.h>

#include "tests/admin/console_fixture.h"
#include "tests/support/postgres_server.h"

namespace admin_test {
namespace {

using ConsoleOnPostgresTest = test_support::PostgresTest;

TEST_F(ConsoleOnPostgresTest, TodayAndPlusFifteenWorkOnTheServersStore) {
  const auto made = test_support::Run({(test_support::kBuildDir / "minutrix-db").string(), "create",
                                       connection_string_, "--sample"});
  ASSERT_EQ(made.exit_code, 0) << made.output;
  ConsoleServer console({"--store", connection_string_ + " password=Sup3r$ecret"});
  ASSERT_TRUE(console.failures().empty()) << console.failures();
  Browser browser(console.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);

  auto today = browser.Get("/api/today");
  ASSERT_TRUE(today);
  ASSERT_EQ(today->status, 200) << today->body;
  EXPECT_NE(today->body.find("JSMITH"), std::string::npos) << today->body;

  auto plus = browser.Post("/api/users/JSMITH/minutes", {{"add", 15}, {"reason", "exam"}});
  ASSERT_TRUE(plus);
  EXPECT_EQ(plus->status, 200) << plus->body;
  EXPECT_EQ(server().Sql(database_, "SELECT Minutes FROM ExtraMinutes WHERE UserName = 'JSMITH'"),
            "15");
  EXPECT_EQ(server().Sql(database_, "SELECT Reason FROM Audit WHERE Command = 'add-minutes'"),
            "exam");
  EXPECT_EQ(console.ConsoleLog().find("Sup3r$ecret"), std::string::npos);
}

}  // namespace
}  // namespace admin_test
