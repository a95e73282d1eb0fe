// Unit RegistryFunctions: the program group with its shortcuts and the uninstall entry, named by
// the settings file MinutrixRegSettings.ini.
#include <cstdlib>
#include <utility>

#include "installer/functions.h"
#include "installer/registry_functions.h"
#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "platform/fso.h"
#include "platform/profile.h"
#include "platform/shell_link.h"
#include "platform/vb_app.h"

namespace installer::RegistryFunctions {
namespace {

// Values of the settings file are read into 64 characters, terminating zero included.
constexpr DWORD kSettingsBufferSize = 64;

// A name from the settings file that may be used as a key or folder below a fixed parent: not
// empty, and never naming the parent itself or anything outside it.
bool UsableName(const std::string& name) {
  std::string rest = name;
  while (!rest.empty() && (rest.front() == '\\' || rest.front() == ' ')) rest.erase(0, 1);
  while (!rest.empty() && (rest.back() == '\\' || rest.back() == ' ')) rest.pop_back();
  if (rest.empty() || rest.find(':') != std::string::npos || rest.find('/') != std::string::npos)
    return false;
  size_t start = 0;
  for (;;) {
    const size_t end = rest.find('\\', start);
    const std::string part = rest.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// A VB Declare of STKIT432.DLL: a library that does not load is a run-time failure of the call.
void CreateShellLink(const std::string& folder, const std::string& name, const std::string& target,
                     const std::string& arguments) {
  if (const auto error = platform::ShellLinkLibraryError())
    throw RunTimeError(error->number, error->description);
  fCreateShellLink(folder.c_str(), name.c_str(), target.c_str(), arguments.c_str());
}

std::string AllUsersGroupFolder(int version_class) {
  const std::string current =
      ReadRegistryString(HKEY_CURRENT_USER, kShellFoldersKey, strLookUpProgramRegistryName, 1);
  return AllUsersProgramsPath(current, version_class);
}

}  // namespace

bool LoadProgramGroupStrings(const std::string& folder) {
  try {
    strProgramGroupName = ReadSettingsString(folder, "ProgramGroup", "GroupName");
    strLookUpProgramRegistryName =
        ReadSettingsString(folder, "ProgramGroup", "LookUpProgramRegistryName");
    const std::string values = "UnInstallFolderGroupValues";
    strUninstallKeyName = ReadSettingsString(folder, values, "GroupName");
    strDisplayNameValue = ReadSettingsString(folder, values, "DisplayNameValue");
    strDisplayVersionValue = ReadSettingsString(folder, values, "DisplayVersionValue");
    strPublisherValue = ReadSettingsString(folder, values, "PublisherValue");
    strURLInfoAboutValue = ReadSettingsString(folder, values, "URLInfoAboutValue");
    strURLUpdateInfoValue = ReadSettingsString(folder, values, "URLUpdateInfoValue");
    strHelpLinkValue = ReadSettingsString(folder, values, "HelpLinkValue");
    const std::string entries = "UnInstallFolderGroupStringEntries";
    strDisplayNameEntry = ReadSettingsString(folder, entries, "DisplayName");
    strUninstallStringEntry = ReadSettingsString(folder, entries, "UninstallString");
    strDisplayVersionEntry = ReadSettingsString(folder, entries, "DisplayVersion");
    strPublisherEntry = ReadSettingsString(folder, entries, "Publisher");
    strURLInfoAboutEntry = ReadSettingsString(folder, entries, "URLInfoAbout");
    strURLUpdateInfoEntry = ReadSettingsString(folder, entries, "URLUpdateInfo");
    strHelpLinkEntry = ReadSettingsString(folder, entries, "HelpLink");
    return true;
  } catch (...) {
    CaughtErr();
    strError = MsgProgramGroupError;
    return false;
  }
}

std::string ReadSettingsString(const std::string& folder, const std::string& section,
                               const std::string& key) {
  char buffer[kSettingsBufferSize] = {};
  const std::string file = folder + kSettingsFileName;
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer,
                                           kSettingsBufferSize, file.c_str());
  return std::string(buffer, n < kSettingsBufferSize ? n : kSettingsBufferSize - 1);
}

bool AddRegistryItem() {
  HKEY uninstall = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey.c_str(), 0, kKeyAccess, &uninstall) !=
      ERROR_SUCCESS) {
    return true;
  }
  // An empty entry name would write the values into the Uninstall key itself; the driver notes
  // the failure and the install goes on.
  bool result = true;
  if (!UsableName(strUninstallKeyName)) {
    strError = MsgProgramGroupError;
    result = false;
  } else {
    LONG rc = ERROR_SUCCESS;
    std::string failed_value;
    HKEY entry = CreateRegistryKey(uninstall, strUninstallKeyName, &rc);
    if (entry != nullptr) {
      const std::pair<const std::string*, std::string> values[] = {
          {&strDisplayNameEntry, strDisplayNameValue},
          {&strUninstallStringEntry, strFiltersDirPath + "Setup.exe"},
          {&strDisplayVersionEntry, strDisplayVersionValue},
          {&strPublisherEntry, strPublisherValue},
          {&strURLInfoAboutEntry, strURLInfoAboutValue},
          {&strURLUpdateInfoEntry, strURLUpdateInfoValue},
          {&strHelpLinkEntry, strHelpLinkValue}};
      for (const auto& [name, text] : values) {
        const LONG set = SetRegistryString(entry, *name, text);
        if (set != ERROR_SUCCESS && rc == ERROR_SUCCESS) {
          rc = set;
          failed_value = *name;
        }
      }
      RegCloseKey(entry);
    }
    if (rc != ERROR_SUCCESS) {
      strError = RegistryWriteError(rc, kUninstallKey + strUninstallKeyName, failed_value);
      result = false;
    }
  }
  RegCloseKey(uninstall);
  return result;
}

