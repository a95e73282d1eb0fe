// Counting periods kept in a shared store, and the filter's outages of that store.
#include "filter/shared_store.h"

#include <chrono>
#include <variant>

#include "filter/data_sets.h"
#include "filter/diagnostic_log.h"
#include "filter/lookups.h"
#include "filter/registry_settings.h"
#include "filter/status_file.h"
#include "filter/user_db.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/isapi.h"
#include "platform/never_destroyed.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "store/schema.h"

namespace {

// Never destroyed: the filter object's destructor may still log through them.
std::string& g_connection = platform::NeverDestroyed<std::string>();
std::string& Connection() { return g_connection; }
bool g_shared = false;
bool g_server = false;  // a database server: rows are locked with FOR UPDATE

// Outage state, under section 1.
bool g_outage = false;
std::time_t g_outage_since = 0;
std::chrono::steady_clock::time_point g_last_try{};
bool g_error_in_decision = false;
std::string& g_first_error = platform::NeverDestroyed<std::string>();
std::string& FirstError() { return g_first_error; }

constexpr auto kReconnectEvery = std::chrono::seconds(1);

// The loaded Users rows lag behind the row the charge locked (see LoadSharedPeriod).
bool g_row_behind = false;
// The charge's transaction wrote a charge (see BeginSharedCharge).
bool g_charge_written = false;

std::int64_t AsInteger(const ado::Parameter& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return *number;
  try {
    return std::stoll(std::get<std::string>(value));
  } catch (...) {
    return 0;
  }
}

std::string AsText(const ado::Parameter& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  return std::to_string(std::get<std::int64_t>(value));
}

// The row lock of a charge: SQLite's write transaction holds the whole file already.
std::string Locked(const std::string& query) { return g_server ? query + " FOR UPDATE" : query; }

}  // namespace

void SetSharedStore(const std::string& connection) {
  Connection() = connection;
  g_shared = !connection.empty();
  g_server = store::IsServerStore(connection);
}

bool SharedStore() noexcept { return g_shared; }

std::string HideStorePassword(std::string_view text) {
  if (!g_shared) return std::string(text);
  return store::WithoutPassword(text, Connection());
}

store::StoreDownPolicy CurrentStoreDownPolicy() noexcept {
  try {
    char value[64] = {};
    if (GetEnvironmentVariableA("MINUTRIX_STORE_DOWN_POLICY", value, sizeof value) > 0 &&
        value[0] != '\0') {
      return store::ParseStoreDownPolicy(value);
    }
    return store::ParseStoreDownPolicy(GetRegValue(kMinutrixKey, store::kStoreDownPolicyValue));
  } catch (...) {
    return store::StoreDownPolicy::kRefuse;
  }
}

// ---- periods in the store ----

namespace {

bool PeriodTablesThere() {
  try {
    ado::QueryInteger(m_pConnection, "SELECT count(*) FROM CountingPeriods WHERE UserName = ''", {},
                      0);
    ado::QueryInteger(m_pConnection, "SELECT count(*) FROM ChargedMinutes WHERE UserName = ''", {},
                      0);
    return true;
  } catch (const ado::ComError&) {
    return false;
  }
}

}  // namespace

void CreatePeriodTables() {
  // A store made for several filters has them already, and its filter role may not create.
  if (PeriodTablesThere()) return;
  for (const char* statement : store::SharedPeriodTables()) {
    try {
      ado::Execute(m_pConnection, statement);
    } catch (const ado::ComError&) {
      // Another filter that starts at the same moment made it first: a server refuses the second
      // of two such statements once the first is committed, IF NOT EXISTS or not. Once more, it
      // finds the table.
      ado::Execute(m_pConnection, statement);
    }
  }
}

