// Reading a "host:" free-site row and the host of a URL.
#include "store/free_site_rule.h"

namespace store {
namespace {

bool IsScheme(std::string_view text) {
  for (const char c : text) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !other) return false;
  }
  return true;
}

}  // namespace

std::string_view HostRuleName(std::string_view row) noexcept {
  if (!IsHostRule(row)) return {};
  std::string_view name = row.substr(kHostRulePrefix.size());
  while (!name.empty() && (name.front() == ' ' || name.front() == '.')) name.remove_prefix(1);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return name;
}

UrlHost HostOfUrlAsRequested(std::string_view url) noexcept {
  std::size_t start = 0;
  const std::size_t scheme_end = url.find("://");
  const std::size_t first_stop = url.find_first_of("/?#\\");
  if (scheme_end != std::string_view::npos && scheme_end > 0 && scheme_end < first_stop &&
      IsScheme(url.substr(0, scheme_end))) {
    start = scheme_end + 3;
  } else if (url.starts_with("//")) {
    start = 2;
  } else if (first_stop == 0) {
    return {};
  }
  std::size_t end = url.find_first_of("/?#\\", start);
  if (end == std::string_view::npos) end = url.size();
  std::string_view authority = url.substr(start, end - start);
  // The user information before an "@" is not the host.
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);
  std::size_t host_end = authority.size();
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    host_end = close == std::string_view::npos ? authority.size() : close + 1;
  } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host_end = colon;
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
