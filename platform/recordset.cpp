// Keyset record sets over SQLite tables with record binding. The rows are cached in memory and
// re-read at the start of a scan only when the file may have changed: the wal-index header
// (any commit), PRAGMA data_version (other connections) and this connection's own write count
// tell. A scan thus costs no database round trip per move, and usually no system call at its
// start, while a change made by another program is still seen at the next scan. On PostgreSQL the
// store's triggers notify each change by table name, and a scan's start reads the notices that
// have arrived on the socket (no round trip).
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "platform/ado.h"
#include "platform/ado_pg.h"
#include "platform/ado_sqlite.h"
#include "platform/machine.h"

namespace ado {
namespace {

using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

constexpr const char* kNoCurrentRecord =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";

Value ColumnValue(sqlite3_stmt* statement, int index) {
  switch (sqlite3_column_type(statement, index)) {
    case SQLITE_INTEGER:
      return sqlite3_column_int64(statement, index);
    case SQLITE_FLOAT:
      return sqlite3_column_double(statement, index);
    case SQLITE_NULL:
      return std::monostate{};
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_blob(statement, index));
      return std::string(text != nullptr ? text : "",
                         static_cast<size_t>(sqlite3_column_bytes(statement, index)));
    }
  }
}

std::int32_t AsInteger(const Value& value) {
  std::int64_t wide = 0;
  if (const auto* i = std::get_if<std::int64_t>(&value)) wide = *i;
  if (const auto* d = std::get_if<double>(&value)) wide = static_cast<std::int64_t>(*d);
  if (const auto* s = std::get_if<std::string>(&value))
    wide = std::strtoll(s->c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(wide, INT32_MIN, INT32_MAX));
}

std::string AsText(const Value& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&value)) return std::to_string(*d);
  return {};
}

void BindValue(sqlite3_stmt* statement, int index, const Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    sqlite3_bind_int64(statement, index, *i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    sqlite3_bind_double(statement, index, *d);
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    sqlite3_bind_text(statement, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(statement, index);
  }
}

// The value a bound field holds now.
Value FieldValue(const void* record, const FieldBinding& field) {
  const char* at = static_cast<const char*>(record) + field.offset;
  if (field.type == FieldType::kText) return std::string(at, ::strnlen(at, field.size));
  std::int32_t number = 0;
  std::memcpy(&number, at, sizeof number);
  return std::int64_t{number};
}

PgValue ToPg(const Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return PgValue::Integer(*i);
  if (const auto* d = std::get_if<double>(&value)) return PgValue::Text(std::to_string(*d));
  if (const auto* s = std::get_if<std::string>(&value)) return PgValue::Text(*s);
  return {};
}

Value FromPg(const PgResult& result, int row, int column) {
  if (result.IsNull(row, column)) return std::monostate{};
  if (result.IntegerColumn(column)) return result.Integer(row, column);
  const Oid type = PQftype(result.get(), column);
  constexpr Oid kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;
  const std::string_view text = result.Text(row, column);
  if (type == kNumeric && text.find_first_of(".eE") == std::string_view::npos) {
    return static_cast<std::int64_t>(std::strtoll(std::string(text).c_str(), nullptr, 10));
  }
  if (type == kFloat4 || type == kFloat8 || type == kNumeric) {
    return std::strtod(std::string(text).c_str(), nullptr);
  }
  return std::string(text);
}

// Owns a statement for one call.
struct Statement {
  sqlite3_stmt* handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
};

}  // namespace

struct Recordset::Impl {
  struct Row {
    std::int64_t rowid = 0;
    std::vector<Value> values;  // index 0 = ordinal 1
  };
  // When the cached rows were known to match the table.
  struct Seen {
    std::int64_t version = 0;            // PRAGMA data_version (commits by other connections)
    std::uint64_t writes = 0;            // this connection's writes to the table
    ConnectionImpl::WalHeader header{};  // the wal-index header (commits by anyone)
    bool header_valid = false;
  };

  explicit Impl(Scan& s) : scan(s) {}

  Scan& scan;  // the position lives there, for the inline moves
  std::shared_ptr<ConnectionImpl> connection;
  std::string table;
  bool open = false;
  std::vector<std::string> columns;
  std::vector<Row> rows;
  Seen values_seen;              // values read
  Seen keyset_seen;              // set of rows read
  std::uint64_t generation = 0;  // the connection's, when the rows were read

