// Module Settings: the installer's global state for one run (flags, paths, the chosen action, the
// accumulated error text), its fixed values, and the message catalogue that LoadMessages fills.
// Flags are VB flags: true is all bits set (-1), false is 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

using Flag = std::int16_t;
inline constexpr Flag kTrue = -1;
inline constexpr Flag kFalse = 0;
inline Flag ToFlag(bool value) { return value ? kTrue : kFalse; }

inline constexpr const char* kCrLf = "\r\n";
// The vendor's support address, part of MsgErrorDuringInstall.
inline constexpr const char* kSupportAddress = "support@korvane.nl";
// The program's title (App.Title): the title of boxes that name none.
inline constexpr const char* kProgramTitle = "Korvane Minutrix Install";

namespace Settings {

inline std::string strLanguage = "ENG";
inline Flag bExtraMessages = kTrue;
inline Flag bDebug = kFalse;
inline Flag bLanguageGiven = kFalse;
inline Flag bNoMDAC = kFalse;
inline Flag bNoJET = kFalse;
inline std::string strAppPath;
inline std::int16_t iWinVersion = 0;
inline std::string strComputerName;
inline std::string strWindowsDir;
inline std::string strWWWRoot;
inline std::string strSystemPath;
inline Flag bInstalled = kFalse;
inline std::string strFilterDllPath;
inline std::int16_t iAction = 0;
inline Flag bQuit = kFalse;
inline Flag bNoInstall = kFalse;
inline Flag bRestartNeeded = kFalse;
inline Flag bNoCommonFiles = kFalse;
inline Flag bInstallJET = kFalse;
// Set by the install driver while it runs when the product's database was there before it: the
// copy, the removal of an old installation and the rollback leave that database alone.
inline Flag bKeepDatabase = kFalse;
// Full path of the Access program that isAccessOK found; empty when none.
inline std::string strAccessPath;
inline std::string strError;

// The program group and uninstall entry, from MinutrixRegSettings.ini (LoadProgramGroupStrings).
inline std::string strProgramGroupName;           // [ProgramGroup] GroupName, begins with "\\"
inline std::string strLookUpProgramRegistryName;  // [ProgramGroup] LookUpProgramRegistryName
inline std::string strUninstallKeyName;           // [UnInstallFolderGroupValues] GroupName
inline std::string strDisplayNameValue;
inline std::string strDisplayVersionValue;
inline std::string strPublisherValue;
inline std::string strURLInfoAboutValue;
inline std::string strURLUpdateInfoValue;
inline std::string strHelpLinkValue;
// Names of the uninstall entry's values ([UnInstallFolderGroupStringEntries]).
inline std::string strDisplayNameEntry;
inline std::string strUninstallStringEntry;
inline std::string strDisplayVersionEntry;
inline std::string strPublisherEntry;
inline std::string strURLInfoAboutEntry;
inline std::string strURLUpdateInfoEntry;
inline std::string strHelpLinkEntry;

// Fixed values.
inline const std::string strFiltersDirPath = "c:\\Minutrix\\";
inline const std::string kFilterDllPath = "c:\\Minutrix\\Minutrix.DLL";
// The administrator's users, minutes, free sites and settings; the install script names it.
inline const std::string kDatabasePath = "c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb";
inline const std::string kWebRootKey = "software\\microsoft\\inetstp";
inline const std::string kWebRootValue = "PathWWWRoot";
inline const std::string kNt4WebRootKey =
    "SYSTEM\\ControlSet001\\Services\\W3SVC\\Parameters\\Virtual Roots\\";
inline const std::string kNt4WebRootValue = "/";
inline const std::string kSystemFolder = "system32\\";

// The message catalogue; every text is empty until LoadMessages sets it.
#define X(name, english, dutch) inline std::string name;
#include "installer/messages.def"
#undef X

// Fills the catalogue in a language: "NED" (any case) Dutch, "BUD" only the dialect's four texts,
// anything else English.
void LoadMessages(std::string_view language);

// Every setting and message back to its value at the start of a run.
void ResetSettings();

// The catalogue by name, for tests and tools: each message's name and its text variable.
struct MessageEntry {
  const char* name;
  std::string* text;
};
const std::vector<MessageEntry>& MessageCatalogue();

}  // namespace Settings

using namespace Settings;

}  // namespace installer
