// Commands through the machine's cmd.exe and the wait with CheckApp, the file-system routines,
// the service and computer restarts, and the install script with its file copy.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "installer/functions.h"
#include "installer/install_functions.h"
#include "installer/settings.h"
#include "platform/forms_backend.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/services.h"
#include "platform/vb_app.h"
#include "platform/win32_shell.h"
#include "tests/installer/scripted_ui.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace installer;
using installer_test::ScriptedUi;
using test_support::ReadFile;
// Writes a file, making its folders first.
void Put(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  test_support::WriteFile(path, text);
}

// The state letter of process `pid` as /proc tells it (Z: ended, not yet reaped), read without
// reaping it; 0 when there is no such process.
char ProcessState(double pid) {
  std::ifstream stat("/proc/" + std::to_string(static_cast<long>(pid)) + "/stat");
  std::string text;
  std::getline(stat, text);
  const size_t name_end = text.rfind(')');  // the name may hold blanks and parentheses
  return name_end == std::string::npos || name_end + 2 >= text.size() ? 0 : text[name_end + 2];
}

class MachineTest : public ::testing::Test {
 protected:
  explicit MachineTest(const std::string& script = "") : ui_(script) {
    LoadMessages("ENG");
    strComputerName = platform::MachineSetting("Windows", "ComputerName").value_or("");
  }
  // A program of the machine: a shell script that the interpreter runs.
  void Program(const std::string& windows_path, const std::string& body) {
    const fs::path host = machine_.Host(windows_path);
    Put(host, "#!/bin/sh\n" + body + "\n");
    ::chmod(host.c_str(), 0755);
  }
  test_support::ScratchMachine machine_;
  ScriptedUi ui_;
};

TEST_F(MachineTest, MachineHasTheInterpreterAsComspec) {
  EXPECT_EQ(platform::Environ("comspec"), "C:\\WINNT\\system32\\cmd.exe");
  EXPECT_TRUE(FileExists("c:\\winnt\\SYSTEM32\\CMD.EXE"));
}

TEST_F(MachineTest, CommandRunsAndIsWaitedFor) {
  // Runs until the test lets it end (at most 10 s), so that it is surely running when looked up.
  Program("C:\\tools\\slow.exe",
          "for i in $(seq 200); do [ -e \"$MINUTRIX_ROOT/c/go\" ] && break; sleep 0.05; done\n"
          "echo done > \"$MINUTRIX_ROOT/c/slow.txt\"");
  double pid = Shell(CommandLineFor("\"C:\\tools\\slow.exe\" & echo x", false),
                     platform::WindowStyle::kHide);
  ASSERT_GT(pid, 0);
  const double started = pid;
  ASSERT_TRUE(CheckApp(pid, strComputerName));
  EXPECT_EQ(pid, started) << "a running command is seen";
  test_support::WriteFile(machine_.Host("C:\\go"), "");
  EXPECT_TRUE(WaitForProcess(pid, strComputerName));
  EXPECT_EQ(ReadFile(machine_.Host("C:\\slow.txt")), "done\n");
}

TEST_F(MachineTest, ProcessThatEndedBeforeTheFirstLookUpIsGone) {
  double pid = Shell(CommandLineFor("exit 3", false), platform::WindowStyle::kHide);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(test_support::WaitUntil([pid] {
    const char state = ProcessState(pid);
    return state == 'Z' || state == 0;
  })) << "the command ended";
  EXPECT_TRUE(CheckApp(pid, strComputerName));
  EXPECT_EQ(pid, 0);
}

TEST_F(MachineTest, CommandNotFoundStillEnds) {
  EXPECT_TRUE(
      WaitForProcess(Shell(CommandLineFor("nosuch.exe /x", false), platform::WindowStyle::kHide),
                     strComputerName));
}

TEST_F(MachineTest, MissingInterpreterRaisesFileNotFound) {
  try {
    Shell("C:\\WINNT\\system32\\nothere.exe /c \"echo\"", platform::WindowStyle::kHide);
    FAIL() << "no error";
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.Err().Number, 53);
  }
}