  // Seek's index: the bound text of one column, row by row, to the first row holding it. The keys
  // view `images`, so the index is built again whenever they change.
  int index_ordinal = 0;  // 0: none set
  std::unordered_map<std::string_view, size_t> index;
  bool index_built = false;

  void* record = nullptr;
  std::span<const FieldBinding> fields;
  size_t record_size = 0;
  bool contiguous = false;   // the fields cover [0, record_size) without gaps: one copy fills them
  std::vector<char> images;  // per row, record_size bytes: the bound fields as that row fills them
  std::vector<Span> spans;   // per row, one per field: what a move copies of its image

  size_t& current() { return scan.current; }

  ConnectionImpl& Connected(const char* source) {
    if (!open) {
      if (connection) {
        connection->Raise(kErrorObjectClosed, source,
                          "Operation is not allowed when the object is closed.");
      }
      throw ComError(kErrorObjectClosed, source,
                     "Operation is not allowed when the object is closed.");
    }
    if (!connection->is_open) {
      connection->Raise(kErrorInvalidConnection, source,
                        "The connection cannot be used to perform this operation. It is either "
                        "closed or invalid in this context.");
    }
    return *connection;
  }

  std::uint64_t* table_writes =
      nullptr;  // this table's counter in the connection (map nodes stay put)
  std::uint64_t& TableWrites() { return *table_writes; }
  // PostgreSQL: the notices counted for this table, and the column that identifies a row and
  // orders the table: `rowid` (the store gives its tables one, hidden, in the order of SQLite's
  // rowid), else an integer primary key of one column.
  std::uint64_t* table_notices = nullptr;
  std::string key_column;

  std::string PgSelect() const {
    const std::string key = QuoteIdentifier(key_column);
    return "SELECT " + key + ", * FROM " + QuoteIdentifier(table);
  }
  // The table's columns of a result that starts with the key (the hidden rowid left out).
  std::vector<int> PgColumns(const PgResult& result) const {
    std::vector<int> wanted;
    for (int i = 1; i < result.Columns(); ++i) {
      if (key_column == "rowid" && std::strcmp(PQfname(result.get(), i), "rowid") == 0) continue;
      wanted.push_back(i);
    }
    return wanted;
  }
  Row PgRow(const PgResult& result, int index, const std::vector<int>& wanted) const {
    Row row;
    row.rowid = result.Integer(index, 0);
    row.values.reserve(wanted.size());
    for (int column : wanted) row.values.push_back(FromPg(result, index, column));
    return row;
  }

  // Whether the table may have changed since `seen`. An unchanged wal-index header proves that
  // nobody committed, without the read transaction (file locks) that data_version costs.
  bool Changed(Seen& seen) {
    ConnectionImpl& c = *connection;
    if (c.postgres) {
      if (TableWrites() != seen.writes) return true;
      PgPoll(c, false);
      return static_cast<std::int64_t>(*table_notices) != seen.version;
    }
    ConnectionImpl::WalHeader header;
    const bool have_header = c.ReadWalHeader(header);
    if (TableWrites() != seen.writes) return true;
    if (have_header && seen.header_valid && header == seen.header) return false;
    if (c.DataVersion() != seen.version) return true;
    // Only this connection committed since, to other tables; the header was read before the
    // check, so a later commit still changes it.
    seen.header = header;
    seen.header_valid = have_header;
    return false;
  }

  // Reads every row of the table; with `keep_keyset` only the rows already in the set stay.
  void Load(bool keep_keyset) {
    ConnectionImpl& c = *connection;
    if (c.postgres) {
      LoadPg(keep_keyset);
      return;
    }
    Seen seen;
    seen.header_valid =
        c.ReadWalHeader(seen.header);  // before the reads: a commit between is seen later
    seen.version = c.DataVersion();
    Statement statement{
        Prepare(c, "SELECT rowid, * FROM " + QuoteIdentifier(table) + " ORDER BY rowid")};
    const int count = sqlite3_column_count(statement.handle) - 1;
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) names.emplace_back(sqlite3_column_name(statement.handle, i));
    std::vector<Row> fresh;
    fresh.reserve(rows.size());
    size_t kept = 0;
    int rc;
    while ((rc = sqlite3_step(statement.handle)) == SQLITE_ROW) {
      const std::int64_t rowid = sqlite3_column_int64(statement.handle, 0);
      if (keep_keyset && !InKeyset(rowid, kept)) continue;
      Row row;
      row.rowid = rowid;
      row.values.reserve(static_cast<size_t>(count));
      for (int i = 1; i <= count; ++i) row.values.push_back(ColumnValue(statement.handle, i));
      fresh.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Reading table " + table);
    Adopt(std::move(names), std::move(fresh), seen, keep_keyset);
  }

