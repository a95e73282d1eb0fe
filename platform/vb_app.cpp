// The VB App object and Command$ over argv and /proc.
#include "platform/vb_app.h"

#include <filesystem>

#include "platform/command_line.h"
#include "platform/machine.h"
#include "platform/profile.h"

namespace platform {
namespace {

struct AppState {
  std::string command;
  std::string path;
  std::string exe_name;
  std::string title = "setup";
};

AppState& State() {
  static AppState state;
  return state;
}

}  // namespace

void InitApp(int argc, const char* const* argv) {
  AppState& app = State();
  const std::string line = ProcessCommandLine(argc, argv);
  app.command = SplitProgram(line).tail;
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path self;
  if (argc > 0 && argv[0] != nullptr &&
      std::string_view(argv[0]).find('/') != std::string_view::npos) {
    self = fs::absolute(argv[0], ec).lexically_normal();
  } else {
    self = fs::read_symlink("/proc/self/exe", ec);
  }
  std::string folder = WindowsPath(self.parent_path());
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  app.path = folder;
  app.exe_name = self.stem().string();
  app.title = app.exe_name;
}

const std::string& AppCommand() { return State().command; }
const std::string& AppPath() { return State().path; }
const std::string& AppExeName() { return State().exe_name; }
const std::string& AppTitle() { return State().title; }
void SetAppTitle(std::string_view title) { State().title = std::string(title); }
void SetAppCommand(std::string_view command) { State().command = std::string(command); }

std::string Environ(std::string_view name) {
  const std::string key(name);
  char small[1024];
  const DWORD n = GetEnvironmentVariableA(key.c_str(), small, sizeof small);
  if (n == 0) return "";
  if (n < sizeof small) return std::string(small, n);
  std::string big(n, '\0');
  const DWORD m = GetEnvironmentVariableA(key.c_str(), big.data(), n);
  big.resize(m < n ? m : 0);
  return big;
}

}  // namespace platform
