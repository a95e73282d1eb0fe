// What the administration tools need of the database layer beyond the filter's operations: making a
// new database (ADOX Catalog.Create) and parameterised commands (Connection.Execute).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/ado.h"

namespace ado {

// A command parameter: an integer or a text, bound to ?1, ?2, ... in order. Values never become
// part of the SQL text. On PostgreSQL the same statements run with ?N as $N and "Quoted" names
// folded to lower case (SQLite's names ignore case; the store makes its tables unquoted).
using Parameter = std::variant<std::int64_t, std::string>;

// Makes a new database file at the connection string's Data Source, in WAL mode. Raises ComError
// when the file exists already or cannot be made, and for a PostgreSQL connection string (its
// server makes databases).
void CreateDatabase(const std::string& connection_string);

// Runs one statement on an open connection; returns the number of rows it changed.
long Execute(const ConnectionPtr& connection, const std::string& sql,
             const std::vector<Parameter>& parameters = {});

// The first column of the first row of a query, or `fallback` when it gives no row.
std::int64_t QueryInteger(const ConnectionPtr& connection, const std::string& sql,
                          const std::vector<Parameter>& parameters, std::int64_t fallback);

// The first column of the first row of a query as text, or `fallback` when it gives no row.
std::string QueryText(const ConnectionPtr& connection, const std::string& sql,
                      const std::vector<Parameter>& parameters, const std::string& fallback);

// Calls `row` with the columns of each row of a query, integers as integers and everything else
// as text (NULL as empty text); returns the number of rows. Raises ComError on failure; an
// exception thrown by `row` ends the query and is passed on.
long QueryRows(const ConnectionPtr& connection, const std::string& sql,
               const std::vector<Parameter>& parameters,
               const std::function<void(const std::vector<Parameter>&)>& row);

// One row of a query being scanned: its columns read in place, without copies.
class RowView {
 public:
  // The column as an integer (a text converts as SQLite converts it; NULL is 0).
  std::int64_t Integer(int column) const;
  // Whether the column holds an integer (not a text, a real or NULL).
  bool IsInteger(int column) const;
  // The column as text (NULL is empty); valid until the scan moves on.
  std::string_view Text(int column) const;

 private:
  friend long ScanRows(const ConnectionPtr&, const std::string&, const std::vector<Parameter>&,
                       const std::function<void(const RowView&)>&);
  explicit RowView(const void* statement, int row = -1) : statement_(statement), row_(row) {}
  const void* statement_;
  int row_;  // PostgreSQL: the row of the result that statement_ points to; SQLite: -1
};

// QueryRows for the scans of many rows (reports over the history): calls `row` with each row
// read in place (on PostgreSQL, row by row as the server sends them, never all in memory). The
// connection stays busy while the query runs, so `row` must not use it, nor wait for another
// thread that uses it. Returns the number of rows; raises ComError on
// failure; an exception thrown by `row` ends the query and is passed on.
long ScanRows(const ConnectionPtr& connection, const std::string& sql,
              const std::vector<Parameter>& parameters,
              const std::function<void(const RowView&)>& row);

// `name` as a double-quoted SQL identifier, for column names chosen from a fixed list.
std::string QuoteIdentifier(const std::string& name);

}  // namespace ado
