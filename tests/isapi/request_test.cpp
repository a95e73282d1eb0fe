// A request's server variables and headers as the host keeps them: names found in any case, one
// entry per name however it is spelt.
#include <gtest/gtest.h>

#include "hosts/isapi/filter_host.h"

namespace {

std::string ValueOf(const isapi_host::NamedValues& values, std::string_view name) {
  const auto it = values.find(name);
  return it == values.end() ? "(none)" : it->second;
}

TEST(RequestTest, MadeRequestAnswersItsVariablesInAnyCase) {
  const auto request = isapi_host::MakeRequest("DOMAIN\\bob", "http://a.example/path?q=1",
                                               "proxy.test", "CONNECT", "127.0.0.9");
  const auto& variables = request.server_variables;
  EXPECT_EQ(ValueOf(variables, "remote_user"), "DOMAIN\\bob");
  EXPECT_EQ(ValueOf(variables, "Auth_User"), "DOMAIN\\bob");
  EXPECT_EQ(ValueOf(variables, "LOGON_USER"), "DOMAIN\\bob");
  EXPECT_EQ(ValueOf(variables, "request_method"), "CONNECT");
  EXPECT_EQ(ValueOf(variables, "REMOTE_ADDR"), "127.0.0.9");
  EXPECT_EQ(ValueOf(variables, "server_name"), "proxy.test");
  EXPECT_EQ(ValueOf(variables, "url"), "http://a.example/path?q=1");
  EXPECT_EQ(ValueOf(variables, "REMOTE_USE"), "(none)") << "a prefix is another name";
  EXPECT_EQ(ValueOf(variables, "REMOTE_USERS"), "(none)");
  EXPECT_EQ(ValueOf(request.headers, "METHOD"), "CONNECT");
  EXPECT_EQ(ValueOf(request.headers, "url"), "http://a.example/path?q=1");
  EXPECT_EQ(ValueOf(request.headers, "Version"), "HTTP/1.1");

  const auto plain = isapi_host::MakeRequest("bob", "http://a.example/", "proxy.test");
  EXPECT_EQ(ValueOf(plain.server_variables, "REQUEST_METHOD"), "GET");
  EXPECT_EQ(ValueOf(plain.server_variables, "REMOTE_ADDR"), "(none)") << "no client given";
}

TEST(RequestTest, HeadersChangeInPlaceWhateverTheSpelling) {
  auto request = isapi_host::MakeRequest("bob", "http://a.example/", "proxy.test");
  auto& headers = request.headers;
  const std::size_t count = headers.size();
  headers["url"] = "http://b.example/";
  EXPECT_EQ(headers.size(), count) << "the URL header was replaced, not added again";
  EXPECT_EQ(ValueOf(headers, "URL"), "http://b.example/");
  headers["Host:"] = "b.example";
  EXPECT_EQ(headers.size(), count + 1);
  EXPECT_EQ(ValueOf(headers, "HOST:"), "b.example");
  EXPECT_EQ(headers.erase("Url"), 1u);
  EXPECT_EQ(ValueOf(headers, "URL"), "(none)");
  EXPECT_EQ(headers.erase("URL"), 0u);
  EXPECT_EQ(ValueOf(headers, "host:"), "b.example") << "the other headers stay";
  EXPECT_EQ(ValueOf(headers, "method"), "GET");
}

}  // namespace
