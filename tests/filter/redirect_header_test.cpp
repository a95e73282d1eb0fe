// The text of a redirect's response head: no value can add header lines, and it always fits the
// server's 8192-byte buffer with its blank line.
#include <gtest/gtest.h>

#include "filter/host_operations.h"

namespace {

TEST(RedirectHeader, KeepsEveryOtherCharacterAndEndsTheHead) {
  EXPECT_EQ(RedirectHeaderText(
                "host:80/Minutrix/Minutrix.asp?UserName=a b&RequestedURL=http://x/?q=1&r=2"),
            "Location: http://host:80/Minutrix/Minutrix.asp?UserName=a "
            "b&RequestedURL=http://x/?q=1&r=2\r\n\r\n");
}

TEST(RedirectHeader, DropsLineBreaksAndZeroBytes) {
  EXPECT_EQ(RedirectHeaderText(std::string("a\r\nSet-Cookie: x=1\nb\rc\0d", 25)),
            "Location: http://aSet-Cookie: x=1bcd\r\n\r\n");
  EXPECT_EQ(HeaderSafe(std::string("\r\n\0", 3)), "");
}

TEST(RedirectHeader, CutsALongUrlToTheBuffer) {
  const std::string url =
      "host:80/Minutrix/Minutrix.asp?RequestedURL=http://x/" + std::string(10000, 'u');
  const std::string header = RedirectHeaderText(url);
  EXPECT_EQ(header.size() + 1, 8192u);  // with its terminating zero, exactly the buffer
  EXPECT_EQ(header.substr(0, 17 + 52), "Location: http://" + url.substr(0, 52));
  EXPECT_EQ(header.substr(header.size() - 4), "\r\n\r\n");
  EXPECT_EQ(header.find('\r'), header.size() - 4);
}

TEST(UserName, AfterTheLastBackslash) {
  EXPECT_EQ(UserNameOf("DOMAIN\\alice"), "alice");
  EXPECT_EQ(UserNameOf("A\\B\\alice"), "alice");
  EXPECT_EQ(UserNameOf("alice"), "alice");
  EXPECT_EQ(UserNameOf("DOMAIN\\"), "");
}

}  // namespace
