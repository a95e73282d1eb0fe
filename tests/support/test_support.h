// Shared by the tests: scratch machine roots made by the real minutrix-machine tool, running
// programs of the build, and reading what they wrote.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace test_support {

inline const std::filesystem::path kBuildDir = MINUTRIX_BUILD_DIR;
inline const std::filesystem::path kSourceDir = MINUTRIX_SOURCE_DIR;

// Names each case of a parameterised test by its parameter's `name` member (the fourth argument
// of INSTANTIATE_TEST_SUITE_P), so that test names read well and stay the same between builds.
struct ByName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return std::string(info.param.name);
  }
};

// Asks `condition` until it holds or `timeout` has passed, and returns its last answer: a test
// waits with this, then asserts. The timeout only bounds a wait that would otherwise hang.
template <typename Condition>
bool WaitUntil(Condition condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

struct CommandResult {
  int exit_code = -1;  // the exit status, or 128 + signal
  std::string output;  // standard output and standard error together
};

// Runs `argv` (argv[0] a path) with `extra_env` added to this process's environment, feeding
// `input` to its standard input, and waits for it.
CommandResult Run(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& extra_env = {},
                  const std::string& input = {});

// A new folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A machine root laid out by `minutrix-machine init`, set as MINUTRIX_ROOT while it lives.
class ScratchMachine {
 public:
  ScratchMachine();
  ~ScratchMachine();
  const std::filesystem::path& root() const { return dir_.path(); }
  // Host path of a Windows path of this machine.
  std::filesystem::path Host(std::string_view windows_path) const;
  // Runs `minutrix-machine reg ARGS...` on this machine; fails the test when it fails.
  void Reg(const std::vector<std::string>& args) const;

 private:
  ScratchDir dir_;
  std::string saved_root_;
  bool had_root_ = false;
};

std::string ReadFile(const std::filesystem::path& path);
// Writes `text` as the whole file, making its folders first.
void WriteFile(const std::filesystem::path& path, std::string_view text);
// Lines of a CR LF text; fails the test if a line ends in a bare LF.
std::vector<std::string> CrLfLines(const std::string& text);

}  // namespace test_support

namespace test_support {

// A program of the build kept running with pipes to its standard input and output, for talking
// to it line by line (a Squid helper); standard error goes to a file. Stopped when destroyed.
class LiveProcess {
 public:
  LiveProcess(const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& extra_env,
              const std::filesystem::path& stderr_file);
  ~LiveProcess();
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;

  // Sends `line` (a newline is added) and returns the next line of output, without its newline;
  // empty when the program wrote none within `timeout_ms` or has ended.
  std::string Ask(const std::string& line, int timeout_ms = 10000);
  int pid() const { return pid_; }
  // Whether the program still runs; its exit status (or 128 + signal) once it ended.
  bool Running();
  int ExitStatus() const { return status_; }
  // Closes its standard input and waits for it to end; kills it after `timeout_ms`.
  int Stop(int timeout_ms = 10000);

 private:
  int pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  int status_ = -1;
  std::string buffered_;
};

}  // namespace test_support
