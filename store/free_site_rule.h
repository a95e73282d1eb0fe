// The free-site row "host:NAME" of tblPages and the host of a request's URL: how the filter, the
// Squid helper and minutrix-db read such a row. Pure functions; safe from several threads.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/text.h"

namespace store {

// A row that starts with this, in any case, matches by host: "host:example.org" makes the URLs
// whose host is example.org or ends in ".example.org" free, whatever their port.
inline constexpr std::string_view kHostRulePrefix = "host:";

// Whether `row` is a host rule. Inline: the filter asks it for every row of every request.
inline bool IsHostRule(std::string_view row) noexcept {
  std::size_t same = 0;
  while (same < kHostRulePrefix.size() && same < row.size() &&
         platform::LowerChar(row[same]) == kHostRulePrefix[same]) {
    ++same;
  }
  return same == kHostRulePrefix.size();
}

// The host name of a host rule as it is matched: the text after the prefix without leading
// blanks and dots and without trailing blanks, case as written. Empty when it names no host (it
// then matches nothing); empty for a row that is not a host rule.
std::string_view HostRuleName(std::string_view row) noexcept;

// The host named by a URL as the proxy passes it ("http://user@host:80/p", or "host:443" for a
// CONNECT), without and with its port, case as written; both empty when the URL names no host (a
// bare path). A backslash ends the host, as browsers read it as a slash.
struct UrlHost {
  std::string_view host;
  std::string_view host_and_port;
};
UrlHost HostOfUrlAsRequested(std::string_view url) noexcept;

// Whether `host` is `name` or ends in "." + name, in any case. An empty name matches nothing.
bool HostMatchesName(std::string_view host, std::string_view name) noexcept;

// Whether the host rule `row` makes a URL with host `url_host` free.
inline bool HostRuleMatches(std::string_view row, std::string_view url_host) noexcept {
  return HostMatchesName(url_host, HostRuleName(row));
}

}  // namespace store
