// ShowTimeLeft and WriteDeniedMessage.
#include "filter/redirects.h"

#include "filter/data_sets.h"
#include "filter/diagnostic_log.h"
#include "filter/host_operations.h"
#include "filter/lookups.h"
#include "filter/request_state.h"
#include "filter/sections.h"
#include "filter/time_accounting.h"
#include "filter/usage.h"

namespace {

// Time left of the row SeekUserInSet reached. A user who is not in Users reaches no row; such a
// user is told 0 rather than another user's minutes. A limited user over the allowance is told
// 0 too: -1 is what the page shows as unlimited.
long TimeLeftOfSoughtUser() {
  if (m_pRstUsers->IsEOF()) return 0;
  const long allowance = AllowanceOfPeriod();
  const long left = allowance - static_cast<long>(UserSet.CurrentInternetTime);
  if (allowance != -1 && left < 0) return 0;
  return left;
}

}  // namespace

std::string ProductPageUrl(const std::string& userName, long timeLeft,
                           const std::string& requestedUrl, bool denied,
                           const std::string& deniedMessage, bool unknownUser) {
  std::string url = HeaderSafe(gblServerName) + ":" + HeaderSafe(SettingsRecord.ServerPort) +
                    "/Minutrix/Minutrix.asp?UserName=" + HeaderSafe(userName) +
                    "&TimeLeft=" + std::to_string(timeLeft) +
                    "&CurrentUserCommand=" + HeaderSafe(SettingsRecord.CurrentUserCommand) +
                    "&RequestedURL=" + HeaderSafe(requestedUrl);
  if (denied) url += "&DeniedMessage=" + HeaderSafe(deniedMessage);
  if (denied && unknownUser) url += "&Unknown=1";
  return url;
}

void ShowTimeLeft(HTTP_FILTER_CONTEXT* context, const std::string& userName, bool userAsked) {
  SectionLock section(3);
  DoMessageHandling("[ShowTimeLeft] UserName = %s", userName, 0);
  if (userName.empty()) {
    DoMessageHandling("[ShowTimeLeft] Bad Call to ShowTime", 0);
    return;
  }
  SeekUserInSet(userName);
  const long timeLeft = TimeLeftOfSoughtUser();
  std::string url;
  if (!userAsked) {
    url = ProductPageUrl(userName, timeLeft, gblRequestUrl, false, {});
    DoMessageHandling("[ShowTimeLeft] CurrentUserCommand : %s",
                      std::string(SettingsRecord.CurrentUserCommand), 0);
    DoMessageHandling("[ShowTimeLeft] UserName : %s", userName, 0);
    DoMessageHandling("[ShowTimeLeft] StartupRequest = %s", url, 0);
  } else if (timeLeft > 0 || timeLeft == -1) {
    url = ProductPageUrl(userName, timeLeft, ProductHomeHost, false, {});
  } else {
    url = ProductPageUrl(userName, timeLeft, ProductHomeHost, true, SettingsRecord.DeniedMessage,
                         m_pRstUsers->IsEOF());
    DoMessageHandling("[ShowTimeLeft] CurrentUserCommand : %s",
                      std::string(SettingsRecord.CurrentUserCommand), 0);
    DoMessageHandling("[ShowTimeLeft] UserName : %s", userName, 0);
    DoMessageHandling("[ShowTimeLeft] Request for UserTime, but only FreeBrowse TimeLeft = %s", url,
                      0);
  }
  SendRedirect(context, url);
}

void WriteDeniedMessage(HTTP_FILTER_CONTEXT* context) {
  SectionLock section(3);
  char userText[kRequestTextSize];
  if (!ReadRemoteUser(context, userText)) return;
  m_pSettingsRecord->MoveFirst();
  const std::string deniedMessage = SettingsRecord.DeniedMessage;
  const std::string userName = UserNameOf(userText);
  if (SettingsRecord.WarningMode) {
    auto entry = TimesMap.find(userName);
    if (entry == TimesMap.end()) {
      DoMessageHandling(
          "[WriteDeniedMessage] Error finding user %s in usermap, (lookup for warning message)",
          userName, 3);
      DoMessageHandling("[WriteDeniedMessage] USERMAP USERS %d in usermap",
                        static_cast<long long>(TimesMap.size()), 3);
      DoMessageHandling(userName, 3);
    } else {
      DoMessageHandling(
          "[WriteDeniedMessage] user %s found, did user already have a warning, if not show the "
          "message!",
          userName, 0);
      if (entry->second.bWarned) {
        DoMessageHandling("[WriteDeniedMessage] user %s is allowed to keep on surfing", userName,
                          0);
        return;
      }
      DoMessageHandling(
          "[WriteDeniedMessage] user %s is allowed to keep on surfing, give a warning message!",
          userName, 0);
      entry->second.bWarned = true;
    }
  }
  DoMessageHandling("[WriteDeniedMessage] UserName = %s", userName, 0);
  SeekUserInSet(userName);
  const long timeLeft = TimeLeftOfSoughtUser();
  SendRedirect(context, ProductPageUrl(userName, timeLeft, ProductHomeHost, true, deniedMessage,
                                       m_pRstUsers->IsEOF()));
}
