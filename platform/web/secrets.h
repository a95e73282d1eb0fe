// Secrets of the administration console: yescrypt password hashes, random tokens, a password
// read without echo, and files only the service's user may read. All functions may be called
// from several threads.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A yescrypt hash ("$y$...") of `password` with a new random salt; empty when the system's
// crypt library cannot make one.
std::string HashPassword(std::string_view password);

// Whether `password` matches `hash` (any hash crypt(3) knows). Takes the hash's own time whether
// or not it matches; false for an empty or damaged hash.
bool CheckPassword(std::string_view password, const std::string& hash);

// `bytes` random bytes from the kernel as lower-case hex (2 * bytes characters). Raises
// std::runtime_error when the kernel gives none.
std::string RandomHex(std::size_t bytes);

// Whether two texts are equal, in a time that depends on their lengths only.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// A password from standard input: with a terminal, asked with `prompt` on standard error without
// echo; otherwise the first line. nullopt at end of input.
std::optional<std::string> ReadPassword(const std::string& prompt);

// Replaces the whole file `path` atomically (written beside it, synced, renamed over it) with
// mode 0600. Its owner stays as it was; a new file gets the owner of its folder, so that the
// service that owns the machine root can read what root wrote. Returns an empty text, or what
// failed.
std::string ReplaceSecretFile(const std::filesystem::path& path, std::string_view content);

// Whether the file can be read by others than its owner (mode bits for group or others).
bool ReadableByOthers(const std::filesystem::path& path);

}  // namespace platform
