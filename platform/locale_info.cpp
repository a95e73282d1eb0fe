// GetLocaleInfoA's number settings from the environment's locale.
#include "platform/locale_info.h"

#include <langinfo.h>
#include <locale.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/last_error.h"

namespace platform {
namespace {

inline constexpr DWORD kErrorInvalidFlags = 1004;

// The locale name the C library takes for numbers: LC_ALL, else LC_NUMERIC, else LANG.
std::string NumericLocaleName() {
  for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "C";
}

bool IsPlainC(std::string_view name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// The C library's grouping bytes ("\3", "\3\2") in Windows' form ("3;0", "3;2;0").
std::string WindowsGrouping(const char* bytes) {
  std::string out;
  bool repeat = true;
  for (const char* p = bytes; *p != '\0'; ++p) {
    if (*p == CHAR_MAX || *p <= 0) {
      repeat = false;
      break;
    }
    if (!out.empty()) out += ';';
    out += std::to_string(static_cast<int>(*p));
  }
  if (out.empty()) return "0";
  if (repeat) out += ";0";
  return out;
}

}  // namespace

NumberSettings EnvironmentNumberSettings() {
  const std::string name = NumericLocaleName();
  if (IsPlainC(name)) return NumberSettings{};
  const locale_t loc = ::newlocale(LC_NUMERIC_MASK, name.c_str(), static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return NumberSettings{};
  NumberSettings settings;
  settings.decimal = ::nl_langinfo_l(RADIXCHAR, loc);
  settings.thousand = ::nl_langinfo_l(THOUSEP, loc);
  settings.grouping = WindowsGrouping(::nl_langinfo_l(GROUPING, loc));
  ::freelocale(loc);
  if (settings.decimal.empty()) settings.decimal = ".";
  return settings;
}

}  // namespace platform

int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
  if (locale != LOCALE_USER_DEFAULT && locale != LOCALE_SYSTEM_DEFAULT && locale != 0) {
    SetLastError(platform::kErrorInvalidFlags);
    return 0;
  }
  const platform::NumberSettings settings = platform::EnvironmentNumberSettings();
  std::string value;
  switch (type) {
    case LOCALE_SDECIMAL:
      value = settings.decimal;
      break;
    case LOCALE_STHOUSAND:
      value = settings.thousand;
      break;
    case LOCALE_SGROUPING:
      value = settings.grouping;
      break;
    default:
      SetLastError(platform::kErrorInvalidFlags);
      return 0;
  }
  const int needed = static_cast<int>(value.size()) + 1;
  if (size == 0) return needed;
  if (data == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(data, value.c_str(), static_cast<size_t>(needed));
  return needed;
}
