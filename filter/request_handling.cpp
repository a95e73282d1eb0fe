// The decision on each request: OnPreprocHeaders and OnUrlMap lead into HandleRequest, which
// answers with the time-left page, lets free sites and unlimited users through, charges the
// user's time, shows the start page or denies.
#include <cstring>
#include <optional>

#include "filter/diagnostic_log.h"
#include "filter/host_operations.h"
#include "filter/redirects.h"
#include "filter/request_state.h"
#include "filter/schedule.h"
#include "filter/sections.h"
#include "filter/shared_store.h"
#include "filter/store.h"
#include "filter/tempogate.h"
#include "filter/usage.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "platform/text.h"

DWORD ClsTempogate::OnUrlMap(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_URL_MAP*) {
  try {
    SectionLock section(0);
    char userText[kRequestTextSize];
    if (!ReadRemoteUser(context, userText) || userText[0] == '\0')
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    m_bUserSeen = 1;
    DoMessageHandling("[OnUrlMap] Remote User is = %s", std::string_view(userText), 0);
    return HandleRequest(context);
  } catch (...) {
    DoMessageHandling("[OnUrlMap] Error occured (all) 1.7", 3);
    return SF_STATUS_REQ_ERROR;
  }
}

DWORD ClsTempogate::OnPreprocHeaders(HTTP_FILTER_CONTEXT* context,
                                     HTTP_FILTER_PREPROC_HEADERS* preprocHeaders) {
  try {
    SectionLock section(1);
    ReadUrlHeader(context, preprocHeaders, gblRequestUrl);
    if (gblServerName[0] == '\0') ReadServerName(context, gblServerName);
    DoMessageHandling("[OnPreProcHeaders] Calling handleRequest from OnPreProcHeaders", 0);
    return HandleRequest(context);
  } catch (...) {
    DoMessageHandling("[OnPreprocHeaders] Error", 3);
    DoMessageHandling("[OnPreprocHeaders] %s", LastSystemErrorText(), 3);
    return SF_STATUS_REQ_ERROR;
  }
}

DWORD ClsTempogate::HandleRequest(HTTP_FILTER_CONTEXT* context) {
  if (!SharedStore()) return DecideRequest(context);
  try {
    SectionLock decision(1);
    if (m_bUserSeen == 0) return DecideRequest(context);  // the headers' call decides nothing
    if (OutageOn() || !m_bDataSetsLoaded) {
      // Down: the answer comes at once; the store is tried again once a second.
      if (!ReconnectDue() || !ReconnectStore()) {
        m_bUserSeen = 0;
        return StoreDownAnswer();
      }
    }
    BeginStoreDecision();
    const DWORD result = DecideRequest(context);
    // Over only when a whole decision worked again: a store that opens but fails every request
    // stays one outage, not two lines a second.
    if (!StoreFailedInDecision()) {
      EndOutage();
      return result;
    }
    StartOutage();
    return StoreDownAnswer();
  } catch (...) {
    DoMessageHandling("[HandleRequest] Error occured (all) 1.8", 3);
    return SF_STATUS_REQ_ERROR;
  }
}

bool ClsTempogate::ReconnectStore() {
  try {
    SectionLock section(3);
    if (!m_pConnection) return false;
    m_pConnection->Reopen();
    if (!m_bDataSetsLoaded) {
      if (!InitializeFilter()) return false;
      CreatePeriodTables();
      return true;
    }
    m_pSettingsRecord->Requery(ado::adOptionUnspecified);
    gblPicSettingsR->BindToRecordset(&SettingsRecord);
    m_pWebSites->Requery(ado::adOptionUnspecified);
    gblPicWebSitesR->BindToRecordset(&FreesitesRecord);
    m_pRstUsers->Requery(ado::adOptionUnspecified);
    gblPicUsersRS->BindToRecordset(&UserSet);
    ReadResetMarker();  // another filter may have made a reset meanwhile
    ReadUsageTables();
    CreatePeriodTables();  // a store put back from an older copy may lack them
    return true;
  } catch (...) {
    return false;
  }
}

