// The tables of UserTimesDB.mdb, in one place for the filter, the Squid helper and minutrix-db:
// the product's four, whose columns are fixed (record sets bind them by ordinal), and the tables
// of its own that the store keeps beside them (history, audit, extra minutes, its settings).
#pragma once

#include <span>

#include "platform/ado.h"
#include "store/dialect.h"

namespace store {

inline constexpr const char* kUsersTable = "Users";
inline constexpr const char* kSettingsTable = "FilterSettings";
inline constexpr const char* kFreeSitesTable = "tblPages";
// The filter's last reset decision, local time "YYYY-MM-DD HH:MM:SS".
inline constexpr const char* kResetMarkerTable = "ResetMarker";

// Column ordinals, as the record sets bind them.
namespace users_column {
inline constexpr int kUserName = 1;
inline constexpr int kMaxInternetTime = 2;
inline constexpr int kCurrentInternetTime = 3;
}  // namespace users_column
namespace settings_column {
inline constexpr int kResetDaily = 2;
inline constexpr int kResetWeekly = 3;
inline constexpr int kResetMonthly = 4;
inline constexpr int kShowStartMessage = 5;
inline constexpr int kDeniedMessage = 6;
inline constexpr int kUsersChanged = 7;
inline constexpr int kIdleGapMinutes = 8;
inline constexpr int kCurrentUserCommand = 9;
inline constexpr int kServerPort = 10;
inline constexpr int kWarningMode = 13;
}  // namespace settings_column
namespace free_sites_column {
inline constexpr int kPageName = 2;
}  // namespace free_sites_column

// The row the administration tools leave in an empty tblPages; it never makes anything free.
inline constexpr const char* kFreeSitesPlaceholder = "Enter free websites here!";

// The statements that make the product's four tables of a new database, in order.
std::span<const char* const> ProductTables();

// The statements that make the store's own tables where they are missing (IF NOT EXISTS).
std::span<const char* const> OwnTables();

// The tables of the counting periods that several filters share (MinutrixStore set): one row
// per user's open period, and one row per charged minute of it, whose key lets no minute be
// charged twice. Made where missing (IF NOT EXISTS) by a filter that shares its store.
inline constexpr const char* kPeriodsTable = "CountingPeriods";
inline constexpr const char* kChargedMinutesTable = "ChargedMinutes";
std::span<const char* const> SharedPeriodTables();

// Makes the store's own tables that are missing, in the caller's transaction when one is open.
// Nothing on PostgreSQL, where `minutrix-db create` makes every table with the database's roles
// (the filter's may not make tables). Raises ado::ComError on failure.
void CreateOwnTables(const ado::ConnectionPtr& connection);

// Makes ResetMarker where it is missing (a database of a build before it), as CreateOwnTables.
void CreateResetMarkerTable(const ado::ConnectionPtr& connection);

}  // namespace store
