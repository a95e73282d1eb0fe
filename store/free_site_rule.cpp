// Reading a "host:" free-site row and the host of a URL.
#include "store/free_site_rule.h"

namespace store {
namespace {

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '.';
}

// A backslash ends the authority too: browsers read it as a slash.
bool EndsAuthority(char c) { return c == '/' || c == '?' || c == '#' || c == '\\'; }

}  // namespace

std::string_view HostRuleName(std::string_view row) noexcept {
  if (!IsHostRule(row)) return {};
  std::string_view name = row.substr(kHostRulePrefix.size());
  while (!name.empty() && (name.front() == ' ' || name.front() == '.')) name.remove_prefix(1);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return name;
}

UrlHost HostOfUrlAsRequested(std::string_view url) noexcept {
  // Plain loops: this runs at every request, and the host is a few bytes into the URL.
  const std::size_t size = url.size();
  std::size_t start = 0;
  std::size_t scheme = 0;
  while (scheme < size && IsSchemeChar(url[scheme])) ++scheme;
  if (scheme > 0 && scheme + 2 < size && url[scheme] == ':' && url[scheme + 1] == '/' &&
      url[scheme + 2] == '/') {
    start = scheme + 3;
  } else if (size >= 2 && url[0] == '/' && url[1] == '/') {
    start = 2;
  } else if (size > 0 && EndsAuthority(url[0])) {
    return {};  // a bare path
  }
  std::size_t end = start;
  // The user information before an "@" is not the host.
  std::size_t host_start = start;
  while (end < size && !EndsAuthority(url[end])) {
    if (url[end] == '@') host_start = end + 1;
    ++end;
  }
  const std::string_view authority = url.substr(host_start, end - host_start);
  std::size_t host_end = 0;
  if (!authority.empty() && authority[0] == '[') {
    while (host_end < authority.size() && authority[host_end] != ']') ++host_end;
    if (host_end < authority.size()) ++host_end;
  } else {
    while (host_end < authority.size() && authority[host_end] != ':') ++host_end;
  }
  return {authority.substr(0, host_end), authority};
}

bool HostMatchesName(std::string_view host, std::string_view name) noexcept {
  if (name.empty() || host.size() < name.size()) return false;
  const std::string_view tail = host.substr(host.size() - name.size());
  if (!platform::EqualsNoCase(tail, name)) return false;
  return host.size() == name.size() || host[host.size() - name.size() - 1] == '.';
}

}  // namespace store
