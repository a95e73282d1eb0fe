// The store on the test's own PostgreSQL server through the real minutrix-db: create made once
// and again, a database of another kind refused, the filter's role held to charging, a whole
// store copied to a file and back unchanged, and no password in anything printed.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/ado_admin.h"
#include "platform/machine.h"
#include "store/postgres_schema.h"
#include "tests/support/postgres_server.h"
#include "tests/support/test_support.h"

namespace {

using test_support::CommandResult;

class PostgresStoreTest : public test_support::PostgresTest {
 protected:
  CommandResult Tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {(test_support::kBuildDir / "minutrix-db").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return test_support::Run(argv, {{"LOGNAME", "tester"}, {"SUDO_USER", ""}});
  }
  std::string Ok(const std::vector<std::string>& args) {
    const CommandResult result = Tool(args);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return result.output;
  }
  ado::ConnectionPtr Open(const std::string& connection_string) {
    ado::ConnectionPtr connection = ado::CreateConnection();
    connection->Open(connection_string, "", "", 0);
    return connection;
  }
  // Every row of every table of the store, as text, in an order both engines give.
  std::map<std::string, std::vector<std::string>> Everything(const std::string& where) {
    ado::ConnectionPtr connection = Open(ado::IsPostgreSqlConnectionString(where)
                                             ? where
                                             : "Data Source=" + platform::WindowsPath(where) + ";");
    std::map<std::string, std::vector<std::string>> tables;
    for (const store::PostgreSqlTable& table : store::PostgreSqlTables()) {
      std::string columns = table.rowid ? "rowid" : "";
      for (const char* column : table.columns) {
        columns += (columns.empty() ? "" : ", ") + ado::QuoteIdentifier(column);
      }
      auto& rows = tables[table.name];
      ado::QueryRows(connection,
                     "SELECT " + columns + " FROM " + table.name + " ORDER BY " + table.order, {},
                     [&](const std::vector<ado::Parameter>& row) {
                       std::string line;
                       for (const ado::Parameter& value : row) {
                         line += std::holds_alternative<std::int64_t>(value)
                                     ? "#" + std::to_string(std::get<std::int64_t>(value))
                                     : "'" + std::get<std::string>(value);
                         line += "|";
                       }
                       rows.push_back(line);
                     });
    }
    return tables;
  }

  test_support::ScratchDir files_;
};

TEST_F(PostgresStoreTest, CreateIsIdempotentAndRefusesADatabaseOfAnotherKind) {
  EXPECT_NE(Ok({"create", connection_string_, "--sample"}).find("table Users"), std::string::npos);
  EXPECT_NE(Ok({"create", connection_string_}).find("complete already"), std::string::npos);
  EXPECT_NE(Ok({"users", connection_string_}).find("JSMITH"), std::string::npos);
  ado::ConnectionPtr connection = Open(connection_string_);
  EXPECT_EQ(ado::QueryInteger(connection, "SELECT count(*) FROM FilterSettings", {}, 0), 1);

  const std::string other = server().NewDatabase();
  server().Sql(other, "CREATE TABLE invoices (id int)");
  const CommandResult refused = Tool({"create", server().KeyValue(other)});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.output.find("tables that are not Minutrix's (invoices)"), std::string::npos)
      << refused.output;
  EXPECT_EQ(server().Sql(other, "SELECT count(*) FROM pg_tables WHERE tablename = 'users'"), "0");

  const std::string shaped = server().NewDatabase();
  server().Sql(shaped, "CREATE TABLE users (name text)");
  const CommandResult reshaped = Tool({"create", server().KeyValue(shaped)});
  EXPECT_EQ(reshaped.exit_code, 1);
  EXPECT_NE(reshaped.output.find("table Users of another shape"), std::string::npos)
      << reshaped.output;
}

