// Loading, validating, refreshing and closing the three record sets of the store.
#include "filter/data_sets.h"

#include <cstring>
#include <random>
#include <string>

#include "filter/diagnostic_log.h"
#include "filter/reset_marker.h"
#include "filter/sections.h"
#include "filter/shared_store.h"
#include "filter/status_file.h"
#include "filter/usage.h"
#include "filter/user_db.h"
#include "platform/clock.h"
#include "platform/never_destroyed.h"

// Never destroyed: the filter object closes them from its destructor, which may run after this
// file's statics are gone when the library unloads or the process exits.
ado::RecordsetPtr& m_pRstUsers = platform::NeverDestroyed<ado::RecordsetPtr>();
ado::RecordsetPtr& m_pSettingsRecord = platform::NeverDestroyed<ado::RecordsetPtr>();
ado::RecordsetPtr& m_pWebSites = platform::NeverDestroyed<ado::RecordsetPtr>();
ado::RecordBindingPtr& gblPicUsersRS = platform::NeverDestroyed<ado::RecordBindingPtr>();
ado::RecordBindingPtr& gblPicSettingsR = platform::NeverDestroyed<ado::RecordBindingPtr>();
ado::RecordBindingPtr& gblPicWebSitesR = platform::NeverDestroyed<ado::RecordBindingPtr>();
UsersRow UserSet;
bool gblUsersIndexed = false;
SettingsRow SettingsRecord;
FreeSiteRow FreesitesRecord;

std::span<const ado::FieldBinding> UsersRow::Bindings() {
  static const ado::FieldBinding kFields[] = {
      ADO_TEXT_FIELD(UsersRow, store::users_column::kUserName, UserName, false),
      ADO_INTEGER_FIELD(UsersRow, store::users_column::kMaxInternetTime, MaxInternetTime, true),
      ADO_INTEGER_FIELD(UsersRow, store::users_column::kCurrentInternetTime, CurrentInternetTime,
                        true),
  };
  return kFields;
}

std::span<const ado::FieldBinding> SettingsRow::Bindings() {
  static const ado::FieldBinding kFields[] = {
      ADO_INTEGER_FIELD(SettingsRow, store::settings_column::kResetDaily, ResetDaily, true),
      ADO_INTEGER_FIELD(SettingsRow, store::settings_column::kResetWeekly, ResetWeekly, false),
      ADO_INTEGER_FIELD(SettingsRow, store::settings_column::kResetMonthly, ResetMonthly, true),
      ADO_INTEGER_FIELD(SettingsRow, store::settings_column::kShowStartMessage, ShowStartMessage,
                        true),
      ADO_TEXT_FIELD(SettingsRow, store::settings_column::kDeniedMessage, DeniedMessage, true),
      ADO_INTEGER_FIELD(SettingsRow, store::settings_column::kUsersChanged, UsersChanged, true),
      ADO_INTEGER_FIELD(SettingsRow, store::settings_column::kIdleGapMinutes, IdleGapMinutes, true),
      ADO_TEXT_FIELD(SettingsRow, store::settings_column::kCurrentUserCommand, CurrentUserCommand,
                     true),
      ADO_TEXT_FIELD(SettingsRow, store::settings_column::kServerPort, ServerPort, true),
      ADO_INTEGER_FIELD(SettingsRow, store::settings_column::kWarningMode, WarningMode, true),
  };
  return kFields;
}

std::span<const ado::FieldBinding> FreeSiteRow::Bindings() {
  static const ado::FieldBinding kFields[] = {
      ADO_TEXT_FIELD(FreeSiteRow, store::free_sites_column::kPageName, PageName, true),
  };
  return kFields;
}

