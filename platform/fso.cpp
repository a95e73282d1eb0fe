// FileSystemObject stand-in over the host file system, through the machine root's drive folders.
#include "platform/fso.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/faults.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/profile.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSource = "Microsoft Scripting Runtime";

bool Fail(AutomationError* error, long number, const char* description) {
  if (error != nullptr) *error = AutomationError{number, description, kSource};
  return false;
}

// An injected Win32 error as the runtime would raise it: its own number where it has one.
bool FailWin32(AutomationError* error, DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Fail(error, 70, "Permission denied");
    case ERROR_ALREADY_EXISTS:
      return Fail(error, 58, "File already exists");
    case ERROR_DISK_FULL:
      return Fail(error, 61, "Disk full");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Fail(error, 76, "Path not found");
    default:
      if (error != nullptr) {
        *error = AutomationError{static_cast<long>(0x80070000u | (code & 0xffffu)),
                                 std::string(SystemErrorText(code)), kSource};
      }
      return false;
  }
}

bool StatIs(const std::optional<fs::path>& host, mode_t type) {
  struct stat st;
  return host && ::stat(host->c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

bool HasWildcard(std::string_view path) {
  return path.find_first_of("*?") != std::string_view::npos;
}

bool Writable(const fs::path& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && (S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR) != 0);
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
      0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
  std::string out;
  for (unsigned char c : bytes) {
    char32_t cp = c;
    if (c >= 0x80 && c < 0xA0) cp = kHigh[c - 0x80];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// A pinned free space: bytes, or a number with the unit KB, MB or GB (1024 based) after it, so
// that a boundary such as 22120.5 KB can be written as it is meant.
std::optional<double> PinnedBytes(const std::string& text) {
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !(number >= 0)) return std::nullopt;
  const std::string unit = UpperAscii(platform::Trim(end));
  if (unit.empty() || unit == "B") return number;
  if (unit == "KB") return number * 1024;
  if (unit == "MB") return number * 1024 * 1024;
  if (unit == "GB") return number * 1024 * 1024 * 1024;
  return std::nullopt;
}

// `fault` gets an injected failure to read the free space (then nullopt).
std::optional<DriveInfo> DriveOf(char letter, DWORD* fault = nullptr) {
  const char lower = platform::LowerChar(letter);
  const char upper = platform::UpperChar(letter);
  const auto drives = Drives();
  if (std::find(drives.begin(), drives.end(), upper) == drives.end()) return std::nullopt;
  DriveInfo info;
  info.drive_letter = std::string(1, platform::UpperChar(lower));
  info.path = info.drive_letter + ":";
  struct statvfs vfs;
  const fs::path host =
      HostPath(std::string(1, upper) + ":\\").value_or(MachineRoot() / std::string(1, lower));
  if (::statvfs(host.c_str(), &vfs) == 0) {
    info.available_space = static_cast<double>(vfs.f_bavail) * static_cast<double>(vfs.f_frsize);
    info.free_space = static_cast<double>(vfs.f_bfree) * static_cast<double>(vfs.f_frsize);
    info.total_size = static_cast<double>(vfs.f_blocks) * static_cast<double>(vfs.f_frsize);
  }
  if (const DWORD code = InjectedFault(FaultOp::kDriveFreeSpace)) {
    if (fault != nullptr) *fault = code;
    return std::nullopt;
  }
  // A machine may pin a drive's free space (in bytes) in [DriveFreeSpace] of its profile, so
  // that a full or nearly full disk can be tried without filling one.
  if (const auto pinned = MachineSetting("DriveFreeSpace", info.drive_letter)) {
    if (const auto bytes = PinnedBytes(*pinned)) {
      info.available_space = *bytes;
      info.free_space = *bytes;
    }
  }
  return info;
}

}  // namespace

std::string TextStream::ReadLine() {
  if (AtEndOfStream()) return "";
  size_t end = content_.find('\n', pos_);
  std::string line;
  if (end == std::string::npos) {
    line = content_.substr(pos_);
    pos_ = content_.size();
  } else {
    line = content_.substr(pos_, end - pos_);
    pos_ = end + 1;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return Cp1252ToUtf8(line);
}

bool FileSystemObject::FileExists(std::string_view path) const {
  return !HasWildcard(path) && StatIs(HostPath(path), S_IFREG);
}

bool FileSystemObject::FolderExists(std::string_view path) const {
  return !HasWildcard(path) && StatIs(HostPath(path), S_IFDIR);
}

bool FileSystemObject::CreateFolder(std::string_view path, AutomationError* error) const {
  const auto host = HostPath(path);
  if (!host || HasWildcard(path)) return Fail(error, 76, "Path not found");
  if (const DWORD fault = InjectedFault(FaultOp::kFolderCreate)) return FailWin32(error, fault);
  fs::path target = *host;
  if (target.filename().empty()) target = target.parent_path();
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0) return Fail(error, 58, "File already exists");
  if (::mkdir(target.c_str(), 0777) != 0) {
    if (errno == EACCES || errno == EPERM || errno == EROFS)
      return Fail(error, 70, "Permission denied");
    return Fail(error, 76, "Path not found");
  }
  return true;
}

std::string FileSystemObject::GetDriveName(std::string_view path) const {
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    return std::string(path.substr(0, 2));
  }
  return "";
}

