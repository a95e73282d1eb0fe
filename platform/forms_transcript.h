// The transcript both backends can write: every window shown, every list line, every message box
// with its answer, every action. One event per line (box texts as indented "| " lines).
#pragma once

#include <cstdio>
#include <string>

#include "platform/forms_backend.h"

namespace platform::forms {

class Transcript {
 public:
  explicit Transcript(std::FILE* out) : out_(out) {}
  bool Active() const { return out_ != nullptr; }
  void Line(const std::string& line);
  void Shown(const Form& form);
  void Hidden(const Form& form);
  void Unloaded(const Form& form);
  void ListItem(const Control& list, const std::string& item);
  void Waits(const Form& form);
  void Box(const MessageBoxRequest& request);
  void Answer(const std::string& answer);
  void Outcome(const std::string& note);

 private:
  std::FILE* out_;
};

// Lines of a text cut at CR LF, CR or LF.
std::vector<std::string> TextLines(const std::string& text);

}  // namespace platform::forms
