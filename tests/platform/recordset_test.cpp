// The record-set layer over real SQLite files: keyset reads, write-through updates, outside
// changes, locks, damaged files and text cut to field size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/ado.h"
#include "platform/ado_admin.h"
#include "tests/platform/people_recordset.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using people_test::Person;

// The People table in a SQLite file of a scratch machine.
class PeopleRecordsetTest : public ::testing::Test, protected people_test::PeopleTable {
 protected:
  void SetUp() override {
    fs::create_directories(machine_.root() / "c/data");
    ado::CreateDatabase(std::string("Data Source=") + kSource + ";");
    Connect(std::string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + kSource +
            ";Mode=Share Deny None;");
    ado::Execute(other_,
                 "CREATE TABLE People (ID INTEGER PRIMARY KEY, Name TEXT, Minutes INTEGER)");
    FillAndBind();
  }

  static constexpr const char* kSource = "c:\\Data\\people.mdb";
};

TEST_F(PeopleRecordsetTest, DataSourceIsMappedOntoTheMachineRootInWalMode) {
  EXPECT_TRUE(fs::exists(machine_.root() / "c/data/people.mdb"));
  EXPECT_EQ(ado::QueryText(other_, "PRAGMA journal_mode", {}, ""), "wal");
  EXPECT_EQ(people_->RecordCount(), 3);
}

TEST_F(PeopleRecordsetTest, TextIsCutToTheFieldSize) {
  EXPECT_EQ(Scan(), (std::vector<std::string>{"ANN", "BOB", "CAROLIN"}));
  // Writing the other column leaves the full stored text alone.
  people_->MoveLast();
  row_.Minutes = 11;
  binding_->Update(&row_);
  EXPECT_EQ(ado::QueryText(other_, "SELECT Name FROM People WHERE ID = 3", {}, ""),
            "CAROLINE-LONGER");
}

TEST_F(PeopleRecordsetTest, UpdateIsWrittenThroughAtOnce) {
  people_->MoveFirst();
  people_->MoveNext();
  row_.Minutes = 42;
  binding_->Update(&row_);
  EXPECT_EQ(MinutesOf("BOB"), 42);
  // and survives the connection
  connection_->Close();
  EXPECT_EQ(MinutesOf("BOB"), 42);
}

TEST_F(PeopleRecordsetTest, OutsideChangesAreSeenFromTheNextScan) {
  people_->MoveFirst();
  ado::Execute(other_, "UPDATE People SET Minutes = 99 WHERE Name = 'BOB'");
  people_->MoveNext();
  EXPECT_EQ(row_.Minutes, 10);  // values as they were when the scan began
  people_->MoveFirst();
  people_->MoveNext();
  EXPECT_EQ(row_.Minutes, 99);

  // The set of rows is fixed until Requery; deleted rows drop out at the next scan.
  ado::Execute(other_, "INSERT INTO People (Name, Minutes) VALUES ('DAN', 1)");
  ado::Execute(other_, "DELETE FROM People WHERE Name = 'ANN'");
  EXPECT_EQ(Scan(), (std::vector<std::string>{"BOB", "CAROLIN"}));
  people_->Requery(ado::adOptionUnspecified);
  EXPECT_EQ(people_->RecordCount(), 3);
  EXPECT_EQ(Scan(), (std::vector<std::string>{"BOB", "CAROLIN", "DAN"}));
}

TEST_F(PeopleRecordsetTest, EveryCommitOfAnotherProcessIsSeenAtTheNextScan) {
  if (!fs::exists("/usr/bin/sqlite3")) GTEST_SKIP() << "the sqlite3 shell is not installed";
  const std::string file = (machine_.root() / "c/data/people.mdb").string();
  for (int minutes = 1; minutes <= 4; ++minutes) {
    Scan();
    Scan();  // an unchanged file: the scan trusts what it read
    const auto shell = test_support::Run(
        {"/usr/bin/sqlite3", file,
         "UPDATE People SET Minutes = " + std::to_string(minutes) + " WHERE Name = 'BOB';"});
    ASSERT_EQ(shell.exit_code, 0) << shell.output;
    people_->MoveFirst();
    people_->MoveNext();
    EXPECT_EQ(row_.Minutes, minutes);
  }
  const auto shell = test_support::Run(
      {"/usr/bin/sqlite3", file, "INSERT INTO People (Name, Minutes) VALUES ('EVE', 3);"});
  ASSERT_EQ(shell.exit_code, 0) << shell.output;
  people_->Requery(ado::adOptionUnspecified);
  EXPECT_EQ(Scan(), (std::vector<std::string>{"ANN", "BOB", "CAROLIN", "EVE"}));
}