std::optional<DriveInfo> FileSystemObject::GetDrive(std::string_view drive_spec,
                                                    AutomationError* error) const {
  const bool shape =
      !drive_spec.empty() && std::isalpha(static_cast<unsigned char>(drive_spec[0])) &&
      (drive_spec.size() == 1 || drive_spec.substr(1) == ":" || drive_spec.substr(1) == ":\\");
  if (!shape) {
    Fail(error, 5, "Invalid procedure call or argument");
    return std::nullopt;
  }
  DWORD fault = ERROR_SUCCESS;
  auto info = DriveOf(drive_spec[0], &fault);
  if (!info && fault != ERROR_SUCCESS) {
    FailWin32(error, fault);
  } else if (!info) {
    Fail(error, 68, "Device unavailable");
  }
  return info;
}

std::vector<DriveInfo> FileSystemObject::Drives() const {
  std::vector<DriveInfo> out;
  for (char letter : platform::Drives()) {
    if (auto info = DriveOf(letter)) out.push_back(std::move(*info));
  }
  return out;
}

std::string FileVersionOf(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return "";
  std::error_code ec;
  const auto size = fs::file_size(host_path, ec);
  std::string data;
  data.resize(ec ? 0 : static_cast<size_t>(std::min<std::uintmax_t>(size, 64u << 20)));
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  data.resize(static_cast<size_t>(in.gcount()));
  static constexpr char kSignature[] = {'\xBD', '\x04', '\xEF', '\xFE'};
  const auto it =
      std::search(data.begin(), data.end(), std::begin(kSignature), std::end(kSignature));
  if (it != data.end() && data.end() - it >= 16) {
    const auto word = [&](size_t offset) {
      const auto* p = reinterpret_cast<const unsigned char*>(&*it) + offset;
      return static_cast<unsigned>(p[0] | (p[1] << 8));
    };
    // dwFileVersionMS at +8, dwFileVersionLS at +12, each as low word then high word.
    return std::to_string(word(10)) + "." + std::to_string(word(8)) + "." +
           std::to_string(word(14)) + "." + std::to_string(word(12));
  }
  const size_t marker = data.find("FileVersion=");
  if (marker == std::string::npos) return "";
  size_t end = marker + 12;
  while (end < data.size() &&
         (std::isdigit(static_cast<unsigned char>(data[end])) || data[end] == '.'))
    ++end;
  return data.substr(marker + 12, end - marker - 12);
}

std::string FileSystemObject::GetFileVersion(std::string_view path) const {
  const auto host = HostPath(path);
  if (!StatIs(host, S_IFREG)) return "";
  return FileVersionOf(host->string());
}

