// The host a charged minute is recorded with is the host the filter decided the request on.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "store/usage.h"
#include "tests/support/test_support.h"

namespace {

struct HostCase {
  const char* name;
  const char* url;
  const char* host;
};

void PrintTo(const HostCase& c, std::ostream* out) { *out << c.name; }

class HistoryHost : public ::testing::TestWithParam<HostCase> {};

TEST_P(HistoryHost, IsTheHostOfTheRequest) {
  EXPECT_EQ(store::HostOfUrl(GetParam().url), GetParam().host) << GetParam().url;
}

// The forms of URL that the filter's free-site check reads by their host (the usual ones are in
// store_rules_test.cpp).
const HostCase kHostCases[] = {
    // Browsers read a backslash as a slash: the request goes to a.example.
    {"BackslashEndsTheHost", "http://a.example\\@b.example/", "a.example"},
    {"SchemeRelative", "//A.example/x", "a.example"},
    {"BarePath", "/a.example", ""},
};
INSTANTIATE_TEST_SUITE_P(Urls, HistoryHost, ::testing::ValuesIn(kHostCases),
                         test_support::ByName());

}  // namespace
