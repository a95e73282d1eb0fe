// The registry file's tree and its text format; used by the registry store, no I/O here.
//
// One item a line:
//   MINUTRIX-REGISTRY 1
//   [HKEY_LOCAL_MACHINE\software\Minutrix]
//   "MinutrixPath"=sz:"c:\\Minutrix\\"        REG_SZ, stored with its terminating zero
//   "MinutrixDebug"=dword:00000001             REG_DWORD
//   @=expand_sz:"..."                           the unnamed value, REG_EXPAND_SZ
//   "Blob"=hex(3):01,ff                         any type, as bytes
//   ["HKEY_LOCAL_MACHINE\\odd\nname"]           a key whose path holds a control byte, quoted
// A line that cannot be read is skipped (its value reads as missing) and its number noted; it is
// kept verbatim and written back where it stood, so that saving a damaged file loses nothing.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform::registry {

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

// A line that could not be read, and how many values of its key stood before it.
struct RawLine {
  size_t before = 0;
  std::string text;
};

struct Key {
  std::string path;  // as first created, e.g. "HKEY_LOCAL_MACHINE\software\Minutrix"
  std::vector<Value> values;
  std::vector<RawLine> raw_lines;

  Value* Find(std::string_view name);
};

struct Tree {
  std::map<std::string, Key> keys;    // by upper-cased path
  std::vector<int> damaged_lines;     // 1-based numbers of the lines that could not be read
  std::vector<std::string> preamble;  // unreadable lines that stood before the first key
  std::string text;                   // the file as read, kept to save a damaged file
  bool damaged() const { return !damaged_lines.empty(); }
};

inline constexpr const char* kHives[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                         "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

bool IsHive(std::string_view name);
// Adds `path` and every key above it that is missing.
void AddKeyWithParents(Tree& tree, const std::string& path);

Tree Parse(const std::string& text);
std::string Format(const Tree& tree);

}  // namespace platform::registry
