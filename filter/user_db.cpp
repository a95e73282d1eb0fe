// The database connection and the store error report.
#include "filter/user_db.h"

#include <cstring>

#include "filter/diagnostic_log.h"
#include "filter/registry_settings.h"
#include "filter/shared_store.h"
#include "platform/module.h"
#include "platform/never_destroyed.h"

// Never destroyed: closed by the filter object's destructor (see data_sets.cpp).
ado::ConnectionPtr& m_pConnection = platform::NeverDestroyed<ado::ConnectionPtr>();

namespace {

constexpr DWORD kModulePathSize = 256;
constexpr const char* kDatabaseFile = "UserTimesDB\\UserTimesDB.mdb;";
constexpr const char* kConnectionHead =
    "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=";
constexpr const char* kConnectionTail =
    "Mode=Share Deny None;Extended Properties=;Jet OLEDB:System database=;Jet OLEDB:Registry "
    "Path=;Jet OLEDB:Database Password=;Jet OLEDB:Engine Type=5;Jet OLEDB:Database Locking "
    "Mode=0;Jet OLEDB:Global Partial Bulk Ops=2;Jet OLEDB:Global Bulk Transactions=1;Jet "
    "OLEDB:New Database Password=;Jet OLEDB:Create System Database=False;Jet OLEDB:Encrypt "
    "Database=False;Jet OLEDB:Don't Copy Locale on Compact=False;Jet OLEDB:Compact Without "
    "Replica Repair=False;Jet OLEDB:SFP=False;User Id=Admin;PASSWORD=;";

// The module's directory with its trailing backslash; empty when the name holds none.
std::string LibraryDirectory() {
  char path[kModulePathSize] = {};
  // No module of that name: the host program's own file name is read instead.
  HMODULE module = GetModuleHandleA("Minutrix.dll");
  GetModuleFileNameA(module, path, kModulePathSize);
  std::string directory(path, ::strnlen(path, kModulePathSize));
  while (!directory.empty() && directory.back() != '\\') directory.pop_back();
  return directory;
}

}  // namespace

std::string BuildConnectionString(const std::string& library_directory) {
  return std::string(kConnectionHead) + library_directory + kDatabaseFile + kConnectionTail;
}

bool OpenDBConnection(const std::string& connection_string) {
  try {
    m_pConnection.Release();
    m_pConnection = ado::CreateConnection();
    m_pConnection->Open(connection_string, "", "", 0);
    if (m_pConnection && m_pConnection->State() == ado::adStateOpen) {
      DoMessageHandling("DataBase Connection initialized successfully!", 1);
      if (m_pConnection->ReadOnly()) {
        DoMessageHandling(
            "[OpenDBConnection] The database file is read-only for this process: no minute can "
            "be charged until its owner or mode lets it write",
            3);
      }
      return true;
    }
    DoMessageHandling("DataBase Connection failed to initialize!", 3);
    return false;
  } catch (const ado::ComError& error) {
    PrintConnectionError(m_pConnection);
    PrintComError(error);
    return false;
  }
}

bool InitializeDBConnection() {
  const std::string shared = GetRegValue(kMinutrixKey, store::kStoreValue);
  SetSharedStore(shared);
  if (shared.empty()) return OpenDBConnection(BuildConnectionString(LibraryDirectory()));
  DoMessageHandling("[InitializeDBConnection] The store is shared (MinutrixStore): %s",
                    HideStorePassword(shared), 1);
  return OpenDBConnection(shared);
}

void TerminateUserDB() {
  try {
    if (m_pConnection->State() == ado::adStateOpen) m_pConnection->Close();
    m_pConnection.Release();
  } catch (const ado::ComError& error) {
    PrintComError(error);
  } catch (...) {
    DoMessageHandling("[TerminateUserDB] Error", 3);
  }
}

void PrintConnectionError(const ado::ConnectionPtr& connection) {
  if (!connection || StoreErrorsQuiet()) return;
  try {
    const long count = connection->ErrorCount();
    for (long i = 0; i < count; ++i) {
      const ado::ConnectionError error = connection->ErrorItem(i);
      for (int twice = 0; twice < 2; ++twice) {
        DoMessageHandling("[PrintConnectionError] \t Error number: %x\t ,",
                          static_cast<long long>(error.Number), 3);
        DoMessageHandling("[PrintConnectionError] %s", HideStorePassword(error.Description), 3);
      }
    }
  } catch (...) {
    // The report of an error must not raise one of its own.
  }
}

void PrintComError(const ado::ComError& error) {
  // Every store error passes here: while a shared store is down, it is told once.
  NoteStoreError(error);
  if (StoreErrorsQuiet()) return;
  const std::string meaning = error.ErrorMessage();
  DoMessageHandling("Error:", 3);
  DoMessageHandling("\tCode = %08lx", static_cast<long long>(error.Error()), 3);
  DoMessageHandling("\tCode meaning = %s", meaning, 3);
  DoMessageHandling("Code meaning = %s", meaning, 3);
  DoMessageHandling("\tSource = %s", HideStorePassword(error.Source()), 3);
  DoMessageHandling("\tDescription = %s", HideStorePassword(error.Description()), 3);
}

void ReportStoreError(const std::string& own_line, const ado::ComError& error) {
  if (!own_line.empty() && !StoreErrorsQuiet()) DoMessageHandling(own_line, 3);
  PrintConnectionError(m_pConnection);
  PrintComError(error);
}
