// Test helper: scripted UI over an in-memory transcript.
#include "tests/installer/scripted_ui.h"

#include <cstdlib>
#include <sstream>

#include "installer/dialogs.h"
#include "installer/settings.h"
#include "platform/forms_backend.h"
#include "platform/vb_app.h"

namespace installer_test {

ScriptedUi::ScriptedUi(const std::string& script) {
  installer::ResetSettings();
  installer::ResetWindows();
  platform::SetAppTitle(installer::kProgramTitle);
  platform::SetAppCommand("");
  file_ = ::open_memstream(&buffer_, &size_);
  platform::forms::SetAbortThrows(true);
  platform::forms::SetBackend(platform::forms::MakeScriptBackend(script, file_));
}

ScriptedUi::~ScriptedUi() {
  installer::ResetWindows();
  platform::forms::SetBackend(platform::forms::MakeScriptBackend("", nullptr));
  std::fclose(file_);
  std::free(buffer_);
}

std::string ScriptedUi::Transcript() {
  std::fflush(file_);
  return std::string(buffer_, size_);
}

std::vector<std::string> ScriptedUi::TranscriptLines() {
  std::vector<std::string> lines;
  std::istringstream in(Transcript());
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> ScriptedUi::Lines(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : TranscriptLines()) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

std::vector<std::string> ScriptedUi::List() {
  return installer::InstallForm::Default().lblInfo.Items();
}

}  // namespace installer_test
