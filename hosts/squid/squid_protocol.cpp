// Parsing and answering url_rewrite lines.
#include "hosts/squid/squid_protocol.h"

#include <cctype>
#include <vector>

namespace squid {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string UserOf(std::string_view raw) { return raw == "-" ? std::string() : PercentDecode(raw); }

// Characters that Squid's quoted url= and a Location header can carry as they are.
bool SafeInLocation(unsigned char c) {
  if (c <= 0x20 || c >= 0x7f) return false;
  switch (c) {
    case '"':
    case '\\':
    case '<':
    case '>':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
      return false;
    default:
      return true;
  }
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::optional<RequestLine> ParseRequestLine(std::string_view line, std::string& channel,
                                            std::string& error) {
  channel.clear();
  std::vector<std::string_view> words = Words(line);
  if (words.empty()) {
    error = "empty request line";
    return std::nullopt;
  }
  // A URL is never all digits, so a leading number is a channel-ID.
  if (AllDigits(words[0])) {
    channel = std::string(words[0]);
    words.erase(words.begin());
  }
  if (words.empty()) {
    error = "request line without a URL";
    return std::nullopt;
  }
  RequestLine request;
  request.channel = channel;
  request.url = std::string(words[0]);
  words.erase(words.begin());

  bool key_values = false;
  for (std::string_view word : words) {
    if (word.starts_with("user=") || word.starts_with("method=") || word.starts_with("ip="))
      key_values = true;
  }
  if (key_values) {
    for (std::string_view word : words) {
      const size_t eq = word.find('=');
      if (eq == std::string_view::npos) continue;
      const std::string_view key = word.substr(0, eq), value = word.substr(eq + 1);
      if (key == "user") request.user = UserOf(value);
      if (key == "method") request.method = PercentDecode(value);
      if (key == "ip") request.client = PercentDecode(value);
    }
    return request;
  }

  // Squid's default extras: "%>a/%>A %un %>rm myip=%la myport=%lp"; the user name is not
  // escaped and may span several words, so it is what lies between the client and the method.
  if (words.empty()) return request;  // no extras: an anonymous request of unknown method
  size_t end = words.size();
  while (end > 0 && (words[end - 1].starts_with("myip=") || words[end - 1].starts_with("myport=")))
    --end;
  if (end < 2) {
    error = "unrecognised extras";
    return std::nullopt;
  }
  request.client = std::string(words[0].substr(0, words[0].find('/')));
  request.method = std::string(words[end - 1]);
  std::string user;
  for (size_t i = 1; i + 1 < end; ++i) {
    if (!user.empty()) user.push_back(' ');
    user.append(words[i]);
  }
  request.user = user == "-" ? std::string() : user;
  return request;
}

std::string LocationForSquid(std::string_view location) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(location.size());
  for (size_t i = 0; i < location.size(); ++i) {
    const auto c = static_cast<unsigned char>(location[i]);
    if (SafeInLocation(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

namespace {
std::string WithChannel(const std::string& channel, const std::string& answer) {
  return channel.empty() ? answer : channel + " " + answer;
}
}  // namespace

std::string PassAnswer(const std::string& channel) { return WithChannel(channel, "ERR"); }

std::string RedirectAnswer(const std::string& channel, const std::string& location) {
  return WithChannel(channel, "OK status=302 url=\"" + LocationForSquid(location) + "\"");
}

std::string BlockAnswer(const std::string& channel) {
  return WithChannel(channel, std::string("OK ") + kBlockNote);
}

std::string BrokenAnswer(const std::string& channel, const std::string& message) {
  std::string safe;
  for (char c : message) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) continue;
    safe.push_back(c);
  }
  return WithChannel(channel, "BH message=\"" + safe + "\"");
}

}  // namespace squid
