// Unit Install_Functions: the install script's line kinds, and the copy of one file or folder
// through the command interpreter.
#pragma once

#include <string>

namespace installer {
namespace Install_Functions {

// Line kinds of the install script.
inline constexpr int kScriptSkip = 0;
inline constexpr int kScriptSection = 1;
inline constexpr int kScriptFolder = 2;
inline constexpr int kScriptFile = 3;

// Classifies a line and rewrites it to what it yields (a folder name ending in "\", a file name,
// or nothing). False, with strError set, for a folder line without a closing "]" in place, and
// for a folder or file that would leave its folder (a ".." component, also after a folder's
// token, a drive, or a name from the root).
bool ParseScriptLine(std::string& line, int& kind);

// Copies a file, or every file of a folder, with the interpreter's Copy, and waits for it. True
// when the copy is done or not needed; false, with strError set, when it failed, including when
// the destination folder of a folder copy cannot be made.
bool InstallFile(const std::string& source, const std::string& destination,
                 const std::string& computer_name, bool overwrite);

}  // namespace Install_Functions

using namespace Install_Functions;

}  // namespace installer
