// Unit RegistryFunctions: the filter's registration, the product key, read-only attributes, COM
// registration, and the registry layer.
#include "installer/registry_functions.h"

#include <algorithm>

#include "installer/functions.h"
#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "platform/forms.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/vb_app.h"

namespace installer::RegistryFunctions {
bool RunRegistrationScript(const std::string& command) {
  ErrObject err;
  try {
    const bool debug = bDebug == kTrue;
    const double pid =
        Shell(CommandLineFor(command, debug),
              debug ? platform::WindowStyle::kMaximizedFocus : platform::WindowStyle::kHide);
    if (WaitForProcess(pid, strComputerName)) return true;
    err = {0, strError, "Setup"};
  } catch (...) {
    err = CaughtErr();
  }
  strError = ErrorDetails(err);
  platform::forms::MsgBox(strError, platform::forms::vbOKOnly, kProgramTitle);
  return false;
}

bool RegisterFilter() {
  const std::string command = "CScript \"" + strFiltersDirPath + "RegisterISAPIFilter.VBS" +
                              "\" \"" + kFilterDllPath + "\" -n " + "Minutrix";
  return RunRegistrationScript(command);
}

bool AddPathToReg() {
  HKEY machine = nullptr;
  const LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, kKeyAccess, &machine);
  if (rc != ERROR_SUCCESS) {
    strError = "Error : " + std::to_string(rc) + " " + std::string(platform::SystemErrorText(rc)) +
               kCrLf + "Source : " + platform::AppTitle();
    if (bDebug == kTrue) strError = "[AddPathToReg]" + strError;
    return false;
  }
  HKEY key = CreateRegistryKey(machine, "software\\Minutrix");
  SetRegistryString(key, "MinutrixPath", strFiltersDirPath);
  SetRegistryString(key, "MinutrixDebug", "0");
  RegCloseKey(key);
  RegCloseKey(machine);
  return true;
}

bool RemoveReadOnlyAttribute(const std::string& folder) {
  const std::string path = folder.empty() || folder.back() != '\\' ? folder + "\\" : folder;
  const std::string command = "Attrib -r " + path + " /s/d";
  Debug("[RemoveReadOnlyAttribute]" + command);
  try {
    const double pid = Shell(CommandLineFor(command, false), platform::WindowStyle::kHide);
    if (WaitForProcess(pid, strComputerName)) return true;
    strError = "[RemoveReadOnlyAttribute]" + strError;
  } catch (...) {
    strError = "[RemoveReadOnlyAttribute]" + CaughtErr().Description;
  }
  return false;
}

bool RegisterFile(const std::string& path) {
  try {
    const double pid =
        Shell(CommandLineFor("regsvr32 /s " + path, false), platform::WindowStyle::kHide);
    if (WaitForProcess(pid, strComputerName)) return true;
  } catch (...) {
    CaughtErr();
  }
  strError = "FILE : " + path + kCrLf + MsgStkitNotRegistered;
  return false;
}

std::string ReadRegistryString(HKEY root, const std::string& key_path,
                               const std::string& value_name, long trim) {
  std::string value;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, key_path.c_str(), 0, kKeyAccess, &key) == ERROR_SUCCESS) {
    std::string buffer(kRegistryBufferSize, '\0');
    DWORD size = kRegistryBufferSize;
    DWORD type = REG_NONE;
    // A value larger than the buffer fails with ERROR_MORE_DATA and reads as empty: nothing past
    // the buffer is ever taken.
    if (RegQueryValueExA(key, value_name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS) {
      const long count = std::min<long>(static_cast<long>(size), kRegistryBufferSize) - trim;
      if (count > 0) value = buffer.substr(0, static_cast<size_t>(count));
    }
    const size_t comma = value.find(',');
    if (comma != std::string::npos) value.erase(comma);
    RegCloseKey(key);
  }
  if (value.empty()) {
    strError = MsgNoKeyValue + " : KeyPath=" + key_path + " ,strKeyEntry=" + value_name + ".";
  }
  return value;
}

HKEY CreateRegistryKey(HKEY parent, const std::string& name) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kKeyAccess, nullptr,
                  &key, &disposition);
  return key;
}

LONG SetRegistryString(HKEY key, const std::string& name, const std::string& text) {
  return RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size()));
}

LONG DeleteRegistryKey(const std::string& key_path) {
  return SHDeleteKeyA(HKEY_LOCAL_MACHINE, key_path.c_str());
}

}  // namespace installer::RegistryFunctions
