// Window InstallOptionsForm: install, uninstall or reinstall, as the machine allows.
#include "installer/dialogs.h"
#include "installer/settings.h"
#include "platform/machine.h"

namespace installer {

namespace {

// The installer's folder against the product folder: Windows names, so case and a trailing "\"
// do not matter (App.Path reports "C:\Minutrix" for "c:\Minutrix\").
bool SameFolder(std::string a, std::string b) {
  while (!a.empty() && a.back() == '\\') a.pop_back();
  while (!b.empty() && b.back() == '\\') b.pop_back();
  return platform::EqualsNoCase(a, b);
}

}  // namespace

InstallOptionsForm::InstallOptionsForm()
    : Form("InstallOptionsForm", "Install options"),
      Options(this, ControlKind::kFrame, "Options", "Install options"),
      Option{{{this, ControlKind::kOptionButton, "Option", "Install", 0, &Options},
              {this, ControlKind::kOptionButton, "Option", "Uninstall", 1, &Options},
              {this, ControlKind::kOptionButton, "Option", "Reinstall", 2, &Options}}},
      Label{{{this, ControlKind::kLabel, "Label", "Install", 0, &Options},
             {this, ControlKind::kLabel, "Label", "Uninstall", 1, &Options},
             {this, ControlKind::kLabel, "Label", "Reinstall", 2, &Options}}},
      CmdAction(this, ControlKind::kButton, "CmdAction", "Action"),
      Quit(this, ControlKind::kButton, "Quit", "Quit") {
  for (int i = 0; i < 3; ++i) Option[static_cast<size_t>(i)].Click = [this, i] { Option_Click(i); };
  CmdAction.Click = [this] { CmdAction_Click(); };
  Quit.Click = [this] { Quit_Click(); };
}

void InstallOptionsForm::Form_Load() {
  bQuit = kTrue;
  bNoInstall = kFalse;
  strFilterDllPath = kFilterDllPath;
  if (SameFolder(strAppPath, strFiltersDirPath) && bInstalled == kFalse) {
    platform::forms::MsgBox(MsgAlreadyRemoved, platform::forms::vbCritical, "ERROR!");
    bNoInstall = kTrue;
    for (size_t i = 0; i < 3; ++i) {
      Option[i].SetEnabled(false);
      Label[i].SetEnabled(false);
    }
    CmdAction.SetCaption("No Install");
    CmdAction.SetEnabled(false);
  } else {
    for (size_t i = 0; i < 3; ++i) {
      Option[i].SetEnabled(true);
      Label[i].SetEnabled(true);
    }
    if (bInstalled == kTrue) {
      Option[0].SetEnabled(false);
      Label[0].SetEnabled(false);
      Option[1].SetValue(true);
      CmdAction.SetCaption(Option[1].Caption());
    } else {
      Option[1].SetEnabled(false);
      Label[1].SetEnabled(false);
      Option[2].SetEnabled(false);
      Label[2].SetEnabled(false);
      Option[0].SetValue(true);
      CmdAction.SetCaption(Option[0].Caption());
    }
  }
  Show(true);
}

void InstallOptionsForm::Form_Activate() {
  if (bNoInstall == kFalse) CmdAction.SetFocus();
}

void InstallOptionsForm::Option_Click(int) {
  for (size_t i = 0; i < 3; ++i) {
    if (Option[i].Value()) {
      CmdAction.SetCaption(Label[i].Caption());
      return;
    }
  }
}

void InstallOptionsForm::CmdAction_Click() {
  const std::string action = platform::UpperAscii(CmdAction.Caption());
  if (action == "INSTALL") {
    iAction = 0;
  } else if (action == "UNINSTALL") {
    iAction = 1;
  } else if (action == "REINSTALL") {
    iAction = 0;
  } else {
    return;
  }
  bQuit = kFalse;
  platform::forms::Unload(*this);
}

void InstallOptionsForm::Quit_Click() { platform::forms::Unload(*this); }

void InstallOptionsForm::Form_QueryUnload(int& cancel, int) {
  if (bQuit != kTrue) return;
  using namespace platform::forms;
  if (MsgBox(MsgAreYouSure, vbYesNo + vbCritical, "Quit") == vbNo) cancel = 1;
}

}  // namespace installer
