// Faults on purpose: the [Faults] section of the machine profile makes the Nth call of a platform
// operation fail with a chosen Win32 error, so that tests can walk the paths that handle failures.
#pragma once

#include <string_view>

#include "platform/win_types.h"

namespace platform {

// The operations that can be made to fail, each named in the profile as shown.
enum class FaultOp {
  kFileCreate,      // "FileCreate": WinFile::Open for writing, the durable replace's temporary file
  kFileWrite,       // "FileWrite": WinFile::Write, the durable replace's write
  kFileRename,      // "FileRename": the durable replace's rename over the old file
  kFolderCreate,    // "FolderCreate": FileSystemObject::CreateFolder
  kRegOpenKey,      // "RegOpenKey": RegOpenKeyExA and RegCreateKeyExA
  kRegSetValue,     // "RegSetValue": RegSetValueExA
  kProcessStart,    // "ProcessStart": StartProcess
  kWmiQuery,        // "WmiQuery": WmiServices::ExecQuery
  kDriveFreeSpace,  // "DriveFreeSpace": the free space of the file-system object's drives
  kCount
};

std::string_view FaultOpName(FaultOp op);

// Counts a call of `op`. Returns ERROR_SUCCESS, or the error the call is to fail with, which is
// then also the last error. Next to free while the profile asks for no faults.
DWORD InjectedFault(FaultOp op);

// Reads [Faults] again at once and restarts the counts. The seam notices a new machine root at
// once and a changed profile within a second by itself; tests that cannot wait call this.
void ReloadFaults();

}  // namespace platform
