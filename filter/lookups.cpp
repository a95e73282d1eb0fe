// Look-ups over the Users and tblPages record sets, each a scan from the first row.
#include "filter/lookups.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "filter/data_sets.h"
#include "filter/diagnostic_log.h"
#include "filter/sections.h"
#include "filter/usage.h"
#include "filter/user_db.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kPlaceholderLength = 25;

// The upper-cased URL's bytes and pairs of adjacent bytes (hashed into 4,096 bits), made once
// per request: a row whose first byte or first two bytes, upper-cased, the URL does not hold is
// decided by one test instead of a search, as most rows of a scan are.
class UrlBytes {
 public:
  explicit UrlBytes(std::string_view upper_url) {
    for (std::size_t i = 0; i < upper_url.size(); ++i) {
      Set(bytes_, static_cast<unsigned char>(upper_url[i]));
      if (i + 1 < upper_url.size()) Set(pairs_, PairOf(upper_url[i], upper_url[i + 1]));
    }
  }
  bool MayStartWith(const char* upper_start, std::size_t length) const {
    if (length == 1) return Has(bytes_, static_cast<unsigned char>(upper_start[0]));
    return Has(pairs_, PairOf(upper_start[0], upper_start[1]));
  }

 private:
  static unsigned PairOf(char a, char b) {
    return (static_cast<unsigned char>(a) * 67u + static_cast<unsigned char>(b)) & 4095u;
  }
  template <std::size_t N>
  static void Set(std::uint64_t (&bits)[N], unsigned bit) {
    bits[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  template <std::size_t N>
  static bool Has(const std::uint64_t (&bits)[N], unsigned bit) {
    return (bits[bit / 64] >> (bit % 64) & 1) != 0;
  }
  std::uint64_t bytes_[4] = {};
  std::uint64_t pairs_[64] = {};
};

// Whether `upper_text` (described by `bytes`) contains `needle` compared without case; no
// copies, as this runs for every free site of every request.
bool ContainsNoCase(std::string_view upper_text, const UrlBytes& bytes,
                    std::string_view needle_text) {
  const char* const needle = needle_text.data();
  const std::size_t length = needle_text.size();
  if (length > upper_text.size()) return false;
  if (length == 0) return true;
  const char first = platform::UpperChar(needle[0]);
  const char start[2] = {first, length > 1 ? platform::UpperChar(needle[1]) : '\0'};
  if (!bytes.MayStartWith(start, length)) return false;
  const char* const text = upper_text.data();
  const char* const last_start = text + (upper_text.size() - length);
  for (const char* at = text; at <= last_start; ++at) {
    at = static_cast<const char*>(
        std::memchr(at, first, static_cast<std::size_t>(last_start - at) + 1));
    if (at == nullptr) return false;
    std::size_t i = 1;
    while (i < length && at[i] == platform::UpperChar(needle[i])) ++i;
    if (i == length) return true;
  }
  return false;
}

// strcmp(name, field) == 0 for a bound UserName field, mostly decided by one 8-byte comparison:
// the look-up compares the name with every row before the user's.
class NameMatcher {
 public:
  explicit NameMatcher(const char* name) : name_(name), length_(std::strlen(name)) {
    char head[kWord] = {};
    std::memcpy(head, name, std::min(length_ + 1, kWord));
    std::memcpy(&head_, head, kWord);
    unsigned char mask[kWord] = {};
    std::memset(mask, 0xFF, std::min(length_ + 1, kWord));  // up to the terminator
    std::memcpy(&mask_, mask, kWord);
  }
  bool operator()(const char (&field)[sizeof UsersRow::UserName]) const {
    if (length_ >= sizeof field) return false;  // the field holds at most sizeof - 1 bytes
    std::uint64_t head;
    std::memcpy(&head, field, kWord);
    if (((head ^ head_) & mask_) != 0) return false;
    return length_ + 1 <= kWord ||
           std::memcmp(field + kWord, name_ + kWord, length_ + 1 - kWord) == 0;
  }

 private:
  static constexpr std::size_t kWord = sizeof(std::uint64_t);
  static_assert(sizeof UsersRow::UserName >= kWord);
  const char* name_;
  std::size_t length_;
  std::uint64_t head_ = 0;
  std::uint64_t mask_ = 0;
};

// The host named by a URL as the proxy passes it ("http://user@host:80/p", or "host:443" for a
// CONNECT), without and with its port; both empty when the URL names no host (a bare path).
struct UrlHost {
  std::string_view host;
  std::string_view host_and_port;
};

bool IsScheme(std::string_view text) {
  for (const char c : text) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !other) return false;
  }
  return true;
}

