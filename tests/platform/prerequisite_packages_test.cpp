// The data components of a new machine, its MSIExec.exe, the stand-in prerequisite packages of
// dist/ and the Access stand-in they install, the pinned free space of a drive, and the number
// settings of the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

#include "platform/fso.h"
#include "platform/last_error.h"
#include "platform/locale_info.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::ScratchMachine;

bool IsExecutable(const fs::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

// A machine made by init, with the build's distribution folder as drive D:.
class PackageTest : public ::testing::Test {
 protected:
  PackageTest() {
    fs::copy(test_support::kBuildDir / "dist", machine_.root() / "d", fs::copy_options::recursive);
  }
  std::string Version(const std::string& windows_path) const {
    return platform::FileSystemObject().GetFileVersion(windows_path);
  }
  test_support::CommandResult RunPackage(const std::string& windows_path,
                                         const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {machine_.Host(windows_path).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return test_support::Run(argv);
  }
  ScratchMachine machine_;
};

TEST_F(PackageTest, NewMachineHasOldMdacJetSp3AndNoAccess) {
  EXPECT_EQ(Version("C:\\Program Files\\Common Files\\System\\ado\\MsAdo15.dll"), "2.53.6200.0");
  EXPECT_EQ(Version("C:\\WINNT\\system32\\msJET40.dll"), "4.0.2927.4");
  EXPECT_TRUE(IsExecutable(machine_.Host("C:\\WINNT\\system32\\MSIExec.exe")));
  char found[MAX_PATH + 1] = {};
  EXPECT_FALSE(SearchTreeForFile("C:\\", "msaccess.exe", found));
}

TEST_F(PackageTest, PackagesOfTheBuildAreExecutable) {
  for (const char* package :
       {"D:\\MDAC\\MDAC_Typ.exe", "D:\\JET\\JET40sp3_comp.exe", "D:\\Runtime\\AccessRT.msi"}) {
    EXPECT_TRUE(IsExecutable(machine_.Host(package))) << package;
  }
}

TEST_F(PackageTest, MdacInstallsAdo280) {
  const auto result = RunPackage("D:\\MDAC\\MDAC_Typ.exe", {"/q:a", "/c:setup.exe /qt"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(Version("C:\\Program Files\\Common Files\\System\\ado\\MsAdo15.dll"), "2.80.1022.0");
  EXPECT_EQ(fs::directory_iterator(machine_.Host("C:\\Program Files\\Common Files\\System\\ado"))
                ->path()
                .filename(),
            "MsAdo15.dll")
      << "the file is replaced, not doubled";
}

TEST_F(PackageTest, JetInstallsSp8IntoTheWindowsFolderOfTheProfile) {
  // An XP machine keeps Windows in C:\WINDOWS.
  fs::rename(machine_.root() / "c" / "WINNT", machine_.root() / "c" / "WINDOWS");
  ASSERT_TRUE(WritePrivateProfileStringA("Windows", "WindowsDirectory", "C:\\WINDOWS",
                                         platform::MachineProfilePath().c_str()));
  const auto result = RunPackage("D:\\JET\\JET40sp3_comp.exe", {"/Q:a"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(Version("C:\\WINDOWS\\system32\\msjet40.dll"), "4.0.8618.0");
}

TEST_F(PackageTest, MsiExecOfTheMachineInstallsTheAccessRuntime) {
  const auto result = RunPackage("C:\\WINNT\\system32\\MSIExec.exe",
                                 {"/i", "D:\\Runtime\\AccessRT.msi", "/qb", "AllUsers=1"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  const std::string access = "C:\\Program Files\\Microsoft Office\\Office\\msaccess.exe";
  EXPECT_EQ(Version(access), "9.0.0.2719");
  EXPECT_TRUE(IsExecutable(machine_.Host(access)));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Minutrix Machine\\Installed Packages", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  char recorded[64] = {};
  DWORD size = sizeof recorded;
  EXPECT_EQ(RegQueryValueExA(key, "D:\\Runtime\\AccessRT.msi", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(recorded), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_STREQ(recorded, "installed");
}

TEST_F(PackageTest, MsiExecAnswersHelp) {
  const auto result = RunPackage("C:\\WINNT\\system32\\MSIExec.exe", {"/?"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.output.find("msiexec /Option"), std::string::npos) << result.output;
}

struct Refusal {
  const char* name;
  const char* package;
  std::vector<std::string> args;
  const char* installs;  // the file that must not appear or change
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public PackageTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, OtherSwitchesAreRefusedAndInstallNothing) {
  const Refusal& c = GetParam();
  const std::string before = Version(c.installs);
  const auto result = RunPackage(c.package, c.args);
  EXPECT_NE(result.exit_code, 0) << result.output;
  // Each names the command line it takes.
  EXPECT_TRUE(result.output.find("Usage: ") != std::string::npos ||
              result.output.find("msiexec /Option") != std::string::npos)
      << result.output;
  EXPECT_EQ(Version(c.installs), before);
}

constexpr const char* kAdo = "C:\\Program Files\\Common Files\\System\\ado\\MsAdo15.dll";
constexpr const char* kJet = "C:\\WINNT\\system32\\msjet40.dll";
constexpr const char* kAccess = "C:\\Program Files\\Microsoft Office\\Office\\msaccess.exe";
constexpr const char* kMsi = "C:\\WINNT\\system32\\MSIExec.exe";

INSTANTIATE_TEST_SUITE_P(
    Packages, RefusalTest,
    ::testing::Values(
        Refusal{"MdacWithoutSwitches", "D:\\MDAC\\MDAC_Typ.exe", {}, kAdo},
        Refusal{"MdacNotQuiet", "D:\\MDAC\\MDAC_Typ.exe", {"/c:setup.exe /qt"}, kAdo},
        Refusal{"MdacOtherSetup", "D:\\MDAC\\MDAC_Typ.exe", {"/q:a", "/c:setup.exe"}, kAdo},
        Refusal{"MdacExtra", "D:\\MDAC\\MDAC_Typ.exe", {"/q:a", "/c:setup.exe /qt", "/r"}, kAdo},
        Refusal{"JetWithoutSwitch", "D:\\JET\\JET40sp3_comp.exe", {}, kJet},
        Refusal{"JetOtherSwitch", "D:\\JET\\JET40sp3_comp.exe", {"/Q"}, kJet},
        Refusal{"JetExtra", "D:\\JET\\JET40sp3_comp.exe", {"/Q:a", "/T:C:\\x"}, kJet},
        Refusal{"RuntimeQuiet",
                kMsi,
                {"/i", "D:\\Runtime\\AccessRT.msi", "/qn", "AllUsers=1"},
                kAccess},
        Refusal{"RuntimeForOneUser", kMsi, {"/i", "D:\\Runtime\\AccessRT.msi", "/qb"}, kAccess},
        Refusal{"MsiExecWithoutPackage", kMsi, {"/qb"}, kAccess}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(PackageTest, AccessOpensTheDatabaseWithTheDatabaseTool) {
  const std::string tool = (test_support::kBuildDir / "minutrix-db").string();
  ASSERT_EQ(
      test_support::Run({tool, "create", "C:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb", "--sample"})
          .exit_code,
      0);
  ASSERT_EQ(RunPackage(kMsi, {"/i", "D:\\Runtime\\AccessRT.msi", "/qb", "AllUsers=1"}).exit_code,
            0);
  const std::string access = machine_.Host(kAccess).string();
  const std::string db = "C:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb";
  const auto shown = test_support::Run({access, "/runtime", db}, {{"MINUTRIX_DB", tool}});
  EXPECT_EQ(shown.exit_code, 0) << shown.output;
  EXPECT_NE(shown.output.find("JSMITH"), std::string::npos) << shown.output;
  EXPECT_NE(shown.output.find("IdleGapMinutes"), std::string::npos) << shown.output;

  const auto added =
      test_support::Run({access, db, "add-user", "KLAAS", "30"}, {{"MINUTRIX_DB", tool}});
  EXPECT_EQ(added.exit_code, 0) << added.output;
  EXPECT_NE(test_support::Run({tool, "users", db}).output.find("KLAAS"), std::string::npos);

  const auto no_tool =
      test_support::Run({access, db}, {{"MINUTRIX_DB", "/nonexistent/minutrix-db"}});
  EXPECT_EQ(no_tool.exit_code, 1);
  EXPECT_NE(no_tool.output.find("MINUTRIX_DB"), std::string::npos) << no_tool.output;
  EXPECT_EQ(test_support::Run({access}).exit_code, 2);
}

struct FreeSpaceCase {
  const char* name;
  const char* pinned;
  std::optional<double> bytes;  // nullopt: the pin is not understood, the host's space counts
};

void PrintTo(const FreeSpaceCase& c, std::ostream* os) { *os << c.name; }

class PinnedFreeSpaceTest : public ::testing::TestWithParam<FreeSpaceCase> {};

TEST_P(PinnedFreeSpaceTest, ProfileValueWithItsUnit) {
  ScratchMachine machine;
  const FreeSpaceCase& c = GetParam();
  ASSERT_TRUE(WritePrivateProfileStringA("DriveFreeSpace", "C", c.pinned,
                                         platform::MachineProfilePath().c_str()));
  platform::AutomationError error;
  const auto drive = platform::FileSystemObject().GetDrive("c:", &error);
  ASSERT_TRUE(drive.has_value());
  if (c.bytes) {
    EXPECT_EQ(drive->free_space, *c.bytes);
    EXPECT_EQ(drive->available_space, *c.bytes);
  } else {
    EXPECT_GT(drive->free_space, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Units, PinnedFreeSpaceTest,
                         ::testing::Values(FreeSpaceCase{"Bytes", "22651904", 22651904.0},
                                           FreeSpaceCase{"BytesWithUnit", "512 B", 512.0},
                                           FreeSpaceCase{"Kilobytes", "22120 KB", 22120.0 * 1024},
                                           FreeSpaceCase{"HalfKilobyte", "22120.5KB", 22651392.0},
                                           FreeSpaceCase{"LowerCaseUnit", "22120.6 kb",
                                                         22120.6 * 1024},
                                           FreeSpaceCase{"Megabytes", "2 MB", 2.0 * 1024 * 1024},
                                           FreeSpaceCase{"Gigabytes", "1GB", 1024.0 * 1024 * 1024},
                                           FreeSpaceCase{"UnknownUnit", "5 TB", std::nullopt},
                                           FreeSpaceCase{"Negative", "-1", std::nullopt},
                                           FreeSpaceCase{"NoNumber", "full", std::nullopt}),
                         [](const ::testing::TestParamInfo<FreeSpaceCase>& info) {
                           return std::string(info.param.name);
                         });

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

std::string LocaleText(LCTYPE type) {
  char buffer[16] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer) == 0) return "<failed>";
  return buffer;
}

class NumberSettingsTest : public ::testing::TestWithParam<const char*> {};

TEST_P(NumberSettingsTest, PlainLocalesAnswerEnglishSettings) {
  LocaleEnvironment locale(GetParam());
  EXPECT_EQ(LocaleText(LOCALE_SDECIMAL), ".");
  EXPECT_EQ(LocaleText(LOCALE_STHOUSAND), ",");
  EXPECT_EQ(LocaleText(LOCALE_SGROUPING), "3;0");
}

INSTANTIATE_TEST_SUITE_P(Locales, NumberSettingsTest,
                         ::testing::Values("C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(GetLocaleInfo, BufferSizeAndUnknownTypes) {
  LocaleEnvironment locale("C");
  EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, nullptr, 0), 4);
  char small[2] = {'x', 'x'};
  EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SGROUPING, small, sizeof small), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  char buffer[8] = {};
  EXPECT_EQ(GetLocaleInfoA(LOCALE_USER_DEFAULT, 0x7777, buffer, sizeof buffer), 0);
  EXPECT_EQ(GetLocaleInfoA(0x0413, LOCALE_SDECIMAL, buffer, sizeof buffer), 0);
}

}  // namespace
