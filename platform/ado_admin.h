// What the administration tools need of the database layer beyond the filter's operations: making a
// new database (ADOX Catalog.Create) and parameterised commands (Connection.Execute).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ado.h"

namespace ado {

// A command parameter: an integer or a text, bound to ?1, ?2, ... in order. Values never become
// part of the SQL text.
using Parameter = std::variant<std::int64_t, std::string>;

// Makes a new database file at the connection string's Data Source, in WAL mode. Raises ComError
// when the file exists already or cannot be made.
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

// `name` as a double-quoted SQL identifier, for column names chosen from a fixed list.
std::string QuoteIdentifier(const std::string& name);

}  // namespace ado
