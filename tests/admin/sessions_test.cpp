// Sessions end after 30 idle minutes; five failed logins of a name, or twenty from an address,
// within 15 minutes block that name or address for 15 minutes.
#include "admin/sessions.h"

#include <gtest/gtest.h>

namespace {

constexpr std::time_t kStart = 1'800'000'000;

TEST(SessionsTest, TokensAre256RandomBitsAndTheCsrfTokenIsAnother) {
  admin::Sessions sessions;
  const admin::Session a = sessions.Open("anna", kStart);
  const admin::Session b = sessions.Open("anna", kStart);
  EXPECT_EQ(a.token.size(), 64u);
  EXPECT_EQ(a.token.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(a.csrf.size(), 64u);
  EXPECT_NE(a.token, b.token);
  EXPECT_NE(a.token, a.csrf);
}

TEST(SessionsTest, EndAfterThirtyIdleMinutesAndAtLogout) {
  admin::Sessions sessions;
  const admin::Session session = sessions.Open("anna", kStart);
  ASSERT_TRUE(sessions.Touch(session.token, kStart + 29 * 60 + 59).has_value());
  ASSERT_TRUE(sessions.Touch(session.token, kStart + 59 * 60).has_value()) << "seen at 29:59";
  EXPECT_FALSE(sessions.Touch(session.token, kStart + 89 * 60 + 59).has_value());
  EXPECT_FALSE(sessions.Touch(session.token, kStart + 60 * 60).has_value()) << "ended for good";

  const admin::Session other = sessions.Open("anna", kStart);
  sessions.Close(other.token);
  EXPECT_FALSE(sessions.Touch(other.token, kStart).has_value());
  EXPECT_FALSE(sessions.Touch("", kStart).has_value());
}

TEST(LoginThrottleTest, FiveFailuresOfANameBlockItForFifteenMinutes) {
  admin::LoginThrottle throttle;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(throttle.Failed("Anna", "10.0.0." + std::to_string(i), kStart + i), "");
  }
  EXPECT_FALSE(throttle.Blocked("anna", "10.0.0.9", kStart + 4));
  EXPECT_EQ(throttle.Failed("ANNA", "10.0.0.4", kStart + 4), "the name 'ANNA'");
  EXPECT_TRUE(throttle.Blocked("anna", "10.0.0.9", kStart + 5)) << "from any address";
  EXPECT_FALSE(throttle.Blocked("bert", "10.0.0.4", kStart + 5));
  EXPECT_TRUE(throttle.Blocked("anna", "10.0.0.9", kStart + 4 + 15 * 60 - 1));
  EXPECT_FALSE(throttle.Blocked("anna", "10.0.0.9", kStart + 4 + 15 * 60));
}

TEST(LoginThrottleTest, FailuresOlderThanFifteenMinutesAndBeforeAGoodPasswordDoNotCount) {
  admin::LoginThrottle throttle;
  for (int i = 0; i < 4; ++i) throttle.Failed("anna", "10.0.0.1", kStart + i);
  EXPECT_EQ(throttle.Failed("anna", "10.0.0.1", kStart + 15 * 60 + 1), "")
      << "four of five fell out of the window";
  for (int i = 0; i < 3; ++i) throttle.Failed("bert", "10.0.0.2", kStart + i);
  throttle.Succeeded("BERT");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(throttle.Failed("bert", "10.0.0.2", kStart + 10 + i), "");
}

TEST(LoginThrottleTest, TwentyFailuresFromAnAddressBlockItWhateverTheNames) {
  admin::LoginThrottle throttle;
  for (int i = 0; i < 19; ++i) {
    EXPECT_EQ(throttle.Failed("guess" + std::to_string(i), "10.0.0.7", kStart + i), "");
  }
  EXPECT_EQ(throttle.Failed("guess19", "10.0.0.7", kStart + 19), "the address 10.0.0.7");
  EXPECT_TRUE(throttle.Blocked("anna", "10.0.0.7", kStart + 20));
  EXPECT_FALSE(throttle.Blocked("anna", "10.0.0.8", kStart + 20));
}

}  // namespace
