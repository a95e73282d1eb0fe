// Unit UnInstall_Functions: unregistration, the path value, and the deletion of the script's
// files.
#include "installer/uninstall_functions.h"

#include <cstdint>
#include <string>
#include <vector>

#include "installer/functions.h"
#include "installer/install_functions.h"
#include "installer/install_functions_copy.h"
#include "installer/registry_functions.h"
#include "installer/runtime_error.h"
#include "installer/settings.h"
#include "platform/fso.h"
#include "platform/last_error.h"
#include "platform/process.h"
#include "platform/vb_app.h"

namespace installer::UnInstall_Functions {
namespace {

// What the filter writes beside the files the script lists: SQLite's side files of the database
// (committed minutes not yet checkpointed), the day logs and the status file. They go with the
// product; the database's stay with a database that is kept.
bool FilterFilesDeleted(const std::string& database, const std::string& product_folder,
                        const std::string& computer_name) {
  bool result = true;
  std::vector<std::string> files;
  for (const char* suffix : {"-wal", "-shm", "-journal"}) files.push_back(database + suffix);
  if (bKeepDatabase != kTrue) {
    files.push_back(product_folder + "Minutrix.sts");
    // The logs are one a day: the interpreter's DEL takes them by their pattern.
    const std::string logs = product_folder + "MinutrixOutput*.txt";
    const double pid =
        Shell(CommandLineFor("Del /F /Q \"" + logs + "\"", false), platform::WindowStyle::kHide);
    if (!WaitForProcess(pid, computer_name)) {
      result = false;
      strError += MsgDeleteFileError + kCrLf + "File : " + logs + kCrLf;
    }
  }
  for (const std::string& file : files) {
    if (bKeepDatabase == kTrue && file.rfind(database, 0) == 0) continue;
    if (FileExists(file) && !Deletefile(file, computer_name)) {
      result = false;
      strError += MsgDeleteFileError + kCrLf + "File : " + file + kCrLf;
    }
  }
  return result;
}

}  // namespace

bool UnRegisterFilter() {
  return RunRegistrationScript(
      "CScript \"" + strFiltersDirPath + "UnRegisterISAPIFilter.VBS" + "\" " + "Minutrix",
      MsgFilterNotRemoved);
}

bool RemovePathFromReg() {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\Minutrix", 0, kKeyAccess, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegDeleteValueA(key, "MinutrixPath");
    RegCloseKey(key);
  }
  if (rc == ERROR_SUCCESS) return true;
  strError = ErrorDetails({rc, std::string(platform::SystemErrorText(rc)), "Setup"});
  return false;
}

bool FilesDeleted(const std::string& distribution, const std::string& product_folder,
                  const std::string& computer_name) {
  bool result = true;
  std::int16_t count = 0;
  std::string folder;
  bool token = false;
  try {
    const platform::FileSystemObject fso;
    platform::AutomationError error;
    const auto script = fso.OpenTextFile(distribution + "InstallScript.txt", &error);
    if (!script) throw RunTimeError(error.number, error.description, error.source);
    while (!script->AtEndOfStream()) {
      std::string line = script->ReadLine();
      const std::string original = line;
      int kind = kScriptSkip;
      if (!ParseScriptLine(line, kind)) {
        // A folder line without its "]" only ends the walk; a line refused for reaching outside
        // the product's folders (a file line, or a folder line with its "]") is a failure.
        const size_t close = original.find(']');
        if (kind == kScriptFile || (close != std::string::npos && close + 1 >= 6)) result = false;
        break;
      }
      if (kind == kScriptFolder) {
        ResolveScriptDirectory(line, token);
        folder = line;
        if (!ResolvedFolderAllowed(folder, token, original)) {
          result = false;
          break;
        }
        const std::string tested = token ? folder : product_folder + folder;
        if (!FolderExists(tested)) {
          result = false;
          strError += MsgCannotMakeDir + kCrLf + "Dir : " + tested;
        }
      } else if (kind == kScriptFile) {
        const std::string path = token ? folder + line : product_folder + folder + line;
        if (bKeepDatabase == kTrue && IsProductDatabase(path)) {
          ShowMessage(MsgDatabaseKept + " : " + path);
        } else if (Deletefile(path, computer_name)) {
          ++count;
        } else {
          result = false;
          strError += MsgDeleteFileError + kCrLf + "File : " + path + kCrLf;
        }
      }
    }
    if (!FilterFilesDeleted(kDatabasePath, product_folder, computer_name)) result = false;
  } catch (...) {
    const ErrObject err = CaughtErr();
    result = false;
    if (strError.empty()) strError = ErrorDetails(err);
  }
  if (!strError.empty()) ShowMessage(strError);
  Debug(std::to_string(count) + " files were deleted.");
  return result;
}

bool Deletefile(const std::string& path, const std::string& computer_name) {
  ErrObject err;
  try {
    const std::string& self = platform::AppExeName();
    if ((!self.empty() && path.find(self) != std::string::npos) ||
        path.find("InstallScript.txt") != std::string::npos) {
      return true;
    }
    const bool folder = FolderExists(path);
    std::string command;
    if (folder) {
      // The files of the folder, never the folder itself.
      std::string base = path;
      while (!base.empty() && base.back() == '\\') base.pop_back();
      command = "Del /F /Q \"" + base + "\\*.*\"";
    } else if (!FileExists(path)) {
      if (bExtraMessages == kTrue) ShowMessage("[Deletefile] File : " + path + " does not exist");
      return true;
    } else {
      command = "Del /F /Q \"" + path + "\"";
    }
    const double pid = Shell(CommandLineFor(command, false), platform::WindowStyle::kHide);
    if (WaitForProcess(pid, computer_name) && (folder || !FileExists(path))) {
      Debug(path + " Deleted");
      return true;
    }
  } catch (...) {
    err = CaughtErr();
  }
  if (strError.empty()) {
    strError = MsgDeleteFileError + kCrLf + "File : " + path + kCrLf + ErrorDetails(err);
  }
  return false;
}

}  // namespace installer::UnInstall_Functions
