// The pieces of HTTP the console reads itself: the target's path and query, forms, cookies and
// addresses. Pure functions; safe from several threads.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace admin {

// %XX decoded; with `plus_is_space` (forms and queries) '+' is a blank. nullopt when a % is not
// followed by two hex digits or the result holds a NUL.
std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space);
// Every byte but unreserved ones as %XX, for a path segment or a query value.
std::string PercentEncode(std::string_view text);

using Fields = std::multimap<std::string, std::string, std::less<>>;

// "a=1&b=x+y" as fields; nullopt when one does not decode.
std::optional<Fields> ParseFields(std::string_view text);
// The first value of `name`, or `fallback`.
std::string Field(const Fields& fields, std::string_view name, const std::string& fallback = {});

struct Target {
  std::vector<std::string> segments;  // the path's segments, each decoded ("/users/A%2FB" is
                                      // {"users", "A/B"}); none for "/"
  Fields query;
};
// nullopt when the target is not an absolute path or does not decode.
std::optional<Target> ParseTarget(std::string_view target);

// The value of cookie `name` in a Cookie header; empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);

// Whether `text` is an IPv4 or IPv6 address literal.
bool IsAddress(std::string_view text);

}  // namespace admin