  // Whether the old keyset holds `rowid`; `kept` walks it along a result in rowid order.
  bool InKeyset(std::int64_t rowid, size_t& kept) const {
    while (kept < rows.size() && rows[kept].rowid < rowid) ++kept;
    return kept < rows.size() && rows[kept].rowid == rowid;
  }

  // Takes what a load read, and what it saw of the table before reading.
  void Adopt(std::vector<std::string> names, std::vector<Row> fresh, Seen seen, bool keep_keyset) {
    columns = std::move(names);
    rows = std::move(fresh);
    seen.writes = TableWrites();
    values_seen = seen;
    if (!keep_keyset) keyset_seen = seen;
    generation = connection->generation;
    BuildImages();
  }

  void LoadPg(bool keep_keyset) {
    ConnectionImpl& c = *connection;
    Seen seen;
    PgPoll(c, true);  // notices up to now: a later commit is seen at a later check
    seen.version = static_cast<std::int64_t>(*table_notices);
    const PgResult result = PgRun(c, PgSelect() + " ORDER BY " + QuoteIdentifier(key_column), {},
                                  "Reading table " + table);
    const std::vector<int> wanted = PgColumns(result);
    std::vector<std::string> names;
    for (int column : wanted) names.emplace_back(PQfname(result.get(), column));
    std::vector<Row> fresh;
    fresh.reserve(rows.size());
    size_t kept = 0;
    for (int i = 0; i < result.Rows(); ++i) {
      const std::int64_t rowid = result.Integer(i, 0);
      if (keep_keyset && !InKeyset(rowid, kept)) continue;
      fresh.push_back(PgRow(result, i, wanted));
    }
    Adopt(std::move(names), std::move(fresh), seen, keep_keyset);
  }

  // Opening on PostgreSQL: whether the table is there, and its key.
  void OpenPg() {
    ConnectionImpl& c = *connection;
    table_notices = &c.table_notices[platform::UpperAscii(table)];
    const PgResult found = PgRun(
        c,
        "SELECT coalesce((SELECT 'rowid' FROM pg_attribute WHERE attrelid = c.oid"
        " AND attname = 'rowid' AND attnum > 0 AND NOT attisdropped),"
        " (SELECT a.attname::text FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid"
        " AND a.attnum = i.indkey[0] WHERE i.indrelid = c.oid AND i.indisprimary"
        " AND i.indnatts = 1 AND a.atttypid IN (20, 21, 23)), '')"
        " FROM pg_class c WHERE c.oid = to_regclass(?1)",
        {PgValue::Text(QuoteIdentifier(platform::LowerAscii(table)))}, "Opening table " + table);
    if (found.Rows() == 0) {
      c.Raise(kErrorNoTable, kPgSource,
              "The database engine cannot find the input table or query '" + table +
                  "'. Make sure it exists and that its name is spelled correctly.");
    }
    key_column = std::string(found.Text(0, 0));
    if (key_column.empty()) {
      c.Raise(kErrorInvalidArgument, kPgSource,
              "Table " + table +
                  " has no column that identifies a row (a rowid column or an integer primary "
                  "key of one column).");
    }
  }

