// minutrix-db's classes and schedules: what each command leaves in the tables, the listings of
// groups and users, the audit of every change, OutsideHoursMessage, and the warning when a
// weekly or monthly reset makes the weekday allowances void.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/store/db_tool_schedule_fixture.h"

namespace {

using db_tool_test::kStart;
using db_tool_test::ScheduleFixture;

struct EffectCase {
  const char* name;
  // Commands in order ("DB" stands for the database); {"SQL", statement} runs the statement.
  std::vector<std::vector<std::string>> commands;
  std::string rows;  // Schedules() after them
};

void PrintTo(const EffectCase& c, std::ostream* out) { *out << c.name; }

class ScheduleEffectTest : public ScheduleFixture,
                           public ::testing::WithParamInterface<EffectCase> {};

TEST_P(ScheduleEffectTest, LeavesTheseRowsAndTellsTheFilter) {
  ASSERT_EQ(Schedules(), kStart);
  for (const auto& command : GetParam().commands) {
    Sqlite("UPDATE FilterSettings SET UsersChanged = 0");
    if (command[0] == "SQL") {
      ASSERT_EQ(Sqlite(command[1]).exit_code, 0) << command[1];
      continue;
    }
    Ok(command);
    EXPECT_EQ(Sqlite("SELECT UsersChanged FROM FilterSettings").output, "1\n") << command[0];
  }
  EXPECT_EQ(Schedules(), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Groups, ScheduleEffectTest,
    ::testing::Values(
        EffectCase{"AddGroupStoresItUpperCase",
                   {{"add-group", "DB", "6b"}},
                   "Users|ANNA|45\nUsers|BOB|60\nScheduleGroups|5A\nScheduleGroups|6B\n"
                   "GroupMembers|ANNA|5A\n"},
        EffectCase{"AddUserIntoAGroupNamedInAnyCase",
                   {{"add-user", "DB", "carl", "30", "--group", "@5a"}},
                   "Users|ANNA|45\nUsers|BOB|60\nUsers|CARL|30\nScheduleGroups|5A\n"
                   "GroupMembers|ANNA|5A\nGroupMembers|CARL|5A\n"},
        EffectCase{"SetGroupMovesTheUserToTheOther",
                   {{"add-group", "DB", "6B"}, {"set-group", "DB", "Anna", "6b"}},
                   "Users|ANNA|45\nUsers|BOB|60\nScheduleGroups|5A\nScheduleGroups|6B\n"
                   "GroupMembers|ANNA|6B\n"},
        EffectCase{"SetGroupDashTakesTheUserOut",
                   {{"set-group", "DB", "anna", "-"}},
                   "Users|ANNA|45\nUsers|BOB|60\nScheduleGroups|5A\n"},
        EffectCase{"RemoveGroupTakesItsScheduleAlong",
                   {{"set-hours", "DB", "@5A", "mon", "08:00-09:00"},
                    {"set-allowance", "DB", "@5A", "30"},
                    {"set-group", "DB", "anna", "-"},
                    {"remove-group", "DB", "5a"}},
                   "Users|ANNA|45\nUsers|BOB|60\n"},
        EffectCase{"AddGroupDropsStaleRowsOfItsName",
                   {{"SQL",
                     "INSERT INTO ScheduleWindows VALUES ('@6B', 'allowed', 0, 60, 120);"
                     "INSERT INTO WeekdayAllowances VALUES ('@6B', 0, 5)"},
                    {"add-group", "DB", "6B"}},
                   "Users|ANNA|45\nUsers|BOB|60\nScheduleGroups|5A\nScheduleGroups|6B\n"
                   "GroupMembers|ANNA|5A\n"},
        EffectCase{"RemoveUserTakesGroupAndOwnRowsAlong",
                   {{"set-hours", "DB", "anna", "mon", "08:00-09:00"},
                    {"set-allowance", "DB", "anna", "10", "--days", "sat"},
                    {"set-hours", "DB", "@5A", "tue", "08:00-09:00"},
                    {"remove-user", "DB", "anna"}},
                   "Users|BOB|60\nScheduleGroups|5A\nScheduleWindows|@5A|allowed|1|480|540\n"},
        EffectCase{"RenameUserTakesGroupAndOwnRowsAlong",
                   {{"set-hours", "DB", "anna", "mon", "08:00-09:00"},
                    {"set-allowance", "DB", "anna", "10", "--days", "sat"},
                    {"rename-user", "DB", "anna", "anna2"}},
                   "Users|ANNA2|45\nUsers|BOB|60\nScheduleGroups|5A\nGroupMembers|ANNA2|5A\n"
                   "WeekdayAllowances|ANNA2|5|10\nScheduleWindows|ANNA2|allowed|0|480|540\n"},
        EffectCase{"AddUserDropsStaleRowsOfItsName",
                   {{"SQL",
                     "INSERT INTO GroupMembers VALUES ('CARL', '5A');"
                     "INSERT INTO ScheduleWindows VALUES ('CARL', 'free', 0, 60, 120);"
                     "INSERT INTO WeekdayAllowances VALUES ('CARL', 0, 5)"},
                    {"add-user", "DB", "carl", "30"}},
                   "Users|ANNA|45\nUsers|BOB|60\nUsers|CARL|30\nScheduleGroups|5A\n"
                   "GroupMembers|ANNA|5A\n"}),
    test_support::ByName());

INSTANTIATE_TEST_SUITE_P(
    Allowances, ScheduleEffectTest,
    ::testing::Values(
        EffectCase{"OfAGroupWithoutDaysIsEveryDay",
                   {{"set-allowance", "DB", "@5A", "30"}},
                   std::string(kStart) + "WeekdayAllowances|@5A|0|30\nWeekdayAllowances|@5A|1|30\n"
                                         "WeekdayAllowances|@5A|2|30\nWeekdayAllowances|@5A|3|30\n"
                                         "WeekdayAllowances|@5A|4|30\nWeekdayAllowances|@5A|5|30\n"
                                         "WeekdayAllowances|@5A|6|30\n"},
        EffectCase{"OfAUserOnDaysAcrossTheWeekendLeavesMaxInternetTime",
                   {{"set-allowance", "DB", "anna", "-1", "--days", "fri-mon"}},
                   std::string(kStart) +
                       "WeekdayAllowances|ANNA|0|-1\nWeekdayAllowances|ANNA|4|-1\n"
                       "WeekdayAllowances|ANNA|5|-1\nWeekdayAllowances|ANNA|6|-1\n"},
        EffectCase{"OfAUserWithoutDaysIsMaxInternetTimeAsBefore",
                   {{"set-allowance", "DB", "anna", "50"}},
                   "Users|ANNA|50\nUsers|BOB|60\nScheduleGroups|5A\nGroupMembers|ANNA|5A\n"},
        EffectCase{"SchoolDaysAndWeekendInTwoCalls",
                   {{"set-allowance", "DB", "@5A", "30", "--days", "mon-fri"},
                    {"set-allowance", "DB", "@5A", "90", "--days", "sat,sun"},
                    {"set-allowance", "DB", "@5A", "20", "--days", "wed"}},
                   std::string(kStart) + "WeekdayAllowances|@5A|0|30\nWeekdayAllowances|@5A|1|30\n"
                                         "WeekdayAllowances|@5A|2|20\nWeekdayAllowances|@5A|3|30\n"
                                         "WeekdayAllowances|@5A|4|30\nWeekdayAllowances|@5A|5|90\n"
                                         "WeekdayAllowances|@5A|6|90\n"},
        EffectCase{
            "NoneRemovesTheDaysGiven",
            {{"set-allowance", "DB", "@5A", "30"},
             {"set-allowance", "DB", "@5A", "none", "--days", "mon-fri"}},
            std::string(kStart) + "WeekdayAllowances|@5A|5|30\nWeekdayAllowances|@5A|6|30\n"},
        EffectCase{"NoneOfAUserWithoutDaysRemovesEveryDay",
                   {{"set-allowance", "DB", "anna", "10", "--days", "mon,sat"},
                    {"set-allowance", "DB", "anna", "none"}},
                   kStart}),
    test_support::ByName());

INSTANTIATE_TEST_SUITE_P(
    Hours, ScheduleEffectTest,
    ::testing::Values(
        EffectCase{"SeveralWindowsInOneCall",
                   {{"set-hours", "DB", "@5A", "mon-wed", "08:00-16:30", "sat", "10:00-12:00"}},
                   std::string(kStart) + "ScheduleWindows|@5A|allowed|0|480|990\n"
                                         "ScheduleWindows|@5A|allowed|1|480|990\n"
                                         "ScheduleWindows|@5A|allowed|2|480|990\n"
                                         "ScheduleWindows|@5A|allowed|5|600|720\n"},
        EffectCase{"ReplaceTheOwnersHoursOfThatKindOnly",
                   {{"set-hours", "DB", "@5A", "mon", "08:00-16:30"},
                    {"set-free-hours", "DB", "@5A", "wed", "10:00-11:00"},
                    {"set-hours", "DB", "@5A", "tue", "09:00-10:00"}},
                   std::string(kStart) + "ScheduleWindows|@5A|allowed|1|540|600\n"
                                         "ScheduleWindows|@5A|free|2|600|660\n"},
        EffectCase{"NoneRemovesOnlyThatKind",
                   {{"set-hours", "DB", "@5A", "mon", "08:00-16:30"},
                    {"set-free-hours", "DB", "@5A", "wed", "10:00-11:00"},
                    {"set-free-hours", "DB", "@5A", "none"}},
                   std::string(kStart) + "ScheduleWindows|@5A|allowed|0|480|990\n"},
        EffectCase{"AcrossMidnightAndUntil2400",
                   {{"set-hours", "DB", "Anna", "fri", "22:00-02:00", "sun", "20:00-24:00"}},
                   std::string(kStart) + "ScheduleWindows|ANNA|allowed|4|1320|120\n"
                                         "ScheduleWindows|ANNA|allowed|6|1200|1440\n"},
        EffectCase{"OfEveryone",
                   {{"set-hours", "DB", "*", "sat,sun", "9:00-21:00"}},
                   std::string(kStart) + "ScheduleWindows|*|allowed|5|540|1260\n"
                                         "ScheduleWindows|*|allowed|6|540|1260\n"},
        EffectCase{
            "AWindowGivenTwiceIsOneRow",
            {{"set-free-hours", "DB", "bob", "mon", "10:00-11:00", "mon-tue", "10:00-11:00"}},
            std::string(kStart) + "ScheduleWindows|BOB|free|0|600|660\n"
                                  "ScheduleWindows|BOB|free|1|600|660\n"}),
    test_support::ByName());

class ScheduleTest : public ScheduleFixture {
 protected:
  // The example of the help and the README, as an administrator would type it, and more.
  void SchoolWeek() {
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"add-user", "DB", "carl", "60", "--group", "5A"},
             {"add-group", "DB", "6B"},
             {"set-allowance", "DB", "@5A", "30", "--days", "mon-fri"},
             {"set-allowance", "DB", "@5A", "90", "--days", "sat,sun"},
             {"set-hours", "DB", "@5A", "mon-fri", "08:00-16:30", "sat,sun", "00:00-24:00"},
             {"set-free-hours", "DB", "@5A", "wed", "10:00-11:00"},
             {"set-hours", "DB", "*", "mon-fri", "07:00-18:00"},
             {"set-allowance", "DB", "bob", "10", "--days", "sat"}}) {
      Ok(command);
    }
  }
};

