// SslBump leaves encrypted exactly the sites that a "host:" row makes free in the filter: both
// read the row the same way.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "hosts/squid/free_sites.h"
#include "store/free_site_rule.h"
#include "tests/support/test_support.h"

namespace {

struct AgreementCase {
  const char* name;
  const char* row;
  const char* host;    // a host of a request
  const char* domain;  // the splice entry; empty: not spliced, and not free by host
};

void PrintTo(const AgreementCase& c, std::ostream* out) { *out << c.name; }

class SplicedWhereFreeByHost : public ::testing::TestWithParam<AgreementCase> {};

TEST_P(SplicedWhereFreeByHost, SpliceAndFilterAgree) {
  const AgreementCase& c = GetParam();
  const bool free_by_host = store::IsHostRule(c.row) && store::HostRuleMatches(c.row, c.host);
  EXPECT_EQ(squid::SpliceDomainOfRow(c.row).value_or(""), c.domain);
  EXPECT_EQ(free_by_host, *c.domain != '\0') << "the filter's reading of " << c.row;
}

const AgreementCase kAgreementCases[] = {
    {"Plain", "host:a.example", "www.a.example", ".a.example"},
    {"BlankAfterThePrefix", "host:  a.example ", "a.example", ".a.example"},
    {"DotsBeforeTheName", "host:..a.example", "b.a.example", ".a.example"},
    {"BlankBeforeThePrefixIsNoHostRow", "  host:a.example", "a.example", ""},
    {"TabAfterTheNameNamesNoHost", "host:a.example\t", "a.example", ""},
};
INSTANTIATE_TEST_SUITE_P(Rows, SplicedWhereFreeByHost, ::testing::ValuesIn(kAgreementCases),
                         test_support::ByName());

}  // namespace