TEST_F(PostgresStoreTest, TheFiltersRoleChargesButChangesNoAllowance) {
  Ok({"create", connection_string_, "--sample"});
  server().Sql(database_, "CREATE ROLE proxy1 LOGIN IN ROLE minutrix_filter");
  ado::ConnectionPtr filter = Open(server().KeyValue(database_, "proxy1"));
  EXPECT_EQ(ado::Execute(filter, "UPDATE Users SET CurrentInternetTime = 5 WHERE UserName = ?1",
                         {std::string("JSMITH")}),
            1);
  EXPECT_EQ(ado::Execute(filter,
                         "INSERT INTO History (Day, UserName, Start, Minutes) VALUES (1, ?1, 0, 5)",
                         {std::string("JSMITH")}),
            1);
  for (const char* refused :
       {"UPDATE Users SET MaxInternetTime = 999", "INSERT INTO Users (UserName) VALUES ('EVE')",
        "DELETE FROM Users", "INSERT INTO WeekdayAllowances VALUES ('JSMITH', 0, 999)",
        "INSERT INTO ExtraMinutes VALUES ('JSMITH', 999)",
        "UPDATE FilterSettings SET ResetDaily = 0"}) {
    try {
      ado::Execute(filter, refused);
      ADD_FAILURE() << "the filter's role may run " << refused;
    } catch (const ado::ComError& error) {
      EXPECT_NE(error.Description().find("permission denied"), std::string::npos)
          << error.Description();
    }
  }
  EXPECT_EQ(server().Sql(database_, "SELECT MaxInternetTime FROM Users WHERE UserName = 'JSMITH'"),
            "60");
  server().Sql(database_, "DROP OWNED BY proxy1; DROP ROLE proxy1");
}

TEST_F(PostgresStoreTest, TheAdministratorsRoleChangesAndCopiesButMakesNoTables) {
  Ok({"create", connection_string_, "--sample"});
  server().Sql(database_, "CREATE ROLE head1 LOGIN IN ROLE minutrix_admin");
  const std::string head = server().KeyValue(database_, "head1");
  Ok({"set-allowance", head, "jsmith", "90"});
  const std::string file = (files_.path() / "store.mdb").string();
  Ok({"copy", head, file});
  Ok({"copy", file, head, "--replace"});
  Ok({"add-site", head, "--host", "after.example"});  // the numbers go on past the copied ones
  EXPECT_EQ(server().Sql(database_, "SELECT MaxInternetTime FROM Users WHERE UserName = 'JSMITH'"),
            "90");
  server().Sql(database_, "DROP OWNED BY head1; DROP ROLE head1");
}

TEST_F(PostgresStoreTest, CopyToAFileAndBackGivesTheSameStore) {
  Ok({"create", connection_string_, "--sample"});
  for (const std::vector<std::string>& change :
       {std::vector<std::string>{"add-user", connection_string_, "anna", "30"},
        {"add-minutes", connection_string_, "anna", "5"},
        {"add-group", connection_string_, "5A"},
        {"set-group", connection_string_, "anna", "5a"},
        {"set-hours", connection_string_, "@5A", "mon-fri", "08:00-16:30"},
        {"set-allowance", connection_string_, "@5A", "30", "--days", "mon-fri"},
        {"add-site", connection_string_, "--host", "school.example"},
        {"set", connection_string_, "HistoryDays", "30"},
        {"remove-user", connection_string_, "pjansen"}}) {
    Ok(change);
  }
  ado::ConnectionPtr connection = Open(connection_string_);
  ado::Execute(connection,
               "INSERT INTO History (Day, UserName, Start, Minutes, Host) VALUES (20000, 'ANNA',"
               " 600, 7, 1)");
  ado::Execute(connection, "INSERT INTO HistoryHosts (Name) VALUES ('school.example')");
  ado::Execute(connection, "INSERT INTO ResetMarker (LastReset) VALUES ('2026-12-08 00:01:00')");
  const auto before = Everything(connection_string_);

  const std::string file = (files_.path() / "copy.mdb").string();
  EXPECT_NE(Ok({"copy", connection_string_, file}).find("2 Users"), std::string::npos);
  EXPECT_EQ(Everything(file), before);

  const std::string back = server().KeyValue(server().NewDatabase());
  Ok({"copy", file, back});
  EXPECT_EQ(Everything(back), before);
  // The copied numbers go on where they left off.
  Ok({"add-site", back, "--host", "other.example"});
  ado::ConnectionPtr copied = Open(back);
  EXPECT_EQ(ado::QueryInteger(copied, "SELECT max(ID) FROM tblPages", {}, 0),
            ado::QueryInteger(connection, "SELECT max(ID) FROM tblPages", {}, 0) + 1);

  // A target that holds rows is refused, and left as it was, unless --replace.
  const CommandResult refused = Tool({"copy", connection_string_, back});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.output.find("is not empty"), std::string::npos) << refused.output;
  EXPECT_NE(Everything(back), before);
  Ok({"copy", connection_string_, back, "--replace"});
  EXPECT_EQ(Everything(back), before);
}

