// The console's own log: one line per event worth an administrator's look (a start, a throttled
// login, a failed database operation), with the local time. May be used from several threads.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>

namespace admin {

class ConsoleLog {
 public:
  explicit ConsoleLog(std::filesystem::path file) : file_(std::move(file)) {}
  const std::filesystem::path& file() const { return file_; }
  // Appends "YYYY-MM-DD HH:MM:SS text" to the file and to standard error. Control characters of
  // `text` (a login name may hold a line break) are written as \xNN. A file that cannot be
  // written loses the line; standard error still has it.
  void Write(const std::string& text);

 private:
  std::filesystem::path file_;
  std::mutex mutex_;
};

}  // namespace admin
