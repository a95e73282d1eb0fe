// Windows forms as a VB program uses them: forms with controls (label, button, option button,
// combo box, list box, frame, picture), load/show/hide/unload with their events, modal dialogs,
// and message boxes. What the person sees and does goes through a backend (forms_backend.h): the
// terminal or a script. Single-threaded, like the VB runtime.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::forms {

// MsgBox styles and results, with VB's names and values.
inline constexpr int vbOKOnly = 0;
inline constexpr int vbOKCancel = 1;
inline constexpr int vbAbortRetryIgnore = 2;
inline constexpr int vbYesNoCancel = 3;
inline constexpr int vbYesNo = 4;
inline constexpr int vbRetryCancel = 5;
inline constexpr int vbCritical = 16;
inline constexpr int vbQuestion = 32;
inline constexpr int vbExclamation = 48;
inline constexpr int vbInformation = 64;
inline constexpr int vbDefaultButton1 = 0;
inline constexpr int vbDefaultButton2 = 256;
inline constexpr int vbDefaultButton3 = 512;
inline constexpr int vbOK = 1;
inline constexpr int vbCancel = 2;
inline constexpr int vbAbort = 3;
inline constexpr int vbRetry = 4;
inline constexpr int vbIgnore = 5;
inline constexpr int vbYes = 6;
inline constexpr int vbNo = 7;

// UnloadMode of Form_QueryUnload.
inline constexpr int vbFormControlMenu = 0;  // the close box
inline constexpr int vbFormCode = 1;         // Unload called by the program

inline constexpr int vbKeyReturn = 13;

// Shows a message box and returns the button chosen (vbOK ... vbNo). An empty title is the
// program's title (App.Title).
int MsgBox(std::string_view prompt, int buttons = vbOKOnly, std::string_view title = {});

enum class ControlKind { kLabel, kButton, kOptionButton, kComboBox, kListBox, kFrame, kPicture };

class Form;

class Control {
 public:
  // `index` >= 0 makes the control a member of the control array `name`. Option buttons in the
  // same `container` (a frame, or the form when null) exclude each other.
  Control(Form* form, ControlKind kind, std::string name, std::string caption = {}, int index = -1,
          Control* container = nullptr);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  ControlKind Kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  int Index() const { return index_; }
  std::string QualifiedName() const;  // "Option(2)", "CmdOK"
  Form& Parent() const { return *form_; }
  Control* Container() const { return container_; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string_view caption) { caption_ = std::string(caption); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  // Option buttons: setting true clears the others of its container and raises Click, as VB does.
  bool Value() const { return value_; }
  void SetValue(bool value);
  // Combo boxes: the edit text. Setting it raises Change.
  const std::string& Text() const { return text_; }
  void SetText(std::string_view text);
  // Combo and list boxes.
  void AddItem(std::string_view item);
  void Clear();
  int ListCount() const { return static_cast<int>(items_.size()); }
  const std::string& List(int i) const { return items_.at(static_cast<size_t>(i)); }
  const std::vector<std::string>& Items() const { return items_; }
  int ListIndex() const { return list_index_; }
  // Selects an item (-1: none). A combo box takes the item as its text; both raise Click.
  void SetListIndex(int index);
  void SetFocus();
  bool HasFocus() const;
  // Design details the terminal shows (a label's font, a picture's name).
  std::string Font;

  std::function<void()> Click;
  std::function<void(int& key_ascii)> KeyPress;
  std::function<void()> Change;

 private:
  Form* form_;
  ControlKind kind_;
  std::string name_;
  int index_;
  Control* container_;
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  bool value_ = false;
  std::string text_;
  std::vector<std::string> items_;
  int list_index_ = -1;
};

// What a person does to a form.
struct Action {
  enum class Kind { kClick, kEnter, kType, kSelect, kClose };
  Kind kind = Kind::kClick;
  std::string control;  // name, for all but kClose
  int index = -1;       // control array index, or -1
  std::string text;     // kType: the text typed; kSelect: the item chosen
};

enum class Outcome { kDone, kDisabled, kNoSuchControl, kNotApplicable, kNoSuchItem };

class Form {
 public:
  Form(std::string name, std::string caption);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string_view caption) { caption_ = std::string(caption); }
  bool Loaded() const { return loaded_; }
  bool IsVisible() const { return visible_; }
  bool IsModal() const { return modal_; }
  const std::vector<Control*>& Controls() const { return controls_; }
  Control* FindControl(std::string_view name, int index) const;
  Control* Focused() const { return focused_; }

  // Loads the form first when needed. A modal show returns when the form is hidden or unloaded.
  void Show(bool modal = false);
  void Hide();
  // Repaints at once (the terminal prints list lines as they arrive, so this only tells the
  // backend).
  void Refresh();
  // Carries out what a person did, with VB's rules: disabled controls ignore clicks and keys.
  Outcome Perform(const Action& action);

  // Events, named as VB names them.
  virtual void Form_Load() {}
  virtual void Form_Activate() {}
  virtual void Form_QueryUnload(int& cancel, int unload_mode) {
    (void)cancel;
    (void)unload_mode;
  }
  virtual void Form_Unload(int& cancel) { (void)cancel; }

 private:
  friend class Control;
  friend void Load(Form& form);
  friend bool Unload(Form& form, int unload_mode);
  std::string name_;
  std::string caption_;
  std::vector<Control*> controls_;
  Control* focused_ = nullptr;
  bool loaded_ = false;
  bool visible_ = false;
  bool modal_ = false;
  bool loading_ = false;
};

// Loads a form (raising Form_Load) unless it is loaded already.
void Load(Form& form);
// Unloads it: Form_QueryUnload and Form_Unload may cancel. True when the form is gone.
bool Unload(Form& form, int unload_mode = vbFormCode);

// Serves the visible forms, newest first, until none is left.
void RunMessageLoop();

}  // namespace platform::forms
