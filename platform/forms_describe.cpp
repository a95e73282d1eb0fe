// How both backends describe windows, actions and outcomes, and the choice of backend.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/forms_backend.h"

namespace platform::forms {
namespace {

std::string OneLine(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "\\n";
      ++i;
    } else if (text[i] == '\n' || text[i] == '\r') {
      out += "\\n";
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string Quoted(const std::string& text) { return "\"" + OneLine(text) + "\""; }

// The environment names an interface that cannot be used: nothing of the run has happened yet, and
// the first window is already waiting above us, so end here.
[[noreturn]] void QuitUnusable() {
  std::fflush(nullptr);
  std::_Exit(kUiAbortExitCode);
}

}  // namespace

std::vector<std::string> DescribeControls(const Form& form) {
  std::vector<std::string> lines;
  for (const Control* c : form.Controls()) {
    if (!c->Visible()) continue;
    std::string line;
    switch (c->Kind()) {
      case ControlKind::kLabel:
        line = "label " + c->QualifiedName() + " " + Quoted(c->Caption());
        break;
      case ControlKind::kButton:
        line = "button " + c->QualifiedName() + " " + Quoted(c->Caption());
        break;
      case ControlKind::kOptionButton:
        line = "option " + c->QualifiedName() + " " + Quoted(c->Caption()) +
               (c->Value() ? " selected" : "");
        break;
      case ControlKind::kComboBox: {
        line = "combo " + c->QualifiedName() + " " + Quoted(c->Text()) + " items";
        for (const auto& item : c->Items()) line += " " + Quoted(item);
        break;
      }
      case ControlKind::kListBox:
        line = "list " + c->QualifiedName() + " (" + std::to_string(c->ListCount()) + " items)";
        break;
      case ControlKind::kFrame:
        line = "frame " + c->QualifiedName() + " " + Quoted(c->Caption());
        break;
      case ControlKind::kPicture:
        line = "picture " + c->QualifiedName();
        break;
    }
    if (!c->Enabled()) line += " disabled";
    if (c->HasFocus()) line += " focus";
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string DescribeAction(const Form& form, const Action& action) {
  const std::string control = action.index >= 0
                                  ? action.control + "(" + std::to_string(action.index) + ")"
                                  : action.control;
  switch (action.kind) {
    case Action::Kind::kClick:
      return form.Name() + " click " + control;
    case Action::Kind::kEnter:
      return form.Name() + " enter " + control;
    case Action::Kind::kType:
      return form.Name() + " type " + control + " " + Quoted(action.text);
    case Action::Kind::kSelect:
      return form.Name() + " select " + control + " " + Quoted(action.text);
    case Action::Kind::kClose:
      return form.Name() + " close";
  }
  return form.Name();
}

std::string OutcomeText(const Action& action, Outcome outcome) {
  const std::string control = action.index >= 0
                                  ? action.control + "(" + std::to_string(action.index) + ")"
                                  : action.control;
  switch (outcome) {
    case Outcome::kDone:
      return "";
    case Outcome::kDisabled:
      return control + " is disabled; nothing happens";
    case Outcome::kNoSuchControl:
      return "the window has no control " + control;
    case Outcome::kNotApplicable:
      return control + " does not take that action";
    case Outcome::kNoSuchItem:
      return control + " has no item " + Quoted(action.text);
  }
  return "";
}

std::unique_ptr<Backend> BackendFromEnvironment() {
  const char* ui = std::getenv("MINUTRIX_UI");
  const std::string kind = ui == nullptr ? "" : ui;
  const char* transcript_name = std::getenv("MINUTRIX_UI_TRANSCRIPT");
  std::FILE* transcript = nullptr;
  if (transcript_name != nullptr && *transcript_name != '\0') {
    transcript = std::fopen(transcript_name, "w");
    if (transcript == nullptr) {
      std::fprintf(stderr, "cannot write the UI transcript %s: %s\n", transcript_name,
                   std::strerror(errno));
      QuitUnusable();
    }
  }
  if (kind == "script") {
    const char* script_name = std::getenv("MINUTRIX_UI_SCRIPT");
    std::stringstream text;
    if (script_name == nullptr || *script_name == '\0' || std::strcmp(script_name, "-") == 0) {
      text << std::cin.rdbuf();
    } else {
      std::ifstream in(script_name, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read the UI script %s (MINUTRIX_UI_SCRIPT)\n", script_name);
        QuitUnusable();
      }
      text << in.rdbuf();
    }
    return MakeScriptBackend(text.str(), transcript != nullptr ? transcript : stdout);
  }
  if (!kind.empty() && kind != "terminal") {
    std::fprintf(stderr, "MINUTRIX_UI=%s: unknown user interface (use terminal or script)\n",
                 kind.c_str());
    QuitUnusable();
  }
  return MakeTerminalBackend(0, stdout, transcript);
}

}  // namespace platform::forms
