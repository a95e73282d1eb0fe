// The calling thread's last system error, as GetLastError/SetLastError keep it on Windows.
#pragma once

#include <string_view>

#include "platform/win_types.h"

DWORD GetLastError() noexcept;
void SetLastError(DWORD error) noexcept;
DWORD GetCurrentProcessId() noexcept;

namespace platform {

// Win32 error code for a POSIX errno value; unknown values map to ERROR_INVALID_FUNCTION.
DWORD Win32ErrorFromErrno(int error_number) noexcept;

// Sets the last error from errno; used by every platform call that fails in the C library.
void SetLastErrorFromErrno() noexcept;

// The system's text for a Win32 error code, without a line end; empty when it has none.
std::string_view SystemErrorText(DWORD error) noexcept;

}  // namespace platform
