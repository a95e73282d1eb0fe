// Loading and refreshing the record sets, and the connection's error report.
#include <cstring>

#include "filter/status_file.h"
#include "tests/store/store_fixture.h"

namespace store_test {
namespace {

TEST_F(StoreTest, EmptyFreeSitesGetThePlaceholderRow) {
  AddUser("JSMITH", 60);
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Logged("]DataBase Connection initialized successfully!"));
  EXPECT_TRUE(Logged("-There are no free access sites set for any users!"));
  EXPECT_TRUE(Logged("-All sites are deducted from the users time then!"));
  EXPECT_TRUE(Logged(">[DEBUG]Updated to 'Enter free websites here!'"));
  EXPECT_EQ(ado::QueryInteger(admin_, "SELECT count(*) FROM tblPages", {}, -1), 1);
  EXPECT_EQ(ado::QueryText(admin_, "SELECT PageName FROM tblPages", {}, ""),
            "Enter free websites here!");
  // The placeholder never makes a site free.
  EXPECT_FALSE(Request("JSMITH", "http://enter free websites here!/").free_site);
}

TEST_F(StoreTest, EmptyUsersStopsTheLoadAfterTheStatusIsWritten) {
  EXPECT_FALSE(Start());
  EXPECT_TRUE(Logged("-There are no restrictions set for any users!"));
  EXPECT_TRUE(Logged("-The filter will not be loaded"));
  EXPECT_TRUE(Logged("-Please set restrictions for at least one user"));
  EXPECT_TRUE(Logged("*[InitializeUserSet] Error: ReadSetsFromDB returned FALSE!"));
  const std::string status = test_support::ReadFile(machine_.root() / "c/Minutrix/Minutrix.sts");
  EXPECT_EQ(status.substr(0, 3), "1\r\n");
}

TEST_F(StoreTest, TwoSettingsRowsStopTheLoad) {
  AddUser("JSMITH", 60);
  Sql("INSERT INTO FilterSettings (ResetDaily) VALUES (0)");
  EXPECT_FALSE(Start());
  EXPECT_TRUE(Logged("*There should be only one record in the Tempogate Settings table!"));
}

TEST_F(StoreTest, MissingDatabaseFailsWithTheErrorReport) {
  fs::remove(DbPath());
  EXPECT_FALSE(Start());
  const auto log = Log();
  EXPECT_TRUE(Logged("*Error:"));
  EXPECT_TRUE(Logged("*\tCode = 80004005"));
  EXPECT_TRUE(Logged("*\tCode meaning = Unspecified error"));
  EXPECT_TRUE(Logged("*Code meaning = Unspecified error"));
  EXPECT_TRUE(
      Logged("*\tDescription = Could not find file 'c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb'."));
  // The connection's error list: each error written twice.
  EXPECT_EQ(CountLog("*[PrintConnectionError] \t Error number: 80004005\t ,"), 2);
  // The data sets are still attempted, and fail on the missing connection.
  EXPECT_TRUE(Logged("*[ReadSetFromDB] An error has occured!"));
  EXPECT_TRUE(Logged("*[InitializeUserSet] Error: ReadSetsFromDB returned FALSE!"));
  Stop();  // closing what never opened must not fail loudly
  EXPECT_FALSE(Logged("*[TerminateDataSets] DbError"));
}

TEST_F(StoreTest, DamagedDatabaseFileIsReportedNotLoaded) {
  test_support::WriteFile(DbPath(), std::string(4096, 'x'));
  EXPECT_FALSE(Start());
  EXPECT_TRUE(
      Logged("*\tDescription = Unrecognized database format "
             "'c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb'."));
}

TEST_F(StoreTest, ComErrorWithoutTextsStillWritesSixLines) {
  PrintComError(ado::ComError(0x80040E37));
  const std::vector<std::string> expected = {"*Error:",
                                             "*\tCode = 80040e37",
                                             "*\tCode meaning = IDispatch error #3127",
                                             "*Code meaning = IDispatch error #3127",
                                             "*\tSource = ",
                                             "*\tDescription = "};
  const auto log = Log();
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(log.end() - 6, log.end()), expected);
}

