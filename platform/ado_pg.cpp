// The database layer's connection to a PostgreSQL server: connecting without hanging, statements
// prepared once per connection, change notices read off the socket, errors in the layer's words.
#include "platform/ado_pg.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace ado {
namespace {

constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kBool = 16;
constexpr Oid kOid = 26;
// A request decision looks at several tables within microseconds: one look at the socket
// answers for all of them.
constexpr auto kPollInterval = std::chrono::microseconds(200);

std::string FirstLine(const char* text) {
  std::string line = text != nullptr ? text : "";
  const size_t end = line.find('\n');
  if (end != std::string::npos) line.resize(end);
  return platform::Trim(line, platform::kWhitespace);
}

// The password of a connection string, to keep it out of every text this layer raises.
std::string PasswordOf(const std::string& connection_string) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connection_string.c_str(), &error);
  PQfreemem(error);
  std::string password;
  for (PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr) password = o->val;
  }
  PQconninfoFree(options);
  return password;
}

std::string WithoutPassword(std::string text, const std::string& connection_string) {
  const std::string password = PasswordOf(connection_string);
  // A very short password would blot out ordinary words; such a one is no secret anyway.
  if (password.size() < 3) return text;
  for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 3)) {
    text.replace(at, password.size(), "***");
  }
  return text;
}

void NoNotices(void*, const char*) {}

// Waits until the answer to what was sent can be read without blocking: at most the command
// timeout and a second more, since the server's own statement timeout cannot help when it has
// stopped answering (frozen, or its network gone while the socket stays). False when that time
// has passed.
bool Await(ConnectionImpl& c) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(c.busy_timeout_ms) + std::chrono::seconds(1);
  while (PQisBusy(c.pg) != 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd socket{PQsocket(c.pg), POLLIN, 0};
    const int ready = ::poll(&socket, 1, static_cast<int>(left.count()) + 1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) continue;  // the deadline decides
    // An error here leaves a failed connection, whose results say so.
    if (ready < 0 || PQconsumeInput(c.pg) == 0) return true;
  }
  return true;
}

// Gives up a connection whose server stopped answering, and raises that.
[[noreturn]] void Abandon(ConnectionImpl& c, const std::string& doing) {
  PQfinish(c.pg);
  c.pg = nullptr;  // still "open": record sets keep their rows, ReopenNeeded says kClosed
  c.pg_statements.clear();
  c.in_transaction = false;
  c.Raise(kErrorFail, kPgSource,
          doing + ": the connection to the database server was lost (no answer within " +
              std::to_string(c.busy_timeout_ms + 1000) + " ms)");
}

// The results of what was sent, as PQexec gives them: the first failure, else the last result.
PgResult Collect(ConnectionImpl& c, const std::string& doing) {
  PgResult kept;
  for (;;) {
    if (!Await(c)) Abandon(c, doing);
    PGresult* next = PQgetResult(c.pg);
    if (next == nullptr) return kept;
    const ExecStatusType status = PQresultStatus(kept.get());
    const bool failed =
        kept.get() != nullptr && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
    if (failed) {
      PQclear(next);
    } else {
      kept = PgResult(next);
    }
  }
}

}  // namespace

PgResult PgSend(ConnectionImpl& c, const std::string& sql, const std::string& doing) {
  if (c.pg == nullptr) PgRaise(c, nullptr, doing);
  if (PQsendQuery(c.pg, sql.c_str()) == 0) PgRaise(c, nullptr, doing);
  return Collect(c, doing);
}

bool PgResult::IntegerColumn(int column) const {
  const Oid type = PQftype(handle_, column);
  return type == kInt8 || type == kInt4 || type == kInt2 || type == kBool || type == kOid;
}

bool PgResult::IsWhole(int row, int column) const {
  if (IsNull(row, column)) return false;
  if (IntegerColumn(column)) return true;
  constexpr Oid kNumeric = 1700;
  return PQftype(handle_, column) == kNumeric &&
         Text(row, column).find_first_of(".eEN") == std::string_view::npos;
}

std::int64_t PgResult::Integer(int row, int column) const {
  if (IsNull(row, column)) return 0;
  const char* text = PQgetvalue(handle_, row, column);
  if (PQftype(handle_, column) == kBool) return text[0] == 't' ? 1 : 0;
  return std::strtoll(text, nullptr, 10);
}

