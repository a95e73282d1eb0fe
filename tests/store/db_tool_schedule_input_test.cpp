// minutrix-db's classes and schedules on bad input: windows that do not parse, unknown weekdays,
// groups and users that do not exist, minutes below -1, names that would read as a group or as
// everyone. Each is refused with a message that names the bad part, and no row changes.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/store/db_tool_schedule_fixture.h"

namespace {

using db_tool_test::ScheduleFixture;

struct Refused {
  const char* name;
  std::vector<std::string> args;  // "DB" stands for the database
  std::vector<std::string> said;  // parts of the message
  int exit_code = 1;
};

void PrintTo(const Refused& c, std::ostream* out) { *out << c.name; }

class ScheduleRefusalTest : public ScheduleFixture, public ::testing::WithParamInterface<Refused> {
 protected:
  void SetUp() override {
    ScheduleFixture::SetUp();
    Ok({"set-hours", "DB", "@5A", "mon-fri", "08:00-16:30"});
    Ok({"set-allowance", "DB", "@5A", "30"});
  }
};

TEST_P(ScheduleRefusalTest, NamesTheBadPartAndChangesNothing) {
  const std::string before = Rows();
  const auto result = Tool(GetParam().args);
  EXPECT_EQ(result.exit_code, GetParam().exit_code) << result.output;
  EXPECT_EQ(
      result.output.rfind(GetParam().exit_code == 1 ? "minutrix-db: error: " : "minutrix-db: ", 0),
      0u)
      << result.output;
  for (const std::string& part : GetParam().said)
    EXPECT_NE(result.output.find(part), std::string::npos) << part << "\n" << result.output;
  for (const char c : result.output) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n')
        << "a raw control character reached the terminal: " << result.output;
  }
  EXPECT_EQ(Rows(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, ScheduleRefusalTest,
    ::testing::Values(
        Refused{"HoursWithoutMinutes",
                {"set-hours", "DB", "@5A", "mon-fri", "8-16"},
                {"window 1: '8-16' is not a time window HH:MM-HH:MM"}},
        Refused{"HourPast24",
                {"set-hours", "DB", "@5A", "mon", "08:00-12:00", "tue", "25:00-26:00"},
                {"window 2: '25:00-26:00' is not a time window"}},
        Refused{"OneTimeForAWindow",
                {"set-hours", "DB", "@5A", "mon", "25:00"},
                {"'25:00' is not a time window"}},
        Refused{"MinutePast59",
                {"set-free-hours", "DB", "@5A", "mon", "10:60-11:00"},
                {"'10:60-11:00' is not a time window"}},
        Refused{"StartAt2400", {"set-hours", "DB", "@5A", "mon", "24:00-02:00"}, {"'24:00-02:00'"}},
        Refused{"EmptyWindow",
                {"set-hours", "DB", "@5A", "mon", "10:00-10:00"},
                {"'10:00-10:00' is an empty window"}},
        Refused{"UnknownWeekday",
                {"set-hours", "DB", "@5A", "mon-frx", "10:00-11:00"},
                {"'mon-frx' is not a weekday or a range of weekdays"}},
        Refused{"TimesBeforeDays",
                {"set-hours", "DB", "@5A", "08:00-16:30", "mon-fri"},
                {"'08:00-16:30' is not a weekday", "a day list and a time window"}},
        Refused{"DaysWithoutTimes",
                {"set-hours", "DB", "@5A", "mon-fri", "08:00-16:30", "sat"},
                {"window 2: 'sat' has no time window after it"}},
        Refused{"NoneAmongWindows",
                {"set-free-hours", "DB", "@5A", "none", "mon", "10:00-11:00"},
                {"'none' removes all the hours and stands alone"}},
        Refused{"LineBreakInAWindow",
                {"set-hours", "DB", "@5A", "mon\n", "10:00-11:00"},
                {"'mon\\x0A' is not a weekday"}},
        Refused{"HoursOfAGroupThatDoesNotExist",
                {"set-hours", "DB", "@6B", "mon", "10:00-11:00"},
                {"there is no group '6B'"}},
        Refused{"FreeHoursOfAUserThatDoesNotExist",
                {"set-free-hours", "DB", "nobody", "mon", "10:00-11:00"},
                {"there is no user NOBODY"}},
        Refused{"HoursWithoutAWindow", {"set-hours", "DB", "@5A"}, {"wrong arguments"}, 2}),
    test_support::ByName());

INSTANTIATE_TEST_SUITE_P(
    Allowances, ScheduleRefusalTest,
    ::testing::Values(
        Refused{"BelowMinusOne",
                {"set-allowance", "DB", "@5A", "-2", "--days", "mon"},
                {"an allowance is -1 (unlimited) or 0 to 2147483647 minutes, not -2"}},
        Refused{"AboveTheColumn",
                {"set-allowance", "DB", "anna", "2147483648", "--days", "mon"},
                {"is too large"}},
        Refused{"NotANumber",
                {"set-allowance", "DB", "@5A", "lots"},
                {"MINUTES must be a whole number, not 'lots'"}},
        Refused{"DaysWithoutAList",
                {"set-allowance", "DB", "anna", "30", "--days"},
                {"--days needs a value"},
                2},
        Refused{"DaysAnEmptyList",
                {"set-allowance", "DB", "anna", "30", "--days", ""},
                {"--days: no weekdays given"}},
        Refused{"DaysUnknown",
                {"set-allowance", "DB", "@5A", "30", "--days", "mon-fry"},
                {"--days: 'mon-fry' is not a weekday"}},
        Refused{"DaysTrailingComma",
                {"set-allowance", "DB", "@5A", "30", "--days", "sat,"},
                {"'' is not a weekday"}},
        Refused{"OfAGroupThatDoesNotExist",
                {"set-allowance", "DB", "@6B", "30"},
                {"there is no group '6B'"}},
        Refused{"OfAUserThatDoesNotExist",
                {"set-allowance", "DB", "nobody", "30", "--days", "sat"},
                {"there is no user NOBODY"}},
        Refused{"OfEveryone",
                {"set-allowance", "DB", "*", "30", "--days", "sat"},
                {"not for everyone (*)"}}),
    test_support::ByName());

INSTANTIATE_TEST_SUITE_P(
    Groups, ScheduleRefusalTest,
    ::testing::Values(
        Refused{"AddAGroupAgainInOtherCase", {"add-group", "DB", "@5a"}, {"group 5A exists"}},
        Refused{"BlankGroupName", {"add-group", "DB", " "}, {"must not be empty or blank"}},
        Refused{"GroupNamedDash", {"add-group", "DB", "-"}, {"'-' is no group name"}},
        Refused{"GroupNameTooLong",
                {"add-group", "DB", std::string(60, 'g')},
                {"at most 59 bytes", "this one has 60"}},
        Refused{"GroupNameWithTab",
                {"add-group", "DB", "5\tA"},
                {"group name '5\\x09A' holds a control character"}},
        Refused{"GroupNameNotUtf8", {"add-group", "DB", "kl\xE9"}, {"is not UTF-8"}},
        Refused{"RemoveAGroupWithMembers",
                {"remove-group", "DB", "5a"},
                {"group 5A still has 1 member (ANNA): take them out first"}},
        Refused{"RemoveAGroupThatDoesNotExist",
                {"remove-group", "DB", "6B"},
                {"there is no group '6B'"}},
        Refused{"PutIntoAGroupThatDoesNotExist",
                {"set-group", "DB", "bob", "6B"},
                {"there is no group '6B'"}},
        Refused{"PutAUserThatDoesNotExist",
                {"set-group", "DB", "nobody", "5A"},
                {"there is no user NOBODY"}},
        Refused{"AddAUserIntoAGroupThatDoesNotExist",
                {"add-user", "DB", "carl", "30", "--group", "6B"},
                {"there is no group '6B'"}},
        Refused{"AddAUserWithAnEmptyGroup",
                {"add-user", "DB", "carl", "30", "--group", ""},
                {"--group needs the name of a group"}},
        Refused{"UserNamedLikeAGroup",
                {"add-user", "DB", "@5A", "30"},
                {"user name '@5A' starts with '@'"}},
        Refused{"UserNamedEveryone", {"add-user", "DB", "*", "30"}, {"stands for everyone"}},
        Refused{"RenameToAGroupName", {"rename-user", "DB", "anna", "@x"}, {"starts with '@'"}},
        Refused{"OutsideHoursMessageTooLong",
                {"set", "DB", "OutsideHoursMessage", std::string(255, 'm')},
                {"at most 254 bytes"}},
        Refused{"OutsideHoursMessageWithLineBreak",
                {"set", "DB", "OutsideHoursMessage", "closed\r\nLocation: x"},
                {"holds a control character"}}),
    test_support::ByName());

}  // namespace
