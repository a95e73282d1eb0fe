// The database layer's errors and connection over SQLite: a Windows "Data Source" mapped onto the
// machine root, WAL journal and full sync so each committed update is on disk when Update returns.
#include "platform/ado.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/ado_pg.h"
#include "platform/ado_sqlite.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/shared_memory.h"
#include "platform/text.h"

namespace ado {
namespace {

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%0lX", static_cast<unsigned long>(value));
  return text;
}

// Texts of the COM codes that the system knows by heart.
const char* ComCodeText(DWORD code) {
  switch (code) {
    case 0x80004001:
      return "Not implemented";
    case 0x80004002:
      return "No such interface supported";
    case kErrorPointer:
      return "Invalid pointer";
    case kErrorFail:
      return "Unspecified error";
    case 0x8000FFFF:
      return "Catastrophic failure";
    case 0x80070057:
      return "The parameter is incorrect.";
    default:
      return nullptr;
  }
}

std::string Trim(std::string_view text) { return platform::Trim(text, platform::kWhitespace); }

}  // namespace

ComError::ComError(DWORD code, std::string source, std::string description)
    : code_(code), source_(std::move(source)), description_(std::move(description)) {}

std::string ComError::ErrorMessage() const {
  if (const char* text = ComCodeText(code_)) return text;
  if ((code_ & 0xFFFF0000u) == 0x80070000u) {  // a Win32 error wrapped as HRESULT
    const std::string_view text = platform::SystemErrorText(code_ & 0xFFFFu);
    if (!text.empty()) return std::string(text);
  }
  if (code_ >= 0x80040200u && code_ <= 0x8004FFFFu) {
    return "IDispatch error #" + std::to_string(code_ - 0x80040200u);
  }
  return "Unknown error 0x" + Hex(code_);
}

std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string ConnectionStringValue(const std::string& connection_string, const std::string& key) {
  size_t start = 0;
  while (start <= connection_string.size()) {
    size_t end = connection_string.find(';', start);
    if (end == std::string::npos) end = connection_string.size();
    const std::string pair = connection_string.substr(start, end - start);
    const size_t equals = pair.find('=');
    if (equals != std::string::npos && platform::EqualsNoCase(Trim(pair.substr(0, equals)), key)) {
      return Trim(pair.substr(equals + 1));
    }
    start = end + 1;
  }
  return {};
}

