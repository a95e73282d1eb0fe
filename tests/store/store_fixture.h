// A machine root with c:\Minutrix\UserTimesDB\UserTimesDB.mdb made by minutrix-db, the store opened
// on it in this process, a second connection standing in for the administration tools, a fixed
// clock and the debug log read back.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "filter/diagnostic_log.h"
#include "filter/request_state.h"
#include "filter/sections.h"
#include "filter/store.h"
#include "filter/tempogate.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "tests/support/test_support.h"

namespace store_test {

namespace fs = std::filesystem;

// Local time of the given day, hour and minute.
inline std::time_t At(int year, int month, int day, int hour = 9, int minute = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// What the request handling gets from the store for one request.
struct Outcome {
  int looked_up = 0;
  bool has_time = false;
  bool found = false;
  bool free_site = false;
  int charged = -1;  // RegisterTime's result; -1 when it was not called
  int first_request = 0;
};

class StoreTest : public ::testing::Test {
 protected:
  static constexpr const char* kServer = "proxy.school.local";

  void SetUp() override {
    fs::create_directories(machine_.root() / "c/Minutrix/UserTimesDB");
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "1", "/f"});
    platform::SetFixedTime(At(2026, 12, 8));  // a Tuesday
    ResetLogForTests();
    CreateSections();
    const auto made = test_support::Run(
        {(test_support::kBuildDir / "minutrix-db").string(), "create", DbPath().string()});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    admin_ = ado::CreateConnection();
    admin_->Open("Data Source=c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb;", "", "", 0);
    std::snprintf(gblServerName, sizeof gblServerName, "%s", kServer);
  }

  void TearDown() override {
    Stop();
    admin_.Release();
    DeleteSections();
    gblServerName[0] = '\0';
    gblFreeSite = false;
    platform::SetFixedTime(std::nullopt);
    ResetLogForTests();
  }

  fs::path DbPath() const { return machine_.root() / "c/Minutrix/UserTimesDB/UserTimesDB.mdb"; }

  // The administration tools' side: a separate connection to the same file.
  long Sql(const std::string& sql, const std::vector<ado::Parameter>& parameters = {}) {
    return ado::Execute(admin_, sql, parameters);
  }
  void AddUser(const std::string& name, long long allowance, long long used = 0) {
    Sql("INSERT INTO Users VALUES (?1, ?2, ?3)", {name, allowance, used});
  }
  void AddSite(const std::string& text) {
    Sql("INSERT INTO tblPages (PageName) VALUES (?1)", {text});
  }
  void Setting(const std::string& column, long long value) {
    Sql("UPDATE FilterSettings SET " + column + " = ?1", {value});
  }
  long long Used(const std::string& name) {
    return ado::QueryInteger(admin_, "SELECT CurrentInternetTime FROM Users WHERE UserName = ?1",
                             {name}, -999);
  }

  // Opens the store the way the filter's start-up does; true when the data sets are loaded.
  bool Start() {
    started_ = true;
    lastReset = platform::Now();
    OpenDBConnection(BuildConnectionString("c:\\Minutrix\\"));
    return filter_.InitializeFilter();
  }
  void Stop() {
    if (!started_) return;
    started_ = false;
    TerminateDataSets();
    TerminateUserDB();
    TimesMap.clear();
    filter_.m_bDataSetsLoaded = 0;
  }

  // The store's part of one request decision, in the request handling's order.
  Outcome Request(const std::string& user, const std::string& url = "http://www.example.com/") {
    Outcome outcome;
    CountMonitoredUsers();
    CheckResetSchedule();
    RefreshFreeSites();
    outcome.looked_up = LookUpUserInSet(user, &outcome.has_time, &outcome.found);
    std::snprintf(gblRequestUrl, sizeof gblRequestUrl, "%s", url.c_str());
    outcome.free_site = LookUpSiteInSet(gblRequestUrl, gblServerName) != 0;
    gblFreeSite = outcome.free_site;
    if (outcome.has_time && outcome.found) {
      outcome.charged = RegisterTime(user, nullptr, &outcome.first_request, outcome.has_time);
    }
    return outcome;
  }
  void Advance(long minutes, long seconds = 0) {
    platform::AdvanceFixedTime(minutes * 60 + seconds);
  }

  // Every line of the log after its head, markers included.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const auto& entry : fs::directory_iterator(machine_.root() / "c/Minutrix")) {
      if (entry.path().filename().string().rfind("MinutrixOutput", 0) != 0) continue;
      const std::string text = test_support::ReadFile(entry.path());
      size_t start = 0;
      while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
      }
    }
    return lines;
  }
  long CountLog(const std::string& line) const {
    const auto lines = Log();
    return std::count(lines.begin(), lines.end(), line);
  }
  bool Logged(const std::string& line) const { return CountLog(line) > 0; }

  test_support::ScratchMachine machine_;
  ado::ConnectionPtr admin_;
  ClsTempogate filter_;
  bool started_ = false;
};

}  // namespace store_test
