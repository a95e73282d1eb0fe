// Thread-local last error and the errno to Win32 mapping.
#include "platform/last_error.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace {

thread_local DWORD t_last_error = 0;

using SlotFunction = DWORD* (*)();

// On Windows one system library keeps the last error for every module of a process. Here each
// module links its own copy of this layer, so a library loaded by a host of ours uses the host's
// slot when the host offers one: a filter then sees the error its host's callback set.
DWORD* Slot() {
  static const SlotFunction host_slot =
      reinterpret_cast<SlotFunction>(::dlsym(RTLD_DEFAULT, "MinutrixLastErrorSlot"));
  return host_slot != nullptr ? host_slot() : &t_last_error;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) DWORD* MinutrixLastErrorSlot() {
  return &t_last_error;
}

DWORD GetLastError() noexcept { return *Slot(); }
void SetLastError(DWORD error) noexcept { *Slot() = error; }
DWORD GetCurrentProcessId() noexcept { return static_cast<DWORD>(::getpid()); }

namespace platform {

DWORD Win32ErrorFromErrno(int error_number) noexcept {
  switch (error_number) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

void SetLastErrorFromErrno() noexcept { SetLastError(Win32ErrorFromErrno(errno)); }

std::string_view SystemErrorText(DWORD error) noexcept {
  switch (error) {
    case ERROR_SUCCESS:
      return "The operation completed successfully.";
    case ERROR_INVALID_FUNCTION:
      return "Incorrect function.";
    case ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
      return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
      return "Access is denied.";
    case ERROR_INVALID_HANDLE:
      return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "Not enough storage is available to process this command.";
    case ERROR_INVALID_DATA:
      return "The data is invalid.";
    case ERROR_OUTOFMEMORY:
      return "Not enough storage is available to complete this operation.";
    case ERROR_WRITE_PROTECT:
      return "The media is write protected.";
    case ERROR_SHARING_VIOLATION:
      return "The process cannot access the file because it is being used by another process.";
    case ERROR_LOCK_VIOLATION:
      return "The process cannot access the file because another process has locked a portion "
             "of the file.";
    case ERROR_FILE_EXISTS:
      return "The file exists.";
    case ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect.";
    case ERROR_DISK_FULL:
      return "There is not enough space on the disk.";
    case ERROR_INSUFFICIENT_BUFFER:
      return "The data area passed to a system call is too small.";
    case ERROR_INVALID_NAME:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_DIR_NOT_EMPTY:
      return "The directory is not empty.";
    case ERROR_ALREADY_EXISTS:
      return "Cannot create a file when that file already exists.";
    case ERROR_FILENAME_EXCED_RANGE:
      return "The filename or extension is too long.";
    case ERROR_MORE_DATA:
      return "More data is available.";
    case ERROR_NO_MORE_ITEMS:
      return "No more data is available.";
    case ERROR_BADKEY:
      return "The configuration registry key is invalid.";
    case ERROR_CANTOPEN:
      return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD:
      return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE:
      return "The configuration registry key could not be written.";
    case ERROR_KEY_DELETED:
      return "Illegal operation attempted on a registry key that has been marked for deletion.";
    default:
      return {};
  }
}

}  // namespace platform
