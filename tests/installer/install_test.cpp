// The install driver: its own lines in order, the skipped and installed prerequisites with the
// question that ends the run, the web service left alone, and the rollback after a fatal failure.
#include "installer/install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "installer/functions.h"
#include "installer/registry_functions.h"
#include "installer/settings.h"
#include "installer/uninstall.h"
#include "platform/faults.h"
#include "platform/machine.h"
#include "platform/profile.h"
#include "tests/installer/step_fixture.h"

namespace {

using namespace installer;
using installer_test::KeyExists;
using installer_test::ReadValue;
using installer_test::StepTest;
namespace fs = std::filesystem;
using installer_test::kAdo;
using installer_test::kAllPrograms;
using installer_test::kEntryKey;
using installer_test::kFiltersKey;
using installer_test::kOfficeAccess;

constexpr const char* kScript =
    "// Minutrix\r\n[INSTALL FILES]\r\nMinutrix.dll\r\nRegisterISAPIFilter.VBS\r\n"
    "UnRegisterISAPIFilter.VBS\r\nSetup.exe\r\nInstallScript.txt\r\nMinutrixRegSettings.ini\r\n"
    "licence.txt\r\n[DIR:UserTimesDB]\r\nUserTimesDB.mdb\r\n"
    "[DIR:<DEFAULT WEBSITE>\\Minutrix]\r\nMinutrix.asp\r\n";

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

class InstallTest : public StepTest {
 protected:
  explicit InstallTest(const std::string& answers, const std::string& script = kScript)
      : StepTest(answers) {
    Put("C:\\dist\\Setup.exe", "the installer");
    Put("C:\\dist\\Minutrix.asp", "<% ' the product page %>");
    MakeDistribution(script);
  }
  // A machine that has MDAC 2.8, Access 2000 and the shortcut library already.
  void HaveEverything() {
    HaveAccess();
    Put(kAdo, "FileVersion=2.80.1022.0");
    fs::copy_file(Host("C:\\dist\\DLL\\stkit432.dll"), Host("C:\\WINNT\\system32\\stkit432.dll"));
    EXPECT_TRUE(RegisterFile("C:\\WINNT\\system32\\stkit432.dll"));
  }
  void HaveAccess() { Put(kOfficeAccess, "FileVersion=9.0.0.2719"); }
  // A registration script that ends with an error, as when the web server refuses the filter.
  void BreakRegistrationScript() {
    Put("C:\\dist\\RegisterISAPIFilter.VBS",
        "#!/bin/sh\necho 'cannot write the filter list' >&2\nexit 1\n");
    fs::permissions(Host("C:\\dist\\RegisterISAPIFilter.VBS"), fs::perms::owner_exec,
                    fs::perm_options::add);
  }
  std::vector<std::string> Boxes() { return ui_.Lines("box "); }
  // The product is gone again: no product file, path value, registration, group or entry.
  void ExpectRolledBack() {
    for (const char* file : {"Minutrix.dll", "RegisterISAPIFilter.VBS", "MinutrixRegSettings.ini",
                             "licence.txt", "UserTimesDB\\UserTimesDB.mdb"}) {
      EXPECT_FALSE(Exists(std::string("C:\\Minutrix\\") + file)) << file;
    }
    EXPECT_FALSE(Exists("C:\\Inetpub\\wwwroot\\Minutrix\\Minutrix.asp"));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"));
    const auto order = ReadValue(HKEY_LOCAL_MACHINE, kFiltersKey, "FilterLoadOrder");
    if (order) {
      EXPECT_EQ(order->bytes.find("Minutrix"), std::string::npos) << order->bytes;
    }
    EXPECT_FALSE(fs::exists(Host(kAllPrograms + "\\Minutrix")));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
  }
};

class EverythingThereTest : public InstallTest {
 protected:
  EverythingThereTest() : InstallTest("box \"WARNING!\" Yes\n") { HaveEverything(); }
};

TEST_F(EverythingThereTest, DriverLinesComeInTheirOrder) {
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log << "\n" << ui_.Transcript();
  EXPECT_EQ(log, "[Install Log] : ");
  const std::vector<std::string> own = {
      MsgStkitFound,       MsgDiskSpaceOk,     MsgSystemSuitable,   MsgMdacVersionCheck,
      MsgMdacPresent,      MsgJetVersionCheck, MsgJetPresent,       MsgAccessVersionCheck,
      MsgAccessVersionOk,  MsgFilesCopied,     MsgFilterRegistered, MsgProgramGroupLoaded,
      MsgServicesRestarted};
  std::vector<std::string> seen;
  for (const std::string& line : ui_.List()) {
    if (Contains(own, line)) seen.push_back(line);
  }
  EXPECT_EQ(seen, own);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u) << ui_.Transcript();
  EXPECT_EQ(boxes[0].rfind("box \"WARNING!\" icon none buttons Yes,No", 0), 0u) << boxes[0];
  EXPECT_TRUE(Exists("C:\\Minutrix\\Minutrix.dll"));
  EXPECT_TRUE(Exists("C:\\Minutrix\\Setup.exe"));
  EXPECT_TRUE(Exists("C:\\Inetpub\\wwwroot\\Minutrix\\Minutrix.asp"));
  EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
}

