// minutrix-db copy: the store's tables read row by row from the source and written in batches
// into the target inside one transaction; the target's sequences then follow the copied numbers.
#include "tools/db/copy.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/ado_admin.h"
#include "platform/text.h"
#include "store/dialect.h"
#include "store/postgres_schema.h"
#include "store/schema.h"
#include "tools/db/user_times_db.h"

namespace user_times_db {
namespace {

// Rows per INSERT: few round trips to a server, far below either engine's parameter limits.
constexpr std::size_t kBatchRows = 200;
constexpr auto kProgressEvery = std::chrono::seconds(2);

std::string ColumnList(const store::PostgreSqlTable& table) {
  std::string names = table.rowid ? "rowid" : "";
  for (const char* column : table.columns) {
    names += (names.empty() ? "" : ", ") + ado::QuoteIdentifier(column);
  }
  return names;
}

std::int64_t Rows(const ado::ConnectionPtr& connection, const store::PostgreSqlTable& table) {
  return ado::QueryInteger(connection, std::string("SELECT count(*) FROM ") + table.name, {}, 0);
}

class Writer {
 public:
  Writer(const ado::ConnectionPtr& target, const store::PostgreSqlTable& table)
      : target_(target), table_(table), width_(table.columns.size() + (table.rowid ? 1 : 0)) {
    if (!store::IsPostgreSql(target)) return;
    // A file of an older build may hold NULL (read as an empty text) or a text in an integer
    // column, where the filter reads the number it starts with, or 0; the server takes only
    // numbers there.
    if (table.rowid) integer_.push_back(true);
    for (const char* column : table.columns) {
      integer_.push_back(
          ado::QueryText(target,
                         "SELECT data_type FROM information_schema.columns"
                         " WHERE table_schema = current_schema() AND"
                         " table_name = ?1 AND column_name = ?2",
                         {platform::LowerAscii(table.name), platform::LowerAscii(column)},
                         "") == "bigint");
    }
  }

  void Add(const ado::RowView& row) {
    for (std::size_t c = 0; c < width_; ++c) {
      const int column = static_cast<int>(c);
      if (row.IsInteger(column)) {
        values_.emplace_back(row.Integer(column));
      } else if (c < integer_.size() && integer_[c]) {
        values_.emplace_back(
            std::int64_t{std::strtoll(std::string(row.Text(column)).c_str(), nullptr, 10)});
      } else {
        values_.emplace_back(std::string(row.Text(column)));
      }
    }
    if (values_.size() == width_ * kBatchRows) Flush();
  }

  void Flush() {
    const std::size_t rows = values_.size() / width_;
    if (rows == 0) return;
    try {
      Insert(rows);
    } catch (const ado::ComError& error) {
      // The engine's reason, without the statement of 200 rows' places that it quotes.
      const std::string& text = error.Description();
      const size_t reason = text.rfind("): ");
      throw ado::ComError(error.Error(), error.Source(),
                          std::string("writing ") + table_.name + ": " +
                              (reason == std::string::npos ? text : text.substr(reason + 3)));
    }
  }

 private:
  void Insert(std::size_t rows) {
    std::string sql = std::string("INSERT INTO ") + table_.name + " (" + ColumnList(table_) +
                      ") OVERRIDING SYSTEM VALUE VALUES ";
    if (!store::IsPostgreSql(target_)) {
      sql = std::string("INSERT INTO ") + table_.name + " (" + ColumnList(table_) + ") VALUES ";
    }
    std::size_t parameter = 0;
    for (std::size_t r = 0; r < rows; ++r) {
      sql += r == 0 ? "(" : ", (";
      for (std::size_t c = 0; c < width_; ++c) {
        sql += (c == 0 ? "?" : ", ?") + std::to_string(++parameter);
      }
      sql += ")";
    }
    ado::Execute(target_, sql, values_);
    values_.clear();
  }

