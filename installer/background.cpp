// Window BackGround: the backdrop behind the dialogs; its load is the start-up.
#include "installer/dialogs.h"
#include "installer/start_up.h"

namespace installer {

BackGround::BackGround()
    : Form("BackGround", "Korvane Minutrix Install"),
      lblKorvane(this, ControlKind::kLabel, "lblKorvane", "Korvane Minutrix") {
  lblKorvane.Font = "Arial 36 bold";
}

void BackGround::Form_Load() { StartUp(); }

void ResetWindows() {
  DefaultInstance<BackGround>::Reset();
  DefaultInstance<InstallLanguage>::Reset();
  DefaultInstance<UELA>::Reset();
  DefaultInstance<InstallForm>::Reset();
  DefaultInstance<InstallOptionsForm>::Reset();
}

}  // namespace installer
