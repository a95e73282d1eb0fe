// The database layer the store uses, shaped after ADO with record binding: a connection, record
// sets over whole tables and fixed records bound to their columns by ordinal. SQLite underneath, or
// a PostgreSQL server when the connection string names one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/win_types.h"

using HRESULT = std::int32_t;
struct sqlite3;

namespace ado {

// Codes the layer raises (HRESULTs as ADO and the Jet provider report them).
inline constexpr DWORD kErrorFail = 0x80004005;               // E_FAIL
inline constexpr DWORD kErrorPointer = 0x80004003;            // E_POINTER: no object
inline constexpr DWORD kErrorOutOfMemory = 0x8007000E;        // E_OUTOFMEMORY
inline constexpr DWORD kErrorNoCurrentRecord = 0x800A0BCD;    // adErrNoCurrentRecord
inline constexpr DWORD kErrorInvalidArgument = 0x800A0BB9;    // adErrInvalidArgument
inline constexpr DWORD kErrorObjectClosed = 0x800A0E78;       // adErrObjectClosed
inline constexpr DWORD kErrorObjectOpen = 0x800A0E79;         // adErrObjectOpen
inline constexpr DWORD kErrorInvalidConnection = 0x800A0E7D;  // adErrInvalidConnection
inline constexpr DWORD kErrorNoTable = 0x80040E37;            // DB_E_NOTABLE
inline constexpr DWORD kErrorRowChanged = 0x80040E38;         // row changed or gone since read

// On PostgreSQL, the advisory lock that a write transaction takes first, so that writers follow
// each other as they do on a SQLite file ("Minutrix" in ASCII).
inline constexpr long long kPostgreSqlWriteLock = 0x4d696e7574726978LL;

// Option values of the ADO interface.
enum CursorTypeEnum {
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adOpenStatic = 3
};
enum LockTypeEnum { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum CommandTypeEnum { adCmdText = 1, adCmdTable = 2 };
enum ObjectStateEnum { adStateClosed = 0, adStateOpen = 1 };
enum SeekEnum { adSeekFirstEQ = 1 };
inline constexpr long adOptionUnspecified = -1;

// A raised database error, as _com_error carries it.
class ComError : public std::exception {
 public:
  ComError(DWORD code, std::string source = {}, std::string description = {});
  DWORD Error() const noexcept { return code_; }
  const std::string& Source() const noexcept { return source_; }
  const std::string& Description() const noexcept { return description_; }
  // The system's text for the code; "IDispatch error #N" for 0x80040200..0x8004FFFF without one,
  // otherwise "Unknown error 0x...".
  std::string ErrorMessage() const;
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  DWORD code_;
  std::string source_;
  std::string description_;
};

// A reference that raises E_POINTER when used empty, as ADO's smart pointers do.
template <class T>
class Ptr {
 public:
  Ptr() = default;
  explicit Ptr(std::shared_ptr<T> object) : object_(std::move(object)) {}
  T* operator->() const {
    if (!object_) throw ComError(kErrorPointer, {}, "Invalid pointer");
    return object_.get();
  }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  T* get() const noexcept { return object_.get(); }
  void Release() noexcept { object_.reset(); }

