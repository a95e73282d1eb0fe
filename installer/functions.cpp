// Unit Functions: command line, message list, commands and their wait, file-system routines,
// restarts.
#include "installer/functions.h"

#include <cmath>
#include <cstdio>

#include "installer/dialogs.h"
#include "platform/forms.h"
#include "platform/forms_backend.h"
#include "platform/fso.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/vb_app.h"
#include "platform/win32_shell.h"
#include "platform/wmi.h"

namespace installer {

void Functions::Debug(const std::string& text) {
  if (bDebug == kTrue) ShowMessage(text);
}

std::string ErrorDetails(const ErrObject& err) {
  return "Error : " + std::to_string(err.Number) + " " + err.Description + kCrLf +
         "Source : " + err.Source;
}

ErrObject CaughtErr() {
  try {
    throw;
  } catch (const platform::forms::UiAborted&) {
    throw;
  } catch (const RunTimeError& e) {
    return e.Err();
  } catch (const std::bad_alloc&) {
    return {7, "Out of memory", "Setup"};
  } catch (const std::exception& e) {
    return {5, e.what(), "Setup"};
  } catch (...) {
    return {5, "Invalid procedure call or argument", "Setup"};
  }
}

namespace Functions {
namespace {

using platform::forms::MsgBox;

// VB's Mid$ on code points: `count` characters from the 0-based character `start`.
std::string MidChars(const std::string& text, size_t start, size_t count) {
  size_t i = 0, chars = 0;
  const auto next = [&](size_t at) {
    size_t n = at + 1;
    while (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
    return n;
  };
  while (i < text.size() && chars < start) {
    i = next(i);
    ++chars;
  }
  size_t end = i;
  for (size_t taken = 0; end < text.size() && taken < count; ++taken) end = next(end);
  return text.substr(i, end - i);
}

void ShowHelp() {
  const std::string title = "Korvane Minutrix Install Command-Line Arguments : ";
  std::string text = title + kCrLf + kCrLf;
  text += std::string(" ?         = Help") + kCrLf;
  text += std::string(" -lng xxx  = Set Language (xxx = Ned, Eng)") + kCrLf;
  text += std::string(" -x        = Extra Messages off (default is on)") + kCrLf;
  text += std::string(" -Nm       = Do not install MDAC (Minutrix might not function!)") + kCrLf;
  text += std::string(" -Nj       = Do not install JET (Minutrix might not function!)") + kCrLf;
  MsgBox(text, platform::forms::vbInformation + platform::forms::vbOKOnly, title);
}

}  // namespace

bool ParseCommandLine() {
  const std::string command = platform::AppCommand();
  const std::string upper = platform::UpperAscii(command);
  bool result = true;
  bExtraMessages = kTrue;
  strLanguage = "ENG";
  bDebug = kFalse;
  bLanguageGiven = kFalse;
  bNoMDAC = kFalse;
  bNoJET = kFalse;
  if (!command.empty()) {
    if (upper.find('?') != std::string::npos || upper.find("HELP") != std::string::npos) {
      ShowHelp();
      result = false;
    }
    const size_t lng = upper.find("-LNG");
    if (lng != std::string::npos) {
      // After "-LNG" and one separator: the code as typed, up to three characters.
      size_t chars_before = 0;
      for (size_t i = 0; i < lng; ++i) {
        if ((static_cast<unsigned char>(command[i]) & 0xC0) != 0x80) ++chars_before;
      }
      strLanguage = MidChars(command, chars_before + 5, 3);
      bLanguageGiven = kTrue;
    }
    if (upper.find("-X") != std::string::npos) bExtraMessages = kFalse;
    if (upper.find("-D") != std::string::npos) bDebug = kTrue;
    if (upper.find("-NM") != std::string::npos) bNoMDAC = kTrue;
    if (upper.find("-NJ") != std::string::npos) bNoJET = kTrue;
  }
  LoadMessages(strLanguage);
  return result;
}

bool GetAppPath(std::string& path) {
  path = platform::AppPath();
  if (path.empty()) strError = MsgNoCurrentPath;
  return true;
}

void ShowMessage(const std::string& text) {
  InstallForm& form = InstallForm::Default();
  if (text.empty()) {
    MsgBox("Message is not defined!", platform::forms::vbOKOnly);
  } else {
    size_t start = 0;
    for (;;) {
      const size_t end = text.find(kCrLf, start);
      std::string piece =
          text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      std::erase(piece, '\r');
      std::erase(piece, '\n');
      form.lblInfo.AddItem(piece);
      if (end == std::string::npos) break;
      start = end + 2;
    }
    form.lblInfo.SetListIndex(form.lblInfo.ListCount() - 1);
  }
  form.Refresh();
}

void ShowError() {
  ShowMessage(MsgErrorDuringInstall + kCrLf + kCrLf + "Error : " + kCrLf + strError);
  strError.clear();
}

double Shell(const std::string& path_name, platform::WindowStyle style) {
  const DWORD pid = platform::StartProcess(path_name, style);
  if (pid == 0) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) {
      throw RunTimeError(53, "File not found");
    }
    throw RunTimeError(5, "Invalid procedure call or argument");
  }
  return static_cast<double>(pid);
}

std::string CommandLineFor(const std::string& command, bool keep_console) {
  return platform::Environ("comspec") + (keep_console ? " /k " : " /c ") + "\"" + command + "\"";
}

bool WaitForProcess(double process_id, const std::string& computer_name) {
  while (process_id != 0) {
    if (!CheckApp(process_id, computer_name)) return false;
  }
  return true;
}

std::string ProcessIdText(double process_id) {
  char text[32];
  if (std::floor(process_id) == process_id && std::fabs(process_id) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", process_id);
  } else {
    std::snprintf(text, sizeof text, "%.15g", process_id);
  }
  return text;
}

bool CheckApp(double& lProcessID, const std::string& strComputerName) {
  try {
    Debug("[CheckApp] WbemScripting.SWbemObject initialized");
    Debug("[CheckApp]Starting process cycle");
    platform::AutomationError error;
    const auto services = platform::WmiServices::Bind(
        "winmgmts:{impersonationlevel=impersonate}!//" + strComputerName, &error);
    if (!services) throw RunTimeError(error.number, error.description, error.source);
    const std::string id = ProcessIdText(lProcessID);
    const auto processes =
        services->ExecQuery("Select * From Win32_Process where processid = " + id, &error);
    if (!processes) throw RunTimeError(error.number, error.description, error.source);
    for (const platform::Win32Process& process : *processes) {
      Debug("[CheckApp]Process Info");
      Debug(process.name);
      Debug(std::to_string(process.process_id));
      if (std::to_string(process.process_id) == id) {
        Debug(MsgProcessRunning);
        return true;
      }
    }
    lProcessID = 0;
    return true;
  } catch (...) {
    const ErrObject err = CaughtErr();
    strError = MsgWmiError + "  Error : " + std::to_string(err.Number) + " " + err.Description +
               kCrLf + "Source : " + err.Source;
    if (bDebug == kTrue) ShowMessage("[CheckApp]" + strError);
    return false;
  }
}

bool FileExists(const std::string& path) {
  const platform::FileSystemObject fso;
  const bool exists = fso.FileExists(path);
  Debug("[FileExists] " + path + (exists ? " does exist" : " does not exist"));
  return exists;
}

bool FolderExists(const std::string& path) {
  Debug("[FolderExists] Folder=" + path);
  const platform::FileSystemObject fso;
  const bool exists = fso.FolderExists(path);
  Debug(std::string("[FolderExists] FolderExists=") + (exists ? "True" : "False"));
  Debug("[FolderExists] dESTROY oFSO");
  return exists;
}

bool MakeDir(const std::string& path) {
  try {
    if (!FolderExists(path)) {
      const platform::FileSystemObject fso;
      platform::AutomationError error;
      if (!fso.CreateFolder(path, &error))
        throw RunTimeError(error.number, error.description, error.source);
    }
    Debug("Path : " + path);
    return true;
  } catch (...) {
    CaughtErr();
    strError = MsgCannotMakeDir;
    return false;
  }
}

std::string SearchFile(const std::string& root, const std::string& name) {
  std::string buffer(1024, '\0');
  if (!SearchTreeForFile(root.c_str(), name.c_str(), buffer.data())) return "";
  return buffer.substr(0, buffer.find('\0'));
}

bool RestartServices() {
  ErrObject err;
  try {
    const std::string stop = "net stop w3svc /y";
    const std::string start = "net start w3svc";
    const bool debug = bDebug == kTrue;
    if (debug) ShowMessage(MsgRestartingServices);
    // In debug mode the consoles stay open until the person closes them.
    const auto run = [&](const std::string& command) {
      const double pid =
          Shell(CommandLineFor(command, debug),
                debug ? platform::WindowStyle::kMaximizedFocus : platform::WindowStyle::kHide);
      return WaitForProcess(pid, strComputerName);
    };
    if (run(stop) && run(start)) return true;
  } catch (...) {
    err = CaughtErr();
  }
  if (strError.empty()) {
    strError = "Error : " + std::to_string(err.Number) + " " + err.Description + kCrLf +
               "Source : " + err.Source;
  }
  return false;
}

void RestartComputer(unsigned int request) {
  using namespace platform::forms;
  if (MsgBox(MsgRestartComputer, vbYesNo + vbCritical + vbDefaultButton2, "Restart Computer") ==
      vbYes) {
    ExitWindowsEx(request, 0);
  }
}

}  // namespace Functions
}  // namespace installer
