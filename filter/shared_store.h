// A store that several filters share, named by the registry value MinutrixStore: the counting
// periods kept in it rather than in this process, the row lock of a charge, and the answers given
// while it cannot be reached. Without MinutrixStore none of this is used. Everything here runs
// under the request decision's sections, like the record sets.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "filter/time_accounting.h"
#include "platform/ado.h"
#include "platform/win_types.h"
#include "store/store_location.h"

// Set at start-up from MinutrixStore (empty: the file beside the filter, nothing shared).
void SetSharedStore(const std::string& connection);
bool SharedStore() noexcept;
// `text` without the password of the shared store's connection text.
std::string HideStorePassword(std::string_view text);

// StoreDownPolicy: the host's own setting (environment MINUTRIX_STORE_DOWN_POLICY, which
// minutrix-squid-helper --store-down-policy sets) when given, else the registry value; refuse
// unless one of them says "allow".
store::StoreDownPolicy CurrentStoreDownPolicy() noexcept;

// ---- periods in the store ----

// Makes the period tables where missing. Raises ado::ComError.
void CreatePeriodTables();

// In the charge's transaction: locks the user's row, brings UserSet to what the store holds
// (reading Users again when another filter changed it since) and puts the user's period into
// TimesMap, or takes it out when the store has none. Returns the period as loaded; sets `found`
// false when the user is not in Users. Raises ado::ComError.
std::optional<UserTimesRecord> LoadSharedPeriod(const std::string& userName, bool& found);

// In the charge's transaction: writes UserSet's minutes into the user's row: through the record
// set, or by a statement of its own when the loaded rows lag behind the locked row (they then
// follow the store's change notice after the commit). Raises ado::ComError.
void ChargeUsersRow(const std::string& userName);

// In the charge's transaction: writes TimesMap's period of the user when it differs from
// `loaded`; a new period forgets the charged minutes of the ones before. Raises ado::ComError.
void SaveSharedPeriod(const std::string& userName, const std::optional<UserTimesRecord>& loaded);

// In the charge's transaction: claims `count` charged minutes of the user from `first`; raises
// ado::ComError (kErrorRowChanged) when one of them was charged already, so that the charge is
// rolled back rather than counted twice.
void ClaimChargedMinutes(const std::string& upperName, std::time_t first, int count);

// Around the charge's transaction: Begin notes that nothing is charged yet, a written charge
// (minutes or history) notes that one is. Before the commit, a transaction that charged nothing
// (a new period, a host or a free site noted) asks a database server not to wait for its disk:
// lost in a crash of the server, such a commit costs that note, never a confirmed minute.
// Raises ado::ComError.
void BeginSharedCharge() noexcept;
void NoteChargeWritten() noexcept;
void BeforeSharedCommit();

// In the reset's transaction: every period and its charged minutes end. Raises ado::ComError.
void ClearSharedPeriods();

// ---- outages ----

// A store error was met during the current request decision (set by the store error report).
void NoteStoreError(const ado::ComError& error) noexcept;
// Whether the store's error reports are held back: an outage is on, told once already.
bool StoreErrorsQuiet() noexcept;

// Around one request decision of a shared store: Begin clears the note of errors; End tells
// whether one was met, starting an outage (one log line, status 2) if none was on.
void BeginStoreDecision() noexcept;
bool StoreFailedInDecision() noexcept;
void StartOutage() noexcept;
// The store answered again (a reconnection or a charge committed): ends an outage (one log line,
// status 1).
void EndOutage() noexcept;
bool OutageOn() noexcept;
// During an outage, whether this decision should try to reach the store again (once a second).
bool ReconnectDue() noexcept;
// The answer to a request while the store cannot be reached, as StoreDownPolicy says.
DWORD StoreDownAnswer() noexcept;
