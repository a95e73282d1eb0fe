// ShowTimeLeft and WriteDeniedMessage.
#include "filter/redirects.h"

#include "filter/data_sets.h"
#include "filter/diagnostic_log.h"
#include "filter/host_operations.h"
#include "filter/lookups.h"
#include "filter/request_state.h"
#include "filter/schedule.h"
#include "filter/sections.h"
#include "filter/shared_store.h"
#include "filter/time_accounting.h"
#include "filter/usage.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/schedules.h"
#include "store/usage.h"

namespace {

// Time left of the row SeekUserInSet reached. A user who is not in Users reaches no row; such a
// user is told 0 rather than another user's minutes. A limited user over the allowance is told
// 0 too: -1 is what the page shows as unlimited.
long TimeLeftOfSoughtUser() {
  if (m_pRstUsers->IsEOF()) return 0;
  const long allowance = AllowanceOfPeriod(UserSet.UserName, UserSet.MaxInternetTime);
  const long left = allowance - static_cast<long>(UserSet.CurrentInternetTime);
  if (allowance != -1 && left < 0) return 0;
  return left;
}

// What applies now, for the time-left page: until when browsing is allowed today, and until
// when it is free. Parameters after the usual ones, so the page reads the old ones as before.
std::string HoursParameters(const std::string& userName) {
  if (m_pRstUsers->IsEOF()) return {};
  const HoursNow hours = HoursOf(platform::UpperAscii(userName), platform::Now(), true);
  std::string parameters;
  if (hours.allowed_until >= 0)
    parameters += "&OpenUntil=" + store::MinuteText(hours.allowed_until);
  if (hours.free_until >= 0) parameters += "&FreeUntil=" + store::MinuteText(hours.free_until);
  return parameters;
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
    url = ProductPageUrl(userName, timeLeft, gblRequestUrl, false, {}) + HoursParameters(userName);
    DoMessageHandling("[ShowTimeLeft] CurrentUserCommand : %s",
                      std::string(SettingsRecord.CurrentUserCommand), 0);
    DoMessageHandling("[ShowTimeLeft] UserName : %s", userName, 0);
    DoMessageHandling("[ShowTimeLeft] StartupRequest = %s", url, 0);
  } else if (timeLeft > 0 || timeLeft == -1) {
    url =
        ProductPageUrl(userName, timeLeft, ProductHomeHost, false, {}) + HoursParameters(userName);
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
    // With a shared store another filter may have charged the user's whole allowance: the one
    // warning is this filter's own all the same.
    if (entry == TimesMap.end() && SharedStore()) {
      entry = TimesMap.emplace(userName, UserTimesRecord{}).first;
    }
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

void WriteOutsideHoursMessage(HTTP_FILTER_CONTEXT* context, const HoursNow& hours) {
  SectionLock section(3);
  char userText[kRequestTextSize];
  if (!ReadRemoteUser(context, userText)) return;
  const std::string userName = UserNameOf(userText);
  DoMessageHandling("[WriteOutsideHoursMessage] UserName = %s", userName, 0);
  SeekUserInSet(userName);
  std::string url = ProductPageUrl(userName, TimeLeftOfSoughtUser(), ProductHomeHost, true,
                                   OutsideHoursMessage());
  if (hours.opens_in >= 0) {
    const std::time_t opens = platform::Now() + 60 * static_cast<std::time_t>(hours.opens_in);
    const store::LocalMinute at = store::LocalMinuteOf(opens);
    // The day as the user counts it from today: a weekday name alone would leave "Tuesday"
    // unclear on a Tuesday.
    const long long days = store::LocalDayNumber(opens) - store::LocalDayNumber(platform::Now());
    std::string on = store::WeekdayName(at.weekday);
    if (days <= 0) on = "today";
    if (days == 1) on = "tomorrow";
    if (days >= 7) on = "next-" + on;
    url += "&OpensAt=" + store::MinuteText(at.minute) + "&OpensOn=" + on;
  }
  SendRedirect(context, url);
}