namespace {

// Obtains the binding interface first, then opens the whole table.
void OpenTable(ado::RecordsetPtr& recordset, ado::RecordBindingPtr& binding, const char* table) {
  binding = recordset->QueryBinding();
  recordset->Open(table, m_pConnection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
}

void SetText(char* field, std::size_t size, const char* text) {
  std::strncpy(field, text, size - 1);
  field[size - 1] = '\0';
}

}  // namespace

bool ReadDataSetsFromDB() {
  try {
    OpenTable(m_pWebSites, gblPicWebSitesR, store::kFreeSitesTable);
    if (m_pWebSites->State() != ado::adStateOpen) {
      DoMessageHandling("m_pWebSites is CLOSED!\n", 3);
      return false;
    }
    bool add_placeholder = false;
    if (m_pWebSites->RecordCount() == 0) {
      DoMessageHandling("There are no free access sites set for any users!", 2);
      DoMessageHandling("All sites are deducted from the users time then!", 2);
      add_placeholder = true;
    }

    OpenTable(m_pRstUsers, gblPicUsersRS, store::kUsersTable);
    if (!WriteStatus(1)) DoMessageHandling("[ReadDataSetsFromDB] Error writing the status", 0);
    if (m_pRstUsers->State() != ado::adStateOpen) {
      DoMessageHandling("m_pRstUsers is CLOSED!\n", 3);
      return false;
    }
    if (m_pRstUsers->RecordCount() < 1) {
      DoMessageHandling("There are no restrictions set for any users!\n", 2);
      DoMessageHandling("The filter will not be loaded\n", 2);
      DoMessageHandling("Please set restrictions for at least one user\n", 2);
      return false;
    }

    OpenTable(m_pSettingsRecord, gblPicSettingsR, store::kSettingsTable);
    if (m_pSettingsRecord->RecordCount() != 1) {
      DoMessageHandling("There should be only one record in the Tempogate Settings table!", 3);
      return false;
    }
    m_pRstUsers->MoveFirst();
    m_pSettingsRecord->MoveFirst();

    if (add_placeholder) {
      DoMessageHandling("[DEBUG]Binding FreeSites", 0);
      gblPicWebSitesR->BindToRecordset(&FreesitesRecord);
      DoMessageHandling("[DEBUG]Updating FreesitesRecord", 0);
      SetText(FreesitesRecord.PageName, sizeof FreesitesRecord.PageName, "TEMP");
      DoMessageHandling("[DEBUG]Adding Record", 0);
      gblPicWebSitesR->AddNew(&FreesitesRecord);
      DoMessageHandling("[DEBUG]Updating FreesitesRecord", 0);
      SetText(FreesitesRecord.PageName, sizeof FreesitesRecord.PageName, kFreeSitesPlaceholder);
      DoMessageHandling("[DEBUG]Updated to '%s'", std::string(FreesitesRecord.PageName), 0);
      DoMessageHandling("[DEBUG]Update Freesites", 0);
      gblPicWebSitesR->Update(&FreesitesRecord);
      DoMessageHandling("[DEBUG]Move Last", 0);
      m_pWebSites->MoveLast();
      DoMessageHandling("[DEBUG]Requery", 0);
      m_pWebSites->Requery(ado::adOptionUnspecified);
    }
    DoMessageHandling("[DEBUG]Do movefirst on websites", 0);
    m_pWebSites->MoveFirst();

    if (m_pRstUsers->IsEOF() || m_pSettingsRecord->IsEOF() || m_pWebSites->IsEOF()) {
      DoMessageHandling(
          "[ReadSetFromDB] Failed initializing m_pRstUsers or m_pSettingsRecord recordsets", 3);
      DoMessageHandling("Recordcount Users = " + std::to_string(m_pRstUsers->RecordCount()), 2);
      return false;
    }
    if (!gblPicUsersRS || !gblPicSettingsR || !gblPicWebSitesR) {
      DoMessageHandling("gblPicUsersRS or gblPicSettingsR or gblPicWebSitesR is NULL!", 3);
      return false;
    }
    DoMessageHandling("Binding pointers initialized successfully", 0);
    gblPicUsersRS->BindToRecordset(&UserSet);
    gblPicSettingsR->BindToRecordset(&SettingsRecord);
    gblUsersIndexed = false;
    try {
      m_pRstUsers->SetIndex("UserName");
      m_pRstUsers->Seek("");  // raises unless UserName is the bound text column
      gblUsersIndexed = true;
    } catch (const ado::ComError&) {
      // A table whose first column is named otherwise is scanned, as before.
    }
    m_pRstUsers->MoveFirst();
    DoMessageHandling("[ReadDataSetsFromDB] Above BindToRecordset", 0);
    return true;
  } catch (const ado::ComError& error) {
    ReportStoreError("[ReadSetFromDB] An error has occured!", error);
    return false;
  }
}

namespace {
// Reads Users again and logs how many are monitored; `clear_flag` clears UsersChanged too.
void ReadUsers(bool clear_flag);

// UsersChanged read by several filters of one store. The first filter to see an administrator's
// yes (any number above 0) reads everything again and turns it into a number of its own below 0;
// every filter reads again whenever the flag is not the number it read last. An administrator's
// yes thus always changes the value, and no filter clears it before another has seen it.
void FollowUsersChanged() {
  static LONG seen = 0;
  const LONG value = SettingsRecord.UsersChanged;
  if (value == seen && value <= 0) return;
  ReadUsers(false);
  ReadUsageTables();
  if (value > 0) {
    SectionLock section(3);
    LONG mine = -1;
    try {
      mine = -1 - static_cast<LONG>(std::random_device{}() % 2000000000u);
    } catch (...) {
      mine = -1 - static_cast<LONG>(platform::Now() % 2000000000);
    }
    SettingsRecord.UsersChanged = mine;
    try {
      gblPicSettingsR->Update(&SettingsRecord);
    } catch (const ado::ComError& error) {
      if (error.Error() != ado::kErrorRowChanged) throw;
      // Another filter turned it first: its number is the one to follow.
      m_pSettingsRecord->Requery(ado::adOptionUnspecified);
      gblPicSettingsR->BindToRecordset(&SettingsRecord);
    }
  }
  seen = SettingsRecord.UsersChanged;
}
}  // namespace

void CountMonitoredUsers() {
  // A file deleted, renamed or restored from a backup under the running filter: nothing may be
  // charged into the old one, so the connection follows the name.
  // One that could only be opened read-only (restored by another account) is opened again when
  // it is given back: a changed owner or mode.
  const auto reason = m_pConnection->ReopenNeeded();
  if (reason != ado::Connection::ReopenReason::kNone) {
    if (reason == ado::Connection::ReopenReason::kAccessChanged) {
      DoMessageHandling(
          "[CountMonitoredUsers] The database file's owner or mode changed, opening it again", 2);
    } else if (reason == ado::Connection::ReopenReason::kClosed) {
      DoMessageHandling("[CountMonitoredUsers] Trying to open the database again", 2);
    } else {
      DoMessageHandling("[CountMonitoredUsers] The database file was replaced, opening it again",
                        2);
    }
    SectionLock section(3);
    m_pConnection->Reopen();
    DoMessageHandling("[CountMonitoredUsers] Database opened again", 2);
    if (m_pConnection->ReadOnly()) {
      DoMessageHandling(
          "[CountMonitoredUsers] The database file is read-only for this process: no minute can "
          "be charged until its owner or mode lets it write",
          3);
    }
    // Every table as at start-up: nothing of the file that is gone may decide a request.
    m_pSettingsRecord->Requery(ado::adOptionUnspecified);
    gblPicSettingsR->BindToRecordset(&SettingsRecord);
    m_pWebSites->Requery(ado::adOptionUnspecified);
    gblPicWebSitesR->BindToRecordset(&FreesitesRecord);
    ReadResetMarker();  // the file's own last reset, which a backup may hold older
    ReadUsers(false);
    ReadUsageTables();
  }
  m_pSettingsRecord->MoveFirst();
  if (SharedStore()) {
    FollowUsersChanged();
    return;
  }
  if (!SettingsRecord.UsersChanged) return;
  ReadUsers(true);
  ReadUsageTables();  // extra minutes and the store's own settings change with it
}

namespace {

void ReadUsers(bool clear_flag) {
  SectionLock section(3);
  m_pRstUsers->Requery(ado::adOptionUnspecified);
  gblPicUsersRS->BindToRecordset(&UserSet);
  if (clear_flag) {
    SettingsRecord.UsersChanged = 0;
    gblPicSettingsR->Update(&SettingsRecord);
  }
  const long count = m_pRstUsers->RecordCount();
  if (count > 0) {
    DoMessageHandling("Number of monitored users: %d", count, 2);
  } else {
    DoMessageHandling("Number of monitored users is 0!", 3);
    DoMessageHandling("All users will be granted access", 3);
  }
}

}  // namespace

void RefreshFreeSites() {
  SectionLock section(3);
  m_pWebSites->Requery(ado::adOptionUnspecified);
  gblPicWebSitesR->BindToRecordset(&FreesitesRecord);
}

namespace {

struct TableToClose {
  ado::RecordsetPtr& recordset;
  ado::RecordBindingPtr& binding;
  const char* close_line;
  const char* pointer_line;
  bool is_users;
};

}  // namespace

void TerminateDataSets() {
  TableToClose tables[] = {
      {m_pRstUsers, gblPicUsersRS, "Close m_pRstUsers", "Delete US pointers", true},
      {m_pSettingsRecord, gblPicSettingsR, "Close m_pSettingsRecord", "Delete SR pointer", false},
      {m_pWebSites, gblPicWebSitesR, "Close m_pWebSites", "Delete WS pointers", false},
  };
  try {
    for (TableToClose& table : tables) {
      DoMessageHandling(table.close_line, 0);
      if (table.recordset && table.recordset->State() == ado::adStateOpen) {
        if (table.is_users) DoMessageHandling("Release gblPicUsersRS", 0);
        table.binding.Release();
        if (table.is_users) DoMessageHandling("Close m_pRstUsers", 0);
        table.recordset->Close();
      }
      if (table.is_users) DoMessageHandling("Null gblPicUsersRS", 0);
      table.binding.Release();
      DoMessageHandling(table.pointer_line, 0);
      table.recordset.Release();
    }
  } catch (...) {
    DoMessageHandling("[TerminateDataSets] DbError", 3);
  }
}