bool FileSystemObject::MoveFolder(std::string_view source, std::string_view destination,
                                  AutomationError* error) const {
  const auto from = HostPath(source);
  const auto to = HostPath(destination);
  if (!StatIs(from, S_IFDIR)) return Fail(error, 76, "Path not found");
  if (!to) return Fail(error, 76, "Path not found");
  std::error_code ec;
  if (fs::exists(fs::symlink_status(*to, ec))) return Fail(error, 58, "File already exists");
  if (!fs::is_directory(to->parent_path(), ec)) return Fail(error, 76, "Path not found");
  fs::rename(*from, *to, ec);
  if (ec == std::errc::cross_device_link) {
    ec.clear();
    fs::copy(*from, *to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec) fs::remove_all(*from, ec);
  }
  if (ec) return Fail(error, 70, "Permission denied");
  return true;
}

bool FileSystemObject::DeleteFolder(std::string_view path, bool force,
                                    AutomationError* error) const {
  const auto host = HostPath(path);
  if (!StatIs(host, S_IFDIR)) return Fail(error, 76, "Path not found");
  std::error_code ec;
  if (!force) {
    for (auto it = fs::recursive_directory_iterator(*host, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!Writable(it->path())) return Fail(error, 70, "Permission denied");
    }
  }
  fs::remove_all(*host, ec);
  if (ec) return Fail(error, 70, "Permission denied");
  return true;
}

bool FileSystemObject::DeleteFile(std::string_view path, bool force, AutomationError* error) const {
  const auto host = HostPath(path);
  if (!StatIs(host, S_IFREG)) return Fail(error, 53, "File not found");
  if (!force && !Writable(*host)) return Fail(error, 70, "Permission denied");
  if (::unlink(host->c_str()) != 0) return Fail(error, 70, "Permission denied");
  return true;
}

std::unique_ptr<TextStream> FileSystemObject::OpenTextFile(std::string_view path,
                                                           AutomationError* error) const {
  const auto host = HostPath(path);
  if (!StatIs(host, S_IFREG)) {
    Fail(error, 53, "File not found");
    return nullptr;
  }
  std::ifstream in(*host, std::ios::binary);
  if (!in) {
    Fail(error, 70, "Permission denied");
    return nullptr;
  }
  std::stringstream text;
  text << in.rdbuf();
  return std::make_unique<TextStream>(text.str());
}

}  // namespace platform

namespace {

namespace fs = std::filesystem;

bool SearchFolder(const fs::path& folder, const std::string& name, int depth, fs::path* found) {
  if (depth > 64) return false;
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return platform::UpperAscii(a.path().filename().string()) <
           platform::UpperAscii(b.path().filename().string());
  });
  for (const auto& entry : entries) {
    std::error_code e;
    if (!entry.is_symlink(e) && entry.is_regular_file(e) &&
        platform::EqualsNoCase(entry.path().filename().string(), name)) {
      *found = entry.path();
      return true;
    }
  }
  for (const auto& entry : entries) {
    std::error_code e;
    if (entry.is_symlink(e) || !entry.is_directory(e)) continue;
    if (SearchFolder(entry.path(), name, depth + 1, found)) return true;
  }
  return false;
}

}  // namespace

BOOL SearchTreeForFile(LPCSTR root_path, LPCSTR input_path_name, LPSTR output_path_buffer) {
  if (root_path == nullptr || input_path_name == nullptr || output_path_buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name = input_path_name;
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  const auto root = platform::HostPath(root_path);
  std::error_code ec;
  if (name.empty() || !root || !fs::is_directory(*root, ec)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  fs::path found;
  if (!SearchFolder(*root, name, 0, &found)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const std::string windows = platform::WindowsPath(found);
  if (windows.size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  std::memcpy(output_path_buffer, windows.c_str(), windows.size() + 1);
  return TRUE;
}
