// The console's connections to UserTimesDB.mdb: a few kept open, each used by one worker thread
// at a time. Reads take no write lock (the file is in WAL mode); every change is one short
// transaction of the store's change operations. May be used from several threads.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ado.h"

namespace admin {

// How long a change waits for the filter's write lock before "The database is busy, try again".
inline constexpr std::chrono::milliseconds kBusyWait{2000};

inline constexpr const char* kBusyMessage = "The database is busy, try again";

// Whether `error` says the file was locked by another program for longer than the wait.
bool IsBusy(const ado::ComError& error);

class ConnectionPool {
 public:
  explicit ConnectionPool(std::string connection_string)
      : connection_string_(std::move(connection_string)) {}

  // A connection for the caller alone while the Lease lives.
  class Lease {
   public:
    Lease(ConnectionPool* pool, ado::ConnectionPtr connection)
        : pool_(pool), connection_(std::move(connection)) {}
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    const ado::ConnectionPtr& operator*() const { return connection_; }

   private:
    ConnectionPool* pool_;
    ado::ConnectionPtr connection_;
  };

  // An open connection: one kept from before (opened again when the file was replaced, as by a
  // restore), or a new one. Raises ado::ComError when the file cannot be opened.
  Lease Borrow();

 private:
  std::string connection_string_;
  std::mutex mutex_;
  std::vector<ado::ConnectionPtr> idle_;
};

}  // namespace admin
