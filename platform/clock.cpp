// The settable clock.
#include "platform/clock.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

namespace platform {
namespace {

std::mutex g_mutex;
std::optional<std::time_t> g_fixed;

std::optional<std::time_t> FromClockFile(std::time_t real) {
  const char* path = std::getenv("MINUTRIX_CLOCK_FILE");
  if (path == nullptr || *path == '\0') return std::nullopt;
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return std::nullopt;
  if (line[0] == '+' || line[0] == '-') {
    char* end = nullptr;
    long value = std::strtol(line.c_str() + 1, &end, 10);
    long unit = 1;
    if (*end == 'm') unit = 60;
    if (*end == 'h') unit = 3600;
    if (*end == 'd') unit = 86400;
    const long shift = value * unit;
    return line[0] == '+' ? real + shift : real - shift;
  }
  std::tm tm{};
  if (std::sscanf(line.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6) {
    return std::nullopt;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
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
