// Profile files and the machine profile.
#include "platform/profile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace platform {
namespace {

// A CR of a CR LF line goes at the end only.
std::string TrimLine(std::string_view text) {
  return std::string(TrimRight(TrimLeft(text), " \t\r"));
}

}  // namespace

ProfileFile ProfileFile::Parse(std::string_view text) {
  ProfileFile file;
  Section* current = nullptr;
  std::istringstream in{std::string(text)};
  std::string raw;
  while (std::getline(in, raw)) {
    const std::string line = TrimLine(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      const std::string name =
          TrimLine(line.substr(1, close == std::string::npos ? line.size() - 1 : close - 1));
      current = file.Find(name);
      if (current == nullptr) {
        file.sections_.push_back(Section{name, {}});
        current = &file.sections_.back();
      }
      continue;
    }
    if (current == nullptr) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    current->entries.emplace_back(TrimLine(line.substr(0, eq)), TrimLine(line.substr(eq + 1)));
  }
  return file;
}

std::string ProfileFile::Format() const {
  std::string out;
  for (const Section& section : sections_) {
    if (!out.empty()) out += "\r\n";
    out += "[" + section.name + "]\r\n";
    for (const auto& [key, value] : section.entries) out += key + "=" + value + "\r\n";
  }
  return out;
}

ProfileFile::Section* ProfileFile::Find(std::string_view section) {
  for (Section& s : sections_) {
    if (EqualsNoCase(s.name, section)) return &s;
  }
  return nullptr;
}

const ProfileFile::Section* ProfileFile::Find(std::string_view section) const {
  for (const Section& s : sections_) {
    if (EqualsNoCase(s.name, section)) return &s;
  }
  return nullptr;
}

std::optional<std::string> ProfileFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = Find(section);
  if (s == nullptr) return std::nullopt;
  for (const auto& [name, value] : s->entries) {
    if (EqualsNoCase(name, key)) return value;
  }
  return std::nullopt;
}

void ProfileFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section* s = Find(section);
  if (s == nullptr) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  for (auto& [name, existing] : s->entries) {
    if (EqualsNoCase(name, key)) {
      existing = value;
      return;
    }
  }
  s->entries.emplace_back(std::string(key), std::string(value));
}

bool ProfileFile::Erase(std::string_view section, std::string_view key) {
  Section* s = Find(section);
  if (s == nullptr) return false;
  for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
    if (EqualsNoCase(it->first, key)) {
      s->entries.erase(it);
      return true;
    }
  }
  return false;
}

bool ProfileFile::EraseSection(std::string_view section) {
  for (auto it = sections_.begin(); it != sections_.end(); ++it) {
    if (EqualsNoCase(it->name, section)) {
      sections_.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<std::string> ProfileFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section)) {
    for (const auto& entry : s->entries) keys.push_back(entry.first);
  }
  return keys;
}

std::string MachineProfilePath() { return WindowsPath(MachineRoot() / "machine.ini"); }

std::optional<std::string> MachineSetting(std::string_view section, std::string_view key) {
  const auto text = ReadWholeFile(MachineProfilePath());
  if (!text) return std::nullopt;
  return ProfileFile::Parse(*text).Get(section, key);
}

}  // namespace platform

namespace {

DWORD CopyOut(const std::string& value, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return 0;
  const size_t n = std::min<size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR returned,
                               DWORD size, LPCSTR file_name) {
  std::string value = default_value == nullptr ? "" : default_value;
  if (section != nullptr && key != nullptr && file_name != nullptr) {
    if (const auto text = platform::ReadWholeFile(file_name)) {
      if (auto found = platform::ProfileFile::Parse(*text).Get(section, key)) {
        value = *found;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
          value = value.substr(1, value.size() - 2);
        }
      }
    }
  }
  return CopyOut(value, returned, size);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file_name) {
  if (section == nullptr || file_name == nullptr) return FALSE;
  const auto host = platform::HostPath(file_name);
  if (!host) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  const auto text = platform::ReadWholeFile(file_name);
  // A file that exists but cannot be read must not be rewritten as an empty profile.
  if (!text && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
    return FALSE;
  auto profile = platform::ProfileFile::Parse(text ? *text : "");
  if (key == nullptr) {
    profile.EraseSection(section);
  } else if (value == nullptr) {
    profile.Erase(section, key);
  } else {
    profile.Set(section, key, value);
  }
  return platform::ReplaceFileDurably(*host, profile.Format()) == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr) return FALSE;
  const auto text = platform::ReadWholeFile(platform::MachineProfilePath());
  if (!text) return FALSE;
  const auto profile = platform::ProfileFile::Parse(*text);
  auto number = [&](const char* key) {
    const auto v = profile.Get("Windows", key);
    return v ? static_cast<DWORD>(std::strtoul(v->c_str(), nullptr, 10)) : 0u;
  };
  info->dwMajorVersion = number("MajorVersion");
  info->dwMinorVersion = number("MinorVersion");
  info->dwBuildNumber = number("BuildNumber");
  info->dwPlatformId = number("PlatformId");
  CopyOut(profile.Get("Windows", "CSDVersion").value_or(""), info->szCSDVersion,
          sizeof info->szCSDVersion);
  return TRUE;
}

BOOL GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (buffer == nullptr || size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto name = platform::MachineSetting("Windows", "ComputerName");
  if (!name || name->empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (name->size() + 1 > *size) {
    *size = static_cast<DWORD>(name->size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *size = CopyOut(*name, buffer, *size);
  return TRUE;
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  const auto dir = platform::MachineSetting("Windows", "WindowsDirectory");
  if (!dir) return 0;
  if (dir->size() + 1 > size) return static_cast<UINT>(dir->size() + 1);
  return CopyOut(*dir, buffer, size);
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  if (name == nullptr) return 0;
  std::optional<std::string> value = platform::MachineSetting("Environment", name);
  if (!value) {
    if (const char* host = std::getenv(name)) value = host;
  }
  if (!value) {
    SetLastError(203);  // ERROR_ENVVAR_NOT_FOUND
    return 0;
  }
  if (value->size() + 1 > size) return static_cast<DWORD>(value->size() + 1);
  return CopyOut(*value, buffer, size);
}
