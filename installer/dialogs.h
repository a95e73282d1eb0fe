// The installer's five windows with their controls and events: BackGround, InstallLanguage, UELA,
// InstallForm and InstallOptionsForm. Each has one default instance, as a VB form has.
#pragma once

#include <array>
#include <memory>

#include "platform/forms.h"

namespace installer {

using platform::forms::Control;
using platform::forms::ControlKind;
using platform::forms::Form;

// The default instance of a window; Reset gives the next run a fresh one.
template <typename T>
class DefaultInstance {
 public:
  static T& Get() {
    auto& slot = Slot();
    if (!slot) slot = std::make_unique<T>();
    return *slot;
  }
  static void Reset() { Slot().reset(); }

 private:
  static std::unique_ptr<T>& Slot() {
    static std::unique_ptr<T> slot;
    return slot;
  }
};

// The backdrop; its load is the installer's start-up.
class BackGround : public Form {
 public:
  BackGround();
  static BackGround& Default() { return DefaultInstance<BackGround>::Get(); }
  void Form_Load() override;

  Control lblKorvane;
};

class InstallLanguage : public Form {
 public:
  InstallLanguage();
  static InstallLanguage& Default() { return DefaultInstance<InstallLanguage>::Get(); }
  void Form_Load() override;

  Control LbChooselLanguage;
  Control CboChooseLanguage;
  Control CmdOK;

 private:
  void CmdOK_Click();
  void CboChooseLanguage_KeyPress(int& key_ascii);
  void ChooseLanguage();
};

// The licence agreement. Accepting hides the window; declining unloads it.
class UELA : public Form {
 public:
  UELA();
  static UELA& Default() { return DefaultInstance<UELA>::Get(); }
  void Form_Load() override;
  bool Accepted() const { return accepted_; }

  Control picDisclaimer;
  Control Label1, Label2, Label3, Label4, Label5, Label6;
  Control lblAccept;      // lblAccept(0)
  Control lblDontAccept;  // lblDontAccept(0)
  Control cmdAccept;
  Control Quit;

 private:
  void lblAccept_Click(int index);
  void lblDontAccept_Click(int index);
  void lblAccept_KeyPress(int index, int& key_ascii);
  void cmdAccept_Click();
  void Quit_Click();
  bool accepted_ = false;
};

// The main window: its list is the installer's visible log.
class InstallForm : public Form {
 public:
  InstallForm();
  static InstallForm& Default() { return DefaultInstance<InstallForm>::Get(); }
  void Form_Load() override;

  Control picLogo;
  Control lblInfo;
  Control CmdFinish;

 private:
  void CmdFinish_Click();
};

class InstallOptionsForm : public Form {
 public:
  InstallOptionsForm();
  static InstallOptionsForm& Default() { return DefaultInstance<InstallOptionsForm>::Get(); }
  void Form_Load() override;
  void Form_Activate() override;
  void Form_QueryUnload(int& cancel, int unload_mode) override;

  Control Options;
  std::array<Control, 3> Option;
  std::array<Control, 3> Label;
  Control CmdAction;
  Control Quit;

 private:
  void Option_Click(int index);
  void CmdAction_Click();
  void Quit_Click();
};

// Fresh default instances of all five windows (for a new run, or a test).
void ResetWindows();

// The licence text shipped in dist/, split into the heading and paragraphs of UELA's labels.
std::array<std::string, 6> LicenceParagraphs();

}  // namespace installer
