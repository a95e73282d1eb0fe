// The program group with its shortcuts and the uninstall entry, from the settings file; and the
// invariant that empty names never touch the Uninstall key or the Programs folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "installer/functions.h"
#include "installer/registry_functions.h"
#include "installer/settings.h"
#include "tests/installer/step_fixture.h"

namespace {

using namespace installer;
using installer_test::KeyExists;
using installer_test::ReadValue;
using installer_test::Snapshot;
using installer_test::StepTest;
namespace fs = std::filesystem;
using installer_test::kAllPrograms;
using installer_test::kEntryKey;

const std::string kUserPrograms = "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs";

class GroupTest : public StepTest {
 protected:
  GroupTest() { Put("C:\\dist\\MinutrixRegSettings.ini", SettingsFileText()); }
  // The driver copies the shortcut library into the system folder and registers it.
  void InstallStkit() {
    Put("C:\\WINNT\\system32\\stkit432.dll", "FileVersion=6.0.81.69\r\n");
    ASSERT_TRUE(RegisterFile("C:\\WINNT\\system32\\stkit432.dll"));
  }
};

TEST_F(GroupTest, SettingsFileGivesTheSixteenStrings) {
  ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
  EXPECT_EQ(strProgramGroupName, "\\Minutrix");
  EXPECT_EQ(strLookUpProgramRegistryName, "Programs");
  EXPECT_EQ(strUninstallKeyName, "Minutrix");
  EXPECT_EQ(strDisplayNameValue, "Korvane Minutrix");
  EXPECT_EQ(strDisplayVersionValue, "1.0");
  EXPECT_EQ(strPublisherValue, "Korvane");
  EXPECT_EQ(strURLInfoAboutValue, "http://www.korvane.nl/");
  EXPECT_EQ(strURLUpdateInfoValue, "http://www.korvane.nl/minutrix/");
  EXPECT_EQ(strHelpLinkValue, "mailto:support@korvane.nl");
  EXPECT_EQ(strDisplayNameEntry, "DisplayName");
  EXPECT_EQ(strUninstallStringEntry, "UninstallString");
  EXPECT_EQ(strDisplayVersionEntry, "DisplayVersion");
  EXPECT_EQ(strPublisherEntry, "Publisher");
  EXPECT_EQ(strURLInfoAboutEntry, "URLInfoAbout");
  EXPECT_EQ(strURLUpdateInfoEntry, "URLUpdateInfo");
  EXPECT_EQ(strHelpLinkEntry, "HelpLink");
}

struct SettingLength {
  const char* name;
  size_t length;
  size_t read;
};

// Cases are shown by their names.
void PrintTo(const SettingLength& c, std::ostream* os) { *os << c.name; }

class SettingLengthTest : public GroupTest, public ::testing::WithParamInterface<SettingLength> {};

TEST_P(SettingLengthTest, ValuesUpTo63CharactersAreReadWhole) {
  const std::string value(GetParam().length, 'p');
  Put("C:\\dist\\MinutrixRegSettings.ini",
      "[UnInstallFolderGroupValues]\r\nPublisherValue=" + value + "\r\n");
  EXPECT_EQ(ReadSettingsString(strAppPath, "UnInstallFolderGroupValues", "PublisherValue"),
            value.substr(0, GetParam().read));
}

INSTANTIATE_TEST_SUITE_P(Lengths, SettingLengthTest,
                         ::testing::Values(SettingLength{"Chars63", 63, 63},
                                           SettingLength{"Chars64Cut", 64, 63},
                                           SettingLength{"Chars200Cut", 200, 63}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GroupTest, MissingSettingsFileGivesEmptyStrings) {
  fs::remove(Host("C:\\dist\\MinutrixRegSettings.ini"));
  EXPECT_TRUE(LoadProgramGroupStrings(strAppPath));
  EXPECT_EQ(strProgramGroupName, "");
  EXPECT_EQ(strUninstallKeyName, "");
  EXPECT_EQ(strHelpLinkEntry, "");
}

TEST_F(GroupTest, UninstallEntryHasItsSevenValues) {
  ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
  EXPECT_TRUE(AddRegistryItem());
  const std::pair<const char*, const char*> expected[] = {
      {"DisplayName", "Korvane Minutrix"},
      {"UninstallString", "c:\\Minutrix\\Setup.exe"},
      {"DisplayVersion", "1.0"},
      {"Publisher", "Korvane"},
      {"URLInfoAbout", "http://www.korvane.nl/"},
      {"URLUpdateInfo", "http://www.korvane.nl/minutrix/"},
      {"HelpLink", "mailto:support@korvane.nl"}};
  for (const auto& [name, data] : expected) {
    const auto value = ReadValue(HKEY_LOCAL_MACHINE, kEntryKey, name);
    ASSERT_TRUE(value) << name;
    EXPECT_EQ(value->type, REG_SZ) << name;
    EXPECT_EQ(value->bytes, data) << name;
  }
  RemoveUninstallEntry();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, RegistryFunctions::kUninstallKey));
}

