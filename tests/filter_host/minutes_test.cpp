// The used minutes across restarts, clock jumps, a locked database and a replaced database file,
// and the caps on what is charged and told, with outside changes made through the store's shell.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <thread>
#include <tuple>

#include "tests/filter_host/host_fixture.h"

namespace {

namespace fs = std::filesystem;
using host_test::HostTest;

const std::string kMarker = "SELECT LastReset FROM ResetMarker";

bool Logged(const std::string& log, const std::string& line) {
  return log.find("\r\n" + line + "\r\n") != std::string::npos;
}

// An sqlite3 shell holding the database's write lock until it is released, as an administrator's
// open transaction does.
class HeldWriteLock {
 public:
  explicit HeldWriteLock(const fs::path& database) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipe_fds[0], 0);
      ::close(pipe_fds[0]);
      ::close(pipe_fds[1]);
      ::execl("/usr/bin/sqlite3", "sqlite3", database.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_fds[0]);
    to_shell_ = pipe_fds[1];
    const std::string begin =
        "BEGIN IMMEDIATE; UPDATE Users SET MaxInternetTime = MaxInternetTime;\n"
        ".output " +
        (database.parent_path() / "locked").string() + "\nSELECT 1;\n";
    if (::write(to_shell_, begin.data(), begin.size()) < 0) return;
    // Wait until the shell holds the lock (it has written the file after taking it).
    for (int i = 0; i < 500 && !fs::exists(database.parent_path() / "locked"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  // Ends the shell; its transaction is rolled back.
  void Release() {
    if (pid_ <= 0) return;
    ::close(to_shell_);
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  ~HeldWriteLock() { Release(); }

 private:
  pid_t pid_ = -1;
  int to_shell_ = -1;
};

// alice with 30 minutes, browsing one request a minute.
template <typename Fixture>
class WithAlice : public Fixture {
 protected:
  void SetUp() override {
    Fixture::SetUp();
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure()) return;
    this->Db("add-user", {"alice", "30"});
  }
  // Charges alice `minutes` minutes from `hour` ("YYYY-MM-DD HH:"), one request a minute.
  void Browse(const std::string& hour, int minutes) {
    for (int minute = 0; minute <= minutes; ++minute) {
      char at[16];
      std::snprintf(at, sizeof at, "%02d:00", minute);
      this->At(hour + at);
      this->Send("alice", "http://a.example/");
    }
  }
};

// The file beside the filter: its write lock, its marker row, the file replaced or deleted.
class MinutesTest : public WithAlice<HostTest> {};
// Resets and caps, on every store.
class ResetTest : public WithAlice<host_test::StoreHostTest> {};

TEST_P(ResetTest, RestartAfterMidnightStillResetsThatDay) {
  ASSERT_EQ(Load(), TRUE);
  Browse("2026-12-07 23:", 5);
  ASSERT_EQ(UsedMinutes("ALICE"), 5);
  Unload();  // Squid restarts its helpers at every log rotation
  At("2026-12-08 00:30:00");
  ASSERT_EQ(Load(), TRUE);
  At("2026-12-08 00:31:00");
  Send("alice", "http://a.example/");
  EXPECT_EQ(UsedMinutes("ALICE"), 0);
  EXPECT_EQ(Sql(kMarker), "2026-12-08 00:31:00");
  // And only once that day, restart or not.
  Browse("2026-12-08 01:", 3);
  Unload();
  At("2026-12-08 02:00:00");
  ASSERT_EQ(Load(), TRUE);
  Send("alice", "http://a.example/");
  EXPECT_EQ(UsedMinutes("ALICE"), 3);
}

TEST_P(ResetTest, SameDayOfALaterMonthIsANewDay) {
  ASSERT_EQ(Load(), TRUE);
  Browse("2026-12-07 10:", 4);
  ASSERT_EQ(UsedMinutes("ALICE"), 4);
  At("2027-01-07 10:00:00");  // a clock jump to the same day of the next month
  Send("alice", "http://a.example/");
  EXPECT_EQ(UsedMinutes("ALICE"), 0);
}

TEST_P(ResetTest, WeeklyResetAfterARestartInTheNextWeek) {
  Db("set", {"ResetDaily", "no"});
  Db("set", {"ResetWeekly", "yes"});
  ASSERT_EQ(Load(), TRUE);
  Browse("2026-12-09 10:", 4);  // Wednesday
  Unload();
  At("2026-12-15 08:00:00");  // Tuesday of the next week; nobody browsed on Monday
  ASSERT_EQ(Load(), TRUE);
  Send("alice", "http://a.example/");
  EXPECT_EQ(UsedMinutes("ALICE"), 0);
}

TEST_F(MinutesTest, LockHeldAcrossMidnightDelaysTheResetButLosesIt) {
  ASSERT_EQ(Load(), TRUE);
  Browse("2026-12-07 23:", 5);
  {
    HeldWriteLock lock(Database());
    At("2026-12-08 00:01:00");
    Send("alice", "http://a.example/");  // waits for the lock, then gives up
    lock.Release();
  }
  EXPECT_EQ(UsedMinutes("ALICE"), 5);  // neither reset nor charged
  EXPECT_EQ(Sql(kMarker), "2026-12-07 09:00:00");
  At("2026-12-08 00:02:00");
  Send("alice", "http://a.example/");
  EXPECT_EQ(UsedMinutes("ALICE"), 0);
  EXPECT_EQ(Sql(kMarker), "2026-12-08 00:02:00");
}

TEST_F(MinutesTest, DatabaseWithoutTheMarkerStillWorks) {
  Sql("DROP TABLE ResetMarker");
  ASSERT_EQ(Load(), TRUE);
  EXPECT_EQ(Sql(kMarker), "2026-12-07 09:00:00");  // made at start-up with the load time
  Browse("2026-12-07 10:", 2);
  EXPECT_EQ(UsedMinutes("ALICE"), 2);
  Sql("DROP TABLE ResetMarker");
  At("2026-12-08 08:00:00");
  Send("alice", "http://a.example/");
  EXPECT_EQ(UsedMinutes("ALICE"), 0);
  EXPECT_EQ(Sql(kMarker), "2026-12-08 08:00:00");
}

struct BadMarkerCase {
  const char* name;
  const char* text;
};
void PrintTo(const BadMarkerCase& c, std::ostream* os) { *os << c.name; }

class BadMarkerTest : public MinutesTest, public ::testing::WithParamInterface<BadMarkerCase> {};

TEST_P(BadMarkerTest, IsLoggedAndReplacedByTheLoadTime) {
  Sql(std::string("INSERT INTO ResetMarker (LastReset) VALUES ('") + GetParam().text + "')");
  ASSERT_EQ(Load(), TRUE);
  EXPECT_TRUE(Logged(Log(), std::string("-[ReadResetMarker] Unreadable marker '") +
                                GetParam().text + "', using the load time"));
  EXPECT_EQ(Sql(kMarker), "2026-12-07 09:00:00");
  Browse("2026-12-07 10:", 2);
  EXPECT_EQ(UsedMinutes("ALICE"), 2);
}

INSTANTIATE_TEST_SUITE_P(Markers, BadMarkerTest,
                         ::testing::Values(BadMarkerCase{"Words", "yesterday"},
                                           BadMarkerCase{"NoSuchMonth", "2026-13-01 00:00:00"},
                                           BadMarkerCase{"TrailingText",
                                                         "2026-12-06 10:00:00 or so"},
                                           BadMarkerCase{"DateOnly", "2026-12-06"}),
                         [](const ::testing::TestParamInfo<BadMarkerCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_P(ResetTest, FreeSiteNeverChargesPastTheAllowance) {
  Db("add-user", {"bob", "5"});
  Db("add-site", {"free.example.org"});
  ASSERT_EQ(Load(), TRUE);
  At("2026-12-07 10:00:00");
  Send("bob", "http://a.example/");
  At("2026-12-07 10:04:00");
  Send("bob", "http://a.example/");
  ASSERT_EQ(UsedMinutes("BOB"), 4);
  At("2026-12-07 10:08:00");
  Send("bob", "http://free.example.org/");
  EXPECT_EQ(UsedMinutes("BOB"), 5);
}

INSTANTIATE_TEST_SUITE_P(Stores, ResetTest, host_test::HostStores(), test_support::ByName{});

struct TimeLeftCase {
  const char* name;
  int allowance;
  int used;
  const char* told;
};
void PrintTo(const TimeLeftCase& c, std::ostream* os) { *os << c.name; }

class TimeLeftTest
    : public host_test::StoreChoice,
      public ::testing::WithParamInterface<std::tuple<host_test::HostStoreCase, TimeLeftCase>> {
 protected:
  void SetUp() override { Choose(std::get<0>(GetParam()).store); }
};

TEST_P(TimeLeftTest, PageIsToldTheTimeLeft) {
  const TimeLeftCase& c = std::get<1>(GetParam());
  Db("add-user", {"carol", std::to_string(c.allowance)});
  Sql("UPDATE Users SET CurrentInternetTime = " + std::to_string(c.used) +
      " WHERE UserName = 'CAROL'");
  ASSERT_EQ(Load(), TRUE);
  const auto answer = Send("carol", "http://timeleft/");
  EXPECT_NE(answer.location().find(std::string("&TimeLeft=") + c.told + "&"), std::string::npos)
      << answer.location();
}

INSTANTIATE_TEST_SUITE_P(
    Caps, TimeLeftTest,
    ::testing::Combine(host_test::HostStores(),
                       ::testing::Values(TimeLeftCase{"OneMinuteOver", 5, 6, "0"},
                                         TimeLeftCase{"FarOver", 5, 90, "0"},
                                         TimeLeftCase{"Left", 5, 2, "3"},
                                         TimeLeftCase{"Unlimited", -1, 0, "-1"})),
    [](const auto& info) {
      return std::string(std::get<1>(info.param).name) + "_" + std::get<0>(info.param).name;
    });

// The database file under the running filter: renamed away and replaced, restored from a backup,
// deleted. A hard link keeps the old file, which must never be charged again.
struct ReplacedCase {
  const char* name;
  bool restore_backup;  // else: a new database renamed into place
};
void PrintTo(const ReplacedCase& c, std::ostream* os) { *os << c.name; }

class ReplacedTest : public MinutesTest, public ::testing::WithParamInterface<ReplacedCase> {};

TEST_P(ReplacedTest, ChargesGoIntoTheFileThatHasTheName) {
  const ReplacedCase& c = GetParam();
  const fs::path backup = Product() / "backup.mdb";
  ASSERT_EQ(Load(), TRUE);
  Browse("2026-12-07 10:", 2);
  ASSERT_EQ(UsedMinutes("ALICE"), 2);
  if (c.restore_backup) {
    Sql(".backup '" + backup.string() + "'");
  } else {
    const std::string db_tool = (test_support::kBuildDir / "minutrix-db").string();
    ASSERT_EQ(test_support::Run({db_tool, "create", backup.string()}).exit_code, 0);
    ASSERT_EQ(test_support::Run({db_tool, "add-user", backup.string(), "alice", "30"}).exit_code,
              0);
  }
  Browse("2026-12-07 11:", 3);  // a new period: 3 more minutes
  ASSERT_EQ(UsedMinutes("ALICE"), 5);
  const fs::path old_file = Product() / "old.mdb";
  fs::create_hard_link(Database(), old_file);
  fs::rename(backup, Database());  // the administrator puts the other file in place
  At("2026-12-07 11:04:00");
  Send("alice", "http://a.example/");
  EXPECT_TRUE(
      Logged(Log(), "-[CountMonitoredUsers] The database file was replaced, opening it again"));
  At("2026-12-07 11:06:00");
  Send("alice", "http://a.example/");
  // A new period in the file now named, from its own minutes (2 from the backup, 0 when new).
  const int base = c.restore_backup ? 2 : 0;
  EXPECT_EQ(UsedMinutes("ALICE"), base + 2);
  const auto old_minutes =
      test_support::Run({"/usr/bin/sqlite3", old_file.string(),
                         "SELECT CurrentInternetTime FROM Users WHERE UserName = 'ALICE'"});
  EXPECT_EQ(old_minutes.output, "5\n");
}

INSTANTIATE_TEST_SUITE_P(Files, ReplacedTest,
                         ::testing::Values(ReplacedCase{"RestoredFromABackup", true},
                                           ReplacedCase{"NewFileRenamedIntoPlace", false}),
                         [](const ::testing::TestParamInfo<ReplacedCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(MinutesTest, DeletedDatabaseIsNeverCharged) {
  ASSERT_EQ(Load(), TRUE);
  Browse("2026-12-07 10:", 2);
  const fs::path old_file = Product() / "old.mdb";
  fs::create_hard_link(Database(), old_file);
  fs::remove(Database());
  At("2026-12-07 10:05:00");
  const auto answer = Send("alice", "http://a.example/");
  EXPECT_EQ(answer.status, static_cast<DWORD>(SF_STATUS_REQ_ERROR));
  const auto old_minutes =
      test_support::Run({"/usr/bin/sqlite3", old_file.string(),
                         "SELECT CurrentInternetTime FROM Users WHERE UserName = 'ALICE'"});
  EXPECT_EQ(old_minutes.output, "2\n");
  // Put back, the file is used again at the next request, and the period goes on.
  fs::rename(old_file, Database());
  At("2026-12-07 10:06:00");
  Send("alice", "http://a.example/");
  EXPECT_EQ(UsedMinutes("ALICE"), 6);
}

// A file without users (everyone passes, as an empty table says) briefly in place of the real
// one: once the real file is back, its users decide again, at the next request.
TEST_F(MinutesTest, DatabaseBackAfterOneWithoutUsersDecidesWithItsOwnRows) {
  ASSERT_EQ(Load(), TRUE);
  Browse("2026-12-07 10:", 2);
  ASSERT_NE(Send("mallory", "http://a.example/").location(), "") << "an unknown user is denied";
  const fs::path empty = Product() / "empty.mdb";
  const std::string db_tool = (test_support::kBuildDir / "minutrix-db").string();
  ASSERT_EQ(test_support::Run({db_tool, "create", empty.string()}).exit_code, 0);
  const fs::path kept = Product() / "kept.mdb";
  fs::rename(Database(), kept);
  fs::rename(empty, Database());
  At("2026-12-07 10:03:00");
  EXPECT_EQ(Send("mallory", "http://a.example/").location(), "") << "no users: everyone passes";
  fs::rename(kept, Database());
  At("2026-12-07 10:04:00");
  const auto back = Send("mallory", "http://a.example/");
  EXPECT_NE(back.location().find("DeniedMessage="), std::string::npos) << back.location();
  At("2026-12-07 10:06:00");
  Send("alice", "http://a.example/");
  // The period begun at 10:00 goes on in the file that is back.
  EXPECT_EQ(UsedMinutes("ALICE"), 6);
}

}  // namespace
