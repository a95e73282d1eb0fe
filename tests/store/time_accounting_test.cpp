// Charging minutes over realistic spans with the settable clock, and the periodic resets.
#include "tests/store/store_fixture.h"

namespace store_test {
namespace {

class AccountingTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    AddUser("JSMITH", 600);
    AddUser("PJANSEN", 600);
    AddSite("Enter free websites here!");
    AddSite("wikipedia");
  }
  long Writes() const { return CountLog(">[RegisterTime] USER jsmith: ,"); }
};

TEST_F(AccountingTest, TenRequestsAMinuteApartChargeOneMinuteEach) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(Request("jsmith").charged, 1);  // opens the period
  for (int minute = 1; minute <= 10; ++minute) {
    Advance(0, minute == 1 ? 60 : 30);
    EXPECT_EQ(Request("jsmith").charged, 1);
    EXPECT_EQ(Used("JSMITH"), minute);
    Advance(0, 30);
    Request("jsmith");  // same minute: nothing more to write
    EXPECT_EQ(Used("JSMITH"), minute);
  }
  EXPECT_EQ(Writes(), 10);
  EXPECT_EQ(Used("PJANSEN"), 0);
}

TEST_F(AccountingTest, PauseOfExactlyTheIdleGapStartsAnUnchargedPeriod) {
  Setting("ShowStartMessage", 1);
  ASSERT_TRUE(Start());
  EXPECT_EQ(Request("jsmith").first_request, 1);
  Advance(3);
  EXPECT_EQ(Request("jsmith").first_request, 0);
  EXPECT_EQ(Used("JSMITH"), 3);
  Advance(10);  // exactly IdleGapMinutes since the last charge
  const Outcome back = Request("jsmith");
  EXPECT_EQ(back.first_request, 1);
  EXPECT_EQ(Used("JSMITH"), 3);
  EXPECT_TRUE(Logged(">[RegisterTime] 10 min zijn verlopen"));
  EXPECT_TRUE(Logged(">[RegisterTime] Aantal minuten was : 3"));
  Advance(2);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 5);
}

TEST_F(AccountingTest, PauseShorterThanTheGapIsCharged) {
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(9, 59);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 9);
}

TEST_F(AccountingTest, PeriodLongerThanAnHourKeepsCounting) {
  ASSERT_TRUE(Start());
  Request("jsmith");
  for (int i = 0; i < 15; ++i) {
    Advance(5);
    Request("jsmith");
  }
  EXPECT_EQ(Used("JSMITH"), 75);
}

TEST_F(AccountingTest, IdleGapZeroNeverCharges) {
  Setting("IdleGapMinutes", 0);
  ASSERT_TRUE(Start());
  for (int i = 0; i < 5; ++i) {
    Request("jsmith");
    Advance(2);
  }
  EXPECT_EQ(Used("JSMITH"), 0);
}

TEST_F(AccountingTest, AllowanceReachedExactlyAndOvershootStopsAtTheMaximum) {
  Sql("UPDATE Users SET MaxInternetTime = 5 WHERE UserName = 'JSMITH'");
  Sql("UPDATE Users SET MaxInternetTime = 5 WHERE UserName = 'PJANSEN'");
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(5);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 5);
  EXPECT_FALSE(Request("jsmith").has_time);

  Request("pjansen");
  Advance(8);
  Request("pjansen");
  EXPECT_EQ(Used("PJANSEN"), 5);
  EXPECT_TRUE(Logged(">[RegisterTime] Max time is reached"));
  const Outcome after = Request("pjansen");
  EXPECT_TRUE(after.found);
  EXPECT_FALSE(after.has_time);
  EXPECT_EQ(after.charged, -1);
}

TEST_F(AccountingTest, OutsideChangeWithTheSqliteShellRestartsCounting) {
  if (!fs::exists("/usr/bin/sqlite3")) GTEST_SKIP() << "the sqlite3 shell is not installed";
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(4);
  Request("jsmith");
  ASSERT_EQ(Used("JSMITH"), 4);
  const auto shell =
      test_support::Run({"/usr/bin/sqlite3", DbPath().string(),
                         "UPDATE Users SET CurrentInternetTime = 0 WHERE UserName = 'JSMITH';"});
  ASSERT_EQ(shell.exit_code, 0) << shell.output;
  Advance(1);
  Request("jsmith");
  EXPECT_TRUE(Logged(">[RegisterTime] Time has been altered in database now using new time"));
  EXPECT_TRUE(Logged(">[RegisterTime] 0 !=,"));
  EXPECT_EQ(Used("JSMITH"), 0);
  Advance(3);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 3);
}

