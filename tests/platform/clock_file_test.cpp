// Values of the clock file that no clock can stand at: an error (the real time), never an
// overflow into some other time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <ostream>

#include "platform/clock.h"
#include "tests/support/test_support.h"

namespace {

struct ClockCase {
  const char* name;
  const char* value;
};

void PrintTo(const ClockCase& c, std::ostream* out) { *out << c.name; }

class ClockFileValue : public ::testing::TestWithParam<ClockCase> {};

TEST_P(ClockFileValue, ThatDoesNotFitIsAnErrorAndTheRealTimeIsUsed) {
  test_support::ScratchDir dir;
  const auto file = dir.path() / "clock";
  ::setenv("MINUTRIX_CLOCK_FILE", file.c_str(), 1);
  test_support::WriteFile(file, std::string(GetParam().value) + "\n");
  testing::internal::CaptureStderr();
  const std::time_t now = platform::Now();
  const std::string said = testing::internal::GetCapturedStderr();
  ::unsetenv("MINUTRIX_CLOCK_FILE");
  EXPECT_LE(std::llabs(static_cast<long long>(now - std::time(nullptr))), 1) << GetParam().value;
  EXPECT_NE(said.find("MINUTRIX_CLOCK_FILE holds"), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ClockFileValue,
    ::testing::Values(ClockCase{"ShiftBeyondLong", "+99999999999999999999"},
                      ClockCase{"ShiftInDaysBeyondTimeT", "+999999999999999999d"},
                      ClockCase{"NegativeShiftBeyondTimeT", "-9223372036854775807h"},
                      ClockCase{"ShiftWithoutDigits", "+m"},
                      ClockCase{"ShiftWithUnknownUnit", "+5x"},
                      ClockCase{"YearBeyondInt", "99999999999-01-01 10:00:00"},
                      ClockCase{"MonthOutOfRange", "2030-13-01 10:00:00"},
                      ClockCase{"HourOutOfRange", "2030-01-01 24:00:00"},
                      ClockCase{"TrailingWords", "2030-01-01 10:00:00 tomorrow"},
                      ClockCase{"Nonsense", "nonsense"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClockFile, ValuesThatFitStillMoveTheClock) {
  test_support::ScratchDir dir;
  const auto file = dir.path() / "clock";
  ::setenv("MINUTRIX_CLOCK_FILE", file.c_str(), 1);
  test_support::WriteFile(file, "-90m\n");
  EXPECT_NEAR(static_cast<double>(platform::Now() - std::time(nullptr)), -5400.0, 1.0);
  test_support::WriteFile(file, "+30\n");
  EXPECT_NEAR(static_cast<double>(platform::Now() - std::time(nullptr)), 30.0, 1.0);
  test_support::WriteFile(file, "9999-12-31 23:59:59\n");
  EXPECT_EQ(platform::LocalNow().tm_year, 9999 - 1900);
  ::unsetenv("MINUTRIX_CLOCK_FILE");
}

}  // namespace
