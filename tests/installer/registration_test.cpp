// The filter's registration and path settings: the registry layer, the product key, the copy of
// the install script's files, the registration scripts run through CScript, and the attributes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "installer/functions.h"
#include "installer/install_functions.h"
#include "installer/install_functions_copy.h"
#include "installer/registry_functions.h"
#include "installer/settings.h"
#include "installer/uninstall_functions.h"
#include "platform/services.h"
#include "tests/installer/step_fixture.h"

namespace {

using namespace installer;
using installer_test::KeyExists;
using installer_test::ReadValue;
using installer_test::StepTest;
namespace fs = std::filesystem;
using installer_test::kFiltersKey;

using RegistryTest = StepTest;

TEST_F(RegistryTest, WebRootWithItsSuffixReadsUpToTheComma) {
  machine_.Reg(
      {"add", "HKLM\\SYSTEM\\x", "/v", "/", "/t", "REG_SZ", "/d", "C:\\InetPub\\wwwroot,,5", "/f"});
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "SYSTEM\\x", "/", 1), "C:\\InetPub\\wwwroot");
  EXPECT_EQ(strError, "");
}

struct LengthCase {
  const char* name;
  size_t length;  // characters of the stored value; the stored data has one zero more
  bool readable;
};

// Cases are shown by their names.
void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

class ValueLengthTest : public StepTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(ValueLengthTest, OnlyValuesThatFitTheBufferAreRead) {
  const std::string text(GetParam().length, 'v');
  machine_.Reg({"add", "HKLM\\software\\Long", "/v", "Value", "/t", "REG_SZ", "/d", text, "/f"});
  strError.clear();
  const std::string value = ReadRegistryString(HKEY_LOCAL_MACHINE, "software\\Long", "Value", 1);
  if (GetParam().readable) {
    EXPECT_EQ(value, text);
    EXPECT_EQ(strError, "");
  } else {
    EXPECT_EQ(value, "");
    EXPECT_EQ(strError, MsgNoKeyValue + " : KeyPath=software\\Long ,strKeyEntry=Value.");
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ValueLengthTest,
                         ::testing::Values(LengthCase{"Chars254Fit", 254, true},
                                           LengthCase{"Chars255TooLong", 255, false},
                                           LengthCase{"Chars4000TooLong", 4000, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, MissingKeyOrValueReadsEmptyWithTheKeyNamed) {
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "software\\None", "X", 1), "");
  EXPECT_EQ(strError, MsgNoKeyValue + " : KeyPath=software\\None ,strKeyEntry=X.");
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "None", 1), "");
}

TEST_F(RegistryTest, DefaultValueOfClassesRootLessNineCharactersIsTheBrowser) {
  EXPECT_EQ(StripEnclosingCharacters(
                ReadRegistryString(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", "", 9)),
            "C:\\Program Files\\Internet Explorer\\iexplore.exe");
}

TEST_F(RegistryTest, StringsAreStoredWithoutATerminatingZero) {
  HKEY key = CreateRegistryKey(HKEY_LOCAL_MACHINE, "software\\Test");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(SetRegistryString(key, "Name", "abc"), ERROR_SUCCESS);
  RegCloseKey(key);
  const auto value = ReadValue(HKEY_LOCAL_MACHINE, "software\\Test", "Name");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, REG_SZ);
  EXPECT_EQ(value->bytes, "abc");
  // Read back with the trim count 1 the last character goes: callers pass 0 for such values.
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "software\\Test", "Name", 0), "abc");
}

TEST_F(RegistryTest, DeleteRegistryKeyTakesTheTreeAndAnswersAMissingKey) {
  machine_.Reg({"add", "HKLM\\software\\Tree\\Sub", "/v", "V", "/d", "1", "/f"});
  EXPECT_EQ(DeleteRegistryKey("software\\Tree"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "software\\Tree"));
  EXPECT_EQ(DeleteRegistryKey("software\\Tree"), ERROR_FILE_NOT_FOUND);
}