// A value of the entry that is not written fails the step (the driver notes it), with the
// registry's error and the value named.
TEST_F(GroupTest, UninstallEntryValueNotWrittenFailsTheStep) {
  ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
  InjectFaults("RegSetValue=3,112");
  strError.clear();
  EXPECT_FALSE(AddRegistryItem());
  EXPECT_EQ(strError.rfind("Error : 112 ", 0), 0u) << strError;
  EXPECT_NE(strError.find("Source : HKEY_LOCAL_MACHINE\\" + RegistryFunctions::kUninstallKey +
                          "Minutrix\\DisplayVersion"),
            std::string::npos)
      << strError;
}

struct EmptyName {
  const char* name;
  const char* settings;
};

// Cases are shown by their names.
void PrintTo(const EmptyName& c, std::ostream* os) { *os << c.name; }

class EmptyNameTest : public GroupTest, public ::testing::WithParamInterface<EmptyName> {};

// An empty or unusable name never writes into or deletes the Uninstall key or a Programs folder.
TEST_P(EmptyNameTest, UninstallKeyAndProgramsFoldersStayAsTheyAre) {
  InstallStkit();
  Put(kUserPrograms + "\\Other\\x.lnk", "x");
  Put(kAllPrograms + "\\Accessories\\y.lnk", "y");
  machine_.Reg({"add", "HKLM\\" + RegistryFunctions::kUninstallKey + "Other", "/v", "DisplayName",
                "/d", "Other", "/f"});
  Put("C:\\dist\\MinutrixRegSettings.ini", GetParam().settings);
  const auto before = Snapshot(machine_.root());
  ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
  EXPECT_FALSE(AddRegistryItem());
  EXPECT_EQ(strError, MsgProgramGroupError);
  EXPECT_FALSE(CreateProgramGroup(2));
  RemoveProgramGroup(2);
  RemoveUninstallEntry();
  EXPECT_EQ(Snapshot(machine_.root()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, EmptyNameTest,
    ::testing::Values(
        EmptyName{"NoSettingsFile", ""},
        EmptyName{"EmptyNames",
                  "[ProgramGroup]\r\nGroupName=\r\nLookUpProgramRegistryName=Programs\r\n"
                  "[UnInstallFolderGroupValues]\r\nGroupName=\r\nDisplayNameValue=M\r\n"
                  "[UnInstallFolderGroupStringEntries]\r\nDisplayName=DisplayName\r\n"},
        EmptyName{"SeparatorOnly",
                  "[ProgramGroup]\r\nGroupName=\\\r\nLookUpProgramRegistryName=Programs\r\n"
                  "[UnInstallFolderGroupValues]\r\nGroupName=\\\r\n"},
        EmptyName{"ParentFolder",
                  "[ProgramGroup]\r\nGroupName=\\..\r\nLookUpProgramRegistryName=Programs\r\n"
                  "[UnInstallFolderGroupValues]\r\nGroupName=..\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GroupTest, GroupWithThreeShortcutsEndsInTheAllUsersStartMenu) {
  InstallStkit();
  ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
  ASSERT_TRUE(CreateProgramGroup(2)) << strError;
  EXPECT_FALSE(fs::exists(Host(kUserPrograms + "\\Minutrix")));
  const std::string group = kAllPrograms + "\\Minutrix\\";
  EXPECT_NE(test_support::ReadFile(Host(group + "Minutrix Online.lnk"))
                .find("X-Windows-Target=C:\\\\Program Files\\\\Internet Explorer\\\\iexplore.exe\n"
                      "X-Windows-Arguments=" +
                      RegistryFunctions::kProductWebSite + "\n"),
            std::string::npos);
  EXPECT_NE(test_support::ReadFile(Host(group + "UserTimes Database.lnk"))
                .find("X-Windows-Target=c:\\\\Minutrix\\\\UserTimesDB\\\\UserTimesDB.mdb\n"),
            std::string::npos);
  EXPECT_NE(
      test_support::ReadFile(Host(group + "UnInstall Minutrix.lnk")).find("Type=Application\n"),
      std::string::npos);
  // A second install finds the group and leaves it as it is.
  Put(group + "UnInstall Minutrix.lnk", "changed by hand");
  EXPECT_TRUE(CreateProgramGroup(2));
  EXPECT_EQ(test_support::ReadFile(Host(group + "UnInstall Minutrix.lnk")), "changed by hand");
  RemoveProgramGroup(2);
  EXPECT_FALSE(fs::exists(Host(group)));
  EXPECT_TRUE(fs::is_directory(Host(kAllPrograms)));
}

struct LibraryCase {
  const char* name;
  bool present;
  const char* error;
};

// Cases are shown by their names.
void PrintTo(const LibraryCase& c, std::ostream* os) { *os << c.name; }

class ShortcutLibraryTest : public GroupTest, public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(ShortcutLibraryTest, LibraryThatDoesNotLoadFailsTheGroup) {
  if (GetParam().present) Put("C:\\WINNT\\system32\\stkit432.dll", "FileVersion=6.0.81.69\r\n");
  ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
  EXPECT_FALSE(CreateProgramGroup(2));
  EXPECT_EQ(strError, GetParam().error);
  EXPECT_FALSE(fs::exists(Host(kAllPrograms + "\\Minutrix")));
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, ShortcutLibraryTest,
    ::testing::Values(
        LibraryCase{"Missing", false, "Error : 53 File not found: STKIT432.DLL\r\nSource : Setup"},
        LibraryCase{"NotRegistered", true, "Error : 48 Error in loading DLL\r\nSource : Setup"}),
    [](const auto& info) { return std::string(info.param.name); });

struct AllUsersCase {
  const char* name;
  const char* programs;
  int version_class;
  const char* all_users;
};

// Cases are shown by their names.
void PrintTo(const AllUsersCase& c, std::ostream* os) { *os << c.name; }

class AllUsersTest : public GroupTest, public ::testing::WithParamInterface<AllUsersCase> {};

TEST_P(AllUsersTest, GroupGoesToTheAllUsersProgramsOfTheVersion) {
  EXPECT_EQ(AllUsersProgramsPath(GetParam().programs, GetParam().version_class),
            GetParam().all_users);
  // The whole step on a machine whose current user has that Programs folder.
  InstallStkit();
  machine_.Reg({"add", "HKCU\\" + RegistryFunctions::kShellFoldersKey, "/v", "Programs", "/d",
                GetParam().programs, "/f"});
  fs::create_directories(Host(GetParam().programs));
  fs::create_directories(Host(GetParam().all_users));
  ASSERT_TRUE(LoadProgramGroupStrings(strAppPath));
  ASSERT_TRUE(CreateProgramGroup(GetParam().version_class)) << strError;
  EXPECT_TRUE(fs::exists(
      Host(std::string(GetParam().all_users) + "\\Minutrix\\" + "UnInstall Minutrix.lnk")));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, AllUsersTest,
    ::testing::Values(AllUsersCase{"Windows2000",
                                   "C:\\Documents and Settings\\Admin\\Start Menu\\Programs", 2,
                                   "C:\\Documents and Settings\\All Users\\Start Menu\\Programs"},
                      AllUsersCase{"WindowsNT4", "C:\\WINNT\\Profiles\\Admin\\Start Menu\\Programs",
                                   1, "C:\\WINNT\\Profiles\\All Users\\Start Menu\\Programs"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StripEnclosingCharactersTest, DropsFirstAndLast) {
  EXPECT_EQ(StripEnclosingCharacters("\"C:\\x.exe\""), "C:\\x.exe");
  EXPECT_EQ(StripEnclosingCharacters("x"), "");
  EXPECT_EQ(StripEnclosingCharacters(""), "");
}

}  // namespace
