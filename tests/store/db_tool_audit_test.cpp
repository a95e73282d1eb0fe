// The audit of minutrix-db: a row for every kind of change, written with the change, naming who
// ran it (SUDO_USER, else LOGNAME, else the uid), what changed from what to what, and why; none
// for a refusal; and the audit command's filters.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/store/db_tool_fixture.h"

namespace {

using db_tool_test::DbToolFixture;

class AuditTest : public DbToolFixture {
 protected:
  // The audit rows after the first `skip`, one line each: Who|Command|Target|Old|New|Reason.
  std::string AuditRows(int skip = 0) {
    const auto rows = Sqlite(
        "SELECT Who, Command, Target, OldValue, NewValue, Reason FROM Audit"
        " ORDER BY ID LIMIT -1 OFFSET " +
        std::to_string(skip));
    EXPECT_EQ(rows.exit_code, 0) << rows.output;
    return rows.output;
  }
  int AuditCount() { return std::stoi(Sqlite("SELECT count(*) FROM Audit").output); }

  const std::map<std::string, std::string> kAdmin = {{"SUDO_USER", "mvries"}, {"LOGNAME", "root"}};
};

TEST_F(AuditTest, RecordsEveryKindOfChange) {
  ASSERT_EQ(AuditCount(), 1);  // create
  const std::vector<std::vector<std::string>> changes = {
      {"add-user", "DB", "anna", "45", "--reason", "new pupil"},
      {"set-allowance", "DB", "anna", "60"},
      {"set-used", "DB", "anna", "25", "--reason", "counted twice"},
      {"add-minutes", "DB", "anna", "15", "--reason", "exam"},
      {"add-minutes", "DB", "anna", "-5"},
      {"rename-user", "DB", "anna", "anna2"},
      {"add-site", "DB", "--host", "lessons.example.org"},
      {"add-site", "DB", "example.org/maths"},
      {"remove-site", "DB", "example.org/maths"},
      {"set", "DB", "ResetWeekly", "yes"},
      {"set", "DB", "IdleGapMinutes", "15"},
      {"set", "DB", "DeniedMessage", "Time is up"},
      {"set", "DB", "HistoryDays", "30", "--reason", "school policy"},
      {"set", "DB", "HistoryHosts", "no"},
      {"remove-user", "DB", "anna2"},
  };
  for (const auto& change : changes) Ok(change, kAdmin);
  EXPECT_EQ(AuditRows(1),
            "mvries|add-user|ANNA||allowance 45|new pupil\n"
            "mvries|set-allowance|ANNA|45|60|\n"
            "mvries|set-used|ANNA|0|25|counted twice\n"
            "mvries|add-minutes|ANNA|0|15|exam\n"
            "mvries|add-minutes|ANNA|15|10|\n"
            "mvries|rename-user|ANNA|ANNA|ANNA2|\n"
            "mvries|add-site|host:lessons.example.org||host:lessons.example.org|\n"
            "mvries|add-site|example.org/maths||example.org/maths|\n"
            "mvries|remove-site|example.org/maths|example.org/maths||\n"
            "mvries|set|ResetWeekly|no|yes|\n"
            "mvries|set|IdleGapMinutes|10|15|\n"
            "mvries|set|DeniedMessage|Your internet time for this period is used up.|Time is "
            "up|\n"
            "mvries|set|HistoryDays|400|30|school policy\n"
            "mvries|set|HistoryHosts|yes|no|\n"
            "mvries|remove-user|ANNA2|allowance 60, used 25, extra 10||\n");
  EXPECT_EQ(Sqlite("SELECT count(*) FROM Audit WHERE At = '2026-12-08 12:00:00'").output, "16\n");
}

TEST_F(AuditTest, CreateIsTheFirstRow) {
  EXPECT_EQ(Sqlite("SELECT At, Command FROM Audit").output, "2026-12-08 12:00:00|create\n");
}

struct WhoCase {
  const char* name;
  std::map<std::string, std::string> env;
  std::string who;  // empty: "uid " and this process's uid
};

void PrintTo(const WhoCase& c, std::ostream* out) { *out << c.name; }

class AuditWhoTest : public AuditTest, public ::testing::WithParamInterface<WhoCase> {};

TEST_P(AuditWhoTest, IsTheLoginThatRanTheCommand) {
  Ok({"add-user", "DB", "bob", "30"}, GetParam().env);
  const std::string who = Sqlite("SELECT Who FROM Audit ORDER BY ID DESC LIMIT 1").output;
  if (GetParam().who.empty()) {
    EXPECT_EQ(who.rfind("uid ", 0), 0u) << who;
    EXPECT_EQ(who, "uid " + test_support::Run({"/usr/bin/id", "-u"}).output);
  } else {
    EXPECT_EQ(who, GetParam().who + "\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Logins, AuditWhoTest,
    ::testing::Values(
        WhoCase{"SudoUserFirst", {{"SUDO_USER", "mvries"}, {"LOGNAME", "root"}}, "mvries"},
        WhoCase{"ElseLogname", {{"SUDO_USER", ""}, {"LOGNAME", "teacher"}}, "teacher"},
        WhoCase{"ElseTheUid", {{"SUDO_USER", ""}, {"LOGNAME", ""}}, ""}),
    test_support::ByName());

TEST_F(AuditTest, ARefusedChangeRecordsNothing) {
  Ok({"add-user", "DB", "anna", "45"});
  const std::string before = Rows();
  for (const std::vector<std::string>& refused :
       std::vector<std::vector<std::string>>{{"add-user", "DB", "anna", "45"},
                                             {"set-used", "DB", "nobody", "5"},
                                             {"add-minutes", "DB", "nobody", "5"},
                                             {"set", "DB", "HistoryDays", "-1"},
                                             {"remove-site", "DB", "nothing"},
                                             {"add-user", "DB", "bob", "5", "--reason", "a\nb"}}) {
    EXPECT_EQ(Tool(refused).exit_code, 1) << refused[0];
  }
  EXPECT_EQ(Rows(), before);
}

TEST_F(AuditTest, ListsByDateAndFollowsAUserThroughRenames) {
  clock_ = "2026-12-07 09:30:00";
  Ok({"add-user", "DB", "anna", "45", "--reason", "new pupil"});
  Ok({"add-user", "DB", "bob", "30"});
  clock_ = "2026-12-08 10:15:00";
  Ok({"add-minutes", "DB", "anna", "15", "--reason", "exam"}, kAdmin);
  Ok({"rename-user", "DB", "anna", "anna.b"});
  Ok({"add-user", "DB", "anna", "20"});  // a new user with the old name
  EXPECT_EQ(Ok({"audit", "DB", "--user", "Anna.B"}),
            "AT                   WHO     COMMAND      TARGET  OLD   NEW           REASON\n"
            "2026-12-07 09:30:00  tester  add-user     ANNA          allowance 45  new pupil\n"
            "2026-12-08 10:15:00  mvries  add-minutes  ANNA    0     15            exam\n"
            "2026-12-08 10:15:00  tester  rename-user  ANNA    ANNA  ANNA.B\n");
  EXPECT_EQ(Ok({"audit", "DB", "--user", "anna"}),
            "AT                   WHO     COMMAND   TARGET  OLD  NEW           REASON\n"
            "2026-12-08 10:15:00  tester  add-user  ANNA         allowance 20\n");
  const std::string today = Ok({"audit", "DB", "--from", "2026-12-08"});
  EXPECT_EQ(today.find("2026-12-07"), std::string::npos) << today;
  EXPECT_NE(today.find("add-minutes"), std::string::npos) << today;
  EXPECT_EQ(Ok({"audit", "DB", "--from", "2026-12-09"}), "no changes recorded\n");
  EXPECT_EQ(Ok({"audit", "DB", "--user", "nobody"}), "no changes recorded\n");
}

}  // namespace
