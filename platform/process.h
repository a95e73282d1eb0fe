// Processes started by a Windows command line (as VB's Shell and CreateProcess do), with real
// process ids, and the look-up of running processes that the WMI stand-in answers from.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace platform {

// The window styles of VB's Shell. Hidden processes get /dev/null for their standard streams;
// every other style shares the console (terminal) of the starting process.
enum class WindowStyle {
  kHide = 0,
  kNormalFocus = 1,
  kMinimizedFocus = 2,
  kMaximizedFocus = 3,
  kNormalNoFocus = 4,
  kMinimizedNoFocus = 6,
};

inline constexpr DWORD kErrorBadExeFormat = 193;

// Host file of the program a command names, as Windows finds it: a name with a drive or a folder
// is taken as a path (relative to the current folder); a bare name is looked for in the current
// folder, the machine's system32 and Windows folders and its Path. Without an extension the
// names with .com, .exe, .bat and .cmd are tried after the name itself. nullopt when not found.
std::optional<std::filesystem::path> FindProgram(std::string_view name);

// Starts the program named by the first part of `command_line`; it gets the rest split by the C
// runtime's rules, and the raw line through the variables of command_line.h. Returns the real
// process id, or 0 with the last error set (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
// kErrorBadExeFormat). The process runs on after this one ends, as on Windows.
DWORD StartProcess(std::string_view command_line, WindowStyle style);

// Whether a process with this id exists. A finished child of this process is reaped here, so it
// is never reported as running; other finished (zombie) processes do not count either.
bool ProcessRunning(DWORD pid);

// The file name of a process's program ("cmd.exe"), or empty when it cannot be read.
std::string ProcessName(DWORD pid);

// Ids of all running processes.
std::vector<DWORD> RunningProcesses();

}  // namespace platform
