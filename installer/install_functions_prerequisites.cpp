// Unit Install_Functions: the prerequisites MDAC, Jet and Access, their version checks and the
// runs of their installers through the command interpreter.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "installer/functions.h"
#include "installer/install_functions_checks.h"
#include "installer/settings.h"
#include "platform/forms.h"
#include "platform/fso.h"
#include "platform/vb_app.h"

namespace installer::Install_Functions {
namespace {

// The lowest MDAC in hundredths: 2.7.
constexpr long kRequiredMdac = 270;
// Jet is compared as text against the start of this version.
constexpr const char* kRequiredJet = "4.0.2";

// VB's Val: the number at the start of a text ("2.5a" is 2.5, "x" is 0).
double Val(const std::string& text) {
  const char* begin = text.c_str();
  while (*begin == ' ') ++begin;
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(value)) return 0;
  // Four characters hold no more than "9e99"; kept in a range that hundredths can count.
  return std::clamp(value, -1e9, 1e9);
}

// A number brought to two decimals, as the debug lines print it.
std::string TwoDecimals(long hundredths) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld.%02ld", hundredths / 100, std::labs(hundredths % 100));
  return text;
}

// A package path under the distribution folder, with the "\" between them when it has none.
std::string InFolder(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + "\\" + name;
}

// A program path as the interpreter reads it: in quotation marks when it holds a blank, or a
// distribution folder such as "C:\Temp\Minutrix Setup\" would start "C:\Temp\Minutrix".
std::string ProgramText(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  return "\"" + path + "\"";
}

// The command: program, a blank (unless the program already ends in one), the switches.
std::string WithSwitches(const std::string& program, const std::string& switches) {
  if (!program.empty() && program.back() == ' ') return program + switches;
  return ProgramText(program) + " " + switches;
}

// Starts a command hidden through the interpreter; the id of the process.
double StartHidden(const std::string& command) {
  return Shell(CommandLineFor(command, false), platform::WindowStyle::kHide);
}

}  // namespace

bool ReadFileVersion(const std::string& path, std::string& version) {
  try {
    if (!FileExists(path)) return false;
    const platform::FileSystemObject fso;
    version = fso.GetFileVersion(path);
    return !version.empty();
  } catch (...) {
    const ErrObject err = CaughtErr();
    strError = MsgAccessVersionUnknown + kCrLf + "File : " + path + kCrLf + ErrorDetails(err);
    return false;
  }
}

bool IsMDACOK(const std::string& windows_dir) {
  ErrObject err;
  bRestartNeeded = kFalse;
  bNoCommonFiles = kFalse;
  try {
    const std::string common_files = windows_dir.substr(0, 3) + "Program Files\\Common Files";
    if (!FolderExists(common_files)) bNoCommonFiles = kTrue;
    const std::string mdac_file = common_files + "\\" + "System\\ado\\MsAdo15.dll";
    Debug("[MDACOK] strMDACDllLoc " + mdac_file);
    Debug("[MDACOK] Check if MDAC exists");
    bool ok = false;
    if (!FileExists(mdac_file)) {
      bRestartNeeded = kTrue;
    } else {
      Debug("[MDACOK] Get MDAC version");
      std::string version;
      if (ReadFileVersion(mdac_file, version)) {
        // The first four characters as a number with two decimals: "2.71.9030.0" is 2.71.
        const long installed = std::lround(Val(version.substr(0, 4)) * 100);
        Debug("[MDACOK] MDAC version=" + version);
        Debug("[MDACOK]Version=2.7");
        Debug("[MDACOK]" + TwoDecimals(installed) + "<" + TwoDecimals(kRequiredMdac) + "?");
        if (installed < kRequiredMdac) {
          bRestartNeeded = kTrue;
        } else {
          ok = true;
        }
      }
    }
    if (ok) return true;
  } catch (...) {
    err = CaughtErr();
  }
  strError = MsgMdacWillInstall + std::to_string(err.Number) + " : " + err.Description + kCrLf +
             "Source : " + err.Source;
  ShowMessage("[MDACOK]" + strError);
  return false;
}

bool InstallMDAC(const std::string& computer_name, const std::string& distribution_folder) {
  using namespace platform::forms;
  ErrObject err;
  try {
    if (MsgBox(MsgMdacInstallRestart, vbYesNo, "System Restart!") == vbNo) {
      // The No is reported as a failure whose description is MsgMdacError.
      err = {0, MsgMdacError, ""};
    } else {
      const std::string command = WithSwitches(InFolder(distribution_folder, "MDAC\\MDAC_Typ.exe"),
                                               "/q:a /c:\"setup.exe /qt\"");
      Debug("[InstallMDAC]ComSpec = " + platform::Environ("comspec"));
      Debug("[InstallMDAC]" + CommandLineFor(command, false));
      double process_id = StartHidden(command);
      bool waited = true;
      do {
        Debug("[InstallMDAC]CheckAppID");
        if (!CheckApp(process_id, computer_name)) {
          waited = false;
          break;
        }
      } while (process_id != 0);
      if (waited) return true;
    }
  } catch (...) {
    err = CaughtErr();
  }
  strError = "[InstallMDAC] Error!" + std::to_string(err.Number) + " : " + err.Description;
  return false;
}