namespace {

// libpq's keywords that make a key=value text a PostgreSQL connection string.
constexpr const char* kPgKeywords[] = {"host",    "hostaddr", "port",       "dbname",
                                       "user",    "service",  "sslmode",    "password",
                                       "options", "passfile", "sslrootcert"};

bool IsKeywordAt(std::string_view text, size_t at, std::string_view keyword) {
  if (at > 0 && !std::isspace(static_cast<unsigned char>(text[at - 1]))) return false;
  if (text.substr(at, keyword.size()) != keyword) return false;
  size_t after = at + keyword.size();
  while (after < text.size() && std::isspace(static_cast<unsigned char>(text[after]))) ++after;
  return after < text.size() && text[after] == '=';
}

// Where the value of a key=value pair starting at `equals` + 1 ends (libpq's quoting rules).
size_t ValueEnd(std::string_view text, size_t start) {
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  if (start < text.size() && text[start] == '\'') {
    size_t at = start + 1;
    while (at < text.size() && text[at] != '\'') at += text[at] == '\\' ? 2 : 1;
    return std::min(at + 1, text.size());
  }
  while (start < text.size() && !std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return start;
}

}  // namespace

bool IsPostgreSqlConnectionString(const std::string& connection_string) {
  const std::string text = Trim(connection_string);
  const std::string lower = platform::LowerAscii(text);
  if (lower.starts_with("postgresql://") || lower.starts_with("postgres://")) return true;
  if (!ConnectionStringValue(text, "Data Source").empty()) return false;
  for (size_t at = 0; at < text.size(); ++at) {
    for (const char* keyword : kPgKeywords) {
      if (IsKeywordAt(text, at, keyword)) return true;
    }
  }
  return false;
}

std::string RedactConnectionString(const std::string& connection_string) {
  std::string text = connection_string;
  const std::string lower = platform::LowerAscii(text);
  const size_t scheme = lower.find("://");
  if (scheme != std::string::npos &&
      (lower.starts_with("postgresql://") || lower.starts_with("postgres://"))) {
    // user:password@ in the authority
    const size_t start = scheme + 3;
    const size_t end = std::min(text.find_first_of("/?#", start), text.size());
    const size_t at = text.rfind('@', end == text.size() ? std::string::npos : end);
    if (at != std::string::npos && at >= start) {
      const size_t colon = text.find(':', start);
      if (colon != std::string::npos && colon < at) text.replace(colon + 1, at - colon - 1, "***");
    }
    // password=... in the query
    for (size_t q = text.find('?'); q != std::string::npos; q = text.find('&', q + 1)) {
      if (platform::LowerAscii(text.substr(q + 1, 9)) == "password=") {
        const size_t value = q + 10;
        const size_t stop = std::min(text.find_first_of("&#", value), text.size());
        text.replace(value, stop - value, "***");
      }
    }
    return text;
  }
  for (size_t at = 0; at < text.size(); ++at) {
    if (!IsKeywordAt(platform::LowerAscii(text), at, "password")) continue;
    const size_t equals = text.find('=', at);
    const size_t stop = ValueEnd(text, equals + 1);
    size_t value = equals + 1;
    while (value < stop && std::isspace(static_cast<unsigned char>(text[value]))) ++value;
    text.replace(value, stop - value, "***");
    at = value;
  }
  return text;
}

// ---- ConnectionImpl ----

ConnectionImpl::~ConnectionImpl() { CloseDb(); }

void ConnectionImpl::Raise(DWORD code, const std::string& source, const std::string& description) {
  errors.assign(1, ConnectionError{code, description});
  throw ComError(code, source, description);
}

void ConnectionImpl::RaiseEngine(int rc, const std::string& doing) {
  const int primary = rc & 0xff;
  std::string text = doing + ": ";
  text += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    text = doing + ": the database is locked by another program (waited " +
           std::to_string(busy_timeout_ms) + " ms)";
  }
  Raise(primary == SQLITE_NOMEM ? kErrorOutOfMemory : kErrorFail, kEngineSource, text);
}

std::int64_t ConnectionImpl::DataVersion() {
  if (data_version == nullptr) {
    const int rc = sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &data_version, nullptr);
    if (rc != SQLITE_OK) RaiseEngine(rc, "Reading the change counter");
  }
  const int rc = sqlite3_step(data_version);
  const std::int64_t version = rc == SQLITE_ROW ? sqlite3_column_int64(data_version, 0) : 0;
  sqlite3_reset(data_version);
  if (rc != SQLITE_ROW) RaiseEngine(rc, "Reading the change counter");
  return version;
}

namespace {

// The wal-index of the unix VFS: two copies of a 48-byte header (the second written first by a
// committing writer), whose change counter, frame count and salts move with every commit. It is
// read where SQLite itself maps it: a descriptor of our own on the "-shm" file would, when closed,
// drop every POSIX lock this process holds on it, SQLite's included, and let another program
// reset the index and truncate the file under SQLite's map.
constexpr std::size_t kWalHeaderSize = 48;
constexpr int kWalIndexRegion = 32768;  // the wal-index is mapped in whole regions
constexpr std::size_t kWalHeaderIsInit = 12;

}  // namespace

const unsigned char* ConnectionImpl::WalIndex() noexcept {
  sqlite3_file* file = main_file;
  if (file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
      file->pMethods->xShmMap == nullptr) {
    return nullptr;
  }
  // Without extending: a region SQLite has not mapped yet answers null, and nothing is created.
  void volatile* region = nullptr;
  if (file->pMethods->xShmMap(file, 0, kWalIndexRegion, 0, &region) != SQLITE_OK) return nullptr;
  return const_cast<const unsigned char*>(static_cast<volatile unsigned char*>(region));
}

bool ConnectionImpl::ReadWalHeader(WalHeader& header) noexcept {
  if (main_file == nullptr || db == nullptr) return false;
  // The connection's mutex keeps another thread from closing the log, and with it the map,
  // while the header is copied.
  sqlite3_mutex* mutex = sqlite3_db_mutex(db);
  sqlite3_mutex_enter(mutex);
  const unsigned char* wal_index = WalIndex();
  bool valid = false;
  if (wal_index != nullptr) {
    WalHeader second;
    // Fences keep the compiler from caching these loads: another process changes the memory.
    platform::SharedMemoryAcquireFence();
    std::memcpy(header.data(), wal_index, kWalHeaderSize);
    platform::SharedMemoryAcquireFence();
    std::memcpy(second.data(), wal_index + kWalHeaderSize, kWalHeaderSize);
    platform::SharedMemoryAcquireFence();
    valid = header[kWalHeaderIsInit] != 0 && header == second;
  }
  sqlite3_mutex_leave(mutex);
  return valid;
}

