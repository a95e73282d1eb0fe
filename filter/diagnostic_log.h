// The diagnostic log "MinutrixOutput<ddmmyyyy>.txt" in the install directory, with its fallback
// file "c:\error.txt". No function here throws or reports a failure to its caller.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "filter/fallback_record.h"
#include "filter/registry_settings.h"

namespace diagnostic_log_detail {
// Set once the log file of this load is set up; a plain atomic, never destroyed.
extern std::atomic<bool> g_ready_flag;
// The work for an entry that is not dropped before it is formatted.
void WriteLine(std::string_view message, int severity, long count) noexcept;
void WriteNumber(const char* format, long long value, int severity) noexcept;
void WriteText(const char* format, std::string_view value, int severity) noexcept;
}  // namespace diagnostic_log_detail

// True when a detail line (severity 0) would be dropped now, so a caller need not build its
// text; with the log not yet set up it is false (the first entry writes the head). Inline, as a
// request drops hundreds of detail lines.
inline bool DetailLineDropped() noexcept {
  return diagnostic_log_detail::g_ready_flag.load(std::memory_order_acquire) && !IsDebugOnInline();
}

// Severity 0 (">", only while debugging is on), 1 ("]"), 2 ("-"), 3 ("*"); any other severity
// writes "Unknown severity!". Several threads may log at once; each entry is one whole line.
inline void DoMessageHandling(std::string_view message, int severity) noexcept {
  if (severity == 0 && DetailLineDropped()) return;
  diagnostic_log_detail::WriteLine(message, severity, 1);
}
// The same entry `count` times, as that many calls would write it, in one append: a reset of
// thousands of users logs one line for each.
inline void DoMessageHandlingRepeated(std::string_view message, int severity, long count) noexcept {
  if (severity == 0 && DetailLineDropped()) return;
  diagnostic_log_detail::WriteLine(message, severity, count);
}
// `format` with one printf conversion for `value` (its length modifier is honoured).
inline void DoMessageHandling(const char* format, long long value, int severity) noexcept {
  if (severity == 0 && DetailLineDropped()) return;
  diagnostic_log_detail::WriteNumber(format, value, severity);
}
// `format` with one "%s" for `value` (up to its first zero byte, as a C string).
inline void DoMessageHandling(const char* format, std::string_view value, int severity) noexcept {
  if (severity == 0 && DetailLineDropped()) return;
  diagnostic_log_detail::WriteText(format, value, severity);
}

// Full Windows path of `file_name` in the install directory; "c:\error.txt" if that fails.
std::string GetLoggingFilePath(const std::string& file_name) noexcept;

// Writes the head of a new log file at `path` (a Windows path).
void InitloggingFile(const std::string& path) noexcept;

// The last system error as log lines show it: its number and, where known, the system's text.
std::string LastSystemErrorText() noexcept;

// Forgets the log file of this load, so that the next entry starts a new one (as a new load of
// the library would). For tests that drive the filter code without loading the library.
void ResetLogForTests() noexcept;
