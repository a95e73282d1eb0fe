// minutrix-db backup and restore while the Squid helper charges minutes in the same database: a
// backup holds every minute charged before it, also those still in the write-ahead log, and a
// restore is taken up by the running helper without losing what is written after it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class DbToolBackupTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Tool({"create", Db().string()}).exit_code, 0); }
  fs::path Db() const { return dir_.path() / "live.mdb"; }
  fs::path File(const std::string& name) const { return dir_.path() / name; }
  static test_support::CommandResult Tool(std::vector<std::string> args) {
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    return test_support::Run(args);
  }
  static std::string Sql(const fs::path& db, const std::string& statement) {
    return test_support::Run({"/usr/bin/sqlite3", db.string(), statement}).output;
  }

  test_support::ScratchDir dir_;
};

struct Refusal {
  const char* name;
  std::vector<std::string> args;  // "DB" is the live database, "@x" the file x of the test folder
  const char* says;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class DbToolBackupRefusalTest : public DbToolBackupTest,
                                public ::testing::WithParamInterface<Refusal> {};

// Each refusal leaves the database as it was and writes no file.
TEST_P(DbToolBackupRefusalTest, ChangesNothing) {
  ASSERT_EQ(Tool({"add-user", Db().string(), "anna", "30"}).exit_code, 0);
  test_support::WriteFile(File("notes.txt"), "not a database");
  test_support::WriteFile(File("notes-wal"), "the log of a database someone has open");
  ASSERT_EQ(Tool({"create", File("other.mdb").string()}).exit_code, 0);
  Sql(File("other.mdb"), "DROP TABLE tblPages;");
  const std::string before = test_support::ReadFile(Db());
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) {
    args.push_back(arg == "DB"     ? Db().string()
                   : arg[0] == '@' ? File(arg.substr(1)).string()
                                   : arg);
  }
  const std::vector<fs::path> files_before = {fs::directory_iterator(dir_.path()),
                                              fs::directory_iterator()};
  const auto result = Tool(args);
  EXPECT_EQ(result.exit_code, 1) << result.output;
  EXPECT_NE(result.output.find(GetParam().says), std::string::npos) << result.output;
  EXPECT_EQ(test_support::ReadFile(Db()), before);
  const std::vector<fs::path> files_after = {fs::directory_iterator(dir_.path()),
                                             fs::directory_iterator()};
  EXPECT_EQ(files_after.size(), files_before.size()) << "a file was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DbToolBackupRefusalTest,
    ::testing::Values(
        Refusal{"BackupOntoItself", {"backup", "DB", "DB"}, "that is the database itself"},
        Refusal{"BackupIntoAMissingFolder", {"backup", "DB", "@no/such/copy.mdb"}, "cannot"},
        Refusal{"BackupOntoAFileInUse", {"backup", "DB", "@notes"}, "it is in use"},
        Refusal{"RestoreOfNoDatabase", {"restore", "@notes.txt", "DB"}, "notes.txt"},
        Refusal{"RestoreOfAnotherDatabase", {"restore", "@other.mdb", "DB"}, "no table tblPages"},
        Refusal{"RestoreOfAMissingFile", {"restore", "@gone.mdb", "DB"}, "gone.mdb"},
        Refusal{"RestoreOntoItself", {"restore", "DB", "DB"}, "with itself"}),
    test_support::ByName());

TEST_F(DbToolBackupTest, HelpNamesBothCommands) {
  const auto help = Tool({"--help"});
  EXPECT_NE(help.output.find("  backup DATABASE FILE"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("  restore FILE DATABASE"), std::string::npos) << help.output;
  EXPECT_EQ(Tool({"backup", Db().string()}).exit_code, 2);
  EXPECT_EQ(Tool({"restore", Db().string()}).exit_code, 2);
}

// A backup written over an older one replaces it whole; restored, it comes back as it was taken.
TEST_F(DbToolBackupTest, BackupReplacesAnOlderOneAndRestoresWhatItHeld) {
  ASSERT_EQ(Tool({"add-user", Db().string(), "anna", "30"}).exit_code, 0);
  test_support::WriteFile(File("copy.mdb"), "last week's backup");
  auto result = Tool({"backup", Db().string(), File("copy.mdb").string()});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(result.output, "Backed up " + Db().string() + " to " + File("copy.mdb").string() +
                               " (1 user, 0 free-site rows).\n");
  ASSERT_EQ(Tool({"add-user", Db().string(), "bert", "30"}).exit_code, 0);
  result = Tool({"restore", File("copy.mdb").string(), Db().string()});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(Sql(Db(), "SELECT UserName FROM Users;"), "ANNA\n");
  EXPECT_EQ(Sql(Db(), "PRAGMA journal_mode;"), "wal\n");
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
  }
}

