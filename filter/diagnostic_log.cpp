// The diagnostic log: one open-append-close per entry, so that lines of concurrent threads stay
// whole and a log switched on in the registry takes effect at the next entry.
#include "filter/diagnostic_log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "filter/registry_settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/module.h"
#include "platform/never_destroyed.h"

namespace {

constexpr const char* kVersionLine = "V3.6.2.3";

// The filter object logs from its destructor while the library unloads or the process exits,
// after other statics may be gone: the log's own state is never destroyed.
struct LogState {
  std::mutex mutex;  // guards the two items below
  std::string path;
  bool ready = false;
};

LogState& State() {
  static LogState& state = platform::NeverDestroyed<LogState>();
  return state;
}

std::string FormatTime(const char* format) {
  const std::tm tm = platform::LocalNow();
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

// One printf conversion of `format`, located: [begin, end) and its conversion character.
struct Conversion {
  size_t begin = std::string::npos;
  size_t end = 0;
  char type = 0;
  int longs = 0;  // number of 'l' length modifiers
};

Conversion FindConversion(std::string_view format) {
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      ++i;
      continue;
    }
    Conversion c;
    c.begin = i;
    size_t j = i + 1;
    while (j < format.size() && std::string_view("-+ #0").find(format[j]) != std::string_view::npos)
      ++j;
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) ++j;
    if (j < format.size() && format[j] == '.') {
      ++j;
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) ++j;
    }
    while (j < format.size() && (format[j] == 'l' || format[j] == 'h')) {
      if (format[j] == 'l') ++c.longs;
      ++j;
    }
    if (j >= format.size()) return Conversion{};
    c.type = format[j];
    c.end = j + 1;
    return c;
  }
  return Conversion{};
}

// Literal text of a format piece: "%%" becomes "%"; any further conversion stays as written.
std::string Literal(std::string_view piece) {
  std::string out;
  for (size_t i = 0; i < piece.size(); ++i) {
    out.push_back(piece[i]);
    if (piece[i] == '%' && i + 1 < piece.size() && piece[i + 1] == '%') ++i;
  }
  return out;
}

std::string FormatNumber(std::string_view format, long long value) {
  const Conversion c = FindConversion(format);
  if (c.begin == std::string::npos) return Literal(format);
  std::string conversion(format.substr(c.begin, c.end - c.begin));
  // Strip length modifiers and size the argument ourselves, so that any "%d", "%ld" or "%08lx"
  // gets an argument of the type it reads.
  std::string base;
  for (char ch : conversion) {
    if (ch != 'l' && ch != 'h') base.push_back(ch);
  }
  char buf[128];
  int n = -1;
  switch (c.type) {
    case 'd':
    case 'i':
      base.insert(base.size() - 1, "ll");
      n = std::snprintf(buf, sizeof buf, base.c_str(),
                        c.longs > 0 ? value : static_cast<long long>(static_cast<int>(value)));
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      base.insert(base.size() - 1, "ll");
      n = std::snprintf(buf, sizeof buf, base.c_str(),
                        c.longs > 0
                            ? static_cast<unsigned long long>(static_cast<unsigned long>(value))
                            : static_cast<unsigned long long>(static_cast<unsigned>(value)));
      break;
    case 'c':
      n = std::snprintf(buf, sizeof buf, base.c_str(), static_cast<int>(value));
      break;
    default:
      n = std::snprintf(buf, sizeof buf, "%lld", value);
      break;
  }
  if (n < 0) throw std::runtime_error("format");
  return Literal(format.substr(0, c.begin)) +
         std::string(buf, std::min<size_t>(n, sizeof buf - 1)) + Literal(format.substr(c.end));
}

std::string FormatText(std::string_view format, std::string_view value) {
  const Conversion c = FindConversion(format);
  if (c.begin == std::string::npos) return Literal(format);
  std::string inserted;
  if (c.type == 's') {
    const std::string conversion(format.substr(c.begin, c.end - c.begin));
    const std::string text(value.substr(0, value.find('\0')));  // a C string ends at its zero byte
    const int n = std::snprintf(nullptr, 0, conversion.c_str(), text.c_str());
    if (n < 0) throw std::runtime_error("format");
    inserted.resize(static_cast<size_t>(n) + 1);
    std::snprintf(inserted.data(), inserted.size(), conversion.c_str(), text.c_str());
    inserted.resize(static_cast<size_t>(n));
  } else {
    inserted = std::string(format.substr(c.begin, c.end - c.begin));
  }
  return Literal(format.substr(0, c.begin)) + inserted + Literal(format.substr(c.end));
}