TEST_F(ScheduleTest, GroupsListsEachGroupWithItsMembersAndScheduleThenTheOwnSchedules) {
  EXPECT_EQ(Ok({"groups", "DB"}),
            "GROUP  MEMBERS  SCHEDULE\n"
            "5A           1  -\n");
  SchoolWeek();
  EXPECT_EQ(Ok({"groups", "DB"}),
            "GROUP  MEMBERS  SCHEDULE\n"
            "5A           2  minutes mon-fri 30 sat,sun 90; hours mon-fri 08:00-16:30 sat,sun "
            "00:00-24:00; free wed 10:00-11:00\n"
            "6B           0  -\n"
            "\n"
            "OWNER  SCHEDULE\n"
            "*      hours mon-fri 07:00-18:00\n"
            "BOB    minutes sat 10\n");
}

TEST_F(ScheduleTest, UsersShowTheGroupInTheLastColumn) {
  SchoolWeek();
  EXPECT_EQ(Ok({"users", "DB"}),
            "USER                           ALLOWANCE    USED      LEFT  EXTRA  GROUP\n"
            "ANNA                                  45       0        45      0  5A\n"
            "BOB                                   60       0        60      0  -\n"
            "CARL                                  60       0        60      0  5A\n");
}

TEST_F(ScheduleTest, EveryChangeIsAudited) {
  const int before = std::stoi(Sqlite("SELECT count(*) FROM Audit").output);
  SchoolWeek();
  Ok({"set-group", "DB", "carl", "6B", "--reason", "moved"});
  Ok({"set-free-hours", "DB", "@5A", "none"});
  Ok({"set-allowance", "DB", "@5A", "none", "--days", "sat"});
  Ok({"remove-user", "DB", "bob"});
  Ok({"set-group", "DB", "carl", "-"});
  Ok({"remove-group", "DB", "6B"});
  Ok({"set", "DB", "OutsideHoursMessage", "School is closed."});
  EXPECT_EQ(
      Sqlite("SELECT Who, Command, Target, OldValue, NewValue, Reason FROM Audit ORDER BY ID"
             " LIMIT -1 OFFSET " +
             std::to_string(before))
          .output,
      "tester|add-user|CARL||allowance 60, group 5A|\n"
      "tester|add-group|@6B||group 6B|\n"
      "tester|set-allowance|@5A||mon-fri 30|\n"
      "tester|set-allowance|@5A|mon-fri 30|mon-fri 30 sat,sun 90|\n"
      "tester|set-hours|@5A||mon-fri 08:00-16:30 sat,sun 00:00-24:00|\n"
      "tester|set-free-hours|@5A||wed 10:00-11:00|\n"
      "tester|set-hours|*||mon-fri 07:00-18:00|\n"
      "tester|set-allowance|BOB||sat 10|\n"
      "tester|set-group|CARL|5A|6B|moved\n"
      "tester|set-free-hours|@5A|wed 10:00-11:00||\n"
      "tester|set-allowance|@5A|mon-fri 30 sat,sun 90|mon-fri 30 sun 90|\n"
      "tester|remove-user|BOB|allowance 60, used 0, own schedule: minutes sat 10||\n"
      "tester|set-group|CARL|6B||\n"
      "tester|remove-group|@6B|group 6B||\n"
      "tester|set|OutsideHoursMessage|Browsing is not allowed at this hour.|School is closed.|\n");
}

