// Forms, controls and their events with VB's rules; the backend decides how they are shown.
#include "platform/forms.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/forms_backend.h"
#include "platform/text.h"
#include "platform/vb_app.h"

namespace platform::forms {
namespace {

// Visible forms, oldest first; the message loop serves the newest.
std::vector<Form*>& ShownForms() {
  static std::vector<Form*> forms;
  return forms;
}

void Forget(Form* form) {
  auto& shown = ShownForms();
  shown.erase(std::remove(shown.begin(), shown.end(), form), shown.end());
}

std::unique_ptr<Backend>& BackendSlot() {
  static std::unique_ptr<Backend> backend;
  return backend;
}

bool& AbortThrows() {
  static bool throws = false;
  return throws;
}

}  // namespace

// --- Controls -------------------------------------------------------------------------------

Control::Control(Form* form, ControlKind kind, std::string name, std::string caption, int index,
                 Control* container)
    : form_(form),
      kind_(kind),
      name_(std::move(name)),
      index_(index),
      container_(container),
      caption_(std::move(caption)) {
  form_->controls_.push_back(this);
}

std::string Control::QualifiedName() const {
  return index_ >= 0 ? name_ + "(" + std::to_string(index_) + ")" : name_;
}

void Control::SetValue(bool value) {
  if (kind_ != ControlKind::kOptionButton) {
    value_ = value;
    return;
  }
  const bool was = value_;
  value_ = value;
  if (!value || was) return;
  for (Control* other : form_->controls_) {
    if (other != this && other->kind_ == ControlKind::kOptionButton &&
        other->container_ == container_) {
      other->value_ = false;
    }
  }
  if (Click) Click();
}

void Control::SetText(std::string_view text) {
  text_ = std::string(text);
  if (Change) Change();
}

void Control::AddItem(std::string_view item) {
  items_.emplace_back(item);
  if (kind_ == ControlKind::kListBox) CurrentBackend().ListItemAdded(*this, items_.back());
}

void Control::Clear() {
  items_.clear();
  list_index_ = -1;
}

void Control::SetListIndex(int index) {
  if (index < -1 || index >= ListCount()) return;
  list_index_ = index;
  if (index >= 0 && kind_ == ControlKind::kComboBox) text_ = items_[static_cast<size_t>(index)];
  if (index >= 0 && Click) Click();
}

void Control::SetFocus() {
  if (enabled_ && visible_) form_->focused_ = this;
}

bool Control::HasFocus() const { return form_->focused_ == this; }

// --- Forms ----------------------------------------------------------------------------------

Form::Form(std::string name, std::string caption)
    : name_(std::move(name)), caption_(std::move(caption)) {}

Form::~Form() { Forget(this); }

Control* Form::FindControl(std::string_view name, int index) const {
  for (Control* c : controls_) {
    if (EqualsNoCase(c->Name(), name)) {
      if (c->Index() == index || (index < 0 && c->Index() == 0)) return c;
    }
  }
  return nullptr;
}

void Form::Show(bool modal) {
  if (!loaded_) {
    Load(*this);
    // Form_Load may have shown the form itself (a dialog that shows itself modally), or have
    // unloaded it; either way this Show has nothing left to do.
    if (!loaded_ || visible_) return;
  }
  if (!visible_) {
    visible_ = true;
    modal_ = modal;
    ShownForms().push_back(this);
    CurrentBackend().FormShown(*this);
  }
  Form_Activate();
  if (!modal) return;
  while (visible_ && loaded_) {
    const Action action = CurrentBackend().NextAction(*this);
    const Outcome outcome = Perform(action);
    CurrentBackend().ActionDone(*this, action, outcome);
  }
}

void Form::Hide() {
  if (!visible_) return;
  visible_ = false;
  Forget(this);
  CurrentBackend().FormHidden(*this);
}

void Form::Refresh() {}

Outcome Form::Perform(const Action& action) {
  if (action.kind == Action::Kind::kClose) {
    Unload(*this, vbFormControlMenu);
    return Outcome::kDone;
  }
  Control* c = FindControl(action.control, action.index);
  if (c == nullptr) return Outcome::kNoSuchControl;
  if (!c->Visible() || !c->Enabled()) return Outcome::kDisabled;
  switch (action.kind) {
    case Action::Kind::kClick:
      if (c->Kind() == ControlKind::kButton) {
        c->SetFocus();
        if (c->Click) c->Click();
        return Outcome::kDone;
      }
      if (c->Kind() == ControlKind::kOptionButton) {
        c->SetFocus();
        c->SetValue(true);
        return Outcome::kDone;
      }
      return Outcome::kNotApplicable;
    case Action::Kind::kEnter: {
      c->SetFocus();
      int key = vbKeyReturn;
      if (c->KeyPress) c->KeyPress(key);
      // A button takes Enter as a press when its handler lets the key through.
      if (key == vbKeyReturn && c->Kind() == ControlKind::kButton && c->Click) c->Click();
      return Outcome::kDone;
    }
    case Action::Kind::kType:
      if (c->Kind() != ControlKind::kComboBox) return Outcome::kNotApplicable;
      c->SetFocus();
      c->SetText(action.text);
      return Outcome::kDone;
    case Action::Kind::kSelect: {
      if (c->Kind() != ControlKind::kComboBox && c->Kind() != ControlKind::kListBox) {
        return Outcome::kNotApplicable;
      }
      const auto& items = c->Items();
      const auto it = std::find(items.begin(), items.end(), action.text);
      if (it == items.end()) return Outcome::kNoSuchItem;
      c->SetFocus();
      c->SetListIndex(static_cast<int>(it - items.begin()));
      return Outcome::kDone;
    }
    case Action::Kind::kClose:
      break;
  }
  return Outcome::kNotApplicable;
}

void Load(Form& form) {
  if (form.loaded_ || form.loading_) return;
  form.loaded_ = true;
  form.loading_ = true;
  form.Form_Load();
  form.loading_ = false;
}

bool Unload(Form& form, int unload_mode) {
  if (!form.loaded_) return true;
  int cancel = 0;
  form.Form_QueryUnload(cancel, unload_mode);
  if (cancel != 0) return false;
  form.Form_Unload(cancel);
  if (cancel != 0) return false;
  const bool was_visible = form.visible_;
  form.visible_ = false;
  form.loaded_ = false;
  form.focused_ = nullptr;
  Forget(&form);
  if (was_visible) CurrentBackend().FormUnloaded(form);
  return true;
}

void RunMessageLoop() {
  while (!ShownForms().empty()) {
    Form* form = ShownForms().back();
    const Action action = CurrentBackend().NextAction(*form);
    const Outcome outcome = form->Perform(action);
    CurrentBackend().ActionDone(*form, action, outcome);
  }
}

// --- Message boxes --------------------------------------------------------------------------

int MsgBox(std::string_view prompt, int buttons, std::string_view title) {
  MessageBoxRequest request;
  request.prompt = std::string(prompt);
  request.title = title.empty() ? AppTitle() : std::string(title);
  switch (buttons & 0x70) {
    case vbCritical:
      request.icon = "critical";
      break;
    case vbQuestion:
      request.icon = "question";
      break;
    case vbExclamation:
      request.icon = "exclamation";
      break;
    case vbInformation:
      request.icon = "information";
      break;
    default:
      request.icon = "none";
      break;
  }
  switch (buttons & 0x7) {
    case vbOKCancel:
      request.buttons = {"OK", "Cancel"};
      break;
    case vbAbortRetryIgnore:
      request.buttons = {"Abort", "Retry", "Ignore"};
      break;
    case vbYesNoCancel:
      request.buttons = {"Yes", "No", "Cancel"};
      break;
    case vbYesNo:
      request.buttons = {"Yes", "No"};
      break;
    case vbRetryCancel:
      request.buttons = {"Retry", "Cancel"};
      break;
    default:
      request.buttons = {"OK"};
      break;
  }
  const int default_button = (buttons & 0x300) >> 8;
  request.default_button =
      default_button < static_cast<int>(request.buttons.size()) ? default_button : 0;
  return ResultOf(CurrentBackend().ShowMessageBox(request));
}

int ResultOf(const std::string& button) {
  static const char* const kNames[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
  for (int i = 1; i < 8; ++i) {
    if (button == kNames[i]) return i;
  }
  return 0;
}

// --- Backends -------------------------------------------------------------------------------

void SetAbortThrows(bool throws) { AbortThrows() = throws; }

void AbortUi(const std::string& reason) {
  if (AbortThrows()) throw UiAborted(reason);
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", AppTitle().c_str(), reason.c_str());
  // Ends from deep inside the windows' events: nothing above may run on, and exit handlers
  // (a leak checker among them) would only report the half-finished run.
  std::fflush(nullptr);
  std::_Exit(kUiAbortExitCode);
}

Backend& CurrentBackend() {
  auto& slot = BackendSlot();
  if (!slot) slot = BackendFromEnvironment();
  return *slot;
}

void SetBackend(std::unique_ptr<Backend> backend) { BackendSlot() = std::move(backend); }

}  // namespace platform::forms
