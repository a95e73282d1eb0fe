// The MDAC, Jet and Access checks and installs, against machines made by minutrix-machine init
// (changed only through files and the profile) with the build's distribution folder as drive D:.
// The installs run the real stand-in packages through the machine's cmd.exe.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>

#include "installer/functions.h"
#include "installer/install_functions_checks.h"
#include "installer/settings.h"
#include "platform/fso.h"
#include "platform/profile.h"
#include "platform/services.h"
#include "tests/installer/scripted_ui.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace installer;
using installer_test::ScriptedUi;

constexpr const char* kAdo = "C:\\Program Files\\Common Files\\System\\ado\\MsAdo15.dll";
constexpr const char* kJet = "C:\\WINNT\\system32\\msJET40.dll";
constexpr const char* kOfficeAccess = "C:\\Program Files\\Microsoft Office\\Office\\msaccess.exe";

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

class PrerequisiteTest : public ::testing::Test {
 protected:
  explicit PrerequisiteTest(const std::string& script = "") : ui_(script) {
    fs::copy(test_support::kBuildDir / "dist", machine_.root() / "d", fs::copy_options::recursive);
    LoadMessages("ENG");
    strWindowsDir = "C:\\WINNT\\";
    strSystemPath = strWindowsDir + kSystemFolder;
    strAppPath = "D:\\";
    strComputerName = platform::MachineSetting("Windows", "ComputerName").value_or("");
  }
  // A stand-in component: a file that carries its version as text (empty: no version).
  void Component(const std::string& windows_path, const std::string& version) {
    test_support::WriteFile(machine_.Host(windows_path),
                            version.empty() ? "no version here" : "FileVersion=" + version);
  }
  std::string Version(const std::string& windows_path) {
    return platform::FileSystemObject().GetFileVersion(windows_path);
  }
  test_support::ScratchMachine machine_;
  ScriptedUi ui_;
};

TEST_F(PrerequisiteTest, NewMachineNeedsMdacAndAccessButHasJet) {
  bDebug = kTrue;
  EXPECT_FALSE(IsMDACOK(strWindowsDir));
  EXPECT_EQ(bRestartNeeded, kTrue);
  EXPECT_EQ(bNoCommonFiles, kFalse);
  EXPECT_EQ(strError, "MDAC not yet installed, MDAC will be installed!0 : \r\nSource : ");
  const auto list = ui_.List();
  EXPECT_TRUE(Contains(list,
                       "[MDACOK] strMDACDllLoc C:\\Program Files\\Common "
                       "Files\\System\\ado\\MsAdo15.dll"));
  EXPECT_TRUE(Contains(list, "[MDACOK] MDAC version=2.53.6200.0"));
  EXPECT_TRUE(Contains(list, "[MDACOK]Version=2.7"));
  EXPECT_TRUE(Contains(list, "[MDACOK]2.53<2.70?"));
  EXPECT_EQ(list.end()[-2], "[MDACOK]MDAC not yet installed, MDAC will be installed!0 : ");

  EXPECT_TRUE(IsJETOK(strWindowsDir));
  EXPECT_EQ(bInstallJET, kFalse);
  EXPECT_TRUE(Contains(ui_.List(), "[JETOK]version=4.0.2927.4"));
  EXPECT_TRUE(Contains(ui_.List(), "[JETOK]version=4.0.2<4.0.2?"));

  strAccessPath = "stale";
  EXPECT_FALSE(isAccessOK(strAccessPath));
  EXPECT_EQ(strAccessPath, "");
  EXPECT_EQ(strError, MsgNoAccess + "\r\nError : 0 : \r\nSource : ");
  EXPECT_TRUE(Contains(ui_.List(), "[isAccessOK] Access was not found!"));
}

