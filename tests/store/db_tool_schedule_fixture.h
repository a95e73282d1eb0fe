// A database with the users ANNA (45 minutes) and BOB (60) and the class 5A with ANNA in it, made
// with the real minutrix-db, and the schedule tables as the file holds them.
#pragma once

#include <string>

#include "tests/store/db_tool_fixture.h"

namespace db_tool_test {

// The rows of Schedules() that the fixture makes, before a test changes them.
inline constexpr const char* kStart =
    "Users|ANNA|45\n"
    "Users|BOB|60\n"
    "ScheduleGroups|5A\n"
    "GroupMembers|ANNA|5A\n";

class ScheduleFixture : public DbToolFixture {
 protected:
  void SetUp() override {
    DbToolFixture::SetUp();
    Ok({"add-user", "DB", "anna", "45"});
    Ok({"add-user", "DB", "bob", "60"});
    Ok({"add-group", "DB", "5A"});
    Ok({"set-group", "DB", "anna", "5A"});
  }
  // The users and every row of the schedule tables, one line each, in a fixed order.
  std::string Schedules() {
    const auto rows = Sqlite(
        "SELECT 'Users', UserName, MaxInternetTime FROM Users ORDER BY 2;"
        "SELECT 'ScheduleGroups', Name FROM ScheduleGroups ORDER BY 2;"
        "SELECT 'GroupMembers', UserName, GroupName FROM GroupMembers ORDER BY 2;"
        "SELECT 'WeekdayAllowances', Owner, Weekday, Minutes FROM WeekdayAllowances"
        " ORDER BY 2, 3;"
        "SELECT 'ScheduleWindows', Owner, Kind, Weekday, Start, End FROM ScheduleWindows"
        " ORDER BY 2, 3, 4, 5;");
    EXPECT_EQ(rows.exit_code, 0) << rows.output;
    return rows.output;
  }
};

}  // namespace db_tool_test
