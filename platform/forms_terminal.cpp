// The terminal backend: each window drawn as text with its controls numbered; the person types
// a number (and answers a follow-up question for combo boxes) and Enter. The main window's list is
// printed line by line as it grows. Plain scrolling text, so it works in any terminal and in tmux.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/forms_transcript.h"
#include "platform/text.h"

namespace platform::forms {
namespace {

constexpr size_t kWidth = 74;

std::vector<std::string> Wrap(const std::string& text, size_t width) {
  std::vector<std::string> out;
  for (const std::string& paragraph : TextLines(text)) {
    std::string line;
    size_t i = 0;
    while (i <= paragraph.size()) {
      size_t end = paragraph.find(' ', i);
      if (end == std::string::npos) end = paragraph.size();
      const std::string word = paragraph.substr(i, end - i);
      if (!line.empty() && line.size() + 1 + word.size() > width) {
        out.push_back(line);
        line.clear();
      }
      line += (line.empty() ? "" : " ") + word;
      i = end + 1;
    }
    out.push_back(line);
  }
  return out;
}

class TerminalBackend final : public Backend {
 public:
  TerminalBackend(int input_fd, std::FILE* output, std::FILE* transcript)
      : in_(input_fd), out_(output), transcript_(transcript) {}

  void FormShown(Form& form) override {
    transcript_.Shown(form);
    if (HasList(form)) {
      Print("");
      Print("==== " + form.Caption() + " " +
            std::string(kWidth > form.Caption().size() + 6 ? kWidth - form.Caption().size() - 6 : 0,
                        '='));
    }
  }
  void FormHidden(Form& form) override { transcript_.Hidden(form); }
  void FormUnloaded(Form& form) override { transcript_.Unloaded(form); }

  void ListItemAdded(Control& list, const std::string& item) override {
    transcript_.ListItem(list, item);
    Print("  " + item);
  }

  Action NextAction(Form& form) override {
    transcript_.Waits(form);
    std::vector<Control*> numbered;
    Draw(form, numbered);
    for (;;) {
      std::fputs(numbered.empty()
                     ? "  x = close the window. Your choice: "
                     : "  Type a number and Enter (eN: the Enter key on control N, x: close "
                       "the window): ",
                 out_);
      std::fflush(out_);
      const std::string answer =
          platform::LowerAscii(ReadLine("window " + form.Name() + " waits for an action"));
      if (answer == "x") return Record(form, Action{Action::Kind::kClose, "", -1, ""});
      if (answer == "r" || answer.empty()) {
        Draw(form, numbered);
        continue;
      }
      const bool enter = answer[0] == 'e';
      const std::string digits = enter ? answer.substr(1) : answer;
      if (digits.empty() || digits.size() > 3 ||
          digits.find_first_not_of("0123456789") != std::string::npos || std::stoul(digits) < 1 ||
          std::stoul(digits) > numbered.size()) {
        Print("  Please type one of the numbers shown, or x.");
        continue;
      }
      Control* c = numbered[std::stoul(digits) - 1];
      Action action{enter ? Action::Kind::kEnter : Action::Kind::kClick, c->Name(), c->Index(), ""};
      if (!enter && c->Kind() == ControlKind::kComboBox) {
        std::string items;
        for (int i = 0; i < c->ListCount(); ++i)
          items += "  " + std::to_string(i + 1) + ") " + c->List(i);
        Print("  Items:" + items);
        std::fputs("  Item number or any text (Enter alone keeps the text): ", out_);
        std::fflush(out_);
        const std::string text = ReadLine("combo box " + c->Name() + " waits for a text");
        if (text.empty()) continue;
        const bool is_number = text.size() <= 3 &&
                               text.find_first_not_of("0123456789") == std::string::npos &&
                               std::stoi(text) >= 1 && std::stoi(text) <= c->ListCount();
        action.kind = is_number ? Action::Kind::kSelect : Action::Kind::kType;
        action.text = is_number ? c->List(std::stoi(text) - 1) : text;
      }
      return Record(form, action);
    }
  }

  void ActionDone(Form& form, const Action& action, Outcome outcome) override {
    (void)form;
    if (outcome == Outcome::kDone) return;
    transcript_.Outcome(OutcomeText(action, outcome));
    Print("  (" + OutcomeText(action, outcome) + ")");
  }

