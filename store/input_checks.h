// What the administration refuses before it writes a text or a number, and how texts appear in
// its messages, listings and reports. Pure functions; safe from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace store {

// A refused request, with a message for the administrator; nothing was changed.
class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The most a 32-bit integer column holds (MaxInternetTime, CurrentInternetTime, IdleGapMinutes).
inline constexpr std::int64_t kMaxColumnNumber = INT32_MAX;

enum class Encoding {
  kUtf8,      // user names: only UTF-8 is accepted
  kAnyBytes,  // texts the filter passes on as 8-bit bytes (Latin-1 shows on the product page)
};

// Throws Refusal naming `what`, the text and the first bad character with its byte position when
// `text` holds a control character (C0, DEL or C1: line breaks and tabs included) or, with
// kUtf8, a byte that is not part of a UTF-8 character. Returns normally otherwise.
void CheckCharacters(std::string_view what, std::string_view text, Encoding encoding);

// Throws Refusal "<what> holds at most <max_bytes> bytes ..." when `text` is longer.
void CheckLength(std::string_view what, std::string_view text, std::size_t max_bytes);

// `text` with every control character and every byte that is not UTF-8 written as \xNN, so that
// no text, typed or stored, can break a line or drive the terminal.
std::string Printable(std::string_view text);

// The terminal columns a Printable text takes: one per character.
std::size_t Columns(std::string_view printable);

// The length of the UTF-8 character at the start of `text` (not empty), its code point in
// `code`; 0 when the bytes there are not UTF-8 (overlong forms and surrogates included).
std::size_t Utf8Char(std::string_view text, char32_t* code);

// Whether `code` is a control character: C0, DEL or C1.
inline bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace store
