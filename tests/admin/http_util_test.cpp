// The console's reading of targets, forms, cookies and addresses.
#include "admin/http_util.h"

#include <gtest/gtest.h>

namespace {

TEST(TargetTest, SegmentsAreDecodedOneByOneSoThatASlashInANameStaysInIt) {
  const auto target = admin::ParseTarget("/api/users/A%2FB%20C/minutes?x=1+2&y=%3C");
  ASSERT_TRUE(target.has_value());
  EXPECT_EQ(target->segments, (std::vector<std::string>{"api", "users", "A/B C", "minutes"}));
  EXPECT_EQ(admin::Field(target->query, "x"), "1 2");
  EXPECT_EQ(admin::Field(target->query, "y"), "<");
  EXPECT_EQ(admin::ParseTarget("//today/")->segments, std::vector<std::string>{"today"});
  EXPECT_TRUE(admin::ParseTarget("/")->segments.empty());
}

TEST(TargetTest, WhatDoesNotDecodeIsRefused) {
  EXPECT_FALSE(admin::ParseTarget("today").has_value());
  EXPECT_FALSE(admin::ParseTarget("http://host/today").has_value());
  EXPECT_FALSE(admin::ParseTarget("/users/%00").has_value());
  EXPECT_FALSE(admin::ParseTarget("/users/%4").has_value());
  EXPECT_FALSE(admin::ParseTarget("/users/%zz").has_value());
  EXPECT_FALSE(admin::ParseTarget("/today?a=%").has_value());
}

TEST(TargetTest, EncodingAndDecodingGiveTheTextBack) {
  const std::string name = "<B>\"X'&/ é";
  EXPECT_EQ(admin::PercentDecode(admin::PercentEncode(name), false), name);
  EXPECT_EQ(admin::PercentEncode("a-b_c.d~e"), "a-b_c.d~e");
}

TEST(CookieTest, FindsTheCookieByItsWholeName) {
  const std::string header = "xminutrix_session=bad; minutrix_session=good ; minutrix_lang=nl";
  EXPECT_EQ(admin::CookieValue(header, "minutrix_session"), "good");
  EXPECT_EQ(admin::CookieValue(header, "minutrix_lang"), "nl");
  EXPECT_EQ(admin::CookieValue(header, "other"), "");
  EXPECT_EQ(admin::CookieValue("", "minutrix_session"), "");
}

TEST(AddressTest, OnlyAddressLiteralsCount) {
  EXPECT_TRUE(admin::IsAddress("192.168.1.20"));
  EXPECT_TRUE(admin::IsAddress("::1"));
  EXPECT_TRUE(admin::IsAddress("2001:db8::7"));
  EXPECT_FALSE(admin::IsAddress("256.1.1.1"));
  EXPECT_FALSE(admin::IsAddress("1.2.3"));
  EXPECT_FALSE(admin::IsAddress("1.2.3.4, 5.6.7.8"));
  EXPECT_FALSE(admin::IsAddress("example.org"));
  EXPECT_FALSE(admin::IsAddress(""));
}

}  // namespace