bool IsJETOK(const std::string& windows_dir) {
  ErrObject err;
  bInstallJET = kFalse;
  try {
    std::string jet_file = windows_dir + "System32\\msJET40.dll";
    bool ok = false;
    if (!FileExists(jet_file)) jet_file = windows_dir + "System32\\JET40.dll";
    if (!FileExists(jet_file)) {
      bInstallJET = kTrue;
    } else {
      std::string version;
      if (ReadFileVersion(jet_file, version)) {
        Debug("[JETOK]version=" + version);
        const size_t n = std::min<size_t>(version.size(), 5);
        const std::string have = version.substr(0, n);
        const std::string need = std::string(kRequiredJet).substr(0, n);
        Debug("[JETOK]version=" + have + "<" + need + "?");
        // Compared as text, character by character: "4.0.2927.4" passes, "3.51.3328.0" does not.
        if (have < need) {
          bInstallJET = kTrue;
        } else {
          ok = true;
        }
      }
    }
    if (ok) return true;
  } catch (...) {
    err = CaughtErr();
  }
  strError = MsgJetWillInstall + std::to_string(err.Number) + " : " + err.Description + kCrLf +
             "Source : " + err.Source;
  return false;
}

bool InstallJET(const std::string& computer_name, const std::string& distribution_folder) {
  try {
    const std::string command =
        WithSwitches(InFolder(distribution_folder, "JET\\JET40sp3_comp.exe"), "/Q:a");
    double process_id = StartHidden(command);
    do {
      if (!CheckApp(process_id, computer_name)) return false;
    } while (process_id != 0);
    return true;
  } catch (...) {
    // A start that fails is a failure of the step; it has no text of its own to leave.
    const ErrObject err = CaughtErr();
    strError = MsgJetError + kCrLf + ErrorDetails(err);
    return false;
  }
}

bool isAccessOK(std::string& access_path) {
  ErrObject err;
  try {
    access_path.clear();
    const platform::FileSystemObject fso;
    bool found = false;
    bool ok = false;
    for (const platform::DriveInfo& drive : fso.Drives()) {
      access_path = SearchFile(drive.drive_letter + ":\\", "msaccess.exe");
      if (access_path.empty()) continue;
      found = true;
      // The first copy decides, whatever its version and whatever later drives hold.
      Debug("[isAccessOK] Access found : " + access_path);
      std::string version;
      if (ReadFileVersion(access_path, version)) {
        const std::string major = version.substr(0, version.find('.'));
        Debug("[isAccessOK] Access version : " + major);
        char* end = nullptr;
        const long number = std::strtol(major.c_str(), &end, 10);
        if (major.empty() || *end != '\0') throw RunTimeError(13, "Type mismatch");
        ok = number >= 9;
      }
      break;
    }
    if (!found) Debug("[isAccessOK] Access was not found!");
    if (ok) return true;
  } catch (...) {
    err = CaughtErr();
  }
  strError = MsgNoAccess + kCrLf + "Error : " + std::to_string(err.Number) + " : " +
             err.Description + kCrLf + "Source : " + err.Source;
  if (bDebug == kTrue) ShowMessage(strError);
  return false;
}

bool CanInstallAccessRuntime() {
  ErrObject err;
  try {
    Debug("[CanInstallAccessRuntime] Check for MSIExec");
    std::string program;
    if (FileExists(strSystemPath + "MSIExec.exe")) {
      program = strSystemPath + "MSIExec.exe";
    } else if (FileExists(strAppPath + "Data" + "\\" + "MSIExec.exe")) {
      program = strAppPath + "Data" + "\\" + "MSIExec.exe";
    } else {
      Debug("[CanInstallAccessRuntime] No MSIExec");
      strError = MsgNoMsiExec;
      return false;
    }
    const std::string command = ProgramText(program) + " " + "/i" + " \"" + strAppPath + "Runtime" +
                                "\\" + "AccessRT.msi" + "\" " + "/qb AllUsers=1";
    Debug("[CanInstallAccessRuntime] installLine:" + command);
    Debug("[CanInstallAccessRuntime] AR install:");
    Debug(platform::Environ("comspec") + " /c ");
    Debug(command);
    Debug("[CanInstallAccessRuntime] Installing AR");
    double process_id = StartHidden(command);
    bool waited = true;
    do {
      if (!CheckApp(process_id, strComputerName)) {
        waited = false;
        break;
      }
    } while (process_id != 0);
    if (waited) return isAccessOK(strAccessPath);
  } catch (...) {
    err = CaughtErr();
  }
  strError = MsgAccessRuntimeError + kCrLf + ErrorDetails(err);
  if (bDebug == kTrue) ShowMessage("[CanInstallAccessRuntime] " + strError);
  return false;
}

}  // namespace installer::Install_Functions
