// Windows path names onto the machine root, as Wine's dosdevices map drive letters onto folders.
#include "platform/machine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>

namespace platform {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The entry of `dir` named `name` regardless of case, preferring the exact spelling.
std::optional<std::string> FindEntry(const std::string& dir, const std::string& name) {
  const std::string exact = dir == "/" ? "/" + name : dir + "/" + name;
  if (Exists(exact)) return name;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return std::nullopt;
  std::optional<std::string> best;
  while (dirent* e = ::readdir(d)) {
    std::string_view entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (EqualsNoCase(entry, name) && (!best || entry < *best)) best = std::string(entry);
  }
  ::closedir(d);
  return best;
}

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

}  // namespace

std::filesystem::path MachineRoot() {
  const char* root = std::getenv("MINUTRIX_ROOT");
  if (root == nullptr || *root == '\0') return kDefaultMachineRoot;
  return root;
}

std::atomic<unsigned> g_root_epoch{0};

void SetMachineRoot(const std::filesystem::path& root) {
  if (root.empty()) {
    ::unsetenv("MINUTRIX_ROOT");
  } else {
    ::setenv("MINUTRIX_ROOT", root.c_str(), 1);
  }
  g_root_epoch.fetch_add(1, std::memory_order_acq_rel);
}

std::optional<std::filesystem::path> HostPath(std::string_view windows_path) {
  if (windows_path.empty()) return std::nullopt;
  if (windows_path.size() >= 2 && (windows_path[0] == '\\' || windows_path[0] == '/') &&
      (windows_path[1] == '\\' || windows_path[1] == '/')) {
    return std::nullopt;  // UNC names reach other machines
  }
  std::string base;
  std::string_view rest = windows_path;
  const bool has_drive = windows_path.size() >= 2 && windows_path[1] == ':' &&
                         std::isalpha(static_cast<unsigned char>(windows_path[0]));
  char drive = 0;
  if (has_drive) {
    drive = platform::LowerChar(windows_path[0]);
    rest = windows_path.substr(2);
  } else if (windows_path[0] == '\\' || windows_path[0] == '/') {
    drive = 'c';
  }
  if (drive == 'z') {
    base = "/";
  } else if (drive != 0) {
    base = (MachineRoot() / std::string(1, drive)).string();
    struct stat st;
    if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  } else {
    base = std::filesystem::current_path().string();
  }

  // Resolve "." and ".." by name, as Windows does, never above the drive's root.
  std::vector<std::string> parts;
  for (std::string& part : SplitComponents(rest)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }

  std::string host = base;
  bool searching = true;  // once a component is missing, the rest cannot exist either
  for (const std::string& part : parts) {
    std::string name = part;
    if (searching) {
      if (auto found = FindEntry(host, part)) {
        name = *found;
      } else {
        searching = false;
      }
    }
    host = host == "/" ? "/" + name : host + "/" + name;
  }
  return std::filesystem::path(host);
}

std::string WindowsPath(const std::filesystem::path& host_path) {
  const std::filesystem::path absolute = std::filesystem::absolute(host_path).lexically_normal();
  const std::filesystem::path root = std::filesystem::absolute(MachineRoot()).lexically_normal();
  const std::filesystem::path relative = absolute.lexically_relative(root);
  std::string drive = "Z:";
  std::filesystem::path tail = absolute.relative_path();
  if (!relative.empty() && *relative.begin() != "..") {
    const std::string first = relative.begin()->string();
    if (first.size() == 1 && std::isalpha(static_cast<unsigned char>(first[0])) && first != "z" &&
        first != "Z") {
      drive = std::string(1, platform::UpperChar(first[0])) + ":";
      tail.clear();
      for (auto it = std::next(relative.begin()); it != relative.end(); ++it) tail /= *it;
    }
  }
  std::string out = drive + "\\";
  for (auto it = tail.begin(); it != tail.end(); ++it) {
    const std::string part = it->string();
    if (part.empty()) continue;
    if (out.back() != '\\') out += '\\';
    out += part;
  }
  const std::string text = host_path.string();
  if (!text.empty() && text.back() == '/' && out.back() != '\\') out += '\\';
  return out;
}

std::vector<char> Drives() {
  std::vector<char> drives;
  DIR* d = ::opendir(MachineRoot().c_str());
  if (d == nullptr) return drives;
  while (dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name.size() != 1 || !std::isalpha(static_cast<unsigned char>(name[0]))) continue;
    const char letter = platform::UpperChar(name[0]);
    if (letter == 'Z') continue;
    struct stat st;
    if (::stat((MachineRoot() / std::string(name)).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      drives.push_back(letter);
    }
  }
  ::closedir(d);
  std::sort(drives.begin(), drives.end());
  drives.erase(std::unique(drives.begin(), drives.end()), drives.end());
  return drives;
}

}  // namespace platform
