// Unit RegistryFunctions: the filter's registration, the product key, read-only attributes, COM
// registration, and the registry layer.
#include "installer/registry_functions.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "installer/functions.h"
#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "platform/forms.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/vb_app.h"

namespace installer::RegistryFunctions {
bool RunRegistrationScript(const std::string& command, const std::string& failure) {
  ErrObject err;
  try {
    const bool debug = bDebug == kTrue;
    const double pid =
        Shell(CommandLineFor(command, debug),
              debug ? platform::WindowStyle::kMaximizedFocus : platform::WindowStyle::kHide);
    if (WaitForProcess(pid, strComputerName)) {
      // The interpreter ends with the script's status: a script that could not do its work must
      // not count as done, or the web server is left without (or with) the filter unnoticed.
      const auto status =
          platform::WaitForProcess(static_cast<DWORD>(pid), std::chrono::milliseconds(0));
      if (status && *status == 0) return true;
      const DWORD error = GetLastError();
      strError =
          failure + kCrLf + "Error : " +
          (status ? std::to_string(*status)
                  : std::to_string(error) + " " + std::string(platform::SystemErrorText(error))) +
          kCrLf + "Source : " + command;
      return false;
    }
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
  return RunRegistrationScript(command, MsgFilterNotRegistered);
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
  const std::string key_path = "software\\Minutrix";
  LONG result = ERROR_SUCCESS;
  std::string failed_value;
  HKEY key = CreateRegistryKey(machine, key_path, &result);
  if (key != nullptr) {
    const std::pair<const char*, std::string> values[] = {{"MinutrixPath", strFiltersDirPath},
                                                          {"MinutrixDebug", "0"}};
    for (const auto& [name, text] : values) {
      const LONG set = SetRegistryString(key, name, text);
      if (set != ERROR_SUCCESS && result == ERROR_SUCCESS) {
        result = set;
        failed_value = name;
      }
    }
    RegCloseKey(key);
  }
  RegCloseKey(machine);
  if (result == ERROR_SUCCESS) return true;
  strError = RegistryWriteError(result, key_path, failed_value);
  if (bDebug == kTrue) strError = "[AddPathToReg]" + strError;
  return false;
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

HKEY CreateRegistryKey(HKEY parent, const std::string& name, LONG* result) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG rc = RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  kKeyAccess, nullptr, &key, &disposition);
  if (result != nullptr) *result = rc;
  return key;
}

LONG SetRegistryString(HKEY key, const std::string& name, const std::string& text) {
  return RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size()));
}

std::string RegistryWriteError(LONG code, const std::string& key_path, const std::string& value) {
  return "Error : " + std::to_string(code) + " " + std::string(platform::SystemErrorText(code)) +
         kCrLf + "Source : HKEY_LOCAL_MACHINE\\" + key_path + (value.empty() ? "" : "\\" + value);
}

LONG DeleteRegistryKey(const std::string& key_path) {
  return SHDeleteKeyA(HKEY_LOCAL_MACHINE, key_path.c_str());
}

}  // namespace installer::RegistryFunctions
