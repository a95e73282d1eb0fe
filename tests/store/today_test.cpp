// The Today board's figures: the allowance of today by weekday and class, extra minutes, what is
// left, and the state, decided as the filter decides the same user's next request.
#include "store/today.h"

#include <gtest/gtest.h>

#include "store/schema.h"
#include "store/usage.h"
#include "tests/store/store_fixture.h"

namespace store_test {
namespace {

class TodayTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    store::CreateOwnTables(admin_);
  }
  void Group(const std::string& user, const std::string& group) {
    Sql("INSERT OR IGNORE INTO ScheduleGroups (Name) VALUES (?1)", {group});
    Sql("INSERT INTO GroupMembers (UserName, GroupName) VALUES (?1, ?2)", {user, group});
  }
  void Window(const std::string& owner, const std::string& kind, int weekday, int start, int end) {
    Sql("INSERT INTO ScheduleWindows (Owner, Kind, Weekday, Start, End) VALUES (?1, ?2, ?3, ?4, "
        "?5)",
        {owner, kind, static_cast<long long>(weekday), static_cast<long long>(start),
         static_cast<long long>(end)});
  }
  void Extra(const std::string& user, long long minutes) {
    Sql("INSERT INTO ExtraMinutes (UserName, Minutes) VALUES (?1, ?2)", {user, minutes});
  }
  // A run of history today (2026-12-08) from minute `start`.
  void Browsed(const std::string& user, int start, int minutes) {
    Sql("INSERT INTO History (Day, UserName, Start, Minutes) VALUES (?1, ?2, ?3, ?4)",
        {static_cast<long long>(store::LocalDayNumber(platform::Now())), user,
         static_cast<long long>(start), static_cast<long long>(minutes)});
  }
  store::UserToday Of(const std::string& user) {
    for (const auto& row : store::ReadToday(admin_, platform::Now())) {
      if (row.user == user) return row;
    }
    ADD_FAILURE() << user << " is not on the board";
    return {};
  }
};

TEST_F(TodayTest, AllowanceOfTodayComesFromTheClassWeekdayAndExtraMinutesAddToWhatIsLeft) {
  AddUser("ANNA", 60, 50);
  Group("ANNA", "Class 3b");
  Sql("INSERT INTO WeekdayAllowances (Owner, Weekday, Minutes) VALUES ('@CLASS 3B', 1, 45)");
  Extra("ANNA", 15);
  const store::UserToday anna = Of("ANNA");
  EXPECT_EQ(anna.group, "Class 3b");
  EXPECT_EQ(anna.max_internet_time, 60);
  EXPECT_EQ(anna.allowance, 45) << "Tuesday's entry of the class";
  EXPECT_EQ(anna.extra, 15);
  EXPECT_EQ(anna.left, 10);  // 45 + 15 - 50
  EXPECT_EQ(anna.state, store::UserState::kIdle);
  EXPECT_EQ(anna.last, -1);
}

TEST_F(TodayTest, StatesFollowTheFiltersOrder) {
  AddUser("OUT", 30, 30);
  AddUser("TAKEN", 30, 10);
  Extra("TAKEN", -40);  // never below nothing left
  AddUser("FREE", 30, 0);
  AddUser("NIGHT", -1, 0);
  AddUser("UNLIMITED", -1, 0);
  AddUser("BUSY", 30, 5);
  Browsed("BUSY", 8 * 60 + 50, 9);  // 08:50 to 08:58; it is 09:00, the gap is 10
  AddUser("RESTED", 30, 5);
  Browsed("RESTED", 8 * 60 + 10, 5);  // last minute 08:14
  Window("FREE", "free", 1, 8 * 60, 10 * 60);
  Window("NIGHT", "allowed", 1, 18 * 60, 22 * 60);
  const auto state = [&](const char* user) { return store::StateName(Of(user).state); };
  EXPECT_STREQ(state("OUT"), "out-of-time");
  EXPECT_STREQ(state("TAKEN"), "out-of-time");
  EXPECT_EQ(Of("TAKEN").left, 0);
  EXPECT_STREQ(state("FREE"), "free-hours");
  EXPECT_STREQ(state("NIGHT"), "outside-hours") << "hours bind unlimited users too";
  EXPECT_STREQ(state("UNLIMITED"), "unlimited");
  EXPECT_EQ(Of("UNLIMITED").left, -1);
  EXPECT_STREQ(state("BUSY"), "browsing");
  EXPECT_EQ(Of("BUSY").last, 8 * 60 + 58);
  EXPECT_STREQ(state("RESTED"), "idle");
  EXPECT_EQ(Of("RESTED").last, 8 * 60 + 14);
}

TEST_F(TodayTest, WhatIsLeftAgreesWithTheFiltersDecision) {
  AddUser("ANNA", 60, 50);
  Group("ANNA", "3B");
  Sql("INSERT INTO WeekdayAllowances (Owner, Weekday, Minutes) VALUES ('@3B', 1, 45)");
  Extra("ANNA", -5);  // 40 today, 50 used: out of time, though MaxInternetTime is 60
  AddUser("BERT", 20, 25);
  Extra("BERT", 10);  // 30 today, 25 used: 5 left
  ASSERT_TRUE(Start());
  for (const char* user : {"ANNA", "BERT"}) {
    const store::UserToday row = Of(user);
    EXPECT_EQ(Request(user).has_time, row.left > 0) << user << " left " << row.left;
  }
  EXPECT_EQ(Of("ANNA").left, 0);
  EXPECT_EQ(Of("BERT").left, 5);
}

TEST_F(TodayTest, WeekdayAllowancesCountOnlyWithDailyPeriods) {
  AddUser("ANNA", 60, 0);
  Sql("INSERT INTO WeekdayAllowances (Owner, Weekday, Minutes) VALUES ('ANNA', 1, 45)");
  EXPECT_EQ(Of("ANNA").allowance, 45);
  Setting("ResetWeekly", 1);
  EXPECT_EQ(Of("ANNA").allowance, 60);
}

TEST_F(TodayTest, ADatabaseOfAnOlderBuildHasNoClassesNoExtraAndNoHistory) {
  for (const char* table :
       {"History", "HistoryHosts", "ExtraMinutes", "MinutrixSettings", "Audit", "ScheduleGroups",
        "GroupMembers", "WeekdayAllowances", "ScheduleWindows"}) {
    Sql(std::string("DROP TABLE ") + table);
  }
  AddUser("ANNA", 60, 20);
  const store::UserToday anna = Of("ANNA");
  EXPECT_EQ(anna.left, 40);
  EXPECT_EQ(anna.group, "");
  store::UserToday one;
  EXPECT_TRUE(store::ReadUserToday(admin_, "anna", platform::Now(), one));
  EXPECT_EQ(one.left, 40);
  EXPECT_FALSE(store::ReadUserToday(admin_, "nobody", platform::Now(), one));
}

}  // namespace
}  // namespace store_test
