// Look-ups over the Users and tblPages record sets, each a scan from the first row.
#include "filter/lookups.h"

#include <cstring>

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
bool ContainsNoCase(const std::string& upper_text, const char* needle) {
  const std::size_t length = std::strlen(needle);
  if (length > upper_text.size()) return false;
  for (std::size_t start = 0; start + length <= upper_text.size(); ++start) {
    std::size_t i = 0;
    while (i < length && upper_text[start + i] == Fold(needle[i])) ++i;
    if (i == length) return true;
  }
  return false;
}

}  // namespace

void SeekUserInSet(const std::string& userName) {
  const std::string upper = platform::UpperAscii(userName);
  m_pRstUsers->MoveFirst();
  if (std::strcmp(upper.c_str(), UserSet.UserName) == 0 && !m_pRstUsers->IsEOF()) return;
  for (;;) {
    if (m_pRstUsers->IsEOF()) return;
    m_pRstUsers->MoveNext();
    if (std::strcmp(upper.c_str(), UserSet.UserName) == 0 && !m_pRstUsers->IsEOF()) return;
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
    const std::string page = FreesitesRecord.PageName;
    DoMessageHandling("[LookUpSiteInSet] Freewebpagename (%s),", page, 0);
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
  DoMessageHandling("[DoesUserHaveUnlimitedTime] UserName = %s have unlimited access?", userName, 0);
  // A user not in Users has no row to read: not unlimited.
  if (!m_pRstUsers->IsEOF() && UserSet.MaxInternetTime == -1) {
    DoMessageHandling("[DoesUserHaveUnlimitedTime] YES", 0);
    return true;
  }
  DoMessageHandling("[DoesUserHaveUnlimitedTime] NO", 0);
  return false;
}
