// Database creation and parameterised commands for the administration tools.
#include "platform/ado_admin.h"

#include <filesystem>

#include "platform/ado_pg.h"
#include "platform/ado_sqlite.h"
#include "platform/machine.h"

namespace ado {
namespace {

struct Statement {
  sqlite3_stmt* handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
};

// A prepared statement of the connection's cache, returned to it reset when the command ends.
class CachedStatement {
 public:
  CachedStatement(ConnectionImpl& c, const std::string& sql) : c_(c), db_(c.db), sql_(sql) {
    const auto found = c.statements.find(sql);
    if (found != c.statements.end() && found->second != nullptr) {
      handle = found->second;
      found->second = nullptr;  // in use
    } else {
      handle = Prepare(c, sql);
    }
  }
  ~CachedStatement() {
    sqlite3_reset(handle);
    sqlite3_clear_bindings(handle);
    // A statement of a file closed meanwhile is not kept for the file open now.
    if (c_.db == db_ && db_ != nullptr) {
      auto& slot = c_.statements[sql_];
      if (slot == nullptr) {
        slot = handle;
        return;
      }
    }
    sqlite3_finalize(handle);
  }
  CachedStatement(const CachedStatement&) = delete;
  CachedStatement& operator=(const CachedStatement&) = delete;
  sqlite3_stmt* handle = nullptr;

 private:
  ConnectionImpl& c_;
  sqlite3* db_;
  std::string sql_;
};

ConnectionImpl& OpenConnection(const ConnectionPtr& connection) {
  if (!connection || connection.get()->State() != adStateOpen) {
    throw ComError(
        kErrorInvalidConnection, kConnectionSource,
        "The connection cannot be used to perform this operation. It is either closed or "
        "invalid in this context.");
  }
  return *connection.get()->impl();
}

void BindAll(sqlite3_stmt* statement, const std::vector<Parameter>& parameters) {
  int index = 1;
  for (const Parameter& parameter : parameters) {
    if (const auto* number = std::get_if<std::int64_t>(&parameter)) {
      sqlite3_bind_int64(statement, index++, *number);
    } else {
      const std::string& text = std::get<std::string>(parameter);
      sqlite3_bind_text(statement, index++, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
    }
  }
}

std::vector<PgValue> ToPg(const std::vector<Parameter>& parameters) {
  std::vector<PgValue> values;
  values.reserve(parameters.size());
  for (const Parameter& parameter : parameters) {
    if (const auto* number = std::get_if<std::int64_t>(&parameter)) {
      values.push_back(PgValue::Integer(*number));
    } else {
      values.push_back(PgValue::Text(std::get<std::string>(parameter)));
    }
  }
  return values;
}

PgResult RunPg(ConnectionImpl& c, const std::string& sql,
               const std::vector<Parameter>& parameters) {
  return PgRun(c, sql, ToPg(parameters), "Running " + sql);
}

}  // namespace

void CreateDatabase(const std::string& connection_string) {
  if (IsPostgreSqlConnectionString(connection_string)) {
    throw ComError(kErrorFail, kPgSource,
                   "A PostgreSQL database is made on its server (createdb); '" +
                       RedactConnectionString(connection_string) + "' names one.");
  }
  const std::string source = ConnectionStringValue(connection_string, "Data Source");
  const auto host = source.empty() ? std::nullopt : platform::HostPath(source);
  if (!host)
    throw ComError(kErrorFail, kEngineSource, "Cannot make a database at '" + source + "'.");
  std::error_code ec;
  if (std::filesystem::exists(*host, ec)) {
    throw ComError(kErrorFail, kEngineSource, "Database '" + source + "' already exists.");
  }
  ConnectionImpl created;
  created.data_source = source;
  const int rc =
      sqlite3_open_v2(host->c_str(), &created.db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE, nullptr);
  if (rc != SQLITE_OK) {
    const std::string text = "Cannot make '" + source + "': " + sqlite3_errstr(rc);
    created.CloseDb();
    throw ComError(kErrorFail, kEngineSource, text);
  }
  char* message = nullptr;
  if (sqlite3_exec(created.db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &message) !=
      SQLITE_OK) {
    const std::string text = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    created.CloseDb();
    std::filesystem::remove(*host, ec);
    throw ComError(kErrorFail, kEngineSource, "Cannot make '" + source + "': " + text);
  }
}

long Execute(const ConnectionPtr& connection, const std::string& sql,
             const std::vector<Parameter>& parameters) {
  ConnectionImpl& c = OpenConnection(connection);
  if (c.postgres) {
    const PgResult result = RunPg(c, sql, parameters);
    return std::atol(PQcmdTuples(result.get()));
  }
  CachedStatement statement(c, sql);
  BindAll(statement.handle, parameters);
  int rc;
  while ((rc = sqlite3_step(statement.handle)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Running " + sql);
  return sqlite3_changes(c.db);
}

std::int64_t QueryInteger(const ConnectionPtr& connection, const std::string& sql,
                          const std::vector<Parameter>& parameters, std::int64_t fallback) {
  ConnectionImpl& c = OpenConnection(connection);
  if (c.postgres) {
    const PgResult result = RunPg(c, sql, parameters);
    return result.Rows() > 0 && result.Columns() > 0 ? result.Integer(0, 0) : fallback;
  }
  CachedStatement statement(c, sql);
  BindAll(statement.handle, parameters);
  const int rc = sqlite3_step(statement.handle);
  if (rc == SQLITE_ROW) return sqlite3_column_int64(statement.handle, 0);
  if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Running " + sql);
  return fallback;
}

std::string QueryText(const ConnectionPtr& connection, const std::string& sql,
                      const std::vector<Parameter>& parameters, const std::string& fallback) {
  ConnectionImpl& c = OpenConnection(connection);
  if (c.postgres) {
    const PgResult result = RunPg(c, sql, parameters);
    if (result.Rows() == 0 || result.Columns() == 0) return fallback;
    return std::string(result.Text(0, 0));
  }
  CachedStatement statement(c, sql);
  BindAll(statement.handle, parameters);
  const int rc = sqlite3_step(statement.handle);
  if (rc == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.handle, 0));
    return text != nullptr
               ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement.handle, 0)))
               : "";
  }
  if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Running " + sql);
  return fallback;
}

