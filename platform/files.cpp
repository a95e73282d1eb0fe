// WinFile over stdio, with CR LF translation in text mode.
#include "platform/files.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/last_error.h"
#include "platform/machine.h"

namespace platform {

std::unique_ptr<WinFile> WinFile::Open(std::string_view windows_path, std::string_view mode) {
  const auto host = HostPath(windows_path);
  if (!host) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  std::string host_mode;
  bool text = true;
  for (char c : mode) {
    if (c == 'b') text = false;
    if (c == 't') continue;
    host_mode.push_back(c);
  }
  if (host_mode.find('b') == std::string::npos) host_mode.push_back('b');
  std::FILE* file = std::fopen(host->c_str(), host_mode.c_str());
  if (file == nullptr) {
    const int error = errno;
    SetLastErrorFromErrno();
    // Windows tells a missing folder from a missing file.
    std::error_code ec;
    if (error == ENOENT && !std::filesystem::is_directory(host->parent_path(), ec)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
    }
    return nullptr;
  }
  return std::unique_ptr<WinFile>(new WinFile(file, text));
}

WinFile::~WinFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool WinFile::Write(std::string_view text) {
  if (file_ == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::string translated;
  if (text_ && text.find('\n') != std::string_view::npos) {
    translated.reserve(text.size() + 16);
    for (char c : text) {
      if (c == '\n') translated.push_back('\r');
      translated.push_back(c);
    }
    text = translated;
  }
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool WinFile::Close() {
  if (file_ == nullptr) return true;
  const int result = std::fclose(file_);
  file_ = nullptr;
  if (result != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

std::optional<std::string> ReadWholeFile(std::string_view windows_path) {
  const auto host = HostPath(windows_path);
  if (!host) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  std::ifstream in(*host, std::ios::binary);
  if (!in) {
    SetLastErrorFromErrno();
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace platform
