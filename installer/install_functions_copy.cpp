// Unit Install_Functions: FilesCopied and the folder tokens of the install script.
#include "installer/install_functions_copy.h"

#include <cstdint>

#include "installer/functions.h"
#include "installer/install_functions.h"
#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "platform/ado.h"
#include "platform/ado_admin.h"
#include "platform/forms.h"
#include "platform/fso.h"
#include "platform/machine.h"

namespace installer::Install_Functions {
namespace {

bool HasDriveRoot(const std::string& folder) {
  return folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\';
}

std::string ComparablePath(const std::string& path) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of("\\/", start);
    const std::string part =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty() && part != ".") out += "\\" + platform::UpperAscii(part);
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

}  // namespace

void ResolveScriptDirectory(std::string& folder, bool& token) {
  token = true;
  if (!folder.empty() && folder[0] == '<') {
    const size_t close = folder.find('>', 1);
    const std::string name =
        folder.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    // The tail skips the ">" and the separator after it.
    const std::string tail =
        close == std::string::npos || close + 2 > folder.size() ? "" : folder.substr(close + 2);
    const std::string upper = platform::UpperAscii(name);
    if (upper == "DEFAULT WEBSITE") {
      folder = strWWWRoot + tail;
      return;
    }
    if (upper == "SYSTEM32") {
      folder = strSystemPath;
      return;
    }
  }
  token = false;
}

bool IsProductDatabase(const std::string& path) {
  return ComparablePath(path) == ComparablePath(kDatabasePath);
}

long UsersInProductDatabase() {
  if (!FileExists(kDatabasePath)) return -1;
  try {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open("Data Source=" + kDatabasePath + ";", "", "", 0);
    const long users =
        static_cast<long>(ado::QueryInteger(connection, "SELECT count(*) FROM Users", {}, -1));
    connection->Close();
    return users;
  } catch (const ado::ComError&) {
    return -1;
  }
}

bool ResolvedFolderAllowed(const std::string& folder, bool token, const std::string& line) {
  if (!token || HasDriveRoot(folder)) return true;
  strError = MsgScriptError + kCrLf + "Line : " + line;
  return false;
}

bool FilesCopied(const std::string& distribution, const std::string& product_folder,
                 const std::string& computer_name) {
  bool result = true;
  std::int16_t count = 0;
  std::string folder;
  bool token = false;
  std::string name;
  std::string source;
  ErrObject err;
  Debug("[FilesCopied] Initializing oFSO");
  try {
    const platform::FileSystemObject fso;
    platform::AutomationError error;
    const auto script = fso.OpenTextFile(distribution + "InstallScript.txt", &error);
    if (!script) throw RunTimeError(error.number, error.description, error.source);
    bool failed = false;
    while (!script->AtEndOfStream()) {
      std::string line = script->ReadLine();
      const std::string original = line;
      int kind = kScriptSkip;
      if (!ParseScriptLine(line, kind)) {
        failed = true;
        break;
      }
      if (kind == kScriptFolder) {
        Debug("[FilesCopied] DIR: " + line);
        ResolveScriptDirectory(line, token);
        folder = line;
        if (!ResolvedFolderAllowed(folder, token, original)) {
          failed = true;
          break;
        }
        const std::string target = token ? folder : product_folder + folder;
        if (!MakeDir(target)) {
          result = false;
          strError = MsgCopyError + kCrLf + "Dir : " + target;
        }
      } else if (kind == kScriptFile) {
        name = line;
        Debug("[FilesCopied] FILENAME: " + name);
        source = token ? distribution + name : distribution + folder + name;
        const std::string destination = token ? folder + name : product_folder + folder + name;
        if (IsProductDatabase(destination) && FileExists(destination)) {
          // The administrator's users and minutes; the sample is only for a new install.
          ShowMessage(MsgDatabaseKept + " : " + destination);
        } else if (InstallFile(source, destination, computer_name, true)) {
          ++count;
        } else {
          result = false;
          const std::string text =
              MsgCopyError + kCrLf + "File : " + source + " -> " + destination + kCrLf;
          if (token) {
            strError = text;
            Debug("[FileExists] " + strError);
          } else {
            strError += text;
          }
        }
      }
    }
    if (failed) throw RunTimeError(0, "", "");
  } catch (...) {
    err = CaughtErr();
    result = false;
    if (strError.empty()) {
      strError = MsgCopyError + kCrLf + "File : " + name + kCrLf +
                 "Files copied : " + std::to_string(count) + kCrLf + ErrorDetails(err);
    }
    if (bDebug == kTrue) {
      platform::forms::MsgBox("[FILESCOPIED]" + strError, platform::forms::vbCritical,
                              "Error occured!");
    }
  }
  if (!strError.empty()) ShowMessage(strError);
  Debug(std::to_string(count) + " files were copied.");
  return result;
}

}  // namespace installer::Install_Functions