TEST_F(EverythingThereTest, DebugModeShowsItsConfirmations) {
  bDebug = kTrue;
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log;
  const auto list = ui_.List();
  EXPECT_TRUE(Contains(list, MsgFilterPathFound));
  EXPECT_TRUE(Contains(list, "[STKIT]"));
  EXPECT_TRUE(Contains(list, MsgFilterPathStored));
  EXPECT_TRUE(Contains(list, MsgUninstallEntryAdded));
  EXPECT_TRUE(Contains(list, MsgProgramGroupCreated));
}

// Steps that only note their failure: the install goes on and succeeds; the log holds each
// error, and in debug mode each step's tag before it.
class NotedFailuresTest : public InstallTest {
 protected:
  NotedFailuresTest() : InstallTest("box \"WARNING!\" Yes\n") {
    HaveEverything();
    Put("C:\\dist\\MinutrixRegSettings.ini", "[ProgramGroup]\r\nGroupName=\r\n");
  }
};

TEST_F(NotedFailuresTest, DebugModeTagsEachNotedStep) {
  bDebug = kTrue;
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log << ui_.Transcript();
  EXPECT_NE(log.find("[AddRegistryItem] " + MsgProgramGroupError), std::string::npos) << log;
  EXPECT_NE(log.find("[CreateProgramGroup] "), std::string::npos) << log;
  EXPECT_TRUE(Exists("C:\\Minutrix\\Minutrix.dll"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
}

TEST_F(NotedFailuresTest, WithoutDebugTheLogHoldsOnlyTheErrors) {
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log;
  EXPECT_EQ(log.find("[AddRegistryItem] "), std::string::npos) << log;
  EXPECT_NE(log.find(MsgProgramGroupError), std::string::npos) << log;
}

class ReinstallTest : public InstallTest {
 protected:
  // The restart question of each install and of the old installation's removal, and of an
  // uninstall.
  ReinstallTest()
      : InstallTest(
            "box \"WARNING!\" Yes\nbox \"WARNING!\" Yes\n"
            "box \"WARNING!\" Yes\nbox \"WARNING!\" Yes\n") {
    HaveEverything();
  }
};

TEST_F(ReinstallTest, OldInstallationIsRemovedFirst) {
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log;
  Put("C:\\Minutrix\\Minutrix.dll", "an old filter");
  ASSERT_TRUE(DoInstall(log)) << log;
  EXPECT_EQ(log, "[Install Log] : ");
  EXPECT_TRUE(Contains(ui_.List(), MsgFilesDeleted));
  EXPECT_NE(test_support::ReadFile(Host("C:\\Minutrix\\Minutrix.dll")), "an old filter");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
}

// The administrator's users, minutes, free sites and settings, as the tests write them.
constexpr const char* kDatabase = "C:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb";
constexpr const char* kAdministratorsData = "the administrator's users and used minutes";

// The database's side files hold minutes not yet written into it: they stay with a kept
// database, and go with it. So do the filter's logs and status file.
TEST_F(ReinstallTest, DatabaseIsKeptAndTheUninstallStillRemovesIt) {
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log;
  EXPECT_EQ(test_support::ReadFile(Host(kDatabase)),
            test_support::ReadFile(Host("C:\\dist\\UserTimesDB\\UserTimesDB.mdb")))
      << "a new install gets the distribution's database";
  EXPECT_TRUE(Contains(ui_.List(), MsgDatabaseHasNoUsers))
      << "the list says what a database without users means\n"
      << ui_.Transcript();
  const std::string kept = MsgDatabaseKept + " : c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb";
  EXPECT_FALSE(Contains(ui_.List(), kept));
  const std::string database = kDatabase;
  const std::vector<std::string> filter_files = {
      database + "-wal", database + "-shm", "C:\\Minutrix\\MinutrixOutput07122026.txt",
      "C:\\Minutrix\\MinutrixOutput08122026.txt", "C:\\Minutrix\\Minutrix.sts"};
  Put(kDatabase, kAdministratorsData);
  for (const std::string& file : filter_files) Put(file, "written by the filter");
  ASSERT_TRUE(DoInstall(log)) << log;
  EXPECT_EQ(test_support::ReadFile(Host(kDatabase)), kAdministratorsData);
  EXPECT_TRUE(Contains(ui_.List(), kept)) << ui_.Transcript();
  for (const std::string& file : filter_files) EXPECT_TRUE(Exists(file)) << file;
  ASSERT_TRUE(DoUnInstall(log)) << log;
  EXPECT_FALSE(Exists(kDatabase)) << "the uninstall removes the database";
  for (const std::string& file : filter_files) EXPECT_FALSE(Exists(file)) << file;
}

class ExistingDatabaseTest : public InstallTest {
 protected:
  ExistingDatabaseTest() : InstallTest("box \"WARNING!\" Yes\n") {
    HaveEverything();
    Put(kDatabase, kAdministratorsData);
  }
};

TEST_F(ExistingDatabaseTest, InstallCopiesTheSampleOnlyWhereNoneExists) {
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log;
  EXPECT_EQ(test_support::ReadFile(Host(kDatabase)), kAdministratorsData);
  EXPECT_TRUE(
      Contains(ui_.List(), MsgDatabaseKept + " : " + "c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb"));
  EXPECT_TRUE(Exists("C:\\Minutrix\\Minutrix.dll"));
}

class FailedReinstallTest : public InstallTest {
 protected:
  // The old installation's removal asks for the web service; then the error, the rollback and its
  // removal's question.
  FailedReinstallTest()
      : InstallTest(
            "box \"WARNING!\" Yes\nbox \"ERROR!\" OK\nbox \"ERROR!\" OK\nbox \"WARNING!\" Yes\n") {
    HaveEverything();
    Put("C:\\Minutrix\\Minutrix.dll", "an old filter");
    Put(kDatabase, kAdministratorsData);
    BreakRegistrationScript();
  }
};

// The rollback takes away what the install brought, not the database that was there before.
TEST_F(FailedReinstallTest, RollbackKeepsTheDatabase) {
  std::string log;
  EXPECT_FALSE(DoInstall(log));
  EXPECT_EQ(test_support::ReadFile(Host(kDatabase)), kAdministratorsData);
  EXPECT_FALSE(Exists("C:\\Minutrix\\Minutrix.dll"));
}

class WebServiceRefusedTest : public InstallTest {
 protected:
  WebServiceRefusedTest() : InstallTest("box \"WARNING!\" No\nbox \"WARNING!\" OK\n") {
    HaveEverything();
  }
};

TEST_F(WebServiceRefusedTest, NoStillSucceedsAfterTheWarning) {
  std::string log;
  EXPECT_TRUE(DoInstall(log)) << log;
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u) << ui_.Transcript();
  EXPECT_EQ(boxes[1].rfind("box \"WARNING!\" icon critical", 0), 0u) << boxes[1];
  EXPECT_FALSE(Contains(ui_.List(), MsgServicesRestarted));
}

class SkippedPrerequisitesTest : public InstallTest {
 protected:
  SkippedPrerequisitesTest() : InstallTest("box \"WARNING!\" Yes\n") { HaveAccess(); }
};

TEST_F(SkippedPrerequisitesTest, SkipLinesAndTheWebServiceQuestion) {
  bNoMDAC = kTrue;
  bNoJET = kTrue;
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log << ui_.Transcript();
  const auto list = ui_.List();
  EXPECT_TRUE(Contains(list, MsgMdacSkipped));
  EXPECT_TRUE(Contains(list, MsgJetSkipped));
  EXPECT_FALSE(Contains(list, MsgMdacVersionCheck));
  EXPECT_TRUE(Contains(list, MsgAccessVersionCheck));
  EXPECT_EQ(bRestartNeeded, kFalse);
  EXPECT_TRUE(Contains(list, MsgServicesRestarted));
}

class MdacInstalledTest : public InstallTest {
 protected:
  MdacInstalledTest() : InstallTest("box \"System Restart!\" Yes\nbox \"Restart Computer\" No\n") {
    HaveAccess();
  }
};

// The re-check after the package passes, yet the new MDAC needs the computer restarted.
TEST_F(MdacInstalledTest, EndsWithTheRestartQuestion) {
  std::string log;
  ASSERT_TRUE(DoInstall(log)) << log << ui_.Transcript();
  EXPECT_TRUE(Contains(ui_.List(), MsgMdacInstalled));
  EXPECT_EQ(bRestartNeeded, kTrue);
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u) << ui_.Transcript();
  EXPECT_EQ(boxes[1].rfind("box \"Restart Computer\"", 0), 0u) << boxes[1];
}

