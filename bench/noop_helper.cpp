// A Squid url_rewrite helper that lets every request pass: the benchmark's measure of what the
// helper round trip alone costs. Same I/O pattern as minutrix-squid-helper (answers flushed when
// the input runs dry), so the two differ only in the work done per request.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kHelp = R"(Usage: noop_helper [--help]
A Squid url_rewrite helper that answers every request line with "ERR" (pass unchanged), echoing the
channel-ID when Squid sends one (url_rewrite_children ... concurrency=N with N > 0).
)";

// With concurrency=N Squid puts a numeric channel-ID in front; a URL never is all digits.
std::string Answer(const char* line, size_t length) {
  size_t digits = 0;
  while (digits < length && line[digits] >= '0' && line[digits] <= '9') ++digits;
  if (digits > 0 && digits < length && line[digits] == ' ')
    return std::string(line, digits) + " ERR\n";
  return "ERR\n";
}

bool WriteAll(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(1, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
    std::fputs(kHelp, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  std::string pending;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    pending.append(buffer, static_cast<size_t>(n));
    std::string answers;
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
      answers += Answer(pending.data() + start, end - start);
    }
    pending.erase(0, start);
    if (!WriteAll(answers)) return 0;
  }
}
