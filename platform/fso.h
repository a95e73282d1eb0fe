// A stand-in for the scripting runtime's FileSystemObject, on Windows path names of the machine
// root, and SearchTreeForFile. Failures come back as the runtime's error numbers
// (53 file not found, 58 file already exists, 70 permission denied, 76 path not found,
// 68 device unavailable, 5 invalid procedure call or argument).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "platform/wmi.h"

namespace platform {

struct DriveInfo {
  std::string drive_letter;    // "C"
  std::string path;            // "C:"
  double available_space = 0;  // bytes this user may still write
  double free_space = 0;       // bytes free on the volume
  double total_size = 0;
};

// Reads a text file line by line; bytes of the ANSI code page (Windows-1252) come back as UTF-8.
class TextStream {
 public:
  explicit TextStream(std::string content) : content_(std::move(content)) {}
  bool AtEndOfStream() const { return pos_ >= content_.size(); }
  // The next line without its CR LF (or LF); empty at the end.
  std::string ReadLine();

 private:
  std::string content_;
  size_t pos_ = 0;
};

class FileSystemObject {
 public:
  bool FileExists(std::string_view path) const;
  bool FolderExists(std::string_view path) const;
  // One level: the parent must exist. Fails with 58 when the folder exists, 76 when the parent
  // is missing.
  bool CreateFolder(std::string_view path, AutomationError* error) const;
  // "c:" for "c:\Minutrix\", empty when the path names no drive.
  std::string GetDriveName(std::string_view path) const;
  // "c", "c:" or "c:\"; fails with 68 for a drive the machine has not.
  std::optional<DriveInfo> GetDrive(std::string_view drive_spec, AutomationError* error) const;
  // The machine's drives in letter order (Z:, the host's files, is none of them).
  std::vector<DriveInfo> Drives() const;
  // "a.b.c.d", or empty when the file has no version (see file_version in fso.cpp).
  std::string GetFileVersion(std::string_view path) const;
  // Moves a folder with everything in it; the destination must not exist (58).
  bool MoveFolder(std::string_view source, std::string_view destination,
                  AutomationError* error) const;
  // Deletes a folder with everything in it. Without `force`, read-only files stop it (70) before
  // anything is deleted.
  bool DeleteFolder(std::string_view path, bool force, AutomationError* error) const;
  bool DeleteFile(std::string_view path, bool force, AutomationError* error) const;
  // Opens an existing file for reading (53 when missing).
  std::unique_ptr<TextStream> OpenTextFile(std::string_view path, AutomationError* error) const;
};

// Text of the version a file carries: the VS_FIXEDFILEINFO of a Windows executable, else the
// first "FileVersion=a.b.c.d" written in it (how stand-in programs of the machine carry theirs).
std::string FileVersionOf(const std::string& host_path);

}  // namespace platform

// Searches the folder tree under `root_path` for a file named like the last component of
// `input_path_name` (no case): each folder's own files first, then its subfolders in name order.
// Links to folders are not followed, so the search never leaves the tree. On success writes the
// file's Windows path (at most MAX_PATH characters and a NUL) to `output_path_buffer`.
BOOL SearchTreeForFile(LPCSTR root_path, LPCSTR input_path_name, LPSTR output_path_buffer);
