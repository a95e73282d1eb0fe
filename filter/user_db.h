// The filter's one database connection to "UserTimesDB\UserTimesDB.mdb" beside the filter library,
// and the store error report that every store operation writes when the database layer raises.
#pragma once

#include <string>

#include "platform/ado.h"

// Empty until InitializeDBConnection runs; the record sets use it as their active connection.
extern ado::ConnectionPtr& m_pConnection;

// Opens the database beside the module "Minutrix.dll" (or beside the host program when no such
// module is loaded). True when the connection is open; failures are logged, never raised.
// Start-up only: takes no lock.
bool InitializeDBConnection();

// The connection string for the database in `library_directory` (a Windows directory ending in
// a backslash).
std::string BuildConnectionString(const std::string& library_directory);

// Steps 3 to 7 of InitializeDBConnection with a given connection string.
bool OpenDBConnection(const std::string& connection_string);

// Closes and releases the connection. Shut-down only.
void TerminateUserDB();

// Writes the connection's error list, each error twice; nothing without a connection.
void PrintConnectionError(const ado::ConnectionPtr& connection);
// Writes the six lines of one raised database error.
void PrintComError(const ado::ComError& error);

// The store error report: `own_line` (severity 3) when not empty, then both reports above.
void ReportStoreError(const std::string& own_line, const ado::ComError& error);