DWORD ClsTempogate::DecideRequest(HTTP_FILTER_CONTEXT* context) {
  // Declared outside the try, so that the error report below still runs under the sections;
  // released in reverse order, 2 before 1.
  std::optional<SectionLock> decision;
  std::optional<SectionLock> charge;
  try {
    decision.emplace(1);
    if (m_bUserSeen == 0) {
      DoMessageHandling("No recognized user, make sure that anonymous access is not allowed", 0);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
    char userText[kRequestTextSize];
    if (!ReadRemoteUser(context, userText)) {
      DoMessageHandling(
          "[HandleRequest] Error getting Remote User name type name" + LastSystemErrorText(), 3);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
    m_bUserSeen = 0;

    // The time-left page costs nothing and is open to every user, monitored or not. A proxy that
    // decrypts HTTPS hands on https:// URLs too, and browsers try https:// first for a bare name.
    const std::string command = std::string(SettingsRecord.CurrentUserCommand) + "/";
    if (platform::EqualsNoCase(gblRequestUrl, "http://" + command) ||
        platform::EqualsNoCase(gblRequestUrl, "https://" + command)) {
      ShowTimeLeft(context, UserNameOf(userText), true);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }

    CountMonitoredUsers();
    if (m_pRstUsers->RecordCount() == 0) return SF_STATUS_REQ_NEXT_NOTIFICATION;
    CheckResetSchedule();
    RefreshFreeSites();

    if (!ReadRemoteUser(context, userText) || userText[0] == '\0')
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    const std::string userName = UserNameOf(userText);

    bool hasTime = false;
    bool found = false;
    if (LookUpUserInSet(userName, &hasTime, &found) == 0) {
      // A shared store answers as its StoreDownPolicy says, not with the denied page.
      if (SharedStore()) return SF_STATUS_REQ_ERROR;
      DoMessageHandling("[HandleRequest] Error %s", LastSystemErrorText(), 3);
      DoMessageHandling("[HandleRequest] Error validating user %s", userName, 3);
      WriteDeniedMessage(context);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }

    if (LookUpSiteInSet(gblRequestUrl, gblServerName) != 0) {
      DoMessageHandling("[HandleRequest] Allowing Access to approved no charge website = %s",
                        std::string_view(gblRequestUrl), 0);
      gblFreeSite = true;
    } else {
      DoMessageHandling(
          "[HandleRequest] Time visited at website = %s is deducted from browse time!",
          std::string_view(gblRequestUrl), 0);
      gblFreeSite = false;
    }
    SetHasTime(hasTime ? 1 : 0);

    // Hours bind every user the store knows, unlimited ones too; free sites stay open. Free
    // hours let a user out of minutes through, uncharged.
    if (found && !gblFreeSite) {
      const HoursNow hours = HoursOf(platform::UpperAscii(userName), platform::Now());
      if (!hours.allowed) {
        DoMessageHandling("[HandleRequest] Outside the allowed hours: %s", userName, 0);
        WriteOutsideHoursMessage(context, hours);
        return SF_STATUS_REQ_FINISHED;
      }
      if (hours.free && !hasTime) {
        DoMessageHandling("[HandleRequest] Free hours: %s is not charged", userName, 0);
        return SF_STATUS_REQ_NEXT_NOTIFICATION;
      }
    }

    if (!hasTime) {
      if (DoesUserHaveUnlimitedTime(userName)) {
        DoMessageHandling("Not First Call and User has already been added", 0);
        DoMessageHandling("UnlimitedAccess: %s is being given free accesss to all internet sites",
                          std::string_view(userText), 0);
        return SF_STATUS_REQ_NEXT_NOTIFICATION;
      }
      if (gblFreeSite) {
        DoMessageHandling("[HandleRequest] Only free browse mode is allowed now!", 0);
        return SF_STATUS_REQ_NEXT_NOTIFICATION;
      }
      DoMessageHandling("[HandleRequest] WRITEDENIEDMESSAGE !", 0);
      WriteDeniedMessage(context);
      return SettingsRecord.WarningMode ? SF_STATUS_REQ_NEXT_NOTIFICATION : SF_STATUS_REQ_FINISHED;
    }

    if (!found) {
      WriteDeniedMessage(context);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
    charge.emplace(2);
    int firstRequest = 0;
    if (RegisterTime(userName, context, &firstRequest, m_bHasTime) == 0)
      return SF_STATUS_REQ_FINISHED;
    if (firstRequest != 0) {
      ShowTimeLeft(context, userName, false);
      return SF_STATUS_REQ_FINISHED;
    }
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  } catch (const ado::ComError& error) {
    PrintConnectionError(m_pConnection);
    PrintComError(error);
    return SF_STATUS_REQ_ERROR;
  } catch (...) {
    DoMessageHandling("[HandleRequest] Error occured (all) 1.8", 3);
    return SF_STATUS_REQ_ERROR;
  }
}
