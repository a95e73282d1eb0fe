// A database without the store's own tables, made by an older build or by hand with the three
// tables: the reading commands answer as if those tables were empty and change nothing, a
// refused change makes no table, and the first change makes them all, its audit row included.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/store/db_tool_fixture.h"

namespace {

using db_tool_test::DbToolFixture;
namespace fs = std::filesystem;

struct OldKind {
  const char* name;
  std::string sql;  // turns a new database into the old one
};

void PrintTo(const OldKind& kind, std::ostream* out) { *out << kind.name; }

class OldDatabaseTest : public DbToolFixture, public ::testing::WithParamInterface<OldKind> {
 protected:
  void SetUp() override {
    DbToolFixture::SetUp();
    const auto made = Sqlite(GetParam().sql);
    ASSERT_EQ(made.exit_code, 0) << made.output;
    ASSERT_EQ(Tables().find("History"), std::string::npos) << Tables();
  }
};

TEST_P(OldDatabaseTest, ReadsAsEmptyAndGainsItsTablesAtTheFirstChange) {
  const std::string before = Rows();
  const std::vector<std::pair<std::vector<std::string>, std::string>> reads = {
      {{"users", "DB"}, "BOB                                   30       5        25      0\n"},
      {{"settings", "DB"}, "HistoryDays = 400\nHistoryHosts = yes\n"},
      {{"audit", "DB"}, "no changes recorded\n"},
      {{"report", "DB"}, "no usage\n"},
      {{"report", "DB", "--by", "user", "--user", "bob"}, "no usage\n"},
      {{"report", "DB", "--by", "site", "--format", "csv"}, "site,minutes,users\n"},
      {{"report", "DB", "--by", "hour", "--format", "json"}, "[]\n"},
      {{"history", "DB", "bob"}, "no usage\n"},
  };
  for (const auto& [args, said] : reads) {
    const auto result = Tool(args);
    EXPECT_EQ(result.exit_code, 0) << args[0] << ": " << result.output;
    EXPECT_NE(result.output.find(said), std::string::npos) << args[0] << ": " << result.output;
  }
  EXPECT_EQ(Rows(), before);

  EXPECT_EQ(Tool({"add-minutes", "DB", "nobody", "5"}).exit_code, 1);
  EXPECT_EQ(Tool({"set", "DB", "HistoryDays", "never"}).exit_code, 1);
  EXPECT_EQ(Rows(), before);

  Ok({"add-minutes", "DB", "bob", "5", "--reason", "first change"});
  const std::string tables = Tables();
  for (const char* table : {"MinutrixSettings", "History", "HistoryHosts", "ExtraMinutes", "Audit"})
    EXPECT_NE(tables.find(table), std::string::npos) << table << " missing: " << tables;
  EXPECT_EQ(Sqlite("SELECT Command, Target, NewValue, Reason FROM Audit").output,
            "add-minutes|BOB|5|first change\n");
  EXPECT_NE(Ok({"users", "DB"})
                .find("BOB                                   30       5        30      5\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OldDatabaseTest,
    ::testing::Values(
        OldKind{"MadeByAnOlderBuild",
                "DROP TABLE MinutrixSettings; DROP TABLE History; DROP TABLE HistoryHosts;"
                " DROP TABLE ExtraMinutes; DROP TABLE Audit;"
                " INSERT INTO Users VALUES ('BOB', 30, 5);"},
        OldKind{"MadeByHandWithTheThreeTables",
                "DROP TABLE MinutrixSettings; DROP TABLE History; DROP TABLE HistoryHosts;"
                " DROP TABLE ExtraMinutes; DROP TABLE Audit; DROP TABLE ResetMarker;"
                " DROP TABLE Users; DROP TABLE FilterSettings; DROP TABLE tblPages;"
                " CREATE TABLE Users (UserName TEXT, MaxInternetTime INTEGER,"
                " CurrentInternetTime INTEGER);"
                " CREATE TABLE FilterSettings (ID INTEGER PRIMARY KEY, ResetDaily INTEGER,"
                " ResetWeekly INTEGER, ResetMonthly INTEGER, ShowStartMessage INTEGER,"
                " DeniedMessage TEXT, UsersChanged INTEGER, IdleGapMinutes INTEGER,"
                " CurrentUserCommand TEXT, ServerPort TEXT, ChangedBy TEXT, ChangedAt TEXT,"
                " WarningMode INTEGER);"
                " CREATE TABLE tblPages (ID INTEGER PRIMARY KEY, PageName TEXT);"
                " INSERT INTO FilterSettings VALUES (1, 1, 0, 0, 0, 'Stop', 0, 10, 'timeleft',"
                " '80', '', '', 0);"
                " INSERT INTO Users VALUES ('BOB', 30, 5);"}),
    test_support::ByName());

}  // namespace
