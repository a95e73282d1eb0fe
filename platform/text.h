// Text helpers of the platform: trimming and the ASCII case folding with which Windows compares
// file, registry, variable and command names. Pure functions; safe from several threads.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Blanks of a command or profile line.
inline constexpr std::string_view kBlanks = " \t";
// What isspace() answers true for in the C locale.
inline constexpr std::string_view kWhitespace = " \t\n\v\f\r";

// `text` without the leading (TrimLeft), trailing (TrimRight) or both (Trim) characters of `set`;
// empty when `text` has only such characters.
std::string_view TrimLeft(std::string_view text, std::string_view set = kBlanks);
std::string_view TrimRight(std::string_view text, std::string_view set = kBlanks);
std::string Trim(std::string_view text, std::string_view set = kBlanks);

// ASCII case of one byte: only a-z and A-Z change; every other byte, including those above 127,
// stays as it is (unlike std::toupper on a plain char, which is undefined for them).
constexpr char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);

// Compares the upper-cased texts byte by byte as unsigned bytes (so UpperAscii(a) < UpperAscii(b)
// decides the order): negative, zero or positive.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
inline bool LessNoCase(std::string_view a, std::string_view b) { return CompareNoCase(a, b) < 0; }

// A std::map / std::set comparator that ignores ASCII case; transparent, so look-ups by
// std::string_view or const char* make no copy.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return LessNoCase(a, b); }
};

}  // namespace platform