// A damaged store is what a restore is for: it is replaced as it is.
TEST_F(DbToolBackupTest, RestoreReplacesADamagedDatabase) {
  ASSERT_EQ(Tool({"add-user", Db().string(), "anna", "30"}).exit_code, 0);
  ASSERT_EQ(Tool({"backup", Db().string(), File("copy.mdb").string()}).exit_code, 0);
  test_support::WriteFile(Db(), std::string(8192, '#'));
  test_support::WriteFile(fs::path(Db().string() + "-wal"), "a log of the damaged file");
  const auto result = Tool({"restore", File("copy.mdb").string(), Db().string()});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(Sql(Db(), "SELECT UserName FROM Users;"), "ANNA\n");
  EXPECT_EQ(Sql(Db(), "PRAGMA quick_check;"), "ok\n");
}

// The helper of a real machine, run as Squid runs it (as proxy, when the test runs as root).
class BackupWhileChargingTest : public DbToolBackupTest {
 protected:
  void SetUp() override {
    fs::create_directories(machine_.root() / "c/Minutrix/UserTimesDB");
    fs::copy_file(test_support::kBuildDir / "Minutrix.dll",
                  machine_.root() / "c/Minutrix/Minutrix.dll");
    ASSERT_EQ(Tool({"create", Live().string()}).exit_code, 0);
    for (const char* name : {"alice", "bert"}) {
      ASSERT_EQ(Tool({"add-user", Live().string(), name, "600"}).exit_code, 0);
    }
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    const std::string filters = "HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters";
    machine_.Reg({"add", filters, "/v", "FilterLoadOrder", "/d", "Minutrix", "/f"});
    machine_.Reg({"add", filters + "\\Minutrix", "/v", "FilterPath", "/d",
                  "c:\\Minutrix\\Minutrix.dll", "/f"});
    SetClock(0);
    std::vector<std::string> argv = {(test_support::kBuildDir / "minutrix-squid-helper").string(),
                                     "--server-name", "proxy.test"};
    if (::geteuid() == 0) {
      for (const fs::path& dir : {machine_.root(), clock_.path()}) {
        ASSERT_EQ(test_support::Run({"/bin/chown", "-R", "proxy:proxy", dir.string()}).exit_code,
                  0);
      }
      argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "proxy", "--"});
    }
    helper_ = std::make_unique<test_support::LiveProcess>(
        argv,
        std::map<std::string, std::string>{
            {"MINUTRIX_ROOT", machine_.root().string()},
            {"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()}},
        clock_.path() / "helper.err");
  }
  void TearDown() override {
    if (helper_) {
      EXPECT_EQ(helper_->Stop(), 0) << HelperErrors();
    }
  }
  fs::path Live() const { return machine_.root() / "c/Minutrix/UserTimesDB/UserTimesDB.mdb"; }
  void SetClock(int minutes) {
    char text[64];
    std::snprintf(text, sizeof text, "2026-12-07 %02d:%02d:00\n", 9 + minutes / 60, minutes % 60);
    test_support::WriteFile(clock_.path() / "clock", text);
  }
  // One request of `user` at `minute`; "ERR" when it passed, as the helper answers.
  std::string Browse(const std::string& user, int minute) {
    SetClock(minute);
    const std::string id = std::to_string(++requests_);
    const std::string answer =
        helper_->Ask(id + " http://a.example/ ip=127.0.0.1 method=GET user=" + user);
    return answer.rfind(id + " ", 0) == 0 ? answer.substr(id.size() + 1) : answer;
  }
  static int Used(const fs::path& db, const std::string& user) {
    const std::string text =
        Sql(db, "SELECT CurrentInternetTime FROM Users WHERE UserName = '" + user + "';");
    return text.empty() ? -1 : std::stoi(text);
  }
  std::string HelperErrors() const { return test_support::ReadFile(clock_.path() / "helper.err"); }

  test_support::ScratchMachine machine_;
  test_support::ScratchDir clock_;
  std::unique_ptr<test_support::LiveProcess> helper_;
  int requests_ = 0;
};

