// The status file.
#include "filter/status_file.h"

#include <ctime>
#include <string>

#include "filter/diagnostic_log.h"
#include "platform/clock.h"
#include "platform/files.h"

bool WriteStatus(int status) noexcept {
  DoMessageHandling("[WriteStatus] Trying to get MinutrixPath", 0);
  const std::string path = GetLoggingFilePath("Minutrix.sts");
  DoMessageHandling("[WriteStatus] Path=%s", path, 0);
  if (path.empty()) {
    DoMessageHandling("[WriteStatus] couldn't find path", 0);
    return false;
  }
  try {
    auto file = platform::WinFile::Open(path, "w");
    if (!file) {
      DoMessageHandling("The status file was not opened\n", 0);
      return false;
    }
    const std::string number = std::to_string(status);
    DoMessageHandling("[WriteStatus] Converted int to %s", number, 0);
    const std::tm tm = platform::LocalNow();
    char stamp[64];
    const size_t n = std::strftime(stamp, sizeof stamp, "%d-%m-%Y; %H:%M", &tm);
    const bool written = file->Write(number + "\n" + std::string(stamp, n));
    if (!file->Close() || !written) DoMessageHandling("The status file was not closed\n", 0);
    DoMessageHandling("[WriteStatus] Wrote=%d", status, 0);
    return true;
  } catch (...) {
    DoMessageHandling("The status file was not opened\n", 0);
    return false;
  }
}
