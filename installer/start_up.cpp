// The start-up of setup: BackGround's load with the command line, the language and agreement
// dialogs; InstallForm's load with the gathering of the machine facts and the chosen action.
#include "installer/start_up.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "installer/dialogs.h"
#include "installer/functions.h"
#include "installer/install.h"
#include "installer/install_functions_checks.h"
#include "installer/registry_functions.h"
#include "installer/uninstall.h"
#include "platform/forms.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "platform/vb_app.h"

namespace installer {

using platform::forms::Load;
using platform::forms::MsgBox;
using platform::forms::Unload;
using platform::forms::vbCritical;
using platform::forms::vbInformation;

namespace {

void EnsureTrailingBackslash(std::string& path) {
  if (path.empty() || path.back() != '\\') path += "\\";
}

// Steps 2 to 8: each runs only when the one before succeeded; false with strError set.
bool GatherMachineFacts() {
  Debug("[GetAppPath]");
  GetAppPath(strAppPath);
  EnsureTrailingBackslash(strAppPath);
  ShowMessage(MsgFoundAppPath + " : " + strAppPath);

  Debug("[GetWinVer]");
  if (!GetWinVer(iWinVersion)) return false;
  if (iWinVersion != 1 && iWinVersion != 2) {
    strError = MsgWrongOS;
    return false;
  }

  Debug("[GetCompName]");
  strComputerName = GetCompName();
  if (strComputerName.empty()) return false;
  Debug(MsgComputerNameFound + " : " + strComputerName);

  bInstalled = ToFlag(FileExists(kFilterDllPath));
  if (bInstalled == kTrue) ShowMessage(MsgIsInstalled);

  strWindowsDir = getWindowsDir();
  if (strWindowsDir.empty()) return false;
  EnsureTrailingBackslash(strWindowsDir);
  Debug(MsgWindowsPathFound + " : " + strWindowsDir);

  strWWWRoot = iWinVersion == 1
                   ? ReadRegistryString(HKEY_LOCAL_MACHINE, kNt4WebRootKey, kNt4WebRootValue, 1)
                   : ReadRegistryString(HKEY_LOCAL_MACHINE, kWebRootKey, kWebRootValue, 1);
  if (strWWWRoot.empty()) {
    strError += kCrLf + MsgNoIis;
    return false;
  }
  EnsureTrailingBackslash(strWWWRoot);
  Debug("inetPub : " + strWWWRoot);

  strSystemPath = strWindowsDir + kSystemFolder;
  if (!FolderExists(strSystemPath)) return false;
  Debug("SystemPath : " + strSystemPath);
  Debug("[InstallOptions");
  return true;
}

// A driver's result: its log when it says anything, then the error or the success box.
void ShowOutcome(bool succeeded, const std::string& log, const std::string& empty_log,
                 const std::string& title, const std::string& success_text) {
  if (!succeeded) {
    ShowMessage(log);
    ShowError();
    return;
  }
  if (log != empty_log) ShowMessage(log);
  MsgBox(success_text, vbInformation, title);
}

void RunChosenAction() {
  switch (iAction) {
    case 0: {
      std::string strInstallLog = "[Install Log] : ";
      const bool done = DoInstall(strInstallLog);
      ShowOutcome(done, strInstallLog, "[Install Log] : ", "Install success", MsgInstallSuccess);
      break;
    }
    case 1: {
      std::string strUninstallLog = "[Uninstall Log] : ";
      const bool done = DoUnInstall(strUninstallLog);
      ShowOutcome(done, strUninstallLog, "[Uninstall Log] : ", "Uninstall success",
                  MsgUninstallSuccess);
      break;
    }
    default:
      ShowError();
  }
}

}  // namespace

std::string GatheringFailureText(const ErrObject& err) {
  if (err.Number == 424) {
    return MsgNoFpcObjectModel + kCrLf + "(" + err.Description + kCrLf + "Source : " + err.Source +
           ")";
  }
  return std::to_string(err.Number) + " : " + err.Description + kCrLf + "Source : " + err.Source;
}

void StartUp() {
  BackGround& background = BackGround::Default();
  try {
    if (ParseCommandLine()) {
      background.Show();
      if (bLanguageGiven == kFalse) {
        Load(InstallLanguage::Default());
        Unload(InstallLanguage::Default());
      }
      Load(UELA::Default());
      const bool accepted = UELA::Default().Accepted();
      Unload(UELA::Default());
      if (accepted) Load(InstallForm::Default());
    }
  } catch (...) {
    CaughtErr();
    if (bDebug == kTrue) MsgBox(MsgErrorDuringInstall, vbCritical, "Error occured!");
  }
  Unload(background);
}

void GatherAndDispatch() {
  InstallForm& form = InstallForm::Default();
  try {
    form.Show();
    form.CmdFinish.SetEnabled(false);
    ShowMessage(MsgInstallTitle);
    if (!GatherMachineFacts()) {
      ShowError();
    } else {
      Load(InstallOptionsForm::Default());
      if (bQuit == kFalse && bNoInstall == kFalse) RunChosenAction();
    }
  } catch (...) {
    strError = GatheringFailureText(CaughtErr());
    ShowError();
  }
  form.CmdFinish.SetEnabled(true);
  form.CmdFinish.SetFocus();
}

bool MachineRootMissing(std::ostream& out) {
  const std::string line = platform::UpperAscii(platform::AppCommand());
  // The help box needs no machine.
  if (line.find("/?") != std::string::npos || line.find("HELP") != std::string::npos) return false;
  const std::filesystem::path root = platform::MachineRoot();
  std::error_code error;
  if (std::filesystem::is_directory(root, error)) return false;
  const char* variable = std::getenv("MINUTRIX_ROOT");
  const bool named = variable != nullptr && *variable != '\0';
  out << "setup: there is no machine root at " << root.string()
      << (named ? " (named by MINUTRIX_ROOT)" : " (the default; MINUTRIX_ROOT is not set)") << ".\n"
      << "The machine root is the folder that stands in for the Windows server that setup "
         "installs on.\n"
      << "Make one with:   minutrix-machine init DIR\n"
      << "then start:      MINUTRIX_ROOT=DIR setup\n"
      << "(docs/installer.md says more; setup /? shows the command-line switches.)\n";
  return true;
}

int RunSetup() {
  if (MachineRootMissing(std::cerr)) return 2;
  Load(BackGround::Default());
  platform::forms::RunMessageLoop();
  return 0;
}

}  // namespace installer
