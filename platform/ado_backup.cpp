// Whole-database copies: SQLite's online backup into a temporary file beside the target, which is
// then renamed over it.
#include "platform/ado_backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/ado_sqlite.h"
#include "platform/machine.h"

namespace ado {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long a copy or a replacement waits for the other programs on the file.
constexpr std::chrono::seconds kPatience{10};
constexpr const char* kSideFiles[] = {"-wal", "-shm", "-journal"};

[[noreturn]] void Fail(const std::string& text) { throw ComError(kErrorFail, kEngineSource, text); }

ConnectionImpl& OpenSource(const ConnectionPtr& connection) {
  if (connection && connection.get()->IsPostgreSql()) {
    Fail(
        "A PostgreSQL database is backed up on its server (pg_dump), or copied to a file with "
        "minutrix-db copy.");
  }
  if (!connection || connection.get()->State() != adStateOpen || !connection.get()->impl()->db) {
    throw ComError(
        kErrorInvalidConnection, kConnectionSource,
        "The connection cannot be used to perform this operation. It is either closed or "
        "invalid in this context.");
  }
  return *connection.get()->impl();
}

fs::path HostOf(const std::string& windows_path) {
  const auto host = platform::HostPath(windows_path);
  if (!host) Fail("Cannot write '" + windows_path + "': the name maps to no file.");
  return *host;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string TemporaryBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  return target.string() + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

void RemoveWithSideFiles(const std::string& path) {
  ::unlink(path.c_str());
  for (const char* suffix : kSideFiles) ::unlink((path + suffix).c_str());
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

// Copies the main database of `from` into a new file at `path`, in one step: one read transaction
// on the source, so one moment of it, while writers go on in WAL mode. The copy is left closed, in
// WAL mode and synced; a failure removes it.
void CopyInto(sqlite3* from, const std::string& path, const std::string& shown) {
  sqlite3* to = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &to,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE, nullptr);
  std::string problem;
  if (rc != SQLITE_OK) {
    problem = sqlite3_errstr(rc);
  } else if (sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main")) {
    const auto deadline = Clock::now() + kPatience;
    do {
      rc = sqlite3_backup_step(backup, -1);
      if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    } while ((rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED) &&
             Clock::now() < deadline);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) problem = sqlite3_errstr(rc);
  } else {
    problem = sqlite3_errmsg(to);
  }
  if (problem.empty() &&
      sqlite3_exec(to, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
    problem = sqlite3_errmsg(to);
  }
  if (sqlite3_close(to) != SQLITE_OK && problem.empty()) problem = "the copy could not be closed";
  if (problem.empty() && !SyncPath(path, O_RDONLY)) problem = std::strerror(errno);
  if (!problem.empty()) {
    RemoveWithSideFiles(path);
    Fail("Cannot copy the database to '" + shown + "': " + problem);
  }
}

// Renames the finished copy over `target` and makes the rename durable.
void MoveIntoPlace(const std::string& copy, const fs::path& target, const std::string& shown) {
  if (::rename(copy.c_str(), target.c_str()) != 0) {
    const std::string problem = std::strerror(errno);
    RemoveWithSideFiles(copy);
    Fail("Cannot put the copy in place of '" + shown + "': " + problem);
  }
  SyncPath(target.parent_path().empty() ? "." : target.parent_path().string(),
           O_RDONLY | O_DIRECTORY);
}

// A connection on the file to be replaced that keeps every writer out while its write-ahead log
// is empty; closed (its transaction rolled back) at the end of the replacement.
class QuietFile {
 public:
  explicit QuietFile(const std::string& path) : path_(path) {}
  ~QuietFile() {
    if (db_ == nullptr) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  QuietFile(const QuietFile&) = delete;
  QuietFile& operator=(const QuietFile&) = delete;

  // True once writers are held off with nothing in the log; true at once for a file that is no
  // database (nothing of it is worth keeping); false when the file stayed busy.
  bool Quiet() {
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
      return true;
    }
    sqlite3_busy_timeout(db_, 1000);
    const auto deadline = Clock::now() + kPatience;
    do {
      const int rc =
          sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
      if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT) return true;
      if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        // Run on a damaged file, the statement may have failed the read; a file that cannot be
        // read is replaced all the same.
        struct stat log {};
        if (::stat((path_ + "-wal").c_str(), &log) != 0 || log.st_size == 0) return true;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      } else {
        const int code = sqlite3_errcode(db_);
        if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < deadline);
    return false;
  }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace

void BackupDatabase(const ConnectionPtr& source, const std::string& destination) {
  ConnectionImpl& c = OpenSource(source);
  const fs::path target = HostOf(destination);
  if (SameFile(target.string(), c.host_path)) {
    Fail("Cannot copy the database to '" + destination + "': that is the database itself.");
  }
  for (const char* suffix : kSideFiles) {
    struct stat side {};
    if (::stat((target.string() + suffix).c_str(), &side) == 0) {
      Fail("Cannot copy the database to '" + destination + "': it is in use (it has a " + suffix +
           " file); choose another name.");
    }
  }
  const std::string copy = TemporaryBeside(target);
  CopyInto(c.db, copy, destination);
  MoveIntoPlace(copy, target, destination);
}

void ReplaceDatabase(const ConnectionPtr& source, const std::string& destination) {
  ConnectionImpl& c = OpenSource(source);
  const fs::path target = HostOf(destination);
  if (SameFile(target.string(), c.host_path)) {
    Fail("Cannot replace '" + destination + "' with itself.");
  }
  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  const std::string copy = TemporaryBeside(target);
  CopyInto(c.db, copy, destination);
  // The program that has the file open (the filter, as the proxy's user) must be able to write
  // the new one as it wrote the old.
  if (existed && (::chown(copy.c_str(), old.st_uid, old.st_gid) != 0 ||
                  ::chmod(copy.c_str(), old.st_mode & 07777) != 0)) {
    const std::string problem = std::strerror(errno);
    RemoveWithSideFiles(copy);
    Fail("Cannot give the copy the owner and mode of '" + destination + "': " + problem +
         " (run this as root or as the file's owner).");
  }
  QuietFile quiet(target.string());
  if (existed && !quiet.Quiet()) {
    RemoveWithSideFiles(copy);
    Fail("Cannot replace '" + destination +
         "': other programs kept it busy (a transaction, or a reader of old data); nothing was "
         "changed. Try again.");
  }
  MoveIntoPlace(copy, target, destination);
  // The old file's log and index go by name: SQLite finds them by the file's name, and would
  // otherwise take them for the new file's. Its open connections keep theirs.
  for (const char* suffix : kSideFiles) ::unlink((target.string() + suffix).c_str());
}

}  // namespace ado