void ConnectionImpl::CloseDb() noexcept {
  in_transaction = false;
  is_open = false;
  if (postgres) {
    PgClose(*this);
    return;
  }
  main_file = nullptr;
  if (data_version != nullptr) sqlite3_finalize(data_version);
  data_version = nullptr;
  for (auto& [sql, statement] : statements) sqlite3_finalize(statement);
  statements.clear();
  if (db != nullptr) sqlite3_close_v2(db);
  db = nullptr;
}

int ConnectionImpl::RunCached(const char* sql) noexcept {
  sqlite3_stmt*& statement = statements[sql];
  if (statement == nullptr) {
    const int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(statement);
      statement = nullptr;
      return rc;
    }
  }
  const int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

sqlite3_stmt* Prepare(ConnectionImpl& connection, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v2(connection.db, sql.c_str(), -1, &statement, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement);
    connection.RaiseEngine(rc, "Preparing " + sql);
  }
  return statement;
}

// ---- Connection ----

Connection::Connection() : impl_(std::make_shared<ConnectionImpl>()) {}
Connection::~Connection() = default;

void Connection::Open(const std::string& connection_string, const std::string&, const std::string&,
                      long) {
  ConnectionImpl& c = *impl_;
  if (c.is_open) {
    c.Raise(kErrorObjectOpen, kConnectionSource,
            "Operation is not allowed when the object is open.");
  }
  if (IsPostgreSqlConnectionString(connection_string)) {
    PgOpen(c, Trim(connection_string));  // libpq knows a URI only by its first characters
    return;
  }
  c.postgres = false;
  c.OpenFile(connection_string);
}

bool Connection::IsPostgreSql() const noexcept { return impl_->postgres; }

void ConnectionImpl::OpenFile(const std::string& text) {
  ConnectionImpl& c = *this;
  c.connection_string = text;
  c.in_transaction = false;
  const std::string source = ConnectionStringValue(text, "Data Source");
  c.data_source = source;
  if (source.empty())
    c.Raise(kErrorFail, kEngineSource, "The connection string names no Data Source.");
  const auto host = platform::HostPath(source);
  std::error_code ec;
  c.tried = std::chrono::steady_clock::now();
  c.seen = false;
  if (host) {
    // Taken before the open: a file replaced in between is then noticed at the next check.
    struct stat identity {};
    if (::stat(host->c_str(), &identity) == 0) {
      c.seen = true;
      c.device = identity.st_dev;
      c.inode = identity.st_ino;
      c.owner = identity.st_uid;
      c.group = identity.st_gid;
      c.mode = identity.st_mode;
    }
    c.host_path = host->string();
  }
  if (!host || !std::filesystem::is_regular_file(*host, ec)) {
    c.Raise(kErrorFail, kEngineSource, "Could not find file '" + source + "'.");
  }
  c.host_path = host->string();
  const int rc =
      sqlite3_open_v2(host->c_str(), &c.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = "Cannot open '" + source + "': " + sqlite3_errstr(rc);
    c.CloseDb();
    c.Raise(kErrorFail, kEngineSource, message);
  }
  sqlite3_extended_result_codes(c.db, 1);
  sqlite3_busy_timeout(c.db, c.busy_timeout_ms);
  // WAL lets the administration tools read while the filter writes; FULL makes each commit durable.
  char* message = nullptr;
  std::string journal_mode;
  const auto remember_mode = [](void* out, int columns, char** values, char**) {
    if (columns > 0 && values[0] != nullptr) *static_cast<std::string*>(out) = values[0];
    return 0;
  };
  const int pragma_rc = sqlite3_exec(c.db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;",
                                     remember_mode, &journal_mode, &message);
  std::string failure = message != nullptr ? message : "";
  sqlite3_free(message);
  if (pragma_rc == SQLITE_OK) {
    try {
      c.DataVersion();  // the first read also maps the wal-index
      if (platform::EqualsNoCase(journal_mode, "wal") &&
          sqlite3_file_control(c.db, "main", SQLITE_FCNTL_FILE_POINTER, &c.main_file) !=
              SQLITE_OK) {
        c.main_file = nullptr;
      }
      c.is_open = true;
      return;
    } catch (const ComError&) {
      failure = c.errors.empty() ? failure : c.errors.front().Description;
    }
  }
  const int primary = pragma_rc & 0xff;
  c.CloseDb();
  if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
    c.Raise(kErrorFail, kEngineSource, "Unrecognized database format '" + source + "'.");
  }
  c.Raise(kErrorFail, kEngineSource, "Cannot open '" + source + "': " + failure);
}