UrlHost HostOf(std::string_view url) {
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
  // A backslash ends the authority too: browsers read it as a slash.
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

// Requests to this server itself, the product's own pages among them, are never charged; only
// the URL's host counts, or anyone could add the name to a query. No name makes nothing free.
bool IsOwnServer(const UrlHost& url, std::string_view server) {
  if (server.find_first_not_of(" \t") == std::string_view::npos) return false;
  return platform::EqualsNoCase(url.host, server) ||
         platform::EqualsNoCase(url.host_and_port, server);
}

constexpr std::string_view kHostRowPrefix = "host:";

// A free-site row "host:example.org": the URL's host is example.org or ends in ".example.org".
bool HostRowMatches(std::string_view row, const UrlHost& url) {
  std::string_view domain = row.substr(kHostRowPrefix.size());
  while (!domain.empty() && (domain.front() == ' ' || domain.front() == '.'))
    domain.remove_prefix(1);
  while (!domain.empty() && domain.back() == ' ') domain.remove_suffix(1);
  if (domain.empty() || url.host.size() < domain.size()) return false;
  const std::string_view tail = url.host.substr(url.host.size() - domain.size());
  if (!platform::EqualsNoCase(tail, domain)) return false;
  return url.host.size() == domain.size() || url.host[url.host.size() - domain.size() - 1] == '.';
}

// Whether a free-site row makes the URL free: a host row by host, an empty or blank row never,
// any other row when the URL contains its text.
bool RowMatches(std::string_view text, std::string_view upper_url, const UrlBytes& url_bytes,
                const UrlHost& url) {
  // Plain loops: every row of the scan comes here, and most rows fail at their first byte.
  size_t blank = 0;
  while (blank < text.size() && (text[blank] == ' ' || text[blank] == '\t')) ++blank;
  if (blank == text.size()) return false;
  size_t same = 0;
  while (same < kHostRowPrefix.size() && same < text.size() &&
         platform::LowerChar(text[same]) == kHostRowPrefix[same]) {
    ++same;
  }
  if (same == kHostRowPrefix.size()) return HostRowMatches(text, url);
  return ContainsNoCase(upper_url, url_bytes, text);
}

}  // namespace

void SeekUserInSet(const std::string& userName) {
  const std::string upper = platform::UpperAscii(userName);
  ado::Recordset& users = *m_pRstUsers.operator->();
  // The index finds the first match in table order, as the scan below does, without the scan.
  if (gblUsersIndexed) {
    users.Seek(upper, ado::adSeekFirstEQ);
    return;
  }
  const NameMatcher matches(upper.c_str());
  users.MoveFirst();
  if (matches(UserSet.UserName) && !users.IsEOF()) return;
  for (;;) {
    if (users.IsEOF()) return;
    users.MoveNext();
    if (matches(UserSet.UserName) && !users.IsEOF()) return;
  }
}

int LookUpUserInSet(const std::string& userName, bool* hasTime, bool* found) {
  try {
    SectionLock section(3);
    SeekUserInSet(userName);
    if (m_pRstUsers->IsEOF()) {
      DoMessageHandling("Failed to find user %s", userName, 0);
      DoMessageHandling("Please add user %s to database", userName, 0);
      *hasTime = true;
      *found = false;
    } else if (UserSet.CurrentInternetTime <
               AllowanceOfPeriod(UserSet.UserName, UserSet.MaxInternetTime)) {
      *hasTime = true;
      *found = true;
    } else {
      *hasTime = false;
      *found = true;
    }
    return 1;
  } catch (const ado::ComError& error) {
    ReportStoreError("[LookUpUserInSet] An error has occured!", error);
    *hasTime = false;
    *found = false;
    return 0;
  }
}

int LookUpSiteInSet(const char* url, const char* serverName) {
  const std::string_view url_text = url != nullptr ? url : "";
  const std::string_view server_text = serverName != nullptr ? serverName : "";
  DoMessageHandling(server_text, 0);
  DoMessageHandling(url_text, 0);
  const std::string upper_url = platform::UpperAscii(url_text);
  m_pWebSites->MoveFirst();
  const UrlHost host = HostOf(url_text);
  if (IsOwnServer(host, server_text)) return 1;
  const UrlBytes url_bytes(upper_url);
  while (!m_pWebSites->IsEOF()) {
    DoMessageHandling("[LookUpSiteInSet]Check if the freewebpagename is the standard message", 0);
    if (std::strncmp(FreesitesRecord.PageName, kFreeSitesPlaceholder, kPlaceholderLength) == 0) {
      DoMessageHandling("[LookUpSiteInSet]Freewebpagename is the standard message", 0);
      m_pWebSites->MoveNext();
      continue;
    }
    // Measured once per row, and never past the field when it holds no zero byte.
    const std::string_view page(FreesitesRecord.PageName,
                                strnlen(FreesitesRecord.PageName, sizeof FreesitesRecord.PageName));
    DoMessageHandling("[LookUpSiteInSet] Freewebpagename (%s),", page, 0);
    DoMessageHandling("[LookUpSiteInSet] is not the standard message (%s)",
                      std::string_view(kFreeSitesPlaceholder), 0);
    if (RowMatches(page, upper_url, url_bytes, host)) return 1;
    m_pWebSites->MoveNext();
  }
  return 0;
}

bool DoesUserHaveUnlimitedTime(const std::string& userName) {
  SectionLock section(3);
  SeekUserInSet(userName);
  DoMessageHandling("[DoesUserHaveUnlimitedTime] UserName = %s have unlimited access?", userName,
                    0);
  // A user not in Users has no row to read: not unlimited.
  if (!m_pRstUsers->IsEOF() && UserSet.MaxInternetTime == -1) {
    DoMessageHandling("[DoesUserHaveUnlimitedTime] YES", 0);
    return true;
  }
  DoMessageHandling("[DoesUserHaveUnlimitedTime] NO", 0);
  return false;
}