TEST_F(MachineTest, CheckAppFailsWhenWmiIsStoppedOrTheComputerIsOther) {
  double pid = Shell(CommandLineFor("exit", false), platform::WindowStyle::kHide);
  ASSERT_TRUE(WaitForProcess(pid, strComputerName));
  double other = 12;
  EXPECT_FALSE(CheckApp(other, "ELSEWHERE"));
  EXPECT_EQ(other, 12);
  ASSERT_TRUE(platform::RecordServiceState("winmgmt", false));
  bDebug = kTrue;
  double any = 1;
  strError.clear();
  EXPECT_FALSE(CheckApp(any, strComputerName));
  EXPECT_EQ(strError.rfind("Error checking ProcessID! Error in WMI?  Error : ", 0), 0u) << strError;
  EXPECT_NE(strError.find("\r\nSource : "), std::string::npos);
  ASSERT_FALSE(ui_.List().empty());
  EXPECT_EQ(ui_.List().back().rfind("Source : ", 0), 0u);
}

TEST_F(MachineTest, FilesAndFolders) {
  bDebug = kTrue;
  EXPECT_TRUE(MakeDir("c:\\Minutrix\\"));
  EXPECT_TRUE(fs::is_directory(machine_.Host("C:\\Minutrix")));
  EXPECT_TRUE(MakeDir("C:\\MINUTRIX"));  // exists already: nothing to do
  EXPECT_TRUE(FolderExists("c:\\minutrix"));
  EXPECT_FALSE(FileExists("c:\\minutrix"));
  strError.clear();
  EXPECT_FALSE(MakeDir("c:\\Missing\\Deeper\\Folder"));
  EXPECT_EQ(strError, MsgCannotMakeDir);
  EXPECT_FALSE(fs::exists(machine_.Host("C:\\Missing")));
  const auto list = ui_.List();
  EXPECT_EQ(list[0], "[FolderExists] Folder=c:\\Minutrix\\");
  EXPECT_EQ(list[1], "[FolderExists] FolderExists=False");
  EXPECT_EQ(list[2], "[FolderExists] dESTROY oFSO");
  EXPECT_EQ(list[3], "Path : c:\\Minutrix\\");
  EXPECT_NE(std::find(list.begin(), list.end(), "[FileExists] c:\\minutrix does not exist"),
            list.end());
}

TEST_F(MachineTest, SearchFileFindsTheFirstAndStaysInTheTree) {
  Put(machine_.Host("C:\\Program Files\\A\\msaccess.exe"), "x");
  Put(machine_.Host("C:\\Program Files\\B\\MSACCESS.EXE"), "x");
  fs::create_directories(machine_.root() / "outside");
  Put(machine_.root() / "outside" / "only.exe", "x");
  fs::create_directory_symlink(machine_.root() / "outside", machine_.Host("C:\\link"));
  EXPECT_EQ(SearchFile("C:\\", "msaccess.exe"), "C:\\Program Files\\A\\msaccess.exe");
  EXPECT_EQ(SearchFile("C:\\", "only.exe"), "");
  EXPECT_EQ(SearchFile("Q:\\", "msaccess.exe"), "");
}

TEST_F(MachineTest, RestartServicesStopsAndStartsTheWebService) {
  Put(machine_.root() / "machine.ini", ReadFile(machine_.root() / "machine.ini") +
                                           "\r\n[Service W3SVC]\r\nStart=echo started >> "
                                           "w3svc.log\r\nStop=echo stopped >> w3svc.log\r\n");
  EXPECT_TRUE(RestartServices());
  EXPECT_EQ(ReadFile(machine_.root() / "w3svc.log"), "stopped\nstarted\n");
  EXPECT_TRUE(platform::ServiceRunning("w3svc"));
  // Already stopped: the stop fails, which is not looked at.
  ASSERT_TRUE(platform::RecordServiceState("W3SVC", false));
  EXPECT_TRUE(RestartServices());
  EXPECT_TRUE(platform::ServiceRunning("w3svc"));
  EXPECT_EQ(strError, "");
}

