// Files opened by their Windows names, with the C runtime's text mode: in text mode every "\n"
// written becomes CR LF. A WinFile is used by one thread at a time.
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win_types.h"

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

// Replaces the whole content of the host file `path` so that no failure or crash leaves anything
// but the old or the new content: writes a temporary file in the same folder, fsyncs it, renames
// it over `path` and fsyncs the folder. Returns ERROR_SUCCESS, or the Win32 error (also the last
// error) with the old file untouched and the temporary file removed. A symbolic link is followed,
// the file's permissions are kept.
DWORD ReplaceFileDurably(const std::filesystem::path& path, std::string_view content);

// Sets both times of the host file `path` to `when`, making it (empty) first when it is missing:
// a mark that costs no write of content. False when it cannot be made or set.
bool MarkHostFile(const std::filesystem::path& path, std::time_t when);

// Reads a whole file by its Windows name; nullopt (last error set) when it cannot be read.
std::optional<std::string> ReadWholeFile(std::string_view windows_path);

}  // namespace platform
