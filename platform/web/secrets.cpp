// Hashes through libxcrypt's crypt_r, randomness from getrandom, files through POSIX calls.
#include "platform/web/secrets.h"

#include <crypt.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>

namespace platform {
namespace {

// crypt_data is 32 KiB: too large for a worker thread's stack.
std::unique_ptr<crypt_data> NewCryptData() {
  auto data = std::make_unique<crypt_data>();
  std::memset(data.get(), 0, sizeof(crypt_data));
  return data;
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string HashPassword(std::string_view password) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  // Cost 0 takes the library's default for yescrypt.
  if (crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting) == nullptr) return {};
  const std::string text(password);
  auto data = NewCryptData();
  const char* hash = crypt_r(text.c_str(), setting, data.get());
  if (hash == nullptr || hash[0] == '*') return {};
  return hash;
}

bool CheckPassword(std::string_view password, const std::string& hash) {
  if (hash.empty() || hash[0] != '$') return false;
  const std::string text(password);
  auto data = NewCryptData();
  const char* computed = crypt_r(text.c_str(), hash.c_str(), data.get());
  if (computed == nullptr || computed[0] == '*') return false;
  return ConstantTimeEquals(computed, hash);
}

std::string RandomHex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  std::size_t got = 0;
  while (got < bytes) {
    const ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(Errno("getrandom"));
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes * 2);
  for (unsigned char c : raw) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return differ == 0;
}

std::optional<std::string> ReadPassword(const std::string& prompt) {
  const bool terminal = isatty(STDIN_FILENO) != 0;
  termios saved{};
  if (terminal) {
    std::cerr << prompt << std::flush;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  const bool got = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
  }
  if (!got) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string ReplaceSecretFile(const std::filesystem::path& path, std::string_view content) {
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  struct stat owner_of {};
  const bool had_old = ::stat(path.c_str(), &owner_of) == 0;
  if (!had_old && ::stat(folder.c_str(), &owner_of) != 0) return Errno(folder.string());
  const std::string temp = path.string() + ".tmp." + std::to_string(::getpid());
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return Errno(temp);
  const auto abandon = [&](const std::string& what) {
    const std::string error = Errno(what);
    ::close(fd);
    ::unlink(temp.c_str());
    return error;
  };
  for (std::size_t done = 0; done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return abandon(temp);
    done += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd, 0600) != 0) return abandon(temp);
  // Only root can give a file away; anyone else writes a file of its own, readable by itself.
  if (::geteuid() == 0 && ::fchown(fd, owner_of.st_uid, owner_of.st_gid) != 0) {
    return abandon(temp);
  }
  if (::fsync(fd) != 0) return abandon(temp);
  if (::close(fd) != 0) {
    const std::string error = Errno(temp);
    ::unlink(temp.c_str());
    return error;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string error = Errno(path.string());
    ::unlink(temp.c_str());
    return error;
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return {};
}

bool ReadableByOthers(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & 077) != 0;
}

}  // namespace platform
