// Request lines in both extras forms, with and without channel-IDs, and the answers' syntax.
#include <gtest/gtest.h>

#include "hosts/squid/squid_protocol.h"
#include "tests/support/test_support.h"

namespace {

using squid::ParseRequestLine;

struct Parsed {
  std::string channel, url, method, user, client;
};

Parsed Parse(const std::string& line, squid::Extras extras = squid::Extras::kKeyed) {
  std::string channel, error;
  const auto request = ParseRequestLine(line, channel, error, extras);
  EXPECT_TRUE(request.has_value()) << line << ": " << error;
  if (!request) return {};
  return {request->channel, request->url, request->method, request->user, request->client};
}

TEST(SquidLine, DefaultExtrasWithUnescapedUserNames) {
  constexpr auto kDefault = squid::Extras::kDefault;
  auto p =
      Parse("http://a.example/x?y=1 127.0.0.1/localhost CORP\\alice GET myip=127.0.0.1 myport=3128",
            kDefault);
  EXPECT_EQ(p.url, "http://a.example/x?y=1");
  EXPECT_EQ(p.user, "CORP\\alice");
  EXPECT_EQ(p.method, "GET");
  EXPECT_EQ(p.client, "127.0.0.1");
  EXPECT_EQ(p.channel, "");
  // %un is not escaped: a name with a space arrives as two words.
  p = Parse("7 http://a.example/ 10.0.0.5/- alice smith POST myip=127.0.0.1 myport=3128", kDefault);
  EXPECT_EQ(p.channel, "7");
  EXPECT_EQ(p.user, "alice smith");
  EXPECT_EQ(p.method, "POST");
  p = Parse("http://a.example/ 127.0.0.1/- - GET myip=127.0.0.1 myport=3128", kDefault);
  EXPECT_EQ(p.user, "");
}

TEST(SquidLine, KeyValueExtrasArePercentDecoded) {
  auto p = Parse("12 http://a.example/ ip=127.0.0.1 method=GET user=CORP%5Calice%20smith");
  EXPECT_EQ(p.channel, "12");
  EXPECT_EQ(p.user, "CORP\\alice smith");
  EXPECT_EQ(p.method, "GET");
  p = Parse("a.example:443 ip=127.0.0.1 method=CONNECT user=-");
  EXPECT_EQ(p.url, "a.example:443");
  EXPECT_EQ(p.method, "CONNECT");
  EXPECT_EQ(p.user, "");
  p = Parse("http://a.example/ ip=1 method=GET user=bad%zzname%4");  // broken escapes stay
  EXPECT_EQ(p.user, "bad%zzname%4");
}

TEST(SquidLine, BrokenLinesAreErrorsWithTheirChannel) {
  std::string channel, error;
  EXPECT_FALSE(ParseRequestLine("", channel, error));
  EXPECT_EQ(error, "empty request line");
  EXPECT_FALSE(ParseRequestLine("   ", channel, error));
  EXPECT_FALSE(ParseRequestLine("42", channel, error));
  EXPECT_EQ(channel, "42");
  EXPECT_FALSE(ParseRequestLine("42 http://a/ onlyone", channel, error));
  EXPECT_EQ(squid::BrokenAnswer("42", "bad \"line\"\n"), "42 BH message=\"bad line\"");
}

TEST(SquidAnswer, RedirectKeepsTheLocationButEncodesWhatCannotStandInIt) {
  EXPECT_EQ(squid::RedirectAnswer(
                "", "http://h:80/M.asp?UserName=a b&RequestedURL=http://x/?q=1#f&D=50%25 off"),
            "OK status=302 "
            "url=\"http://h:80/M.asp?UserName=a%20b&RequestedURL=http://x/?q=1#f&D=50%25%20off\"");
  EXPECT_EQ(squid::LocationForSquid("a\"b\\c\x01\xc3\xa9<>"), "a%22b%5Cc%01%C3%A9%3C%3E");
  EXPECT_EQ(squid::PassAnswer("3"), "3 ERR");
  EXPECT_EQ(squid::BlockAnswer(""), "OK minutrix=block");
}

TEST(SquidAnswer, PercentDecode) {
  EXPECT_EQ(squid::PercentDecode("a%20b%5c%5C%"), "a b\\\\%");
  EXPECT_EQ(squid::PercentDecode("%4"), "%4");
  EXPECT_EQ(squid::PercentDecode("%00x"), std::string("\0x", 2));
}

// The form of the extras is configured: the words of a line, a user name among them, never
// switch it, and a line of the other form does not fit.
struct FormCase {
  const char* name;
  squid::Extras extras;
  const char* line;
  bool fits;
  const char* user;    // when it fits
  const char* method;  // when it fits
};

void PrintTo(const FormCase& c, std::ostream* out) { *out << c.name; }

class SquidLineForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(SquidLineForm, ParsesOnlyTheConfiguredForm) {
  const FormCase& c = GetParam();
  std::string channel, error;
  const auto request = ParseRequestLine(c.line, channel, error, c.extras);
  ASSERT_EQ(request.has_value(), c.fits) << c.line << ": " << error;
  if (!request) {
    EXPECT_FALSE(error.empty());
    return;
  }
  EXPECT_EQ(request->user, c.user);
  EXPECT_EQ(request->method, c.method);
}

constexpr auto kKeyed = squid::Extras::kKeyed;
constexpr auto kDefault = squid::Extras::kDefault;
const FormCase kFormCases[] = {
    {"DefaultNameHoldingUserKey", kDefault,
     "http://a.example/ 127.0.0.1/- mallory user=bob GET myip=127.0.0.1 myport=3128", true,
     "mallory user=bob", "GET"},
    {"DefaultNameHoldingMethodKey", kDefault,
     "http://a.example/ 127.0.0.1/- mallory method=GET POST myip=127.0.0.1 myport=3128", true,
     "mallory method=GET", "POST"},
    {"DefaultNameHoldingAllKeys", kDefault,
     "http://a.example/ 127.0.0.1/- ip=1 method=GET user=bob GET myip=127.0.0.1 myport=3128", true,
     "ip=1 method=GET user=bob", "GET"},
    {"DefaultNameHoldingMethodAndAddresses", kDefault,
     "http://a.example/ 127.0.0.1/- eve GET myip=1 myport=2 GET myip=127.0.0.1 myport=3128", true,
     "eve GET myip=1 myport=2", "GET"},
    {"DefaultNameKeepsItsSpaces", kDefault,
     "http://a.example/ 127.0.0.1/- alice  smith GET myip=127.0.0.1 myport=3128", true,
     "alice  smith", "GET"},
    {"DefaultConnect", kDefault, "a.example:443 127.0.0.1/- bob CONNECT myip=127.0.0.1 myport=3128",
     true, "bob", "CONNECT"},
    {"DefaultWithoutAddresses", kDefault, "http://a.example/ 127.0.0.1/- bob GET", false, "", ""},
    {"DefaultWithoutUser", kDefault, "http://a.example/ 127.0.0.1/- GET myip=1 myport=2", false, "",
     ""},
    {"DefaultWithBadMethod", kDefault, "http://a.example/ 127.0.0.1/- bob get myip=1 myport=2",
     false, "", ""},
    {"KeyedLineIsNotDefault", kDefault, "http://a.example/ ip=127.0.0.1 method=GET user=bob", false,
     "", ""},
    {"DefaultLineIsNotKeyed", kKeyed,
     "http://a.example/ 127.0.0.1/- mallory user=bob GET myip=127.0.0.1 myport=3128", false, "",
     ""},
    {"KeyedWithoutExtras", kKeyed, "http://a.example/", false, "", ""},
    {"KeyedWithoutUser", kKeyed, "http://a.example/ ip=1 method=GET", false, "", ""},
    {"KeyedWithRepeatedUser", kKeyed, "http://a.example/ ip=1 method=GET user=eve user=bob", false,
     "", ""},
    {"KeyedWithUnknownWord", kKeyed, "http://a.example/ ip=1 method=GET user=eve extra", false, "",
     ""},
    {"KeyedEncodedNameHoldingKeys", kKeyed,
     "http://a.example/ ip=1 method=GET user=mallory%20user%3Dbob%20method%3DGET", true,
     "mallory user=bob method=GET", "GET"},
    {"KeyedInAnyOrder", kKeyed, "http://a.example/ user=bob method=POST ip=1", true, "bob", "POST"},
};

INSTANTIATE_TEST_SUITE_P(Forms, SquidLineForm, ::testing::ValuesIn(kFormCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SquidLine, ChannelOfALineTooLongToParse) {
  EXPECT_EQ(squid::ChannelOf("17 http://a.example/" + std::string(100, 'x')), "17");
  EXPECT_EQ(squid::ChannelOf(std::string(100, 'x')), "");
}

// Only the start page opens a CONNECT's tunnel; everything else the filter redirects refuses it.
struct StartPageCase {
  const char* name;
  const char* location;
  const char* requested;
  bool start_page;
};

class StartPageOfConnect : public ::testing::TestWithParam<StartPageCase> {};

TEST_P(StartPageOfConnect, IsTold) {
  const StartPageCase& c = GetParam();
  EXPECT_EQ(squid::IsStartPage(c.location, c.requested), c.start_page) << c.location;
}

#define PAGE "http://proxy:80/Minutrix/Minutrix.asp?"
const StartPageCase kStartPageCases[] = {
    {"StartPage",
     PAGE "UserName=alice&TimeLeft=5&CurrentUserCommand=timeleft&RequestedURL=a.example:443",
     "a.example:443", true},
    {"DeniedPage",
     PAGE "UserName=bob&TimeLeft=0&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com"
          "&DeniedMessage=Used%20up",
     "a.example:443", false},
    {"DeniedPageWithEmptyMessage",
     PAGE
     "UserName=bob&TimeLeft=0&CurrentUserCommand=t&RequestedURL=www.minutrix.com&DeniedMessage",
     "www.minutrix.com", false},
    {"TimeLeftPage",
     PAGE "UserName=alice&TimeLeft=5&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com",
     "a.example:443", false},
    {"OtherRequest", PAGE "UserName=alice&TimeLeft=5&RequestedURL=b.example:443", "a.example:443",
     false},
    {"RequestOnlyEndsLikeIt", PAGE "UserName=alice&RequestedURL=xa.example:443", "a.example:443",
     false},
    {"NameSmugglingDeniedKey",
     PAGE "UserName=eve&DeniedMessage=x&TimeLeft=0&RequestedURL=a.example:443", "a.example:443",
     false},
    {"OtherPage", "http://elsewhere/?RequestedURL=a.example:443", "a.example:443", false},
    {"NoRequest", PAGE "UserName=alice&RequestedURL=", "", false},
};
#undef PAGE

INSTANTIATE_TEST_SUITE_P(Redirects, StartPageOfConnect, ::testing::ValuesIn(kStartPageCases),
                         test_support::ByName());

}  // namespace