void ConnectionImpl::ForgetCachedRows() noexcept {
  for (auto& [table, writes] : table_writes) ++writes;
}

long Connection::State() const noexcept { return impl_->is_open ? adStateOpen : adStateClosed; }

void Connection::Close() {
  if (!impl_->is_open) {
    impl_->Raise(kErrorObjectClosed, kConnectionSource,
                 "Operation is not allowed when the object is closed.");
  }
  impl_->CloseDb();
}

namespace {

void RequireOpen(ConnectionImpl& c) {
  if (!c.is_open) {
    c.Raise(kErrorObjectClosed, kConnectionSource,
            "Operation is not allowed when the object is closed.");
  }
}

}  // namespace

long Connection::BeginTrans() {
  ConnectionImpl& c = *impl_;
  RequireOpen(c);
  if (c.in_transaction) {
    c.Raise(kErrorFail, kConnectionSource, "A transaction is already open on this connection.");
  }
  if (c.postgres) {
    // The write side first, as on a file: writers follow each other, never deadlock. One round
    // trip for both.
    try {
      PgCommand(c, "BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kPgWriteLock) + ")",
                "Starting a transaction");
    } catch (const ComError&) {
      if (c.pg != nullptr && PQstatus(c.pg) == CONNECTION_OK) {
        try {
          PgSend(c, "ROLLBACK", "Rolling back a transaction");
        } catch (const ComError&) {
          // The first failure is the one to report.
        }
      }
      throw;
    }
    c.in_transaction = true;
    return 1;
  }
  // IMMEDIATE: the write lock is taken (or refused) here, not halfway through the changes.
  const int rc = c.RunCached("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) c.RaiseEngine(rc, "Starting a transaction");
  c.in_transaction = true;
  return 1;
}

void Connection::CommitTrans() {
  ConnectionImpl& c = *impl_;
  RequireOpen(c);
  if (!c.in_transaction) {
    c.Raise(kErrorFail, kConnectionSource, "No transaction is open on this connection.");
  }
  if (c.postgres) {
    c.in_transaction = false;
    PgResult result;
    try {
      result = PgSend(c, "COMMIT", "Committing a transaction");
    } catch (const ComError&) {
      c.ForgetCachedRows();
      throw;
    }
    // A transaction that failed earlier answers COMMIT with ROLLBACK: nothing was written.
    const bool done = PQresultStatus(result.get()) == PGRES_COMMAND_OK;
    if (done && std::strcmp(PQcmdStatus(result.get()), "COMMIT") == 0) return;
    c.ForgetCachedRows();
    if (done) {
      c.Raise(kErrorFail, kPgSource,
              "Committing a transaction: a statement of the transaction failed, nothing was "
              "written");
    }
    PgRaise(c, result.get(), "Committing a transaction");
  }
  const int rc = c.RunCached("COMMIT");
  if (rc == SQLITE_OK) {
    c.in_transaction = false;
    return;
  }
  // Nothing of the transaction reached the file: the cached rows that it changed are stale.
  if (!sqlite3_get_autocommit(c.db)) sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
  c.in_transaction = false;
  c.ForgetCachedRows();
  c.RaiseEngine(rc, "Committing a transaction");
}

void Connection::RollbackTrans() {
  ConnectionImpl& c = *impl_;
  RequireOpen(c);
  if (!c.in_transaction) {
    c.Raise(kErrorFail, kConnectionSource, "No transaction is open on this connection.");
  }
  c.in_transaction = false;
  c.ForgetCachedRows();
  if (c.postgres) {
    // A broken connection has no transaction left to roll back.
    if (c.pg != nullptr && PQstatus(c.pg) == CONNECTION_OK) {
      PgCommand(c, "ROLLBACK", "Rolling back a transaction");
    }
    return;
  }
  const int rc = sqlite3_exec(c.db, "ROLLBACK", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && !sqlite3_get_autocommit(c.db)) {
    c.RaiseEngine(rc, "Rolling back a transaction");
  }
}

