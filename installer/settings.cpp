// The message catalogue in its languages, and the reset of the settings.
#include "installer/settings.h"

#include "platform/machine.h"

namespace installer::Settings {

void LoadMessages(std::string_view language) {
  const std::string code = platform::UpperAscii(language);
  if (code == "BUD") {
    MsgErrorDuringInstall = std::string("Vaut!") + "Meel Korvane ef: " + kSupportAddress;
    MsgNoCurrentPath = "Kan't pad nie vinne, Minutrix zal ut dus nie doen!";
    MsgNoKeyValue = "Kan de sluttel nie vinne, Minutrix kan nie geopend worre!";
    MsgFoundAppPath = "Ken mezelf nie vinne";
    return;
  }
  if (code == "NED") {
#define X(name, english, dutch) name = dutch;
#include "installer/messages.def"
#undef X
    return;
  }
#define X(name, english, dutch) name = english;
#include "installer/messages.def"
#undef X
}

void ResetSettings() {
  strLanguage = "ENG";
  bExtraMessages = kTrue;
  bDebug = kFalse;
  bLanguageGiven = kFalse;
  bNoMDAC = kFalse;
  bNoJET = kFalse;
  strAppPath.clear();
  iWinVersion = 0;
  strComputerName.clear();
  strWindowsDir.clear();
  strWWWRoot.clear();
  strSystemPath.clear();
  bInstalled = kFalse;
  strFilterDllPath.clear();
  iAction = 0;
  bQuit = kFalse;
  bNoInstall = kFalse;
  bRestartNeeded = kFalse;
  bNoCommonFiles = kFalse;
  bInstallJET = kFalse;
  bKeepDatabase = kFalse;
  strAccessPath.clear();
  strError.clear();
  for (std::string* text :
       {&strProgramGroupName, &strLookUpProgramRegistryName, &strUninstallKeyName,
        &strDisplayNameValue, &strDisplayVersionValue, &strPublisherValue, &strURLInfoAboutValue,
        &strURLUpdateInfoValue, &strHelpLinkValue, &strDisplayNameEntry, &strUninstallStringEntry,
        &strDisplayVersionEntry, &strPublisherEntry, &strURLInfoAboutEntry, &strURLUpdateInfoEntry,
        &strHelpLinkEntry}) {
    text->clear();
  }
#define X(name, english, dutch) name.clear();
#include "installer/messages.def"
#undef X
}

const std::vector<MessageEntry>& MessageCatalogue() {
  static const std::vector<MessageEntry> catalogue = {
#define X(name, english, dutch) {#name, &name},
#include "installer/messages.def"
#undef X
  };
  return catalogue;
}

}  // namespace installer::Settings
