// Module handles and file names of loaded libraries, as GetModuleHandle/GetModuleFileName answer.
#pragma once

#include "platform/win_types.h"

// The loaded shared object whose file name is `module_name` (compared without case, directory
// ignored), or the main program for nullptr. Returns nullptr, last error set, when none is loaded.
HMODULE GetModuleHandleA(LPCSTR module_name);

// The Windows name of the module's file (nullptr: the main program), in `filename` of `size`
// characters. A name that does not fit is cut to size - 1 characters and terminated; the result is
// then `size` and the last error ERROR_INSUFFICIENT_BUFFER. Returns 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size);
