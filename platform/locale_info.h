// The user's number settings (GetLocaleInfoA of LOCALE_USER_DEFAULT), taken from the locale of
// the environment (LC_ALL, LC_NUMERIC, LANG) as the C library reads it.
#pragma once

#include <string>

#include "platform/win_types.h"

using LCID = DWORD;
using LCTYPE = DWORD;

inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCTYPE LOCALE_SDECIMAL = 0x0000000E;
inline constexpr LCTYPE LOCALE_STHOUSAND = 0x0000000F;
inline constexpr LCTYPE LOCALE_SGROUPING = 0x00000010;

// Copies the setting, with its terminating zero, into `data` and returns the characters copied
// (zero included); with `size` 0 returns the size needed. 0, last error set, for an unknown
// locale or type (ERROR_INVALID_FLAGS) or a buffer too small (ERROR_INSUFFICIENT_BUFFER).
// LOCALE_SGROUPING is in Windows' form: "3;0" for groups of three.
int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);

namespace platform {

struct NumberSettings {
  std::string decimal = ".";
  std::string thousand = ",";
  std::string grouping = "3;0";
};

// The number settings of the environment's locale. The C and POSIX locales (and an environment
// that names a locale the system does not have) carry no grouping of their own; they answer the
// settings of English (United States), the default of a Windows server, "." and "," in groups of
// three. May be called from several threads.
NumberSettings EnvironmentNumberSettings();

}  // namespace platform
