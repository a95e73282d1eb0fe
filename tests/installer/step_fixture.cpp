// Test helper for the installer's steps that change the machine.
#include "tests/installer/step_fixture.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "installer/functions.h"
#include "platform/faults.h"
#include "platform/machine.h"
#include "platform/profile.h"

namespace installer_test {

namespace fs = std::filesystem;

std::optional<RegValue> ReadValue(HKEY root, const std::string& key, const std::string& name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = REG_NONE, size = 0;
  std::optional<RegValue> value;
  if (RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::string bytes(size, '\0');
    if (RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(bytes.data()), &size) == ERROR_SUCCESS) {
      bytes.resize(size);
      value = RegValue{type, bytes};
    }
  }
  RegCloseKey(handle);
  return value;
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    if (name == "registry.txt.lock") continue;
    if (entry.is_directory()) {
      files[name + "/"] = "";
    } else {
      // Size and hash: the maps stay small enough to print when they differ.
      const std::string content = test_support::ReadFile(entry.path());
      files[name] = std::to_string(content.size()) + " bytes, hash " +
                    std::to_string(std::hash<std::string>{}(content));
    }
  }
  return files;
}

namespace {

void DumpKey(HKEY key, const std::string& path, std::map<std::string, std::string>& out) {
  out[platform::UpperAscii(path) + "\\"] = "";
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD name_size = sizeof name;
    std::string data(1 << 16, '\0');
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (RegEnumValueA(key, i, name, &name_size, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &data_size) != ERROR_SUCCESS)
      break;
    std::string text = std::to_string(type) + ":";
    for (DWORD b = 0; b < data_size; ++b) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(data[b]));
      text += hex;
    }
    out[platform::UpperAscii(path) + "\\[" + platform::UpperAscii(name) + "]"] = text;
  }
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD name_size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      DumpKey(sub, path + "\\" + name, out);
      RegCloseKey(sub);
    }
  }
}

}  // namespace

std::map<std::string, std::string> RegistryDump() {
  std::map<std::string, std::string> out;
  const std::pair<HKEY, const char*> roots[] = {{HKEY_LOCAL_MACHINE, "HKLM"},
                                                {HKEY_CURRENT_USER, "HKCU"},
                                                {HKEY_CLASSES_ROOT, "HKCR"},
                                                {HKEY_USERS, "HKU"}};
  for (const auto& [root, name] : roots) DumpKey(root, name, out);
  return out;
}

StepTest::StepTest(const std::string& ui_script) : ui_(ui_script) {
  using namespace installer;
  LoadMessages("ENG");
  strComputerName = platform::MachineSetting("Windows", "ComputerName").value_or("");
  strWindowsDir = "C:\\WINNT\\";
  strSystemPath = "C:\\WINNT\\system32\\";
  strWWWRoot = "C:\\Inetpub\\wwwroot\\";
  strAppPath = "C:\\dist\\";
  iWinVersion = 2;
  bExtraMessages = kTrue;
}

void StepTest::Put(const std::string& windows_path, const std::string& text) const {
  test_support::WriteFile(Host(windows_path), text);
}

bool StepTest::Exists(const std::string& windows_path) const {
  std::error_code ec;
  return fs::exists(Host(windows_path), ec);
}

std::string StepTest::SettingsFileText() {
  return "[ProgramGroup]\r\n"
         "GroupName=\\Minutrix\r\n"
         "LookUpProgramRegistryName=Programs\r\n"
         "[UnInstallFolderGroupValues]\r\n"
         "GroupName=Minutrix\r\n"
         "DisplayNameValue=Korvane Minutrix\r\n"
         "DisplayVersionValue=1.0\r\n"
         "PublisherValue=Korvane\r\n"
         "URLInfoAboutValue=http://www.korvane.nl/\r\n"
         "URLUpdateInfoValue=http://www.korvane.nl/minutrix/\r\n"
         "HelpLinkValue=mailto:support@korvane.nl\r\n"
         "[UnInstallFolderGroupStringEntries]\r\n"
         "DisplayName=DisplayName\r\n"
         "UninstallString=UninstallString\r\n"
         "DisplayVersion=DisplayVersion\r\n"
         "Publisher=Publisher\r\n"
         "URLInfoAbout=URLInfoAbout\r\n"
         "URLUpdateInfo=URLUpdateInfo\r\n"
         "HelpLink=HelpLink\r\n";
}

void StepTest::InjectFaults(const std::string& lines) const {
  const fs::path profile = machine_.root() / "machine.ini";
  std::string text = test_support::ReadFile(profile);
  // The section is always the last one: a new call replaces what an earlier one asked for.
  const size_t earlier = text.find("\n[Faults]\n");
  if (earlier != std::string::npos) text.erase(earlier);
  test_support::WriteFile(profile, text + "\n[Faults]\n" + lines + "\n");
  platform::ReloadFaults();
}

void StepTest::MakeDistribution(const std::string& script) {
  const fs::path dist = Host("C:\\dist");
  fs::create_directories(dist);
  fs::copy(test_support::kSourceDir / "dist", dist,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  fs::copy_file(test_support::kBuildDir / "Minutrix.dll", dist / "Minutrix.dll",
                fs::copy_options::overwrite_existing);
  fs::create_directories(dist / "UserTimesDB");
  fs::copy_file(test_support::kBuildDir / "UserTimesDB" / "UserTimesDB.mdb",
                dist / "UserTimesDB" / "UserTimesDB.mdb", fs::copy_options::overwrite_existing);
  fs::copy_file(test_support::kBuildDir / "setup", dist / "Setup.exe",
                fs::copy_options::overwrite_existing);
  Put("C:\\dist\\InstallScript.txt", script);
  Put("C:\\dist\\MinutrixRegSettings.ini", SettingsFileText());
}

}  // namespace installer_test