struct ProductKeyFault {
  const char* name;
  const char* faults;  // [Faults] lines of the machine profile
  const char* named;   // what the error text names
};

// Cases are shown by their names.
void PrintTo(const ProductKeyFault& c, std::ostream* os) { *os << c.name; }

class ProductKeyFaultTest : public StepTest,
                            public ::testing::WithParamInterface<ProductKeyFault> {};

// A value that is not written fails the step, with the registry's error and the value named.
TEST_P(ProductKeyFaultTest, FailedWriteFailsTheStep) {
  InjectFaults(GetParam().faults);
  strError.clear();
  EXPECT_FALSE(AddPathToReg());
  EXPECT_EQ(strError.rfind("Error : ", 0), 0u) << strError;
  EXPECT_NE(strError.find(GetParam().named), std::string::npos) << strError;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProductKeyFaultTest,
    ::testing::Values(
        ProductKeyFault{"MinutrixPathDiskFull", "RegSetValue=1,112",
                        "Source : HKEY_LOCAL_MACHINE\\software\\Minutrix\\MinutrixPath"},
        ProductKeyFault{"MinutrixDebugDiskFull", "RegSetValue=2,112",
                        "Source : HKEY_LOCAL_MACHINE\\software\\Minutrix\\MinutrixDebug"},
        ProductKeyFault{"KeyNotCreated", "RegOpenKey=2,5",
                        "Source : HKEY_LOCAL_MACHINE\\software\\Minutrix"}),
    test_support::ByName());

TEST_F(RegistryTest, AddPathToRegWritesTheProductKeyAfresh) {
  machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "1", "/f"});
  EXPECT_TRUE(AddPathToReg());
  const auto path = ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath");
  const auto debug = ReadValue(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixDebug");
  ASSERT_TRUE(path && debug);
  EXPECT_EQ(path->type, REG_SZ);
  EXPECT_EQ(path->bytes, "c:\\Minutrix\\");
  EXPECT_EQ(debug->type, REG_SZ);
  EXPECT_EQ(debug->bytes, "0");
}

// The copy of the install script's files.
class CopyTest : public StepTest {
 protected:
  CopyTest() {
    Put("C:\\dist\\a.txt", "A");
    Put("C:\\dist\\sub\\b.txt", "B");
    Put("C:\\dist\\page.asp", "P");
    Put("C:\\dist\\lib.dll", "L");
    // The install driver makes the product folder before the copy.
    MakeDir(strFiltersDirPath);
  }
  bool Copy(const std::string& script) {
    Put("C:\\dist\\InstallScript.txt", script);
    strError.clear();
    return FilesCopied(strAppPath, strFiltersDirPath, strComputerName);
  }
};

TEST_F(CopyTest, FoldersAndTokensSendFilesWhereTheyBelong) {
  EXPECT_TRUE(
      Copy("// product files\r\n[Install Files]\r\na.txt\r\n[DIR:sub]\r\nb.txt\r\n"
           "[DIR:<DEFAULT WEBSITE>\\Minutrix]\r\npage.asp\r\n[DIR:<SYSTEM32>]\r\nlib.dll\r\n"))
      << strError;
  EXPECT_EQ(test_support::ReadFile(Host("C:\\Minutrix\\a.txt")), "A");
  EXPECT_EQ(test_support::ReadFile(Host("C:\\Minutrix\\sub\\b.txt")), "B");
  EXPECT_EQ(test_support::ReadFile(Host("C:\\Inetpub\\wwwroot\\Minutrix\\page.asp")), "P");
  EXPECT_EQ(test_support::ReadFile(Host("C:\\WINNT\\system32\\lib.dll")), "L");
}

TEST_F(CopyTest, UnknownTokenIsAFolderUnderTheProductFolder) {
  Put("C:\\dist\\<ELSE>\\x.txt", "X");
  EXPECT_TRUE(Copy("[DIR:<ELSE>]\r\nx.txt\r\n")) << strError;
  EXPECT_TRUE(Exists("C:\\Minutrix\\<ELSE>\\x.txt"));
}

