// WinFile over stdio, with CR LF translation in text mode, and the durable replace of a file.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/faults.h"
#include "platform/last_error.h"
#include "platform/machine.h"

namespace platform {

std::unique_ptr<WinFile> WinFile::Open(std::string_view windows_path, std::string_view mode) {
  const auto host = HostPath(windows_path);
  if (!host) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  std::string host_mode;
  bool text = true;
  for (char c : mode) {
    if (c == 'b') text = false;
    if (c == 't') continue;
    host_mode.push_back(c);
  }
  if (host_mode.find('b') == std::string::npos) host_mode.push_back('b');
  if (host_mode.find_first_of("wa+") != std::string::npos &&
      InjectedFault(FaultOp::kFileCreate) != ERROR_SUCCESS) {
    return nullptr;
  }
  std::FILE* file = std::fopen(host->c_str(), host_mode.c_str());
  if (file == nullptr) {
    const int error = errno;
    SetLastErrorFromErrno();
    // Windows tells a missing folder from a missing file.
    std::error_code ec;
    if (error == ENOENT && !std::filesystem::is_directory(host->parent_path(), ec)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    }
    return nullptr;
  }
  return std::unique_ptr<WinFile>(new WinFile(file, text));
}

WinFile::~WinFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool WinFile::Write(std::string_view text) {
  if (file_ == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::string translated;
  if (text_ && text.find('\n') != std::string_view::npos) {
    translated.reserve(text.size() + 16);
    for (char c : text) {
      if (c == '\n') translated.push_back('\r');
      translated.push_back(c);
    }
    text = translated;
  }
  if (InjectedFault(FaultOp::kFileWrite) != ERROR_SUCCESS) return false;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool WinFile::Close() {
  if (file_ == nullptr) return true;
  const int result = std::fclose(file_);
  file_ = nullptr;
  if (result != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

namespace {

DWORD Failed(DWORD error) {
  SetLastError(error);
  return error;
}

bool WriteAll(int fd, std::string_view content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool MarkHostFile(const std::filesystem::path& path, std::time_t when) {
  const timespec times[2] = {{when, 0}, {when, 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0) return true;
  if (errno != ENOENT) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool set = ::futimens(fd, times) == 0;
  ::close(fd);
  return set;
}

DWORD ReplaceFileDurably(const std::filesystem::path& path, std::string_view content) {
  std::error_code ec;
  std::filesystem::path target = path;
  if (std::filesystem::is_symlink(target, ec)) {
    target = std::filesystem::weakly_canonical(target, ec);
    if (ec) return Failed(Win32ErrorFromErrno(ec.value()));
  }
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  static std::atomic<unsigned> serial{0};
  const std::string temp = target.string() + ".tmp." + std::to_string(::getpid()) + "." +
                           std::to_string(serial.fetch_add(1, std::memory_order_relaxed));

  if (const DWORD fault = InjectedFault(FaultOp::kFileCreate)) return fault;
  struct stat old;
  const bool had_old = ::stat(target.c_str(), &old) == 0;
  const mode_t mode = had_old ? (old.st_mode & 07777) : 0;
  // A new file gets what fopen would give it; a replaced one keeps its permissions.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  int fd = ::open(temp.c_str(), flags, had_old ? 0600 : 0666);
  if (fd < 0 && errno == EEXIST) {
    // Left by a crashed process that had our pid: no living process can be writing it.
    ::unlink(temp.c_str());
    fd = ::open(temp.c_str(), flags, had_old ? 0600 : 0666);
  }
  if (fd < 0) {
    const int error = errno;
    // Windows tells a missing folder from a missing file.
    return Failed(error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                      : Win32ErrorFromErrno(error));
  }
  auto abandon = [&](DWORD error) {
    ::close(fd);
    ::unlink(temp.c_str());
    return Failed(error);
  };
  if (const DWORD fault = InjectedFault(FaultOp::kFileWrite)) return abandon(fault);
  if (!WriteAll(fd, content) || (had_old && ::fchmod(fd, mode) != 0) || ::fsync(fd) != 0) {
    return abandon(Win32ErrorFromErrno(errno));
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return Failed(Win32ErrorFromErrno(error));
  }
  if (const DWORD fault = InjectedFault(FaultOp::kFileRename)) {
    ::unlink(temp.c_str());
    return fault;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return Failed(Win32ErrorFromErrno(error));
  }
  // The new content is in place; a failed fsync of the folder cannot bring the old one back.
  const int dir_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return ERROR_SUCCESS;
}

std::optional<std::string> ReadWholeFile(std::string_view windows_path) {
  const auto host = HostPath(windows_path);
  if (!host) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  std::ifstream in(*host, std::ios::binary);
  if (!in) {
    SetLastErrorFromErrno();
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace platform