TEST_F(StoreTest, LongUserNameIsCutTo59Bytes) {
  const std::string long_name(70, 'A');
  AddUser(long_name, 60);
  ASSERT_TRUE(Start());
  {
    SectionLock section(3);
    m_pRstUsers->MoveFirst();
    EXPECT_EQ(std::strlen(UserSet.UserName), 59u);
    EXPECT_EQ(std::string(UserSet.UserName), long_name.substr(0, 59));
  }
  // The full login name is not found; the cut field matches only a 59-byte login.
  const Outcome full = Request(long_name);
  EXPECT_FALSE(full.found);
  EXPECT_EQ(Request(long_name.substr(0, 59)).charged, 1);
  EXPECT_EQ(Used(long_name), 0);
}

TEST_F(StoreTest, UsersChangedRereadsUsersOnce) {
  AddUser("JSMITH", 60);
  ASSERT_TRUE(Start());
  EXPECT_FALSE(Request("NEWBIE").found);
  const auto added = test_support::Run({(test_support::kBuildDir / "minutrix-db").string(),
                                        "add-user", DbPath().string(), "newbie", "30"});
  ASSERT_EQ(added.exit_code, 0) << added.output;
  EXPECT_TRUE(Request("newbie").found);
  EXPECT_EQ(CountLog("-Number of monitored users: 2"), 1);
  EXPECT_EQ(ado::QueryInteger(admin_, "SELECT UsersChanged FROM FilterSettings", {}, -1), 0);
  Request("newbie");
  EXPECT_EQ(CountLog("-Number of monitored users: 2"), 1);  // not re-read again
}

TEST_F(StoreTest, AllUsersRemovedWhileRunningIsLoggedNotFatal) {
  AddUser("JSMITH", 60);
  ASSERT_TRUE(Start());
  Sql("DELETE FROM Users");
  Setting("UsersChanged", 1);
  CountMonitoredUsers();
  EXPECT_TRUE(Logged("*Number of monitored users is 0!"));
  EXPECT_TRUE(Logged("*All users will be granted access"));
  EXPECT_EQ(m_pRstUsers->RecordCount(), 0);
}

TEST_F(StoreTest, ShutDownClosesEverything) {
  AddUser("JSMITH", 60);
  ASSERT_TRUE(Start());
  Stop();
  const auto log = Log();
  for (const char* line : {">Close m_pRstUsers", ">Release gblPicUsersRS", ">Null gblPicUsersRS",
                           ">Delete US pointers", ">Close m_pSettingsRecord", ">Delete SR pointer",
                           ">Close m_pWebSites", ">Delete WS pointers"}) {
    EXPECT_TRUE(Logged(line)) << line;
  }
  EXPECT_FALSE(m_pRstUsers);
  EXPECT_FALSE(m_pConnection);
  EXPECT_FALSE(Logged("*[TerminateDataSets] DbError"));
}

}  // namespace
}  // namespace store_test

namespace store_test {
namespace {

// Without a module named Minutrix.dll the database is looked for beside the host program.
TEST_F(StoreTest, InitializeDBConnectionLooksBesideTheHostProgram) {
  const fs::path beside = fs::read_symlink("/proc/self/exe").parent_path() / "UserTimesDB";
  fs::remove_all(beside);
  EXPECT_FALSE(InitializeDBConnection());
  EXPECT_TRUE(Logged("*\tCode = 80004005"));
  fs::create_directories(beside);
  const auto made = test_support::Run({(test_support::kBuildDir / "minutrix-db").string(), "create",
                                       (beside / "UserTimesDB.mdb").string()});
  ASSERT_EQ(made.exit_code, 0) << made.output;
  EXPECT_TRUE(InitializeDBConnection());
  EXPECT_TRUE(Logged("]DataBase Connection initialized successfully!"));
  TerminateUserDB();
  fs::remove_all(beside);
}

}  // namespace
}  // namespace store_test
