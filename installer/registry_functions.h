// Unit RegistryFunctions: the product's registration with the web server and its registry values,
// the registry layer the installer uses, and the program group with the uninstall entry.
#pragma once

#include <string>

#include "platform/registry.h"

namespace installer {
namespace RegistryFunctions {

// Every key the installer opens or creates: query, set, create subkey, enumerate, notify, link.
inline constexpr REGSAM kKeyAccess = 0x3F;
// Room for a value read back, terminating zero included.
inline constexpr DWORD kRegistryBufferSize = 255;

inline const std::string kUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\";
inline const std::string kShellFoldersKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline const std::string kSettingsFileName = "MinutrixRegSettings.ini";
inline const std::string kProductWebSite = "http://www.korvane.nl/minutrix/";

// Runs a registration script's command through the interpreter and waits for it; in debug mode
// its console stays open, in front, until it is closed. False, with strError and a box, when the
// wait fails; false, with strError = `failure`, the exit status and the command, when the script
// ends with a status other than 0.
bool RunRegistrationScript(const std::string& command, const std::string& failure);
// Runs the product's registration script for c:\Minutrix\Minutrix.DLL and waits for it.
bool RegisterFilter();
// Writes MinutrixPath and MinutrixDebug under HKLM\software\Minutrix. False, with strError set,
// when HKLM cannot be opened or the key or a value cannot be written.
bool AddPathToReg();
// Attrib -r over the folder and everything in it.
bool RemoveReadOnlyAttribute(const std::string& folder);
// regsvr32 /s of a DLL.
bool RegisterFile(const std::string& path);

// The value's text without its last `trim` characters and cut at the first ","; empty, with
// strError set, when the key or value cannot be read or does not fit 255 bytes.
std::string ReadRegistryString(HKEY root, const std::string& key_path,
                               const std::string& value_name, long trim);
// The created or opened key, or null; `result`, when given, receives the registry's result code.
HKEY CreateRegistryKey(HKEY parent, const std::string& name, LONG* result = nullptr);
// A REG_SZ of the text's bytes without a terminating zero.
LONG SetRegistryString(HKEY key, const std::string& name, const std::string& text);
// strError's text for a registry write that failed with `code`: "Error : ", the code and its
// description, and as the source the key (below HKEY_LOCAL_MACHINE) and value.
std::string RegistryWriteError(LONG code, const std::string& key_path, const std::string& value);
// The key under HKLM with all its subkeys and values.
LONG DeleteRegistryKey(const std::string& key_path);

// The sixteen program group and uninstall entry strings of MinutrixRegSettings.ini in `folder`.
bool LoadProgramGroupStrings(const std::string& folder);
std::string ReadSettingsString(const std::string& folder, const std::string& section,
                               const std::string& key);
// The uninstall entry under HKLM\...\UnInstall\ + strUninstallKeyName; false, with strError =
// MsgProgramGroupError and nothing written, when that name is empty or leaves the key, and with
// the registry's error when the entry key or one of its values cannot be written.
bool AddRegistryItem();
// The program group with its three shortcuts in the Programs folder of all users.
bool CreateProgramGroup(int version_class);
// The all-users Programs folder that belongs to a user's Programs folder.
std::string AllUsersProgramsPath(const std::string& path, int version_class);
std::string StripEnclosingCharacters(const std::string& text);
void RemoveProgramGroup(int version_class);
void RemoveUninstallEntry();

}  // namespace RegistryFunctions

using namespace RegistryFunctions;

}  // namespace installer
