// Unit Install_Functions: the Windows version class, computer name, Windows folder and the free
// disk space of the product's drive.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "installer/functions.h"
#include "installer/install_functions_checks.h"
#include "installer/settings.h"
#include "platform/fso.h"
#include "platform/locale_info.h"
#include "platform/profile.h"

namespace installer::Install_Functions {
namespace {

std::string LocaleText(LCTYPE type, const char* fallback) {
  char buffer[16] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer) == 0) return fallback;
  return buffer;
}

// Windows' grouping "3;0" (threes, repeated), "3;2;0" (three, then twos), "3" (one group), "0".
std::string GroupDigits(const std::string& digits, const std::string& grouping,
                        const std::string& separator) {
  std::vector<size_t> sizes;
  bool repeat = false;  // a closing 0 repeats the last size
  size_t start = 0;
  while (start <= grouping.size()) {
    const size_t end = std::min(grouping.find(';', start), grouping.size());
    const int size = std::atoi(grouping.substr(start, end - start).c_str());
    if (size <= 0) {
      repeat = !sizes.empty();
      break;
    }
    sizes.push_back(static_cast<size_t>(size));
    start = end + 1;
  }
  if (sizes.empty() || separator.empty()) return digits;
  std::string out;
  size_t remaining = digits.size();
  size_t group = 0;
  std::vector<std::string> pieces;
  while (remaining > 0) {
    if (group >= sizes.size() && !repeat) {
      pieces.push_back(digits.substr(0, remaining));
      break;
    }
    const size_t size = sizes[std::min(group, sizes.size() - 1)];
    const size_t take = std::min(size, remaining);
    pieces.push_back(digits.substr(remaining - take, take));
    remaining -= take;
    ++group;
  }
  for (size_t i = pieces.size(); i-- > 0;) {
    out += pieces[i];
    if (i > 0) out += separator;
  }
  return out;
}

}  // namespace

std::string FormatNumber(double value, int decimals) {
  if (!std::isfinite(value)) return "0";
  decimals = std::clamp(decimals, 0, 9);
  // Whole numbers round as CLng does (halves to even); places are cut by printf's exact rounding.
  const double rounded = decimals == 0 ? std::nearbyint(value) : value;
  char text[512];
  std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(rounded));
  std::string whole = text;
  std::string fraction;
  if (const size_t dot = whole.find('.'); dot != std::string::npos) {
    fraction = whole.substr(dot + 1);
    whole.resize(dot);
  }
  std::string out =
      GroupDigits(whole, LocaleText(LOCALE_SGROUPING, "3;0"), LocaleText(LOCALE_STHOUSAND, ","));
  if (decimals > 0) out += LocaleText(LOCALE_SDECIMAL, ".") + fraction;
  const bool zero = out.find_first_not_of("0.,") == std::string::npos && rounded == 0;
  if (rounded < 0 && !zero) out = "-" + out;
  return out;
}

bool GetWinVer(std::int16_t& version) {
  try {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = 148;
    // Its result is not looked at: a failed call leaves major version 0, so class 3.
    GetVersionExA(&info);
    if (info.dwMajorVersion == 5) {
      version = 2;
      Debug("Windows 2000 " + std::to_string(info.dwMajorVersion) + "." +
            std::to_string(info.dwMinorVersion));
    } else if (info.dwMajorVersion == 4 && info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
      version = 1;
      Debug("Windows NT");
    } else {
      version = 3;
      ShowMessage(MsgWrongOS);
    }
    return true;
  } catch (...) {
    const ErrObject err = CaughtErr();
    strError = MsgWinVersionError + kCrLf + ErrorDetails(err);
    return false;
  }
}

std::string GetCompName() {
  try {
    char buffer[16] = {};
    DWORD size = 16;
    if (GetComputerNameA(buffer, &size) == 0) return "";
    return std::string(buffer, strnlen(buffer, sizeof buffer));
  } catch (...) {
    CaughtErr();
    strError = MsgNoIsa;
    return "";
  }
}

std::string getWindowsDir() {
  try {
    Debug("[getWindowsDir] Getting windows directory");
    char buffer[255] = {};
    // A folder too long for the buffer answers its size and leaves the buffer empty.
    if (GetWindowsDirectoryA(buffer, 255) == 0) return "";
    return std::string(buffer, strnlen(buffer, sizeof buffer));
  } catch (...) {
    CaughtErr();
    strError = MsgNoWindowsPath;
    return "";
  }
}

bool CheckDiskSpace() {
  ErrObject err;
  bool pending = false;
  double free_bytes = 0;
  try {
    const platform::FileSystemObject fso;
    platform::AutomationError error;
    const auto drive = fso.GetDrive(fso.GetDriveName(strFiltersDirPath), &error);
    if (!drive) throw RunTimeError(error.number, error.description, error.source);
    free_bytes = drive->free_space;
    // Halves go to the even neighbour, as CLng rounds: 22120.5 KB counts as 22120.
    const double free_kb = std::nearbyint(free_bytes / 1024);
    if (bExtraMessages == kTrue && bDebug == kTrue) {
      ShowMessage("Free Disk Space : " + FormatNumber(free_kb, 0) + kCrLf +
                  "Needed DiskSpace : " + FormatNumber(kNeededDiskSpaceKb, 0) + kCrLf +
                  (kNeededDiskSpaceKb < free_kb ? "Sufficient space is available"
                                                : "Not enough free space"));
    }
    if (free_kb > kNeededDiskSpaceKb) return true;
  } catch (...) {
    err = CaughtErr();
    pending = true;
  }
  strError = MsgNotEnoughDiskSpace + FormatNumber(kNeededDiskSpaceKb, 0) + "/" +
             FormatNumber(free_bytes / 1024, 2) + kCrLf;
  if (pending) {
    strError +=
        std::to_string(err.Number) + " : " + err.Description + kCrLf + "Source : " + err.Source;
  }
  return false;
}

bool IsEnvironmentOK() { return true; }

}  // namespace installer::Install_Functions
