// Faults on purpose: a [Faults] line of the machine profile fails the Nth call of an operation
// with its Win32 error, and the failed call changes nothing.
#include "platform/faults.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/files.h"
#include "platform/fso.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/wmi.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::ScratchMachine;
using test_support::WriteFile;

// Adds `lines` as the [Faults] section of the machine profile and makes the seam read it now.
void SetFaults(const ScratchMachine& machine, const std::string& lines) {
  const fs::path profile = machine.root() / "machine.ini";
  WriteFile(profile, ReadFile(profile) + "\r\n[Faults]\r\n" + lines);
  platform::ReloadFaults();
}

std::string RegText(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\Minutrix", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<no key>";
  char data[64] = {};
  DWORD size = sizeof data;
  const LONG rc =
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? std::string(data) : "<" + std::to_string(rc) + ">";
}

LONG RegSetText(const char* name, const std::string& text) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\Minutrix", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                      static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
  return rc;
}

// Each case prepares the machine, arms one fault, makes the call and checks that it failed with
// the error and that nothing else changed.
struct FaultCase {
  std::string name;
  std::function<void(ScratchMachine&)> prepare;
  std::string faults;
  DWORD error;
  // Returns the error the call reported (its return value or the last error).
  std::function<DWORD(ScratchMachine&)> call;
  std::function<void(ScratchMachine&)> unchanged;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class InjectedFault : public testing::TestWithParam<FaultCase> {};

TEST_P(InjectedFault, FailsWithItsErrorAndChangesNothing) {
  const FaultCase& c = GetParam();
  ScratchMachine machine;
  c.prepare(machine);
  SetFaults(machine, c.faults);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(c.call(machine), c.error);
  c.unchanged(machine);
  for (const auto& entry : fs::recursive_directory_iterator(machine.root())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << entry.path();
  }
}

const char* kOldProfile = "[Group]\r\nName=old\r\n";

INSTANTIATE_TEST_SUITE_P(
    Operations, InjectedFault,
    testing::Values(
        FaultCase{
            "WinFileWrite", [](ScratchMachine&) {}, "FileWrite=2,112\r\n", ERROR_DISK_FULL,
            [](ScratchMachine&) -> DWORD {
              auto file = platform::WinFile::Open("c:\\log.txt", "w");
              if (!file || !file->Write("first\n")) return 0;
              const DWORD error = file->Write("second\n") ? 0 : GetLastError();
              file->Close();
              return error;
            },
            [](ScratchMachine& m) { EXPECT_EQ(ReadFile(m.Host("c:\\log.txt")), "first\r\n"); }},
        FaultCase{"WinFileCreate", [](ScratchMachine&) {}, "FileCreate=1,5\r\n",
                  ERROR_ACCESS_DENIED,
                  [](ScratchMachine&) -> DWORD {
                    return platform::WinFile::Open("c:\\new.txt", "w") ? 0 : GetLastError();
                  },
                  [](ScratchMachine& m) { EXPECT_FALSE(fs::exists(m.Host("c:\\new.txt"))); }},
        FaultCase{
            "ProfileWrite",
            [](ScratchMachine& m) { WriteFile(m.Host("c:\\app.ini"), kOldProfile); },
            "FileWrite=1,112\r\n", ERROR_DISK_FULL,
            [](ScratchMachine&) -> DWORD {
              return WritePrivateProfileStringA("Group", "Name", "new", "c:\\app.ini")
                         ? 0
                         : GetLastError();
            },
            [](ScratchMachine& m) { EXPECT_EQ(ReadFile(m.Host("c:\\app.ini")), kOldProfile); }},
        FaultCase{
            "ProfileRename",
            [](ScratchMachine& m) { WriteFile(m.Host("c:\\app.ini"), kOldProfile); },
            "FileRename=1,32\r\n", ERROR_SHARING_VIOLATION,
            [](ScratchMachine&) -> DWORD {
              return WritePrivateProfileStringA("Group", "Name", "new", "c:\\app.ini")
                         ? 0
                         : GetLastError();
            },
            [](ScratchMachine& m) { EXPECT_EQ(ReadFile(m.Host("c:\\app.ini")), kOldProfile); }},
        FaultCase{"ServiceState",
                  [](ScratchMachine&) { ASSERT_TRUE(platform::RecordServiceState("W3SVC", true)); },
                  "FileWrite=1,112\r\n", ERROR_DISK_FULL,
                  [](ScratchMachine&) -> DWORD {
                    return platform::RecordServiceState("W3SVC", false) ? 0 : GetLastError();
                  },
                  [](ScratchMachine&) { EXPECT_TRUE(platform::ServiceRunning("W3SVC")); }},
        FaultCase{"RegistrySet",
                  [](ScratchMachine&) { ASSERT_EQ(RegSetText("MinutrixDebug", "0"), 0); },
                  "RegSetValue=1,5\r\n", ERROR_ACCESS_DENIED,
                  [](ScratchMachine&) -> DWORD {
                    const LONG rc = RegSetText("MinutrixDebug", "1");
                    EXPECT_EQ(GetLastError(), static_cast<DWORD>(rc));
                    return static_cast<DWORD>(rc);
                  },
                  [](ScratchMachine&) { EXPECT_EQ(RegText("MinutrixDebug"), "0"); }},
        FaultCase{"RegistrySaveRename",
                  [](ScratchMachine&) { ASSERT_EQ(RegSetText("MinutrixDebug", "0"), 0); },
                  "FileRename=1,112\r\n", ERROR_CANTWRITE,
                  [](ScratchMachine&) -> DWORD {
                    const LONG rc = RegSetText("MinutrixDebug", "1");
                    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL) << "the cause is kept";
                    return static_cast<DWORD>(rc);
                  },
                  [](ScratchMachine&) { EXPECT_EQ(RegText("MinutrixDebug"), "0"); }},
        FaultCase{"RegistryOpen",
                  [](ScratchMachine&) { ASSERT_EQ(RegSetText("MinutrixDebug", "0"), 0); },
                  "RegOpenKey=1,5\r\n", ERROR_ACCESS_DENIED,
                  [](ScratchMachine&) -> DWORD {
                    HKEY key = reinterpret_cast<HKEY>(1);
                    const LONG rc =
                        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\Minutrix", 0, KEY_READ, &key);
                    EXPECT_EQ(key, nullptr);
                    return static_cast<DWORD>(rc);
                  },
                  [](ScratchMachine&) { EXPECT_EQ(RegText("MinutrixDebug"), "0"); }},
        FaultCase{"ProcessStart", [](ScratchMachine&) {}, "ProcessStart=1,2\r\n",
                  ERROR_FILE_NOT_FOUND,
                  [](ScratchMachine&) -> DWORD {
                    const DWORD pid = platform::StartProcess(
                        "C:\\WINNT\\system32\\cmd.exe /c \"echo x> C:\\started.txt\"",
                        platform::WindowStyle::kHide);
                    return pid == 0 ? GetLastError() : 0;
                  },
                  [](ScratchMachine& m) {
                    // Only the first start fails. By the end of a later one, the failed
                    // start's command would have written its file, had it run.
                    const DWORD later = platform::StartProcess(
                        "C:\\WINNT\\system32\\cmd.exe /c \"echo x> C:\\later.txt\"",
                        platform::WindowStyle::kHide);
                    ASSERT_NE(later, 0u);
                    EXPECT_EQ(platform::WaitForProcess(later, std::chrono::seconds(10)), 0);
                    EXPECT_TRUE(fs::exists(m.Host("c:\\later.txt")));
                    EXPECT_FALSE(fs::exists(m.Host("c:\\started.txt")));
                  }},
        FaultCase{"WmiQuery", [](ScratchMachine&) {}, "WmiQuery=1,1726\r\n", 1726,
                  [](ScratchMachine&) -> DWORD {
                    platform::AutomationError error;
                    auto wmi = platform::WmiServices::Bind("winmgmts:", &error);
                    if (!wmi) return 0;
                    if (wmi->ExecQuery("select * from Win32_Process", &error)) return 0;
                    EXPECT_EQ(static_cast<unsigned long>(error.number) & 0xffffffffUL,
                              0x800706BEUL);
                    return GetLastError();
                  },
                  [](ScratchMachine&) {}},
        FaultCase{"FolderCreate", [](ScratchMachine&) {}, "FolderCreate=1,112\r\n", ERROR_DISK_FULL,
                  [](ScratchMachine&) -> DWORD {
                    platform::AutomationError error;
                    if (platform::FileSystemObject().CreateFolder("c:\\NewFolder", &error))
                      return 0;
                    EXPECT_EQ(error.number, 61) << "the runtime's Disk full";
                    return GetLastError();
                  },
                  [](ScratchMachine& m) { EXPECT_FALSE(fs::exists(m.Host("c:\\NewFolder"))); }},
        FaultCase{"DriveFreeSpace", [](ScratchMachine&) {}, "DriveFreeSpace=1,21\r\n", 21,
                  [](ScratchMachine&) -> DWORD {
                    platform::AutomationError error;
                    if (platform::FileSystemObject().GetDrive("C:", &error)) return 0;
                    EXPECT_EQ(static_cast<unsigned long>(error.number) & 0xffffffffUL,
                              0x80070015UL);
                    return GetLastError();
                  },
                  [](ScratchMachine&) {
                    platform::AutomationError error;
                    EXPECT_TRUE(platform::FileSystemObject().GetDrive("C:", &error))
                        << "only the first call fails";
                  }}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST(Faults, OnlyTheNthCallFailsUnlessLaterOnesAreAsked) {
  ScratchMachine machine;
  SetFaults(machine, "FileWrite=3,112\r\n");
  auto file = platform::WinFile::Open("c:\\count.txt", "wb");
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->Write("1"));
  EXPECT_TRUE(file->Write("2"));
  EXPECT_FALSE(file->Write("3"));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_TRUE(file->Write("4"));
  SetFaults(machine, "FileWrite=2+,0x70\r\n");  // a reload restarts the count
  EXPECT_TRUE(file->Write("5"));
  EXPECT_FALSE(file->Write("6"));
  EXPECT_FALSE(file->Write("7"));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  file->Close();
  EXPECT_EQ(ReadFile(machine.Host("c:\\count.txt")), "1245");
}

TEST(Faults, CountsArePerOperation) {
  ScratchMachine machine;
  ASSERT_EQ(RegSetText("A", "a"), ERROR_SUCCESS);
  SetFaults(machine, "RegSetValue=2,5\r\nRegOpenKey=3,2\r\n");
  EXPECT_EQ(RegSetText("A", "1"), ERROR_SUCCESS);         // open 1, set 1
  EXPECT_EQ(RegSetText("A", "2"), ERROR_ACCESS_DENIED);   // open 2, set 2
  EXPECT_EQ(RegSetText("A", "3"), ERROR_FILE_NOT_FOUND);  // open 3
  EXPECT_EQ(RegSetText("A", "4"), ERROR_SUCCESS);
  EXPECT_EQ(RegText("A"), "4");
}

TEST(Faults, OffWithoutAFaultsSection) {
  ScratchMachine machine;
  platform::ReloadFaults();
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(RegSetText("V", std::to_string(i)), ERROR_SUCCESS) << i;
    ASSERT_EQ(platform::InjectedFault(platform::FaultOp::kFileWrite), ERROR_SUCCESS);
  }
  // A fault of another machine stays with that machine.
  {
    ScratchMachine other;
    SetFaults(other, "RegSetValue=1+,5\r\n");
    EXPECT_EQ(RegSetText("V", "x"), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(RegSetText("V", "back"), ERROR_SUCCESS);
  EXPECT_EQ(RegText("V"), "back");
}

TEST(Faults, MalformedLinesAreToldAndIgnored) {
  ScratchMachine machine;
  testing::internal::CaptureStderr();
  SetFaults(machine,
            "FileWrite=abc,112\r\n"
            "NoSuchOperation=1,5\r\n"
            "RegSetValue=0,5\r\n"
            "RegSetValue\r\n"
            "ProcessStart=1,\r\n"
            "FileCreate=1,0\r\n"
            "FileWrite=99999999999999999999999,5\r\n"
            "FileRename=-1,5\r\n"
            "RegOpenKey=1,5 ; this one is fine\r\n");
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_NE(told.find("NoSuchOperation"), std::string::npos) << told;
  EXPECT_NE(told.find("abc"), std::string::npos) << told;
  EXPECT_EQ(told.find("this one is fine"), std::string::npos) << told;
  int lines = 0;
  for (char c : told) lines += c == '\n';
  EXPECT_EQ(lines, 8) << told;
  EXPECT_EQ(platform::InjectedFault(platform::FaultOp::kFileWrite), ERROR_SUCCESS);
  EXPECT_EQ(platform::InjectedFault(platform::FaultOp::kRegSetValue), ERROR_SUCCESS);
  EXPECT_EQ(platform::InjectedFault(platform::FaultOp::kRegOpenKey), ERROR_ACCESS_DENIED);
}

TEST(Faults, EveryOperationHasAName) {
  for (int op = 0; op < static_cast<int>(platform::FaultOp::kCount); ++op) {
    EXPECT_FALSE(platform::FaultOpName(static_cast<platform::FaultOp>(op)).empty()) << op;
  }
}

}  // namespace