TEST_F(BackupWhileChargingTest, EveryBackupHoldsTheMinutesChargedBeforeIt) {
  std::atomic<int> charged{0};
  std::atomic<bool> stop{false};
  std::vector<std::string> wrong;
  // Backups, one after the other, while the main thread charges a minute at a time.
  std::thread backups([&] {
    for (int round = 0; !stop.load(); ++round) {
      const int before = charged.load();
      const fs::path copy = File("copy" + std::to_string(round % 3) + ".mdb");
      const auto result = Tool({"backup", Live().string(), copy.string()});
      const int after = charged.load();
      const int used = Used(copy, "ALICE");
      if (result.exit_code != 0 || used < before || used > after ||
          Sql(copy, "PRAGMA quick_check;") != "ok\n") {
        wrong.push_back("round " + std::to_string(round) + ": " + result.output + " " +
                        std::to_string(used) + " not in " + std::to_string(before) + ".." +
                        std::to_string(after));
      }
    }
  });
  ASSERT_EQ(Browse("alice", 0), "ERR");
  for (int minute = 1; minute <= 40; ++minute) {
    ASSERT_EQ(Browse("alice", minute), "ERR") << HelperErrors();
    charged = minute;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  stop = true;
  backups.join();
  for (const std::string& failure : wrong) ADD_FAILURE() << failure;

  // The minutes lie in the write-ahead log, which a copy of the file alone leaves behind.
  ASSERT_GT(fs::file_size(Live().string() + "-wal"), 0u);
  fs::copy_file(Live(), File("cp.mdb"));
  EXPECT_LT(Used(File("cp.mdb"), "ALICE"), 40) << "the log held nothing worth a backup";
  ASSERT_EQ(Tool({"backup", Live().string(), File("last.mdb").string()}).exit_code, 0);
  EXPECT_EQ(Used(File("last.mdb"), "ALICE"), 40);
  EXPECT_FALSE(fs::exists(File("last.mdb").string() + "-wal")) << "one self-contained file";
}

TEST_F(BackupWhileChargingTest, RestoreIsTakenUpAtTheHelpersNextRequest) {
  ASSERT_EQ(Browse("alice", 0), "ERR");
  ASSERT_EQ(Browse("alice", 3), "ERR");
  ASSERT_EQ(Tool({"backup", Live().string(), File("at3.mdb").string()}).exit_code, 0);
  ASSERT_EQ(Tool({"remove-user", File("at3.mdb").string(), "bert"}).exit_code, 0);
  ASSERT_EQ(Browse("alice", 6), "ERR");
  ASSERT_EQ(Used(Live(), "ALICE"), 6);
  struct stat before {};
  ASSERT_EQ(::stat(Live().c_str(), &before), 0);

  const auto restored = Tool({"restore", File("at3.mdb").string(), Live().string()});
  ASSERT_EQ(restored.exit_code, 0) << restored.output;
  // Another program, still connected, writes to the new file before the helper's next request:
  // the helper's move to the new file must not take that away.
  test_support::LiveProcess shell({"/usr/bin/sqlite3", Live().string()}, {}, File("shell.err"));
  ASSERT_EQ(shell.Ask("INSERT INTO Users (UserName, MaxInternetTime, CurrentInternetTime) VALUES "
                      "('CARL', 600, 0); UPDATE FilterSettings SET UsersChanged = 1; "
                      "SELECT 'written';"),
            "written");

  EXPECT_NE(Browse("bert", 7), "ERR") << "not in the restored database: denied";
  EXPECT_EQ(Browse("carl", 7), "ERR") << HelperErrors();
  EXPECT_EQ(Browse("carl", 9), "ERR");
  EXPECT_EQ(shell.Ask("SELECT CurrentInternetTime FROM Users WHERE UserName = 'CARL';"), "2")
      << "charged in the restored file";
  EXPECT_EQ(shell.Stop(), 0);
  EXPECT_EQ(Used(Live(), "CARL"), 2);
  EXPECT_EQ(Browse("alice", 8), "ERR");
  EXPECT_GE(Used(Live(), "ALICE"), 3);
  EXPECT_LE(Used(Live(), "ALICE"), 5);
  EXPECT_NE(test_support::ReadFile(machine_.root() / "c/Minutrix" / ("MinutrixOutput07122026.txt"))
                .find("The database file was replaced, opening it again"),
            std::string::npos);
  EXPECT_EQ(Sql(Live(), "PRAGMA quick_check;"), "ok\n");
  // The helper runs as proxy: the new file is the proxy's, as the old one was.
  struct stat after {};
  ASSERT_EQ(::stat(Live().c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "a new file, renamed into place";
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode, before.st_mode);
}

}  // namespace
