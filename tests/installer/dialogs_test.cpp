// The language, agreement and options dialogs driven through the script backend.
#include "installer/dialogs.h"

#include <gtest/gtest.h>

#include "installer/settings.h"
#include "platform/forms.h"
#include "platform/forms_backend.h"
#include "tests/installer/scripted_ui.h"
#include "tests/support/test_support.h"

namespace {

using namespace installer;
using installer_test::ScriptedUi;
using platform::forms::Load;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(InstallLanguage, OkWithoutChoiceWarnsInTheLoadedLanguageThenDutchIsChosen) {
  ScriptedUi ui(
      "InstallLanguage click CmdOK\n"
      "box \"ERROR!\" OK\n"
      "InstallLanguage select CboChooseLanguage Nederlands\n"
      "InstallLanguage click CmdOK\n");
  LoadMessages("NED");
  Load(InstallLanguage::Default());
  EXPECT_EQ(strLanguage, "NED");
  EXPECT_EQ(MsgAreYouSure, "Weet U het zeker?");
  EXPECT_FALSE(InstallLanguage::Default().IsVisible());
  const std::string t = ui.Transcript();
  EXPECT_TRUE(
      Contains(t, "box \"ERROR!\" icon critical buttons OK default OK\n  | Kies eerst een taal!\n"))
      << t;
  EXPECT_TRUE(
      Contains(t, "combo CboChooseLanguage \"Choose Language\" items \"English\" \"Nederlands\""))
      << t;
}

TEST(InstallLanguage, AnyOtherTextTypedAndEnterSelectsEnglish) {
  ScriptedUi ui(
      "InstallLanguage type CboChooseLanguage nederlands\n"
      "InstallLanguage enter CboChooseLanguage\n");
  LoadMessages("NED");
  strLanguage = "NED";
  Load(InstallLanguage::Default());
  EXPECT_EQ(strLanguage, "ENG");
  EXPECT_EQ(MsgAreYouSure, "Are you sure?");
}

TEST(InstallLanguage, CloseBoxKeepsTheLanguage) {
  ScriptedUi ui("InstallLanguage close\n");
  strLanguage = "NED";
  LoadMessages("NED");
  Load(InstallLanguage::Default());
  EXPECT_EQ(strLanguage, "NED");
  EXPECT_FALSE(InstallLanguage::Default().Loaded());
  EXPECT_EQ(MsgAreYouSure, "Weet U het zeker?");
}

TEST(Uela, AcceptButtonFollowsTheLastOptionClicked) {
  ScriptedUi ui(
      "UELA click cmdAccept\n"     // disabled: nothing happens
      "UELA enter lblAccept(0)\n"  // Enter before it is selected: still disabled
      "UELA click lblAccept(0)\n"
      "UELA click lblDontAccept(0)\n"  // disables again
      "UELA click cmdAccept\n"
      "UELA click lblAccept(0)\n"
      "UELA enter lblAccept(0)\n");  // Enter now accepts
  LoadMessages("ENG");
  Load(UELA::Default());
  EXPECT_TRUE(UELA::Default().Accepted());
  EXPECT_TRUE(UELA::Default().Loaded());
  EXPECT_FALSE(UELA::Default().IsVisible());
  EXPECT_EQ(ui.Lines("  (cmdAccept is disabled").size(), 2u) << ui.Transcript();
  const std::string t = ui.Transcript();
  EXPECT_TRUE(Contains(t, "option lblAccept(0) \"Accept this agreement\"")) << t;
  EXPECT_TRUE(Contains(t, "option lblDontAccept(0) \"Do not accept this agreement\"")) << t;
  EXPECT_TRUE(Contains(t, "label Label1 \"Korvane Minutrix - Licence Agreement and Disclaimer\""))
      << t;
}

struct Decline {
  const char* name;
  const char* script_line;
};

class UelaDecline : public ::testing::TestWithParam<Decline> {};

TEST_P(UelaDecline, QuitOrCloseBoxDeclines) {
  ScriptedUi ui(std::string("UELA click lblAccept(0)\n") + GetParam().script_line + "\n");
  Load(UELA::Default());
  EXPECT_FALSE(UELA::Default().Accepted());
  EXPECT_FALSE(UELA::Default().Loaded());
}

INSTANTIATE_TEST_SUITE_P(Ways, UelaDecline,
                         ::testing::Values(Decline{"QuitButton", "UELA click Quit"},
                                           Decline{"CloseBox", "UELA close"}),
                         test_support::ByName());

TEST(InstallOptionsForm, WithoutTheProductOnlyInstallIsOffered) {
  ScriptedUi ui("InstallOptionsForm click CmdAction\n");
  LoadMessages("ENG");
  strAppPath = "D:\\";
  bInstalled = kFalse;
  iAction = 5;
  Load(InstallOptionsForm::Default());
  EXPECT_EQ(iAction, 0);
  EXPECT_EQ(bQuit, kFalse);
  EXPECT_EQ(bNoInstall, kFalse);
  EXPECT_EQ(strFilterDllPath, "c:\\Minutrix\\Minutrix.DLL");
  const std::vector<std::string> expected = {
      "window InstallOptionsForm waits",           "  frame Options \"Install options\"",
      "  option Option(0) \"Install\" selected",   "  option Option(1) \"Uninstall\" disabled",
      "  option Option(2) \"Reinstall\" disabled", "  label Label(0) \"Install\"",
      "  label Label(1) \"Uninstall\" disabled",   "  label Label(2) \"Reinstall\" disabled",
      "  button CmdAction \"Install\" focus",      "  button Quit \"Quit\""};
  const auto lines = ui.TranscriptLines();
  ASSERT_GE(lines.size(), 11u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 11), expected);
}

