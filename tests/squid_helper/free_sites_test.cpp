// Which free sites and administrator's hosts SslBump leaves encrypted, as squid.conf entries.
#include "hosts/squid/free_sites.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

struct RowCase {
  const char* name;
  const char* row;
  const char* domain;  // empty: the row names no host, and its site is decrypted
};

class SpliceDomainOfRow : public ::testing::TestWithParam<RowCase> {};

TEST_P(SpliceDomainOfRow, IsTheHostTheRowMakesFree) {
  const RowCase& c = GetParam();
  EXPECT_EQ(squid::SpliceDomainOfRow(c.row).value_or(""), c.domain) << c.row;
}

const RowCase kRowCases[] = {
    {"HostRow", "host:free.example.org", ".free.example.org"},
    {"HostRowAnyCase", "HOST:Free.Example.ORG", ".free.example.org"},
    {"HostRowAddress", "host:127.0.0.3", "127.0.0.3"},
    {"PlainName", "www.plain.example", ".www.plain.example"},
    {"PlainNameWithSchemeAndSlash", "https://www.plain.example/", ".www.plain.example"},
    {"PlainWithPort", "127.0.0.2:8080", ""},
    {"PlainWithPath", "www.plain.example/free", ""},
    {"PlainWord", "lessons", ""},
    {"Placeholder", "Enter free websites here!", ""},
    {"Blank", "  ", ""},
    {"HostRowWithSpace", "host:a b.example", ""},
    {"HostRowEmpty", "host:", ""},
    {"DoubleDot", "a..example", ""},
    {"ConfigInjection", "host:a.example\nhttp_access", ""},
};
INSTANTIATE_TEST_SUITE_P(Rows, SpliceDomainOfRow, ::testing::ValuesIn(kRowCases),
                         test_support::ByName());

TEST(SpliceHosts, GivenHostsAreNamesOrAddresses) {
  EXPECT_EQ(squid::SpliceDomainOfHost("bank.example").value_or(""), ".bank.example");
  EXPECT_EQ(squid::SpliceDomainOfHost(".bank.example").value_or(""), ".bank.example");
  EXPECT_EQ(squid::SpliceDomainOfHost("10.1.2.3").value_or(""), "10.1.2.3");
  EXPECT_FALSE(squid::SpliceDomainOfHost(""));
  EXPECT_FALSE(squid::SpliceDomainOfHost("bank"));
  EXPECT_FALSE(squid::SpliceDomainOfHost("bank.example:443"));
  EXPECT_FALSE(squid::SpliceDomainOfHost("bank.example all"));
}

TEST(SpliceHosts, EntriesCoveredByAnotherAreLeftOut) {
  EXPECT_EQ(squid::WithoutCoveredDomains({".a.example", ".b.a.example", ".xa.example", "10.0.0.1",
                                          ".a.example", "10.0.0.1", ".c.example"}),
            (std::vector<std::string>{".a.example", ".xa.example", "10.0.0.1", ".c.example"}));
  EXPECT_EQ(squid::WithoutCoveredDomains({".b.a.example", ".a.example"}),
            (std::vector<std::string>{".a.example"}));
}

}  // namespace
