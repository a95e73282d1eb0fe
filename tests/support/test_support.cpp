// Test helpers over fork/exec and the file system.
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/machine.h"

extern char** environ;

namespace test_support {

CommandResult Run(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& extra_env, const std::string& input) {
  CommandResult result;
  int out_pipe[2], in_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(in_pipe, O_CLOEXEC) != 0) return result;
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (!extra_env.count(name)) env_strings.push_back(entry);
  }
  for (const auto& [name, value] : extra_env) env_strings.push_back(name + "=" + value);
  std::vector<char*> env_ptrs, arg_ptrs;
  for (auto& s : env_strings) env_ptrs.push_back(s.data());
  env_ptrs.push_back(nullptr);
  std::vector<std::string> args = argv;
  for (auto& s : args) arg_ptrs.push_back(s.data());
  arg_ptrs.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(out_pipe[1], 2);
    ::execve(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
    std::fprintf(stderr, "cannot run %s: %s\n", arg_ptrs[0], std::strerror(errno));
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(in_pipe[0]);
  size_t written = 0;
  if (input.empty()) {
    ::close(in_pipe[1]);
    in_pipe[1] = -1;
  }
  char buf[4096];
  for (;;) {
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {in_pipe[1], POLLOUT, 0}};
    const int n = ::poll(fds, in_pipe[1] >= 0 ? 2 : 1, -1);
    if (n < 0 && errno == EINTR) continue;
    if (in_pipe[1] >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t w = ::write(in_pipe[1], input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 || written == input.size()) {
        ::close(in_pipe[1]);
        in_pipe[1] = -1;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t r = ::read(out_pipe[0], buf, sizeof buf);
      if (r <= 0) break;
      result.output.append(buf, static_cast<size_t>(r));
    }
  }
  if (in_pipe[1] >= 0) ::close(in_pipe[1]);
  ::close(out_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
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
