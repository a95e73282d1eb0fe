// Reading a store's connection text: which kind of store, and its password, to hide it.
#include "store/store_location.h"

#include <cctype>

#include "platform/text.h"

namespace store {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view head) {
  return text.size() >= head.size() && platform::EqualsNoCase(text.substr(0, head.size()), head);
}

bool IsUri(std::string_view connection) {
  return StartsWithNoCase(connection, "postgresql://") ||
         StartsWithNoCase(connection, "postgres://");
}

// %XX decoding of a URI part.
std::string Decoded(std::string_view part) {
  std::string out;
  for (size_t i = 0; i < part.size(); ++i) {
    if (part[i] == '%' && i + 2 < part.size() &&
        std::isxdigit(static_cast<unsigned char>(part[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(part[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(part.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += part[i];
    }
  }
  return out;
}

// The value of libpq's key=value word `key` (blanks around "=", single quotes with backslash
// escapes), or of a "key=value;" pair; empty when absent.
std::string WordValue(std::string_view text, std::string_view key, std::string* written = nullptr) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == ';'))
      ++i;
    const size_t name_start = i;
    while (i < text.size() && text[i] != '=' &&
           !std::isspace(static_cast<unsigned char>(text[i])) && text[i] != ';') {
      ++i;
    }
    const std::string_view name = text.substr(name_start, i - name_start);
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= text.size() || text[i] != '=') {
      if (i == name_start) ++i;
      continue;
    }
    ++i;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::string value;
    const size_t value_start = i;
    if (i < text.size() && text[i] == '\'') {
      for (++i; i < text.size() && text[i] != '\''; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i];
      }
      ++i;
    } else {
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
             text[i] != ';') {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i++];
      }
    }
    if (platform::EqualsNoCase(name, key)) {
      if (written != nullptr) *written = std::string(text.substr(value_start, i - value_start));
      return value;
    }
  }
  return {};
}

}  // namespace

bool IsServerStore(std::string_view connection) {
  const std::string text = platform::Trim(connection, platform::kWhitespace);
  if (text.empty()) return false;
  if (IsUri(text)) return true;
  // libpq's words name a host, a database or a service; a file store names its Data Source.
  return WordValue(text, "Data Source").empty() &&
         (!WordValue(text, "host").empty() || !WordValue(text, "dbname").empty() ||
          !WordValue(text, "hostaddr").empty() || !WordValue(text, "service").empty());
}

namespace {

// The password as `connection` writes it (percent-encoded in a URI, quoted or escaped among
// libpq's words) in `written`; its value returned.
std::string FindPassword(std::string_view connection, std::string& written) {
  const std::string text = platform::Trim(connection, platform::kWhitespace);
  if (!IsUri(text)) return WordValue(text, "password", &written);
  const size_t scheme_end = text.find("://") + 3;
  const size_t authority_end = text.find_first_of("/?", scheme_end);
  const std::string authority =
      text.substr(scheme_end, authority_end == std::string::npos ? std::string::npos
                                                                 : authority_end - scheme_end);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    const size_t colon = authority.substr(0, at).find(':');
    if (colon != std::string::npos) {
      written = authority.substr(colon + 1, at - colon - 1);
      return Decoded(written);
    }
  }
  const size_t query = text.find('?');
  if (query == std::string::npos) return {};
  std::string_view rest = std::string_view(text).substr(query + 1);
  for (;;) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    if (StartsWithNoCase(pair, "password=")) {
      written = std::string(pair.substr(9));
      return Decoded(written);
    }
    if (amp == std::string_view::npos) return {};
    rest = rest.substr(amp + 1);
  }
}

void HideAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 8)) {
    text.replace(at, secret.size(), "********");
  }
}

}  // namespace

std::string PasswordOf(std::string_view connection) {
  std::string written;
  return FindPassword(connection, written);
}

std::string WithoutPassword(std::string_view text, std::string_view connection) {
  std::string out(text);
  std::string written;
  const std::string value = FindPassword(connection, written);
  // As the connection text writes it, and as the database's own messages would quote it.
  HideAll(out, written);
  HideAll(out, value);
  return out;
}

StoreDownPolicy ParseStoreDownPolicy(std::string_view text) {
  return platform::EqualsNoCase(platform::Trim(text, platform::kWhitespace), "allow")
             ? StoreDownPolicy::kAllow
             : StoreDownPolicy::kRefuse;
}

}  // namespace store