std::string PgTranslate(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + 8);
  int next = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char ch = sql[i];
    if (ch == '\'') {  // a string, its quotes doubled inside
      const size_t end = sql.find('\'', i + 1);
      const size_t stop = end == std::string_view::npos ? sql.size() : end + 1;
      out.append(sql.substr(i, stop - i));
      i = stop - 1;
    } else if (ch == '"') {
      const size_t end = sql.find('"', i + 1);
      const size_t stop = end == std::string_view::npos ? sql.size() : end + 1;
      out += platform::LowerAscii(sql.substr(i, stop - i));
      i = stop - 1;
    } else if (ch == '?') {
      size_t digits = i + 1;
      while (digits < sql.size() && sql[digits] >= '0' && sql[digits] <= '9') ++digits;
      if (digits > i + 1) {
        next = std::atoi(std::string(sql.substr(i + 1, digits - i - 1)).c_str());
        out += '$';
        out.append(sql.substr(i + 1, digits - i - 1));
        i = digits - 1;
      } else {
        out += '$' + std::to_string(++next);
      }
    } else {
      out += ch;
    }
  }
  return out;
}

void PgRaise(ConnectionImpl& c, const PGresult* result, const std::string& doing) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string message;
  if (result != nullptr) {
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    message = FirstLine(primary != nullptr ? primary : PQresultErrorMessage(result));
  }
  if (message.empty() && c.pg != nullptr) message = FirstLine(PQerrorMessage(c.pg));
  const std::string code = state != nullptr ? state : "";
  const bool lost = c.pg == nullptr || PQstatus(c.pg) != CONNECTION_OK || code.starts_with("08") ||
                    code.starts_with("57P");
  std::string text;
  if (lost) {
    text = doing + ": the connection to the database server was lost (" + message + ")";
  } else if (code == "57014" || code == "55P03") {
    text = doing + ": the database is locked by another program (waited " +
           std::to_string(c.busy_timeout_ms) + " ms)";
  } else {
    text = doing + ": " + message;
  }
  c.Raise(kErrorFail, kPgSource, WithoutPassword(text, c.connection_string));
}

void PgOpen(ConnectionImpl& c, const std::string& connection_string) {
  c.connection_string = connection_string;
  c.postgres = true;
  c.in_transaction = false;
  c.data_source = RedactConnectionString(connection_string);
  c.tried = std::chrono::steady_clock::now();
  // Options before dbname are defaults that the connection string's own override: nothing
  // waits long for a server that is down or unreachable.
  const char* keys[] = {"connect_timeout", "tcp_user_timeout", "application_name", "dbname",
                        nullptr};
  const char* values[] = {"2", "2000", "minutrix", connection_string.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keys, values, 1);
  if (connection == nullptr) c.Raise(kErrorOutOfMemory, kPgSource, "Out of memory");
  if (PQstatus(connection) != CONNECTION_OK) {
    const std::string why = FirstLine(PQerrorMessage(connection));
    PQfinish(connection);
    c.Raise(kErrorFail, kPgSource,
            WithoutPassword("Cannot connect to the database server '" + c.data_source + "': " + why,
                            connection_string));
  }
  // The server's notices (a table that exists already) are no news for anybody's log.
  PQsetNoticeProcessor(connection, NoNotices, nullptr);
  c.pg = connection;
  c.pg_backend = PQbackendPID(connection);
  try {
    PgApplyTimeout(c);
    PgCommand(c, std::string("LISTEN ") + kPgChannel, "Listening for changes");
  } catch (const ComError&) {
    PgClose(c);
    throw;
  }
  c.is_open = true;
}

void PgClose(ConnectionImpl& c) noexcept {
  c.is_open = false;
  c.in_transaction = false;
  c.pg_statements.clear();
  if (c.pg != nullptr) PQfinish(c.pg);
  c.pg = nullptr;
  c.pg_backend = 0;
}

bool PgPoll(ConnectionImpl& c, bool now) noexcept {
  if (c.pg == nullptr) return false;
  const auto at = std::chrono::steady_clock::now();
  if (!now && at - c.polled < kPollInterval) return PQstatus(c.pg) == CONNECTION_OK;
  c.polled = at;
  if (PQconsumeInput(c.pg) == 0) return false;
  while (PGnotify* notice = PQnotifies(c.pg)) {
    // This connection's own writes are counted where they are made, as on a file.
    if (notice->be_pid != c.pg_backend && notice->extra != nullptr) {
      ++c.table_notices[platform::UpperAscii(notice->extra)];
    }
    PQfreemem(notice);
  }
  return PQstatus(c.pg) == CONNECTION_OK;
}

