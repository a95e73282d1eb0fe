// Profile (.ini) files with the Win32 interface, and the machine profile "machine.ini" of the
// machine root that answers the Win32 calls about the machine itself: Windows version, computer
// name, Windows folder and the machine's environment variables.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

// Copies the value of `key` in `section` of the profile file `file_name` (a Windows path) into
// `returned`, or `default_value` when it is missing; section and key compare without case.
// Returns the number of characters copied, without the terminating zero; a value that does not
// fit is cut to size - 1 characters. Surrounding quotes of a value are removed, as Windows does.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR returned,
                               DWORD size, LPCSTR file_name);
// Sets a value (a null `value` deletes the key, a null `key` the section); the file is replaced
// durably (see files.h). FALSE, with the last error set, on failure; then the file is unchanged.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file_name);

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Fill from the [Windows] section of the machine profile. FALSE when the profile is missing.
BOOL GetVersionExA(LPOSVERSIONINFOA info);
BOOL GetComputerNameA(LPSTR buffer, LPDWORD size);
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
// The machine's variable from [Environment] of the profile, else the host's. Returns its length,
// or the size needed when `size` is too small, or 0 when it is not set.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);

namespace platform {

// A parsed profile file: sections in file order, keys in file order, names kept as written.
class ProfileFile {
 public:
  static ProfileFile Parse(std::string_view text);
  std::string Format() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  bool Erase(std::string_view section, std::string_view key);
  bool EraseSection(std::string_view section);
  std::vector<std::string> Keys(std::string_view section) const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  Section* Find(std::string_view section);
  const Section* Find(std::string_view section) const;
  std::vector<Section> sections_;
};

// Windows path of the machine profile, "<root>/machine.ini" seen as "Z:\...".
std::string MachineProfilePath();

// Value from the machine profile, or nullopt.
std::optional<std::string> MachineSetting(std::string_view section, std::string_view key);

}  // namespace platform
