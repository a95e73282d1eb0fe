// Inside of the database layer: the same connection and record sets over a PostgreSQL server
// through libpq. Only platform/ado*.cpp and platform/recordset.cpp include this.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado_sqlite.h"

namespace ado {

inline constexpr const char* kPgSource = "PostgreSQL";
// The channel that the store's triggers notify with the changed table's name.
inline constexpr const char* kPgChannel = "minutrix_changes";
inline constexpr long long kPgWriteLock = kPostgreSqlWriteLock;

// A value sent to the server: NULL, an integer (sent as int8) or a text (its type left to the
// server to infer from where it is used).
struct PgValue {
  enum class Kind { kNull, kInteger, kText } kind = Kind::kNull;
  std::string text;
  static PgValue Integer(std::int64_t value) { return {Kind::kInteger, std::to_string(value)}; }
  static PgValue Text(std::string value) { return {Kind::kText, std::move(value)}; }
};

// Owns a result.
class PgResult {
 public:
  explicit PgResult(PGresult* handle = nullptr) : handle_(handle) {}
  ~PgResult() { PQclear(handle_); }
  PgResult(PgResult&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  PgResult& operator=(PgResult&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  PGresult* get() const noexcept { return handle_; }
  int Rows() const { return PQntuples(handle_); }
  int Columns() const { return PQnfields(handle_); }
  bool IsNull(int row, int column) const { return PQgetisnull(handle_, row, column) != 0; }
  std::string_view Text(int row, int column) const {
    return {PQgetvalue(handle_, row, column),
            static_cast<std::size_t>(PQgetlength(handle_, row, column))};
  }
  // Whether the column holds integers (or booleans, read as 0 and 1).
  bool IntegerColumn(int column) const;
  // Whether the value is a whole number: of an integer column, or a numeric without a fraction
  // (a sum of integers).
  bool IsWhole(int row, int column) const;
  // The value as an integer: integers and booleans as such, a text as far as it is a number.
  std::int64_t Integer(int row, int column) const;

 private:
  PGresult* handle_;
};

// Connects to the server the connection string names; raises ComError, leaving the connection
// closed, when it cannot. Never waits more than about two seconds for the server.
void PgOpen(ConnectionImpl& c, const std::string& connection_string);
void PgClose(ConnectionImpl& c) noexcept;
// Reads what the server has sent, without asking it anything (no round trip) and without
// waiting: counts the change notices of other connections by table. Looks at the socket at most
// once in a short while unless `now`. False when the connection is broken.
bool PgPoll(ConnectionImpl& c, bool now) noexcept;
// Runs `sql` (SQLite's form: ?N or ? parameters, "Quoted" identifiers compared without case)
// with `values`, prepared once per connection; raises ComError (what was being done, and why).
PgResult PgRun(ConnectionImpl& c, std::string_view sql, const std::vector<PgValue>& values,
               const std::string& doing);
// PgRun for queries of many rows: calls `row` with each row as it comes (a result of one row),
// holding no more than one in memory. An exception of `row` stops the query and is passed on.
// Returns the number of rows; raises ComError.
long PgRunRows(ConnectionImpl& c, std::string_view sql, const std::vector<PgValue>& values,
               const std::string& doing, const std::function<void(const PgResult&)>& row);
// Sends `sql` (several statements may follow each other) and returns its result as PQexec does,
// whatever its status; raises ComError when the connection is closed or the server does not
// answer within the command timeout and a second (the connection is then given up).
PgResult PgSend(ConnectionImpl& c, const std::string& sql, const std::string& doing);
// Runs a command without parameters, unprepared (BEGIN, SET, LISTEN); raises ComError.
PgResult PgCommand(ConnectionImpl& c, const std::string& sql, const std::string& doing);
// Records and raises the error of `result` (or of the connection when null).
[[noreturn]] void PgRaise(ConnectionImpl& c, const PGresult* result, const std::string& doing);
// SQLite's statement text in PostgreSQL's form: ?N becomes $N, ? the next number, and a quoted
// identifier lower case, as unquoted names are folded (SQLite's names ignore case).
std::string PgTranslate(std::string_view sql);
// Sets the server's statement timeout to the connection's command timeout.
void PgApplyTimeout(ConnectionImpl& c);

}  // namespace ado
