// ClsTempogate's start-up and shut-down.
#include "filter/tempogate.h"

#include <cstring>

#include "filter/diagnostic_log.h"
#include "filter/request_state.h"
#include "filter/sections.h"
#include "filter/shared_store.h"
#include "filter/status_file.h"
#include "filter/store.h"
#include "filter/usage.h"

BOOL ClsTempogate::GetFilterVersion(HTTP_FILTER_VERSION* version) {
  DoMessageHandling("Starting App", 2);
  DoMessageHandling("[GetFilterVersion] Write status to 0", 0);
  if (!WriteStatus(0)) DoMessageHandling("[GetFilterVersion] Error writing the status", 3);

  // Filled before Initialize, whatever it answers.
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  std::strncpy(version->lpszFilterDesc, "Minutrix", SF_MAX_FILTER_DESC_LEN - 1);
  version->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
  version->dwFlags = kTempogateNotifications;

  if (Initialize() == 0) {
    if (SharedStore()) {
      // A shared store that is down must not leave the proxy without its filter: requests are
      // answered as StoreDownPolicy says and the store is tried again once a second.
      StartOutage();
      DoMessageHandling("[GetFilterVersion] Returns True", 0);
      return TRUE;
    }
    DoMessageHandling("[GetFilterVersion] Filter initialization failed", 3);
    DoMessageHandling("[GetFilterVersion] Returns False", 0);
    return FALSE;
  }
  DoMessageHandling("[GetFilterVersion] Server version is %d", version->dwServerFilterVersion >> 16,
                    2);
  DoMessageHandling("[GetFilterVersion] / %d", version->dwServerFilterVersion & 0xffff, 2);
  try {
    DoMessageHandling("[GetFilterVersion] / %d", m_pRstUsers->RecordCount(), 2);
  } catch (const ado::ComError& error) {
    // The users were just read; a count that cannot be had now is reported and start-up goes on.
    ReportStoreError("[GetFilterVersion] Error reading the number of users", error);
  }
  DoMessageHandling("[GetFilterVersion] Returns True", 0);
  return TRUE;
}

int ClsTempogate::Initialize() {
  for (auto& count : sectionUseCount) count = 0;
  DoMessageHandling("[ClsTempogate] constructor versie 1.00", 2);
  gblServerName[0] = '\0';
  m_bUserSeen = 0;
  m_bHasTime = 1;
  const bool connected = InitializeDBConnection();
  DoMessageHandling("[Initialize] Initialized DBConnection", 0);
  const bool loaded = InitializeFilter();
  DoMessageHandling("[Initialize] Initialized DataSets", 0);
  if (!sections_created_) {  // a second version call must not create them twice
    CreateSections();
    sections_created_ = true;
  }
  DoMessageHandling("[Initialize] Initialized FilterSettings", 0);
  return connected && loaded ? 1 : 0;
}

ClsTempogate::~ClsTempogate() {
  try {
    DoMessageHandling("Entering Destructor", 2);
    DoMessageHandling("[~ClsTempogate] Error %s", LastSystemErrorText(), 3);
    TerminateDataSets();
    DoMessageHandling("DataSets Terminated", 2);
    TerminateUserDB();
    DoMessageHandling("UserSet Terminated", 2);
    TimesMap.clear();
    DoMessageHandling("TimesMap Terminated", 2);
    if (sections_created_) DeleteSections();
    sections_created_ = false;
  } catch (...) {
    // Unloading goes on whatever happens; the log has what it could record.
  }
}

DWORD ClsTempogate::OnAuthentication(HTTP_FILTER_CONTEXT*, HTTP_FILTER_AUTHENT*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

DWORD ClsTempogate::OnEndOfNetSession(HTTP_FILTER_CONTEXT*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

bool ClsTempogate::InitializeFilter() {
  try {
    if (m_bDataSetsLoaded) return true;
    m_pWebSites.Release();
    m_pWebSites = ado::CreateRecordset();
    if (!m_pWebSites) {
      DoMessageHandling("[InitializeFilter] Error: Unbound PageName Record initialization failed!",
                        3);
      return false;
    }
    DoMessageHandling("[InitializeFilter] Success", 1);
    m_pSettingsRecord.Release();
    m_pSettingsRecord = ado::CreateRecordset();
    if (!m_pSettingsRecord) {
      DoMessageHandling("[InitializeFilter] Error: Unbound Settings Record initialization failed!",
                        3);
      return false;
    }
    m_pRstUsers.Release();
    m_pRstUsers = ado::CreateRecordset();
    if (!m_pRstUsers) {
      DoMessageHandling("[InitializeUserSet] Error: Unbound UserSet initialization failed!", 3);
      return false;
    }
    if (!ReadDataSetsFromDB()) {
      DoMessageHandling("[InitializeUserSet] Error: ReadSetsFromDB returned FALSE!", 3);
      return false;
    }
    ReadResetMarker();
    ReadUsageTables();
    if (SharedStore()) CreatePeriodTables();
    m_bDataSetsLoaded = 1;
    return true;
  } catch (const ado::ComError& error) {
    ReportStoreError("[InitializeUserSet] An error has occured!", error);
    return false;
  }
}