TEST_F(AccountingTest, FreeSiteSevenMinutesInChargesThePeriodAndNotTheVisit) {
  ASSERT_TRUE(Start());
  Sql("UPDATE Users SET CurrentInternetTime = 20 WHERE UserName = 'JSMITH'");
  Request("jsmith");  // period starts with iOldMinutes 20
  Advance(3);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 23);
  Advance(4);
  EXPECT_TRUE(Request("jsmith", "http://en.Wikipedia.org/wiki/Minute").free_site);
  EXPECT_EQ(Used("JSMITH"), 27);
  EXPECT_TRUE(Logged(">[RegisterTime] Accessing a free site"));
  Advance(6);         // on the free site
  Request("jsmith");  // back: a new period, the visit is not charged
  EXPECT_EQ(Used("JSMITH"), 27);
  Advance(2);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 29);
}

TEST_F(AccountingTest, RestartInTheMiddleOfAPeriodLosesAndDoublesNothing) {
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(5);
  Request("jsmith");
  ASSERT_EQ(Used("JSMITH"), 5);
  Stop();
  Advance(0, 30);
  ResetLogForTests();
  ASSERT_TRUE(Start());
  Request("jsmith");  // a new period from the stored 5 minutes
  EXPECT_TRUE(Logged(">[RegisterTime] iOldMinutes nieuwe timestruct : 5"));
  EXPECT_EQ(Used("JSMITH"), 5);
  Advance(3);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 8);
}

TEST_F(AccountingTest, UserRemovedBeforeTheChargeIsNotCharged) {
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(2);
  bool has_time = false, found = false;
  ASSERT_EQ(LookUpUserInSet("jsmith", &has_time, &found), 1);
  Sql("DELETE FROM Users WHERE UserName = 'JSMITH'");
  int first = 0;
  EXPECT_EQ(RegisterTime("jsmith", nullptr, &first, has_time), 0);
  EXPECT_TRUE(Logged("*[RegisterTime] Failed to find user jsmith"));
  EXPECT_TRUE(Logged(">[RegisterTime] Please add user jsmith to database"));
  EXPECT_EQ(sectionUseCount[3].load(), 0);
}

TEST_F(AccountingTest, UnlimitedUserIsPassedOnAtTheFirstRequest) {
  Sql("UPDATE Users SET MaxInternetTime = -1 WHERE UserName = 'JSMITH'");
  ASSERT_TRUE(Start());
  int first = 0;
  EXPECT_EQ(RegisterTime("JSMITH", nullptr, &first, 1),
            static_cast<int>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_TRUE(Logged(">UnlimitedAccess: JSMITH is being given free accesss to all internet sites"));
}

TEST_F(AccountingTest, UserOutOfTimeIsNotCharged) {
  ASSERT_TRUE(Start());
  int first = 0;
  EXPECT_EQ(RegisterTime("jsmith", nullptr, &first, 0), 1);
  EXPECT_TRUE(TimesMap.empty());
}

TEST_F(AccountingTest, LockedDatabaseFailsTheChargeAndLosesNoMinute) {
  ASSERT_TRUE(Start());
  m_pConnection->SetCommandTimeout(std::chrono::milliseconds(100));
  Request("jsmith");
  Advance(2);
  Sql("BEGIN IMMEDIATE");  // the administration tools hold the write lock
  EXPECT_EQ(Request("jsmith").charged, 0);
  EXPECT_TRUE(Logged("*Error:"));
  EXPECT_EQ(sectionUseCount[3].load(), 0);
  Sql("ROLLBACK");
  EXPECT_EQ(Used("JSMITH"), 0);
  Advance(1);
  EXPECT_EQ(Request("jsmith").charged, 1);
  EXPECT_EQ(Used("JSMITH"), 3);
}

TEST_F(AccountingTest, ClockSetBackNeverLowersTheUsedMinutes) {
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(6);
  Request("jsmith");
  ASSERT_EQ(Used("JSMITH"), 6);
  Advance(-30);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 6);
  Advance(2);
  Request("jsmith");
  EXPECT_EQ(Used("JSMITH"), 8);
}

// ---- resets ----

struct ResetCase {
  const char* name;
  std::time_t start;
  std::time_t next;
  const char* setting;  // the reset switched on besides ResetDaily's value below
  int reset_daily;
  bool resets;
};

class ResetTest : public AccountingTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetTest, ResetsWhenTheScheduleSays) {
  const ResetCase& c = GetParam();
  Setting("ResetDaily", c.reset_daily);
  if (c.setting[0] != '\0') Setting(c.setting, 1);
  platform::SetFixedTime(c.start);
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(5);
  Request("jsmith");
  ASSERT_EQ(Used("JSMITH"), 5);
  Sql("UPDATE Users SET CurrentInternetTime = 7 WHERE UserName = 'PJANSEN'");
  platform::SetFixedTime(c.next);
  CheckResetSchedule();
  EXPECT_EQ(Used("JSMITH"), c.resets ? 0 : 5);
  EXPECT_EQ(Used("PJANSEN"), c.resets ? 0 : 7);
  EXPECT_EQ(TimesMap.empty(), c.resets);
}

