// The filter's start-up and shut-down as the web server sees them, with the log and status file.
#include <algorithm>

#include "tests/filter_host/host_fixture.h"

namespace {

using host_test::HostTest;
using Lines = std::vector<std::string>;

// True when `wanted` appear in `lines` in this order (other lines may stand between them).
bool InOrder(const Lines& lines, const Lines& wanted) {
  auto it = lines.begin();
  for (const auto& line : wanted) {
    it = std::find(it, lines.end(), line);
    if (it == lines.end()) return false;
    ++it;
  }
  return true;
}

TEST_F(HostTest, EmptyUsersTableAtStartIsNotReady) {
  ASSERT_EQ(Load(), FALSE);
  EXPECT_EQ(test_support::ReadFile(Product() / "Minutrix.sts"), "1\r\n07-12-2026; 09:00");
}

// The distribution's database has no users: the filter starts on it once the first is added.
TEST_F(HostTest, StartsOnTheDistributionDatabaseWithItsFirstUser) {
  std::filesystem::copy_file(test_support::kBuildDir / "UserTimesDB/UserTimesDB.mdb", Database(),
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(Load(), FALSE);
  Unload();
  Db("add-user", {"jsmith", "60"});
  ASSERT_EQ(Load(), TRUE);
  EXPECT_STREQ(version_.lpszFilterDesc, "Minutrix");
  EXPECT_EQ(version_.dwFlags, 0x7103u);
  EXPECT_EQ(version_.dwFilterVersion, 0x00040000u);
  EXPECT_TRUE(InOrder(
      LogLines(),
      {"[INIT]", "V3.6.2.3", "07-12-2026; 09:00", "-Starting App",
       ">[GetFilterVersion] Write status to 0", "-[ClsTempogate] constructor versie 1.00",
       "]DataBase Connection initialized successfully!", ">[Initialize] Initialized DBConnection",
       ">[Initialize] Initialized DataSets", ">[Initialize] Initialized FilterSettings",
       "-[GetFilterVersion] Server version is 5", "-[GetFilterVersion] / 0",
       "-[GetFilterVersion] / 1", ">[GetFilterVersion] Returns True"}))
      << Log();
  EXPECT_EQ(test_support::ReadFile(Product() / "Minutrix.sts"), "1\r\n07-12-2026; 09:00");
}

TEST_F(HostTest, MissingDatabaseAnswersFalseWithTheRecordFilled) {
  std::filesystem::remove(Database());
  ASSERT_EQ(Load(), FALSE);
  EXPECT_STREQ(version_.lpszFilterDesc, "Minutrix");
  EXPECT_EQ(version_.dwFlags, 0x7103u);
  const Lines lines = LogLines();
  // The failed connection does not keep the data sets from being tried.
  EXPECT_TRUE(InOrder(
      lines,
      {">[Initialize] Initialized DBConnection", ">[Initialize] Initialized DataSets",
       "*[GetFilterVersion] Filter initialization failed", ">[GetFilterVersion] Returns False"}))
      << Log();
  EXPECT_EQ(test_support::ReadFile(Product() / "Minutrix.sts"), "0\r\n07-12-2026; 09:00");
  EXPECT_FALSE(std::filesystem::exists(Database())) << "a missing database is not created";
  EXPECT_NE(Log().find("[GetFilterVersion] Filter initialization failed"), std::string::npos);
  // The web server does not use a filter that answered FALSE: requests pass untouched.
  const auto answer = Send("CORP\\alice", "http://www.example.com/");
  EXPECT_TRUE(answer.responses.empty());
}

TEST_F(HostTest, ShutDownWritesItsLinesInOrder) {
  Db("add-user", {"alice", "60"});
  ASSERT_EQ(Load(), TRUE);
  Unload();
  const Lines lines = LogLines();
  ASSERT_TRUE(InOrder(lines, {"-Entering Destructor"}));
  const auto destructor = std::find(lines.begin(), lines.end(), "-Entering Destructor");
  ASSERT_NE(std::next(destructor), lines.end());
  EXPECT_EQ(std::next(destructor)->rfind("*[~ClsTempogate] Error ", 0), 0u);
  EXPECT_TRUE(
      InOrder(Lines(destructor, lines.end()), {"-Entering Destructor", "-DataSets Terminated",
                                               "-UserSet Terminated", "-TimesMap Terminated"}))
      << Log();
}

TEST_F(HostTest, WithoutRegistryDirectoryTheFilesLieBesideTheLibrary) {
  Db("add-user", {"alice", "60"});
  machine_.Reg({"delete", "HKLM\\software\\Minutrix", "/f"});
  ASSERT_EQ(Load(), TRUE);
  const Lines lines = LogLines();
  EXPECT_EQ(lines.at(0), "[INIT]");
  EXPECT_EQ(lines.at(1), "07-12-2026; 09:00");  // debugging is off without the key
  EXPECT_EQ(test_support::ReadFile(Product() / "Minutrix.sts"), "1\r\n07-12-2026; 09:00");
}

}  // namespace

namespace {

// The test-host program itself, as a developer runs it against the same machine.
class TestHostProgramTest : public host_test::HostTest {
 protected:
  test_support::CommandResult Host(std::vector<std::string> args) {
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-test-host").string());
    return test_support::Run(args);
  }
};

TEST_F(TestHostProgramTest, UnloadsAtTheEndSoTheShutDownRuns) {
  Db("add-user", {"alice", "60"});
  const auto result = Host({"--filter", (Product() / "Minutrix.dll").string(), "--request",
                            "DOMAIN\\alice", "http://www.example.com/"});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("Unloaded "), std::string::npos) << result.output;
  EXPECT_NE(Log().find("-Entering Destructor"), std::string::npos) << Log();
}

TEST_F(TestHostProgramTest, KeepLoadedEndsWithoutTheShutDown) {
  Db("add-user", {"alice", "60"});
  EXPECT_NE(Host({"--help"}).output.find("--keep-loaded"), std::string::npos);
  const auto result = Host({"--filter", (Product() / "Minutrix.dll").string(), "--keep-loaded",
                            "--request", "DOMAIN\\alice", "http://www.example.com/", "--request",
                            "DOMAIN\\alice", "http://www.example.com/b"});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("Left loaded "), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find("Unloaded "), std::string::npos) << result.output;
  EXPECT_EQ(Log().find("-Entering Destructor"), std::string::npos) << Log();
  EXPECT_NE(Log().find("Remote User is = DOMAIN\\alice"), std::string::npos) << Log();
  EXPECT_EQ(UsedMinutes("ALICE"), 0) << "the database is left as the requests left it";
}

TEST_F(TestHostProgramTest, RefusesAnUnknownArgument) {
  const auto result = Host({"--keep-unloaded"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.output.find("bad argument \"--keep-unloaded\""), std::string::npos);
}

}  // namespace