// Writes one entry, `count` times in one append; throws when the file cannot be written.
void AppendLine(std::string_view message, int severity, long count = 1) {
  std::string path;
  {
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    if (!state.ready) {
      state.path = GetLoggingFilePath("MinutrixOutput") + FormatTime("%d%m%Y") + ".txt";
      InitloggingFile(state.path);
      state.ready = true;
      diagnostic_log_detail::g_ready_flag.store(true, std::memory_order_release);
    }
    path = state.path;
  }
  std::string line;
  switch (severity) {
    case 0:
      if (IsDebugOn()) line = ">" + std::string(message);
      break;
    case 1:
      line = "]" + std::string(message);
      break;
    case 2:
      line = "-" + std::string(message);
      break;
    case 3:
      line = "*" + std::string(message);
      break;
    default:
      line = "Unknown severity!";
      break;
  }
  if (line.empty() || count < 1) return;
  line += "\n";
  auto file = platform::WinFile::Open(path, "a");
  if (!file) throw std::runtime_error("log write");
  constexpr std::size_t kChunk = 64 * 1024;
  std::string text;
  for (long i = 0; i < count; ++i) {
    text += line;
    if (text.size() >= kChunk || i + 1 == count) {
      if (!file->Write(text)) throw std::runtime_error("log write");
      text.clear();
    }
  }
  if (!file->Close()) throw std::runtime_error("log write");
}

}  // namespace

namespace diagnostic_log_detail {

std::atomic<bool> g_ready_flag{false};

void WriteLine(std::string_view message, int severity, long count) noexcept {
  try {
    AppendLine(message, severity, count);
  } catch (...) {
    WriteFallbackRecord("[DoMessageHandling normal]");
  }
}

void WriteNumber(const char* format, long long value, int severity) noexcept {
  std::string message;
  try {
    message = FormatNumber(format == nullptr ? "" : format, value);
  } catch (...) {
    WriteFallbackRecord("[DoMessageHandling int]");
    return;
  }
  DoMessageHandling(message, severity);
}

void WriteText(const char* format, std::string_view value, int severity) noexcept {
  std::string message;
  try {
    message = FormatText(format == nullptr ? "" : format, value);
  } catch (...) {
    WriteFallbackRecord("[DoMessageHandling CString]");
    return;
  }
  DoMessageHandling(message, severity);
}

}  // namespace diagnostic_log_detail

std::string GetLoggingFilePath(const std::string& file_name) noexcept {
  try {
    std::string dir = GetMinutrixPath();
    if (dir.empty()) {
      HMODULE module = GetModuleHandleA("Minutrix.dll");  // nullptr: the host program itself
      char name[MAX_PATH] = {};
      if (GetModuleFileNameA(module, name, MAX_PATH) == 0) throw std::runtime_error("module");
      dir = name;
      const size_t slash = dir.rfind('\\');
      if (slash == std::string::npos) throw std::runtime_error("module path");
      dir.resize(slash + 1);
    } else if (dir.back() != '\\') {
      dir += '\\';
    }
    return dir + file_name;
  } catch (...) {
    WriteFallbackRecord("[GetLoggingFilePath]");
    return kFallbackFile;
  }
}

void InitloggingFile(const std::string& path) noexcept {
  try {
    const bool debug = IsDebugOn();
    // Appended: a helper restarted the same day must not erase the lines that explain why.
    auto file = platform::WinFile::Open(path, "a");
    if (!file) throw std::runtime_error("open");
    std::string head = "[INIT]\n";
    if (debug) head += std::string(kVersionLine) + "\n";
    head += FormatTime("%d-%m-%Y; %H:%M") + "\n";
    if (debug) head += "Process ID : " + std::to_string(GetCurrentProcessId()) + "\n";
    if (!file->Write(head) || !file->Close()) throw std::runtime_error("write");
  } catch (...) {
    WriteFallbackRecord("[InitloggingFile]");
  }
}

std::string LastSystemErrorText() noexcept {
  const DWORD error = GetLastError();
  try {
    std::string text = std::to_string(error);
    const std::string_view meaning = platform::SystemErrorText(error);
    if (!meaning.empty()) text += " (" + std::string(meaning) + ")";
    return text;
  } catch (...) {
    return {};
  }
}

void ResetLogForTests() noexcept {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  state.ready = false;
  diagnostic_log_detail::g_ready_flag.store(false, std::memory_order_release);
  state.path.clear();
}
