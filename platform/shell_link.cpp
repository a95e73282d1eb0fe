// The shortcut library stand-in: shortcuts as Desktop Entries in the machine's Start menu.
#include "platform/shell_link.h"

#include <filesystem>
#include <fstream>

#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRegisteredServersKey = "SOFTWARE\\Minutrix Machine\\Registered Servers";

std::string ReadString(HKEY root, const char* key_path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  std::string buffer(1024, '\0');
  DWORD size = static_cast<DWORD>(buffer.size());
  DWORD type = REG_NONE;
  const LONG rc =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return "";
  buffer.resize(size);
  return buffer.substr(0, buffer.find('\0'));
}

// A Desktop Entry string: backslashes and line breaks escaped.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

// An argument of Exec: quoted, with the characters that quoting reserves escaped; then escaped
// again as a string value.
std::string ExecArgument(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return Escape(quoted + "\"");
}

bool IsProgram(const std::string& target) {
  const size_t dot = target.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = UpperAscii(target.substr(dot));
  return ext == ".EXE" || ext == ".COM" || ext == ".BAT" || ext == ".CMD";
}

bool ClimbsOut(const std::string& folder) {
  size_t start = 0;
  while (start <= folder.size()) {
    const size_t end = folder.find_first_of("\\/", start);
    const std::string part = folder.substr(start, end == std::string::npos ? end : end - start);
    if (part == "..") return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return folder.find(':') != std::string::npos;
}

}  // namespace

std::string ShellLinkLibraryPath() {
  char windows[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryA(windows, sizeof windows);
  std::string folder = n > 0 && n < sizeof windows ? std::string(windows, n) : "C:\\WINNT";
  if (folder.back() != '\\') folder += '\\';
  return folder + "system32\\stkit432.dll";
}

std::optional<LibraryLoadError> ShellLinkLibraryError() {
  const auto host = HostPath(ShellLinkLibraryPath());
  std::error_code ec;
  if (!host || !fs::is_regular_file(*host, ec)) {
    return LibraryLoadError{53, "File not found: STKIT432.DLL"};
  }
  if (ReadString(HKEY_LOCAL_MACHINE, kRegisteredServersKey, WindowsPath(*host).c_str()).empty()) {
    return LibraryLoadError{48, "Error in loading DLL"};
  }
  return std::nullopt;
}

}  // namespace platform

LONG fCreateShellLink(LPCSTR folder, LPCSTR name, LPCSTR target, LPCSTR arguments) {
  using namespace platform;
  if (folder == nullptr || name == nullptr || target == nullptr || *name == '\0') return 0;
  if (ShellLinkLibraryError()) return 0;
  const std::string programs = ReadString(
      HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
      "Programs");
  std::string group = folder;
  const std::string link_name = name;
  if (programs.empty() || ClimbsOut(group) || ClimbsOut(link_name) ||
      link_name.find_first_of("\\/") != std::string::npos) {
    return 0;
  }
  while (!group.empty() && group.front() == '\\') group.erase(0, 1);
  std::string link = programs;
  if (link.back() != '\\') link += '\\';
  if (!group.empty()) link += group + (group.back() == '\\' ? "" : "\\");
  link += link_name + ".lnk";
  const auto host = HostPath(link);
  if (!host) return 0;
  std::error_code ec;
  fs::create_directories(host->parent_path(), ec);
  if (ec) return 0;
  const std::string args = arguments == nullptr ? "" : arguments;
  std::ofstream out(*host, std::ios::binary | std::ios::trunc);
  out << "[Desktop Entry]\n";
  if (IsProgram(target)) {
    out << "Type=Application\n"
        << "Name=" << Escape(link_name) << "\n"
        << "Exec=" << ExecArgument(target) << (args.empty() ? "" : " " + Escape(args)) << "\n";
  } else {
    out << "Type=Link\n"
        << "Name=" << Escape(link_name) << "\n"
        << "URL=" << Escape(target) << "\n";
  }
  out << "X-Windows-Target=" << Escape(target) << "\n"
      << "X-Windows-Arguments=" << Escape(args) << "\n";
  out.close();
  return out ? 1 : 0;
}
