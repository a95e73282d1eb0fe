// Parsing and answering url_rewrite lines.
#include "hosts/squid/squid_protocol.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace squid {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  words.reserve(8);  // one allocation for a request line's words
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

namespace {

bool IsMethod(std::string_view word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (!((c >= 'A' && c <= 'Z') || c == '-' || c == '_')) return false;
  }
  return true;
}

bool ParseKeyed(const std::vector<std::string_view>& words, RequestLine& request,
                std::string& error) {
  bool seen_ip = false, seen_method = false, seen_user = false;
  for (std::string_view word : words) {
    const size_t eq = word.find('=');
    const std::string_view key = word.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? "" : word.substr(eq + 1);
    bool* seen = key == "ip"       ? &seen_ip
                 : key == "method" ? &seen_method
                 : key == "user"   ? &seen_user
                                   : nullptr;
    if (eq == std::string_view::npos || seen == nullptr || *seen) {
      error = "extras are not \"" + std::string(kKeyedExtras) + "\"";
      return false;
    }
    *seen = true;
    if (key == "user") request.user = UserOf(value);
    if (key == "method") request.method = PercentDecode(value);
    if (key == "ip") request.client = PercentDecode(value);
  }
  if (!seen_ip || !seen_method || !seen_user) {
    error = "extras are not \"" + std::string(kKeyedExtras) + "\"";
    return false;
  }
  return true;
}

// The user name is not escaped and may hold spaces or anything else, so only the position of
// the words around it counts: the client before it, the method and Squid's two addresses after.
bool ParseDefault(std::string_view line, const std::vector<std::string_view>& words,
                  RequestLine& request, std::string& error) {
  const size_t n = words.size();
  if (n < 5 || !words[n - 2].starts_with("myip=") || !words[n - 1].starts_with("myport=") ||
      words[0].find('/') == std::string_view::npos || !IsMethod(words[n - 3])) {
    error = "extras are not Squid's default \"" + std::string(kDefaultExtras) + "\"";
    return false;
  }
  request.client = std::string(words[0].substr(0, words[0].find('/')));
  request.method = std::string(words[n - 3]);
  const size_t from = static_cast<size_t>(words[1].data() - line.data());
  const size_t to = static_cast<size_t>(words[n - 4].data() + words[n - 4].size() - line.data());
  const std::string_view user = line.substr(from, to - from);
  request.user = user == "-" ? std::string() : std::string(user);
  return true;
}

}  // namespace

std::optional<RequestLine> ParseRequestLine(std::string_view line, std::string& channel,
                                            std::string& error, Extras extras) {
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
  const bool fits = extras == Extras::kKeyed ? ParseKeyed(words, request, error)
                                             : ParseDefault(line, words, request, error);
  if (!fits) return std::nullopt;
  return request;
}

std::string ChannelOf(std::string_view line) {
  const std::vector<std::string_view> words = Words(line.substr(0, 64));
  return !words.empty() && AllDigits(words[0]) ? std::string(words[0]) : std::string();
}

std::string ExtrasHint(Extras extras) {
  if (extras == Extras::kKeyed) {
    return std::string(
               "a request line did not fit the keyed extras this helper reads (squid.conf: "
               "url_rewrite_extras \"") +
           kKeyedExtras +
           "\", as --squid-config prints); such requests are refused. For Squid's default "
           "extras, start the helper with --extras default.";
  }
  return std::string("a request line did not fit Squid's default extras (\"") + kDefaultExtras +
         "\", no url_rewrite_extras line) that this helper reads with --extras default; such "
         "requests are refused. For the keyed extras, set url_rewrite_extras \"" +
         kKeyedExtras + "\" and start the helper without --extras default.";
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

bool IsStartPage(std::string_view location, std::string_view requested_url) {
  constexpr std::string_view kPage = "/Minutrix/Minutrix.asp?";
  const size_t page = location.find(kPage);
  if (page == std::string_view::npos || requested_url.empty()) return false;
  const std::string_view query = location.substr(page + kPage.size());
  // The requested URL may hold "&" itself, so it is found from the end, and no key of the
  // query, its words included, may say DeniedMessage.
  for (size_t at = 0; at <= query.size();) {
    const size_t end = std::min(query.find('&', at), query.size());
    const std::string_view pair = query.substr(at, end - at);
    if (pair.substr(0, pair.find('=')) == "DeniedMessage") return false;
    at = end + 1;
  }
  const std::string expected = "RequestedURL=" + std::string(requested_url);
  if (!query.ends_with(expected)) return false;
  const size_t key = query.size() - expected.size();
  return key == 0 || query[key - 1] == '&';
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
