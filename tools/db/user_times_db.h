// The administration of UserTimesDB.mdb by path: the database made, opened and listed, and the
// store's changes and reports run on it with errors that name the path as it was given. Every
// change is one transaction; a refused change leaves the file as it was.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "platform/ado.h"
#include "store/admin.h"

namespace user_times_db {

// A refused request or a failed database operation, with a message for the administrator.
using DbError = store::Refusal;

// Makes a new database at `path` (host path) with the one settings row, empty tables and the
// audit row of its making; with `sample_users`, also two users for tests and the demo. A
// PostgreSQL connection string gets the store's tables and roles where they are missing, and the
// settings row (and sample users) when it has none yet: running it again changes nothing. Returns
// the line that says what was made.
std::string Create(const std::string& path, bool sample_users, const store::Actor& actor);

// `path` as it may be printed: a connection string without its password.
std::string Shown(const std::string& path);
// Opens the store at `path` (a file or a connection string), checked to hold the product's
// tables; DbError ("cannot open PATH: ...") otherwise.
ado::ConnectionPtr OpenStore(const std::string& path);
// Makes a database file at `path` with every table of the store and no rows.
void MakeEmptyStore(const std::string& path);

// The users with their allowance, minutes used and left, and extra minutes of this period.
void ListUsers(const std::string& path, std::ostream& out);
// Lists the rows on `out`; warns on `warnings` when a plain row also matches query strings.
void ListSites(const std::string& path, std::ostream& out, std::ostream& warnings);
void ShowSettings(const std::string& path, std::ostream& out);
// The groups with their members' count and schedule, then everyone's schedule and users' own.
void ListGroups(const std::string& path, std::ostream& out);

// Opens the database and runs one of the store's changes on it. DbError for a refusal, for a
// file that is not a user-times database and for a failure ("cannot change PATH: ...").
store::ChangeResult Change(
    const std::string& path,
    const std::function<store::ChangeResult(const ado::ConnectionPtr&)>& change);

// The host file that `path` (a host path or a Windows path of the machine root) names; empty when
// a Windows path maps to no file, and for a PostgreSQL connection string.
std::filesystem::path HostFile(const std::string& path);

// Opens the database and runs `read` on it; failures as DbError ("cannot read PATH: ...").
void Read(const std::string& path, const std::function<void(const ado::ConnectionPtr&)>& read);

}  // namespace user_times_db
