// Test helper for the installer's steps that change the machine: a fresh machine root made by
// minutrix-machine init, the settings a run has on it, and readers of files and registry values.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "installer/settings.h"
#include "platform/registry.h"
#include "tests/installer/scripted_ui.h"
#include "tests/support/test_support.h"

namespace installer_test {

// Places of a machine that the installer's steps write, as the tests look for them.
inline const std::string kAdo = "C:\\Program Files\\Common Files\\System\\ado\\MsAdo15.dll";
inline const std::string kOfficeAccess =
    "C:\\Program Files\\Microsoft Office\\Office\\msaccess.exe";
inline const std::string kAllPrograms =
    "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
inline const std::string kEntryKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\Minutrix";
inline const std::string kFiltersKey = "SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters";

struct RegValue {
  DWORD type = REG_NONE;
  std::string bytes;
};

// A value as stored: its type and exact bytes; nullopt when missing.
std::optional<RegValue> ReadValue(HKEY root, const std::string& key, const std::string& name);
bool KeyExists(HKEY root, const std::string& key);

// Every file of the machine root (relative path -> its size and hash; folders end in "/"), and the
// registry file without its change counter, for before-and-after comparisons.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

// The whole registry: "ROOT\\key\\" for each key, "ROOT\\key\\[name]" -> "type:hex bytes" for each
// value (names upper-cased, as they compare without case).
std::map<std::string, std::string> RegistryDump();

class StepTest : public ::testing::Test {
 protected:
  explicit StepTest(const std::string& ui_script = "");
  std::filesystem::path Host(const std::string& windows_path) const {
    return machine_.Host(windows_path);
  }
  void Put(const std::string& windows_path, const std::string& text) const;
  bool Exists(const std::string& windows_path) const;
  // The distribution folder "C:\dist\" (strAppPath) with the repository's dist/, the build's
  // Minutrix.dll and sample database, `script` as InstallScript.txt and a settings file.
  void MakeDistribution(const std::string& script);
  // Makes chosen platform calls fail from now on, in this process and in the programs it starts:
  // `lines` of the machine profile's [Faults] section ("RegSetValue=2,112"), replacing those of
  // an earlier call; the counts start again.
  void InjectFaults(const std::string& lines) const;
  // The settings file of the distribution folder, every key set.
  static std::string SettingsFileText();

  test_support::ScratchMachine machine_;
  ScriptedUi ui_;
};

}  // namespace installer_test
