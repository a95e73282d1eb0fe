// Squid's url_rewrite helper protocol: request lines in, answer lines out.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace squid {

// One request line, taken apart.
struct RequestLine {
  std::string channel;  // the channel-ID to echo, or empty without concurrency
  std::string url;      // as Squid gives it; "host:port" for CONNECT
  std::string method;   // "GET", "CONNECT", ...; empty when the extras do not say
  std::string user;     // decoded; empty for "-" or none
  std::string client;   // the client address, when the extras give it
};

// The extras Squid appends to each line, as configured; the helper never guesses them from a line,
// since a user name can hold anything that would tell one form from the other.
enum class Extras {
  kKeyed,    // url_rewrite_extras "ip=%>a method=%>rm user=%#un", values percent-encoded
  kDefault,  // Squid's default "%>a/%>A %un %>rm myip=%la myport=%lp", the user name unescaped
};
inline constexpr const char* kKeyedExtras = "ip=%>a method=%>rm user=%#un";
inline constexpr const char* kDefaultExtras = "%>a/%>A %un %>rm myip=%la myport=%lp";

// Parses `line` (without its line end) in the form `extras`. Keyed: exactly the words ip=,
// method= and user=, in any order. Default: the client word, the user name (from the third word
// up to the method word, spaces kept), the method, myip= and myport=. On failure returns nullopt
// with `error` set and `channel` still filled when the line had one.
std::optional<RequestLine> ParseRequestLine(std::string_view line, std::string& channel,
                                            std::string& error, Extras extras = Extras::kKeyed);

// The channel-ID that leads `line`, or empty.
std::string ChannelOf(std::string_view line);

// What the helper says once on standard error when a line does not fit `extras`: the form it
// expected and how to choose the other.
std::string ExtrasHint(Extras extras);

// "%XX" sequences decoded; a "%" not followed by two hex digits stays as it is.
std::string PercentDecode(std::string_view text);

// A Location as the filter wrote it, with every character that cannot stand in a URL inside
// Squid's quoted url= (space, controls, quote, backslash, non-ASCII, ...) percent-encoded.
// Existing "%XX" sequences are kept.
std::string LocationForSquid(std::string_view location);

// Whether `location`, a redirect the filter sent for `requested_url`, is the product page's start
// page: the page's query names the request as RequestedURL (its last key) and carries no
// DeniedMessage. The time-left and denied pages name the product's home instead, and a denial
// always carries DeniedMessage, so no denial is ever taken for a start page.
bool IsStartPage(std::string_view location, std::string_view requested_url);

// Answer lines, with the channel-ID in front when there is one.
std::string PassAnswer(const std::string& channel);
std::string RedirectAnswer(const std::string& channel, const std::string& location);
std::string BlockAnswer(const std::string& channel);
std::string BrokenAnswer(const std::string& channel, const std::string& message);

// The note that squid.conf turns into a denial.
inline constexpr const char* kBlockNote = "minutrix=block";

}  // namespace squid