std::optional<UserTimesRecord> LoadSharedPeriod(const std::string& userName, bool& found) {
  const std::string upper = platform::UpperAscii(userName);
  bool in_store = false;
  LONG max = 0;
  LONG current = 0;
  ado::QueryRows(
      m_pConnection,
      Locked("SELECT MaxInternetTime, CurrentInternetTime FROM Users WHERE UserName = ?1"), {upper},
      [&](const std::vector<ado::Parameter>& row) {
        in_store = true;
        max = static_cast<LONG>(AsInteger(row[0]));
        current = static_cast<LONG>(AsInteger(row[1]));
      });
  SeekUserInSet(userName);
  found = in_store && !m_pRstUsers->IsEOF();
  if (!found) return std::nullopt;
  g_row_behind = false;
  if (UserSet.MaxInternetTime != max || UserSet.CurrentInternetTime != current) {
    // Another filter's charge that the loaded rows do not show yet.
    m_pRstUsers->Requery(ado::adOptionUnspecified);
    gblPicUsersRS->BindToRecordset(&UserSet);
    SeekUserInSet(userName);
    if (m_pRstUsers->IsEOF()) {
      found = false;
      return std::nullopt;
    }
    if (UserSet.MaxInternetTime != max || UserSet.CurrentInternetTime != current) {
      // A server tells its changes only between transactions: the charge goes on from the row
      // as locked, and writes it by itself (ChargeUsersRow).
      g_row_behind = true;
      UserSet.MaxInternetTime = max;
      UserSet.CurrentInternetTime = current;
    }
  }

  std::optional<UserTimesRecord> loaded;
  ado::QueryRows(m_pConnection,
                 "SELECT FirstRequest, LastRequest, OldMinutes, PassedMinutes, FreeMinutes, "
                 "FreeSite, LastHost FROM CountingPeriods WHERE UserName = ?1",
                 {upper}, [&](const std::vector<ado::Parameter>& row) {
                   UserTimesRecord period;
                   period.ctimeFirstRequest = static_cast<std::time_t>(AsInteger(row[0]));
                   period.ctimeLastRequest = static_cast<std::time_t>(AsInteger(row[1]));
                   period.iOldMinutes = static_cast<int>(AsInteger(row[2]));
                   period.dwPassedMinutes = static_cast<int>(AsInteger(row[3]));
                   period.iFreeMinutes = static_cast<int>(AsInteger(row[4]));
                   period.bFreeSite = AsInteger(row[5]) != 0;
                   period.strLastHost = AsText(row[6]);
                   loaded = period;
                 });
  if (!loaded) {
    TimesMap.erase(userName);
    return std::nullopt;
  }
  // The one warning of warning mode is this filter's own: kept while the period is the same.
  const auto local = TimesMap.find(userName);
  if (local != TimesMap.end() && local->second.ctimeFirstRequest == loaded->ctimeFirstRequest) {
    loaded->bWarned = local->second.bWarned;
  }
  TimesMap[userName] = *loaded;
  return loaded;
}

void ChargeUsersRow(const std::string& userName) {
  if (!g_row_behind) {
    gblPicUsersRS->Update(&UserSet);
    return;
  }
  ado::Execute(m_pConnection, "UPDATE Users SET CurrentInternetTime = ?1 WHERE UserName = ?2",
               {std::int64_t{UserSet.CurrentInternetTime}, platform::UpperAscii(userName)});
}

void SaveSharedPeriod(const std::string& userName, const std::optional<UserTimesRecord>& loaded) {
  const auto entry = TimesMap.find(userName);
  if (entry == TimesMap.end()) return;
  const UserTimesRecord& period = entry->second;
  if (loaded && loaded->ctimeFirstRequest == period.ctimeFirstRequest &&
      loaded->ctimeLastRequest == period.ctimeLastRequest &&
      loaded->iOldMinutes == period.iOldMinutes &&
      loaded->dwPassedMinutes == period.dwPassedMinutes &&
      loaded->iFreeMinutes == period.iFreeMinutes && loaded->bFreeSite == period.bFreeSite &&
      loaded->strLastHost == period.strLastHost) {
    return;
  }
  const std::string upper = platform::UpperAscii(userName);
  ado::Execute(
      m_pConnection,
      "INSERT INTO CountingPeriods (UserName, FirstRequest, LastRequest, OldMinutes, "
      "PassedMinutes, FreeMinutes, FreeSite, LastHost) VALUES (?1, ?2, ?3, ?4, ?5, ?6, "
      "?7, ?8) ON CONFLICT (UserName) DO UPDATE SET FirstRequest = excluded.FirstRequest, "
      "LastRequest = excluded.LastRequest, OldMinutes = excluded.OldMinutes, "
      "PassedMinutes = excluded.PassedMinutes, FreeMinutes = excluded.FreeMinutes, "
      "FreeSite = excluded.FreeSite, LastHost = excluded.LastHost",
      {upper, static_cast<std::int64_t>(period.ctimeFirstRequest),
       static_cast<std::int64_t>(period.ctimeLastRequest), std::int64_t{period.iOldMinutes},
       std::int64_t{period.dwPassedMinutes}, std::int64_t{period.iFreeMinutes},
       std::int64_t{period.bFreeSite ? 1 : 0}, period.strLastHost});
  if (!loaded || loaded->ctimeFirstRequest != period.ctimeFirstRequest) {
    ado::Execute(m_pConnection, "DELETE FROM ChargedMinutes WHERE UserName = ?1 AND Minute < ?2",
                 {upper, static_cast<std::int64_t>(period.ctimeFirstRequest)});
  }
}

