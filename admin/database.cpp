// The connection pool.
#include "admin/database.h"

namespace admin {

bool IsBusy(const ado::ComError& error) {
  // The database layer's one text for SQLITE_BUSY and SQLITE_LOCKED.
  return error.Description().find("is locked by another program") != std::string::npos;
}

ConnectionPool::Lease::~Lease() {
  if (!connection_) return;
  std::lock_guard lock(pool_->mutex_);
  pool_->idle_.push_back(std::move(connection_));
}

ConnectionPool::Lease ConnectionPool::Borrow() {
  ado::ConnectionPtr connection;
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      connection = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  if (connection) {
    if (connection->ReopenNeeded() != ado::Connection::ReopenReason::kNone) connection->Reopen();
    return Lease(this, std::move(connection));
  }
  connection = ado::CreateConnection();
  connection->Open(connection_string_, "", "", 0);
  connection->SetCommandTimeout(kBusyWait);
  return Lease(this, std::move(connection));
}

}  // namespace admin