struct VersionCase {
  const char* name;
  const char* version;  // "" for a file without a version, null for no file
  bool ok;
  Flag install_flag;  // bRestartNeeded or bInstallJET afterwards
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

std::string CaseName(const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; }

class MdacVersionTest : public PrerequisiteTest,
                        public ::testing::WithParamInterface<VersionCase> {};

TEST_P(MdacVersionTest, AtLeast27Passes) {
  const VersionCase& c = GetParam();
  if (c.version) {
    Component(kAdo, c.version);
  } else {
    fs::remove(machine_.Host(kAdo));
  }
  bRestartNeeded = kTrue;
  EXPECT_EQ(IsMDACOK(strWindowsDir), c.ok);
  EXPECT_EQ(bRestartNeeded, c.install_flag);
  EXPECT_EQ(bNoCommonFiles, kFalse);
  if (!c.ok) {
    EXPECT_EQ(strError.rfind(MsgMdacWillInstall + "0 : ", 0), 0u) << strError;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, MdacVersionTest,
    ::testing::Values(VersionCase{"Mdac253NeedsMdac", "2.53.6200.0", false, kTrue},
                      VersionCase{"Exactly27Passes", "2.7", true, kFalse},
                      VersionCase{"Mdac271Passes", "2.71.9030.0", true, kFalse},
                      VersionCase{"Mdac280Passes", "2.80.1022.0", true, kFalse},
                      VersionCase{"Mdac269NeedsMdac", "2.69.1.0", false, kTrue},
                      VersionCase{"Major10Passes", "10.0.1.0", true, kFalse},
                      VersionCase{"ExponentPasses", "9e99.1", true, kFalse},
                      // A version that cannot be read ends the check without an install.
                      VersionCase{"NoVersionFails", "", false, kFalse},
                      VersionCase{"MissingDllNeedsMdac", nullptr, false, kTrue}),
    CaseName);

TEST_F(PrerequisiteTest, MissingCommonFilesIsNoted) {
  fs::remove_all(machine_.Host("C:\\Program Files\\Common Files"));
  EXPECT_FALSE(IsMDACOK(strWindowsDir));
  EXPECT_EQ(bNoCommonFiles, kTrue);
  EXPECT_EQ(bRestartNeeded, kTrue);
}

class JetVersionTest : public PrerequisiteTest,
                       public ::testing::WithParamInterface<VersionCase> {};

TEST_P(JetVersionTest, TextNotBelow402Passes) {
  const VersionCase& c = GetParam();
  if (c.version) {
    Component(kJet, c.version);
  } else {
    fs::remove(machine_.Host(kJet));
  }
  bInstallJET = kTrue;
  EXPECT_EQ(IsJETOK(strWindowsDir), c.ok);
  EXPECT_EQ(bInstallJET, c.install_flag);
  if (!c.ok) {
    EXPECT_EQ(strError, MsgJetWillInstall + "0 : \r\nSource : ");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, JetVersionTest,
    ::testing::Values(VersionCase{"Sp8Passes", "4.0.8618.0", true, kFalse},
                      VersionCase{"Sp3Passes", "4.0.2927.4", true, kFalse},
                      VersionCase{"Jet40OldNeedsJet", "4.0.1914.0", false, kTrue},
                      VersionCase{"Jet35NeedsJet", "3.51.3328.0", false, kTrue},
                      VersionCase{"ShortVersion", "4.1", true, kFalse},
                      VersionCase{"NoVersionFails", "", false, kFalse},
                      VersionCase{"MissingNeedsJet", nullptr, false, kTrue}),
    CaseName);

TEST_F(PrerequisiteTest, OnlyJet40DllIsCheckedInstead) {
  fs::remove(machine_.Host(kJet));
  Component("C:\\WINNT\\system32\\JET40.dll", "4.0.8618.0");
  EXPECT_TRUE(IsJETOK(strWindowsDir));
  Component("C:\\WINNT\\system32\\JET40.dll", "3.51.3328.0");
  EXPECT_FALSE(IsJETOK(strWindowsDir));
  EXPECT_EQ(bInstallJET, kTrue);
}

TEST_F(PrerequisiteTest, MsJet40WinsOverJet40) {
  Component("C:\\WINNT\\system32\\JET40.dll", "3.51.3328.0");
  EXPECT_TRUE(IsJETOK(strWindowsDir));
}

class InstallMdacTest : public PrerequisiteTest {
 protected:
  InstallMdacTest() : PrerequisiteTest("box \"System Restart!\" Yes\n") {}
};

TEST_F(InstallMdacTest, YesRunsThePackageAndMdacThenPasses) {
  bDebug = kTrue;
  EXPECT_TRUE(InstallMDAC(strComputerName, strAppPath)) << strError;
  EXPECT_EQ(Version(kAdo), "2.80.1022.0");
  const auto list = ui_.List();
  EXPECT_TRUE(Contains(list, "[InstallMDAC]ComSpec = C:\\WINNT\\system32\\cmd.exe"));
  EXPECT_TRUE(Contains(list,
                       "[InstallMDAC]C:\\WINNT\\system32\\cmd.exe /c \"D:\\MDAC\\MDAC_Typ.exe "
                       "/q:a /c:\"setup.exe /qt\"\""));
  EXPECT_TRUE(Contains(list, "[InstallMDAC]CheckAppID"));
  const auto boxes = ui_.Lines("box ");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "box \"System Restart!\" icon none buttons Yes,No default Yes");
  EXPECT_TRUE(IsMDACOK(strWindowsDir));
  EXPECT_EQ(bRestartNeeded, kFalse);
}

TEST_F(InstallMdacTest, DistributionFolderWithoutBackslash) {
  EXPECT_TRUE(InstallMDAC(strComputerName, "D:"));
  EXPECT_EQ(Version(kAdo), "2.80.1022.0");
}

class InstallMdacRefusedTest : public PrerequisiteTest {
 protected:
  InstallMdacRefusedTest() : PrerequisiteTest("box \"System Restart!\" No\n") {}
};

TEST_F(InstallMdacRefusedTest, NoInstallsNothingAndFails) {
  EXPECT_FALSE(InstallMDAC(strComputerName, strAppPath));
  EXPECT_EQ(strError, "[InstallMDAC] Error!0 : Error installing MDAC, unable to install Minutrix!");
  EXPECT_EQ(Version(kAdo), "2.53.6200.0");
}

TEST_F(InstallMdacTest, WmiStoppedFailsTheWait) {
  ASSERT_TRUE(platform::RecordServiceState("winmgmt", false));
  EXPECT_FALSE(InstallMDAC(strComputerName, strAppPath));
  EXPECT_EQ(strError, "[InstallMDAC] Error!0 : ");
}

TEST_F(PrerequisiteTest, InstallJetRunsThePackageQuietly) {
  Component(kJet, "4.0.1914.0");
  ASSERT_FALSE(IsJETOK(strWindowsDir));
  EXPECT_TRUE(InstallJET(strComputerName, strAppPath)) << strError;
  EXPECT_EQ(Version(kJet), "4.0.8618.0");
  EXPECT_TRUE(IsJETOK(strWindowsDir));
  EXPECT_TRUE(ui_.Lines("box ").empty());
  EXPECT_TRUE(ui_.List().empty());
}

TEST_F(PrerequisiteTest, InstallJetLeavesTheWaitsError) {
  ASSERT_TRUE(platform::RecordServiceState("winmgmt", false));
  EXPECT_FALSE(InstallJET(strComputerName, strAppPath));
  EXPECT_EQ(strError.rfind(MsgWmiError + "  Error : ", 0), 0u) << strError;
}

struct AccessCase {
  const char* name;
  const char* first;   // version on C:, null for none
  const char* second;  // version on E:, null for none
  bool ok;
  const char* found;  // the path found
};

void PrintTo(const AccessCase& c, std::ostream* os) { *os << c.name; }

class AccessVersionTest : public PrerequisiteTest,
                          public ::testing::WithParamInterface<AccessCase> {};

TEST_P(AccessVersionTest, FirstCopyInDriveOrderDecides) {
  const AccessCase& c = GetParam();
  fs::create_directory(machine_.root() / "e");
  if (c.first) Component("C:\\Program Files\\Office\\MSACCESS.EXE", c.first);
  if (c.second) Component("E:\\Office10\\msaccess.exe", c.second);
  bDebug = kTrue;
  EXPECT_EQ(isAccessOK(strAccessPath), c.ok);
  EXPECT_EQ(strAccessPath, c.found);
  if (*c.found) {
    EXPECT_TRUE(Contains(ui_.List(), std::string("[isAccessOK] Access found : ") + c.found));
  }
  if (!c.ok) {
    EXPECT_EQ(strError.rfind(MsgNoAccess + "\r\nError : ", 0), 0u) << strError;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, AccessVersionTest,
    ::testing::Values(
        AccessCase{"Access2000Passes", "9.0.0.2719", nullptr, true,
                   "C:\\Program Files\\Office\\MSACCESS.EXE"},
        AccessCase{"AccessXpComparedAsInteger", "10.0.2627.1", nullptr, true,
                   "C:\\Program Files\\Office\\MSACCESS.EXE"},
        AccessCase{"Access97Fails", "8.0.0.3512", nullptr, false,
                   "C:\\Program Files\\Office\\MSACCESS.EXE"},
        AccessCase{"Access97OnFirstDriveHidesAccessXp", "8.0.0.3512", "10.0.2627.1", false,
                   "C:\\Program Files\\Office\\MSACCESS.EXE"},
        AccessCase{"AccessXpOnFirstDrive", "10.0.2627.1", "8.0.0.3512", true,
                   "C:\\Program Files\\Office\\MSACCESS.EXE"},
        AccessCase{"OnlyOnALaterDrive", nullptr, "9.0.0.2719", true, "E:\\Office10\\msaccess.exe"},
        AccessCase{"NoVersionFails", "", nullptr, false, "C:\\Program Files\\Office\\MSACCESS.EXE"},
        AccessCase{"MajorNotANumberFails", "x.1", nullptr, false,
                   "C:\\Program Files\\Office\\MSACCESS.EXE"}),
    [](const ::testing::TestParamInfo<AccessCase>& info) { return std::string(info.param.name); });

TEST_F(PrerequisiteTest, AccessRuntimeWithTheSystemsMsiExec) {
  bDebug = kTrue;
  EXPECT_TRUE(CanInstallAccessRuntime()) << strError;
  EXPECT_EQ(strAccessPath, kOfficeAccess);
  EXPECT_EQ(Version(kOfficeAccess), "9.0.0.2719");
  const auto list = ui_.List();
  EXPECT_TRUE(Contains(list, "[CanInstallAccessRuntime] Check for MSIExec"));
  EXPECT_TRUE(Contains(list,
                       "[CanInstallAccessRuntime] installLine:C:\\WINNT\\system32\\MSIExec.exe /i "
                       "\"D:\\Runtime\\AccessRT.msi\" /qb AllUsers=1"));
  EXPECT_TRUE(Contains(list, "[CanInstallAccessRuntime] AR install:"));
  EXPECT_TRUE(Contains(list, "C:\\WINNT\\system32\\cmd.exe /c "));
  EXPECT_TRUE(Contains(list, "[CanInstallAccessRuntime] Installing AR"));
}

TEST_F(PrerequisiteTest, AccessRuntimeWithMsiExecOnlyInTheDataFolder) {
  fs::create_directories(machine_.Host("D:\\Data"));
  fs::rename(machine_.Host("C:\\WINNT\\system32\\MSIExec.exe"),
             machine_.Host("D:\\Data\\MSIExec.exe"));
  bDebug = kTrue;
  EXPECT_TRUE(CanInstallAccessRuntime()) << strError;
  EXPECT_EQ(strAccessPath, kOfficeAccess);
  EXPECT_TRUE(Contains(ui_.List(),
                       "[CanInstallAccessRuntime] installLine:D:\\Data\\MSIExec.exe /i "
                       "\"D:\\Runtime\\AccessRT.msi\" /qb AllUsers=1"));
}

// A distribution folder whose path holds a blank: every package still runs.
class BlankInTheFolderTest : public PrerequisiteTest {
 protected:
  BlankInTheFolderTest() : PrerequisiteTest("box \"System Restart!\" Yes\n") {
    fs::rename(machine_.root() / "d", machine_.Host("C:\\Minutrix Setup"));
    strAppPath = "C:\\Minutrix Setup\\";
    fs::create_directories(machine_.Host("C:\\Minutrix Setup\\Data"));
    fs::rename(machine_.Host("C:\\WINNT\\system32\\MSIExec.exe"),
               machine_.Host("C:\\Minutrix Setup\\Data\\MSIExec.exe"));
  }
};

TEST_F(BlankInTheFolderTest, EveryPackageRuns) {
  bDebug = kTrue;
  EXPECT_TRUE(InstallMDAC(strComputerName, strAppPath)) << strError;
  EXPECT_EQ(Version(kAdo), "2.80.1022.0");
  EXPECT_TRUE(Contains(ui_.List(),
                       "[InstallMDAC]C:\\WINNT\\system32\\cmd.exe /c \"\"C:\\Minutrix "
                       "Setup\\MDAC\\MDAC_Typ.exe\" /q:a /c:\"setup.exe /qt\"\""));
  Component(kJet, "4.0.1914.0");
  EXPECT_TRUE(InstallJET(strComputerName, strAppPath)) << strError;
  EXPECT_EQ(Version(kJet), "4.0.8618.0");
  EXPECT_TRUE(CanInstallAccessRuntime()) << strError;
  EXPECT_EQ(Version(kOfficeAccess), "9.0.0.2719");
}

TEST_F(PrerequisiteTest, NoMsiExecAnywhereFails) {
  fs::remove(machine_.Host("C:\\WINNT\\system32\\MSIExec.exe"));
  bDebug = kTrue;
  EXPECT_FALSE(CanInstallAccessRuntime());
  EXPECT_EQ(strError, MsgNoMsiExec);
  EXPECT_TRUE(Contains(ui_.List(), "[CanInstallAccessRuntime] No MSIExec"));
  EXPECT_FALSE(fs::exists(machine_.Host("C:\\Program Files\\Microsoft Office")));
}

TEST_F(PrerequisiteTest, AccessRuntimeThatLeavesNoAccessFails) {
  // A package that installs nothing: the check after it reports the missing Access.
  test_support::WriteFile(machine_.Host("D:\\Runtime\\AccessRT.msi"), "not a program");
  EXPECT_FALSE(CanInstallAccessRuntime());
  EXPECT_EQ(strError.rfind(MsgNoAccess, 0), 0u) << strError;
}

TEST_F(PrerequisiteTest, AccessRuntimeWaitFailure) {
  ASSERT_TRUE(platform::RecordServiceState("winmgmt", false));
  bDebug = kTrue;
  EXPECT_FALSE(CanInstallAccessRuntime());
  EXPECT_EQ(strError, MsgAccessRuntimeError + "\r\nError : 0 \r\nSource : ");
}

// Every file of the machine root (but the registry's lock) with its content.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.path().filename() == "registry.txt.lock") continue;
    files[fs::relative(entry.path(), root).string()] = test_support::ReadFile(entry.path());
  }
  return files;
}

class PrerequisitePhaseTest : public PrerequisiteTest {
 protected:
  PrerequisitePhaseTest() : PrerequisiteTest("box \"System Restart!\" Yes\n") {}
};

TEST_F(PrerequisitePhaseTest, NewMachineGetsMdacAndAccessAndNothingElse) {
  const auto before = Snapshot(machine_.root());
  ASSERT_FALSE(IsMDACOK(strWindowsDir));
  ASSERT_EQ(bRestartNeeded, kTrue);
  ASSERT_TRUE(InstallMDAC(strComputerName, strAppPath)) << strError;
  EXPECT_TRUE(IsMDACOK(strWindowsDir));
  EXPECT_TRUE(IsJETOK(strWindowsDir));
  EXPECT_EQ(bInstallJET, kFalse);
  ASSERT_FALSE(isAccessOK(strAccessPath));
  ASSERT_TRUE(CanInstallAccessRuntime()) << strError;
  EXPECT_EQ(strAccessPath, kOfficeAccess);
  const auto after = Snapshot(machine_.root());

  std::vector<std::string> changed;
  for (const auto& [path, text] : after) {
    const auto old = before.find(path);
    if (old == before.end() || old->second != text) changed.push_back(path);
  }
  for (const auto& [path, text] : before) {
    if (!after.count(path)) changed.push_back("removed " + path);
  }
  EXPECT_EQ(changed, (std::vector<std::string>{
                         "c/Program Files/Common Files/System/ado/MsAdo15.dll",
                         "c/Program Files/Microsoft Office/Office/msaccess.exe",
                         "registry.txt",
                     }));
  // The registry gained only the record of the installed package.
  const std::string registry = after.at("registry.txt");
  EXPECT_NE(registry.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Minutrix Machine\\Installed Packages]"),
            std::string::npos)
      << registry;
  EXPECT_NE(registry.find("\"D:\\\\Runtime\\\\AccessRT.msi\"=sz:\"installed\""), std::string::npos)
      << registry;
}

TEST_F(PrerequisiteTest, ReadFileVersion) {
  std::string version = "kept";
  EXPECT_FALSE(ReadFileVersion("C:\\nothere.dll", version));
  EXPECT_EQ(version, "kept");
  EXPECT_TRUE(ReadFileVersion(kAdo, version));
  EXPECT_EQ(version, "2.53.6200.0");
  Component("C:\\plain.dll", "");
  EXPECT_FALSE(ReadFileVersion("C:\\plain.dll", version));
  EXPECT_EQ(version, "");
}

TEST_F(PrerequisiteTest, DutchTexts) {
  LoadMessages("NED");
  EXPECT_FALSE(isAccessOK(strAccessPath));
  EXPECT_EQ(strError.rfind("Microsoft Access is niet op Uw computer gevonden,\r\n", 0), 0u);
  fs::remove(machine_.Host(kJet));
  EXPECT_FALSE(IsJETOK(strWindowsDir));
  EXPECT_EQ(strError.rfind("JET is nog niet geinstalleerd, JET wordt nu geinstalleerd!0 : ", 0),
            0u);
}

}  // namespace
