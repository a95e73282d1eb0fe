// The store's small rules that everything else leans on: the host a minute is spent on, the
// dates of history, and the parsing and evaluation of schedule windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/schedules.h"
#include "store/usage.h"
#include "tests/support/test_support.h"

namespace {

struct HostCase {
  const char* name;
  const char* url;
  const char* host;
};

class HostOfUrlTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostOfUrlTest, KeepsTheHostAloneInLowerCase) {
  EXPECT_EQ(store::HostOfUrl(GetParam().url), GetParam().host);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, HostOfUrlTest,
    ::testing::Values(
        HostCase{"Plain", "http://www.example.org/", "www.example.org"},
        HostCase{"PortPathQuery", "https://Www.Example.ORG:8443/a/b?q=secret#x", "www.example.org"},
        HostCase{"UserInfo", "http://user:pw@site.example/p", "site.example"},
        HostCase{"ConnectHostPort", "bank.example:443", "bank.example"},
        HostCase{"Ipv6", "http://[::1]:8080/x", "[::1]"},
        HostCase{"QueryWithoutPath", "http://a.example?x=http://b.example/", "a.example"},
        HostCase{"AtInQueryIsNotUserInfo", "http://a.example/?m=me@b.example", "a.example"},
        HostCase{"Empty", "", ""}),
    test_support::ByName());

TEST(HistoryDaysTest, DatesThatExistAndThoseThatDoNot) {
  ASSERT_TRUE(store::ParseDay("1970-01-01").has_value());
  EXPECT_EQ(*store::ParseDay("1970-01-01"), 0);
  EXPECT_EQ(store::DayText(*store::ParseDay("2028-02-29")), "2028-02-29");
  for (const char* bad : {"2027-02-29", "2026-13-01", "2026-12-32", "2026-1-01", "26-12-01",
                          "2026/12/01", "2026-12-0a", ""}) {
    EXPECT_FALSE(store::ParseDay(bad).has_value()) << bad;
  }
}

struct DaysCase {
  const char* name;
  const char* text;
  std::vector<int> days;  // empty: refused
};

class ParseDaysTest : public ::testing::TestWithParam<DaysCase> {};

TEST_P(ParseDaysTest, NamesRangesAndLists) {
  std::string error;
  const auto days = store::ParseDays(GetParam().text, error);
  if (GetParam().days.empty()) {
    EXPECT_FALSE(days.has_value());
    EXPECT_FALSE(error.empty());
  } else {
    ASSERT_TRUE(days.has_value()) << error;
    EXPECT_EQ(*days, GetParam().days);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Days, ParseDaysTest,
    ::testing::Values(DaysCase{"SchoolWeek", "mon-fri", {0, 1, 2, 3, 4}},
                      DaysCase{"Weekend", "sat,sun", {5, 6}},
                      DaysCase{"RangeOverTheWeekend", "fri-mon", {0, 4, 5, 6}},
                      DaysCase{"ListAndRangeOnce", "mon,mon-tue,Wednesday", {0, 1, 2}},
                      DaysCase{"UnknownDay", "mon-fry", {}}, DaysCase{"Empty", "", {}},
                      DaysCase{"TrailingComma", "mon,", {}}),
    test_support::ByName());

struct TimesCase {
  const char* name;
  const char* text;
  int start;  // -1: refused
  int end;
};

class ParseTimesTest : public ::testing::TestWithParam<TimesCase> {};

TEST_P(ParseTimesTest, WindowsOfTheDay) {
  std::string error;
  const auto times = store::ParseTimes(GetParam().text, error);
  if (GetParam().start < 0) {
    EXPECT_FALSE(times.has_value());
    EXPECT_NE(error.find(GetParam().text), std::string::npos) << error;
  } else {
    ASSERT_TRUE(times.has_value()) << error;
    EXPECT_EQ(times->first, GetParam().start);
    EXPECT_EQ(times->second, GetParam().end);
  }
}

INSTANTIATE_TEST_SUITE_P(Times, ParseTimesTest,
                         ::testing::Values(TimesCase{"SchoolDay", "08:00-16:30", 480, 990},
                                           TimesCase{"OneDigitHour", "8:05-9:00", 485, 540},
                                           TimesCase{"AcrossMidnight", "22:00-02:00", 1320, 120},
                                           TimesCase{"EndingAtMidnight", "23:00-24:00", 1380, 1440},
                                           TimesCase{"HoursWithoutMinutes", "8-16", -1, 0},
                                           TimesCase{"HourTooLarge", "25:00-26:00", -1, 0},
                                           TimesCase{"StartAt24", "24:00-01:00", -1, 0},
                                           TimesCase{"EmptyWindow", "10:00-10:00", -1, 0},
                                           TimesCase{"MinuteTooLarge", "10:60-11:00", -1, 0}),
                         test_support::ByName());

TEST(WindowsTest, InsideAcrossMidnightAndTheNextStart) {
  const std::vector<store::Window> windows = {{4, 1320, 120}, {0, 480, 990}};  // fri night, mon
  EXPECT_TRUE(store::InWindows(windows, 4, 1320));
  EXPECT_TRUE(store::InWindows(windows, 5, 119));   // saturday 01:59
  EXPECT_FALSE(store::InWindows(windows, 5, 120));  // saturday 02:00
  EXPECT_FALSE(store::InWindows(windows, 0, 479));
  EXPECT_TRUE(store::InWindows(windows, 0, 480));
  EXPECT_FALSE(store::InWindows(windows, 0, 990));  // the end is outside
  EXPECT_EQ(store::MinutesToNextStart(windows, 0, 479), 1);
  EXPECT_EQ(store::MinutesToNextStart(windows, 5, 120), 2 * 1440 - 120 + 480);  // monday 08:00
  EXPECT_EQ(store::MinutesToEnd(windows, 4, 1380), 60 + 120);
  EXPECT_FALSE(store::MinutesToNextStart({}, 0, 0).has_value());
  EXPECT_EQ(store::MinuteText(1440), "24:00");
}

}  // namespace