TEST_F(CopyTest, MissingSourceDoesNotStopTheWalk) {
  EXPECT_FALSE(Copy("missing.txt\r\na.txt\r\n"));
  EXPECT_TRUE(Exists("C:\\Minutrix\\a.txt"));
  EXPECT_NE(strError.find(MsgCopyError + "\r\nFile : C:\\dist\\missing.txt -> "
                                         "c:\\Minutrix\\missing.txt"),
            std::string::npos)
      << strError;
}

TEST_F(CopyTest, MissingScriptFails) {
  EXPECT_FALSE(FilesCopied("C:\\nowhere\\", strFiltersDirPath, strComputerName));
  EXPECT_NE(strError.find("Files copied : 0"), std::string::npos) << strError;
}

struct RefusedLine {
  const char* name;
  const char* line;
};

// Cases are shown by their names.
void PrintTo(const RefusedLine& c, std::ostream* os) { *os << c.name; }

class RefusedLineTest : public CopyTest, public ::testing::WithParamInterface<RefusedLine> {};

// Neither the copy nor the deletion follows a line out of the folders the script names.
TEST_P(RefusedLineTest, LineIsRefusedForCopyAndDelete) {
  Put("C:\\outside.txt", "keep");
  Put("C:\\Minutrix\\keep.txt", "keep");
  const std::string line = GetParam().line;
  EXPECT_FALSE(Copy("a.txt\r\n" + line + "\r\nb.txt\r\n"));
  EXPECT_EQ(strError.rfind(MsgScriptError + "\r\nLine : " + line, 0), 0u) << strError;
  EXPECT_FALSE(Exists("C:\\Minutrix\\b.txt")) << "the walk stops at the refused line";
  strError.clear();
  EXPECT_FALSE(FilesDeleted(strAppPath, strFiltersDirPath, strComputerName));
  EXPECT_NE(strError.find(MsgScriptError), std::string::npos) << strError;
  EXPECT_TRUE(Exists("C:\\outside.txt"));
  EXPECT_TRUE(Exists("C:\\Minutrix\\keep.txt"));
  EXPECT_TRUE(Exists("C:\\WINNT\\system32\\cmd.exe"));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RefusedLineTest,
    ::testing::Values(RefusedLine{"ParentFolderLine", "[DIR:..]"},
                      RefusedLine{"ParentInFolderLine", "[DIR:sub\\..\\..\\WINNT]"},
                      RefusedLine{"ParentFileLine", "..\\outside.txt"},
                      RefusedLine{"DriveFileLine", "C:\\outside.txt"},
                      RefusedLine{"DriveFolderLine", "[DIR:C:\\WINNT]"},
                      RefusedLine{"RootFileLine", "\\outside.txt"},
                      RefusedLine{"TokenParentLine", "[DIR:<DEFAULT WEBSITE>\\..\\..]"},
                      RefusedLine{"TokenParentRightAfterToken", "[DIR:<DEFAULT WEBSITE>..]"},
                      RefusedLine{"TokenParentAfterSkippedCharacter",
                                  "[DIR:<DEFAULT WEBSITE>...]"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CopyTest, TokenWithoutItsFolderIsRefused) {
  strSystemPath.clear();
  EXPECT_FALSE(Copy("[DIR:<SYSTEM32>]\r\nlib.dll\r\n"));
  EXPECT_EQ(strError, MsgScriptError + "\r\nLine : [DIR:<SYSTEM32>]");
}

TEST_F(StepTest, RegistrationScriptsListTheFilterForTheWebServer) {
  MakeDistribution("RegisterISAPIFilter.VBS\r\nUnRegisterISAPIFilter.VBS\r\nMinutrix.dll\r\n");
  MakeDir(strFiltersDirPath);
  ASSERT_TRUE(FilesCopied(strAppPath, strFiltersDirPath, strComputerName)) << strError;
  machine_.Reg({"add", std::string("HKLM\\") + kFiltersKey, "/v", "FilterLoadOrder", "/d",
                "sspifilt,Compression", "/f"});
  EXPECT_TRUE(RegisterFilter());
  EXPECT_TRUE(RegisterFilter()) << "a second registration lists the filter once";
  auto order = ReadValue(HKEY_LOCAL_MACHINE, kFiltersKey, "FilterLoadOrder");
  ASSERT_TRUE(order);
  EXPECT_EQ(order->bytes, std::string("sspifilt,Compression,Minutrix") + '\0');
  const auto path =
      ReadValue(HKEY_LOCAL_MACHINE, std::string(kFiltersKey) + "\\Minutrix", "FilterPath");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->bytes, std::string("c:\\Minutrix\\Minutrix.DLL") + '\0');
  EXPECT_TRUE(UnRegisterFilter());
  order = ReadValue(HKEY_LOCAL_MACHINE, kFiltersKey, "FilterLoadOrder");
  ASSERT_TRUE(order);
  EXPECT_EQ(order->bytes, std::string("sspifilt,Compression") + '\0');
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kFiltersKey) + "\\Minutrix"));
}

