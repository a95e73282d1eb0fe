// The start-up of setup as far as this build goes: the windows in their order, and a main window
// that finds the installer's folder and whether the product is installed, offers the options and
// says plainly that the install and uninstall drivers are not part of this build yet.
#include "installer/dialogs.h"
#include "installer/functions.h"
#include "installer/start_up.h"
#include "platform/forms.h"

namespace installer {

using platform::forms::Load;
using platform::forms::Unload;

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
    if (bDebug == kTrue) {
      platform::forms::MsgBox(MsgErrorDuringInstall, platform::forms::vbCritical, "Error occured!");
    }
  }
  Unload(background);
}

void GatherAndDispatch() {
  InstallForm& form = InstallForm::Default();
  form.Show();
  form.CmdFinish.SetEnabled(false);
  ShowMessage(MsgInstallTitle);
  if (bDebug == kTrue) ShowMessage("[GetAppPath]");
  GetAppPath(strAppPath);
  if (strAppPath.empty() || strAppPath.back() != '\\') strAppPath += "\\";
  ShowMessage(MsgFoundAppPath + " : " + strAppPath);
  bInstalled = ToFlag(FileExists(kFilterDllPath));
  if (bInstalled == kTrue) ShowMessage(MsgIsInstalled);
  Load(InstallOptionsForm::Default());
  if (bQuit == kFalse && bNoInstall == kFalse) {
    ShowMessage(std::string("(This build of setup ends here: the ") +
                (iAction == 1 ? "uninstall" : "install") +
                " driver is not part of it yet, so nothing was changed.)");
  }
  form.CmdFinish.SetEnabled(true);
  form.CmdFinish.SetFocus();
}

int RunSetup() {
  Load(BackGround::Default());
  platform::forms::RunMessageLoop();
  return 0;
}

}  // namespace installer
