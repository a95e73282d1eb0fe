// Inside of the database layer: the connection state shared by a connection and the record sets
// opened on it, SQLite's or PostgreSQL's (see ado_pg.h). Only platform/ado*.cpp and
// platform/recordset*.cpp include this.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ado.h"

struct pg_conn;

namespace ado {

inline constexpr const char* kEngineSource = "SQLite";
inline constexpr const char* kConnectionSource = "ADODB.Connection";
inline constexpr const char* kRecordsetSource = "ADODB.Recordset";
inline constexpr int kDefaultBusyTimeoutMs = 5000;

struct ConnectionImpl {
  ~ConnectionImpl();

  sqlite3* db = nullptr;
  // Set while the connection is open, whichever engine: the inline scans test this one flag.
  bool is_open = false;
  // PostgreSQL (the connection string names a server, not a file): the connection, while open.
  bool postgres = false;
  pg_conn* pg = nullptr;
  int pg_backend = 0;  // the server process of this connection, whose own notices are skipped
  // Change notices per table (upper-case name), counted as they arrive; map nodes stay put.
  std::map<std::string, std::uint64_t> table_notices;
  std::chrono::steady_clock::time_point polled{};  // the latest look at the socket
  // Statements prepared on the server, by SQL and parameter types: their names.
  std::map<std::string, std::string, std::less<>> pg_statements;
  std::string data_source;        // as the connection string names it, for messages
  std::string connection_string;  // for Reopen
  std::string host_path;          // the file opened, and its identity then
  dev_t device = 0;
  ino_t inode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  mode_t mode = 0;
  bool seen = false;                              // the file was there at the latest try to open it
  std::chrono::steady_clock::time_point tried{};  // the latest try to open it
  bool in_transaction = false;
  // Moves when the file is opened again: record sets then read their whole tables anew.
  std::uint64_t generation = 0;
  int busy_timeout_ms = kDefaultBusyTimeoutMs;
  std::vector<ConnectionError> errors;
  // Writes made through this connection per table; PRAGMA data_version misses them.
  std::map<std::string, std::uint64_t> table_writes;
  sqlite3_stmt* data_version = nullptr;
  // Commands run again and again (a charge and its history) are prepared once per open file;
  // a statement in use is taken out, so a command run inside another's row gets its own.
  std::map<std::string, sqlite3_stmt*, std::less<>> statements;
  // The database file as SQLite opened it, when it is in WAL mode (else null): its wal-index
  // header, which every commit by any connection rewrites, tells cheaply whether anything changed.
  sqlite3_file* main_file = nullptr;

  // Records the error as the connection's error list and raises it.
  [[noreturn]] void Raise(DWORD code, const std::string& source, const std::string& description);
  // Runs a statement without parameters or rows (BEGIN, COMMIT) from the statement cache;
  // SQLite's result code.
  int RunCached(const char* sql) noexcept;
  // Raises the engine's error for `rc`, prefixed with what was being done.
  [[noreturn]] void RaiseEngine(int rc, const std::string& doing);
  // The file's change counter for other connections; raises on failure.
  std::int64_t DataVersion();
  // The wal-index header, read without a file lock or system call as SQLite's own readers first
  // read it; false when there is none or a writer is rewriting it (then ask DataVersion).
  using WalHeader = std::array<unsigned char, 48>;
  bool ReadWalHeader(WalHeader& header) noexcept;
  // The first region of the wal-index as SQLite maps it for this connection, or null. Only under
  // the connection's mutex: SQLite unmaps it when the log is closed.
  const unsigned char* WalIndex() noexcept;
  // Closes the file or the server connection.
  void CloseDb() noexcept;
  // Opens `connection_string`'s Data Source; raises on failure, leaving db null.
  void OpenFile(const std::string& connection_string);
  // Makes every record set on this connection read its table again at its next scan.
  void ForgetCachedRows() noexcept;
};

// Double-quoted SQL identifier.
std::string QuoteIdentifier(const std::string& name);

// Prepares `sql`, raising through `connection` on failure. The caller finalizes.
sqlite3_stmt* Prepare(ConnectionImpl& connection, const std::string& sql);

}  // namespace ado