  const ado::ConnectionPtr& target_;
  const store::PostgreSqlTable& table_;
  std::size_t width_;
  std::vector<ado::Parameter> values_;
  std::vector<bool> integer_;  // per column, on a server: it holds integers
};

// Opens (and where needed makes) the target store.
ado::ConnectionPtr OpenTarget(const std::string& target) {
  if (ado::IsPostgreSqlConnectionString(target)) {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open(target, "", "", 0);
    // Only a database without the store is made one: an administrator's role may copy into a
    // store, not make its tables and roles.
    if (!store::HasTable(connection, "Users")) store::CreatePostgreSqlStore(connection);
    return connection;
  }
  std::error_code ec;
  const auto file = HostFile(target);
  if (!file.empty() && !std::filesystem::exists(file, ec)) MakeEmptyStore(target);
  return OpenStore(target);
}

}  // namespace

std::string Copy(const std::string& source, const std::string& target, bool replace,
                 std::ostream& progress) {
  const std::string shown_source = Shown(source);
  const std::string shown_target = Shown(target);
  const bool same_file = !HostFile(source).empty() && HostFile(source) == HostFile(target);
  if (source == target || same_file) {
    throw store::Refusal("cannot copy " + shown_source + " onto itself.");
  }
  const ado::ConnectionPtr from = OpenStore(source);
  ado::ConnectionPtr to;
  try {
    to = OpenTarget(target);
  } catch (const ado::ComError& error) {
    throw store::Refusal("cannot copy to " + shown_target + ": " + error.Description());
  }
  std::int64_t copied = 0;
  std::int64_t total = 0;
  std::string counts;
  try {
    for (const store::PostgreSqlTable& table : store::PostgreSqlTables()) {
      if (store::HasTable(from, table.name)) total += Rows(from, table);
    }
    store::BeginWrite(to);
    try {
      std::string held;
      for (const store::PostgreSqlTable& table : store::PostgreSqlTables()) {
        if (!store::HasTable(to, table.name)) {
          // A file of an older build: the tables it lacks, in this transaction.
          store::CreateResetMarkerTable(to);
          store::CreateOwnTables(to);
          // The shared periods go where the source has them; a file of one proxy has none.
          if (store::HasTable(from, table.name) && !store::IsPostgreSql(to)) {
            for (const char* statement : store::SharedPeriodTables()) ado::Execute(to, statement);
          }
        }
        if (!store::HasTable(to, table.name)) continue;
        const std::int64_t rows = Rows(to, table);
        if (rows > 0)
          held += (held.empty() ? "" : ", ") + std::to_string(rows) + " in " + table.name;
      }
      if (!held.empty() && !replace) {
        throw store::Refusal(shown_target + " is not empty (" + held +
                             "): give --replace to overwrite it; nothing was copied.");
      }
      auto last = std::chrono::steady_clock::now();
      for (const store::PostgreSqlTable& table : store::PostgreSqlTables()) {
        if (!store::HasTable(to, table.name)) continue;
        ado::Execute(to, std::string("DELETE FROM ") + table.name);
        if (!store::HasTable(from, table.name)) continue;
        Writer writer(to, table);
        const std::string select =
            "SELECT " + ColumnList(table) + " FROM " + table.name + " ORDER BY " + table.order;
        // Row by row: a year of a school's history never sits in memory whole.
        const long rows = ado::ScanRows(from, select, {}, [&](const ado::RowView& row) {
          writer.Add(row);
          ++copied;
          const auto now = std::chrono::steady_clock::now();
          if (now - last >= kProgressEvery) {
            last = now;
            progress << "minutrix-db: copied " << copied << " of " << total << " rows ("
                     << table.name << ")" << std::endl;
          }
        });
        writer.Flush();
        counts += (counts.empty() ? "" : ", ") + std::to_string(rows) + " " + table.name;
        if (table.sequence != nullptr && store::IsPostgreSql(to)) {
          // The next number drawn follows the highest copied one, as SQLite's rowid does.
          ado::QueryInteger(to,
                            std::string("SELECT setval(pg_get_serial_sequence(?1, ?2),"
                                        " coalesce(max(") +
                                table.sequence + "), 0) + 1, false) FROM " + table.name,
                            {std::string(table.name), platform::LowerAscii(table.sequence)}, 0);
        }
      }
      ado::Execute(to, "COMMIT");
    } catch (...) {
      store::RollBackQuietly(to);
      throw;
    }
  } catch (const ado::ComError& error) {
    throw store::Refusal("cannot copy " + shown_source + " to " + shown_target + ": " +
                         error.Description());
  }
  return "Copied " + shown_source + " to " + shown_target + ": " + counts;
}

}  // namespace user_times_db