  // The record's fields as row `row_index` fills them.
  void BuildImage(size_t row_index) {
    char* image = images.data() + row_index * record_size;
    // The index stays valid unless this row's key changes (a charge writes another column).
    const FieldBinding* key = nullptr;
    std::string old_key;
    if (index_built) {
      for (const FieldBinding& field : fields) {
        if (field.ordinal == index_ordinal && field.type == FieldType::kText) key = &field;
      }
      if (key != nullptr) old_key.assign(image + key->offset, key->size);
    }
    std::memset(image, 0, record_size);
    const Row& row = rows[row_index];
    Span* span = spans.data() + row_index * fields.size();
    for (const FieldBinding& field : fields) {
      char* at = image + field.offset;
      const size_t column = static_cast<size_t>(field.ordinal - 1);
      static const Value kNull;
      const Value& value = column < row.values.size() ? row.values[column] : kNull;
      if (field.type == FieldType::kText) {
        if (const auto* s = std::get_if<std::string>(&value)) {
          std::memcpy(at, s->data(), std::min(s->size(), field.size - 1));  // cut to the field
        } else {
          const std::string text = AsText(value);
          std::memcpy(at, text.data(), std::min(text.size(), field.size - 1));
        }
      } else {
        const std::int32_t number = AsInteger(value);
        std::memcpy(at, &number, sizeof number);
      }
      // A text's terminator is the first zero byte, which the field always holds.
      const size_t used =
          field.type == FieldType::kText ? ::strnlen(at, field.size - 1) + 1 : field.size;
      *span++ = WordsOf(field.offset, used);
    }
    if (key == nullptr || old_key.compare(0, key->size, image + key->offset, key->size) != 0) {
      index_built = false;
    }
  }

  // The words a move copies for `size` bytes at `offset`; the last one ends at the record's end
  // at the latest (records under 8 bytes are copied whole).
  Span WordsOf(size_t offset, size_t size) const {
    constexpr size_t kWord = sizeof(std::uint64_t);
    if (record_size < kWord) return {0, 0};
    const size_t last = std::min(offset + (size - 1) / kWord * kWord, record_size - kWord);
    return {static_cast<std::uint32_t>(std::min(offset, last)), static_cast<std::uint32_t>(last)};
  }

  void BuildImages() {
    index_built = false;
    images.assign(record_size * rows.size(), '\0');
    spans.assign(record_size > 0 ? fields.size() * rows.size() : 0, Span{0, 0});
    for (size_t i = 0; i < rows.size() && record_size > 0; ++i) BuildImage(i);
    Publish();
  }

  // Hands the inline moves what they need; after every change of rows, images or binding.
  void Publish() {
    scan.open = connection ? &connection->is_open : nullptr;
    scan.count = rows.size();
    scan.record = record;
    scan.images = images.data();
    scan.stride = record_size;
    scan.spans = spans.data();
    scan.spans_per_row = fields.size();
    scan.fast = open && connection && (record == nullptr || contiguous);
  }

  void Fill() {
    if (record == nullptr || current() >= rows.size()) return;
    const char* image = images.data() + current() * record_size;
    if (contiguous) {
      std::memcpy(record, image, record_size);
      return;
    }
    for (const FieldBinding& field : fields) {
      std::memcpy(static_cast<char*>(record) + field.offset, image + field.offset, field.size);
    }
  }

  // Brings the cached rows up to date before a scan: all of them after the file was opened again,
  // otherwise when the table changed (keeping the keyset unless `requery`).
  void Refresh(bool requery) {
    if (generation != connection->generation) {
      Load(false);
    } else if (Changed(requery ? keyset_seen : values_seen)) {
      Load(!requery);
    }
  }

  [[noreturn]] void RowChanged() {
    values_seen.version = keyset_seen.version = -1;  // read the table again at the next scan
    values_seen.header_valid = keyset_seen.header_valid = false;
    connection->Raise(kErrorRowChanged, connection->postgres ? kPgSource : kEngineSource,
                      "Row cannot be located for updating. Some values may have been changed "
                      "since it was last read.");
  }

  const FieldBinding& IndexField() {
    for (const FieldBinding& field : fields) {
      if (field.ordinal == index_ordinal && field.type == FieldType::kText) return field;
    }
    connection->Raise(kErrorInvalidArgument, kRecordsetSource,
                      "Seek needs an index on a column that the bound record holds as text.");
  }

  void BuildIndex(const FieldBinding& field) {
    index.clear();
    index.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      const char* at = images.data() + i * record_size + field.offset;
      index.emplace(std::string_view(at, ::strnlen(at, field.size)), i);  // the first one stays
    }
    index_built = true;
  }

  void CheckFields(std::span<const FieldBinding> bound) {
    for (const FieldBinding& field : bound) {
      if (field.ordinal < 1 || static_cast<size_t>(field.ordinal) > columns.size() ||
          (field.type == FieldType::kText && field.size == 0) ||
          (field.type == FieldType::kInteger && field.size != sizeof(std::int32_t))) {
        connection->Raise(kErrorInvalidArgument, kRecordsetSource,
                          "The record binding names column " + std::to_string(field.ordinal) +
                              ", which table " + table + " does not have.");
      }
    }
  }
};