Connection::ReopenReason Connection::ReopenNeeded() noexcept {
  ConnectionImpl& c = *impl_;
  if (c.connection_string.empty()) return ReopenReason::kNone;
  if (c.postgres) {
    // A connection the server broke is noticed here, from what is already on the socket; the
    // server is asked again at once, then not more than once a second.
    if (c.is_open && PgPoll(c, true)) return ReopenReason::kNone;
    if (std::chrono::steady_clock::now() - c.tried >= std::chrono::seconds(1)) {
      return ReopenReason::kClosed;
    }
    return ReopenReason::kNone;
  }
  struct stat identity {};
  const bool there = !c.host_path.empty() && ::stat(c.host_path.c_str(), &identity) == 0;
  const bool same_file =
      there && c.seen && identity.st_dev == c.device && identity.st_ino == c.inode;
  const bool same_access = same_file && identity.st_uid == c.owner && identity.st_gid == c.group &&
                           identity.st_mode == c.mode;
  if (c.db != nullptr) {
    if (!same_file) return ReopenReason::kReplaced;
    // Only a read-only connection gains by it; a writable one keeps its file.
    if (!same_access && sqlite3_db_readonly(c.db, "main") == 1) {
      return ReopenReason::kAccessChanged;
    }
    return ReopenReason::kNone;
  }
  // Closed after a failed open: at once when the file came, went, was replaced or given other
  // access; otherwise not more than once a second.
  if (there != c.seen || (there && !same_file)) return ReopenReason::kReplaced;
  if (there && !same_access) return ReopenReason::kAccessChanged;
  if (std::chrono::steady_clock::now() - c.tried >= std::chrono::seconds(1)) {
    return ReopenReason::kClosed;
  }
  return ReopenReason::kNone;
}

bool Connection::ReadOnly() const noexcept {
  return impl_->is_open && !impl_->postgres && sqlite3_db_readonly(impl_->db, "main") == 1;
}

void Connection::Reopen() {
  ConnectionImpl& c = *impl_;
  if (c.postgres) {
    c.CloseDb();
    ++c.generation;
    c.ForgetCachedRows();
    PgOpen(c, c.connection_string);
    return;
  }
  // SQLite does not clear the write-ahead log of a file that has moved when it closes it, and the
  // log is found by name: emptied here, it cannot be laid over the file now named.
  if (c.db != nullptr) {
    sqlite3_wal_checkpoint_v2(c.db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  }
  c.CloseDb();
  ++c.generation;
  c.ForgetCachedRows();
  c.OpenFile(c.connection_string);
}

void Connection::SetCommandTimeout(std::chrono::milliseconds timeout) {
  impl_->busy_timeout_ms = static_cast<int>(timeout.count());
  if (impl_->postgres) {
    try {
      if (impl_->is_open) PgApplyTimeout(*impl_);
    } catch (const ComError&) {
      // A broken connection gets the timeout when it is opened again.
    }
    return;
  }
  if (impl_->db != nullptr) sqlite3_busy_timeout(impl_->db, impl_->busy_timeout_ms);
}

std::chrono::milliseconds Connection::CommandTimeout() const noexcept {
  return std::chrono::milliseconds(impl_->busy_timeout_ms);
}

long Connection::ErrorCount() const noexcept { return static_cast<long>(impl_->errors.size()); }

ConnectionError Connection::ErrorItem(long index) const {
  if (index < 0 || index >= ErrorCount()) {
    throw ComError(kErrorInvalidArgument, kConnectionSource,
                   "Item cannot be found in the collection corresponding to the requested name or "
                   "ordinal.");
  }
  return impl_->errors[static_cast<size_t>(index)];
}

ConnectionPtr CreateConnection() {
  try {
    return ConnectionPtr(std::make_shared<Connection>());
  } catch (const std::bad_alloc&) {
    throw ComError(kErrorOutOfMemory, kConnectionSource, "Out of memory");
  }
}

}  // namespace ado
