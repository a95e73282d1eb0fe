// The reset marker: the time of the filter's last reset decision, kept in the database (table
// ResetMarker) so that resets survive restarts and are made once whichever process decides.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "store/schema.h"

// Time of the last reset decision, as kept in the database; the library's load time until
// ReadResetMarker has read it.
extern std::time_t lastReset;

// The table that keeps the last reset decision across restarts: one row, LastReset holding the
// server's local time as "YYYY-MM-DD HH:MM:SS".
inline constexpr const char* kResetMarkerTable = store::kResetMarkerTable;

// Reads lastReset from the database at start-up. A database without the marker (made before it
// existed) gets one holding the load time; a marker that cannot be read or written is logged and
// the load time is used. Never raises.
void ReadResetMarker();

// Writes the marker row (making the table first in a database older than it), as part of the
// caller's transaction when one is open. Raises ado::ComError on failure.
void WriteMarker(std::time_t t);

// The marker's text of a time, and back; nullopt for a text that is not such a time.
std::string MarkerText(std::time_t t);
std::optional<std::time_t> ParseMarker(const std::string& text);
