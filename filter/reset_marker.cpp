// The reset marker's row: read at start-up and after a reopen, written with each reset decision.
#include "filter/reset_marker.h"

#include <chrono>
#include <cstdio>

#include "filter/diagnostic_log.h"
#include "filter/user_db.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"

std::time_t lastReset = platform::Now();

namespace {

// Start-up does not wait long for a locked file: the next reset decision writes the marker.
constexpr int kMarkerWaitMs = 200;

}  // namespace

std::string MarkerText(std::time_t t) {
  const std::tm tm = platform::LocalTime(t);
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return std::string(text, n);
}

std::optional<std::time_t> ParseMarker(const std::string& text) {
  std::tm tm{};
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail) != 6) {
    return std::nullopt;
  }
  if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 60) {
    return std::nullopt;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

void WriteMarker(std::time_t t) {
  store::CreateResetMarkerTable(m_pConnection);
  const std::string text = MarkerText(t);
  if (ado::Execute(m_pConnection,
                   std::string("UPDATE ") + kResetMarkerTable + " SET LastReset = ?1",
                   {text}) == 0) {
    ado::Execute(m_pConnection,
                 std::string("INSERT INTO ") + kResetMarkerTable + " (LastReset) VALUES (?1)",
                 {text});
  }
}

void ReadResetMarker() {
  if (!m_pConnection) return;
  const std::time_t loaded = lastReset;
  try {
    const std::string text = ado::QueryText(
        m_pConnection, std::string("SELECT LastReset FROM ") + kResetMarkerTable + " LIMIT 1", {},
        "");
    if (const auto marker = ParseMarker(text)) {
      lastReset = *marker;
      DoMessageHandling("[ReadResetMarker] Last reset decision: %s", text, 0);
      return;
    }
    // No row yet (a new database) is normal; a row that is not a time is worth a line.
    if (!text.empty()) {
      DoMessageHandling("[ReadResetMarker] Unreadable marker '%s', using the load time", text, 2);
    }
  } catch (const ado::ComError&) {
    // A database made before the marker existed: it gets one below.
  }
  // Start-up does not wait long for a locked file: the next reset decision writes the marker.
  const auto timeout = m_pConnection->CommandTimeout();
  m_pConnection->SetCommandTimeout(std::chrono::milliseconds(kMarkerWaitMs));
  try {
    WriteMarker(loaded);
    DoMessageHandling("[ReadResetMarker] Marker set to the load time", 0);
  } catch (const ado::ComError& error) {
    ReportStoreError("[ReadResetMarker] The marker could not be written, using the load time",
                     error);
  }
  m_pConnection->SetCommandTimeout(timeout);
}