struct ScriptCall {
  const char* name;
  const char* script;
  std::vector<std::string> args;
};

// Cases are shown by their names.
void PrintTo(const ScriptCall& c, std::ostream* os) { *os << c.name; }

class ScriptUsageTest : public StepTest, public ::testing::WithParamInterface<ScriptCall> {};

TEST_P(ScriptUsageTest, WrongArgumentsGetTheUsageLine) {
  const auto result =
      test_support::Run({(test_support::kSourceDir / "dist" / GetParam().script).string()}, {}, "");
  std::vector<std::string> argv = {
      (test_support::kSourceDir / "dist" / GetParam().script).string()};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  const auto wrong = test_support::Run(argv);
  EXPECT_NE(result.exit_code, 0);
  EXPECT_NE(wrong.exit_code, 0);
  EXPECT_NE(wrong.output.find("Usage: CScript"), std::string::npos) << wrong.output;
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kFiltersKey));
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ScriptUsageTest,
    ::testing::Values(
        ScriptCall{"RegisterWithoutSwitch", "RegisterISAPIFilter.VBS", {"c:\\x.dll", "Minutrix"}},
        ScriptCall{"RegisterWrongSwitch", "RegisterISAPIFilter.VBS", {"c:\\x.dll", "-x", "M"}},
        ScriptCall{"RegisterCommaName", "RegisterISAPIFilter.VBS", {"c:\\x.dll", "-n", "a,b"}},
        ScriptCall{"UnregisterTwoArguments", "UnRegisterISAPIFilter.VBS", {"-n", "Minutrix"}},
        ScriptCall{"UnregisterEmptyName", "UnRegisterISAPIFilter.VBS", {""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StepTest, ReadOnlyFilesOfTheProductFolderBecomeWritable) {
  Put("C:\\Minutrix\\sub\\r.txt", "r");
  ::chmod(Host("C:\\Minutrix\\sub\\r.txt").c_str(), 0444);
  bDebug = kTrue;
  EXPECT_TRUE(RemoveReadOnlyAttribute("c:\\Minutrix"));
  const auto list = ui_.List();
  EXPECT_NE(
      std::find(list.begin(), list.end(), "[RemoveReadOnlyAttribute]Attrib -r c:\\Minutrix\\ /s/d"),
      list.end());
  struct stat st {};
  ASSERT_EQ(::stat(Host("C:\\Minutrix\\sub\\r.txt").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR);
}

TEST_F(StepTest, RegisterFileRecordsTheServer) {
  Put("C:\\WINNT\\system32\\stkit432.dll", "FileVersion=6.0.81.69\r\n");
  EXPECT_TRUE(RegisterFile("C:\\WINNT\\system32\\stkit432.dll"));
  const auto value = ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Minutrix Machine\\Registered Servers",
                               "C:\\WINNT\\system32\\stkit432.dll");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->bytes, std::string("registered") + '\0');
}

}  // namespace

