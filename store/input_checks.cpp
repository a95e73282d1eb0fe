// Character and length checks of the administration, and the escaped form of texts in its output.
#include "store/input_checks.h"

#include <algorithm>
#include <cstdio>

namespace store {
namespace {

std::string Hex(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::size_t Utf8Char(std::string_view text, char32_t* code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
    least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
    least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
    least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

void CheckCharacters(std::string_view what, std::string_view text, Encoding encoding) {
  const auto refuse = [&](const std::string& why, std::size_t at) {
    throw Refusal(std::string(what) + " '" + Printable(text) + "' " + why + " at byte " +
                  std::to_string(at + 1) + ".");
  };
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::size_t length = Utf8Char(text.substr(at), &code);
    if (length == 0) {
      if (encoding == Encoding::kUtf8) {
        refuse("is not UTF-8: byte " + Hex("0x%02X", static_cast<unsigned char>(text[at])), at);
      }
      ++at;
      continue;
    }
    if (IsControl(code)) {
      refuse("holds a control character (line break, tab or other): " +
                 Hex("U+%04X", static_cast<unsigned>(code)),
             at);
    }
    at += length;
  }
}

void CheckLength(std::string_view what, std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return;
  throw Refusal(std::string(what) + " holds at most " + std::to_string(max_bytes) +
                " bytes (what the filter's field holds); this one has " +
                std::to_string(text.size()) + ".");
}

std::string Printable(std::string_view text) {
  const auto plain_ascii = [](char c) { return c >= 0x20 && c < 0x7F; };
  if (std::all_of(text.begin(), text.end(), plain_ascii)) return std::string(text);
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    std::size_t length = Utf8Char(text.substr(at), &code);
    const bool plain = length != 0 && !IsControl(code);
    if (length == 0) length = 1;
    for (std::size_t i = at; i < at + length; ++i) {
      if (plain) {
        shown += text[i];
      } else {
        shown += Hex("\\x%02X", static_cast<unsigned char>(text[i]));
      }
    }
    at += length;
  }
  return shown;
}

std::size_t Columns(std::string_view printable) {
  std::size_t columns = 0;
  for (const char c : printable) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
  }
  return columns;
}

}  // namespace store