long QueryRows(const ConnectionPtr& connection, const std::string& sql,
               const std::vector<Parameter>& parameters,
               const std::function<void(const std::vector<Parameter>&)>& row) {
  ConnectionImpl& c = OpenConnection(connection);
  if (c.postgres) {
    // All rows first: `row` may run other statements on the connection, as on a file.
    const PgResult result = RunPg(c, sql, parameters);
    std::vector<Parameter> values(static_cast<size_t>(result.Columns()));
    for (int r = 0; r < result.Rows(); ++r) {
      for (int i = 0; i < result.Columns(); ++i) {
        if (result.IsWhole(r, i)) {
          values[static_cast<size_t>(i)] = result.Integer(r, i);
        } else {
          values[static_cast<size_t>(i)] = std::string(result.Text(r, i));
        }
      }
      row(values);
    }
    return result.Rows();
  }
  CachedStatement statement(c, sql);
  BindAll(statement.handle, parameters);
  const int columns = sqlite3_column_count(statement.handle);
  std::vector<Parameter> values(static_cast<size_t>(columns));
  long rows = 0;
  int rc;
  while ((rc = sqlite3_step(statement.handle)) == SQLITE_ROW) {
    for (int i = 0; i < columns; ++i) {
      if (sqlite3_column_type(statement.handle, i) == SQLITE_INTEGER) {
        values[static_cast<size_t>(i)] = sqlite3_column_int64(statement.handle, i);
      } else {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.handle, i));
        values[static_cast<size_t>(i)] =
            text != nullptr
                ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement.handle, i)))
                : std::string();
      }
    }
    row(values);
    ++rows;
  }
  if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Running " + sql);
  return rows;
}

std::int64_t RowView::Integer(int column) const {
  if (row_ >= 0) return static_cast<const PgResult*>(statement_)->Integer(row_, column);
  return sqlite3_column_int64(static_cast<sqlite3_stmt*>(const_cast<void*>(statement_)), column);
}

bool RowView::IsInteger(int column) const {
  if (row_ >= 0) return static_cast<const PgResult*>(statement_)->IsWhole(row_, column);
  return sqlite3_column_type(static_cast<sqlite3_stmt*>(const_cast<void*>(statement_)), column) ==
         SQLITE_INTEGER;
}

std::string_view RowView::Text(int column) const {
  if (row_ >= 0) return static_cast<const PgResult*>(statement_)->Text(row_, column);
  auto* statement = static_cast<sqlite3_stmt*>(const_cast<void*>(statement_));
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return {};
  return {text, static_cast<size_t>(sqlite3_column_bytes(statement, column))};
}

long ScanRows(const ConnectionPtr& connection, const std::string& sql,
              const std::vector<Parameter>& parameters,
              const std::function<void(const RowView&)>& row) {
  ConnectionImpl& c = OpenConnection(connection);
  if (c.postgres) {
    return PgRunRows(c, sql, ToPg(parameters), "Running " + sql,
                     [&](const PgResult& result) { row(RowView(&result, 0)); });
  }
  Statement statement{Prepare(c, sql)};
  BindAll(statement.handle, parameters);
  // Held once for the whole scan, the connection's (recursive) mutex makes each column read's
  // own locking a counter step instead of a lock and an unlock.
  struct Held {
    sqlite3_mutex* mutex;
    explicit Held(sqlite3* db) : mutex(sqlite3_db_mutex(db)) { sqlite3_mutex_enter(mutex); }
    ~Held() { sqlite3_mutex_leave(mutex); }
  } held(c.db);
  const RowView view(statement.handle);
  long rows = 0;
  int rc;
  while ((rc = sqlite3_step(statement.handle)) == SQLITE_ROW) {
    row(view);
    ++rows;
  }
  if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Running " + sql);
  return rows;
}

}  // namespace ado