// ---- Recordset ----

Recordset::Recordset() : impl_(std::make_unique<Impl>(scan_)) {}
Recordset::~Recordset() = default;

void Recordset::Open(const std::string& table, const ConnectionPtr& connection,
                     CursorTypeEnum cursor, LockTypeEnum lock, long options) {
  if (impl_->open) {
    throw ComError(kErrorObjectOpen, kRecordsetSource,
                   "Operation is not allowed when the object is open.");
  }
  if (!connection || connection.get()->State() != adStateOpen) {
    if (connection) {
      connection.get()->impl()->Raise(
          kErrorInvalidConnection, kRecordsetSource,
          "The connection cannot be used to perform this operation. It is "
          "either closed or invalid in this context.");
    }
    throw ComError(
        kErrorInvalidConnection, kRecordsetSource,
        "The connection cannot be used to perform this operation. It is either closed or "
        "invalid in this context.");
  }
  ConnectionImpl& c = *connection.get()->impl();
  if (cursor != adOpenKeyset || lock != adLockOptimistic || options != adCmdTable) {
    c.Raise(kErrorInvalidArgument, kRecordsetSource,
            "Only whole tables with a keyset cursor and optimistic locking can be opened.");
  }
  impl_->connection = connection.get()->impl();
  impl_->table = table;
  impl_->table_writes = &c.table_writes[platform::UpperAscii(table)];
  if (c.postgres) {
    impl_->OpenPg();
  } else {
    Statement check{Prepare(
        c, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE")};
    sqlite3_bind_text(check.handle, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(check.handle);
    if (rc == SQLITE_DONE) {
      c.Raise(kErrorNoTable, kEngineSource,
              "The database engine cannot find the input table or query '" + table +
                  "'. Make sure it exists and that its name is spelled correctly.");
    }
    if (rc != SQLITE_ROW) c.RaiseEngine(rc, "Opening table " + table);
  }
  impl_->Load(false);
  scan_.current = 0;
  impl_->open = true;
  impl_->Publish();
}

long Recordset::State() const noexcept { return impl_->open ? adStateOpen : adStateClosed; }

long Recordset::RecordCount() const {
  impl_->Connected(kRecordsetSource);
  return static_cast<long>(impl_->rows.size());
}

void Recordset::MoveFirst() {
  impl_->Connected(kRecordsetSource);
  impl_->Refresh(false);
  scan_.current = 0;
  impl_->Fill();
}

void Recordset::MoveNextChecked() {
  ConnectionImpl& c = impl_->Connected(kRecordsetSource);
  if (scan_.current >= impl_->rows.size())
    c.Raise(kErrorNoCurrentRecord, kRecordsetSource, kNoCurrentRecord);
  ++scan_.current;
  impl_->Fill();
}

void Recordset::MoveLast() {
  impl_->Connected(kRecordsetSource);
  scan_.current = impl_->rows.empty() ? 0 : impl_->rows.size() - 1;
  impl_->Fill();
}

bool Recordset::IsEOFChecked() const {
  impl_->Connected(kRecordsetSource);
  return scan_.current >= impl_->rows.size();
}

void Recordset::Requery(long) {
  impl_->Connected(kRecordsetSource);
  impl_->Refresh(true);
  scan_.current = 0;
  impl_->Fill();
}

void Recordset::SetIndex(const std::string& column) {
  ConnectionImpl& c = impl_->Connected(kRecordsetSource);
  for (size_t i = 0; i < impl_->columns.size(); ++i) {
    if (platform::EqualsNoCase(impl_->columns[i], column)) {
      impl_->index_ordinal = static_cast<int>(i + 1);
      impl_->index_built = false;
      return;
    }
  }
  c.Raise(kErrorInvalidArgument, kRecordsetSource,
          "Table " + impl_->table + " has no column " + column + " to index.");
}

void Recordset::Seek(const std::string& key, SeekEnum) {
  Impl& r = *impl_;
  r.Connected(kRecordsetSource);
  if (r.index_ordinal == 0 || r.record == nullptr) {
    r.connection->Raise(kErrorInvalidArgument, kRecordsetSource,
                        "Seek needs an index and a bound record.");
  }
  r.Refresh(false);
  const FieldBinding& field = r.IndexField();
  if (!r.index_built) r.BuildIndex(field);
  const std::string_view wanted(key.c_str());  // a C string: up to its first zero byte
  if (wanted.size() < field.size) {
    const auto found = r.index.find(wanted);
    if (found != r.index.end()) {
      scan_.current = found->second;
      r.Fill();
      return;
    }
  }
  // Not found: past the end, the bound record holding the last row, as a scan leaves it.
  if (!r.rows.empty()) {
    scan_.current = r.rows.size() - 1;
    r.Fill();
  }
  scan_.current = r.rows.size();
}

void Recordset::Close() {
  if (!impl_->open) {
    throw ComError(kErrorObjectClosed, kRecordsetSource,
                   "Operation is not allowed when the object is closed.");
  }
  impl_->open = false;
  impl_->rows.clear();
  impl_->images.clear();
  impl_->spans.clear();
  scan_.current = 0;
  impl_->record = nullptr;
  impl_->Publish();
}

RecordBindingPtr Recordset::QueryBinding() {
  try {
    return RecordBindingPtr(std::make_shared<RecordBinding>(shared_from_this()));
  } catch (const std::bad_alloc&) {
    throw ComError(kErrorOutOfMemory, kRecordsetSource, "Out of memory");
  }
}

RecordsetPtr CreateRecordset() {
  try {
    return RecordsetPtr(std::make_shared<Recordset>());
  } catch (const std::bad_alloc&) {
    throw ComError(kErrorOutOfMemory, kRecordsetSource, "Out of memory");
  }
}

// ---- RecordBinding ----

void RecordBinding::Bind(void* record, std::span<const FieldBinding> fields) {
  Recordset::Impl& r = *recordset_->impl_;
  r.Connected(kRecordsetSource);
  if (record == nullptr) {
    r.connection->Raise(kErrorPointer, kRecordsetSource, "Invalid pointer");
  }
  r.CheckFields(fields);
  const bool same_layout = r.fields.data() == fields.data() && r.fields.size() == fields.size();
  r.record = record;
  if (!same_layout) {
    r.fields = fields;
    r.record_size = 0;
    size_t covered = 0;
    for (const FieldBinding& field : fields) {
      r.record_size = std::max(r.record_size, field.offset + field.size);
      covered += field.size;
    }
    r.contiguous = covered == r.record_size;  // fields never overlap
    r.BuildImages();
  }
  r.Publish();
  r.Fill();
}

void RecordBinding::Insert(void* record, std::span<const FieldBinding> fields) {
  Recordset::Impl& r = *recordset_->impl_;
  ConnectionImpl& c = r.Connected(kRecordsetSource);
  r.CheckFields(fields);
  std::string names, places;
  std::vector<Value> values;
  for (const FieldBinding& field : fields) {
    if (!field.modifiable) continue;
    if (!values.empty()) {
      names += ", ";
      places += ", ";
    }
    values.push_back(FieldValue(record, field));
    names += QuoteIdentifier(r.columns[static_cast<size_t>(field.ordinal - 1)]);
    places += "?" + std::to_string(values.size());
  }
  const std::string sql =
      values.empty()
          ? "INSERT INTO " + QuoteIdentifier(r.table) + " DEFAULT VALUES"
          : "INSERT INTO " + QuoteIdentifier(r.table) + " (" + names + ") VALUES (" + places + ")";
  if (c.postgres) {
    std::vector<PgValue> sent;
    for (const Value& value : values) sent.push_back(ToPg(value));
    // The new row comes back with the values the table gave its other columns.
    const PgResult result = PgRun(c, sql + " RETURNING " + QuoteIdentifier(r.key_column) + ", *",
                                  sent, "Adding a row to " + r.table);
    ++r.TableWrites();
    r.rows.push_back(r.PgRow(result, 0, r.PgColumns(result)));
    r.current() = r.rows.size() - 1;
    r.values_seen.writes = r.keyset_seen.writes = r.TableWrites();
    r.BuildImages();
    if (r.record == record) r.Fill();
    return;
  }
  Statement insert{Prepare(c, sql)};
  for (size_t i = 0; i < values.size(); ++i)
    BindValue(insert.handle, static_cast<int>(i + 1), values[i]);
  const int rc = sqlite3_step(insert.handle);
  if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Adding a row to " + r.table);
  const std::int64_t rowid = sqlite3_last_insert_rowid(c.db);
  ++r.TableWrites();

  // The new row, with the values the table gave its other columns, becomes the current row.
  Statement read{
      Prepare(c, "SELECT rowid, * FROM " + QuoteIdentifier(r.table) + " WHERE rowid = ?1")};
  sqlite3_bind_int64(read.handle, 1, rowid);
  Recordset::Impl::Row row;
  row.rowid = rowid;
  const int read_rc = sqlite3_step(read.handle);
  if (read_rc != SQLITE_ROW) c.RaiseEngine(read_rc, "Reading the new row of " + r.table);
  for (int i = 1; i < sqlite3_column_count(read.handle); ++i)
    row.values.push_back(ColumnValue(read.handle, i));
  r.rows.push_back(std::move(row));
  r.current() = r.rows.size() - 1;
  r.values_seen.writes = r.keyset_seen.writes = r.TableWrites();
  r.BuildImages();
  if (r.record == record) r.Fill();
}

void RecordBinding::Write(void* record, std::span<const FieldBinding> fields) {
  Recordset::Impl& r = *recordset_->impl_;
  ConnectionImpl& c = r.Connected(kRecordsetSource);
  if (r.current() >= r.rows.size())
    c.Raise(kErrorNoCurrentRecord, kRecordsetSource, kNoCurrentRecord);
  r.CheckFields(fields);
  Recordset::Impl::Row& row = r.rows[r.current()];

  // Only what the caller changed is written, and only if nobody changed it since it was read.
  struct Change {
    size_t column;
    Value value;
  };
  std::vector<Change> changes;
  for (const FieldBinding& field : fields) {
    if (!field.modifiable) continue;
    const size_t column = static_cast<size_t>(field.ordinal - 1);
    Value now = FieldValue(record, field);
    const Value& was = row.values[column];
    const bool same = field.type == FieldType::kText
                          ? AsText(was).substr(0, field.size - 1) == std::get<std::string>(now)
                          : AsInteger(was) == std::get<std::int64_t>(now) &&
                                !std::holds_alternative<std::monostate>(was);
    if (!same) changes.push_back({column, std::move(now)});
  }
  if (changes.empty()) return;

  std::string sql = "UPDATE " + QuoteIdentifier(r.table) + " SET ";
  std::string where =
      " WHERE " + (c.postgres ? QuoteIdentifier(r.key_column) : std::string("rowid")) + " = ?1";
  const char* same = c.postgres ? " IS NOT DISTINCT FROM ?" : " IS ?";
  int parameter = 2;
  for (size_t i = 0; i < changes.size(); ++i) {
    const std::string name = QuoteIdentifier(r.columns[changes[i].column]);
    sql += (i ? ", " : "") + name + " = ?" + std::to_string(parameter++);
    where += " AND " + name + same + std::to_string(parameter++);
  }
  if (c.postgres) {
    std::vector<PgValue> sent = {PgValue::Integer(row.rowid)};
    for (const Change& change : changes) {
      sent.push_back(ToPg(change.value));
      sent.push_back(ToPg(row.values[change.column]));
    }
    const PgResult result = PgRun(c, sql + where, sent, "Updating a row of " + r.table);
    if (std::strcmp(PQcmdTuples(result.get()), "1") != 0) r.RowChanged();
    for (Change& change : changes) row.values[change.column] = std::move(change.value);
    if (r.record_size > 0) r.BuildImage(r.current());
    ++r.TableWrites();
    r.values_seen.writes = r.keyset_seen.writes = r.TableWrites();
    return;
  }
  Statement update{Prepare(c, sql + where)};
  sqlite3_bind_int64(update.handle, 1, row.rowid);
  parameter = 2;
  for (const Change& change : changes) {
    BindValue(update.handle, parameter++, change.value);
    BindValue(update.handle, parameter++, row.values[change.column]);
  }
  const int rc = sqlite3_step(update.handle);
  if (rc != SQLITE_DONE) c.RaiseEngine(rc, "Updating a row of " + r.table);
  if (sqlite3_changes(c.db) != 1) r.RowChanged();
  for (Change& change : changes) row.values[change.column] = std::move(change.value);
  if (r.record_size > 0) r.BuildImage(r.current());
  ++r.TableWrites();
  r.values_seen.writes = r.keyset_seen.writes = r.TableWrites();
}

}  // namespace ado
