// Win32 calls of the installer that end or restart the machine. The machine root cannot really
// restart: the request is recorded in "shutdown.log" of the machine root, for people and tests.
#pragma once

#include <string>

#include "platform/win_types.h"

inline constexpr UINT EWX_LOGOFF = 0x00000000;
inline constexpr UINT EWX_SHUTDOWN = 0x00000001;
inline constexpr UINT EWX_REBOOT = 0x00000002;
inline constexpr UINT EWX_FORCE = 0x00000004;
inline constexpr UINT EWX_POWEROFF = 0x00000008;

// Records "ExitWindowsEx <flags as words> (0x..) reason 0x... by process <pid>" as one line of
// shutdown.log and returns TRUE; FALSE, last error set, when it cannot be written. The caller
// goes on running, as on Windows until the system ends it.
BOOL ExitWindowsEx(UINT flags, DWORD reason);

namespace platform {
// Host path of the record of restart requests.
std::string ShutdownLogPath();
}  // namespace platform
