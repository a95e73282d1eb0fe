// Unit Install_Functions.
#include "installer/install_functions.h"

#include <string_view>

#include "installer/functions.h"
#include "installer/settings.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "platform/vb_app.h"

namespace installer::Install_Functions {
namespace {

// VB's Trim: spaces only.
std::string TrimSpaces(std::string_view text) { return platform::Trim(text, " "); }

bool HasParentComponent(std::string_view name) {
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("\\/", start);
    if (name.substr(start, end == std::string_view::npos ? end : end - start) == "..") return true;
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

// A folder or file of the script that would leave the folder it is under: a ".." component, a
// drive, or a name from the root.
bool ReachesOutside(const std::string& name) {
  if (name.find(':') != std::string::npos) return true;
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return true;
  return HasParentComponent(name);
}

// A token folder ("<DEFAULT WEBSITE>\sub") is the token's folder and the sub-path after the ">"
// and one separator: neither the text after the ">" nor that sub-path may hold a "..".
bool TokenPathReachesOutside(const std::string& name) {
  if (name.empty() || name[0] != '<') return false;
  const size_t close = name.find('>');
  if (close == std::string::npos) return false;
  const std::string_view rest = std::string_view(name).substr(close + 1);
  return HasParentComponent(rest) || (!rest.empty() && HasParentComponent(rest.substr(1)));
}

}  // namespace

bool ParseScriptLine(std::string& line, int& kind) {
  kind = kScriptSkip;
  const std::string original = line;
  if (!line.empty()) {
    if (line.compare(0, 2, "//") == 0) {
      kind = kScriptSkip;
    } else if (line[0] == '[') {
      const std::string upper = platform::UpperAscii(line);
      if (upper == "[INSTALL FILES]") {
        kind = kScriptSection;
        line.clear();
      } else if (upper.find("DIR:") != std::string::npos) {
        kind = kScriptFolder;
        const size_t close = line.find(']');
        // 1-based position of the "]"; the name starts at position 6, after "[" and "DIR:".
        const size_t p = close == std::string::npos ? 0 : close + 1;
        if (p < 6) {
          strError = MsgScriptError + kCrLf + "Line : " + line;
          return false;
        }
        if (p == 6) {
          line.clear();
        } else {
          line = line.substr(5, p - 6);
          if (line.back() != '\\') line += "\\";
        }
      } else {
        kind = kScriptFile;
      }
    } else {
      kind = kScriptFile;
    }
  }
  line = TrimSpaces(line);
  if ((kind == kScriptFolder || kind == kScriptFile) &&
      (ReachesOutside(line) || (kind == kScriptFolder && TokenPathReachesOutside(line)))) {
    strError = MsgScriptError + kCrLf + "Line : " + original;
    return false;
  }
  return true;
}

bool InstallFile(const std::string& source, const std::string& destination,
                 const std::string& computer_name, bool overwrite) {
  ErrObject err;
  try {
    Debug("[InstallFile] Is it a folder?");
    const bool folder = FolderExists(source);
    bool copy = true;
    if (!folder) {
      Debug("[InstallFile] Not a folder");
      if (FileExists(destination) && !overwrite) {
        Debug("[InstallFile] File doesn't need to be copied (already exists)");
        return true;
      }
      if (!FileExists(source)) {
        Debug("[InstallFile] Source file does not exist! unable to copy file!");
        strError = MsgFileNotFound + kCrLf + "File : " + source + kCrLf;
        copy = false;
      }
    } else if (!MakeDir(destination)) {
      // Counting a folder whose destination cannot be made as copied would hide the failure;
      // MakeDir has left MsgCannotMakeDir in strError.
      copy = false;
    }
    if (copy) {
      Debug("[InstallFile]Starting copy");
      const std::string command = folder
                                      ? "Copy \"" + source + "\\*.*\" \"" + destination + "\\*.*\""
                                      : "Copy \"" + source + "\" \"" + destination + "\"";
      const bool debug = bDebug == kTrue;
      if (debug) {
        Debug("[InstallFile]InstallString : " + platform::Environ("comspec") + " /c ");
        Debug("  \"" + command + "\"");
      }
      const double pid =
          Shell(CommandLineFor(command, false),
                debug ? platform::WindowStyle::kMaximizedFocus : platform::WindowStyle::kHide);
      if (WaitForProcess(pid, computer_name)) {
        if (folder || FileExists(destination)) {
          Debug(source + " -> " + destination);
          return true;
        }
        strError = MsgFileNotFound + kCrLf + destination;
      }
    }
  } catch (...) {
    err = CaughtErr();
  }
  if (strError.empty()) {
    strError = MsgAppFilesError + kCrLf + "Error File : " + source + kCrLf + ErrorDetails(err);
  }
  Debug("[InstallFile]Error : " + strError);
  return false;
}

}  // namespace installer::Install_Functions