INSTANTIATE_TEST_SUITE_P(
    Schedule, ResetTest,
    ::testing::Values(
        ResetCase{"DailyNextDay", At(2026, 12, 8, 23, 50), At(2026, 12, 9, 0, 1), "", 1, true},
        ResetCase{"DailyOffNextDay", At(2026, 12, 8, 23, 50), At(2026, 12, 9, 0, 1), "", 0, false},
        ResetCase{"DailySameDay", At(2026, 12, 8, 9), At(2026, 12, 8, 23, 59), "", 1, false},
        ResetCase{"WeeklyNextMonday", At(2026, 12, 9), At(2026, 12, 14, 8), "ResetWeekly", 0, true},
        ResetCase{"WeeklyOnStartMonday", At(2026, 12, 14, 8), At(2026, 12, 14, 20), "ResetWeekly",
                  0, false},
        ResetCase{"WeeklyOffOnMonday", At(2026, 12, 9), At(2026, 12, 14, 8), "", 0, false},
        ResetCase{"MonthlyMonthEnd", At(2027, 1, 31, 22), At(2027, 2, 1, 7), "ResetMonthly", 0,
                  true},
        ResetCase{"MonthlyYearEnd", At(2026, 12, 31, 22), At(2027, 1, 1, 7), "ResetMonthly", 0,
                  true},
        ResetCase{"MonthlySameMonth", At(2026, 12, 1), At(2026, 12, 30), "ResetMonthly", 0, false}),
    test_support::ByName());

TEST_F(AccountingTest, StartOnMondayThenNextMondayResets) {
  Setting("ResetDaily", 0);
  Setting("ResetWeekly", 1);
  platform::SetFixedTime(At(2026, 12, 14, 8));  // Monday
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(4);
  Request("jsmith");
  for (int day = 15; day <= 20; ++day) {  // Tuesday to Sunday: nothing resets
    platform::SetFixedTime(At(2026, 12, day, 8));
    CheckResetSchedule();
  }
  EXPECT_EQ(Used("JSMITH"), 4);
  platform::SetFixedTime(At(2026, 12, 21, 8));  // next Monday
  CheckResetSchedule();
  EXPECT_EQ(Used("JSMITH"), 0);
  EXPECT_EQ(CountLog("][ResetUserTimes] User reset!"), 2);
}

TEST_F(AccountingTest, DailyResetWithDailyOffMovesTheDecisionOnly) {
  Setting("ResetDaily", 0);
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(3);
  Request("jsmith");
  platform::SetFixedTime(At(2026, 12, 9, 8));
  CheckResetSchedule();
  EXPECT_EQ(lastReset, At(2026, 12, 9, 8));
  EXPECT_EQ(Used("JSMITH"), 3);
  EXPECT_FALSE(TimesMap.empty());
}

// ---- the reset as one transaction with its marker ----

TEST_F(AccountingTest, ResetRefusedByALockChangesNothingAndIsDoneNextTime) {
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(4);
  Request("jsmith");
  Sql("UPDATE Users SET CurrentInternetTime = 9 WHERE UserName = 'PJANSEN'");
  const std::time_t before = lastReset;
  const std::string marker = ado::QueryText(admin_, "SELECT LastReset FROM ResetMarker", {}, "");
  m_pConnection->SetCommandTimeout(std::chrono::milliseconds(100));
  Sql("BEGIN IMMEDIATE");
  platform::SetFixedTime(At(2026, 12, 9, 0, 1));
  EXPECT_THROW(CheckResetSchedule(), ado::ComError);
  Sql("ROLLBACK");
  EXPECT_EQ(Used("JSMITH"), 4);
  EXPECT_EQ(Used("PJANSEN"), 9);
  EXPECT_EQ(lastReset, before);
  EXPECT_EQ(ado::QueryText(admin_, "SELECT LastReset FROM ResetMarker", {}, ""), marker);
  EXPECT_FALSE(TimesMap.empty());
  EXPECT_EQ(sectionUseCount[3].load(), 0);
  CheckResetSchedule();
  EXPECT_EQ(Used("JSMITH"), 0);
  EXPECT_EQ(Used("PJANSEN"), 0);
  EXPECT_EQ(ado::QueryText(admin_, "SELECT LastReset FROM ResetMarker", {}, ""),
            "2026-12-09 00:01:00");
  EXPECT_TRUE(TimesMap.empty());
  EXPECT_EQ(CountLog("][ResetUserTimes] User reset!"), 2);
}