TEST_F(PeopleRecordsetTest, OwnWriteToAnotherTableHidesNoLaterOutsideChange) {
  ado::Execute(other_, "CREATE TABLE Pets (ID INTEGER PRIMARY KEY, Name TEXT, Minutes INTEGER)");
  ado::Execute(other_, "INSERT INTO Pets (Name, Minutes) VALUES ('REX', 1)");
  ado::RecordsetPtr pets = ado::CreateRecordset();
  pets->Open("Pets", connection_, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
  Person pet{};
  pets->QueryBinding()->BindToRecordset(&pet);
  Scan();
  pet.Minutes = 2;
  pets->QueryBinding()->Update(&pet);  // moves the file on, through this connection
  EXPECT_EQ(Scan().size(), 3u);
  people_->MoveFirst();
  EXPECT_EQ(row_.Minutes, 10);
  ado::Execute(other_, "UPDATE People SET Minutes = 77 WHERE Name = 'ANN'");
  ado::Execute(other_, "UPDATE Pets SET Minutes = 5 WHERE Name = 'REX'");
  people_->MoveFirst();
  EXPECT_EQ(row_.Minutes, 77);
  pets->MoveFirst();
  EXPECT_EQ(pet.Minutes, 5);
}

TEST_F(PeopleRecordsetTest, OutsideChangeAfterACheckpointIsSeen) {
  Scan();
  // The next writer starts the log afresh: its frame count falls back.
  ado::Execute(other_, "PRAGMA wal_checkpoint(TRUNCATE)");
  Scan();
  ado::Execute(other_, "UPDATE People SET Minutes = 55 WHERE Name = 'ANN'");
  people_->MoveFirst();
  EXPECT_EQ(row_.Minutes, 55);
}

TEST_F(PeopleRecordsetTest, MovesOnAClosedConnectionRaise) {
  people_->MoveFirst();
  connection_->Close();
  EXPECT_THROW(people_->MoveNext(), ado::ComError);
  EXPECT_THROW(people_->IsEOF(), ado::ComError);
  EXPECT_THROW(people_->MoveFirst(), ado::ComError);
}

TEST_F(PeopleRecordsetTest, ConflictingOutsideChangeIsRaisedNotOverwritten) {
  people_->MoveFirst();
  ado::Execute(other_, "UPDATE People SET Minutes = 0 WHERE Name = 'ANN'");
  row_.Minutes = 15;
  try {
    binding_->Update(&row_);
    FAIL() << "no error raised";
  } catch (const ado::ComError& error) {
    EXPECT_EQ(error.Error(), ado::kErrorRowChanged);
  }
  EXPECT_EQ(MinutesOf("ANN"), 0);
  EXPECT_EQ(connection_->ErrorCount(), 1);
  people_->MoveFirst();
  EXPECT_EQ(row_.Minutes, 0);
}

TEST_F(PeopleRecordsetTest, LockedDatabaseIsWaitedForThenRaised) {
  connection_->SetCommandTimeout(std::chrono::milliseconds(100));
  ado::Execute(other_, "BEGIN IMMEDIATE");
  ado::Execute(other_, "UPDATE People SET Name = 'HALF' WHERE Name = 'ANN'");
  people_->MoveFirst();  // readers go on in WAL mode
  EXPECT_STREQ(row_.Name, "ANN");
  row_.Minutes = 30;
  EXPECT_THROW(binding_->Update(&row_), ado::ComError);
  ado::Execute(other_, "ROLLBACK");
  EXPECT_EQ(MinutesOf("ANN"), 10);
  people_->MoveFirst();
  row_.Minutes = 30;
  binding_->Update(&row_);
  EXPECT_EQ(MinutesOf("ANN"), 30);
}

TEST_F(PeopleRecordsetTest, QuotesAndSqlAreData) {
  const std::string evil = "x'); DROP TABLE People;--";
  people_->MoveFirst();
  std::snprintf(row_.Name, sizeof row_.Name, "%s", "O'B\"R%");
  binding_->Update(&row_);
  binding_->AddNew(&row_);
  EXPECT_EQ(ado::QueryInteger(other_, "SELECT count(*) FROM People WHERE Name = ?1",
                              {std::string("O'B\"R%")}, 0),
            2);
  EXPECT_NO_THROW(ado::Execute(other_, "INSERT INTO People (Name) VALUES (?1)", {evil}));
  EXPECT_EQ(ado::QueryInteger(other_, "SELECT count(*) FROM People", {}, 0), 5);
}

TEST_F(PeopleRecordsetTest, AddNewMakesTheNewRowCurrent) {
  std::snprintf(row_.Name, sizeof row_.Name, "%s", "TEMP");
  row_.Minutes = 0;
  binding_->AddNew(&row_);
  std::snprintf(row_.Name, sizeof row_.Name, "%s", "EVE");
  binding_->Update(&row_);
  people_->MoveLast();
  EXPECT_STREQ(row_.Name, "EVE");
  EXPECT_EQ(ado::QueryText(other_, "SELECT Name FROM People WHERE ID = 4", {}, ""), "EVE");
}

TEST_F(PeopleRecordsetTest, MisuseRaisesTheLayersCodes) {
  ado::RecordsetPtr none;
  try {
    none->MoveFirst();
    FAIL();
  } catch (const ado::ComError& error) {
    EXPECT_EQ(error.Error(), ado::kErrorPointer);
  }
  Scan();
  EXPECT_TRUE(people_->IsEOF());
  EXPECT_THROW(people_->MoveNext(), ado::ComError);
  EXPECT_THROW(binding_->Update(&row_), ado::ComError);
  ado::RecordsetPtr missing = ado::CreateRecordset();
  try {
    missing->Open("NoSuchTable", connection_, ado::adOpenKeyset, ado::adLockOptimistic,
                  ado::adCmdTable);
    FAIL();
  } catch (const ado::ComError& error) {
    EXPECT_EQ(error.Error(), ado::kErrorNoTable);
    EXPECT_EQ(error.ErrorMessage(), "IDispatch error #3127");
  }
  people_->Close();
  EXPECT_EQ(people_->State(), ado::adStateClosed);
  EXPECT_THROW(people_->MoveFirst(), ado::ComError);
}

TEST_F(PeopleRecordsetTest, EmptyTableIsAtEofWithoutError) {
  ado::Execute(other_, "DELETE FROM People");
  people_->Requery(ado::adOptionUnspecified);
  EXPECT_EQ(people_->RecordCount(), 0);
  EXPECT_NO_THROW(people_->MoveFirst());
  EXPECT_TRUE(people_->IsEOF());
}

struct OpenFailure {
  const char* name;
  std::string content;  // empty: no file at all
  const char* description;
};

class OpenFailureTest : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFailureTest, RaisesWithACleanError) {
  test_support::ScratchMachine machine;
  fs::create_directories(machine.root() / "c/data");
  if (!GetParam().content.empty())
    test_support::WriteFile(machine.root() / "c/data/x.mdb", GetParam().content);
  ado::ConnectionPtr connection = ado::CreateConnection();
  try {
    connection->Open("Data Source=c:\\data\\x.mdb;", "", "", 0);
    FAIL() << "opened";
  } catch (const ado::ComError& error) {
    EXPECT_EQ(error.Error(), ado::kErrorFail);
    EXPECT_EQ(error.Description(), GetParam().description);
    EXPECT_EQ(error.ErrorMessage(), "Unspecified error");
  }
  EXPECT_EQ(connection->State(), ado::adStateClosed);
  ASSERT_EQ(connection->ErrorCount(), 1);
  EXPECT_EQ(connection->ErrorItem(0).Number, ado::kErrorFail);
  // A failed open creates nothing.
  EXPECT_EQ(fs::exists(machine.root() / "c/data/x.mdb"), !GetParam().content.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenFailureTest,
    ::testing::Values(OpenFailure{"Missing", "", "Could not find file 'c:\\data\\x.mdb'."},
                      OpenFailure{"Damaged", std::string(8192, 'Z'),
                                  "Unrecognized database format 'c:\\data\\x.mdb'."}),
    test_support::ByName());

struct MessageCase {
  DWORD code;
  const char* text;
};

class ErrorMessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessageTest, NamesTheCode) {
  EXPECT_EQ(ado::ComError(GetParam().code).ErrorMessage(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorMessageTest,
    ::testing::Values(MessageCase{0x80004005, "Unspecified error"},
                      MessageCase{0x80004003, "Invalid pointer"},
                      MessageCase{0x8007000E,
                                  "Not enough storage is available to complete this operation."},
                      MessageCase{0x80040E37, "IDispatch error #3127"},
                      MessageCase{0x80040200, "IDispatch error #0"},
                      MessageCase{0x800A0BCD, "Unknown error 0x800A0BCD"}),
    [](const auto& info) {
      char name[16];
      std::snprintf(name, sizeof name, "Code%08X", static_cast<unsigned>(info.param.code));
      return std::string(name);
    });

TEST(ConnectionString, ValuesByKeyWithoutCase) {
  const std::string text =
      "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;data source= c:\\a b\\x.mdb ;PASSWORD=;";
  EXPECT_EQ(ado::ConnectionStringValue(text, "Data Source"), "c:\\a b\\x.mdb");
  EXPECT_EQ(ado::ConnectionStringValue(text, "Password"), "");
  EXPECT_EQ(ado::ConnectionStringValue(text, "Mode"), "");
}

// ---- transactions, Seek and a replaced file ----

std::vector<std::int64_t> AllMinutes(const ado::ConnectionPtr& connection) {
  std::vector<std::int64_t> minutes;
  for (const char* name : {"ANN", "BOB", "CAROLINE-LONGER"}) {
    minutes.push_back(ado::QueryInteger(connection, "SELECT Minutes FROM People WHERE Name = ?1",
                                        {std::string(name)}, -1));
  }
  return minutes;
}

void ZeroAll(const ado::RecordsetPtr& people, const ado::RecordBindingPtr& binding, Person& row) {
  for (people->MoveFirst(); !people->IsEOF(); people->MoveNext()) {
    row.Minutes = 0;
    binding->Update(&row);
  }
}

TEST_F(PeopleRecordsetTest, TransactionIsWrittenWholeAtCommitOnly) {
  EXPECT_EQ(connection_->BeginTrans(), 1);
  ZeroAll(people_, binding_, row_);
  EXPECT_EQ(AllMinutes(other_), (std::vector<std::int64_t>{10, 10, 10}));  // not yet visible
  connection_->CommitTrans();
  EXPECT_EQ(AllMinutes(other_), (std::vector<std::int64_t>{0, 0, 0}));
}

TEST_F(PeopleRecordsetTest, RollbackLeavesTheFileAndTheRowsAsTheyWere) {
  connection_->BeginTrans();
  ZeroAll(people_, binding_, row_);
  connection_->RollbackTrans();
  EXPECT_EQ(AllMinutes(other_), (std::vector<std::int64_t>{10, 10, 10}));
  people_->MoveFirst();  // the cached rows are read again
  EXPECT_EQ(row_.Minutes, 10);
  row_.Minutes = 12;
  binding_->Update(&row_);  // and a later update is not refused as a conflict
  EXPECT_EQ(MinutesOf("ANN"), 12);
}

TEST_F(PeopleRecordsetTest, TransactionWaitsForAnotherProgramsLockThenRaises) {
  connection_->SetCommandTimeout(std::chrono::milliseconds(100));
  ado::Execute(other_, "BEGIN IMMEDIATE");
  EXPECT_THROW(connection_->BeginTrans(), ado::ComError);
  ado::Execute(other_, "ROLLBACK");
  EXPECT_THROW(connection_->CommitTrans(), ado::ComError);  // none is open
  connection_->BeginTrans();
  EXPECT_THROW(connection_->BeginTrans(), ado::ComError);  // no nesting
  connection_->RollbackTrans();
}

TEST_F(PeopleRecordsetTest, SeekFindsTheFirstRowInTableOrder) {
  ado::Execute(other_, "INSERT INTO People (Name, Minutes) VALUES ('BOB', 99)");
  people_->Requery(ado::adOptionUnspecified);  // the keyset takes the new row
  people_->SetIndex("name");
  people_->Seek("BOB");
  ASSERT_FALSE(people_->IsEOF());
  EXPECT_EQ(row_.Minutes, 10);  // the first BOB, as a scan from the first row finds
  people_->Seek("bob");         // exact, byte for byte
  EXPECT_TRUE(people_->IsEOF());
  EXPECT_STREQ(row_.Name, "BOB");  // the last row, as a scan that found nothing leaves it
  EXPECT_EQ(row_.Minutes, 99);
  people_->Seek("CAROLIN");  // the text as the field holds it
  ASSERT_FALSE(people_->IsEOF());
  people_->Seek("CAROLINE-LONGER");  // longer than the field: never
  EXPECT_TRUE(people_->IsEOF());
  people_->Seek("");
  EXPECT_TRUE(people_->IsEOF());
}

TEST_F(PeopleRecordsetTest, SeekFollowsUpdatesAndOutsideChanges) {
  people_->SetIndex("Name");
  people_->Seek("ANN");
  row_.Minutes = 3;
  binding_->Update(&row_);
  people_->Seek("ANN");
  EXPECT_EQ(row_.Minutes, 3);
  std::strcpy(row_.Name, "ZED");
  binding_->Update(&row_);
  people_->Seek("ANN");
  EXPECT_TRUE(people_->IsEOF());
  people_->Seek("ZED");
  EXPECT_FALSE(people_->IsEOF());
  ado::Execute(other_, "UPDATE People SET Name = 'ANN', Minutes = 7 WHERE Name = 'BOB'");
  people_->Seek("ANN");
  ASSERT_FALSE(people_->IsEOF());
  EXPECT_EQ(row_.Minutes, 7);
  EXPECT_THROW(people_->SetIndex("Nothing"), ado::ComError);
}

TEST_F(PeopleRecordsetTest, ReplacedFileIsNoticedAndOpenedAgain) {
  const fs::path file = machine_.root() / "c/data/people.mdb";
  EXPECT_FALSE(connection_->FileReplaced());
  people_->MoveFirst();
  row_.Minutes = 11;
  binding_->Update(&row_);
  other_->Close();
  // Another database with the same table, renamed into place.
  ado::CreateDatabase("Data Source=c:\\Data\\other.mdb;");
  {
    ado::ConnectionPtr maker = ado::CreateConnection();
    maker->Open("Data Source=c:\\Data\\other.mdb;", "", "", 0);
    ado::Execute(maker, "CREATE TABLE People (ID INTEGER PRIMARY KEY, Name TEXT, Minutes INTEGER)");
    ado::Execute(maker, "INSERT INTO People (Name, Minutes) VALUES ('NEW', 1)");
  }
  fs::create_hard_link(file, machine_.root() / "c/data/old.mdb");
  fs::rename(machine_.root() / "c/data/other.mdb", file);
  EXPECT_TRUE(connection_->FileReplaced());
  connection_->Reopen();
  EXPECT_FALSE(connection_->FileReplaced());
  EXPECT_EQ(Scan(), (std::vector<std::string>{"NEW"}));
  // The old file kept its rows, including the one written through its write-ahead log.
  ado::ConnectionPtr old = ado::CreateConnection();
  old->Open("Data Source=c:\\Data\\old.mdb;", "", "", 0);
  EXPECT_EQ(ado::QueryInteger(old, "SELECT Minutes FROM People WHERE Name = 'ANN'", {}, -1), 11);
  EXPECT_EQ(ado::QueryInteger(old, "SELECT count(*) FROM People", {}, -1), 3);
  // Deleted: noticed, and a reopen fails until a file is there again.
  fs::remove(file);
  EXPECT_TRUE(connection_->FileReplaced());
  EXPECT_THROW(connection_->Reopen(), ado::ComError);
  EXPECT_THROW(people_->MoveFirst(), ado::ComError);
  // Not tried again at every request while nothing changed; at once when a file is back.
  EXPECT_FALSE(connection_->FileReplaced());
  fs::rename(machine_.root() / "c/data/old.mdb", file);
  EXPECT_EQ(connection_->ReopenNeeded(), ado::Connection::ReopenReason::kReplaced);
  connection_->Reopen();
  EXPECT_EQ(Scan().size(), 3u);
}

}  // namespace

// A record with text between integers and a short text at its very end (no padding after it), so
// that a move copies more than one span and the last word of the record overlaps the field before.
struct Item {
  LONG Before;
  char Text[40];
  LONG After;
  char Tail[3];
  static std::span<const ado::FieldBinding> Bindings() {
    static const ado::FieldBinding kFields[] = {
        ADO_INTEGER_FIELD(Item, 2, Before, true), ADO_TEXT_FIELD(Item, 3, Text, true),
        ADO_INTEGER_FIELD(Item, 4, After, true), ADO_TEXT_FIELD(Item, 5, Tail, true)};
    return kFields;
  }
};

TEST(RecordsetMoveTest, EveryFieldHoldsTheCurrentRowWhateverTheRowBeforeLeft) {
  test_support::ScratchMachine machine;
  fs::create_directories(machine.root() / "c/data");
  const std::string source = "Data Source=c:\\Data\\items.mdb;";
  ado::CreateDatabase(source);
  ado::ConnectionPtr connection = ado::CreateConnection();
  connection->Open(source, "", "", 0);
  ado::Execute(connection,
               "CREATE TABLE Items (ID INTEGER PRIMARY KEY, Before INTEGER, Text TEXT, "
               "After INTEGER, Tail TEXT)");
  struct Expected {
    int before;
    std::string text;  // as stored
    int after;
    std::string tail;
  };
  const std::string longest(39, 'L');
  const std::vector<Expected> rows = {
      {1, longest, -1, "ab"},
      {0, "", 0, ""},  // all zero after a full row
      {2, "x", 7, "a"},
      {3, longest + "-cut", 8, "abcdef"},  // cut to the fields
      {4, "eight888", 0, "ab"},            // a whole number of words, then its terminator
      {5, "sixteen-sixteen!", 0, "a"},
      {6, "MiXeD caSe free site", 9, ""},
      {7, "seven77", 10, "z"},
  };
  for (const Expected& row : rows) {
    ado::Execute(connection,
                 "INSERT INTO Items (Before, Text, After, Tail) VALUES (?1, ?2, ?3, ?4)",
                 {std::int64_t{row.before}, row.text, std::int64_t{row.after}, row.tail});
  }
  ado::RecordsetPtr items = ado::CreateRecordset();
  items->Open("Items", connection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
  ado::RecordBindingPtr binding = items->QueryBinding();
  Item item;
  binding->BindToRecordset(&item);
  const auto check = [&](size_t i, const char* how) {
    SCOPED_TRACE(std::string(how) + ", row " + std::to_string(i + 1));
    EXPECT_EQ(item.Before, rows[i].before);
    EXPECT_EQ(std::string(item.Text, strnlen(item.Text, sizeof item.Text)),
              rows[i].text.substr(0, sizeof item.Text - 1));
    EXPECT_EQ(item.After, rows[i].after);
    EXPECT_EQ(std::string(item.Tail, strnlen(item.Tail, sizeof item.Tail)),
              rows[i].tail.substr(0, sizeof item.Tail - 1));
  };
  for (int pass = 0; pass < 2; ++pass) {
    size_t i = 0;
    for (items->MoveFirst(); !items->IsEOF(); items->MoveNext(), ++i) check(i, "plain scan");
    EXPECT_EQ(i, rows.size());
  }
  // What the caller wrote into the record, past a text's end too, never shows through a move.
  size_t i = 0;
  for (items->MoveFirst(); !items->IsEOF(); ++i) {
    check(i, "after scribbling");
    std::memset(&item, 0x5a, sizeof item);
    items->MoveNext();
  }
  EXPECT_EQ(i, rows.size());
}