PgResult PgCommand(ConnectionImpl& c, const std::string& sql, const std::string& doing) {
  PgResult result = PgSend(c, sql, doing);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) PgRaise(c, result.get(), doing);
  return result;
}

namespace {

// The name of `sql` prepared on the connection, preparing it the first time.
const std::string& Prepared(ConnectionImpl& c, std::string_view sql,
                            const std::vector<PgValue>& values, const std::string& doing) {
  if (c.pg == nullptr) PgRaise(c, nullptr, doing);
  // The parameter types are part of what was prepared.
  std::string key(sql);
  key += '\x1f';
  for (const PgValue& value : values) key += value.kind == PgValue::Kind::kInteger ? 'i' : 't';
  auto found = c.pg_statements.find(key);
  if (found == c.pg_statements.end()) {
    const std::string name = "minutrix" + std::to_string(c.pg_statements.size() + 1);
    std::vector<Oid> types;
    for (const PgValue& value : values) {
      types.push_back(value.kind == PgValue::Kind::kInteger ? kInt8 : 0);
    }
    if (PQsendPrepare(c.pg, name.c_str(), PgTranslate(sql).c_str(), static_cast<int>(types.size()),
                      types.data()) == 0) {
      PgRaise(c, nullptr, doing);
    }
    PgResult prepared = Collect(c, doing);
    if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) PgRaise(c, prepared.get(), doing);
    found = c.pg_statements.emplace(std::move(key), name).first;
  }
  return found->second;
}

std::vector<const char*> Texts(const std::vector<PgValue>& values) {
  std::vector<const char*> texts;
  texts.reserve(values.size());
  for (const PgValue& value : values) {
    texts.push_back(value.kind == PgValue::Kind::kNull ? nullptr : value.text.c_str());
  }
  return texts;
}

}  // namespace

PgResult PgRun(ConnectionImpl& c, std::string_view sql, const std::vector<PgValue>& values,
               const std::string& doing) {
  const std::string& name = Prepared(c, sql, values, doing);
  const std::vector<const char*> texts = Texts(values);
  if (PQsendQueryPrepared(c.pg, name.c_str(), static_cast<int>(texts.size()), texts.data(), nullptr,
                          nullptr, 0) == 0) {
    PgRaise(c, nullptr, doing);
  }
  PgResult result = Collect(c, doing);
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) PgRaise(c, result.get(), doing);
  return result;
}

long PgRunRows(ConnectionImpl& c, std::string_view sql, const std::vector<PgValue>& values,
               const std::string& doing, const std::function<void(const PgResult&)>& row) {
  const std::string& name = Prepared(c, sql, values, doing);
  const std::vector<const char*> texts = Texts(values);
  if (PQsendQueryPrepared(c.pg, name.c_str(), static_cast<int>(texts.size()), texts.data(), nullptr,
                          nullptr, 0) == 0) {
    PgRaise(c, nullptr, doing);
  }
  PQsetSingleRowMode(c.pg);
  // The results up to the last (null) one: the connection takes no other command before.
  const auto drain = [&c] {
    for (;;) {
      if (!Await(c)) {  // a server that stops answering meanwhile loses its connection
        PQfinish(c.pg);
        c.pg = nullptr;
        c.pg_statements.clear();
        c.in_transaction = false;
        return;
      }
      PGresult* rest = PQgetResult(c.pg);
      if (rest == nullptr) return;
      PQclear(rest);
    }
  };
  long rows = 0;
  for (;;) {
    if (!Await(c)) Abandon(c, doing);
    PgResult result(PQgetResult(c.pg));
    if (result.get() == nullptr) return rows;
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_SINGLE_TUPLE) {
      try {
        row(result);
      } catch (...) {
        // Stops the server sending the rest, which is then read and dropped.
        if (PGcancel* cancel = PQgetCancel(c.pg)) {
          char error[256];
          PQcancel(cancel, error, sizeof error);
          PQfreeCancel(cancel);
        }
        drain();
        throw;
      }
      ++rows;
    } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
      drain();
      PgRaise(c, result.get(), doing);
    }
  }
}

void PgApplyTimeout(ConnectionImpl& c) {
  PgCommand(c, "SET statement_timeout = " + std::to_string(c.busy_timeout_ms),
            "Setting the command timeout");
}

}  // namespace ado
