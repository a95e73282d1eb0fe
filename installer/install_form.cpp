// Window InstallForm: the main window, whose list is the installer's visible log.
#include "installer/dialogs.h"
#include "installer/start_up.h"

namespace installer {

InstallForm::InstallForm()
    : Form("InstallForm", "Minutrix Install"),
      picLogo(this, ControlKind::kPicture, "picLogo"),
      lblInfo(this, ControlKind::kListBox, "lblInfo"),
      CmdFinish(this, ControlKind::kButton, "CmdFinish", "Finish") {
  CmdFinish.Click = [this] { CmdFinish_Click(); };
}

void InstallForm::Form_Load() { GatherAndDispatch(); }

void InstallForm::CmdFinish_Click() { platform::forms::Unload(*this); }

}  // namespace installer
