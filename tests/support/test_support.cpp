// Test helpers over the platform's host commands and the file system.
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

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
  // A file written into the folder while it is being removed (a program's last write as it
  // stops) makes the removal fail with the folder not empty: try again a few times.
  if (path_.empty()) return;
  std::error_code ec;
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::filesystem::remove_all(path_, ec);
    if (!ec && !std::filesystem::exists(path_)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "scratch folder %s was not removed: %s\n", path_.c_str(),
               ec.message().c_str());
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

namespace test_support {

LiveProcess::LiveProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& extra_env,
                         const std::filesystem::path& stderr_file) {
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  std::vector<std::string> env_text;
  for (const auto& [name, value] : extra_env) env_text.push_back(name + "=" + value);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    const int err = ::open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) ::dup2(err, 2);
    for (const auto& pair : env_text) ::putenv(const_cast<char*>(pair.c_str()));
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  pid_ = pid;
  to_child_ = in[1];
  from_child_ = out[0];
  ::signal(SIGPIPE, SIG_IGN);  // a program that died must fail the test, not end it
}

LiveProcess::~LiveProcess() { Stop(); }

std::string LiveProcess::Ask(const std::string& line, int timeout_ms) {
  if (to_child_ < 0) return {};
  const std::string text = line + "\n";
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(to_child_, text.data() + written, text.size() - written);
    if (n <= 0) return {};
    written += static_cast<size_t>(n);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const size_t newline = buffered_.find('\n');
    if (newline != std::string::npos) {
      std::string answer = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      return answer;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return {};
    pollfd ready{from_child_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(from_child_, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

bool LiveProcess::Running() {
  if (pid_ < 0) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  pid_ = -1;
  return false;
}

int LiveProcess::Stop(int timeout_ms) {
  if (to_child_ >= 0) ::close(to_child_);
  to_child_ = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      status_ = 128 + SIGKILL;
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (from_child_ >= 0) ::close(from_child_);
  from_child_ = -1;
  return status_;
}

}  // namespace test_support
