// Starting programs of the machine by fork and exec, and reading /proc for the process look-up.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
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

void RememberExitStatus(pid_t pid, int status);

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
  if (r == static_cast<pid_t>(pid)) {  // our child, just finished and now reaped
    RememberExitStatus(r, status);
    return false;
  }
  if (r == 0) return true;  // our child, still running
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

// ---- Waiting, host commands and the standard streams ----

bool IsExecutableFile(const fs::path& host_path) {
  return IsRegularFile(host_path) && ::access(host_path.c_str(), X_OK) == 0;
}

namespace {

std::mutex g_reaped_mutex;
std::map<pid_t, int> g_reaped;  // wait statuses of children that ProcessRunning reaped

void RememberExitStatus(pid_t pid, int status) {
  std::lock_guard<std::mutex> lock(g_reaped_mutex);
  g_reaped[pid] = status;
}

std::optional<int> TakeRememberedStatus(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_reaped_mutex);
  const auto it = g_reaped.find(pid);
  if (it == g_reaped.end()) return std::nullopt;
  const int status = it->second;
  g_reaped.erase(it);
  return status;
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The file that exec would run for `name`: a name with a slash as it is, else the first
// executable file of that name in the folders of `path`.
std::string ResolveInPath(const std::string& name, const std::string& path) {
  if (name.find('/') != std::string::npos) return name;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find(':', start), path.size());
    const std::string folder = end > start ? path.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + name;
    if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Feeds `input` to `in_fd` and collects `out_fd` until both are done; closes both.
void Exchange(int in_fd, int out_fd, const std::string& input, std::string& output) {
  size_t written = 0;
  if (in_fd >= 0 && input.empty()) CloseIfOpen(in_fd);
  char buffer[4096];
  while (in_fd >= 0 || out_fd >= 0) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (in_fd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t w = ::write(in_fd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if ((w < 0 && errno != EINTR && errno != EAGAIN) || written == input.size())
        CloseIfOpen(in_fd);
    }
    if (out_fd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t r = ::read(out_fd, buffer, sizeof buffer);
      if (r > 0) {
        output.append(buffer, static_cast<size_t>(r));
      } else if (r == 0 || errno != EINTR) {
        CloseIfOpen(out_fd);
      }
    }
  }
  CloseIfOpen(in_fd);
  CloseIfOpen(out_fd);
}

}  // namespace

