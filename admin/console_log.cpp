// Appending to the console's log.
#include "admin/console_log.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>

#include "platform/clock.h"

namespace admin {

void ConsoleLog::Write(const std::string& text) {
  const std::tm tm = platform::LocalNow();
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::string line = stamp;
  line += ' ';
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      line += escaped;
    } else {
      line += static_cast<char>(c);
    }
  }
  line += '\n';
  std::lock_guard lock(mutex_);
  std::ofstream out(file_, std::ios::app | std::ios::binary);
  out << line;
  std::cerr << "minutrix-admin: " << line << std::flush;
}

}  // namespace admin
