// Classes and schedules through the helper's line protocol with its clock moved: allowances by
// weekday, allowed hours, free hours, and the clock's hard days, in the Amsterdam time zone.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/squid_helper/installed_filter.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMon = 0, kTue = 1, kFri = 4, kSat = 5, kSun = 6;

int Minute(int hour, int minute) { return hour * 60 + minute; }

// Seconds since 1970 of a UTC time, for the local times that happen twice.
std::time_t Utc(int year, int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = 30;
  return ::timegm(&tm);
}

class ScheduleTest : public helper_test::InstalledFilterTest {
 protected:
  void SetUp() override {
    InstalledFilterTest::SetUp();
    Db({"add-user", "alice", "60"});
    Db({"add-user", "kim", "60"});
    Db({"add-user", "pat", "-1"});
    Db({"add-site", "--host", "lessons.example"});
    // Class 5A: alice and pat.
    Sql("INSERT INTO ScheduleGroups VALUES ('5A');"
        "INSERT INTO GroupMembers VALUES ('ALICE', '5A'), ('PAT', '5A');");
  }
  int Used(const std::string& user) const {
    return std::stoi(Sql("SELECT CurrentInternetTime FROM Users WHERE UserName = '" + user + "'"));
  }
  // What the administration tools write, with the signal the filter rereads at.
  void Window(const std::string& owner, const char* kind, int weekday, int start, int end) {
    Sql("INSERT INTO ScheduleWindows VALUES ('" + owner + "', '" + kind + "', " +
        std::to_string(weekday) + ", " + std::to_string(start) + ", " + std::to_string(end) +
        "); UPDATE FilterSettings SET UsersChanged = 1;");
  }
  void Allowance(const std::string& owner, int weekday, int minutes) {
    const std::string key = "Owner = '" + owner + "' AND Weekday = " + std::to_string(weekday);
    Sql("DELETE FROM WeekdayAllowances WHERE " + key + "; INSERT INTO WeekdayAllowances VALUES ('" +
        owner + "', " + std::to_string(weekday) + ", " + std::to_string(minutes) +
        "); UPDATE FilterSettings SET UsersChanged = 1;");
  }
  void At(const std::string& local_time) {
    test_support::WriteFile(clock_.path() / "clock", local_time + "\n");
  }
  void At(std::time_t t) { At("@" + std::to_string(t)); }
  void StartHelper() {
    helper_ = std::make_unique<test_support::LiveProcess>(
        std::vector<std::string>{(test_support::kBuildDir / "minutrix-squid-helper").string(),
                                 "--server-name", "proxy.test"},
        std::map<std::string, std::string>{
            {"MINUTRIX_ROOT", machine_.root().string()},
            {"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()},
            {"TZ", "Europe/Amsterdam"}},
        clock_.path() / "helper.err");
  }
  std::string Ask(const std::string& user, const std::string& url = "http://a.example/") {
    if (!helper_) StartHelper();
    return helper_->Ask(url + " ip=127.0.0.1 method=GET user=" + user);
  }
  // The time-left page, after a request that lets the filter read the administrator's changes
  // (the page itself is answered before they are read).
  std::string TimeLeft(const std::string& user) {
    Ask("nobody");
    return Ask(user, "http://timeleft/");
  }
  static bool OutsideHours(const std::string& answer) {
    return answer.find("&DeniedMessage=Browsing%20is%20not%20allowed%20at%20this%20hour.") !=
           std::string::npos;
  }

  test_support::ScratchDir clock_;
  std::unique_ptr<test_support::LiveProcess> helper_;
};

TEST_P(ScheduleTest, WeekdayAllowanceOfTheOwnEntryElseTheGroupElseTheUser) {
  for (int day = kMon; day <= kFri; ++day) Allowance("@5A", day, 30);
  Allowance("@5A", kSat, 120);
  Allowance("@5A", kSun, 120);
  At("2026-12-12 10:00:00");  // a Saturday
  EXPECT_NE(TimeLeft("alice").find("TimeLeft=120&"), std::string::npos);
  EXPECT_NE(TimeLeft("kim").find("TimeLeft=60&"), std::string::npos) << "not in the class";
  Allowance("ALICE", kSat, 10);
  EXPECT_NE(TimeLeft("alice").find("TimeLeft=10&"), std::string::npos) << "the own entry first";
  At("2026-12-14 10:00:00");  // Monday: the daily reset, and the school day's allowance
  EXPECT_NE(TimeLeft("alice").find("TimeLeft=30&"), std::string::npos);
  // With a weekly reset the weekday entries are ignored.
  Sql("UPDATE FilterSettings SET ResetWeekly = 1, ResetDaily = 0");
  Ask("nobody");
  EXPECT_NE(TimeLeft("alice").find("TimeLeft=60&"), std::string::npos);
}

TEST_P(ScheduleTest, ClassHoursDenyAMemberAt0759AndLetHimInAt0800) {
  for (int day = kMon; day <= kFri; ++day)
    Window("@5A", "allowed", day, Minute(8, 0), Minute(16, 30));
  At("2026-12-14 07:59:30");  // Monday
  const std::string early = Ask("alice");
  EXPECT_TRUE(OutsideHours(early)) << early;
  EXPECT_NE(early.find("&OpensAt=08:00&OpensOn=today\""), std::string::npos) << early;
  EXPECT_TRUE(OutsideHours(Ask("pat"))) << "unlimited users are bound by hours too";
  EXPECT_EQ(Ask("alice", "http://lessons.example/"), "ERR") << "free sites stay open";
  EXPECT_EQ(Ask("kim"), "ERR") << "not in the class: no hours";
  At("2026-12-14 08:00:10");
  EXPECT_EQ(Ask("alice"), "ERR");
  EXPECT_EQ(Ask("pat"), "ERR");
  EXPECT_NE(TimeLeft("alice").find("&OpenUntil=16:30"), std::string::npos);
  At("2026-12-14 08:05:10");
  Ask("alice");
  EXPECT_EQ(Used("ALICE"), 5) << "charged from 08:00 only";
  At("2026-12-14 16:30:10");
  EXPECT_NE(Ask("alice").find("&OpensAt=08:00&OpensOn=tomorrow\""), std::string::npos);
  At("2026-12-18 16:45:00");  // Friday after school: Monday next
  EXPECT_NE(Ask("alice").find("&OpensAt=08:00&OpensOn=mon\""), std::string::npos);
}

TEST_P(ScheduleTest, FreeLessonHourChargesNothingAndTheMinutesAroundItAreCharged) {
  Window("@5A", "free", kMon, Minute(10, 0), Minute(11, 0));
  Db({"set-used", "kim", "60"});
  Window("KIM", "free", kMon, Minute(10, 0), Minute(11, 0));
  for (int minute = Minute(9, 50); minute <= Minute(11, 10); ++minute) {
    char time[64];
    std::snprintf(time, sizeof time, "2026-12-14 %02d:%02d:30", minute / 60, minute % 60);
    At(time);
    ASSERT_EQ(Ask("alice"), "ERR") << time;
    if (minute == Minute(10, 30)) {
      EXPECT_EQ(Ask("kim"), "ERR") << "out of minutes, yet free in the free hour";
      EXPECT_NE(TimeLeft("alice").find("&FreeUntil=11:00"), std::string::npos);
    }
  }
  EXPECT_EQ(Used("ALICE"), 20);
  EXPECT_EQ(Sql("SELECT Free, sum(Minutes) FROM History WHERE UserName = 'ALICE' GROUP BY Free"),
            "0|20\n1|60");
  EXPECT_TRUE(Ask("kim").find("DeniedMessage=") != std::string::npos) << "after the free hour";
  EXPECT_EQ(Used("KIM"), 60);
}

TEST_P(ScheduleTest, WindowAcrossMidnight) {
  Window("ALICE", "allowed", kFri, Minute(22, 0), Minute(2, 0));
  At("2026-12-11 21:59:30");  // Friday
  EXPECT_TRUE(OutsideHours(Ask("alice")));
  At("2026-12-11 23:30:00");
  EXPECT_EQ(Ask("alice"), "ERR");
  At("2026-12-12 01:59:00");  // Saturday, still Friday night's window
  EXPECT_EQ(Ask("alice"), "ERR");
  At("2026-12-12 02:00:00");
  EXPECT_NE(Ask("alice").find("&OpensAt=22:00&OpensOn=fri\""), std::string::npos);
}

TEST_P(ScheduleTest, ChangeOfScheduleSeenAtTheNextRequest) {
  At("2026-12-14 10:00:00");
  EXPECT_EQ(Ask("alice"), "ERR");
  Window("*", "allowed", kMon, Minute(12, 0), Minute(13, 0));
  EXPECT_TRUE(OutsideHours(Ask("alice"))) << "everyone's hours";
  Window("@5A", "allowed", kMon, Minute(9, 0), Minute(11, 0));
  EXPECT_EQ(Ask("alice"), "ERR") << "the class's hours before everyone's";
  EXPECT_TRUE(OutsideHours(Ask("kim")));
  Sql("DELETE FROM ScheduleWindows; UPDATE FilterSettings SET UsersChanged = 1;");
  EXPECT_EQ(Ask("kim"), "ERR");
}

// The administrator's commands instead of SQL, each seen by the running helper at its next request.
TEST_P(ScheduleTest, ClassMadeWithTheCommandsIsSeenAtTheNextRequest) {
  Db({"add-group", "6B"});
  Db({"set-group", "kim", "6b"});
  Db({"set-hours", "@6B", "mon-fri", "08:00-16:30", "sat,sun", "00:00-24:00"});
  At("2026-12-14 07:59:30");  // Monday
  const std::string early = Ask("kim");
  EXPECT_TRUE(OutsideHours(early)) << early;
  EXPECT_NE(early.find("&OpensAt=08:00&OpensOn=today\""), std::string::npos) << early;
  At("2026-12-14 08:00:10");
  EXPECT_EQ(Ask("kim"), "ERR");

  // Changed while the helper runs.
  Db({"set-hours", "@6B", "mon-fri", "09:00-16:30"});
  At("2026-12-14 08:01:10");
  const std::string later = Ask("kim");
  EXPECT_TRUE(OutsideHours(later)) << later;
  EXPECT_NE(later.find("&OpensAt=09:00&OpensOn=today\""), std::string::npos) << later;
  Db({"set", "OutsideHoursMessage", "School starts at nine."});
  EXPECT_NE(Ask("kim").find("&DeniedMessage=School%20starts%20at%20nine."), std::string::npos);
  Db({"set-group", "kim", "-"});
  EXPECT_EQ(Ask("kim"), "ERR") << "out of the class: no hours";
  Db({"set-hours", "*", "mon", "08:30-09:00"});
  EXPECT_NE(Ask("kim").find("School%20starts%20at%20nine."), std::string::npos)
      << "everyone's hours";
  Db({"set-hours", "*", "none"});
  EXPECT_EQ(Ask("kim"), "ERR");
  Db({"set-allowance", "@5A", "5", "--days", "mon"});
  EXPECT_NE(TimeLeft("alice").find("TimeLeft=5&"), std::string::npos) << "the class's Monday";
}

// ---- the clock's hard days (Europe/Amsterdam) ----

TEST_P(ScheduleTest, SummerTimeStartsInAWindowThatLosesItsMiddle) {
  Window("ALICE", "allowed", kSun, Minute(2, 0), Minute(3, 0));  // 2027-03-28 has no 02:30
  At("2027-03-28 01:59:30");
  EXPECT_TRUE(OutsideHours(Ask("alice")));
  At("2027-03-28 03:00:30");  // a minute later
  const std::string after = Ask("alice");
  EXPECT_TRUE(OutsideHours(after));
  EXPECT_NE(after.find("&OpensAt=02:00&OpensOn=next-sun\""), std::string::npos) << after;
  // Charged in real minutes across the jump: 01:58 to 03:01 is three.
  At("2027-03-28 01:58:30");
  EXPECT_EQ(Ask("kim"), "ERR");
  At("2027-03-28 03:01:30");
  EXPECT_EQ(Ask("kim"), "ERR");
  EXPECT_EQ(Used("KIM"), 3);
}

TEST_P(ScheduleTest, SummerTimeEndsAndTheFreeHourHappensTwice) {
  Window("ALICE", "free", kSun, Minute(2, 0), Minute(3, 0));
  // 2027-10-31 01:50 CEST to 03:10 CET: 140 real minutes, of which 120 between 02:00 and 03:00.
  const std::time_t start = Utc(2027, 10, 30, 23, 50);
  for (int i = 0; i <= 140; i += 5) {  // within the idle gap
    At(start + 60 * i);
    ASSERT_EQ(Ask("alice"), "ERR") << i;
  }
  EXPECT_EQ(Used("ALICE"), 20);
  EXPECT_EQ(Sql("SELECT Free, sum(Minutes) FROM History WHERE UserName = 'ALICE' GROUP BY Free"),
            "0|20\n1|120");
}

TEST_P(ScheduleTest, LeapDayAndAWindowEndingAtMidnight) {
  Allowance("ALICE", kTue, 45);
  Window("ALICE", "allowed", kTue, Minute(23, 0), Minute(24, 0));
  At("2028-02-29 23:59:30");  // Tuesday, the leap day
  EXPECT_EQ(Ask("alice"), "ERR");
  const std::string left = TimeLeft("alice");
  EXPECT_NE(left.find("TimeLeft=45&"), std::string::npos) << left;
  EXPECT_NE(left.find("&OpenUntil=24:00"), std::string::npos) << left;
  At("2028-03-01 00:00:30");  // Wednesday
  EXPECT_NE(Ask("alice").find("&OpensAt=23:00&OpensOn=tue\""), std::string::npos);
}

TEST_P(ScheduleTest, NewYearsNightRunsAreSplitAtMidnight) {
  Window("ALICE", "allowed", kFri, Minute(23, 0), Minute(1, 0));
  Sql("UPDATE FilterSettings SET ResetDaily = 0");  // one period across midnight
  for (const char* time : {"2027-12-31 23:55:30", "2027-12-31 23:58:30", "2028-01-01 00:01:30",
                           "2028-01-01 00:05:30"}) {
    At(time);
    ASSERT_EQ(Ask("alice"), "ERR") << time;
  }
  EXPECT_EQ(Used("ALICE"), 10);
  EXPECT_EQ(Sql("SELECT Day, Start, Minutes FROM History ORDER BY Day"),
            std::to_string(helper_test::DayNumber("2027-12-31")) + "|1435|5\n" +
                std::to_string(helper_test::DayNumber("2028-01-01")) + "|0|5");
}

TEST_P(ScheduleTest, ClockSetBackAnHourOutOfTheWindowChargesNothingBack) {
  Window("ALICE", "allowed", kMon, Minute(8, 0), Minute(9, 0));
  for (const char* time : {"2026-12-14 08:10:30", "2026-12-14 08:15:30", "2026-12-14 08:20:30"}) {
    At(time);
    ASSERT_EQ(Ask("alice"), "ERR") << time;
  }
  EXPECT_EQ(Used("ALICE"), 10);
  At("2026-12-14 07:20:30");  // time sync steps back an hour
  EXPECT_TRUE(OutsideHours(Ask("alice")));
  EXPECT_EQ(Used("ALICE"), 10);
  At("2026-12-14 08:00:30");
  EXPECT_EQ(Ask("alice"), "ERR");
  At("2026-12-14 08:02:30");
  EXPECT_EQ(Ask("alice"), "ERR");
  EXPECT_EQ(Used("ALICE"), 12) << "a new period after the step; nothing charged twice or undone";
}

INSTANTIATE_TEST_SUITE_P(Stores, ScheduleTest, helper_test::Stores(), test_support::ByName{});

}  // namespace
