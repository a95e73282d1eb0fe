// The settable clock.
#include "platform/clock.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {
namespace {

std::mutex g_mutex;
std::optional<std::time_t> g_fixed;

// Whole number of `text`, or nullopt when it is not one or does not fit.
std::optional<long long> Number(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text[0] == '-' || text[0] == '+' || error != std::errc() ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// "+N" or "-N" seconds, or with a unit suffix m, h or d; nullopt when the shifted time does not
// fit the time type.
std::optional<std::time_t> Shifted(std::time_t real, std::string_view line) {
  std::string_view digits = line.substr(1);
  long long unit = 1;
  if (!digits.empty() && (digits.back() == 'm' || digits.back() == 'h' || digits.back() == 'd')) {
    unit = digits.back() == 'm' ? 60 : digits.back() == 'h' ? 3600 : 86400;
    digits.remove_suffix(1);
  }
  const auto value = Number(digits);
  long long shift = 0, result = 0;
  if (!value || __builtin_mul_overflow(*value, unit, &shift)) return std::nullopt;
  if (line[0] == '-' ? __builtin_sub_overflow(static_cast<long long>(real), shift, &result)
                     : __builtin_add_overflow(static_cast<long long>(real), shift, &result)) {
    return std::nullopt;
  }
  if (static_cast<std::time_t>(result) != result) return std::nullopt;
  return static_cast<std::time_t>(result);
}

// "YYYY-MM-DD HH:MM:SS" local time; nullopt when a field is out of its range.
std::optional<std::time_t> Absolute(std::string_view line) {
  long long fields[6] = {};
  constexpr char kSeparators[] = {'-', '-', ' ', ':', ':'};
  std::size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    const std::size_t end = i < 5 ? line.find(kSeparators[i], at) : line.size();
    if (end == std::string_view::npos) return std::nullopt;
    const auto value = Number(line.substr(at, end - at));
    if (!value) return std::nullopt;
    fields[i] = *value;
    at = end + 1;
  }
  constexpr long long kLow[] = {1, 1, 1, 0, 0, 0}, kHigh[] = {9999, 12, 31, 23, 59, 60};
  for (int i = 0; i < 6; ++i) {
    if (fields[i] < kLow[i] || fields[i] > kHigh[i]) return std::nullopt;
  }
  std::tm tm{};
  tm.tm_year = static_cast<int>(fields[0] - 1900);
  tm.tm_mon = static_cast<int>(fields[1] - 1);
  tm.tm_mday = static_cast<int>(fields[2]);
  tm.tm_hour = static_cast<int>(fields[3]);
  tm.tm_min = static_cast<int>(fields[4]);
  tm.tm_sec = static_cast<int>(fields[5]);
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

// Says once per value on standard error that the clock file could not be used.
void ReportBadValue(const std::string& line) {
  static std::mutex mutex;
  static std::string reported;
  std::lock_guard lock(mutex);
  if (line == reported) return;
  reported = line;
  std::fprintf(stderr,
               "minutrix: MINUTRIX_CLOCK_FILE holds \"%s\", which is no time this clock can "
               "stand at (\"YYYY-MM-DD HH:MM:SS\", @N seconds since 1970, or +N/-N seconds with "
               "an optional m, h or d that fits the time type); the real time is used\n",
               line.c_str());
}

std::optional<std::time_t> FromClockFile(std::time_t real) {
  const char* path = std::getenv("MINUTRIX_CLOCK_FILE");
  if (path == nullptr || *path == '\0') return std::nullopt;
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return std::nullopt;
  std::optional<std::time_t> t;
  if (line[0] == '+' || line[0] == '-') {
    t = Shifted(real, line);
  } else if (line[0] == '@') {  // seconds since 1970 UTC: a local time that happens twice
    const auto seconds = Number(std::string_view(line).substr(1));
    if (seconds && static_cast<std::time_t>(*seconds) == *seconds) t = *seconds;
  } else {
    t = Absolute(line);
  }
  if (!t) ReportBadValue(line);
  return t;
}

}  // namespace

std::time_t Now() {
  {
    std::lock_guard lock(g_mutex);
    if (g_fixed) return *g_fixed;
  }
  const std::time_t real = std::time(nullptr);
  if (auto shifted = FromClockFile(real)) return *shifted;
  return real;
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return tm;
}

void SetFixedTime(std::optional<std::time_t> t) {
  std::lock_guard lock(g_mutex);
  g_fixed = t;
}

void AdvanceFixedTime(long seconds) {
  std::lock_guard lock(g_mutex);
  g_fixed = (g_fixed ? *g_fixed : std::time(nullptr)) + seconds;
}

}  // namespace platform