TEST_F(AccountingTest, DailyOffMovesTheStoredMarkerToo) {
  Setting("ResetDaily", 0);
  ASSERT_TRUE(Start());
  Request("jsmith");
  platform::SetFixedTime(At(2026, 12, 9, 8));
  CheckResetSchedule();
  EXPECT_EQ(ado::QueryText(admin_, "SELECT LastReset FROM ResetMarker", {}, ""),
            "2026-12-09 08:00:00");
  Stop();
  ResetLogForTests();
  platform::SetFixedTime(At(2026, 12, 9, 9));
  ASSERT_TRUE(Start());  // the marker, not the load time
  EXPECT_EQ(lastReset, At(2026, 12, 9, 8));
}

}  // namespace
}  // namespace store_test

namespace store_test {
namespace {

// ---- the clock stepping back over a reset ----

struct StepBackCase {
  const char* name;
  const char* setting;     // the reset switched on (ResetDaily stays on)
  std::time_t before;      // the last request before the reset
  std::time_t reset_at;    // the first request after the boundary: the reset
  std::time_t back_to;     // where the clock steps back to
  std::time_t again_at;    // the boundary passed a second time
  std::time_t next_reset;  // the next boundary: resets as always
};

void PrintTo(const StepBackCase& c, std::ostream* os) { *os << c.name; }

class ClockStepBackTest : public AccountingTest,
                          public ::testing::WithParamInterface<StepBackCase> {};

TEST_P(ClockStepBackTest, ResetsNothingTwice) {
  const StepBackCase& c = GetParam();
  if (c.setting[0] != '\0') {
    Setting("ResetDaily", 0);
    Setting(c.setting, 1);
  }
  platform::SetFixedTime(c.before);
  ASSERT_TRUE(Start());
  Request("jsmith");
  Advance(5);
  Request("jsmith");
  platform::SetFixedTime(c.reset_at);
  CheckResetSchedule();
  ASSERT_EQ(Used("JSMITH"), 0);
  Request("jsmith");
  for (int i = 0; i < 2; ++i) {
    Advance(5);
    Request("jsmith");
  }
  ASSERT_EQ(Used("JSMITH"), 10);

  platform::SetFixedTime(c.back_to);  // time sync steps the clock back over the boundary
  CheckResetSchedule();
  Request("jsmith");
  platform::SetFixedTime(c.again_at);
  CheckResetSchedule();
  EXPECT_EQ(Used("JSMITH"), 10) << "the period was reset a second time";
  EXPECT_EQ(CountLog("][ResetUserTimes] User reset!"), 2);  // a line per user: one reset

  platform::SetFixedTime(c.next_reset);
  CheckResetSchedule();
  EXPECT_EQ(Used("JSMITH"), 0) << "the next period's reset must still come";
  EXPECT_EQ(CountLog("][ResetUserTimes] User reset!"), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ClockStepBackTest,
    ::testing::Values(
        StepBackCase{"Day", "", At(2026, 12, 8, 23, 30), At(2026, 12, 9, 0, 1),
                     At(2026, 12, 8, 23, 40), At(2026, 12, 9, 0, 0), At(2026, 12, 10, 0, 1)},
        StepBackCase{"MondayBackToSunday", "ResetWeekly", At(2026, 12, 13, 23, 30),
                     At(2026, 12, 14, 0, 1), At(2026, 12, 13, 23, 40), At(2026, 12, 14, 0, 5),
                     At(2026, 12, 21, 0, 1)},
        StepBackCase{"FirstOfMarchBackToFebruary", "ResetMonthly", At(2027, 2, 28, 23, 30),
                     At(2027, 3, 1, 0, 1), At(2027, 2, 28, 23, 40), At(2027, 3, 1, 0, 5),
                     At(2027, 4, 1, 0, 1)},
        // A wrong jump ten years ahead resets once; its correction resets nothing, and the
        // next day resets as usual instead of waiting ten years for the marker.
        StepBackCase{"TenYearJumpCorrected", "", At(2026, 12, 8, 9, 0), At(2036, 12, 8, 9, 0),
                     At(2026, 12, 8, 9, 30), At(2026, 12, 8, 9, 40), At(2026, 12, 9, 0, 1)}),
    test_support::ByName());

TEST_F(AccountingTest, MarkerNeverMovesBackForASmallStep) {
  ASSERT_TRUE(Start());
  platform::SetFixedTime(At(2026, 12, 9, 0, 30));
  CheckResetSchedule();
  platform::SetFixedTime(At(2026, 12, 8, 23, 40));
  CheckResetSchedule();
  EXPECT_EQ(lastReset, At(2026, 12, 9, 0, 30));
  EXPECT_EQ(ado::QueryText(admin_, "SELECT LastReset FROM ResetMarker", {}, ""),
            "2026-12-09 00:30:00");
}

}  // namespace
}  // namespace store_test
