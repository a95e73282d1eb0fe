// Clock, critical sections, module names, last error and profile files.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/sync.h"
#include "platform/win32_shell.h"
#include "tests/support/test_support.h"

namespace {

TEST(Clock, FixedAdvancedAndFromAClockFile) {
  platform::SetFixedTime(1'000'000);
  EXPECT_EQ(platform::Now(), 1'000'000);
  platform::AdvanceFixedTime(90);
  EXPECT_EQ(platform::Now(), 1'000'090);
  platform::SetFixedTime(std::nullopt);

  test_support::ScratchDir dir;
  const auto file = dir.path() / "clock";
  ::setenv("MINUTRIX_CLOCK_FILE", file.c_str(), 1);
  test_support::WriteFile(file, "2030-01-01 10:05:30\n");
  const std::tm tm = platform::LocalNow();
  EXPECT_EQ(tm.tm_year, 130);
  EXPECT_EQ(tm.tm_hour, 10);
  EXPECT_EQ(tm.tm_min, 5);
  test_support::WriteFile(file, "+2h");
  const auto shifted = platform::Now() - std::time(nullptr);
  EXPECT_GE(shifted, 7199);
  EXPECT_LE(shifted, 7201);
  test_support::WriteFile(file, "nonsense");
  EXPECT_LE(std::abs(platform::Now() - std::time(nullptr)), 1);
  ::unsetenv("MINUTRIX_CLOCK_FILE");
}

TEST(CriticalSection, HolderEntersAgainOthersWait) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));  // re-entered, no wait
  std::atomic<bool> other_got_it{true};
  std::thread([&] { other_got_it = TryEnterCriticalSection(&section) != FALSE; }).join();
  EXPECT_FALSE(other_got_it);
  LeaveCriticalSection(&section);
  std::thread([&] { other_got_it = TryEnterCriticalSection(&section) != FALSE; }).join();
  EXPECT_FALSE(other_got_it) << "still held once";
  LeaveCriticalSection(&section);
  std::thread([&] {
    other_got_it = TryEnterCriticalSection(&section) != FALSE;
    if (other_got_it) LeaveCriticalSection(&section);
  }).join();
  EXPECT_TRUE(other_got_it);
  DeleteCriticalSection(&section);
}

TEST(ModuleFileName, MainProgramNameAndCutToTheBuffer) {
  test_support::ScratchMachine machine;
  char name[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, name, sizeof name), 0u);
  const std::string expected =
      platform::WindowsPath(std::filesystem::read_symlink("/proc/self/exe"));
  EXPECT_EQ(std::string(name), expected);
  char small[8];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 8u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), expected.substr(0, 7));
  EXPECT_EQ(GetModuleHandleA("Minutrix.dll"), nullptr);
}

TEST(LastError, PerThreadAndFromErrno) {
  SetLastError(0xdeadbeef);
  std::thread([] { EXPECT_EQ(GetLastError(), 0u); }).join();
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  EXPECT_EQ(platform::Win32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(platform::Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(platform::SystemErrorText(ERROR_FILE_NOT_FOUND),
            "The system cannot find the file specified.");
  EXPECT_TRUE(platform::SystemErrorText(0x80040e37).empty());
}

TEST(ProfileFile, ReadWriteWithoutCaseAndQuotes) {
  test_support::ScratchMachine machine;
  const char* file = "c:\\Settings.ini";
  test_support::WriteFile(machine.root() / "c/Settings.ini",
                          "; comment\r\n[Group]\r\nName = \"Minutrix Tools\"\r\nEmpty=\r\n");
  char buffer[64];
  EXPECT_EQ(GetPrivateProfileStringA("group", "NAME", "dflt", buffer, sizeof buffer, file), 14u);
  EXPECT_STREQ(buffer, "Minutrix Tools");
  GetPrivateProfileStringA("Group", "Missing", "dflt", buffer, sizeof buffer, file);
  EXPECT_STREQ(buffer, "dflt");
  GetPrivateProfileStringA("Group", "Empty", "dflt", buffer, sizeof buffer, file);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(GetPrivateProfileStringA("Group", "Name", "", buffer, 5, file), 4u);
  EXPECT_STREQ(buffer, "Minu");
  EXPECT_TRUE(WritePrivateProfileStringA("Other", "Key", "v", file));
  EXPECT_TRUE(WritePrivateProfileStringA("Group", "Name", nullptr, file));
  GetPrivateProfileStringA("Group", "Name", "gone", buffer, sizeof buffer, file);
  EXPECT_STREQ(buffer, "gone");
  GetPrivateProfileStringA("other", "key", "", buffer, sizeof buffer, file);
  EXPECT_STREQ(buffer, "v");
  GetPrivateProfileStringA("Group", "Name", "none", buffer, sizeof buffer, "c:\\missing.ini");
  EXPECT_STREQ(buffer, "none");
}

}  // namespace

namespace {

// A moved clock must show in the shutdown record too, or a test of a restart at a given time
// reads the real time instead.
TEST(ExitWindowsExRecord, IsStampedWithThePlatformClock) {
  test_support::ScratchMachine machine;
  std::tm moment{};
  moment.tm_year = 2031 - 1900;
  moment.tm_mon = 4;
  moment.tm_mday = 17;
  moment.tm_hour = 23;
  moment.tm_min = 59;
  moment.tm_sec = 58;
  moment.tm_isdst = -1;
  platform::SetFixedTime(std::mktime(&moment));
  ASSERT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  platform::SetFixedTime(std::nullopt);
  const std::string log = test_support::ReadFile(platform::ShutdownLogPath());
  EXPECT_EQ(log.rfind("2031-05-17 23:59:58 ExitWindowsEx EWX_REBOOT (0x2)", 0), 0u) << log;
}

}  // namespace
