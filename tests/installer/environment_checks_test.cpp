// The machine facts of the start-up (Windows version class, computer name, Windows folder) and
// the free disk space check, against machines made by minutrix-machine init and changed through
// their profile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>

#include "installer/functions.h"
#include "installer/install_functions_checks.h"
#include "installer/settings.h"
#include "platform/locale_info.h"
#include "platform/profile.h"
#include "tests/installer/scripted_ui.h"
#include "tests/support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

namespace fs = std::filesystem;

// glibc's newlocale keeps its copy of LOCPATH for good; the leak checker is told to let that be.
struct LocalePathLeakAllowed {
#if defined(__SANITIZE_ADDRESS__)
  __lsan::ScopedDisabler disabler;
#endif
};
using namespace installer;
using installer_test::ScriptedUi;

void SetProfile(const char* section, const char* key, const std::string& value) {
  ASSERT_TRUE(WritePrivateProfileStringA(section, key, value.c_str(),
                                         platform::MachineProfilePath().c_str()));
}

// Sets LC_ALL for one test and puts the old value back.
class LocaleEnvironment {
 public:
  explicit LocaleEnvironment(const char* value) {
    if (const char* old = std::getenv("LC_ALL")) saved_ = old;
    ::setenv("LC_ALL", value, 1);
  }
  ~LocaleEnvironment() {
    if (saved_) {
      ::setenv("LC_ALL", saved_->c_str(), 1);
    } else {
      ::unsetenv("LC_ALL");
    }
  }

 private:
  std::optional<std::string> saved_;
};

struct WinVerCase {
  const char* name;
  const char* major;
  const char* minor;
  const char* platform_id;
  std::int16_t version_class;
  const char* debug_line;  // null: MsgWrongOS is shown instead
};

void PrintTo(const WinVerCase& c, std::ostream* os) { *os << c.name; }

class GetWinVerTest : public ::testing::TestWithParam<WinVerCase> {
 protected:
  test_support::ScratchMachine machine_;
};

