// The uninstall: deletion of the script's files (never folders, never the running installer or
// the script), the removal steps, the restart question, and the install-and-uninstall round trip
// compared over the whole machine root.
#include "installer/uninstall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "installer/functions.h"
#include "installer/install_functions.h"
#include "installer/install_functions_copy.h"
#include "installer/registry_functions.h"
#include "installer/settings.h"
#include "installer/uninstall_functions.h"
#include "platform/services.h"
#include "platform/vb_app.h"
#include "tests/installer/step_fixture.h"

namespace {

using namespace installer;
using installer_test::KeyExists;
using installer_test::ReadValue;
using installer_test::RegistryDump;
using installer_test::Snapshot;
using installer_test::StepTest;
namespace fs = std::filesystem;

const std::string kAllPrograms = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
const std::string kEntryKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\Minutrix";

// The installer as if started from a program file of the machine; back to this program after.
class AppAs {
 public:
  explicit AppAs(const fs::path& program) {
    const std::string name = program.string();
    const char* argv[] = {name.c_str()};
    platform::InitApp(1, argv);
  }
  ~AppAs() {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const char* argv[] = {self.c_str()};
    platform::InitApp(1, argv);
  }
};

// The entries in which two snapshots differ: "+ name" only in `actual`, "- name" only in
// `expected`, "~ name" with other contents.
std::vector<std::string> Differences(const std::map<std::string, std::string>& actual,
                                     const std::map<std::string, std::string>& expected) {
  std::vector<std::string> out;
  for (const auto& [name, value] : actual) {
    const auto it = expected.find(name);
    if (it == expected.end())
      out.push_back("+ " + name);
    else if (it->second != value)
      out.push_back("~ " + name + ": " + value + " instead of " + it->second);
  }
  for (const auto& [name, value] : expected) {
    if (!actual.count(name)) out.push_back("- " + name);
  }
  return out;
}

using DeleteTest = StepTest;

TEST_F(DeleteTest, FileIsDeletedAndAMissingOneCountsAsDeleted) {
  Put("C:\\Minutrix\\a.txt", "a");
  EXPECT_TRUE(Deletefile("c:\\Minutrix\\a.txt", strComputerName));
  EXPECT_FALSE(Exists("C:\\Minutrix\\a.txt"));
  EXPECT_TRUE(Deletefile("c:\\Minutrix\\a.txt", strComputerName));
  EXPECT_EQ(ui_.List().back(), "[Deletefile] File : c:\\Minutrix\\a.txt does not exist");
}

TEST_F(DeleteTest, FolderLosesItsFilesButStays) {
  Put("C:\\Minutrix\\Data\\a.txt", "a");
  Put("C:\\Minutrix\\Data\\b.txt", "b");
  Put("C:\\Minutrix\\Data\\Inner\\c.txt", "c");
  EXPECT_TRUE(Deletefile("c:\\Minutrix\\Data", strComputerName));
  EXPECT_TRUE(fs::is_directory(Host("C:\\Minutrix\\Data")));
  EXPECT_FALSE(Exists("C:\\Minutrix\\Data\\a.txt"));
  EXPECT_FALSE(Exists("C:\\Minutrix\\Data\\b.txt"));
  EXPECT_TRUE(fs::is_directory(Host("C:\\Minutrix\\Data\\Inner")));
}

TEST_F(DeleteTest, RunningInstallerAndScriptAreKept) {
  Put("C:\\Minutrix\\Setup.exe", "s");
  Put("C:\\Minutrix\\InstallScript.txt", "i");
  const AppAs app(Host("C:\\Minutrix\\Setup.exe"));
  EXPECT_TRUE(Deletefile("c:\\Minutrix\\Setup.exe", strComputerName));
  EXPECT_TRUE(Deletefile("c:\\Minutrix\\InstallScript.txt", strComputerName));
  EXPECT_TRUE(Exists("C:\\Minutrix\\Setup.exe"));
  EXPECT_TRUE(Exists("C:\\Minutrix\\InstallScript.txt"));
}

TEST_F(DeleteTest, MissingFolderIsReportedAndTheOtherFoldersAreEmptied) {
  Put("C:\\dist\\InstallScript.txt", "a.txt\r\n[DIR:Gone]\r\nx.txt\r\n[DIR:Data]\r\nb.txt\r\n");
  Put("C:\\Minutrix\\a.txt", "a");
  Put("C:\\Minutrix\\Data\\b.txt", "b");
  EXPECT_FALSE(FilesDeleted(strAppPath, strFiltersDirPath, strComputerName));
  EXPECT_NE(strError.find(MsgCannotMakeDir + "\r\nDir : c:\\Minutrix\\Gone\\"), std::string::npos)
      << strError;
  EXPECT_FALSE(Exists("C:\\Minutrix\\a.txt"));
  EXPECT_FALSE(Exists("C:\\Minutrix\\Data\\b.txt"));
  EXPECT_TRUE(fs::is_directory(Host("C:\\Minutrix\\Data")));
}

TEST_F(DeleteTest, RemovePathFromRegTakesOnlyThePath) {
  ASSERT_TRUE(AddPathToReg());
  EXPECT_TRUE(RemovePathFromReg());
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"));
  EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixDebug"));
  strError.clear();
  EXPECT_FALSE(RemovePathFromReg());
  EXPECT_EQ(strError.rfind("Error : 2 ", 0), 0u) << strError;
}

// A machine with the product installed by the steps of the install driver.
class InstalledTest : public StepTest {
 protected:
  explicit InstalledTest(const std::string& answers) : StepTest(answers) {
    Put("C:\\dist\\Minutrix.asp", "<% ' the product page %>");
    MakeDistribution(kScript);
    // Filters the web server had before the product.
    machine_.Reg({"add", "HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters", "/v",
                  "FilterLoadOrder", "/d", "sspifilt,Compression", "/f"});
  }
  void Install() {
    ASSERT_TRUE(MakeDir(strFiltersDirPath));
    ASSERT_TRUE(InstallFile(strAppPath + "DLL\\stkit432.dll",
                            strWindowsDir + "System32\\stkit432.dll", strComputerName, false));
    ASSERT_TRUE(RegisterFile(strWindowsDir + "System32\\stkit432.dll"));
    ASSERT_TRUE(FilesCopied(strAppPath, strFiltersDirPath, strComputerName)) << strError;
    ASSERT_TRUE(RegisterFilter());
    ASSERT_TRUE(AddPathToReg());
    ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
    ASSERT_TRUE(AddRegistryItem());
    ASSERT_TRUE(CreateProgramGroup(iWinVersion)) << strError;
    strError.clear();
  }
  static constexpr const char* kScript =
      "// Minutrix\r\n[INSTALL FILES]\r\nMinutrix.dll\r\nRegisterISAPIFilter.VBS\r\n"
      "UnRegisterISAPIFilter.VBS\r\nSetup.exe\r\nInstallScript.txt\r\nMinutrixRegSettings.ini\r\n"
      "licence.txt\r\n[DIR:UserTimesDB]\r\nUserTimesDB.mdb\r\n"
      "[DIR:<DEFAULT WEBSITE>\\Minutrix]\r\nMinutrix.asp\r\n";
};

class RoundTripTest : public InstalledTest {
 protected:
  RoundTripTest() : InstalledTest("box \"WARNING!\" Yes\n") {}
};

TEST_F(RoundTripTest, UninstallLeavesExactlyWhatStaysBehind) {
  const AppAs app(Host("C:\\dist\\Setup.exe"));
  auto files_before = Snapshot(machine_.root());
  const auto registry_before = RegistryDump();
  Install();
  EXPECT_TRUE(Exists("C:\\Minutrix\\Minutrix.dll"));
  EXPECT_TRUE(Exists("C:\\Inetpub\\wwwroot\\Minutrix\\Minutrix.asp"));
  // What the running filter adds: its day logs, its status, the database's side files.
  for (const char* file :
       {"C:\\Minutrix\\MinutrixOutput07122026.txt", "C:\\Minutrix\\MinutrixOutput08122026.txt",
        "C:\\Minutrix\\Minutrix.sts", "C:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb-wal",
        "C:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb-shm"}) {
    Put(file, "written by the filter");
  }
  EXPECT_TRUE(Exists(kAllPrograms + "\\Minutrix\\UserTimes Database.lnk"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));

  std::string log;
  EXPECT_TRUE(DoUnInstall(log));
  EXPECT_EQ(log, "[Uninstall Log] : ");
  const auto list = ui_.List();
  for (const std::string& line : {MsgFilterRemoved, MsgServicesRestarted, MsgFilesDeleted}) {
    EXPECT_NE(std::find(list.begin(), list.end(), line), list.end()) << line;
  }
  EXPECT_TRUE(platform::ServiceRunning("W3SVC"));

  auto files_after = Snapshot(machine_.root());
  files_before.erase("registry.txt");
  files_after.erase("registry.txt");
  // The folders, the running installer and the script, and the shortcut library stay.
  std::map<std::string, std::string> expected_files = files_before;
  expected_files["c/Minutrix/"] = "";
  expected_files["c/Minutrix/UserTimesDB/"] = "";
  expected_files["c/Inetpub/wwwroot/Minutrix/"] = "";
  expected_files["c/Minutrix/Setup.exe"] = files_before.at("c/dist/Setup.exe");
  expected_files["c/Minutrix/InstallScript.txt"] = files_before.at("c/dist/InstallScript.txt");
  expected_files["c/WINNT/system32/stkit432.dll"] = files_before.at("c/dist/DLL/stkit432.dll");
  // The restart of the web service is recorded, and it runs again.
  ASSERT_TRUE(files_after.count("services.state"));
  expected_files["services.state"] = files_after["services.state"];
  EXPECT_EQ(Differences(files_after, expected_files), std::vector<std::string>{});

  // The product key with MinutrixDebug, and the library's registration, stay.
  auto expected_registry = registry_before;
  expected_registry["HKLM\\SOFTWARE\\MINUTRIX\\"] = "";
  expected_registry["HKLM\\SOFTWARE\\MINUTRIX\\[MINUTRIXDEBUG]"] = "1:30";
  expected_registry["HKLM\\SOFTWARE\\MINUTRIX MACHINE\\"] = "";
  expected_registry["HKLM\\SOFTWARE\\MINUTRIX MACHINE\\REGISTERED SERVERS\\"] = "";
  expected_registry
      ["HKLM\\SOFTWARE\\MINUTRIX MACHINE\\REGISTERED "
       "SERVERS\\[C:\\WINNT\\SYSTEM32\\STKIT432.DLL]"] = "1:7265676973746572656400";
  EXPECT_EQ(Differences(RegistryDump(), expected_registry), std::vector<std::string>{});
}

class DeclinedRestartTest : public InstalledTest {
 protected:
  DeclinedRestartTest() : InstalledTest("box \"WARNING!\" No\nbox \"WARNING!\" OK\n") {}
};

TEST_F(DeclinedRestartTest, NoToTheRestartStillRemovesTheRest) {
  Install();
  std::string log;
  EXPECT_TRUE(DoUnInstall(log));
  const auto boxes = ui_.Lines("box ");
  ASSERT_EQ(boxes.size(), 2u) << ui_.Transcript();
  EXPECT_EQ(boxes[1].rfind("box \"WARNING!\" icon critical", 0), 0u) << boxes[1];
  EXPECT_NE(ui_.Transcript().find(MsgUninstallIncomplete), std::string::npos);
  EXPECT_FALSE(fs::exists(Host(kAllPrograms + "\\Minutrix")));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath"));
  EXPECT_FALSE(Exists("C:\\Minutrix\\Minutrix.dll"));
}

class AlreadyRemovedTest : public InstalledTest {
 protected:
  AlreadyRemovedTest() : InstalledTest("") {}
};

// With bNoInstall the filter and the service are left alone; no question is asked.
TEST_F(AlreadyRemovedTest, NoInstallSkipsUnregistrationAndRestart) {
  Install();
  bNoInstall = kTrue;
  std::string log;
  EXPECT_TRUE(DoUnInstall(log));
  EXPECT_TRUE(ui_.Lines("box ").empty()) << ui_.Transcript();
  EXPECT_TRUE(
      KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters\\Minutrix"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
  EXPECT_FALSE(Exists("C:\\Minutrix\\Minutrix.dll"));
}

class FromProductFolderTest : public InstalledTest {
 protected:
  FromProductFolderTest() : InstalledTest("box \"WARNING!\" Yes\n") {}
};

// Started from the uninstall entry, the installer reads the script copy of the product folder.
TEST_F(FromProductFolderTest, SetupAndScriptStayWithTheFolders) {
  Install();
  fs::remove(Host("C:\\Minutrix\\licence.txt"));  // removed by hand
  const AppAs app(Host("C:\\Minutrix\\Setup.exe"));
  strAppPath = platform::AppPath() + "\\";
  std::string log;
  EXPECT_TRUE(DoUnInstall(log));
  EXPECT_EQ(log, "[Uninstall Log] : ");
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(Host("C:\\Minutrix"))) {
    left.push_back(fs::relative(entry.path(), Host("C:\\Minutrix")).string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"InstallScript.txt", "Setup.exe", "UserTimesDB"}));
  const auto list = ui_.List();
  EXPECT_NE(std::find(list.begin(), list.end(),
                      "[Deletefile] File : c:\\Minutrix\\licence.txt does not exist"),
            list.end());
  EXPECT_FALSE(Exists("C:\\Inetpub\\wwwroot\\Minutrix\\Minutrix.asp"));
}

}  // namespace

namespace {

using installer_test::StepTest;
using namespace installer;

using ScriptEndTest = StepTest;

// A folder line without its "]" ends the deletion without failing it, as an unreadable script
// end; the files before it are deleted.
TEST_F(ScriptEndTest, FolderLineWithoutBracketEndsTheWalk) {
  Put("C:\\dist\\InstallScript.txt", "a.txt\r\n[DIR:Data\r\nb.txt\r\n");
  Put("C:\\Minutrix\\a.txt", "a");
  Put("C:\\Minutrix\\b.txt", "b");
  EXPECT_TRUE(FilesDeleted(strAppPath, strFiltersDirPath, strComputerName));
  EXPECT_EQ(strError, MsgScriptError + "\r\nLine : [DIR:Data");
  EXPECT_FALSE(Exists("C:\\Minutrix\\a.txt"));
  EXPECT_TRUE(Exists("C:\\Minutrix\\b.txt"));
}

}  // namespace
