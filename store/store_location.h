// Where a filter's store is: the file beside the filter, or a database named by the registry
// value MinutrixStore (a libpq "postgresql://" URI or "key=value" text, or a "Data Source=" of
// the machine). Also how such a text is shown without its password.
#pragma once

#include <string>
#include <string_view>

namespace store {

// The registry value under HKLM\software\Minutrix that names a shared store.
inline constexpr const char* kStoreValue = "MinutrixStore";
// The registry value, and the helper's option, that say what passes while a shared store is down.
inline constexpr const char* kStoreDownPolicyValue = "StoreDownPolicy";

// Whether `connection` names a database server (PostgreSQL): a "postgresql://" or "postgres://"
// URI, or libpq's "key=value" words, rather than a "Data Source=" file.
bool IsServerStore(std::string_view connection);

// The password that `connection` holds (URI user information, "password=" word, or "PASSWORD="
// pair); empty when none.
std::string PasswordOf(std::string_view connection);

// `text` with every occurrence of the password of `connection` replaced by "********"; the
// connection text itself shown this way hides its password wherever it is written.
std::string WithoutPassword(std::string_view text, std::string_view connection);

// What passes while a shared store cannot be reached.
enum class StoreDownPolicy { kRefuse, kAllow };
// "allow" (any case, blanks around) is kAllow; anything else, empty included, kRefuse.
StoreDownPolicy ParseStoreDownPolicy(std::string_view text);

}  // namespace store