TEST_F(MachineTest, RestartServicesReportsAFailedWait) {
  ASSERT_TRUE(platform::RecordServiceState("winmgmt", false));
  strError.clear();
  EXPECT_FALSE(RestartServices());
  EXPECT_EQ(strError.rfind(MsgWmiError, 0), 0u) << strError;
}

class RestartComputerTest : public MachineTest {
 protected:
  RestartComputerTest()
      : MachineTest("box \"Restart Computer\" No\nbox \"Restart Computer\" Yes\n") {}
};

TEST_F(RestartComputerTest, AsksWithNoAsDefaultAndRestartsOnYes) {
  RestartComputer(EWX_REBOOT | EWX_FORCE);
  EXPECT_FALSE(fs::exists(platform::ShutdownLogPath()));
  RestartComputer(EWX_REBOOT | EWX_FORCE);
  EXPECT_NE(ReadFile(platform::ShutdownLogPath()).find("ExitWindowsEx EWX_REBOOT|EWX_FORCE (0x6)"),
            std::string::npos);
  const auto boxes = ui_.Lines("box ");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], "box \"Restart Computer\" icon critical buttons Yes,No default No");
}

struct ScriptLineCase {
  const char* name;
  const char* line;
  bool ok;
  int kind;
  const char* yields;
};

void PrintTo(const ScriptLineCase& c, std::ostream* os) { *os << '[' << c.line << ']'; }

class ParseScriptLineTest : public ::testing::TestWithParam<ScriptLineCase> {};

