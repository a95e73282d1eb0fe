// The statements whose SQLite form PostgreSQL does not take, each in one place: the store, the
// filter and the tools send everything else to both engines as it is (the database layer turns
// ?N into $N). Which form goes is decided by the connection.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ado.h"

namespace store {

// Whether the connection is one to a PostgreSQL server.
bool IsPostgreSql(const ado::ConnectionPtr& connection);

// Whether the database has the table `name` (SQLite: exact name; PostgreSQL: the name folded to
// lower case, as the store makes its tables). Raises ado::ComError on failure.
bool HasTable(const ado::ConnectionPtr& connection, const char* name);

// HasTable for a name in any case (SQLite: a database of another tool may spell it otherwise).
bool HasTableAnyCase(const ado::ConnectionPtr& connection, const char* name);

// Starts a transaction that holds the write side from its start (SQLite's BEGIN IMMEDIATE; on
// PostgreSQL the store's write lock, which every writer takes first). End it with
// ado::Execute(connection, "COMMIT") or "ROLLBACK". Raises ado::ComError on failure.
void BeginWrite(const ado::ConnectionPtr& connection);

// Rolls back the open transaction on the way out of a failure: a failing rollback (the
// connection lost) changes nothing, as nothing was committed, and must not hide the first error.
void RollBackQuietly(const ado::ConnectionPtr& connection);

// Adds ?2 minutes to a user's (?1) extra minutes, the stored value and the result both kept
// within ?3 and ?4.
const char* AddExtraMinutesSql(const ado::ConnectionPtr& connection);

}  // namespace store
