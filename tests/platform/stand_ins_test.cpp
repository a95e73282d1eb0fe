// Processes, the WMI look-up, the file-system object and message boxes of the platform layer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/forms.h"
#include "platform/forms_backend.h"
#include "platform/fso.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/wmi.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
// Writes a file, making its folders first.
void Put(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  test_support::WriteFile(path, text);
}

class ScratchMachineTest : public ::testing::Test {
 protected:
  test_support::ScratchMachine machine_;
};

TEST_F(ScratchMachineTest, StartedProcessHasARealPidAndIsReapedWhenDone) {
  const DWORD pid = platform::StartProcess("C:\\WINNT\\system32\\cmd.exe /c \"exit 0\"",
                                           platform::WindowStyle::kHide);
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(fs::exists("/proc/" + std::to_string(pid)));
  EXPECT_TRUE(test_support::WaitUntil([pid] { return !platform::ProcessRunning(pid); }))
      << "the process ended";
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid))) << "the zombie was reaped";
  EXPECT_FALSE(platform::ProcessRunning(0));
}

TEST_F(ScratchMachineTest, StartFailsForMissingOrNonExecutablePrograms) {
  SetLastError(0);
  EXPECT_EQ(platform::StartProcess("C:\\none.exe /x", platform::WindowStyle::kHide), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  Put(machine_.Host("C:\\plain.exe"), "not a program");
  EXPECT_EQ(platform::StartProcess("C:\\plain.exe", platform::WindowStyle::kHide), 0u);
  EXPECT_EQ(GetLastError(), platform::kErrorBadExeFormat);
  EXPECT_EQ(platform::StartProcess("", platform::WindowStyle::kHide), 0u);
}

TEST_F(ScratchMachineTest, WmiAnswersForThisMachineOnly) {
  platform::AutomationError error;
  const auto wmi =
      platform::WmiServices::Bind("winmgmts:{impersonationlevel=impersonate}!//.", &error);
  ASSERT_TRUE(wmi.has_value());
  const auto self = wmi->ExecQuery(
      "Select * From Win32_Process where processid = " + std::to_string(GetCurrentProcessId()),
      &error);
  ASSERT_TRUE(self.has_value());
  ASSERT_EQ(self->size(), 1u);
  EXPECT_EQ((*self)[0].process_id, GetCurrentProcessId());
  const auto none =
      wmi->ExecQuery("select * from win32_process where ProcessId = 99999999999999999999", &error);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
  EXPECT_FALSE(wmi->ExecQuery("select * from Win32_Service", &error).has_value());
  EXPECT_FALSE(wmi->ExecQuery("drop table x", &error).has_value());
  EXPECT_FALSE(platform::WmiServices::Bind("winmgmts://OTHERBOX", &error).has_value());
  EXPECT_FALSE(platform::WmiServices::Bind("nonsense", &error).has_value());
}

TEST_F(ScratchMachineTest, FileSystemObject) {
  const platform::FileSystemObject fso;
  fs::create_directories(machine_.root() / "d");
  fs::create_directories(machine_.root() / "z");  // names host paths, no drive
  const auto drives = fso.Drives();
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].path, "C:");
  EXPECT_EQ(drives[1].path, "D:");
  EXPECT_GT(drives[0].free_space, 0);
  EXPECT_EQ(fso.GetDriveName("c:\\Minutrix\\"), "c:");
  platform::AutomationError error;
  EXPECT_FALSE(fso.GetDrive("q:", &error).has_value());
  EXPECT_EQ(error.number, 68);
  Put(machine_.root() / "machine.ini", test_support::ReadFile(machine_.root() / "machine.ini") +
                                           "\r\n[DriveFreeSpace]\r\nC=22651392\r\n");
  EXPECT_EQ(fso.GetDrive("c:", &error)->free_space, 22651392.0);

  EXPECT_TRUE(fso.CreateFolder("C:\\New\\", &error));
  EXPECT_FALSE(fso.CreateFolder("C:\\New", &error));
  EXPECT_EQ(error.number, 58);
  EXPECT_FALSE(fso.CreateFolder("C:\\Missing\\Two", &error));
  EXPECT_EQ(error.number, 76);

  Put(machine_.Host("C:\\New\\a\\f.txt"), "x");
  EXPECT_TRUE(fso.MoveFolder("C:\\New", "C:\\Moved", &error));
  EXPECT_TRUE(fso.FileExists("c:\\moved\\A\\F.TXT"));
  EXPECT_FALSE(fso.FolderExists("C:\\New"));
  ::chmod(machine_.Host("C:\\Moved\\a\\f.txt").c_str(), 0444);
  EXPECT_FALSE(fso.DeleteFolder("C:\\Moved", false, &error));
  EXPECT_EQ(error.number, 70);
  EXPECT_TRUE(fso.FileExists("C:\\Moved\\a\\f.txt")) << "nothing deleted before the refusal";
  EXPECT_TRUE(fso.DeleteFolder("C:\\Moved", true, &error));
  EXPECT_FALSE(fso.FolderExists("C:\\Moved"));
}

TEST_F(ScratchMachineTest, FileVersionFromVersionResourceOrMarker) {
  const platform::FileSystemObject fso;
  std::string pe(64, '\0');
  const unsigned char info[] = {
      0xBD, 0x04, 0xEF, 0xFE, 0,    0,    1, 0,   // signature, struct version
      0,    0,    9,    0,    0xAF, 0x0A, 0, 0};  // MS = 9.0, LS = 0.2735
  pe.append(reinterpret_cast<const char*>(info), sizeof info);
  Put(machine_.Host("C:\\msaccess.exe"), pe);
  EXPECT_EQ(fso.GetFileVersion("C:\\msaccess.exe"), "9.0.0.2735");
  Put(machine_.Host("C:\\MsAdo15.dll"), "stand-in\nFileVersion=2.71.9030.0\n");
  EXPECT_EQ(fso.GetFileVersion("C:\\MsAdo15.dll"), "2.71.9030.0");
  Put(machine_.Host("C:\\none.dll"), "no version");
  EXPECT_EQ(fso.GetFileVersion("C:\\none.dll"), "");
  EXPECT_EQ(fso.GetFileVersion("C:\\missing.dll"), "");
}

TEST(MessageBoxes, StylesReachTheBackendAndAnswersComeBack) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* transcript = ::open_memstream(&buffer, &size);
  platform::forms::SetAbortThrows(true);
  platform::forms::SetBackend(
      platform::forms::MakeScriptBackend("box Yes\nbox \"T\" No\nbox Maybe\n", transcript));
  using namespace platform::forms;
  EXPECT_EQ(MsgBox("q", vbYesNo + vbCritical + vbDefaultButton2, "T"), vbYes);
  EXPECT_EQ(MsgBox("two\r\nlines", vbYesNo, "T"), vbNo);
  EXPECT_THROW(MsgBox("x", vbOKOnly, "T"), UiAborted);
  std::fflush(transcript);
  const std::string text(buffer, size);
  EXPECT_NE(
      text.find("box \"T\" icon critical buttons Yes,No default No\n  | q\nanswer: box Yes\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("  | two\n  | lines\n"), std::string::npos);
  EXPECT_NE(text.find("error: UI script line 3 (\"box Maybe\"): the box has no button \"Maybe\""),
            std::string::npos)
      << text;
  platform::forms::SetBackend(platform::forms::MakeScriptBackend("", nullptr));
  std::fclose(transcript);
  std::free(buffer);
}

}  // namespace
