// ExitWindowsEx stand-in.
#include "platform/win32_shell.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/machine.h"

namespace platform {
std::string ShutdownLogPath() { return (MachineRoot() / "shutdown.log").string(); }
}  // namespace platform

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  std::string words;
  switch (flags & 0x0b) {
    case EWX_LOGOFF:
      words = "EWX_LOGOFF";
      break;
    case EWX_SHUTDOWN:
      words = "EWX_SHUTDOWN";
      break;
    case EWX_REBOOT:
      words = "EWX_REBOOT";
      break;
    case EWX_POWEROFF:
      words = "EWX_POWEROFF";
      break;
    default:
      words = "EWX_?";
      break;
  }
  if (flags & EWX_FORCE) words += "|EWX_FORCE";
  std::FILE* log = std::fopen(platform::ShutdownLogPath().c_str(), "a");
  if (log == nullptr) {
    platform::SetLastErrorFromErrno();
    return FALSE;
  }
  char stamp[32] = {};
  // The platform clock, so that a machine whose clock a test moved logs the moved time.
  const std::tm local = platform::LocalNow();
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(log, "%s ExitWindowsEx %s (0x%x) reason 0x%x by process %ld\n", stamp, words.c_str(),
               flags, reason, static_cast<long>(::getpid()));
  const bool ok = std::fclose(log) == 0;
  if (!ok) platform::SetLastErrorFromErrno();
  return ok ? TRUE : FALSE;
}
