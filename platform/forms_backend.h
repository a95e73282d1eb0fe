// The backends of the forms: what a person sees and does. "terminal" draws each window as text
// and reads the person's picks from standard input; "script" reads the picks from a file and
// writes a transcript. MINUTRIX_UI chooses (never the command line); the terminal is the default.
#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/forms.h"

namespace platform::forms {

struct MessageBoxRequest {
  std::string prompt;
  std::string title;
  std::string icon;                  // "none", "critical", "question", "exclamation", "information"
  std::vector<std::string> buttons;  // "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"
  int default_button = 0;            // index into buttons
};

// The value MsgBox returns for a button name ("Yes" gives vbYes), or 0.
int ResultOf(const std::string& button);

class Backend {
 public:
  virtual ~Backend() = default;
  virtual void FormShown(Form& form) { (void)form; }
  virtual void FormHidden(Form& form) { (void)form; }
  virtual void FormUnloaded(Form& form) { (void)form; }
  virtual void ListItemAdded(Control& list, const std::string& item) {
    (void)list;
    (void)item;
  }
  // The next thing the person does to `form`, which waits for it.
  virtual Action NextAction(Form& form) = 0;
  virtual void ActionDone(Form& form, const Action& action, Outcome outcome) {
    (void)form;
    (void)action;
    (void)outcome;
  }
  // Returns one of request.buttons.
  virtual std::string ShowMessageBox(const MessageBoxRequest& request) = 0;
};

// Thrown by a backend that has no answer for what is asked, when SetAbortThrows(true); otherwise
// the backend prints the reason to standard error and ends the program with kUiAbortExitCode.
class UiAborted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
inline constexpr int kUiAbortExitCode = 3;
void SetAbortThrows(bool throws);
[[noreturn]] void AbortUi(const std::string& reason);

Backend& CurrentBackend();
void SetBackend(std::unique_ptr<Backend> backend);

// A backend as MINUTRIX_UI, MINUTRIX_UI_SCRIPT and MINUTRIX_UI_TRANSCRIPT say (unset: the
// terminal). Ends the program with a message when they name something that cannot be used.
std::unique_ptr<Backend> BackendFromEnvironment();

// Script backend over the text of a script; the transcript goes to `transcript` (not closed).
std::unique_ptr<Backend> MakeScriptBackend(std::string script, std::FILE* transcript);
// Terminal backend over the given streams; `transcript` may be null.
std::unique_ptr<Backend> MakeTerminalBackend(int input_fd, std::FILE* output,
                                             std::FILE* transcript);

// How transcripts and the terminal describe things (shared by both backends).
std::vector<std::string> DescribeControls(const Form& form);
std::string DescribeAction(const Form& form, const Action& action);
std::string OutcomeText(const Action& action, Outcome outcome);

}  // namespace platform::forms
