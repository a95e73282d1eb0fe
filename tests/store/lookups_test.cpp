// User and free-site look-ups over real tables.
#include "tests/store/store_fixture.h"

namespace store_test {
namespace {

struct UserCase {
  const char* name;
  const char* stored;
  long long allowance;
  long long used;
  const char* login;
  bool has_time;
  bool found;
  bool unlimited;
};

void PrintTo(const UserCase& c, std::ostream* out) {
  *out << "stored '" << c.stored << "' " << c.used << " of " << c.allowance << ", login '"
       << c.login << "'";
}

class UserLookUpTest : public StoreTest, public ::testing::WithParamInterface<UserCase> {};

TEST_P(UserLookUpTest, AnswersAsTheTableSays) {
  const UserCase& c = GetParam();
  AddUser("ZZFIRST", 60);
  AddUser(c.stored, c.allowance, c.used);
  ASSERT_TRUE(Start());
  bool has_time = !c.has_time, found = !c.found;
  EXPECT_EQ(LookUpUserInSet(c.login, &has_time, &found), 1);
  EXPECT_EQ(has_time, c.has_time);
  EXPECT_EQ(found, c.found);
  if (found) {
    EXPECT_EQ(DoesUserHaveUnlimitedTime(c.login), c.unlimited);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Users, UserLookUpTest,
    ::testing::Values(UserCase{"StoredInUpperCase", "JSMITH", 60, 0, "jsmith", true, true, false},
                      UserCase{"StoredInLowerCaseIsNotFound", "jsmith", 60, 0, "jsmith", true,
                               false, false},
                      UserCase{"AllowanceUsedUp", "JSMITH", 60, 60, "JSmith", false, true, false},
                      UserCase{"OverTheAllowance", "JSMITH", 60, 75, "JSMITH", false, true, false},
                      UserCase{"UnlimitedAllowance", "JSMITH", -1, 0, "jsmith", false, true, true},
                      UserCase{"QuotesAndSqlInTheName", "O'BRIEN\"; DROP TABLE USERS;--", 60, 0,
                               "o'brien\"; drop table users;--", true, true, false},
                      UserCase{"UnknownUser", "JSMITH", 60, 0, "nobody", true, false, false}),
    test_support::ByName());

TEST_F(StoreTest, UnknownUserIsLoggedAsMissing) {
  AddUser("JSMITH", 60);
  ASSERT_TRUE(Start());
  const Outcome outcome = Request("nobody");
  EXPECT_TRUE(outcome.has_time);
  EXPECT_FALSE(outcome.found);
  EXPECT_TRUE(Logged(">Failed to find user nobody"));
  EXPECT_TRUE(Logged(">Please add user nobody to database"));
}

TEST_F(StoreTest, LookUpAfterTheConnectionClosedReportsAndFails) {
  AddUser("JSMITH", 60);
  ASSERT_TRUE(Start());
  m_pConnection->Close();
  bool has_time = true, found = true;
  EXPECT_EQ(LookUpUserInSet("jsmith", &has_time, &found), 0);
  EXPECT_FALSE(has_time);
  EXPECT_FALSE(found);
  EXPECT_TRUE(Logged("*[LookUpUserInSet] An error has occured!"));
  EXPECT_TRUE(Logged("*\tCode = 800a0e7d"));
  // Section 3 was released on the way out.
  EXPECT_EQ(sectionUseCount[3].load(), 0);
}

struct SiteCase {
  const char* name;
  std::vector<std::string> pages;
  const char* server;
  const char* url;
  bool free;
};

void PrintTo(const SiteCase& c, std::ostream* out) {
  *out << c.url << " with " << c.pages.size() << " row(s), server '" << c.server << "'";
}

class SiteLookUpTest : public StoreTest, public ::testing::WithParamInterface<SiteCase> {};

TEST_P(SiteLookUpTest, MatchesBySubstringWithoutCase) {
  const SiteCase& c = GetParam();
  AddUser("JSMITH", 60);
  for (const std::string& page : c.pages) AddSite(page);
  ASSERT_TRUE(Start());
  RefreshFreeSites();
  EXPECT_EQ(LookUpSiteInSet(c.url, c.server), c.free ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sites, SiteLookUpTest,
    ::testing::Values(
        SiteCase{"PlaceholderTextMatchesNothing",
                 {"Enter free websites here!"},
                 "proxy",
                 "http://www.example.com/",
                 false},
        SiteCase{"TextInThePath",
                 {"Enter free websites here!", "news"},
                 "proxy",
                 "http://www.example.com/World/News/1",
                 true},
        SiteCase{
            "HostInAnyCase", {"wikipedia.org"}, "proxy", "http://EN.WIKIPEDIA.ORG/wiki/X", true},
        SiteCase{"OtherHost", {"wikipedia.org"}, "proxy", "http://www.example.com/", false},
        SiteCase{"EmptyTextMatchesNothing", {""}, "proxy", "http://www.example.com/", false},
        SiteCase{"EmptyServerNameMakesNothingFree", {"bbc"}, "", "http://www.example.com/", false},
        SiteCase{
            "ThisServerIsAlwaysFree", {"bbc"}, "Proxy", "http://proxy/Minutrix/Minutrix.asp", true},
        SiteCase{"QuotesAndWildcardsMatchAsText",
                 {"o'reilly%_[x]"},
                 "proxy",
                 "http://www.example.com/O'Reilly%_[X]/",
                 true},
        SiteCase{"WildcardsAreNotPatterns",
                 {"o'reilly%_[x]"},
                 "proxy",
                 "http://www.example.com/oXreillyY/",
                 false},
        // Where and how a row's text stands in the URL.
        SiteCase{"OneLetterAnywhereInAnyCase", {"q"}, "proxy", "http://a.example/?Q=1", true},
        SiteCase{"OneLetterNotInTheUrl", {"z"}, "proxy", "http://a.example/?q=1", false},
        SiteCase{"TextAtTheVeryEnd", {"/Page"}, "proxy", "http://a.example/PAGE", true},
        SiteCase{"TextIsTheWholeUrl", {"HTTP://A.example/"}, "proxy", "http://a.example/", true},
        SiteCase{
            "TextLongerThanTheUrl", {"http://a.example/x"}, "proxy", "http://a.example/", false},
        SiteCase{"MatchAfterAPartialOne", {"abac"}, "proxy", "http://a.example/ababac", true},
        SiteCase{"OnlyPartialMatches", {"abac"}, "proxy", "http://a.example/abab-aba", false},
        SiteCase{"TextAfterItsLettersApart", {"ex"}, "proxy", "http://e.x.a.example.org/", true},
        SiteCase{"FirstTwoLettersNowhereTogether", {"xe"}, "proxy", "http://e.x.example/", false},
        SiteCase{"LeadingBlankIsPartOfTheText", {" news"}, "proxy", "http://a.example/news", false},
        SiteCase{"BytesAbove127AsTheyAre",
                 {"caf\xc3\xa9"},
                 "proxy",
                 "http://a.example/CAF\xc3\xa9",
                 true},
        SiteCase{"BytesAbove127HaveNoCase",
                 {"caf\xc3\xa9"},
                 "proxy",
                 "http://a.example/CAF\xc3\x89",
                 false},
        SiteCase{"LaterRowMatches",
                 {"free1.example", "free2.example", "Example/Y"},
                 "proxy",
                 "http://x.example/y",
                 true}),
    test_support::ByName());

TEST_F(StoreTest, FreeSiteAddedWhileRunningIsSeenAtTheNextRequest) {
  AddUser("JSMITH", 60);
  AddSite("Enter free websites here!");
  ASSERT_TRUE(Start());
  EXPECT_FALSE(Request("jsmith", "http://school.example.org/").free_site);
  AddSite("school.example");
  EXPECT_TRUE(Request("jsmith", "http://school.example.org/").free_site);
}

}  // namespace
}  // namespace store_test
