// minutrix-db add-minutes and the store's own settings: extra minutes shown by users and told to
// the running filter, cut where the period would allow fewer than none, refused for unlimited
// users, added up when two administrators give minutes at once; HistoryDays and HistoryHosts
// checked, stored and listed.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/store/db_tool_fixture.h"

namespace {

using db_tool_test::DbToolFixture;

class ExtraMinutesTest : public DbToolFixture {
 protected:
  void SetUp() override {
    DbToolFixture::SetUp();
    Ok({"add-user", "DB", "anna", "45"});
    Ok({"add-user", "DB", "free", "-1"});
    Ok({"set-used", "DB", "anna", "40"});
    Ok({"set", "DB", "UsersChanged", "no"});
  }
  std::string Extra(const std::string& user) {
    return Sqlite("SELECT Minutes FROM ExtraMinutes WHERE UserName = '" + user + "'").output;
  }
  std::string UsersChanged() { return Sqlite("SELECT UsersChanged FROM FilterSettings").output; }
};

TEST_F(ExtraMinutesTest, AreShownAndToldToTheFilter) {
  EXPECT_EQ(Ok({"add-minutes", "DB", "Anna", "15"}),
            "Gave ANNA 15 extra minutes for this period: extra 15 (was 0), 60 minutes allowed, "
            "40 used, 20 left.\n");
  EXPECT_EQ(Extra("ANNA"), "15\n");
  EXPECT_EQ(UsersChanged(), "1\n");
  const std::string users = Ok({"users", "DB"});
  EXPECT_NE(users.find("USER                           ALLOWANCE    USED      LEFT  EXTRA\n"),
            std::string::npos)
      << users;
  EXPECT_NE(users.find("ANNA                                  45      40        20     15\n"),
            std::string::npos)
      << users;
  EXPECT_NE(users.find("FREE                           unlimited       0 unlimited      0\n"),
            std::string::npos)
      << users;
  EXPECT_EQ(Ok({"add-minutes", "DB", "anna", "-10"}),
            "Took 10 minutes from ANNA for this period: extra 5 (was 15), 50 minutes allowed, 40 "
            "used, 10 left.\n");
}

TEST_F(ExtraMinutesTest, NeverLeaveThePeriodBelowNothing) {
  auto result = Tool({"add-minutes", "DB", "anna", "-100"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("Took 45 minutes from ANNA for this period: extra -45 (was 0), 0 "
                               "minutes allowed, 40 used, 0 left.\n"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("minutrix-db: warning: the allowance of ANNA is 45 minutes and a "
                               "period cannot allow fewer than 0: took 45 minutes, not 100.\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(Extra("ANNA"), "-45\n");
  // Given back from nothing, not from below it.
  Ok({"set-allowance", "DB", "anna", "30"});
  EXPECT_EQ(Ok({"add-minutes", "DB", "anna", "10"}).rfind("Gave ANNA 10 extra minutes", 0), 0u);
  EXPECT_EQ(Extra("ANNA"), "-20\n");
  // And at most what an allowance can hold.
  result = Tool({"add-minutes", "DB", "anna", "2147483647"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("a period allows at most 2147483647 minutes"), std::string::npos)
      << result.output;
  EXPECT_EQ(Extra("ANNA"), "2147483617\n");
}

TEST_F(ExtraMinutesTest, AreRefusedForAnUnlimitedOrUnknownUser) {
  const std::string before = Rows();
  auto result = Tool({"add-minutes", "DB", "free", "15"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.output,
            "minutrix-db: error: FREE has unlimited access: extra minutes would change nothing. "
            "Give an allowance first (set-allowance) to limit the user.\n");
  result = Tool({"add-minutes", "DB", "nobody", "15"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("there is no user NOBODY"), std::string::npos) << result.output;
  result = Tool({"add-minutes", "DB", "anna", "fifteen"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("N must be a whole number"), std::string::npos) << result.output;
  result = Tool({"add-minutes", "DB", "anna", "-2147483648"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("extra minutes run from -2147483647 to 2147483647"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(Rows(), before);
}

TEST_F(ExtraMinutesTest, FollowTheAllowanceOfToday) {
  // The clock stands on a Tuesday (weekday 1); weekday entries count while periods are days.
  const auto added = Sqlite(
      "INSERT INTO WeekdayAllowances VALUES ('FREE', 1, 30);"
      "INSERT INTO ScheduleGroups VALUES ('class1');"
      "INSERT INTO GroupMembers VALUES ('ANNA', 'class1');"
      "INSERT INTO WeekdayAllowances VALUES ('@CLASS1', 1, -1);");
  ASSERT_EQ(added.exit_code, 0) << added.output;
  EXPECT_EQ(Ok({"add-minutes", "DB", "free", "10"}),
            "Gave FREE 10 extra minutes for this period: extra 10 (was 0), 40 minutes allowed, 0 "
            "used, 40 left.\n");
  auto result = Tool({"add-minutes", "DB", "anna", "10"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("ANNA has unlimited access"), std::string::npos) << result.output;
  Ok({"set", "DB", "ResetWeekly", "yes"});
  result = Tool({"add-minutes", "DB", "free", "10"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("FREE has unlimited access"), std::string::npos) << result.output;
  EXPECT_EQ(Ok({"add-minutes", "DB", "anna", "5"}).rfind("Gave ANNA 5 extra minutes", 0), 0u);
}

TEST_F(ExtraMinutesTest, TwoAdministratorsAtOnceGetBothAdded) {
  constexpr int kRounds = 8;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<test_support::CommandResult> results(2);
    std::vector<std::thread> administrators;
    for (auto& result : results) {
      administrators.emplace_back([this, &result] {
        result = Tool({"add-minutes", "DB", "anna", "15"});
      });
    }
    for (auto& administrator : administrators) administrator.join();
    for (const auto& result : results) ASSERT_EQ(result.exit_code, 0) << result.output;
  }
  EXPECT_EQ(Extra("ANNA"), std::to_string(2 * kRounds * 15) + "\n");
  EXPECT_EQ(Sqlite("SELECT count(*) FROM Audit WHERE Command = 'add-minutes'").output,
            std::to_string(2 * kRounds) + "\n");
}

TEST_F(ExtraMinutesTest, GoWithTheUserWhenRenamedOrRemoved) {
  Ok({"add-minutes", "DB", "anna", "15"});
  Ok({"rename-user", "DB", "anna", "anna.b"});
  EXPECT_EQ(Extra("ANNA"), "");
  EXPECT_EQ(Extra("ANNA.B"), "15\n");
  Ok({"remove-user", "DB", "anna.b"});
  Ok({"add-user", "DB", "anna.b", "45"});  // a new user starts without them
  EXPECT_EQ(Sqlite("SELECT count(*) FROM ExtraMinutes").output, "0\n");
}

TEST_F(DbToolFixture, HistorySettingsAreStoredListedAndToldToTheFilter) {
  Ok({"set", "DB", "UsersChanged", "no"});
  std::string settings = Ok({"settings", "DB"});
  EXPECT_NE(settings.find("WarningMode = no\nHistoryDays = 400\nHistoryHosts = yes\n"),
            std::string::npos)
      << settings;
  EXPECT_EQ(Ok({"set", "DB", "historydays", "30"}), "Set HistoryDays to '30' (was '400').\n");
  EXPECT_EQ(Sqlite("SELECT UsersChanged FROM FilterSettings").output, "1\n");
  Ok({"set", "DB", "UsersChanged", "no"});
  EXPECT_EQ(Ok({"set", "DB", "HistoryHosts", "NO"}), "Set HistoryHosts to 'no' (was 'yes').\n");
  EXPECT_EQ(Sqlite("SELECT UsersChanged FROM FilterSettings").output, "1\n");
  EXPECT_EQ(Sqlite("SELECT Name, Value FROM MinutrixSettings ORDER BY Name").output,
            "HistoryDays|30\nHistoryHosts|no\n");
  settings = Ok({"settings", "DB"});
  EXPECT_NE(settings.find("HistoryDays = 30\nHistoryHosts = no\n"), std::string::npos) << settings;
  const auto none = Tool({"set", "DB", "HistoryDays", "0"});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_NE(none.output.find("warning: HistoryDays 0 keeps no history"), std::string::npos)
      << none.output;
  EXPECT_EQ(Ok({"set", "DB", "HistoryDays", "36500"}), "Set HistoryDays to '36500' (was '0').\n");
}

struct BadSetting {
  const char* name;
  const char* key;
  std::string value;
  const char* message;
};

void PrintTo(const BadSetting& c, std::ostream* out) { *out << c.name; }

class HistorySettingTest : public DbToolFixture,
                           public ::testing::WithParamInterface<BadSetting> {};

TEST_P(HistorySettingTest, RefusesAValueOutOfRange) {
  const std::string before = Rows();
  const auto result = Tool({"set", "DB", GetParam().key, GetParam().value});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
  EXPECT_EQ(Rows(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Values, HistorySettingTest,
    ::testing::Values(
        BadSetting{"NegativeDays", "HistoryDays", "-1", "from 0 to 36500 (digits only), not '-1'"},
        BadSetting{"MoreThanACentury", "HistoryDays", "36501", "not '36501'"},
        BadSetting{"DaysWithAUnit", "HistoryDays", "30d", "not '30d'"},
        BadSetting{"NoDays", "HistoryDays", "", "not ''"},
        BadSetting{"DaysBeyond64Bits", "HistoryDays", "99999999999999999999", "digits only"},
        BadSetting{"HostsNeitherYesNorNo", "HistoryHosts", "sometimes",
                   "HistoryHosts is yes or no, not 'sometimes'"}),
    test_support::ByName());

}  // namespace