bool CreateProgramGroup(int version_class) {
  try {
    const platform::FileSystemObject fso;
    const std::string current =
        ReadRegistryString(HKEY_CURRENT_USER, kShellFoldersKey, strLookUpProgramRegistryName, 1);
    const std::string all_users = AllUsersProgramsPath(current, version_class);
    // Without a group name the shortcuts would land in the Programs folders themselves, and the
    // move would take the whole Start menu.
    if (current.empty() || all_users.empty() || !UsableName(strProgramGroupName)) {
      throw RunTimeError(5, MsgProgramGroupError);
    }
    if (fso.FolderExists(all_users + strProgramGroupName)) return true;
    platform::AutomationError error;
    if (!fso.CreateFolder(current + strProgramGroupName, &error))
      throw RunTimeError(error.number, error.description, error.source);
    const std::string browser = StripEnclosingCharacters(
        ReadRegistryString(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", "", 9));
    CreateShellLink(strProgramGroupName, "Minutrix Online", browser, kProductWebSite);
    CreateShellLink(strProgramGroupName, "UserTimes Database",
                    strFiltersDirPath + "UserTimesDB\\" + "UserTimesDB.mdb", "");
    CreateShellLink(strProgramGroupName, "UnInstall Minutrix", strFiltersDirPath + "Setup.exe", "");
    if (!fso.MoveFolder(current + strProgramGroupName, all_users + strProgramGroupName, &error))
      throw RunTimeError(error.number, error.description, error.source);
    return true;
  } catch (...) {
    const ErrObject err = CaughtErr();
    strError = ErrorDetails(err);
    return false;
  }
}

std::string AllUsersProgramsPath(const std::string& path, int version_class) {
  const size_t last = path.rfind('\\');
  const size_t second =
      last == std::string::npos || last == 0 ? std::string::npos : path.rfind('\\', last - 1);
  if (second == std::string::npos) return "";
  const std::string tail = path.substr(second + 1);
  const std::string profile = path.substr(0, second);
  if (version_class == 2) {
    const std::string all_users = platform::Environ("allusersprofile");
    return all_users.empty() ? "" : all_users + "\\" + tail;
  }
  const size_t parent = profile.rfind('\\');
  if (parent == std::string::npos) return "";
  return profile.substr(0, parent + 1) + "All Users" + "\\" + tail;
}

std::string StripEnclosingCharacters(const std::string& text) {
  if (text.size() < 2) return "";
  return text.substr(1, text.size() - 2);
}

void RemoveProgramGroup(int version_class) {
  const std::string all_users = AllUsersGroupFolder(version_class);
  // Only a named group below a known Programs folder is ever deleted.
  if (all_users.empty() || !UsableName(strProgramGroupName)) return;
  const platform::FileSystemObject fso;
  if (fso.FolderExists(all_users + strProgramGroupName)) {
    platform::AutomationError error;
    fso.DeleteFolder(all_users + strProgramGroupName, true, &error);
  }
}

void RemoveUninstallEntry() {
  if (!UsableName(strUninstallKeyName)) return;
  DeleteRegistryKey(kUninstallKey + strUninstallKeyName);
}

}  // namespace installer::RegistryFunctions
