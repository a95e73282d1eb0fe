// The command line, the message catalogue in its languages, and the message list.
#include "installer/settings.h"

#include <gtest/gtest.h>

#include "installer/dialogs.h"
#include "installer/functions.h"
#include "platform/forms_backend.h"
#include "platform/vb_app.h"
#include "tests/installer/scripted_ui.h"
#include "tests/support/test_support.h"

namespace {

using namespace installer;
using installer_test::ScriptedUi;

struct CommandCase {
  const char* name;
  const char* command;
  bool result;  // false: the help box was shown
  const char* language;
  Flag given, extra, debug, no_mdac, no_jet;
  const char* title;  // MsgInstallTitle after parsing
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << '[' << c.command << ']'; }

class ParseCommandLineTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ParseCommandLineTest, SetsFlagsAndLoadsMessages) {
  const CommandCase& c = GetParam();
  ScriptedUi ui(c.result ? "" : "box OK\n");
  platform::SetAppCommand(c.command);
  // Poison every flag so that an untouched one shows.
  bExtraMessages = 7;
  bDebug = bLanguageGiven = bNoMDAC = bNoJET = 7;
  EXPECT_EQ(ParseCommandLine(), c.result);
  EXPECT_EQ(strLanguage, c.language);
  EXPECT_EQ(bLanguageGiven, c.given);
  EXPECT_EQ(bExtraMessages, c.extra);
  EXPECT_EQ(bDebug, c.debug);
  EXPECT_EQ(bNoMDAC, c.no_mdac);
  EXPECT_EQ(bNoJET, c.no_jet);
  EXPECT_EQ(MsgInstallTitle, c.title);
  EXPECT_EQ(ui.Lines("box ").size(), c.result ? 0u : 1u) << ui.Transcript();
}

constexpr const char* kEng = "Install Minutrix for ISA-Server";
constexpr const char* kNed = "Installatie van Minutrix voor ISA-Server";

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseCommandLineTest,
    ::testing::Values(CommandCase{"NoArguments", "", true, "ENG", kFalse, kTrue, kFalse, kFalse,
                                  kFalse, kEng},
                      CommandCase{"QuestionMarkShowsHelp", "/?", false, "ENG", kFalse, kTrue,
                                  kFalse, kFalse, kFalse, kEng},
                      CommandCase{"LanguageAfterABlank", "-lng ned", true, "ned", kTrue, kTrue,
                                  kFalse, kFalse, kFalse, kNed},
                      CommandCase{"LanguageWithoutABlank", "-lngNED", true, "ED", kTrue, kTrue,
                                  kFalse, kFalse, kFalse, kEng},
                      CommandCase{"LanguageWithoutAValue", "-LNG", true, "", kTrue, kTrue, kFalse,
                                  kFalse, kFalse, kEng},
                      CommandCase{"NoExtraMessagesNoMdacNoJet", "-x -nm -nj", true, "ENG", kFalse,
                                  kFalse, kFalse, kTrue, kTrue, kEng},
                      CommandCase{"LanguageInAnyCaseAndDebug", "-Lng NeD -d", true, "NeD", kTrue,
                                  kTrue, kTrue, kFalse, kFalse, kNed},
                      // Substrings anywhere count: "-d" inside a path, "help" inside a word.
                      CommandCase{"DebugInsideAPath", "C:\\my-dir\\x", true, "ENG", kFalse, kTrue,
                                  kTrue, kFalse, kFalse, kEng},
                      CommandCase{"HelpInsideAWord", "/helpdesk", false, "ENG", kFalse, kTrue,
                                  kFalse, kFalse, kFalse, kEng}),
    test_support::ByName());

TEST(HelpBox, IsTheInformationBoxAsWritten) {
  ScriptedUi ui("box \"Korvane Minutrix Install Command-Line Arguments : \" OK\n");
  platform::SetAppCommand("/?");
  EXPECT_FALSE(ParseCommandLine());
  const std::vector<std::string> expected = {
      "box \"Korvane Minutrix Install Command-Line Arguments : \" icon information buttons OK "
      "default OK",
      "  | Korvane Minutrix Install Command-Line Arguments : ",
      "  | ",
      "  |  ?         = Help",
      "  |  -lng xxx  = Set Language (xxx = Ned, Eng)",
      "  |  -x        = Extra Messages off (default is on)",
      "  |  -Nm       = Do not install MDAC (Minutrix might not function!)",
      "  |  -Nj       = Do not install JET (Minutrix might not function!)",
      "  | ",
      "answer: box OK"};
  EXPECT_EQ(ui.TranscriptLines(), expected);
}

TEST(LoadMessages, EnglishAndDutchAreCompleteAndDifferent) {
  ScriptedUi ui;
  LoadMessages("ENG");
  std::vector<std::string> english;
  for (const auto& entry : MessageCatalogue()) {
    EXPECT_FALSE(entry.text->empty()) << entry.name;
    english.push_back(*entry.text);
  }
  LoadMessages("nEd");
  size_t i = 0;
  for (const auto& entry : MessageCatalogue()) {
    EXPECT_FALSE(entry.text->empty()) << entry.name;
    EXPECT_NE(*entry.text, english[i++]) << entry.name << " is not translated";
  }
  // 73 texts of the catalogue, the two debug confirmations of the install driver, the failed
  // registration and removal of the filter, the kept database and the database without users.
  EXPECT_EQ(MessageCatalogue().size(), 79u);
}

