// Decoding of targets, forms and cookies.
#include "admin/http_util.h"

#include "platform/text.h"

namespace admin {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+' && plus_is_space) {
      c = ' ';
    }
    if (c == '\0') return std::nullopt;
    out += c;
  }
  return out;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    }
  }
  return out;
}

std::optional<Fields> ParseFields(std::string_view text) {
  Fields fields;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('&', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(begin, end - begin);
    begin = end + 1;
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const auto name = PercentDecode(pair.substr(0, equals), true);
    const auto value = PercentDecode(
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1), true);
    if (!name || !value) return std::nullopt;
    fields.emplace(*name, *value);
  }
  return fields;
}

std::string Field(const Fields& fields, std::string_view name, const std::string& fallback) {
  const auto found = fields.find(name);
  return found == fields.end() ? fallback : found->second;
}

std::optional<Target> ParseTarget(std::string_view target) {
  if (target.empty() || target[0] != '/') return std::nullopt;
  Target parsed;
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  if (question != std::string_view::npos) {
    auto query = ParseFields(target.substr(question + 1));
    if (!query) return std::nullopt;
    parsed.query = std::move(*query);
  }
  size_t begin = 1;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view raw = path.substr(begin, end - begin);
    begin = end + 1;
    if (raw.empty()) continue;  // "//" and a trailing "/" name nothing
    auto segment = PercentDecode(raw, false);
    if (!segment) return std::nullopt;
    parsed.segments.push_back(std::move(*segment));
  }
  return parsed;
}

std::string CookieValue(std::string_view header, std::string_view name) {
  size_t begin = 0;
  while (begin < header.size()) {
    size_t end = header.find(';', begin);
    if (end == std::string_view::npos) end = header.size();
    const std::string_view pair = platform::TrimLeft(header.substr(begin, end - begin), " ");
    begin = end + 1;
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
      return std::string(platform::TrimRight(pair.substr(equals + 1), " "));
    }
  }
  return {};
}

bool IsAddress(std::string_view text) {
  if (text.empty() || text.size() > 45) return false;
  bool colon = false;
  for (char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (c == ':') colon = true;
    if (!hex && c != '.' && c != ':') return false;
  }
  if (colon) return true;
  int parts = 0;
  int value = -1;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (value < 0 || value > 255) return false;
      ++parts;
      value = -1;
    } else if (text[i] >= '0' && text[i] <= '9') {
      value = (value < 0 ? 0 : value * 10) + (text[i] - '0');
      if (value > 255) return false;
    } else {
      return false;
    }
  }
  return parts == 4;
}

}  // namespace admin