 private:
  std::shared_ptr<T> object_;
};

// One entry of a connection's error list.
struct ConnectionError {
  DWORD Number = 0;
  std::string Description;
};

struct ConnectionImpl;

// A connection to one database file, or to a PostgreSQL database. Not for use by several threads
// at once.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the file named by the "Data Source" of `connection_string` (a Windows path, mapped onto
  // the machine root); the file must exist and be a database. A PostgreSQL connection string
  // (IsPostgreSql) connects to that server instead, waiting about two seconds at most. Raises
  // ComError on failure; its text never holds the connection string's password.
  void Open(const std::string& connection_string, const std::string& user_id,
            const std::string& password, long options);
  long State() const noexcept;
  // Whether the connection is (or was last opened as) one to a PostgreSQL server.
  bool IsPostgreSql() const noexcept;
  // Closes the file; record sets opened on it fail from then on.
  void Close();
  // How long an operation waits for a database locked by another program before it raises.
  void SetCommandTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds CommandTimeout() const noexcept;
  // Transactions as ADO's Connection offers them: the changes made through this connection from
  // BeginTrans on are written together by CommitTrans, or none of them after RollbackTrans (or a
  // failed CommitTrans). BeginTrans takes the file's write lock at once, waiting as long as any
  // write would, and returns the nesting level (1; nesting is not supported). Each raises ComError
  // on failure; record sets opened on the connection read their tables again after a rollback.
  long BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  // Why the file should be opened again, when it should:
  // - kReplaced: the Data Source no longer names the file this connection opened (deleted,
  //   renamed away, replaced by another file), or a file came or went since a failed open;
  // - kAccessChanged: the connection is read-only, or closed after a failed open, and the file's
  //   owner or mode changed since it was opened;
  // - kClosed: the connection is closed after a failed open, nothing changed, a second has passed;
  //   on PostgreSQL also when the server broke the connection (stopped, restarted, unreachable).
  // One stat call; on PostgreSQL a look at the socket, no round trip.
  enum class ReopenReason { kNone, kReplaced, kAccessChanged, kClosed };
  ReopenReason ReopenNeeded() noexcept;
  bool FileReplaced() noexcept { return ReopenNeeded() != ReopenReason::kNone; }
  // Whether the file is open read-only: its owner or mode do not let this process write it.
  bool ReadOnly() const noexcept;
  // Opens the Data Source again (an open transaction is lost); record sets opened on the
  // connection read their whole tables again at their next scan. Raises ComError on failure, and
  // the connection stays closed until a later Reopen succeeds.
  void Reopen();
  // Errors of the latest failed operation on this connection.
  long ErrorCount() const noexcept;
  ConnectionError ErrorItem(long index) const;

  const std::shared_ptr<ConnectionImpl>& impl() const noexcept { return impl_; }

 private:
  std::shared_ptr<ConnectionImpl> impl_;
};
using ConnectionPtr = Ptr<Connection>;

// How one field of a bound record maps onto a column. Text fields are char arrays of `size` bytes
// holding at most size - 1 bytes and a terminating zero; integer fields are 32-bit.
enum class FieldType { kText, kInteger };
struct FieldBinding {
  int ordinal;  // 1 = first column of the table
  FieldType type;
  std::size_t offset;  // of the field in the record
  std::size_t size;    // of the field in bytes
  bool modifiable;     // written back by Update and AddNew
};

class Recordset;

// The record-binding interface of a record set (IADORecordBinding). A Record is a standard-layout
// struct with `static std::span<const FieldBinding> Bindings()`.
class RecordBinding {
 public:
  explicit RecordBinding(std::shared_ptr<Recordset> recordset) : recordset_(std::move(recordset)) {}
  // Binds `record`: it is filled from the current row now and after every move.
  template <class Record>
  void BindToRecordset(Record* record) {
    Bind(record, Record::Bindings());
  }
  // Appends a row built from the record's modifiable fields and makes it the current row.
  template <class Record>
  void AddNew(Record* record) {
    Insert(record, Record::Bindings());
  }
  // Writes the record's modifiable fields that differ from the row as read into the current row,
  // in a transaction of its own, committed to the file before it returns. Raises when another
  // program changed those columns or deleted the row since it was read.
  template <class Record>
  void Update(Record* record) {
    Write(record, Record::Bindings());
  }

 private:
  void Bind(void* record, std::span<const FieldBinding> fields);
  void Insert(void* record, std::span<const FieldBinding> fields);
  void Write(void* record, std::span<const FieldBinding> fields);

  std::shared_ptr<Recordset> recordset_;
};
using RecordBindingPtr = Ptr<RecordBinding>;

// A keyset record set over one whole table. The set of rows is fixed when it is opened or
// requeried; the values are re-read when a scan starts (MoveFirst, Requery) if any connection has
// changed the table since they were last read. Not for use by several threads at once.
class Recordset : public std::enable_shared_from_this<Recordset> {
 public:
  Recordset();
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Only a whole table (adCmdTable) can be opened. Raises ComError on failure.
  void Open(const std::string& table, const ConnectionPtr& connection, CursorTypeEnum cursor,
            LockTypeEnum lock, long options);
  long State() const noexcept;
  long RecordCount() const;
  void MoveFirst();
  // Scans move row by row through thousands of rows per request: the common case is inline.
  void MoveNext() {
    if (scan_.Usable() && scan_.current < scan_.count) {
      ++scan_.current;
      scan_.Fill();
      return;
    }
    MoveNextChecked();
  }
  void MoveLast();
  // True when there is no current row: past the last one, or the set is empty.
  bool IsEOF() const { return scan_.Usable() ? scan_.current >= scan_.count : IsEOFChecked(); }
  // Reads the set of rows again and moves to the first.
  void Requery(long options);
  // The index that Seek uses, named by its column (as Jet tables opened directly offer indexes).
  // Raises ComError when the table has no such column.
  void SetIndex(const std::string& column);
  // Moves to the first row, in table order, whose indexed column holds exactly `key` as the bound
  // record's text field holds it (cut to the field; a key that does not fit never matches), past
  // the end when there is none (the bound record then holds the last row, as after a scan that
  // found nothing). Rereads the table first when it changed, as MoveFirst does. Costs
  // a hash look-up, not a scan; needs SetIndex and a bound record that binds the column as text.
  void Seek(const std::string& key, SeekEnum option = adSeekFirstEQ);
  void Close();
  // The binding interface of this record set.
  RecordBindingPtr QueryBinding();

