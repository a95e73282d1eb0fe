// Which URLs cost no time: the own-server check by host, empty rows, and "host:" free-site rows,
// including the URLs by which a user out of time got around the limit.
#include <ostream>

#include "tests/store/store_fixture.h"

namespace store_test {
namespace {

struct FreeCase {
  const char* name;
  std::vector<std::string> pages;
  const char* server;
  const char* url;
  bool free;
};

void PrintTo(const FreeCase& c, std::ostream* out) { *out << c.name; }

class FreeSiteRuleTest : public StoreTest, public ::testing::WithParamInterface<FreeCase> {};

TEST_P(FreeSiteRuleTest, DecidesByHostWhereItShould) {
  const FreeCase& c = GetParam();
  AddUser("JSMITH", 60);
  for (const std::string& page : c.pages) AddSite(page);
  ASSERT_TRUE(Start());
  RefreshFreeSites();
  EXPECT_EQ(LookUpSiteInSet(c.url, c.server), c.free ? 1 : 0) << c.url;
}

const FreeCase kFreeCases[] = {
    // The own-server check.
    {"ServerNameInQueryIsCharged",
     {},
     "proxy.school.test",
     "http://a.example/?x=proxy.school.test",
     false},
    {"ServerNameInPathIsCharged",
     {},
     "proxy.school.test",
     "http://a.example/proxy.school.test/",
     false},
    {"ServerNameAsSubdomainIsCharged",
     {},
     "proxy.school.test",
     "http://proxy.school.test.evil.example/",
     false},
    {"ServerNameAsUserInfoIsCharged",
     {},
     "proxy.school.test",
     "http://proxy.school.test@evil.example/",
     false},
    {"ServerNameBeforeBackslashIsCharged",
     {},
     "proxy.school.test",
     "http://evil.example\\@proxy.school.test/",
     false},
    {"ServerNameInsideLongerAddressIsCharged", {}, "127.0.0.1", "http://127.0.0.10/", false},
    {"OwnServerIsFree",
     {},
     "proxy.school.test",
     "http://PROXY.school.test/Minutrix/Minutrix.asp",
     true},
    {"OwnServerWithPortIsFree", {}, "proxy.school.test", "http://proxy.school.test:8080/x", true},
    {"ServerNameWithPortMatchesHostAndPort",
     {},
     "proxy.school.test:8080",
     "http://proxy.school.test:8080/x",
     true},
    {"ServerNameWithPortNeedsThatPort",
     {},
     "proxy.school.test:8080",
     "http://proxy.school.test:9090/x",
     false},
    {"OwnServerAfterUserInfoIsFree",
     {},
     "proxy.school.test",
     "http://u:pw@proxy.school.test/",
     true},
    {"OwnServerConnectIsFree", {}, "proxy.school.test", "proxy.school.test:443", true},
    {"OwnServerBracketedAddressIsFree", {}, "[::1]", "http://[::1]:8080/", true},
    {"EmptyServerNameMakesNothingFree", {}, "", "http://www.example.com/", false},
    {"BlankServerNameMakesNothingFree", {}, "  ", "http://www.example.com/", false},
    {"BarePathNamesNoServer", {}, "proxy", "/Minutrix/proxy", false},
    // Empty and blank rows.
    {"EmptyRowMatchesNothing", {""}, "proxy", "http://www.example.com/", false},
    {"BlankRowMatchesNothing", {"   "}, "proxy", "http://www.example.com/ /", false},
    {"BlankRowDoesNotHideLaterRows",
     {" ", "example.com"},
     "proxy",
     "http://www.example.com/",
     true},
    // Plain rows keep the substring rule, ports and paths included.
    {"PlainRowWithPortAndPath",
     {"127.0.0.2:8080/free"},
     "proxy",
     "http://127.0.0.2:8080/free/x",
     true},
    {"PlainRowMatchesAQuery", {"example.org"}, "proxy", "http://a.example/?u=example.org", true},
    // host: rows.
    {"HostRowMatchesTheHost", {"host:example.org"}, "proxy", "http://example.org/", true},
    {"HostRowMatchesASubdomain",
     {"host:example.org"},
     "proxy",
     "http://WWW.Example.ORG:81/x",
     true},
    {"HostRowMatchesAConnect", {"host:example.org"}, "proxy", "mail.example.org:443", true},
    {"HostRowIgnoresTheQuery",
     {"host:example.org"},
     "proxy",
     "http://a.example/?u=example.org",
     false},
    {"HostRowIgnoresThePath",
     {"host:example.org"},
     "proxy",
     "http://a.example/example.org/",
     false},
    {"HostRowNeedsADotBefore", {"host:example.org"}, "proxy", "http://badexample.org/", false},
    {"HostRowIgnoresUserInfo",
     {"host:example.org"},
     "proxy",
     "http://example.org@a.example/",
     false},
    {"HostRowPrefixInAnyCase", {"HOST:example.org"}, "proxy", "http://example.org/", true},
    {"EmptyHostRowMatchesNothing", {"host:"}, "proxy", "http://example.org/", false},
    {"HostRowDoesNotMatchABarePath", {"host:example.org"}, "proxy", "/example.org", false},
};

INSTANTIATE_TEST_SUITE_P(Rules, FreeSiteRuleTest, ::testing::ValuesIn(kFreeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A user out of time who adds the proxy's name to a URL is still denied.
TEST_F(StoreTest, UserOutOfTimeGainsNothingFromTheServerNameInAQuery) {
  AddUser("JSMITH", 5, 5);
  ASSERT_TRUE(Start());
  const Outcome outcome =
      Request("jsmith", std::string("http://a.example/?x=") + StoreTest::kServer);
  EXPECT_FALSE(outcome.has_time);
  EXPECT_FALSE(outcome.free_site);
}

}  // namespace
}  // namespace store_test
