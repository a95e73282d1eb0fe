// The shortcut library stand-in: it answers only once it is in the system folder and registered,
// and its shortcuts are Desktop Entries naming Windows paths.
#include "platform/shell_link.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;

class ShellLinkTest : public ::testing::Test {
 protected:
  void Install(bool registered) {
    test_support::WriteFile(machine_.Host("C:\\WINNT\\system32\\stkit432.dll"),
                            "FileVersion=6.0.81.69\r\n");
    if (registered) {
      machine_.Reg({"add", "HKLM\\SOFTWARE\\Minutrix Machine\\Registered Servers", "/v",
                    "C:\\WINNT\\system32\\stkit432.dll", "/d", "registered", "/f"});
    }
  }
  fs::path Programs(const std::string& rest) const {
    return machine_.Host("C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\" +
                         rest);
  }
  test_support::ScratchMachine machine_;
};

TEST_F(ShellLinkTest, LibraryMustBePresentAndRegistered) {
  auto error = platform::ShellLinkLibraryError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->number, 53);
  EXPECT_EQ(fCreateShellLink("\\G", "N", "C:\\x.exe", ""), 0);
  Install(false);
  error = platform::ShellLinkLibraryError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->number, 48);
  Install(true);
  EXPECT_FALSE(platform::ShellLinkLibraryError());
  EXPECT_EQ(platform::ShellLinkLibraryPath(), "C:\\WINNT\\system32\\stkit432.dll");
}

struct LinkCase {
  const char* name;
  const char* target;
  const char* arguments;
  const char* expected;  // the entry after its first line
};

// Cases are shown by their names.
void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class ShellLinkEntryTest : public ShellLinkTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(ShellLinkEntryTest, EntryNamesTargetAndArguments) {
  Install(true);
  EXPECT_EQ(fCreateShellLink("\\Group", "Short", GetParam().target, GetParam().arguments), 1);
  EXPECT_EQ(ReadFile(Programs("Group\\Short.lnk")),
            std::string("[Desktop Entry]\n") + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ShellLinkEntryTest,
    ::testing::Values(
        LinkCase{"ProgramWithArguments", "C:\\Program Files\\Internet Explorer\\iexplore.exe",
                 "http://www.korvane.nl/minutrix/",
                 "Type=Application\nName=Short\n"
                 "Exec=\"C:\\\\\\\\Program Files\\\\\\\\Internet Explorer\\\\\\\\iexplore.exe\" "
                 "http://www.korvane.nl/minutrix/\n"
                 "X-Windows-Target=C:\\\\Program Files\\\\Internet Explorer\\\\iexplore.exe\n"
                 "X-Windows-Arguments=http://www.korvane.nl/minutrix/\n"},
        LinkCase{"Document", "c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb", "",
                 "Type=Link\nName=Short\nURL=c:\\\\Minutrix\\\\UserTimesDB\\\\UserTimesDB.mdb\n"
                 "X-Windows-Target=c:\\\\Minutrix\\\\UserTimesDB\\\\UserTimesDB.mdb\n"
                 "X-Windows-Arguments=\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellLinkTest, NamesThatLeaveTheProgramsFolderAreRefused) {
  Install(true);
  EXPECT_EQ(fCreateShellLink("\\..\\..", "N", "C:\\x.exe", ""), 0);
  EXPECT_EQ(fCreateShellLink("C:\\WINNT", "N", "C:\\x.exe", ""), 0);
  EXPECT_EQ(fCreateShellLink("\\G", "..\\N", "C:\\x.exe", ""), 0);
  EXPECT_EQ(fCreateShellLink("\\G", "", "C:\\x.exe", ""), 0);
  EXPECT_FALSE(fs::exists(machine_.Host("C:\\Documents and Settings\\N.lnk")));
}

}  // namespace
