// The store on a PostgreSQL server: the same tables as a SQLite file, each change notified by
// table name, and the database's two roles. Made by `minutrix-db create postgresql://...`.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/ado.h"

namespace store {

// A table of the store on either engine: its name as SQLite spells it, its columns in order (as
// both engines have them; the hidden `rowid` that orders a product table as SQLite's rowid does is
// not listed), the statement that makes it on PostgreSQL, an order both engines give the same
// rows in, and the column whose numbers PostgreSQL draws from a sequence (null when none).
// `rowid` set: its rowid orders the table and is copied with the rows.
struct PostgreSqlTable {
  const char* name;
  std::vector<const char*> columns;
  const char* create;
  const char* order;
  const char* sequence;
  bool rowid;
};
std::span<const PostgreSqlTable> PostgreSqlTables();

// The role of the proxies' filters: reads everything; charges (a user's used minutes, history,
// the reset marker, the reset's emptying of extra minutes), never allowances or users.
inline constexpr const char* kFilterRole = "minutrix_filter";
// The administrators' role: everything.
inline constexpr const char* kAdminRole = "minutrix_admin";

// Makes the store's tables, their change notices and the two roles in the database open on
// `connection` where they are missing, in one transaction; leaves what is there. Returns what it
// made, one line each (empty: all was there). Raises ado::ComError on failure, and with a clear
// text, changing nothing, when the database holds tables of another kind or of another shape.
std::vector<std::string> CreatePostgreSqlStore(const ado::ConnectionPtr& connection);

}  // namespace store
