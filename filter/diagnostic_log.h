// The diagnostic log "MinutrixOutput<ddmmyyyy>.txt" in the install directory, with its fallback
// file "c:\error.txt". No function here throws or reports a failure to its caller.
#pragma once

#include <string>
#include <string_view>

// Severity 0 (">", only while debugging is on), 1 ("]"), 2 ("-"), 3 ("*"); any other severity
// writes "Unknown severity!". Several threads may log at once; each entry is one whole line.
void DoMessageHandling(std::string_view message, int severity) noexcept;
// The same entry `count` times, as that many calls would write it, in one append: a reset of
// thousands of users logs one line for each.
void DoMessageHandlingRepeated(std::string_view message, int severity, long count) noexcept;
// `format` with one printf conversion for `value` (its length modifier is honoured).
void DoMessageHandling(const char* format, long long value, int severity) noexcept;
// `format` with one "%s" for `value` (up to its first zero byte, as a C string).
void DoMessageHandling(const char* format, std::string_view value, int severity) noexcept;
// True when a detail line (severity 0) would be dropped now, so a caller need not build its
// text; with the log not yet set up it is false (the first entry writes the head).
bool DetailLineDropped() noexcept;

// Full Windows path of `file_name` in the install directory; "c:\error.txt" if that fails.
std::string GetLoggingFilePath(const std::string& file_name) noexcept;

// Writes the head of a new log file at `path` (a Windows path).
void InitloggingFile(const std::string& path) noexcept;

// Records `tag` and the last system error in "c:\error.txt", replacing what was there.
void WriteFallbackRecord(const char* tag) noexcept;

// The last system error as log lines show it: its number and, where known, the system's text.
std::string LastSystemErrorText() noexcept;

// Forgets the log file of this load, so that the next entry starts a new one (as a new load of
// the library would). For tests that drive the filter code without loading the library.
void ResetLogForTests() noexcept;