  std::string ShowMessageBox(const MessageBoxRequest& request) override {
    transcript_.Box(request);
    static const std::pair<const char*, const char*> kIcons[] = {{"critical", "(X) "},
                                                                 {"question", "(?) "},
                                                                 {"exclamation", "(!) "},
                                                                 {"information", "(i) "}};
    std::string icon;
    for (const auto& [name, mark] : kIcons) {
      if (request.icon == name) icon = mark;
    }
    Print("");
    Print("  +-- " + request.title + " " +
          std::string(kWidth > request.title.size() + 7 ? kWidth - request.title.size() - 7 : 0,
                      '-') +
          "+");
    bool first = true;
    for (const std::string& line : Wrap(request.prompt, kWidth - 12)) {
      Print("  | " + (first ? icon : std::string(icon.size(), ' ')) + line);
      first = false;
    }
    Print("  +" + std::string(kWidth - 3, '-') + "+");
    std::string choices;
    for (size_t i = 0; i < request.buttons.size(); ++i) {
      choices += "  [" + std::to_string(i + 1) + "] " + request.buttons[i];
    }
    Print(choices);
    for (;;) {
      std::fprintf(out_, "  Your choice (Enter: %s): ",
                   request.buttons.at(static_cast<size_t>(request.default_button)).c_str());
      std::fflush(out_);
      const std::string answer =
          platform::LowerAscii(ReadLine("message box \"" + request.title + "\" waits"));
      std::string chosen;
      if (answer.empty()) chosen = request.buttons[static_cast<size_t>(request.default_button)];
      for (size_t i = 0; i < request.buttons.size() && chosen.empty(); ++i) {
        if (answer == std::to_string(i + 1) || answer == platform::LowerAscii(request.buttons[i]) ||
            (answer.size() == 1 && answer[0] == platform::LowerAscii(request.buttons[i])[0])) {
          chosen = request.buttons[i];
        }
      }
      if (!chosen.empty()) {
        transcript_.Answer("box " + chosen);
        return chosen;
      }
      Print("  Please type one of the numbers or button names shown.");
    }
  }

 private:
  static bool HasList(const Form& form) {
    return std::any_of(form.Controls().begin(), form.Controls().end(),
                       [](const Control* c) { return c->Kind() == ControlKind::kListBox; });
  }

  Action Record(Form& form, const Action& action) {
    transcript_.Answer(DescribeAction(form, action));
    return action;
  }

  void Draw(const Form& form, std::vector<Control*>& numbered) {
    numbered.clear();
    const std::string title = form.Caption() + " ";
    Print("");
    Print("+== " + title +
          std::string(kWidth > title.size() + 5 ? kWidth - title.size() - 5 : 0, '=') + "+");
    bool previous_label = false;
    for (Control* c : form.Controls()) {
      if (!c->Visible()) continue;
      const bool was_label = previous_label;
      previous_label = c->Kind() == ControlKind::kLabel;
      const std::string off = c->Enabled() ? "" : "  (disabled)";
      std::string number;
      switch (c->Kind()) {
        case ControlKind::kLabel: {
          // Labels after the first of a run of long ones are paragraphs: set off by an empty row.
          const bool paragraph = c->Caption().size() > kWidth - 6;
          if (paragraph && was_label) Row("");
          for (const std::string& line : Wrap(c->Caption(), kWidth - 6)) Row("  " + line);
          break;
        }
        case ControlKind::kFrame:
          Row("-- " + c->Caption() + " --");
          break;
        case ControlKind::kPicture:
          break;
        case ControlKind::kListBox:
          if (c->Parent().Caption().empty() || !HasList(form)) break;
          Row("  (the messages above are this window's list, " + std::to_string(c->ListCount()) +
              " lines)");
          break;
        case ControlKind::kButton:
          numbered.push_back(c);
          Row("[" + std::to_string(numbered.size()) + "] < " + c->Caption() + " >" + off);
          break;
        case ControlKind::kOptionButton:
          numbered.push_back(c);
          Row("[" + std::to_string(numbered.size()) + "] (" + (c->Value() ? "*" : " ") + ") " +
              c->Caption() + off);
          break;
        case ControlKind::kComboBox:
          numbered.push_back(c);
          Row("[" + std::to_string(numbered.size()) + "] [ " + c->Text() + " ] v" + off);
          break;
      }
    }
    Print("+" + std::string(kWidth - 1, '=') + "+");
  }

  void Row(const std::string& text) { Print("| " + text); }

  void Print(const std::string& line) {
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
  }

  // One line from the input, read byte by byte so that nothing meant for a program started
  // later (a console kept open) is swallowed. The end of the input ends the program.
  std::string ReadLine(const std::string& asked) {
    std::string line;
    for (;;) {
      char c;
      const ssize_t n = ::read(in_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (!line.empty()) break;
        Print("");
        transcript_.Line("error: standard input ended, but " + asked);
        AbortUi("standard input ended, but " + asked);
      }
      if (c == '\n') break;
      if (c != '\r') line.push_back(c);
    }
    return platform::Trim(line);
  }

  int in_;
  std::FILE* out_;
  Transcript transcript_;
};

}  // namespace

std::unique_ptr<Backend> MakeTerminalBackend(int input_fd, std::FILE* output,
                                             std::FILE* transcript) {
  return std::make_unique<TerminalBackend>(input_fd, output, transcript);
}

}  // namespace platform::forms
