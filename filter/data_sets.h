// The three record sets of the store (Users, FilterSettings, tblPages), their bound records, and
// their loading, refresh and closing. Request threads use them only under section 3.
#pragma once

#include <cstddef>
#include <span>

#include "platform/ado.h"
#include "store/schema.h"

// A row of Users. UserName is stored upper-case; MaxInternetTime -1 means unlimited access.
struct UsersRow {
  char UserName[60];
  LONG MaxInternetTime;
  LONG CurrentInternetTime;
  static std::span<const ado::FieldBinding> Bindings();
};

// The one row of FilterSettings (columns 1, 11 and 12 are not the filter's). Yes/no fields are
// non-zero for yes.
struct SettingsRow {
  LONG ResetDaily;
  LONG ResetWeekly;
  LONG ResetMonthly;
  LONG ShowStartMessage;
  char DeniedMessage[255];
  LONG UsersChanged;
  LONG IdleGapMinutes;
  char CurrentUserCommand[50];
  char ServerPort[10];
  LONG WarningMode;
  static std::span<const ado::FieldBinding> Bindings();
};

// A row of tblPages: a text that makes every URL containing it free of charge.
struct FreeSiteRow {
  char PageName[255];
  static std::span<const ado::FieldBinding> Bindings();
};

// The row text the filter puts into an empty tblPages; it never makes anything free.
inline constexpr const char* kFreeSitesPlaceholder = store::kFreeSitesPlaceholder;

extern ado::RecordsetPtr& m_pRstUsers;
extern ado::RecordsetPtr& m_pSettingsRecord;
extern ado::RecordsetPtr& m_pWebSites;
extern ado::RecordBindingPtr& gblPicUsersRS;
extern ado::RecordBindingPtr& gblPicSettingsR;
extern ado::RecordBindingPtr& gblPicWebSitesR;
extern UsersRow UserSet;
// Users has its index on UserName, through which SeekUserInSet seeks; set at start-up.
extern bool gblUsersIndexed;
extern SettingsRow SettingsRecord;
extern FreeSiteRow FreesitesRecord;

// Opens, validates and binds the three tables; false (logged) when the data are unusable.
// Start-up only.
bool ReadDataSetsFromDB();

// Reloads the settings row and, when the administration tools set UsersChanged, re-reads Users.
// Database errors are raised to the caller. Called under section 1.
void CountMonitoredUsers();

// Re-reads tblPages. Database errors are raised to the caller. Called under section 1.
void RefreshFreeSites();

// Closes and releases the three record sets. Shut-down only.
void TerminateDataSets();