class MissingSourceTest : public InstallTest {
 protected:
  MissingSourceTest()
      : InstallTest("box \"ERROR!\" OK\nbox \"ERROR!\" OK\nbox \"WARNING!\" Yes\n",
                    std::string(kScript) + "[INSTALL FILES]\r\nNotInTheFolder.dll\r\n") {
    HaveEverything();
  }
};

TEST_F(MissingSourceTest, FileCopyFailureRollsBack) {
  std::string log;
  EXPECT_FALSE(DoInstall(log));
  EXPECT_NE(log, "[Install Log] : ");
  const auto boxes = Boxes();
  ASSERT_GE(boxes.size(), 2u) << ui_.Transcript();
  EXPECT_EQ(boxes[0].rfind("box \"ERROR!\" icon critical", 0), 0u) << boxes[0];
  EXPECT_NE(ui_.Transcript().find(MsgWillNowUninstall), std::string::npos);
  ExpectRolledBack();
}

class CopyFaultTest : public InstallTest {
 protected:
  CopyFaultTest() : InstallTest("box \"ERROR!\" OK\nbox \"ERROR!\" OK\nbox \"WARNING!\" Yes\n") {
    HaveEverything();
  }
};

TEST_F(CopyFaultTest, FailedCopyRollsBack) {
  // The third process start (a product file's copy; the shortcut library is present) fails;
  // the rollback's own commands run again.
  test_support::WriteFile(
      machine_.root() / "machine.ini",
      test_support::ReadFile(machine_.root() / "machine.ini") + "\n[Faults]\nProcessStart=3,2\n");
  platform::ReloadFaults();
  std::string log;
  EXPECT_FALSE(DoInstall(log));
  EXPECT_EQ(log.rfind(std::string("[Install Log] : ") + MsgAppFilesError, 0), 0u) << log;
  EXPECT_NE(log.find("Error : 53 "), std::string::npos) << log;
  EXPECT_EQ(Boxes().size(), 3u) << ui_.Transcript();
  ExpectRolledBack();
}

