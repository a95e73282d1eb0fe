// History of charged minutes and extra minutes, through the helper's line protocol with its
// clock moved: what is charged is recorded, in the same transaction, whatever happens.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/squid_helper/installed_filter.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class HistoryTest : public helper_test::InstalledFilterTest {
 protected:
  void SetUp() override {
    InstalledFilterTest::SetUp();
    Db({"add-user", "alice", "600"});
    Db({"add-user", "kim", "3"});
    Db({"add-user", "pat", "-1"});
    At("2026-12-07 09:00:00");
  }
  int Used(const std::string& user) const {
    return std::stoi(Sql("SELECT CurrentInternetTime FROM Users WHERE UserName = '" + user + "'"));
  }
  // Charged minutes in the history of `user`, on `day` when given.
  int Recorded(const std::string& user, const std::string& day = "") const {
    std::string where = "UserName = '" + user + "' AND Free = 0";
    if (!day.empty()) where += " AND Day = " + std::to_string(helper_test::DayNumber(day));
    return std::stoi(Sql("SELECT coalesce(sum(Minutes), 0) FROM History WHERE " + where));
  }
  void AtMinute(int minute) {
    char time[64];
    std::snprintf(time, sizeof time, "2026-12-07 %02d:%02d:30", 10 + minute / 60, minute % 60);
    At(time);
  }
  void At(const std::string& local_time) {
    test_support::WriteFile(clock_.path() / "clock", local_time + "\n");
  }
  void StartHelper() {
    helper_ = std::make_unique<test_support::LiveProcess>(
        std::vector<std::string>{(test_support::kBuildDir / "minutrix-squid-helper").string(),
                                 "--server-name", "proxy.test"},
        std::map<std::string, std::string>{
            {"MINUTRIX_ROOT", machine_.root().string()},
            {"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()}},
        clock_.path() / "helper.err");
  }
  // One request of `user` for `url`; the helper's answer.
  std::string Ask(const std::string& user, const std::string& url) {
    return helper_->Ask(url + " ip=127.0.0.1 method=GET user=" + user);
  }
  // Requests of `user` on `host` at each minute from `hh:mm` for `minutes` minutes.
  void Browse(const std::string& user, const std::string& host, int hour, int minute, int minutes,
              const std::string& day = "2026-12-07") {
    for (int i = 0; i <= minutes; ++i) {
      char time[64];
      std::snprintf(time, sizeof time, "%s %02d:%02d:30", day.c_str(), hour + (minute + i) / 60,
                    (minute + i) % 60);
      At(time);
      ASSERT_EQ(Ask(user, "http://" + host + "/page?q=secret"), "ERR") << time;
    }
  }

  test_support::ScratchDir clock_;
  std::unique_ptr<test_support::LiveProcess> helper_;
};

TEST_P(HistoryTest, EqualsTheChargesAcrossIdleGapsARestartAndAReset) {
  StartHelper();
  Browse("alice", "a.example", 9, 0, 5);
  Browse("alice", "b.example", 9, 20, 4);  // after an idle gap: a new, uncharged start
  ASSERT_EQ(Used("ALICE"), 9);
  EXPECT_EQ(Recorded("ALICE"), 9);
  helper_->Stop();  // Squid restarts its helper
  StartHelper();
  Browse("alice", "c.example", 9, 40, 3);
  EXPECT_EQ(Used("ALICE"), 12);
  EXPECT_EQ(Recorded("ALICE", "2026-12-07"), 12);

  // The next day's reset empties the counter and leaves the history as it is.
  Browse("alice", "a.example", 8, 0, 2, "2026-12-08");
  EXPECT_EQ(Used("ALICE"), 2);
  EXPECT_EQ(Recorded("ALICE", "2026-12-07"), 12);
  EXPECT_EQ(Recorded("ALICE", "2026-12-08"), 2);
  // Hosts only, never the path or the query.
  EXPECT_EQ(Sql("SELECT Name FROM HistoryHosts ORDER BY Name"), "a.example\nb.example\nc.example");
}

TEST_P(HistoryTest, MinutesBelongToTheHostOfTheEarlierRequest) {
  StartHelper();
  At("2026-12-07 10:00:10");
  ASSERT_EQ(Ask("alice", "http://lesson.example/"), "ERR");
  At("2026-12-07 10:02:20");  // two minutes read on lesson.example
  ASSERT_EQ(Ask("alice", "https://game.example:8443/play"), "ERR");
  At("2026-12-07 10:03:20");  // one minute on game.example
  ASSERT_EQ(Ask("alice", "http://lesson.example/"), "ERR");
  EXPECT_EQ(Sql("SELECT Start, Minutes, Name FROM History JOIN HistoryHosts ON Host = ID "
                "ORDER BY Start"),
            "600|2|lesson.example\n602|1|game.example");
}

TEST_P(HistoryTest, NoHostsAndNoHistoryWhenTheSettingsSaySo) {
  Sql("INSERT INTO MinutrixSettings VALUES ('HistoryHosts', 'no')");
  StartHelper();
  Browse("alice", "a.example", 9, 0, 3);
  EXPECT_EQ(Sql("SELECT Minutes, Host FROM History"), "3|0");
  EXPECT_EQ(Sql("SELECT count(*) FROM HistoryHosts"), "0");
  // Changed while the helper runs: seen with the administrator's change signal.
  Sql("INSERT INTO MinutrixSettings VALUES ('HistoryDays', '0'); "
      "UPDATE FilterSettings SET UsersChanged = 1");
  Browse("alice", "a.example", 9, 20, 3);  // after an idle gap
  EXPECT_EQ(Used("ALICE"), 6);
  EXPECT_EQ(Recorded("ALICE"), 3) << "HistoryDays 0 records nothing more";
}

// A store on a server is always made whole by minutrix-db create; files may come from before.
class OlderFileTest : public HistoryTest {};

TEST_P(OlderFileTest, DatabaseOfAnOlderBuildGainsHistoryAtTheFirstCharge) {
  Sql("DROP TABLE History; DROP TABLE HistoryHosts; DROP TABLE ExtraMinutes; "
      "DROP TABLE MinutrixSettings; DROP TABLE Audit;");
  StartHelper();
  Browse("alice", "a.example", 9, 0, 4);
  EXPECT_EQ(Used("ALICE"), 4);
  EXPECT_EQ(Recorded("ALICE"), 4);
}

INSTANTIATE_TEST_SUITE_P(FileStores, OlderFileTest, helper_test::FileStores(),
                         test_support::ByName{});

TEST_P(HistoryTest, PrunedAtTheDailyResetToHistoryDays) {
  Sql("INSERT INTO MinutrixSettings VALUES ('HistoryDays', '2')");
  StartHelper();
  Browse("alice", "a.example", 9, 0, 2, "2026-12-05");
  Browse("alice", "a.example", 9, 0, 2, "2026-12-06");
  Browse("alice", "a.example", 9, 0, 2, "2026-12-07");
  EXPECT_EQ(Recorded("ALICE", "2026-12-05"), 0) << "older than two days";
  EXPECT_EQ(Recorded("ALICE", "2026-12-06"), 2);
  EXPECT_EQ(Recorded("ALICE", "2026-12-07"), 2);
}

TEST_P(HistoryTest, ExtraMinutesLetADeniedUserBackInAndEndWithThePeriod) {
  Db({"set-used", "kim", "3"});
  StartHelper();
  At("2026-12-07 10:00:00");
  ASSERT_NE(Ask("kim", "http://a.example/").find("DeniedMessage="), std::string::npos);
  // What `minutrix-db add-minutes` writes: the extra and the change signal, together.
  Sql("INSERT INTO ExtraMinutes VALUES ('KIM', 2); UPDATE FilterSettings SET UsersChanged = 1");
  At("2026-12-07 10:00:30");
  EXPECT_EQ(Ask("kim", "http://a.example/"), "ERR") << "back in, without a restart";
  EXPECT_NE(Ask("kim", "http://timeleft/").find("TimeLeft=2&"), std::string::npos);
  At("2026-12-07 10:01:30");
  EXPECT_EQ(Ask("kim", "http://a.example/"), "ERR");
  At("2026-12-07 10:02:30");
  Ask("kim", "http://a.example/");  // the second extra minute is charged
  EXPECT_EQ(Used("KIM"), 5);
  EXPECT_EQ(Recorded("KIM"), 2);
  At("2026-12-07 10:03:30");
  EXPECT_NE(Ask("kim", "http://a.example/").find("DeniedMessage="), std::string::npos);

  At("2026-12-08 08:00:00");  // the reset ends the period and its extra minutes
  EXPECT_EQ(Ask("kim", "http://a.example/"), "ERR");
  EXPECT_EQ(Sql("SELECT count(*) FROM ExtraMinutes"), "0");
  EXPECT_NE(Ask("kim", "http://timeleft/").find("TimeLeft=3&"), std::string::npos);
}

TEST_P(HistoryTest, TakenMinutesNeverMakeTheAllowanceNegative) {
  Sql("INSERT INTO ExtraMinutes VALUES ('KIM', -10)");
  StartHelper();
  EXPECT_NE(Ask("kim", "http://timeleft/").find("TimeLeft=0&"), std::string::npos);
  EXPECT_NE(Ask("kim", "http://a.example/").find("DeniedMessage="), std::string::npos);
}

// Killed at any moment in the middle of charges: each charge is there with its history, or
// neither is.
TEST_P(HistoryTest, KilledInTheMiddleOfChargesLeavesHistoryAndMinutesInAgreement) {
  std::mt19937 random(20261207);
  int minute = 0;
  for (int round = 0; round < 25; ++round) {
    StartHelper();
    for (int i = 0; i < 3; ++i) {
      AtMinute(minute++);
      ASSERT_EQ(Ask("alice", "http://a.example/"), "ERR");
    }
    AtMinute(minute++);
    // Sends the charging request and kills the helper a moment later, answered or not.
    const int pid = helper_->pid();
    std::thread sender(
        [&] { helper_->Ask("http://a.example/ ip=127.0.0.1 method=GET user=alice", 200); });
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    ::kill(pid, SIGKILL);
    sender.join();
    helper_->Stop();
    if (!OnServer()) {
      ASSERT_EQ(Sql("PRAGMA integrity_check"), "ok");
    }
    ASSERT_EQ(Recorded("ALICE"), Used("ALICE")) << "after round " << round;
  }
  EXPECT_GT(Used("ALICE"), 25);
}

INSTANTIATE_TEST_SUITE_P(Stores, HistoryTest, helper_test::Stores(), test_support::ByName{});

}  // namespace