TEST(InstallOptionsForm, WithTheProductUninstallIsSelectedAndReinstallCanBeChosen) {
  ScriptedUi ui(
      "InstallOptionsForm click Option(0)\n"  // disabled
      "InstallOptionsForm click Option(2)\n"
      "InstallOptionsForm click CmdAction\n");
  LoadMessages("ENG");
  strAppPath = "D:\\";
  bInstalled = kTrue;
  iAction = 1;
  Load(InstallOptionsForm::Default());
  EXPECT_EQ(iAction, 0);
  EXPECT_EQ(bQuit, kFalse);
  const std::string t = ui.Transcript();
  EXPECT_TRUE(Contains(
      t, "  option Option(0) \"Install\" disabled\n  option Option(1) \"Uninstall\" selected\n"))
      << t;
  EXPECT_TRUE(Contains(t, "  button CmdAction \"Uninstall\" focus")) << t;
  EXPECT_TRUE(Contains(t, "  button CmdAction \"Reinstall\"")) << t;
  EXPECT_TRUE(Contains(t, "(Option(0) is disabled; nothing happens)")) << t;
}

TEST(InstallOptionsForm, UninstallSetsActionOne) {
  ScriptedUi ui("InstallOptionsForm click CmdAction\n");
  strAppPath = "D:\\";
  bInstalled = kTrue;
  Load(InstallOptionsForm::Default());
  EXPECT_EQ(iAction, 1);
  EXPECT_EQ(bQuit, kFalse);
}

struct Spelling {
  const char* name;
  const char* app_path;
};

class RunFromProductFolder : public ::testing::TestWithParam<Spelling> {};

TEST_P(RunFromProductFolder, AfterRemovalRefusesEveryAction) {
  ScriptedUi ui(
      "box \"ERROR!\" OK\n"
      "InstallOptionsForm click CmdAction\n"  // disabled
      "InstallOptionsForm click Quit\n"
      "box \"Quit\" Yes\n");
  LoadMessages("ENG");
  strAppPath = GetParam().app_path;
  bInstalled = kFalse;
  Load(InstallOptionsForm::Default());
  EXPECT_EQ(bNoInstall, kTrue);
  EXPECT_EQ(bQuit, kTrue);
  const std::string t = ui.Transcript();
  EXPECT_TRUE(Contains(
      t,
      "  | Minutrix has already been removed, to install Minutrix use the original installation "
      "files!"))
      << t;
  EXPECT_TRUE(Contains(t, "  option Option(0) \"Install\" disabled\n")) << t;
  EXPECT_TRUE(Contains(t, "  label Label(0) \"Install\" disabled\n")) << t;
  EXPECT_TRUE(Contains(t, "  button CmdAction \"No Install\" disabled\n")) << t;
}

INSTANTIATE_TEST_SUITE_P(Spellings, RunFromProductFolder,
                         ::testing::Values(Spelling{"LowerCaseDrive", "c:\\Minutrix\\"},
                                           Spelling{"UpperCase", "C:\\MINUTRIX\\"},
                                           Spelling{"WithoutTrailingBackslash", "C:\\Minutrix"}),
                         test_support::ByName());

TEST(InstallOptionsForm, RunFromProductFolderWhileInstalledOffersUninstall) {
  ScriptedUi ui("InstallOptionsForm click CmdAction\n");
  strAppPath = "C:\\Minutrix\\";
  bInstalled = kTrue;
  Load(InstallOptionsForm::Default());
  EXPECT_EQ(bNoInstall, kFalse);
  EXPECT_EQ(iAction, 1);
}

TEST(InstallOptionsForm, QuitAsksAndNoKeepsTheDialogOpen) {
  ScriptedUi ui(
      "InstallOptionsForm click Quit\n"
      "box \"Quit\" No\n"
      "InstallOptionsForm close\n"
      "box \"Quit\" No\n"
      "InstallOptionsForm click Quit\n"
      "box \"Quit\" Yes\n");
  LoadMessages("ENG");
  strAppPath = "D:\\";
  Load(InstallOptionsForm::Default());
  EXPECT_FALSE(InstallOptionsForm::Default().Loaded());
  EXPECT_EQ(bQuit, kTrue);
  const auto boxes = ui.Lines("box ");
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "box \"Quit\" icon critical buttons Yes,No default Yes");
  EXPECT_EQ(ui.Lines("window InstallOptionsForm waits").size(), 3u);
}

TEST(ScriptBackend, AnAnswerForAnotherWindowStopsTheRun) {
  ScriptedUi ui("UELA click Quit\n");
  EXPECT_THROW(Load(InstallLanguage::Default()), platform::forms::UiAborted);
  EXPECT_TRUE(Contains(ui.Transcript(),
                       "error: the UI script has no fitting answer: window InstallLanguage"))
      << ui.Transcript();
}

}  // namespace
