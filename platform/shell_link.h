// STKIT432.DLL, the setup toolkit's shortcut library: fCreateShellLink makes a shortcut in the
// current user's Programs folder. A shortcut here is a freedesktop Desktop Entry "NAME.lnk" that
// names its target and arguments by their Windows paths.
#pragma once

#include <optional>
#include <string>

#include "platform/win_types.h"

// Makes "<Programs>\<folder>\<name>.lnk" (folders made as needed; `folder` is relative to the
// Programs folder of HKCU Shell Folders and may begin with "\"). 1 on success, 0 on failure.
// Call it only when ShellLinkLibraryError() is empty, as a program can call a library only once
// it loads.
LONG fCreateShellLink(LPCSTR folder, LPCSTR name, LPCSTR target, LPCSTR arguments);

namespace platform {

struct LibraryLoadError {
  long number;  // VB's run-time error number: 53 file not found, 48 error in loading DLL
  std::string description;
};

// Why the library cannot be called: it is not in the machine's system folder (53), or regsvr32
// has not registered it there (48). Empty when it can.
std::optional<LibraryLoadError> ShellLinkLibraryError();

// Windows path of the library in the machine's system folder.
std::string ShellLinkLibraryPath();

}  // namespace platform