TEST(LoadMessages, TextsAsWritten) {
  ScriptedUi ui;
  LoadMessages("ENG");
  EXPECT_EQ(MsgErrorDuringInstall,
            std::string("Error encountered during un/installation, \r\n") +
                "If the problem persists, contact Korvane : " + kSupportAddress);
  EXPECT_EQ(MsgRestartComputer,
            "Your computer needs to be restarted for Minutrix to work properly! Do you want to "
            "restart now (All "
            "running programs will be closed!) ?");
  EXPECT_EQ(MsgNotEnoughDiskSpace,
            "Not enough free disk space or FileSystemObject is missing.\r\nNeeded/Available Disk "
            "Space : ");
  EXPECT_EQ(MsgFilterPathStored, "Filter Path is addes to the registry");
  LoadMessages("NED");
  EXPECT_EQ(MsgChooseLanguageFirst, "Kies eerst een taal!");
  EXPECT_EQ(MsgIsInstalled, "Minutrix is geinstalleerd!");
  EXPECT_EQ(MsgAcceptAgreement, "Ik ga accoord met de overeenkomst");
  EXPECT_EQ(MsgDontAcceptAgreement, "Ik ga niet accoord met de overeenkomst");
  EXPECT_EQ(
      MsgErrorDuringInstall,
      std::string(
          "Fout tijdens het un/installeren, \r\nWanneer dit probleem zich blijft voordoen zoek dan "
          "contact met Korvane : ") +
          kSupportAddress);
  EXPECT_EQ(MsgMdacPresent, "MDAC is al op deze machine geinstalleerd!");
  EXPECT_EQ(MsgInstallSuccess, "Minutrix is succesvol geinstalleerd!");
  EXPECT_EQ(MsgAreYouSure, "Weet U het zeker?");
  LoadMessages("xyz");
  EXPECT_EQ(MsgAreYouSure, "Are you sure?");
}

TEST(LoadMessages, DialectSetsOnlyItsFourTexts) {
  ScriptedUi ui;
  LoadMessages("bud");
  EXPECT_EQ(MsgErrorDuringInstall, std::string("Vaut!Meel Korvane ef: ") + kSupportAddress);
  EXPECT_EQ(MsgNoCurrentPath, "Kan't pad nie vinne, Minutrix zal ut dus nie doen!");
  EXPECT_EQ(MsgNoKeyValue, "Kan de sluttel nie vinne, Minutrix kan nie geopend worre!");
  EXPECT_EQ(MsgFoundAppPath, "Ken mezelf nie vinne");
  EXPECT_EQ(MsgInstallTitle, "");
  // Over Dutch, the other texts stay Dutch.
  LoadMessages("NED");
  LoadMessages("BUD");
  EXPECT_EQ(MsgAreYouSure, "Weet U het zeker?");
  EXPECT_EQ(MsgFoundAppPath, "Ken mezelf nie vinne");
}

TEST(ShowMessage, CutsAtLineBreaksAndSelectsTheLastLine) {
  ScriptedUi ui;
  ShowMessage("one\r\ntwo\r\nthree");
  ShowMessage("word\r\n\r\nother");
  ShowMessage("end\r\n");
  ShowMessage("bare\nfeed\rreturn");
  const std::vector<std::string> expected = {"one",   "two", "three", "word",          "",
                                             "other", "end", "",      "barefeedreturn"};
  EXPECT_EQ(ui.List(), expected);
  EXPECT_EQ(InstallForm::Default().lblInfo.ListIndex(), 8);
  EXPECT_EQ(ui.Lines("list: ").size(), expected.size());
}

TEST(ShowMessage, EmptyTextShowsTheBoxAndAddsNothing) {
  ScriptedUi ui("box \"Korvane Minutrix Install\" OK\nbox OK\n");
  LoadMessages("BUD");
  ShowMessage(MsgInstallTitle);
  ShowMessage(MsgFoundAppPath);
  EXPECT_EQ(ui.List(), std::vector<std::string>{"Ken mezelf nie vinne"});
  const auto boxes = ui.Lines("box ");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "box \"Korvane Minutrix Install\" icon none buttons OK default OK");
  EXPECT_NE(ui.Transcript().find("  | Message is not defined!"), std::string::npos);
}

TEST(ShowError, ShowsTheGenericTextWithTheErrorAndClearsIt) {
  ScriptedUi ui;
  LoadMessages("ENG");
  strError = "first\r\nsecond";
  ShowError();
  const std::vector<std::string> expected = {
      "Error encountered during un/installation, ",
      std::string("If the problem persists, contact Korvane : ") + kSupportAddress,
      "",
      "Error : ",
      "first",
      "second"};
  EXPECT_EQ(ui.List(), expected);
  EXPECT_EQ(strError, "");
}

}  // namespace
