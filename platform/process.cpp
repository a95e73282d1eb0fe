// Starting programs of the machine by fork and exec, and reading /proc for the process look-up.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/command_line.h"
#include "platform/faults.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/profile.h"

extern char** environ;

namespace platform {
namespace {

namespace fs = std::filesystem;

bool IsRegularFile(const fs::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HasExtension(std::string_view name) {
  const size_t slash = name.find_last_of("\\/:");
  const size_t dot = name.rfind('.');
  return dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
}

std::optional<fs::path> TryWithExtensions(const std::string& windows_name) {
  static constexpr const char* kExtensions[] = {"", ".com", ".exe", ".bat", ".cmd"};
  for (const char* ext : kExtensions) {
    if (*ext != '\0' && HasExtension(windows_name)) break;
    if (auto host = HostPath(windows_name + ext); host && IsRegularFile(*host)) return host;
  }
  return std::nullopt;
}

std::vector<std::string> SearchFolders() {
  std::vector<std::string> folders;
  std::error_code ec;
  folders.push_back(WindowsPath(fs::current_path(ec)));
  const std::string windows = MachineSetting("Windows", "WindowsDirectory").value_or("C:\\WINNT");
  folders.push_back(windows + "\\system32");
  folders.push_back(windows);
  if (const auto path = MachineSetting("Environment", "Path")) {
    size_t start = 0;
    while (start <= path->size()) {
      const size_t end = std::min(path->find(';', start), path->size());
      if (end > start) folders.push_back(path->substr(start, end - start));
      start = end + 1;
    }
  }
  return folders;
}

// Writes `value` as decimal into `out` (at least 21 bytes); safe between fork and exec.
void FormatPid(long value, char* out) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 20);
  for (int i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  out[n] = '\0';
}

std::optional<char> ProcState(DWORD pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  const size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return std::nullopt;
  return line[close + 2];
}

}  // namespace

std::optional<fs::path> FindProgram(std::string_view name) {
  std::string text(name);
  if (text.empty()) return std::nullopt;
  if (text.find_first_of("\\/:") != std::string::npos) return TryWithExtensions(text);
  for (const std::string& folder : SearchFolders()) {
    if (auto found = TryWithExtensions(folder + "\\" + text)) return found;
  }
  return std::nullopt;
}

DWORD StartProcess(std::string_view command_line, WindowStyle style) {
  if (InjectedFault(FaultOp::kProcessStart) != ERROR_SUCCESS) return 0;
  const std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const auto program = FindProgram(words[0]);
  if (!program) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (::access(program->c_str(), X_OK) != 0) {
    SetLastError(errno == EACCES ? kErrorBadExeFormat : Win32ErrorFromErrno(errno));
    return 0;
  }

  // Everything the child needs is built before fork: between fork and exec only
  // async-signal-safe calls are allowed.
  std::vector<std::string> args = words;
  args[0] = program->string();
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string line_var = std::string(kCommandLineVariable) + "=" + std::string(command_line);
  std::string pid_var = std::string(kCommandLinePidVariable) + "=";
  const size_t pid_offset = pid_var.size();
  pid_var.append(24, '\0');
  std::vector<char*> envp;
  const std::string line_prefix = std::string(kCommandLineVariable) + "=";
  const std::string pid_prefix = std::string(kCommandLinePidVariable) + "=";
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, line_prefix.c_str(), line_prefix.size()) == 0) continue;
    if (std::strncmp(*e, pid_prefix.c_str(), pid_prefix.size()) == 0) continue;
    envp.push_back(*e);
  }
  envp.push_back(line_var.data());
  envp.push_back(pid_var.data());
  envp.push_back(nullptr);

  int null_fd = -1;
  if (style == WindowStyle::kHide) {
    null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd < 0) {
      SetLastErrorFromErrno();
      return 0;
    }
  }
  int status_pipe[2];
  if (::pipe2(status_pipe, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    if (null_fd >= 0) ::close(null_fd);
    return 0;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    SetLastErrorFromErrno();
    ::close(status_pipe[0]);
    ::close(status_pipe[1]);
    if (null_fd >= 0) ::close(null_fd);
    return 0;
  }
  if (pid == 0) {
    FormatPid(static_cast<long>(::getpid()), pid_var.data() + pid_offset);
    if (null_fd >= 0) {
      ::dup2(null_fd, 0);
      ::dup2(null_fd, 1);
      ::dup2(null_fd, 2);
    }
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(argv[0], argv.data(), envp.data());
    const int err = errno;
    [[maybe_unused]] ssize_t w = ::write(status_pipe[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(status_pipe[1]);
  if (null_fd >= 0) ::close(null_fd);
  int child_errno = 0;
  ssize_t r;
  do {
    r = ::read(status_pipe[0], &child_errno, sizeof child_errno);
  } while (r < 0 && errno == EINTR);
  ::close(status_pipe[0]);
  if (r == static_cast<ssize_t>(sizeof child_errno)) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    SetLastError(child_errno == ENOEXEC ? kErrorBadExeFormat : Win32ErrorFromErrno(child_errno));
    return 0;
  }
  return static_cast<DWORD>(pid);
}

bool ProcessRunning(DWORD pid) {
  if (pid == 0 || pid > 0x7fffffffu) return false;
  int status = 0;
  const pid_t r = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
  if (r == static_cast<pid_t>(pid)) return false;  // our child, just finished and now reaped
  if (r == 0) return true;                         // our child, still running
  const auto state = ProcState(pid);
  return state.has_value() && *state != 'Z' && *state != 'X';
}

std::string ProcessName(DWORD pid) {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  if (!ec) return exe.filename().string();
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

std::vector<DWORD> RunningProcesses() {
  std::vector<DWORD> pids;
  DIR* d = ::opendir("/proc");
  if (d == nullptr) return pids;
  while (dirent* e = ::readdir(d)) {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0') continue;
    if (ProcessRunning(static_cast<DWORD>(pid))) pids.push_back(static_cast<DWORD>(pid));
  }
  ::closedir(d);
  return pids;
}

}  // namespace platform