TEST_F(ScheduleTest, CommandsSayWhatTheyChanged) {
  EXPECT_EQ(Ok({"set-allowance", "DB", "@5a", "30", "--days", "mon-fri"}),
            "Set the allowance of group 5A on mon-fri to 30 minutes (by weekday now: mon-fri 30; "
            "was: none).\n");
  EXPECT_EQ(Ok({"set-hours", "DB", "@5A", "mon-fri", "08:00-16:30", "wed", "18:00-19:00"}),
            "Set the allowed hours of group 5A to mon-fri 08:00-16:30 wed 18:00-19:00 (was: "
            "none).\n");
  EXPECT_EQ(Ok({"set-hours", "DB", "@5A", "none"}),
            "Removed the allowed hours of group 5A (was: mon-fri 08:00-16:30 wed 18:00-19:00).\n");
  EXPECT_EQ(Ok({"set-group", "DB", "bob", "5a"}), "Put BOB in group 5A (was in none).\n");
  const auto refused = Tool({"remove-group", "DB", "5A"});
  EXPECT_EQ(refused.output,
            "minutrix-db: error: group 5A still has 2 members (ANNA, BOB): take them out first "
            "(set-group DATABASE NAME -, or another group).\n");
}

TEST_F(ScheduleTest, OutsideHoursMessageIsASettingWithItsDefault) {
  EXPECT_NE(
      Ok({"settings", "DB"}).find("OutsideHoursMessage = Browsing is not allowed at this hour.\n"),
      std::string::npos);
  Sqlite("UPDATE FilterSettings SET UsersChanged = 0");
  EXPECT_EQ(Ok({"set", "DB", "outsidehoursmessage", "De school is dicht."}),
            "Set OutsideHoursMessage to 'De school is dicht.' (was 'Browsing is not allowed at "
            "this hour.').\n");
  EXPECT_EQ(Sqlite("SELECT Value FROM MinutrixSettings WHERE Name = 'OutsideHoursMessage';"
                   "SELECT UsersChanged FROM FilterSettings")
                .output,
            "De school is dicht.\n1\n");
  EXPECT_NE(Ok({"settings", "DB"}).find("OutsideHoursMessage = De school is dicht.\n"),
            std::string::npos);
  Ok({"set", "DB", "OutsideHoursMessage", ""});
  EXPECT_NE(
      Ok({"settings", "DB"}).find("OutsideHoursMessage = Browsing is not allowed at this hour.\n"),
      std::string::npos);
}

