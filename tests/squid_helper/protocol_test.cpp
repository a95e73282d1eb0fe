// Request lines in both extras forms, with and without channel-IDs, and the answers' syntax.
#include <gtest/gtest.h>

#include "hosts/squid/squid_protocol.h"

namespace {

using squid::ParseRequestLine;

struct Parsed {
  std::string channel, url, method, user, client;
};

Parsed Parse(const std::string& line) {
  std::string channel, error;
  const auto request = ParseRequestLine(line, channel, error);
  EXPECT_TRUE(request.has_value()) << line << ": " << error;
  if (!request) return {};
  return {request->channel, request->url, request->method, request->user, request->client};
}

TEST(SquidLine, DefaultExtrasWithUnescapedUserNames) {
  auto p = Parse(
      "http://a.example/x?y=1 127.0.0.1/localhost CORP\\alice GET myip=127.0.0.1 myport=3128");
  EXPECT_EQ(p.url, "http://a.example/x?y=1");
  EXPECT_EQ(p.user, "CORP\\alice");
  EXPECT_EQ(p.method, "GET");
  EXPECT_EQ(p.client, "127.0.0.1");
  EXPECT_EQ(p.channel, "");
  // %un is not escaped: a name with a space arrives as two words.
  p = Parse("7 http://a.example/ 10.0.0.5/- alice smith POST myip=127.0.0.1 myport=3128");
  EXPECT_EQ(p.channel, "7");
  EXPECT_EQ(p.user, "alice smith");
  EXPECT_EQ(p.method, "POST");
  p = Parse("http://a.example/ 127.0.0.1/- - GET myip=127.0.0.1 myport=3128");
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
  p = Parse("http://a.example/ user=bad%zzname%4");  // broken escapes stay as written
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

}  // namespace
