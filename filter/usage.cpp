// Extra minutes, history and the store's own settings, as the filter keeps them between reads.
#include "filter/usage.h"

#include <map>

#include "filter/diagnostic_log.h"
#include "filter/schedule.h"
#include "filter/user_db.h"
#include "platform/ado_admin.h"
#include "platform/text.h"
#include "store/schema.h"
#include "store/usage.h"

namespace {

store::OwnSettings g_settings;
std::map<std::string, long, std::less<>> g_extra_minutes;
bool g_own_tables = false;
store::HostIds
    g_host_ids;  // of the file open now  // the store's own tables exist in the file open now
// The first day of history to keep, while older runs remain to be deleted; -1 when none.
long long g_prune_before = -1;
// Runs deleted per slice: a day of a large school, in a few milliseconds.
constexpr long kPruneSlice = 20000;

bool OwnTablesExist() {
  for (const char* table :
       {"History", "HistoryHosts", "ExtraMinutes", "MinutrixSettings", "Audit"}) {
    if (!store::HasTable(m_pConnection, table)) return false;
  }
  return true;
}

}  // namespace

const std::string& OutsideHoursMessage() { return g_settings.outside_hours_message; }

void ReadUsageTables() noexcept {
  ReadScheduleTables();
  g_settings = store::OwnSettings();
  g_extra_minutes.clear();
  g_own_tables = false;
  g_host_ids.clear();
  try {
    g_own_tables = OwnTablesExist();
    g_settings = store::ReadOwnSettings(m_pConnection);
    g_extra_minutes = store::ReadExtraMinutes(m_pConnection);
  } catch (const ado::ComError& error) {
    ReportStoreError("[ReadUsageTables] Extra minutes and history settings not read", error);
  } catch (...) {
    DoMessageHandling("[ReadUsageTables] Extra minutes and history settings not read", 3);
  }
}

LONG AllowanceOfPeriod(const char* upperName, LONG maxInternetTime) {
  const LONG today = AllowanceOfToday(upperName, maxInternetTime);
  if (today == -1) return -1;
  long allowance = today;
  if (!g_extra_minutes.empty()) {
    const auto extra = g_extra_minutes.find(std::string_view(upperName));
    if (extra != g_extra_minutes.end()) allowance += extra->second;
  }
  if (allowance < 0) return 0;
  return allowance > 0x7fffffffL ? 0x7fffffff : static_cast<LONG>(allowance);
}

void RecordChargedMinutes(const std::string& upperName, std::time_t first, int count,
                          const std::string& host, bool free) {
  if (count <= 0 || g_settings.history_days == 0) return;
  if (!g_own_tables) {
    store::CreateOwnTables(m_pConnection);  // a database of an older build gains history now
    g_own_tables = true;
  }
  store::Minutes minutes;
  minutes.user = upperName;
  minutes.first = first;
  minutes.count = count;
  minutes.host = host;
  minutes.free = free;
  store::RecordMinutes(m_pConnection, minutes, g_settings, &g_host_ids);
}

void ForgetExtraMinutes() noexcept { g_extra_minutes.clear(); }

void PruneHistoryStep(std::time_t now, bool newDate) noexcept {
  try {
    // HistoryDays 0 keeps none: everything goes.
    if (newDate) g_prune_before = store::LocalDayNumber(now) - g_settings.history_days + 1;
    if (g_prune_before < 0 || !g_own_tables) return;
    const long deleted = store::PruneHistory(m_pConnection, g_prune_before, kPruneSlice);
    if (deleted < kPruneSlice) g_prune_before = -1;
    if (deleted > 0) DoMessageHandling("[PruneHistory] Runs deleted: %d", deleted, 0);
  } catch (const ado::ComError& error) {
    ReportStoreError("[PruneHistory] History not pruned, tried again at the next request", error);
  } catch (...) {
    DoMessageHandling("[PruneHistory] History not pruned", 3);
  }
}
