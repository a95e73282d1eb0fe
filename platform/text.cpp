// Trimming and ASCII case folding for the whole tree.
#include "platform/text.h"

#include <algorithm>

namespace platform {

std::string_view TrimLeft(std::string_view text, std::string_view set) {
  const size_t begin = text.find_first_not_of(set);
  return begin == std::string_view::npos ? std::string_view() : text.substr(begin);
}

std::string_view TrimRight(std::string_view text, std::string_view set) {
  const size_t last = text.find_last_not_of(set);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

std::string Trim(std::string_view text, std::string_view set) {
  return std::string(TrimRight(TrimLeft(text, set), set));
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;  // names compared mostly agree or differ in more than case
    const auto x = static_cast<unsigned char>(UpperChar(a[i]));
    const auto y = static_cast<unsigned char>(UpperChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
  }
  return true;
}

}  // namespace platform