TEST_F(PostgresStoreTest, AnOlderFileIsCopiedAsTheFilterReadsIt) {
  // The product's tables as an older build made them: no NOT NULL, numbers stored as text.
  const std::string file = (files_.path() / "old.mdb").string();
  ado::CreateDatabase("Data Source=" + platform::WindowsPath(file) + ";");
  ado::ConnectionPtr old = Open("Data Source=" + platform::WindowsPath(file) + ";");
  ado::Execute(old,
               "CREATE TABLE Users (UserName TEXT, MaxInternetTime INTEGER,"
               " CurrentInternetTime INTEGER)");
  ado::Execute(old, "CREATE TABLE FilterSettings (ID INTEGER PRIMARY KEY, ResetDaily INTEGER)");
  ado::Execute(old, "CREATE TABLE tblPages (ID INTEGER PRIMARY KEY, PageName TEXT)");
  ado::Execute(old, "INSERT INTO Users VALUES ('ANNA', '45', NULL)");
  ado::Execute(old, "INSERT INTO tblPages (PageName) VALUES (NULL)");
  old.Release();

  const CommandResult copied = Tool({"copy", file, connection_string_});
  ASSERT_EQ(copied.exit_code, 0) << copied.output;
  ado::ConnectionPtr server = Open(connection_string_);
  EXPECT_EQ(ado::QueryInteger(server, "SELECT MaxInternetTime FROM Users", {}, -1), 45);
  EXPECT_EQ(ado::QueryInteger(server, "SELECT CurrentInternetTime FROM Users", {}, -1), 0);
  EXPECT_EQ(ado::QueryText(server, "SELECT PageName FROM tblPages", {}, "none"), "");
  const CommandResult itself = Tool({"copy", file, file, "--replace"});
  EXPECT_EQ(itself.exit_code, 1);
  EXPECT_NE(itself.output.find("onto itself"), std::string::npos) << itself.output;
}

TEST_F(PostgresStoreTest, NoPasswordInAnythingPrinted) {
  const std::string secret = "Sup3r$ecret";
  const std::string folder = server().folder().string();
  for (const std::string& target :
       {"host=" + folder + " dbname=nosuch user=postgres password=" + secret,
        "postgresql://postgres:" + secret + "@/nosuch?host=" + folder}) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"create", target},
                                                 {"users", target},
                                                 {"add-user", target, "anna", "30"},
                                                 {"copy", target, "/nonexistent/x.mdb"},
                                                 {"backup", target, "/tmp/x.mdb"}}) {
      const CommandResult result = Tool(args);
      EXPECT_EQ(result.exit_code, 1) << args[0];
      EXPECT_EQ(result.output.find(secret), std::string::npos) << result.output;
    }
  }
  const std::string good = connection_string_ + " password=" + secret;
  const std::string made = Ok({"create", good});
  EXPECT_EQ(made.find(secret), std::string::npos) << made;
  EXPECT_NE(made.find("password=***"), std::string::npos) << made;
}

}  // namespace
