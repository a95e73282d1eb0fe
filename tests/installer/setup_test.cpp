// The setup program end to end: its windows through the script and the terminal backends.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "installer/settings.h"
#include "installer/start_up.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;

class SetupTest : public ::testing::Test {
 protected:
  test_support::CommandResult Setup(const std::string& args, const std::string& script,
                                    std::map<std::string, std::string> env = {}) {
    test_support::WriteFile(dir_.path() / "script.txt", script);
    env["MINUTRIX_UI"] = "script";
    env["MINUTRIX_UI_SCRIPT"] = (dir_.path() / "script.txt").string();
    env["MINUTRIX_UI_TRANSCRIPT"] = (dir_.path() / "transcript.txt").string();
    std::vector<std::string> argv = {(test_support::kBuildDir / "setup").string()};
    if (!args.empty()) argv.push_back(args);
    return test_support::Run(argv, env);
  }
  std::string Transcript() { return ReadFile(dir_.path() / "transcript.txt"); }
  test_support::ScratchMachine machine_;
  test_support::ScratchDir dir_;
};

TEST_F(SetupTest, HelpShowsOnlyTheHelpBox) {
  const auto r = Setup("/?", "box OK\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string t = Transcript();
  EXPECT_EQ(t.find("window "), std::string::npos) << "no window besides the box\n" << t;
  EXPECT_NE(t.find("box \"Korvane Minutrix Install Command-Line Arguments : \" icon information"),
            std::string::npos);
}

TEST_F(SetupTest, DutchRunThroughEveryWindowToFinish) {
  const auto r = Setup("",
                       "InstallLanguage select CboChooseLanguage Nederlands\n"
                       "InstallLanguage click CmdOK\n"
                       "UELA click lblAccept(0)\n"
                       "UELA click cmdAccept\n"
                       "InstallOptionsForm click Quit\n"
                       "box \"Quit\" No\n"
                       "InstallOptionsForm click Quit\n"
                       "box \"Quit\" Yes\n"
                       "InstallForm click CmdFinish\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string t = Transcript();
  EXPECT_NE(t.find("list: Installatie van Minutrix voor ISA-Server\n"), std::string::npos) << t;
  EXPECT_NE(t.find("  | Weet U het zeker?\n"), std::string::npos);
  EXPECT_EQ(t.find("This build of setup ends here"), std::string::npos) << "Quit runs no action";
  EXPECT_NE(t.find("window InstallForm waits\n  picture picLogo\n  list lblInfo (2 items)\n  "
                   "button CmdFinish \"Finish\" focus\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("window InstallForm unloaded"), std::string::npos);
}

TEST_F(SetupTest, LanguageOnTheCommandLineSkipsTheDialogAndDeclineEnds) {
  const auto r = Setup("-lng ned", "UELA click Quit\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string t = Transcript();
  EXPECT_EQ(t.find("InstallLanguage"), std::string::npos);
  EXPECT_NE(t.find("option lblAccept(0) \"Ik ga accoord met de overeenkomst\""), std::string::npos);
  EXPECT_EQ(t.find("InstallForm"), std::string::npos);
}

TEST_F(SetupTest, InstalledProductIsSeenFromTheProductFolderAndUninstalled) {
  // setup started from c:\Minutrix (through a link there, as a copy would be) with the DLL present.
  test_support::WriteFile(machine_.Host("c:\\Minutrix\\Minutrix.DLL"), "dll");
  fs::create_symlink(test_support::kBuildDir / "setup", machine_.Host("c:\\Minutrix\\Setup.exe"));
  test_support::WriteFile(
      dir_.path() / "script.txt",
      "UELA click lblAccept(0)\nUELA click cmdAccept\nInstallOptionsForm click CmdAction\n"
      "box \"WARNING!\" Yes\nbox \"Uninstall success\" OK\nInstallForm click CmdFinish\n");
  const auto r =
      test_support::Run({machine_.Host("c:\\Minutrix\\Setup.exe").string(), "-lng eng"},
                        {{"MINUTRIX_UI", "script"},
                         {"MINUTRIX_UI_SCRIPT", (dir_.path() / "script.txt").string()},
                         {"MINUTRIX_UI_TRANSCRIPT", (dir_.path() / "transcript.txt").string()}});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string t = Transcript();
  EXPECT_NE(t.find("list: Found application path : C:\\Minutrix\\\n"), std::string::npos) << t;
  EXPECT_NE(t.find("list: Minutrix is installed!\n"), std::string::npos) << t;
  EXPECT_NE(t.find("button CmdAction \"Uninstall\" focus"), std::string::npos) << t;
  EXPECT_NE(t.find("box \"Uninstall success\" icon information"), std::string::npos) << t;
}

// A registration script that ends with an error: the error and the rollback, never the success
// box over a filter the web server does not list.
TEST_F(SetupTest, FailedRegistrationEndsWithTheErrorNotTheSuccessBox) {
  // The distribution folder on drive D:, as an administrator brings it.
  fs::copy(test_support::kBuildDir / "dist", machine_.root() / "d", fs::copy_options::recursive);
  const fs::path script = machine_.Host("D:\\RegisterISAPIFilter.VBS");
  fs::remove(script);
  test_support::WriteFile(script, "#!/bin/sh\necho 'cannot write the filter list' >&2\nexit 1\n");
  fs::permissions(script, fs::perms::owner_exec, fs::perm_options::add);
  test_support::WriteFile(
      dir_.path() / "script.txt",
      "UELA click lblAccept(0)\nUELA click cmdAccept\n"
      "InstallOptionsForm click CmdAction\nbox \"ERROR!\" OK\nbox \"ERROR!\" OK\n"
      "box \"WARNING!\" Yes\nInstallForm click CmdFinish\n");
  const auto r =
      test_support::Run({machine_.Host("D:\\Setup.exe").string(), "-lng eng -nm -nj"},
                        {{"MINUTRIX_UI", "script"},
                         {"MINUTRIX_UI_SCRIPT", (dir_.path() / "script.txt").string()},
                         {"MINUTRIX_UI_TRANSCRIPT", (dir_.path() / "transcript.txt").string()}});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string t = Transcript();
  EXPECT_EQ(t.find("box \"Install success\""), std::string::npos) << t;
  EXPECT_EQ(t.find("list: Filter Registered Successfully!"), std::string::npos) << t;
  EXPECT_NE(t.find("list: [Install Log] : The filter could not be registered, unable to install "
                   "Minutrix!\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("  | Minutrix will now be uninstall!"), std::string::npos) << t;
}

// Where the gathering stops: the error box text names the reason, no options window comes, and
// Finish ends the run.
struct GatheringCase {
  const char* name;
  std::vector<std::string> reg_args;  // a change to the machine's registry first, or none
  const char* major_version;          // [Windows] MajorVersion, or nullptr
  const char* expected;
};

class GatheringStopTest : public SetupTest, public ::testing::WithParamInterface<GatheringCase> {};

TEST_P(GatheringStopTest, StopsWithTheReason) {
  const GatheringCase& c = GetParam();
  if (!c.reg_args.empty()) machine_.Reg(c.reg_args);
  if (c.major_version != nullptr) {
    const fs::path profile = machine_.root() / "machine.ini";
    std::string text = ReadFile(profile);
    const auto at = text.find("MajorVersion=");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, text.find('\n', at) - at, std::string("MajorVersion=") + c.major_version);
    test_support::WriteFile(profile, text);
  }
  const auto r = Setup(
      "-lng eng", "UELA click lblAccept(0)\nUELA click cmdAccept\nInstallForm click CmdFinish\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string t = Transcript();
  EXPECT_NE(t.find(c.expected), std::string::npos) << t;
  EXPECT_NE(t.find("list: Error : \n"), std::string::npos) << "the error lines follow\n" << t;
  EXPECT_EQ(t.find("InstallOptionsForm"), std::string::npos) << t;
  EXPECT_NE(t.find("button CmdFinish \"Finish\" focus"), std::string::npos) << t;
}

INSTANTIATE_TEST_SUITE_P(
    Machines, GatheringStopTest,
    ::testing::Values(
        GatheringCase{"WindowsVista", {}, "6", "list: Incorrect Operating System."},
        GatheringCase{"NoWebRoot",
                      {"delete", "HKLM\\software\\microsoft\\inetstp", "/v", "PathWWWRoot", "/f"},
                      nullptr,
                      "list: IIS not found! Install IIS before installing Minutrix!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GatheringFailureTextTest, ObjectRequiredNamesTheMissingObjectModel) {
  installer::LoadMessages("ENG");
  EXPECT_EQ(installer::GatheringFailureText({424, "Object required", "Setup"}),
            installer::MsgNoFpcObjectModel + "\r\n(Object required\r\nSource : Setup)");
  EXPECT_EQ(installer::GatheringFailureText({53, "File not found", "Setup"}),
            "53 : File not found\r\nSource : Setup");
}

TEST_F(SetupTest, NoMachineRootSaysHowToMakeOneBeforeAnyWindow) {
  const auto r = Setup("-lng eng", "", {{"MINUTRIX_ROOT", (dir_.path() / "no-such").string()}});
  EXPECT_EQ(r.exit_code, 2) << r.output;
  EXPECT_NE(r.output.find("there is no machine root at " + (dir_.path() / "no-such").string()),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("minutrix-machine init DIR"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(dir_.path() / "transcript.txt") &&
               ReadFile(dir_.path() / "transcript.txt").find("window") != std::string::npos);
  // The help box needs no machine.
  EXPECT_EQ(
      Setup("/?", "box OK\n", {{"MINUTRIX_ROOT", (dir_.path() / "no-such").string()}}).exit_code,
      0);
}

TEST_F(SetupTest, NoFittingAnswerStopsWithAClearMessage) {
  auto r = Setup("", "UELA click Quit\n");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.output.find("the UI script has no fitting answer: window InstallLanguage"),
            std::string::npos)
      << r.output;
  r = Setup("", "");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.output.find("the UI script ended"), std::string::npos) << r.output;
  r = Setup("", "InstallLanguage click NoSuchButton\n");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.output.find("the window has no control NoSuchButton"), std::string::npos) << r.output;
}

TEST_F(SetupTest, TerminalBackendReadsPicksAndStopsAtTheEndOfInput) {
  auto r = test_support::Run({(test_support::kBuildDir / "setup").string(), "-lng eng"},
                             {{"MINUTRIX_UI", "terminal"}, {"MINUTRIX_UI_TRANSCRIPT", ""}},
                             "3\n1\n3\n5\ny\n1\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("[3] < Accept >  (disabled)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("(cmdAccept is disabled; nothing happens)"), std::string::npos);
  EXPECT_NE(r.output.find("| (X) Are you sure?"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  Install Minutrix for ISA-Server\n"), std::string::npos);
  r = test_support::Run({(test_support::kBuildDir / "setup").string()},
                        {{"MINUTRIX_UI", "terminal"}}, "");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.output.find("standard input ended"), std::string::npos) << r.output;
  r = test_support::Run({(test_support::kBuildDir / "setup").string()}, {{"MINUTRIX_UI", "gui"}});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.output.find("unknown user interface"), std::string::npos);
}

}  // namespace
