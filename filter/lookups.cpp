// Look-ups over the Users and tblPages record sets, each a scan from the first row.
#include "filter/lookups.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "filter/data_sets.h"
#include "filter/diagnostic_log.h"
#include "filter/sections.h"
#include "filter/user_db.h"
#include "platform/machine.h"

namespace {

constexpr std::size_t kPlaceholderLength = 25;

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `upper_text` contains `needle` compared without case; no copies, as this runs for every
// free site of every request.
bool ContainsNoCase(std::string_view upper_text, const char* needle) {
  const std::size_t length = std::strlen(needle);
  if (length > upper_text.size()) return false;
  if (length == 0) return true;
  const char first = Fold(needle[0]);
  const char* const text = upper_text.data();
  const char* const last_start = text + (upper_text.size() - length);
  for (const char* at = text; at <= last_start; ++at) {
    at = static_cast<const char*>(
        std::memchr(at, first, static_cast<std::size_t>(last_start - at) + 1));
    if (at == nullptr) return false;
    std::size_t i = 1;
    while (i < length && at[i] == Fold(needle[i])) ++i;
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
    } else if (UserSet.CurrentInternetTime < UserSet.MaxInternetTime) {
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
  const std::string url_copy = url != nullptr ? url : "";
  const std::string server_copy = serverName != nullptr ? serverName : "";
  DoMessageHandling(server_copy, 0);
  DoMessageHandling(url_copy, 0);
  const std::string upper_url = platform::UpperAscii(url_copy);
  const std::string upper_server = platform::UpperAscii(server_copy);
  m_pWebSites->MoveFirst();
  // Requests to this server itself, the product's own pages among them, are never charged.
  if (upper_url.find(upper_server) != std::string::npos) return 1;
  while (!m_pWebSites->IsEOF()) {
    DoMessageHandling("[LookUpSiteInSet]Check if the freewebpagename is the standard message", 0);
    if (std::strncmp(FreesitesRecord.PageName, kFreeSitesPlaceholder, kPlaceholderLength) == 0) {
      DoMessageHandling("[LookUpSiteInSet]Freewebpagename is the standard message", 0);
      m_pWebSites->MoveNext();
      continue;
    }
    DoMessageHandling("[LookUpSiteInSet] Freewebpagename (%s),",
                      std::string_view(FreesitesRecord.PageName), 0);
    static const std::string placeholder = kFreeSitesPlaceholder;
    DoMessageHandling("[LookUpSiteInSet] is not the standard message (%s)", placeholder, 0);
    if (ContainsNoCase(upper_url, FreesitesRecord.PageName)) return 1;
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
