// Test helper: the installer's state reset for a new run, and its windows and boxes driven by a UI
// script with the transcript kept in memory.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace installer_test {

class ScriptedUi {
 public:
  // Resets settings and windows; `script` answers what the installer asks.
  explicit ScriptedUi(const std::string& script = "");
  ~ScriptedUi();
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;

  std::string Transcript();
  std::vector<std::string> TranscriptLines();
  // The items of InstallForm's list.
  std::vector<std::string> List();
  // Lines of the transcript that start with `prefix`.
  std::vector<std::string> Lines(const std::string& prefix);

 private:
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};

}  // namespace installer_test