TEST_P(ParseScriptLineTest, ClassifiesAndRewrites) {
  ScriptedUi ui;
  LoadMessages("ENG");
  const ScriptLineCase& c = GetParam();
  std::string line = c.line;
  int kind = 99;
  EXPECT_EQ(ParseScriptLine(line, kind), c.ok);
  if (c.ok) {
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(line, c.yields);
    EXPECT_EQ(strError, "");
  } else {
    EXPECT_EQ(strError, std::string("Error in InstallScriptFile!\r\nLine : ") + c.line);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseScriptLineTest,
    ::testing::Values(
        ScriptLineCase{"EmptyLine", "", true, 0, ""},
        ScriptLineCase{"Comment", "// product files", true, 0, "// product files"},
        ScriptLineCase{"InstallFilesSection", "[INSTALL FILES]", true, 1, ""},
        ScriptLineCase{"InstallFilesSectionInLowerCase", "[install files]", true, 1, ""},
        ScriptLineCase{"SectionWithATrailingBlankIsAFile", "[INSTALL FILES] ", true, 3,
                       "[INSTALL FILES]"},
        ScriptLineCase{"Folder", "[DIR:Data]", true, 2, "Data\\"},
        ScriptLineCase{"FolderWithABackslash", "[DIR:Data\\]", true, 2, "Data\\"},
        ScriptLineCase{"FolderInLowerCase", "[dir:UserTimesDB]", true, 2, "UserTimesDB\\"},
        ScriptLineCase{"EmptyFolder", "[DIR:]", true, 2, ""},
        ScriptLineCase{"FolderUnderTheWebsite", "[DIR:<DEFAULT WEBSITE>\\Minutrix]", true, 2,
                       "<DEFAULT WEBSITE>\\Minutrix\\"},
        ScriptLineCase{"FileWithBlanksAround", "  Minutrix.DLL  ", true, 3, "Minutrix.DLL"},
        ScriptLineCase{"OtherSectionIsAFile", "[Other]", true, 3, "[Other]"},
        ScriptLineCase{"UnclosedFolderIsAnError", "[DIR:Data", false, 0, ""},
        ScriptLineCase{"TextAfterTheBracketsIsAnError", "[X]DIR:Data", false, 0, ""}),
    test_support::ByName());

class InstallFileTest : public MachineTest {
 protected:
  void SetUp() override {
    Put(machine_.Host("D:\\dist\\Minutrix.DLL"), "new");
    Put(machine_.Host("D:\\dist\\UserTimesDB\\UserTimesDB.mdb"), "db");
    Put(machine_.Host("D:\\dist\\UserTimesDB\\Read Me.txt"), "read");
    ASSERT_TRUE(MakeDir("c:\\Minutrix\\"));
  }
  InstallFileTest() { fs::create_directories(machine_.root() / "d"); }
};

TEST_F(InstallFileTest, CopiesAFileAndLeavesAnExistingOneUnlessOverwriting) {
  EXPECT_TRUE(
      InstallFile("D:\\dist\\Minutrix.DLL", "c:\\Minutrix\\Minutrix.DLL", strComputerName, false));
  EXPECT_EQ(ReadFile(machine_.Host("c:\\Minutrix\\Minutrix.DLL")), "new");
  Put(machine_.Host("D:\\dist\\Minutrix.DLL"), "newer");
  EXPECT_TRUE(
      InstallFile("D:\\dist\\Minutrix.DLL", "c:\\Minutrix\\Minutrix.DLL", strComputerName, false));
  EXPECT_EQ(ReadFile(machine_.Host("c:\\Minutrix\\Minutrix.DLL")), "new");
  EXPECT_TRUE(
      InstallFile("D:\\dist\\Minutrix.DLL", "c:\\Minutrix\\Minutrix.DLL", strComputerName, true));
  EXPECT_EQ(ReadFile(machine_.Host("c:\\Minutrix\\Minutrix.DLL")), "newer");
}

TEST_F(InstallFileTest, MissingSourceFails) {
  EXPECT_FALSE(InstallFile("D:\\dist\\none.dll", "c:\\Minutrix\\none.dll", strComputerName, true));
  EXPECT_EQ(strError,
            "File not found, unable to install Minutrix!\r\nFile : D:\\dist\\none.dll\r\n");
}

TEST_F(InstallFileTest, CopyThatLeavesNoFileFails) {
  EXPECT_FALSE(
      InstallFile("D:\\dist\\Minutrix.DLL", "c:\\Nowhere\\Minutrix.DLL", strComputerName, true));
  EXPECT_EQ(strError, "File not found, unable to install Minutrix!\r\nc:\\Nowhere\\Minutrix.DLL");
}

TEST_F(InstallFileTest, CopiesAWholeFolderIntoANewFolder) {
  bDebug = kTrue;
  EXPECT_TRUE(
      InstallFile("D:\\dist\\UserTimesDB", "c:\\Minutrix\\UserTimesDB", strComputerName, true));
  EXPECT_EQ(ReadFile(machine_.Host("c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb")), "db");
  EXPECT_EQ(ReadFile(machine_.Host("c:\\Minutrix\\UserTimesDB\\Read Me.txt")), "read");
  const auto list = ui_.List();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front(), "[InstallFile] Is it a folder?");
  EXPECT_NE(std::find(list.begin(), list.end(),
                      "[InstallFile]InstallString : C:\\WINNT\\system32\\cmd.exe /c "),
            list.end());
  EXPECT_NE(
      std::find(list.begin(), list.end(),
                "  \"Copy \"D:\\dist\\UserTimesDB\\*.*\" \"c:\\Minutrix\\UserTimesDB\\*.*\"\""),
      list.end());
  EXPECT_EQ(list.back(), "D:\\dist\\UserTimesDB -> c:\\Minutrix\\UserTimesDB");
}

TEST_F(InstallFileTest, FolderWhoseDestinationCannotBeMadeFails) {
  EXPECT_FALSE(
      InstallFile("D:\\dist\\UserTimesDB", "c:\\No\\Such\\UserTimesDB", strComputerName, true));
  EXPECT_EQ(strError, MsgCannotMakeDir);
}

}  // namespace