class RegistrationFailedTest : public InstallTest {
 protected:
  RegistrationFailedTest()
      : InstallTest("box \"ERROR!\" OK\nbox \"ERROR!\" OK\nbox \"WARNING!\" Yes\n") {
    HaveEverything();
    BreakRegistrationScript();
  }
};

// A registration script that ends with an error is a failed step: its error box, then the rollback.
TEST_F(RegistrationFailedTest, ScriptErrorRollsBack) {
  std::string log;
  EXPECT_FALSE(DoInstall(log));
  EXPECT_FALSE(Contains(ui_.List(), MsgFilterRegistered));
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 3u) << ui_.Transcript();
  EXPECT_EQ(boxes[0].rfind("box \"ERROR!\" icon critical", 0), 0u) << boxes[0];
  EXPECT_NE(ui_.Transcript().find("  | " + MsgFilterNotRegistered), std::string::npos)
      << ui_.Transcript();
  EXPECT_NE(log.find(MsgFilterNotRegistered + "\r\nError : 1\r\n"), std::string::npos) << log;
  ExpectRolledBack();
}

struct RegistryFault {
  const char* name;
  const char* faults;  // [Faults] lines of the machine profile
  bool installed;      // the failed step is only noted
  const char* error;   // part of the install log
};

// Cases are shown by their names.
void PrintTo(const RegistryFault& c, std::ostream* os) { *os << c.name; }

