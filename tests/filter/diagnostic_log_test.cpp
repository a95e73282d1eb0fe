// The diagnostic log: head, markers, file name, formatting forms, the debug switch and the
// fallback record.
#include "filter/diagnostic_log.h"

#include <unistd.h>

#include <filesystem>

#include "filter/registry_settings.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "tests/filter/filter_fixture.h"

namespace {

using filter_test::FilterTest;
using Lines = std::vector<std::string>;

TEST_F(FilterTest, HeadWithDebuggingOn) {
  SetDebug("1");
  DoMessageHandling("Starting App", 2);
  DoMessageHandling("[GetFilterVersion] Write status to 0", 0);
  EXPECT_EQ(LogLines(), (Lines{"[INIT]", "V3.6.2.3", "06-12-2026; 08:05",
                               "Process ID : " + std::to_string(::getpid()), "-Starting App",
                               ">[GetFilterVersion] Write status to 0"}));
  EXPECT_EQ(test_support::ReadFile(LogFile()).substr(0, 8), "[INIT]\r\n");
}

TEST_F(FilterTest, DroppedFirstEntryStillWritesTheShortHead) {
  DoMessageHandling("detail", 0);
  EXPECT_EQ(LogLines(), (Lines{"[INIT]", "06-12-2026; 08:05"}));
}

TEST_F(FilterTest, MarkersAndUnknownSeverities) {
  DoMessageHandling("one", 1);
  DoMessageHandling("two", 2);
  DoMessageHandling("three", 3);
  DoMessageHandling("", 3);
  DoMessageHandling("whatever", 7);
  DoMessageHandling("whatever", -1);
  DoMessageHandling("hidden", 0);
  EXPECT_EQ(Entries(),
            (Lines{"]one", "-two", "*three", "*", "Unknown severity!", "Unknown severity!"}));
}

TEST_F(FilterTest, FormattingForms) {
  DoMessageHandling("[LockSection] type %d", 3, 2);
  DoMessageHandling("\tCode = %08lx", 0x80004005LL, 3);
  DoMessageHandling("[PrintConnectionError] \t Error number: %x\t ,", 0x80040e37LL, 3);
  DoMessageHandling("[X] %d%% done", -5, 2);
  DoMessageHandling("[~ClsTempogate] Error %s", std::string("2"), 3);
  DoMessageHandling("[Y] %s|", std::string("a\0b", 3), 2);  // a C string ends at its zero
  DoMessageHandling("[Z] no conversion", std::string("ignored"), 2);
  EXPECT_EQ(Entries(),
            (Lines{"-[LockSection] type 3", "*\tCode = 80004005",
                   "*[PrintConnectionError] \t Error number: 80040e37\t ,", "-[X] -5% done",
                   "*[~ClsTempogate] Error 2", "-[Y] a|", "-[Z] no conversion"}));
}

TEST_F(FilterTest, MessagesWithLineBreaksAreWrittenInTextMode) {
  SetDebug("1");
  DoMessageHandling("The status file was not opened\n", 0);
  const std::string text = test_support::ReadFile(LogFile());
  EXPECT_NE(text.find(">The status file was not opened\r\n\r\n"), std::string::npos);
}

TEST_F(FilterTest, LogKeepsItsFileAfterMidnightAndANewLoadThatDayAppendsToIt) {
  DoMessageHandling("first", 2);
  platform::AdvanceFixedTime(20 * 3600);  // the next day
  DoMessageHandling("second", 2);
  EXPECT_EQ(Entries(), (Lines{"-first", "-second"}));
  EXPECT_FALSE(std::filesystem::exists(machine_.root() / "c/Minutrix/MinutrixOutput07122026.txt"));

  platform::AdvanceFixedTime(-20 * 3600);
  ResetLogForTests();  // as the next load of the library on the same day (a restarted helper)
  DoMessageHandling("third", 2);
  // The lines before the restart stay: they tell why it happened. A new head marks the start.
  EXPECT_EQ(LogLines(), (Lines{"[INIT]", "06-12-2026; 08:05", "-first", "-second", "[INIT]",
                               "06-12-2026; 08:05", "-third"}));

  platform::AdvanceFixedTime(24 * 3600);
  ResetLogForTests();  // a load on the next day begins that day's file
  DoMessageHandling("fourth", 2);
  EXPECT_EQ(test_support::CrLfLines(
                test_support::ReadFile(machine_.root() / "c/Minutrix/MinutrixOutput07122026.txt")),
            (Lines{"[INIT]", "07-12-2026; 08:05", "-fourth"}));
}

struct DebugValue {
  const char* name;
  std::string type;
  std::string value;
};

class DebugSwitch : public FilterTest, public ::testing::WithParamInterface<DebugValue> {};

TEST_P(DebugSwitch, OnlyTheTextOneTurnsDetailOn) {
  const auto& [name, type, value] = GetParam();
  SetDebug(value, type);
  DoMessageHandling("detail", 0);
  const bool on = type == "REG_SZ" && value == "1";
  EXPECT_EQ(IsDebugOn(), on);
  EXPECT_EQ(Entries(), on ? Lines{">detail"} : Lines{});
}

INSTANTIATE_TEST_SUITE_P(Values, DebugSwitch,
                         ::testing::Values(DebugValue{"TextOne", "REG_SZ", "1"},
                                           DebugValue{"TextZero", "REG_SZ", "0"},
                                           DebugValue{"TextOneAfterABlank", "REG_SZ", " 1"},
                                           DebugValue{"TextZeroOne", "REG_SZ", "01"},
                                           DebugValue{"TextYes", "REG_SZ", "yes"},
                                           DebugValue{"EmptyText", "REG_SZ", ""},
                                           DebugValue{"NumberOne", "REG_DWORD", "1"}),
                         test_support::ByName());

TEST_F(FilterTest, DebugSwitchTakesEffectAtTheNextEntry) {
  DoMessageHandling("a", 0);
  SetDebug("1");
  DoMessageHandling("b", 0);
  SetDebug("0");
  DoMessageHandling("c", 0);
  EXPECT_EQ(Entries(), (Lines{">b"}));
}

// The clock is read only at some of the checks: a switch by another program must still show at
// the very next entry, wherever the count of checks stands.
class DebugSwitchAfterDroppedLines : public FilterTest,
                                     public ::testing::WithParamInterface<int> {};

TEST_P(DebugSwitchAfterDroppedLines, TakesEffectAtTheNextEntry) {
  for (int i = 0; i < GetParam(); ++i) DoMessageHandling("[LookUpSiteInSet] dropped %s", "x", 0);
  SetDebug("1");
  DoMessageHandling("kept", 0);
  for (int i = 0; i < GetParam(); ++i) DoMessageHandling("on", 0);
  SetDebug("0");
  DoMessageHandling("dropped", 0);
  Lines expected{">kept"};
  expected.insert(expected.end(), GetParam(), ">on");
  EXPECT_EQ(Entries(), expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, DebugSwitchAfterDroppedLines,
                         ::testing::Values(0, 1, 62, 63, 64, 65, 127, 1000),
                         [](const testing::TestParamInfo<int>& info) {
                           return "After" + std::to_string(info.param);
                         });

// A hand edit of registry.txt bumps no change counter; it shows all the same (within about a
// second: how soon is for bench/, not for a test).
TEST_F(FilterTest, HandEditOfTheSwitchShows) {
  DoMessageHandling("before", 0);
  const auto registry = machine_.root() / "registry.txt";
  std::string text = test_support::ReadFile(registry);
  const std::string off = "\"MinutrixDebug\"=sz:\"0\"";
  const size_t at = text.find(off);
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, off.size(), "\"MinutrixDebug\"=sz:\"1\"");
  test_support::WriteFile(registry, text);
  EXPECT_TRUE(test_support::WaitUntil([] {
    DoMessageHandling("waiting", 0);
    return IsDebugOn();
  }));
}

class InstallDirectory : public FilterTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(InstallDirectory, TrailingBackslashOrNotGivesTheSameFile) {
  machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", GetParam(), "/f"});
  EXPECT_EQ(GetLoggingFilePath("Minutrix.sts"), "c:\\Minutrix\\Minutrix.sts");
  DoMessageHandling("here", 2);
  EXPECT_EQ(Entries(), (Lines{"-here"}));
}

INSTANTIATE_TEST_SUITE_P(Paths, InstallDirectory,
                         ::testing::Values("c:\\Minutrix", "c:\\Minutrix\\"), [](const auto& info) {
                           return std::string(info.param.ends_with('\\')
                                                  ? "WithTrailingBackslash"
                                                  : "WithoutTrailingBackslash");
                         });

TEST_F(FilterTest, WithoutRegistryDirectoryTheModuleDirectoryIsUsed) {
  for (const char* value : std::initializer_list<const char*>{"", nullptr}) {
    if (value == nullptr) {
      machine_.Reg({"delete", "HKLM\\software\\Minutrix", "/f"});
    } else {
      machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", value, "/f"});
    }
    // No library named Minutrix.dll is loaded here: the host program's folder is the module's.
    const std::string exe_dir =
        platform::WindowsPath(std::filesystem::read_symlink("/proc/self/exe").parent_path());
    EXPECT_EQ(GetLoggingFilePath("Minutrix.sts"), exe_dir + "\\Minutrix.sts");
    EXPECT_EQ(GetMinutrixPath(), "");
    EXPECT_FALSE(IsDebugOn());
  }
}

TEST_F(FilterTest, UnwritableLogLeavesTheFallbackRecord) {
  machine_.Reg(
      {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\NoSuchFolder", "/f"});
  DoMessageHandling("lost", 2);
  EXPECT_EQ(test_support::ReadFile(machine_.root() / "c/error.txt"),
            "[[DoMessageHandling normal]] Error:3");
  SetLastError(2);
  WriteFallbackRecord("[GetLoggingFilePath]");
  EXPECT_EQ(test_support::ReadFile(machine_.root() / "c/error.txt"),
            "[[GetLoggingFilePath]] Error:2");
}

}  // namespace
