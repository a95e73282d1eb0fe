// Window UELA: the licence agreement, accepted or declined.
#include "installer/dialogs.h"
#include "installer/licence_text.h"
#include "installer/settings.h"

namespace installer {

UELA::UELA()
    : Form("UELA", "Disclaimer"),
      picDisclaimer(this, ControlKind::kPicture, "picDisclaimer"),
      Label1(this, ControlKind::kLabel, "Label1"),
      Label2(this, ControlKind::kLabel, "Label2"),
      Label3(this, ControlKind::kLabel, "Label3"),
      Label4(this, ControlKind::kLabel, "Label4"),
      Label5(this, ControlKind::kLabel, "Label5"),
      Label6(this, ControlKind::kLabel, "Label6"),
      lblAccept(this, ControlKind::kOptionButton, "lblAccept", "Accept the agreement", 0),
      lblDontAccept(this, ControlKind::kOptionButton, "lblDontAccept",
                    "Do not accept the agreement", 0),
      cmdAccept(this, ControlKind::kButton, "cmdAccept", "Accept"),
      Quit(this, ControlKind::kButton, "Quit", "Quit") {
  const auto paragraphs = LicenceParagraphs();
  Control* labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6};
  for (size_t i = 0; i < paragraphs.size(); ++i) labels[i]->SetCaption(paragraphs[i]);
  Label1.Font = "Arial 12 bold";
  cmdAccept.SetEnabled(false);
  lblAccept.Click = [this] { lblAccept_Click(0); };
  lblDontAccept.Click = [this] { lblDontAccept_Click(0); };
  lblAccept.KeyPress = [this](int& key) { lblAccept_KeyPress(0, key); };
  cmdAccept.Click = [this] { cmdAccept_Click(); };
  Quit.Click = [this] { Quit_Click(); };
}

void UELA::Form_Load() {
  accepted_ = false;
  lblDontAccept.SetCaption(MsgDontAcceptAgreement);
  lblAccept.SetCaption(MsgAcceptAgreement);
  Show(true);
}

void UELA::lblAccept_Click(int) { cmdAccept.SetEnabled(true); }

void UELA::lblDontAccept_Click(int) { cmdAccept.SetEnabled(false); }

void UELA::lblAccept_KeyPress(int, int& key_ascii) {
  if (key_ascii == platform::forms::vbKeyReturn && cmdAccept.Enabled()) cmdAccept_Click();
}

void UELA::cmdAccept_Click() {
  accepted_ = true;
  Hide();
}

void UELA::Quit_Click() { platform::forms::Unload(*this); }

std::array<std::string, 6> LicenceParagraphs() {
  // Paragraphs are separated by empty lines; the lines of one paragraph join with a blank. More
  // than six paragraphs share the last label.
  std::array<std::string, 6> out;
  size_t index = 0;
  bool in_paragraph = false;
  const std::string text = kLicenceText;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    const bool blank = line.find_first_not_of(" \t") == std::string::npos;
    if (blank) {
      if (in_paragraph && index < out.size() - 1)
        ++index;
      else if (in_paragraph)
        out[index] += std::string(kCrLf) + kCrLf;
      in_paragraph = false;
      continue;
    }
    std::string& label = out[index];
    if (in_paragraph) label += " ";
    label += line.substr(line.find_first_not_of(" \t"));
    in_paragraph = true;
    if (end == text.size()) break;
  }
  // A trailing paragraph break on the last label is no paragraph.
  std::string& last = out.back();
  while (last.size() >= 2 && last.compare(last.size() - 2, 2, kCrLf) == 0)
    last.resize(last.size() - 2);
  return out;
}

}  // namespace installer