std::optional<int> WaitForProcess(DWORD pid, std::optional<std::chrono::milliseconds> timeout) {
  if (pid == 0 || pid > 0x7fffffffu) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  const auto child = static_cast<pid_t>(pid);
  const auto deadline = timeout ? std::chrono::steady_clock::now() + *timeout
                                : std::chrono::steady_clock::time_point();
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (const auto remembered = TakeRememberedStatus(child)) return ExitCode(*remembered);
    int status = 0;
    const pid_t r = ::waitpid(child, &status, timeout ? WNOHANG : 0);
    if (r == child) return ExitCode(status);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      // ProcessRunning on another thread may have reaped it in between.
      if (const auto remembered = TakeRememberedStatus(child)) return ExitCode(*remembered);
      SetLastError(ERROR_INVALID_PARAMETER);
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      SetLastError(kWaitTimeout);
      return std::nullopt;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

std::optional<HostCommandResult> RunHostCommand(const HostCommand& command) {
  if (command.argv.empty() || command.argv[0].empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  // Everything the child needs is built before fork: between fork and exec only
  // async-signal-safe calls are allowed.
  std::vector<std::string> env_strings;
  std::string search_path = "/usr/local/bin:/usr/bin:/bin";
  if (const char* p = std::getenv("PATH")) search_path = p;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    if (!command.extra_env.count(std::string(entry.substr(0, entry.find('=')))))
      env_strings.emplace_back(entry);
  }
  for (const auto& [name, value] : command.extra_env) {
    env_strings.push_back(name + "=" + value);
    if (name == "PATH") search_path = value;
  }
  const std::string program = ResolveInPath(command.argv[0], search_path);
  if (program.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  std::vector<std::string> args = command.argv;
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string dir = command.working_dir.string();

  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, status_pipe[2] = {-1, -1};
  const auto close_all = [&] {
    for (int* p : {in_pipe, out_pipe, status_pipe}) {
      CloseIfOpen(p[0]);
      CloseIfOpen(p[1]);
    }
  };
  if ((command.input && ::pipe2(in_pipe, O_CLOEXEC) != 0) ||
      (command.capture_output && ::pipe2(out_pipe, O_CLOEXEC) != 0) ||
      ::pipe2(status_pipe, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    close_all();
    return std::nullopt;
  }
  // A child that stops reading its input must not kill this process with SIGPIPE.
  sigset_t pipe_only, old_mask;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    bool ok = true;
    if (in_pipe[0] >= 0) ok = ok && ::dup2(in_pipe[0], 0) >= 0;
    if (out_pipe[1] >= 0) ok = ok && ::dup2(out_pipe[1], 1) >= 0 && ::dup2(out_pipe[1], 2) >= 0;
    if (ok && !dir.empty()) ok = ::chdir(dir.c_str()) == 0;
    if (ok) ::execve(program.c_str(), argv.data(), envp.data());
    const int err = errno;
    [[maybe_unused]] ssize_t w = ::write(status_pipe[1], &err, sizeof err);
    ::_exit(127);
  }
  const int fork_errno = errno;
  CloseIfOpen(in_pipe[0]);
  CloseIfOpen(out_pipe[1]);
  CloseIfOpen(status_pipe[1]);
  std::optional<HostCommandResult> result;
  if (pid < 0) {
    SetLastError(Win32ErrorFromErrno(fork_errno));
    close_all();
  } else {
    int child_errno = 0;
    ssize_t r;
    do {
      r = ::read(status_pipe[0], &child_errno, sizeof child_errno);
    } while (r < 0 && errno == EINTR);
    CloseIfOpen(status_pipe[0]);
    HostCommandResult done;
    if (r == static_cast<ssize_t>(sizeof child_errno)) {
      close_all();
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      SetLastError(child_errno == ENOEXEC ? kErrorBadExeFormat : Win32ErrorFromErrno(child_errno));
    } else {
      Exchange(in_pipe[1], out_pipe[0], command.input.value_or(std::string()), done.output);
      in_pipe[1] = out_pipe[0] = -1;
      if (const auto code = WaitForProcess(static_cast<DWORD>(pid))) {
        done.exit_code = *code;
        result = std::move(done);
      }
    }
  }
  // Drop a SIGPIPE raised by the exchange before the old mask comes back.
  sigset_t pending;
  sigpending(&pending);
  if (sigismember(&pending, SIGPIPE) == 1) {
    const timespec zero{0, 0};
    sigtimedwait(&pipe_only, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return result;
}

StandardStreamRedirection::~StandardStreamRedirection() {
  std::fflush(stdout);
  std::fflush(stderr);
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second < 0) {
      ::close(it->first);
    } else {
      ::dup2(it->second, it->first);
      ::close(it->second);
    }
  }
}

bool StandardStreamRedirection::Point(int stream, int fd) {
  std::fflush(stdout);
  std::fflush(stderr);
  // The saved copy must not leak into programs started meanwhile.
  int saved = ::fcntl(stream, F_DUPFD_CLOEXEC, 3);
  if (saved < 0 && errno != EBADF) {
    SetLastErrorFromErrno();
    ::close(fd);
    return false;
  }
  if (::dup2(fd, stream) < 0) {
    SetLastErrorFromErrno();
    ::close(fd);
    if (saved >= 0) ::close(saved);
    return false;
  }
  ::close(fd);
  saved_.emplace_back(stream, saved);
  return true;
}

bool StandardStreamRedirection::ToFile(int stream, const fs::path& host_path, Mode mode) {
  const int flags = mode == Mode::kRead     ? O_RDONLY
                    : mode == Mode::kAppend ? (O_WRONLY | O_CREAT | O_APPEND)
                                            : (O_WRONLY | O_CREAT | O_TRUNC);
  const int fd = ::open(host_path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return Point(stream, fd);
}

bool StandardStreamRedirection::ToNullDevice(int stream) {
  const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return Point(stream, fd);
}

bool StandardStreamRedirection::ToStream(int stream, int other) {
  const int fd = other < 0 ? -1 : ::fcntl(other, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return Point(stream, fd);
}

bool ReadStandardInputLine(std::string& line) {
  line.clear();
  char c;
  for (;;) {
    const ssize_t n = ::read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return false;
    if (c == '\n') return true;
    line.push_back(c);
  }
}

std::string LoginName() {
  for (const char* name : {"SUDO_USER", "LOGNAME"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "uid " + std::to_string(::getuid());
}

}  // namespace platform
