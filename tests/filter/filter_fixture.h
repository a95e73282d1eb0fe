// A machine root with the product folder c:\Minutrix\ named in the registry, a fixed clock and
// a fresh log, for tests that drive the filter's code in this process.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "filter/diagnostic_log.h"
#include "platform/clock.h"
#include "tests/support/test_support.h"

namespace filter_test {

// 6 December 2026, 08:05:00 local time.
inline std::time_t DecemberSixth() {
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 11;
  tm.tm_mday = 6;
  tm.tm_hour = 8;
  tm.tm_min = 5;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(machine_.root() / "c/Minutrix");
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    SetDebug("0");
    platform::SetFixedTime(DecemberSixth());
    ResetLogForTests();
  }
  void TearDown() override {
    platform::SetFixedTime(std::nullopt);
    ResetLogForTests();
  }

  void SetDebug(const std::string& value, const std::string& type = "REG_SZ") {
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/t", type, "/d", value, "/f"});
  }
  std::filesystem::path LogFile() const {
    return machine_.root() / "c/Minutrix/MinutrixOutput06122026.txt";
  }
  std::vector<std::string> LogLines() const {
    return test_support::CrLfLines(test_support::ReadFile(LogFile()));
  }
  // The log's entries, after its head.
  std::vector<std::string> Entries() const {
    auto lines = LogLines();
    size_t skip = 0;
    while (skip < lines.size() &&
           (lines[skip] == "[INIT]" || lines[skip] == "V3.6.2.3" ||
            lines[skip] == "06-12-2026; 08:05" || lines[skip].rfind("Process ID : ", 0) == 0)) {
      ++skip;
    }
    return {lines.begin() + static_cast<long>(skip), lines.end()};
  }

  test_support::ScratchMachine machine_;
};

}  // namespace filter_test