namespace {

using installer_test::StepTest;
using namespace installer;

class ScriptRunTest : public StepTest {
 protected:
  ScriptRunTest()
      : StepTest("box \"Korvane Minutrix Install\" OK\nbox \"Korvane Minutrix Install\" OK\n") {
    MakeDistribution("RegisterISAPIFilter.VBS\r\nUnRegisterISAPIFilter.VBS\r\n");
    MakeDir(strFiltersDirPath);
    EXPECT_TRUE(FilesCopied(strAppPath, strFiltersDirPath, strComputerName)) << strError;
  }
};

// In debug mode the console of the script stays open (/k) until it is closed; without a terminal
// it closes at once and the step goes on.
TEST_F(ScriptRunTest, DebugModeStillWaitsForTheScript) {
  bDebug = kTrue;
  EXPECT_TRUE(RegisterFilter());
  EXPECT_TRUE(installer_test::KeyExists(
      HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters\\Minutrix"));
  EXPECT_TRUE(UnRegisterFilter());
  EXPECT_FALSE(installer_test::KeyExists(
      HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters\\Minutrix"));
}

// A wait that cannot ask for the process fails the step with a box.
TEST_F(ScriptRunTest, FailedWaitIsReportedInABox) {
  ASSERT_TRUE(platform::RecordServiceState("winmgmt", false));
  strError.clear();
  EXPECT_FALSE(RegisterFilter());
  EXPECT_EQ(strError.rfind("Error : ", 0), 0u) << strError;
  EXPECT_NE(strError.find(MsgWmiError), std::string::npos) << strError;
  EXPECT_FALSE(UnRegisterFilter());
  EXPECT_EQ(ui_.Lines("box \"Korvane Minutrix Install\"").size(), 2u) << ui_.Transcript();
}

}  // namespace

namespace {

using installer_test::StepTest;
using namespace installer;

class ScriptExitTest : public StepTest {
 protected:
  ScriptExitTest() {
    MakeDistribution("RegisterISAPIFilter.VBS\r\nUnRegisterISAPIFilter.VBS\r\n");
    MakeDir(strFiltersDirPath);
    EXPECT_TRUE(FilesCopied(strAppPath, strFiltersDirPath, strComputerName)) << strError;
  }
};

// A script that ends with an error fails its step with the step's text, the exit status and the
// command; the box of a failed wait is not shown.
TEST_F(ScriptExitTest, FilterListNotWrittenFailsRegistrationAndRemoval) {
  // Each reg.exe the scripts start fails its first registry write with a full disk.
  InjectFaults("RegSetValue=1,112");
  strError.clear();
  EXPECT_FALSE(RegisterFilter());
  EXPECT_EQ(strError.rfind(MsgFilterNotRegistered + "\r\nError : 1\r\nSource : CScript \"" +
                               strFiltersDirPath + "RegisterISAPIFilter.VBS\"",
                           0),
            0u)
      << strError;
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kFiltersKey, "FilterLoadOrder"));

  InjectFaults("");
  ASSERT_TRUE(RegisterFilter()) << strError;
  InjectFaults("RegSetValue=1,112");
  strError.clear();
  EXPECT_FALSE(UnRegisterFilter());
  EXPECT_EQ(strError.rfind(MsgFilterNotRemoved + "\r\nError : 1\r\n", 0), 0u) << strError;
  EXPECT_TRUE(ui_.Lines("box ").empty()) << ui_.Transcript();
}

TEST_F(ScriptExitTest, MissingScriptFailsTheStep) {
  fs::remove(Host("C:\\Minutrix\\RegisterISAPIFilter.VBS"));
  strError.clear();
  EXPECT_FALSE(RegisterFilter());
  EXPECT_EQ(strError.rfind(MsgFilterNotRegistered + "\r\nError : 1\r\n", 0), 0u) << strError;
}

}  // namespace
