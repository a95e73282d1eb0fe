// Test helpers over the platform's host commands and the file system.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/process.h"

namespace test_support {

CommandResult Run(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& extra_env, const std::string& input) {
  platform::HostCommand command;
  command.argv = argv;
  command.extra_env = extra_env;
  command.input = input;
  command.capture_output = true;
  const auto done = platform::RunHostCommand(command);
  if (!done) {
    return {127, "cannot run " + (argv.empty() ? std::string() : argv[0]) + ": " +
                     std::string(platform::SystemErrorText(GetLastError())) + "\n"};
  }
  return {done->exit_code, done->output};
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "minutrix-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScratchMachine::ScratchMachine() {
  if (const char* old = std::getenv("MINUTRIX_ROOT")) {
    had_root_ = true;
    saved_root_ = old;
  }
  const auto result = Run({(kBuildDir / "minutrix-machine").string(), "init", root().string()});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  platform::SetMachineRoot(root());
}

ScratchMachine::~ScratchMachine() {
  if (had_root_) {
    platform::SetMachineRoot(saved_root_);
  } else {
    platform::SetMachineRoot({});
  }
}

std::filesystem::path ScratchMachine::Host(std::string_view windows_path) const {
  auto host = platform::HostPath(windows_path);
  EXPECT_TRUE(host.has_value()) << windows_path;
  return host.value_or(std::filesystem::path());
}

void ScratchMachine::Reg(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {(kBuildDir / "minutrix-machine").string(), "reg"};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto result = Run(argv, {{"MINUTRIX_ROOT", root().string()}});
  ASSERT_EQ(result.exit_code, 0) << result.output;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::filesystem::path& path, std::string_view text) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  for (const auto& line : lines) {
    EXPECT_EQ(line.find('\n'), std::string::npos) << "bare LF in line: " << line;
  }
  return lines;
}

}  // namespace test_support
