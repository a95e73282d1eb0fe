// The script backend: answers come from a text, one action per line, each naming the window or
// box it answers; everything shown goes to the transcript. The format is in docs/ui-script.md.
#include <cctype>
#include <sstream>

#include "platform/forms_transcript.h"
#include "platform/text.h"

namespace platform::forms {
namespace {

std::string Trim(std::string_view s) { return platform::Trim(s, " \t\r"); }

// The first word of `rest` (removed from it).
std::string TakeWord(std::string& rest) {
  rest = Trim(rest);
  const size_t end = rest.find_first_of(" \t");
  std::string word = rest.substr(0, end);
  rest = end == std::string::npos ? "" : Trim(rest.substr(end));
  return word;
}

// A text argument: the rest of the line, without one pair of surrounding quotes.
std::string TextArgument(const std::string& rest) {
  std::string text = Trim(rest);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  return text;
}

struct ScriptLine {
  int number = 0;
  std::string text;
};

class ScriptBackend final : public Backend {
 public:
  ScriptBackend(const std::string& script, std::FILE* transcript) : transcript_(transcript) {
    std::istringstream in(script);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      const std::string text = Trim(line);
      if (text.empty() || text[0] == '#') continue;
      lines_.push_back({number, text});
    }
  }

  void FormShown(Form& form) override { transcript_.Shown(form); }
  void FormHidden(Form& form) override { transcript_.Hidden(form); }
  void FormUnloaded(Form& form) override { transcript_.Unloaded(form); }
  void ListItemAdded(Control& list, const std::string& item) override {
    transcript_.ListItem(list, item);
  }

  Action NextAction(Form& form) override {
    transcript_.Waits(form);
    const std::string asked =
        "window " + form.Name() + " (\"" + form.Caption() + "\") waits for an action";
    const ScriptLine line = Take(asked);
    std::string rest = line.text;
    const std::string target = TakeWord(rest);
    if (!platform::EqualsNoCase(target, form.Name())) Mismatch(line, asked);
    Action action;
    const std::string verb = TakeWord(rest);
    if (platform::EqualsNoCase(verb, "close")) {
      action.kind = Action::Kind::kClose;
    } else {
      if (platform::EqualsNoCase(verb, "click")) {
        action.kind = Action::Kind::kClick;
      } else if (platform::EqualsNoCase(verb, "enter")) {
        action.kind = Action::Kind::kEnter;
      } else if (platform::EqualsNoCase(verb, "type")) {
        action.kind = Action::Kind::kType;
      } else if (platform::EqualsNoCase(verb, "select")) {
        action.kind = Action::Kind::kSelect;
      } else {
        Bad(line, "unknown action \"" + verb + "\" (click, enter, type, select or close)");
      }
      std::string control = TakeWord(rest);
      const size_t open = control.find('(');
      if (open != std::string::npos && control.back() == ')') {
        const std::string digits = control.substr(open + 1, control.size() - open - 2);
        if (digits.empty() || digits.size() > 4 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
          Bad(line, "bad control index in \"" + control + "\"");
        }
        action.index = std::stoi(digits);
        control = control.substr(0, open);
      }
      if (control.empty()) Bad(line, "the action names no control");
      action.control = control;
      if (action.kind == Action::Kind::kType || action.kind == Action::Kind::kSelect) {
        action.text = TextArgument(rest);
      } else if (!rest.empty()) {
        Bad(line, "unexpected \"" + rest + "\" after the control");
      }
    }
    transcript_.Answer(DescribeAction(form, action));
    current_ = line;
    return action;
  }

  void ActionDone(Form& form, const Action& action, Outcome outcome) override {
    (void)form;
    if (outcome == Outcome::kDone) return;
    if (outcome == Outcome::kDisabled) {
      transcript_.Outcome(OutcomeText(action, outcome));
      return;
    }
    Bad(current_, OutcomeText(action, outcome));
  }

  std::string ShowMessageBox(const MessageBoxRequest& request) override {
    transcript_.Box(request);
    const std::string asked =
        "message box \"" + request.title + "\" (" + TextLines(request.prompt)[0] + ") waits";
    const ScriptLine line = Take(asked);
    std::string rest = line.text;
    if (!platform::EqualsNoCase(TakeWord(rest), "box")) Mismatch(line, asked);
    if (!rest.empty() && rest[0] == '"') {
      const size_t close = rest.find('"', 1);
      if (close == std::string::npos) Bad(line, "the box title has no closing quote");
      const std::string title = rest.substr(1, close - 1);
      if (title != request.title) Mismatch(line, asked);
      rest = Trim(rest.substr(close + 1));
    }
    const std::string answer = TakeWord(rest);
    for (const std::string& button : request.buttons) {
      if (platform::EqualsNoCase(button, answer) && rest.empty()) {
        transcript_.Answer("box " + button);
        return button;
      }
    }
    std::string buttons;
    for (const auto& b : request.buttons) buttons += (buttons.empty() ? "" : ", ") + b;
    Bad(line, "the box has no button \"" + answer + "\" (it has " + buttons + ")");
  }

 private:
  ScriptLine Take(const std::string& asked) {
    if (next_ >= lines_.size()) Fail("the UI script ended, but " + asked);
    return lines_[next_++];
  }
  [[noreturn]] void Mismatch(const ScriptLine& line, const std::string& asked) {
    Fail("the UI script has no fitting answer: " + asked + ", but line " +
         std::to_string(line.number) + " is \"" + line.text + "\"");
  }
  [[noreturn]] void Bad(const ScriptLine& line, const std::string& why) {
    Fail("UI script line " + std::to_string(line.number) + " (\"" + line.text + "\"): " + why);
  }
  [[noreturn]] void Fail(const std::string& reason) {
    transcript_.Line("error: " + reason);
    AbortUi(reason);
  }

  Transcript transcript_;
  std::vector<ScriptLine> lines_;
  size_t next_ = 0;
  ScriptLine current_;
};

}  // namespace

std::unique_ptr<Backend> MakeScriptBackend(std::string script, std::FILE* transcript) {
  return std::make_unique<ScriptBackend>(script, transcript);
}

}  // namespace platform::forms