TEST_P(GetWinVerTest, ClassAndLineOfTheMachinesVersion) {
  const WinVerCase& c = GetParam();
  ScriptedUi ui;
  LoadMessages("ENG");
  SetProfile("Windows", "MajorVersion", c.major);
  SetProfile("Windows", "MinorVersion", c.minor);
  SetProfile("Windows", "PlatformId", c.platform_id);
  bDebug = kTrue;
  std::int16_t version = 99;
  EXPECT_TRUE(GetWinVer(version));
  EXPECT_EQ(version, c.version_class);
  const auto list = ui.List();
  if (c.debug_line) {
    EXPECT_EQ(list, std::vector<std::string>{c.debug_line});
  } else {
    EXPECT_EQ(list,
              std::vector<std::string>{"Incorrect Operating System. Only for Windows2000/XP"});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, GetWinVerTest,
    ::testing::Values(WinVerCase{"WindowsNT4", "4", "0", "2", 1, "Windows NT"},
                      WinVerCase{"Windows2000", "5", "0", "2", 2, "Windows 2000 5.0"},
                      WinVerCase{"WindowsXP", "5", "1", "2", 2, "Windows 2000 5.1"},
                      WinVerCase{"Server2003", "5", "2", "2", 2, "Windows 2000 5.2"},
                      WinVerCase{"Major5OtherPlatform", "5", "0", "1", 2, "Windows 2000 5.0"},
                      WinVerCase{"Windows95", "4", "0", "1", 3, nullptr},
                      WinVerCase{"Windows98", "4", "10", "1", 3, nullptr},
                      WinVerCase{"WindowsMe", "4", "90", "1", 3, nullptr},
                      WinVerCase{"Vista", "6", "0", "2", 3, nullptr},
                      WinVerCase{"Major10", "10", "0", "2", 3, nullptr},
                      WinVerCase{"NoVersion", "", "", "", 3, nullptr}),
    [](const ::testing::TestParamInfo<WinVerCase>& info) { return std::string(info.param.name); });

TEST(GetWinVer, NotInDebugModeOnlyTheWrongSystemIsShown) {
  test_support::ScratchMachine machine;
  ScriptedUi ui;
  LoadMessages("NED");
  std::int16_t version = 0;
  EXPECT_TRUE(GetWinVer(version));
  EXPECT_EQ(version, 2);
  EXPECT_TRUE(ui.List().empty());
  SetProfile("Windows", "MajorVersion", "6");
  EXPECT_TRUE(GetWinVer(version));
  EXPECT_EQ(ui.List(), std::vector<std::string>{MsgWrongOS});
  EXPECT_EQ(MsgWrongOS, "Onjuist besturingssysteem. Alleen voor Windows2000/XP");
}

struct NameCase {
  const char* name;
  const char* computer;
  const char* expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class GetCompNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(GetCompNameTest, NameOfTheMachine) {
  test_support::ScratchMachine machine;
  ScriptedUi ui;
  SetProfile("Windows", "ComputerName", GetParam().computer);
  strError = "kept";
  EXPECT_EQ(GetCompName(), GetParam().expected);
  EXPECT_EQ(strError, "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Names, GetCompNameTest,
    ::testing::Values(NameCase{"Short", "SRV1", "SRV1"},
                      NameCase{"FifteenCharacters", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},
                      // Longer than a NetBIOS name: the call fails, the name is empty.
                      NameCase{"SixteenCharacters", "ABCDEFGHIJKLMNOP", ""},
                      NameCase{"Empty", "", ""}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

TEST(GetWindowsDir, FolderOfTheProfileWithoutBackslash) {
  test_support::ScratchMachine machine;
  ScriptedUi ui;
  LoadMessages("ENG");
  bDebug = kTrue;
  EXPECT_EQ(getWindowsDir(), "C:\\WINNT");
  EXPECT_EQ(ui.List(), std::vector<std::string>{"[getWindowsDir] Getting windows directory"});
  SetProfile("Windows", "WindowsDirectory", "D:\\WINDOWS");
  EXPECT_EQ(getWindowsDir(), "D:\\WINDOWS");
  // Longer than the 255-character buffer: nothing is read past it.
  SetProfile("Windows", "WindowsDirectory", "C:\\" + std::string(300, 'w'));
  EXPECT_EQ(getWindowsDir(), "");
}

struct DiskCase {
  const char* name;
  const char* free_space;  // [DriveFreeSpace] C= of the profile
  bool enough;
  const char* shown_free;      // the free kilobytes of the debug message
  const char* available_text;  // the available kilobytes of the error text
};

void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.name; }

class CheckDiskSpaceTest : public ::testing::TestWithParam<DiskCase> {};

TEST_P(CheckDiskSpaceTest, MoreThan22120KilobytesPass) {
  const DiskCase& c = GetParam();
  test_support::ScratchMachine machine;
  ScriptedUi ui;
  LocaleEnvironment locale("C");
  LoadMessages("ENG");
  SetProfile("DriveFreeSpace", "C", c.free_space);
  bDebug = kTrue;
  strError.clear();
  EXPECT_EQ(CheckDiskSpace(), c.enough);
  EXPECT_EQ(ui.List(),
            (std::vector<std::string>{
                std::string("Free Disk Space : ") + c.shown_free, "Needed DiskSpace : 22,120",
                c.enough ? "Sufficient space is available" : "Not enough free space"}));
  if (c.enough) {
    EXPECT_EQ(strError, "");
  } else {
    EXPECT_EQ(strError, std::string("Not enough free disk space or FileSystemObject is missing.\r\n"
                                    "Needed/Available Disk Space : 22,120/") +
                            c.available_text + "\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, CheckDiskSpaceTest,
    ::testing::Values(DiskCase{"Exactly22120KbFails", "22120 KB", false, "22,120", "22,120.00"},
                      DiskCase{"Just22121KbPasses", "22121 KB", true, "22,121", ""},
                      DiskCase{"HalfGoesToEvenAndFails", "22120.5 KB", false, "22,120",
                               "22,120.50"},
                      DiskCase{"Point6RoundsUpAndPasses", "22120.6 KB", true, "22,121", ""},
                      DiskCase{"HalfAboveOddRoundsUp", "22121.5 KB", true, "22,122", ""},
                      DiskCase{"InBytes", "22651904", true, "22,121", ""},
                      DiskCase{"FullDisk", "0", false, "0", "0.00"},
                      DiskCase{"ManyGigabytes", "1234567 MB", true, "1,264,196,608", ""}),
    [](const ::testing::TestParamInfo<DiskCase>& info) { return std::string(info.param.name); });

TEST(CheckDiskSpace, LinesOnlyWithExtraMessagesAndDebug) {
  test_support::ScratchMachine machine;
  ScriptedUi ui;
  LoadMessages("ENG");
  SetProfile("DriveFreeSpace", "C", "1 GB");
  bDebug = kTrue;
  bExtraMessages = kFalse;
  EXPECT_TRUE(CheckDiskSpace());
  bDebug = kFalse;
  bExtraMessages = kTrue;
  EXPECT_TRUE(CheckDiskSpace());
  EXPECT_TRUE(ui.List().empty());
}

TEST(CheckDiskSpace, MissingDriveIsAFailureWithItsDetails) {
  test_support::ScratchMachine machine;
  ScriptedUi ui;
  LocaleEnvironment locale("C");
  LoadMessages("ENG");
  // A machine whose drive C: is gone (its folder renamed to drive Q:).
  fs::rename(machine.root() / "c", machine.root() / "q");
  EXPECT_FALSE(CheckDiskSpace());
  EXPECT_EQ(strError.rfind("Not enough free disk space or FileSystemObject is missing.\r\n"
                           "Needed/Available Disk Space : 22,120/0.00\r\n68 : ",
                           0),
            0u)
      << strError;
  EXPECT_NE(strError.find("\r\nSource : "), std::string::npos) << strError;
}

struct FormatCase {
  const char* name;
  double value;
  int decimals;
  const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatNumberTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatNumberTest, GroupedWithTheEnglishSettingsOfThePlainLocale) {
  LocaleEnvironment locale("C");
  EXPECT_EQ(FormatNumber(GetParam().value, GetParam().decimals), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, FormatNumberTest,
    ::testing::Values(
        FormatCase{"Requirement", 22120, 0, "22,120"}, FormatCase{"Small", 999, 0, "999"},
        FormatCase{"Zero", 0, 0, "0"}, FormatCase{"Million", 1234567, 0, "1,234,567"},
        FormatCase{"TwoDecimals", 22120.5, 2, "22,120.50"},
        FormatCase{"CutToTwo", 1234.567, 2, "1,234.57"}, FormatCase{"HalfToEvenDown", 2.5, 0, "2"},
        FormatCase{"HalfToEvenUp", 3.5, 0, "4"}, FormatCase{"Negative", -1234.5, 0, "-1,234"},
        FormatCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), 0, "0"}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.name); });

// A locale of its own, compiled into a scratch folder that LOCPATH names: its numbers use ","
// for decimals and "." between groups of three, then two.
class OwnLocale {
 public:
  OwnLocale() {
    test_support::WriteFile(dir_.path() / "xx.src",
                            "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;2\n"
                            "END LC_NUMERIC\n");
    // Other categories are missing on purpose (-c), so localedef warns and exits 1.
    test_support::Run({"/usr/bin/localedef", "-c", "-i", (dir_.path() / "xx.src").string(), "-f",
                       "UTF-8", (dir_.path() / "xx_XX.UTF-8").string()});
    ready_ = fs::exists(dir_.path() / "xx_XX.UTF-8" / "LC_NUMERIC");
    if (const char* old = std::getenv("LOCPATH")) saved_ = old;
    ::setenv("LOCPATH", dir_.path().c_str(), 1);
  }
  ~OwnLocale() {
    if (saved_) {
      ::setenv("LOCPATH", saved_->c_str(), 1);
    } else {
      ::unsetenv("LOCPATH");
    }
  }
  bool ready() const { return ready_; }

 private:
  test_support::ScratchDir dir_;
  std::optional<std::string> saved_;
  bool ready_ = false;
};

TEST(CheckDiskSpace, NumbersFollowTheLocaleOfTheEnvironment) {
  test_support::ScratchMachine machine;
  ScriptedUi ui;
  OwnLocale own;
  if (!own.ready()) GTEST_SKIP() << "localedef cannot make a locale here";
  [[maybe_unused]] const LocalePathLeakAllowed leak_allowed;
  LocaleEnvironment locale("xx_XX.UTF-8");
  char text[8] = {};
  ASSERT_GT(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, text, sizeof text), 0);
  EXPECT_STREQ(text, "3;2;0");
  EXPECT_EQ(FormatNumber(1234567, 0), "12.34.567");
  EXPECT_EQ(FormatNumber(22120.5, 2), "22.120,50");
  LoadMessages("ENG");
  SetProfile("DriveFreeSpace", "C", "22120.5 KB");
  EXPECT_FALSE(CheckDiskSpace());
  EXPECT_EQ(strError, MsgNotEnoughDiskSpace + "22.120/22.120,50\r\n");
}

TEST(IsEnvironmentOK, AlwaysTrue) { EXPECT_TRUE(IsEnvironmentOK()); }

}  // namespace