void ClaimChargedMinutes(const std::string& upperName, std::time_t first, int count) {
  for (int i = 0; i < count; ++i) {
    const std::int64_t minute = static_cast<std::int64_t>(first) + 60 * std::int64_t{i};
    if (ado::Execute(m_pConnection,
                     "INSERT INTO ChargedMinutes (UserName, Minute) VALUES (?1, ?2) "
                     "ON CONFLICT DO NOTHING",
                     {upperName, minute}) == 0) {
      throw ado::ComError(ado::kErrorRowChanged, "Minutrix",
                          "A minute of " + upperName + " was charged already by another filter.");
    }
  }
}

void BeginSharedCharge() noexcept { g_charge_written = false; }

void NoteChargeWritten() noexcept { g_charge_written = true; }

void BeforeSharedCommit() {
  if (!g_server || g_charge_written) return;
  // For this transaction only; a SELECT, since every statement is prepared.
  ado::QueryText(m_pConnection, "SELECT set_config('synchronous_commit', 'off', true)", {}, "");
}

void ClearSharedPeriods() {
  ado::Execute(m_pConnection, "DELETE FROM CountingPeriods");
  ado::Execute(m_pConnection, "DELETE FROM ChargedMinutes");
}

// ---- outages ----

void NoteStoreError(const ado::ComError& error) noexcept {
  if (!g_shared) return;
  g_error_in_decision = true;
  try {
    if (FirstError().empty()) FirstError() = error.Description();
  } catch (...) {
    // Only the text of the log line is lost.
  }
}

bool StoreErrorsQuiet() noexcept { return g_shared && g_outage; }

void BeginStoreDecision() noexcept {
  g_error_in_decision = false;
  if (!g_outage) FirstError().clear();
}

bool StoreFailedInDecision() noexcept { return g_error_in_decision; }

void StartOutage() noexcept {
  g_last_try = std::chrono::steady_clock::now();
  if (g_outage) return;
  g_outage = true;
  g_outage_since = platform::Now();
  const bool allow = CurrentStoreDownPolicy() == store::StoreDownPolicy::kAllow;
  try {
    DoMessageHandling("[StoreOutage] The store cannot be reached (" +
                          HideStorePassword(FirstError().empty() ? "no answer" : FirstError()) +
                          "): requests of users are " + (allow ? "let through" : "refused") +
                          " (StoreDownPolicy) until it answers again",
                      3);
  } catch (...) {
    DoMessageHandling("[StoreOutage] The store cannot be reached", 3);
  }
  if (!WriteStatus(2)) DoMessageHandling("[StoreOutage] Error writing the status", 0);
}

void EndOutage() noexcept {
  if (!g_outage) return;
  g_outage = false;
  FirstError().clear();
  DoMessageHandling("[StoreOutage] The store answers again after %d s",
                    static_cast<long long>(platform::Now() - g_outage_since), 2);
  if (!WriteStatus(1)) DoMessageHandling("[StoreOutage] Error writing the status", 0);
}

bool OutageOn() noexcept { return g_outage; }

bool ReconnectDue() noexcept {
  const auto now = std::chrono::steady_clock::now();
  if (now - g_last_try < kReconnectEvery) return false;
  g_last_try = now;
  return true;
}

DWORD StoreDownAnswer() noexcept {
  return CurrentStoreDownPolicy() == store::StoreDownPolicy::kAllow
             ? SF_STATUS_REQ_NEXT_NOTIFICATION
             : SF_STATUS_REQ_ERROR;
}
