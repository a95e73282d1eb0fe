// Files opened by their Windows names, with the C runtime's text mode: in text mode every "\n"
// written becomes CR LF. A WinFile is used by one thread at a time.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class WinFile {
 public:
  // `mode` as fopen takes it ("w", "a", "r", with "b" for binary; text is the default).
  // Returns nullptr and sets the last error when the file cannot be opened.
  static std::unique_ptr<WinFile> Open(std::string_view windows_path, std::string_view mode);
  ~WinFile();
  WinFile(const WinFile&) = delete;
  WinFile& operator=(const WinFile&) = delete;

  // False, with the last error set, when not all of `text` was written.
  bool Write(std::string_view text);
  // Flushes and closes; false, with the last error set, when that failed.
  bool Close();

 private:
  WinFile(std::FILE* file, bool text) : file_(file), text_(text) {}
  std::FILE* file_;
  bool text_;
};

// Reads a whole file by its Windows name; nullopt (last error set) when it cannot be read.
std::optional<std::string> ReadWholeFile(std::string_view windows_path);

}  // namespace platform
