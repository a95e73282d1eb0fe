// Processes started by a Windows command line (as VB's Shell and CreateProcess do), with real
// process ids, and the look-up of running processes that the WMI stand-in answers from.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace platform {

// The window styles of VB's Shell. Hidden processes get /dev/null for their standard streams;
// every other style shares the console (terminal) of the starting process.
enum class WindowStyle {
  kHide = 0,
  kNormalFocus = 1,
  kMinimizedFocus = 2,
  kMaximizedFocus = 3,
  kNormalNoFocus = 4,
  kMinimizedNoFocus = 6,
};

inline constexpr DWORD kErrorBadExeFormat = 193;

// Host file of the program a command names, as Windows finds it: a name with a drive or a folder
// is taken as a path (relative to the current folder); a bare name is looked for in the current
// folder, the machine's system32 and Windows folders and its Path. Without an extension the
// names with .com, .exe, .bat and .cmd are tried after the name itself. nullopt when not found.
std::optional<std::filesystem::path> FindProgram(std::string_view name);

// Whether `host_path` is a regular file this process may execute.
bool IsExecutableFile(const std::filesystem::path& host_path);

// Starts the program named by the first part of `command_line`; it gets the rest split by the C
// runtime's rules, and the raw line through the variables of command_line.h. Returns the real
// process id, or 0 with the last error set (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
// kErrorBadExeFormat). The process runs on after this one ends, as on Windows.
DWORD StartProcess(std::string_view command_line, WindowStyle style);

// Whether a process with this id exists. A finished child of this process is reaped here, so it
// is never reported as running; other finished (zombie) processes do not count either.
bool ProcessRunning(DWORD pid);

// The file name of a process's program ("cmd.exe"), or empty when it cannot be read.
std::string ProcessName(DWORD pid);

// Ids of all running processes.
std::vector<DWORD> RunningProcesses();

inline constexpr DWORD kWaitTimeout = 258;  // WAIT_TIMEOUT

// Waits until the child `pid` of this process (from StartProcess) ends, at most `timeout` (none:
// as long as it takes). Returns its exit code: the exit status, or 128 + the signal that ended
// it. nullopt when it still runs at the timeout (last error kWaitTimeout) or is no child of this
// process (ERROR_INVALID_PARAMETER). A child that ProcessRunning reaped still answers here.
std::optional<int> WaitForProcess(DWORD pid,
                                  std::optional<std::chrono::milliseconds> timeout = std::nullopt);

// A program of the host (not of the machine) to run and wait for.
struct HostCommand {
  std::vector<std::string> argv;  // argv[0]: a host path, or a name looked for in $PATH
  std::map<std::string, std::string> extra_env;  // set on top of this process's environment
  std::filesystem::path working_dir;             // empty: this process's current folder
  std::optional<std::string> input;  // fed to standard input, then end of input; none: shared
  bool capture_output = false;  // standard output and error together into `output`; else shared
};

struct HostCommandResult {
  int exit_code = -1;  // as WaitForProcess answers it
  std::string output;  // when captured
};

// Runs `command` and waits for it. nullopt when it cannot be started: the program is missing or
// not executable, or the working folder is missing (last error says which). May be called from
// several threads; the child gets only the standard streams.
std::optional<HostCommandResult> RunHostCommand(const HostCommand& command);

// Points this process's standard streams (0, 1, 2) elsewhere and puts them back, in reverse
// order, when destroyed; the redirected streams are what started programs inherit. The standard
// streams belong to the whole process: use from one thread.
class StandardStreamRedirection {
 public:
  enum class Mode { kRead, kTruncate, kAppend };

  StandardStreamRedirection() = default;
  ~StandardStreamRedirection();
  StandardStreamRedirection(const StandardStreamRedirection&) = delete;
  StandardStreamRedirection& operator=(const StandardStreamRedirection&) = delete;

  // Each returns true, or false with the last error set and `stream` unchanged.
  bool ToFile(int stream, const std::filesystem::path& host_path, Mode mode);
  bool ToNullDevice(int stream);
  // To what the open descriptor `other` names ("2>&1").
  bool ToStream(int stream, int other);

 private:
  bool Point(int stream, int fd);

  std::vector<std::pair<int, int>> saved_;  // stream and its saved copy; -1: it was closed
};

// Reads one line of standard input a byte at a time (so that programs started afterwards see the
// rest), without its "\n". False when the input ended first; `line` then holds what was read.
bool ReadStandardInputLine(std::string& line);

// The login behind this process, for the records of who changed what: SUDO_USER (the
// administrator who ran sudo), else LOGNAME, else "uid N" of the real user id. Thread-safe as
// long as nobody changes the environment.
std::string LoginName();

}  // namespace platform