struct ResetCase {
  const char* name;
  const char* setting;
};

void PrintTo(const ResetCase& c, std::ostream* out) { *out << c.name; }

class PeriodsNotDaysTest : public ScheduleFixture,
                           public ::testing::WithParamInterface<ResetCase> {};

TEST_P(PeriodsNotDaysTest, WarnsThatWeekdayAllowancesAreIgnoredAndRefusesNewOnes) {
  const std::string warning =
      "minutrix-db: warning: 2 weekday allowances (set-allowance --days) are now ignored";
  const auto without = Tool({"set", "DB", GetParam().setting, "yes"});
  EXPECT_EQ(without.exit_code, 0) << without.output;
  EXPECT_EQ(without.output.find("warning"), std::string::npos) << without.output;
  Ok({"set", "DB", GetParam().setting, "no"});
  Ok({"set-allowance", "DB", "@5A", "90", "--days", "sat,sun"});

  const auto with = Tool({"set", "DB", GetParam().setting, "yes"});
  EXPECT_EQ(with.exit_code, 0) << with.output;
  EXPECT_NE(with.output.find(warning), std::string::npos) << with.output;
  EXPECT_NE(with.output.find("Set " + std::string(GetParam().setting) + " to 'yes'"),
            std::string::npos)
      << with.output;

  const std::string rows = Rows();
  const auto refused = Tool({"set-allowance", "DB", "anna", "30", "--days", "mon"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.output.find("allowances by weekday apply only while the periods are days, "
                                "and " +
                                std::string(GetParam().setting) + " is yes"),
            std::string::npos)
      << refused.output;
  EXPECT_EQ(Tool({"set-allowance", "DB", "@5A", "30"}).exit_code, 1) << "every day of a group";
  EXPECT_EQ(Rows(), rows);
  Ok({"set-allowance", "DB", "@5A", "none"});  // removing is always possible
  EXPECT_EQ(Sqlite("SELECT count(*) FROM WeekdayAllowances").output, "0\n");
  Ok({"set-allowance", "DB", "anna", "30"});  // and so is the allowance of every period
}

INSTANTIATE_TEST_SUITE_P(Resets, PeriodsNotDaysTest,
                         ::testing::Values(ResetCase{"Weekly", "ResetWeekly"},
                                           ResetCase{"Monthly", "ResetMonthly"}),
                         test_support::ByName());

}  // namespace