class RegistryFaultTest : public InstallTest, public ::testing::WithParamInterface<RegistryFault> {
 protected:
  RegistryFaultTest()
      : InstallTest(GetParam().installed
                        ? "box \"WARNING!\" Yes\n"
                        : "box \"ERROR!\" OK\nbox \"ERROR!\" OK\nbox \"WARNING!\" Yes\n") {
    HaveEverything();
  }
};

// A registry write that fails fails its step: a fatal one rolls back, a noted one stays noted.
TEST_P(RegistryFaultTest, FailedWriteFailsItsStep) {
  InjectFaults(GetParam().faults);
  std::string log;
  EXPECT_EQ(DoInstall(log), GetParam().installed) << log << "\n" << ui_.Transcript();
  EXPECT_NE(log.find(GetParam().error), std::string::npos) << log;
  if (GetParam().installed) {
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"));
  } else {
    EXPECT_EQ(Boxes()[0].rfind("box \"ERROR!\" icon critical", 0), 0u) << ui_.Transcript();
    ExpectRolledBack();
  }
}

// Counted per process: each reg.exe of the registration script writes once; setup itself writes
// the uninstall entry's seven values, then MinutrixPath and MinutrixDebug.
INSTANTIATE_TEST_SUITE_P(Writes, RegistryFaultTest,
                         ::testing::Values(
                             RegistryFault{
                                 "FilterList", "RegSetValue=1,112", false,
                                 "The filter could not be registered, unable to install Minutrix!"},
                             RegistryFault{"UninstallEntry", "RegSetValue=2,112", true,
                                           "UnInstall\\Minutrix\\UninstallString"},
                             RegistryFault{"MinutrixPath", "RegSetValue=8,112", false,
                                           "software\\Minutrix\\MinutrixPath"},
                             RegistryFault{"MinutrixDebug", "RegSetValue=9,112", false,
                                           "software\\Minutrix\\MinutrixDebug"}),
                         test_support::ByName());

class DiskFullTest : public InstallTest {
 protected:
  DiskFullTest() : InstallTest("box \"ERROR!\" OK\nbox \"WARNING!\" Yes\n") {
    HaveEverything();
    EXPECT_TRUE(WritePrivateProfileStringA("DriveFreeSpace", "C", "100 KB",
                                           platform::MachineProfilePath().c_str()));
  }
};

// A silent failure: the rollback box is the only error box, and nothing was copied.
TEST_F(DiskFullTest, OnlyTheRollbackBoxThenNothingInstalled) {
  std::string log;
  EXPECT_FALSE(DoInstall(log));
  EXPECT_EQ(log, "[Install Log] : ");
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u) << ui_.Transcript();
  EXPECT_EQ(boxes[0].rfind("box \"ERROR!\" icon critical", 0), 0u) << boxes[0];
  const std::string transcript = ui_.Transcript();
  EXPECT_NE(transcript.find("Needed/Available Disk Space : 22,120/100.00"), std::string::npos)
      << transcript;
  EXPECT_NE(transcript.find(MsgWillNowUninstall), std::string::npos) << transcript;
  EXPECT_FALSE(Contains(ui_.List(), MsgFilesCopied));
  ExpectRolledBack();
}

TEST(WaitClockTest, ElapsedAcrossMidnight) {
  EXPECT_DOUBLE_EQ(ElapsedSinceMidnight(10, 12.5), 2.5);
  EXPECT_DOUBLE_EQ(ElapsedSinceMidnight(86398, 2), 4);
  EXPECT_DOUBLE_EQ(ElapsedSinceMidnight(86399.5, 86399.5), 0);
}

}  // namespace