 private:
  friend class RecordBinding;
  struct Impl;

  // Per row, the bytes of its image that a move copies: a text field up to its terminator (the
  // rest of the field keeps what an earlier row left there), any other field whole; as the
  // offsets of the first and the last 8-byte word that cover them within the record.
  struct Span {
    std::uint32_t first;
    std::uint32_t last;
  };

  // The position and what a move copies. `fast` is set only while the set is open and the bound
  // record (if any) is one block of fields, so the inline moves need no other check.
  struct Scan {
    bool fast = false;
    const bool* open = nullptr;  // the connection's open flag
    std::size_t current = 0;     // == count: past the end
    std::size_t count = 0;
    void* record = nullptr;
    const char* images = nullptr;  // per row, the record's bytes as that row fills them
    std::size_t stride = 0;
    const Span* spans = nullptr;  // per row, spans_per_row of them
    std::size_t spans_per_row = 0;
    bool Usable() const noexcept { return fast && *open; }
    void Fill() const noexcept {
      if (record == nullptr || current >= count) return;
      // Word by word: the caller reads a field right after the move, and a read of what a
      // library memcpy just wrote waits for its wide stores to drain. A word may reach past a
      // span into the next field or the terminator's zeros: it writes the row's own bytes there.
      constexpr std::size_t kWord = sizeof(std::uint64_t);
      char* const to = static_cast<char*>(record);
      const std::size_t size = stride;  // locals: the stores below may alias this object
      const char* const from = images + current * size;
      if (size < kWord) {
        std::memcpy(to, from, size);
        return;
      }
      const Span* const first = spans + current * spans_per_row;
      const Span* const last = first + spans_per_row;
      std::uint64_t word;
      for (const Span* span = first; span != last; ++span) {
        const std::size_t end = span->last;
        for (std::size_t at = span->first; at < end; at += kWord) {
          std::memcpy(&word, from + at, kWord);
          std::memcpy(to + at, &word, kWord);
        }
        std::memcpy(&word, from + end, kWord);
        std::memcpy(to + end, &word, kWord);
      }
    }
  };

  void MoveNextChecked();
  bool IsEOFChecked() const;

  Scan scan_;
  std::unique_ptr<Impl> impl_;
};
using RecordsetPtr = Ptr<Recordset>;

// Create: new objects by class. Raise E_OUTOFMEMORY when they cannot be made.
ConnectionPtr CreateConnection();
RecordsetPtr CreateRecordset();

// The value of `key` in a connection string of "key=value;" pairs (case-insensitive key, value
// trimmed); empty when absent.
std::string ConnectionStringValue(const std::string& connection_string, const std::string& key);

// Whether `connection_string` names a PostgreSQL database: a postgresql:// or postgres:// URI, or
// libpq's "key=value" form (host=, dbname=, port=, ... and no Data Source). Anything else is a
// database file.
bool IsPostgreSqlConnectionString(const std::string& connection_string);

// `connection_string` fit to print: the password of a key=value pair or a URI (user:password@,
// password=) replaced by "***".
std::string RedactConnectionString(const std::string& connection_string);

}  // namespace ado

// Describes a bound field of `Record`; for the Bindings() tables of bound records.
#define ADO_TEXT_FIELD(Record, ordinal, field, modifiable)                                       \
  ::ado::FieldBinding {                                                                          \
    ordinal, ::ado::FieldType::kText, offsetof(Record, field), sizeof(Record::field), modifiable \
  }
#define ADO_INTEGER_FIELD(Record, ordinal, field, modifiable)                            \
  ::ado::FieldBinding {                                                                  \
    ordinal, ::ado::FieldType::kInteger, offsetof(Record, field), sizeof(Record::field), \
        modifiable                                                                       \
  }
