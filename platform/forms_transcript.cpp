// Transcript lines.
#include "platform/forms_transcript.h"

namespace platform::forms {

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back().push_back(text[i]);
    }
  }
  return lines;
}

void Transcript::Line(const std::string& line) {
  if (out_ == nullptr) return;
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void Transcript::Shown(const Form& form) {
  Line("window " + form.Name() + " \"" + form.Caption() + "\" shown" +
       (form.IsModal() ? " modal" : ""));
}

void Transcript::Hidden(const Form& form) { Line("window " + form.Name() + " hidden"); }

void Transcript::Unloaded(const Form& form) { Line("window " + form.Name() + " unloaded"); }

void Transcript::ListItem(const Control& list, const std::string& item) {
  (void)list;
  Line("list: " + item);
}

void Transcript::Waits(const Form& form) {
  Line("window " + form.Name() + " waits");
  for (const std::string& control : DescribeControls(form)) Line("  " + control);
}

void Transcript::Box(const MessageBoxRequest& request) {
  std::string buttons;
  for (const auto& b : request.buttons) buttons += (buttons.empty() ? "" : ",") + b;
  Line("box \"" + request.title + "\" icon " + request.icon + " buttons " + buttons + " default " +
       request.buttons.at(static_cast<size_t>(request.default_button)));
  for (const std::string& line : TextLines(request.prompt)) Line("  | " + line);
}

void Transcript::Answer(const std::string& answer) { Line("answer: " + answer); }

void Transcript::Outcome(const std::string& note) {
  if (!note.empty()) Line("  (" + note + ")");
}

}  // namespace platform::forms
