// Window InstallLanguage: the choice between English and Dutch.
#include "installer/dialogs.h"
#include "installer/settings.h"

namespace installer {

namespace {
constexpr const char* kChooseLanguage = "Choose Language";
}

InstallLanguage::InstallLanguage()
    : Form("InstallLanguage", "Korvane Minutrix Install"),
      LbChooselLanguage(this, ControlKind::kLabel, "LbChooselLanguage", "Install Language :"),
      CboChooseLanguage(this, ControlKind::kComboBox, "CboChooseLanguage"),
      CmdOK(this, ControlKind::kButton, "CmdOK", "OK") {
  CmdOK.Click = [this] { CmdOK_Click(); };
  CboChooseLanguage.KeyPress = [this](int& key) { CboChooseLanguage_KeyPress(key); };
}

void InstallLanguage::Form_Load() {
  CboChooseLanguage.AddItem("English");
  CboChooseLanguage.AddItem("Nederlands");
  CboChooseLanguage.SetText(kChooseLanguage);
  Show(true);
}

void InstallLanguage::CmdOK_Click() { ChooseLanguage(); }

void InstallLanguage::CboChooseLanguage_KeyPress(int& key_ascii) {
  if (key_ascii == platform::forms::vbKeyReturn) ChooseLanguage();
}

void InstallLanguage::ChooseLanguage() {
  if (CboChooseLanguage.Text() == kChooseLanguage) {
    platform::forms::MsgBox(MsgChooseLanguageFirst, platform::forms::vbCritical, "ERROR!");
    return;
  }
  strLanguage = CboChooseLanguage.Text() == "Nederlands" ? "NED" : "ENG";
  Hide();
  LoadMessages(strLanguage);
}

}  // namespace installer
