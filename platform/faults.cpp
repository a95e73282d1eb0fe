// The [Faults] table: read from machine.ini once per machine root (again when the file changes),
// checked without a lock while it is empty.
#include "platform/faults.h"

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/never_destroyed.h"

namespace platform {
namespace {

constexpr std::array<std::string_view, static_cast<size_t>(FaultOp::kCount)> kNames = {
    "FileCreate",  "FileWrite",    "FileRename", "FolderCreate",  "RegOpenKey",
    "RegSetValue", "ProcessStart", "WmiQuery",   "DriveFreeSpace"};

struct Rule {
  std::uint64_t nth = 0;  // 0: no fault for this operation
  bool and_later = false;
  DWORD error = 0;
};

long CoarseMilliseconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
    --end;
  return std::string(text.substr(begin, end - begin));
}

// A whole decimal (or 0x hexadecimal) number, else false.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value > max) return false;
  out = value;
  return true;
}

class FaultTable {
 public:
  DWORD Check(FaultOp op) {
    const long now = CoarseMilliseconds();
    if (!armed_.load(std::memory_order_acquire) &&
        epoch_.load(std::memory_order_acquire) == MachineRootEpoch() &&
        now < next_check_ms_.load(std::memory_order_acquire)) {
      return ERROR_SUCCESS;
    }
    std::lock_guard lock(mutex_);
    if (!loaded_ || epoch_.load(std::memory_order_relaxed) != MachineRootEpoch() ||
        now >= next_check_ms_.load(std::memory_order_relaxed)) {
      RefreshLocked(now, /*force=*/false);
    }
    const Rule& rule = rules_[static_cast<size_t>(op)];
    if (rule.nth == 0) return ERROR_SUCCESS;
    const std::uint64_t call = ++calls_[static_cast<size_t>(op)];
    if (call == rule.nth || (rule.and_later && call > rule.nth)) {
      SetLastError(rule.error);
      return rule.error;
    }
    return ERROR_SUCCESS;
  }

  void Reload() {
    std::lock_guard lock(mutex_);
    RefreshLocked(CoarseMilliseconds(), /*force=*/true);
  }

 private:
  struct Signature {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long mtime_sec = 0;
    long mtime_nsec = 0;
    bool operator==(const Signature&) const = default;
  };

  void RefreshLocked(long now, bool force) {
    const unsigned epoch = MachineRootEpoch();
    const std::string path = (MachineRoot() / "machine.ini").string();
    Signature signature;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      signature = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }
    if (force || !loaded_ || epoch != epoch_.load(std::memory_order_relaxed) ||
        !(signature == signature_)) {
      Load(path);
      signature_ = signature;
      loaded_ = true;
    }
    bool any = false;
    for (const Rule& rule : rules_) any = any || rule.nth != 0;
    armed_.store(any, std::memory_order_release);
    epoch_.store(epoch, std::memory_order_release);
    next_check_ms_.store(now + 1000, std::memory_order_release);
  }

  // Counts restart with every load: "the Nth call" counts from the start of the process or from
  // the moment the table last changed.
  void Load(const std::string& path) {
    rules_ = {};
    calls_ = {};
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::string raw;
    bool in_faults = false;
    for (int line_number = 1; std::getline(in, raw); ++line_number) {
      std::string line = Trim(raw);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        const size_t close = line.find(']');
        in_faults =
            close != std::string::npos && EqualsNoCase(Trim(line.substr(1, close - 1)), "Faults");
        continue;
      }
      if (!in_faults) continue;
      const std::string entry = Trim(line.substr(0, line.find(';')));
      if (!ParseEntry(entry)) {
        std::fprintf(stderr, "minutrix: %s line %d: [Faults] entry \"%s\" ignored\n", path.c_str(),
                     line_number, entry.c_str());
      }
    }
  }

  // "Name=N,Error" or "Name=N+,Error" (the Nth call and every later one).
  bool ParseEntry(const std::string& entry) {
    const size_t eq = entry.find('=');
    const size_t comma = entry.find(',', eq == std::string::npos ? 0 : eq);
    if (eq == std::string::npos || comma == std::string::npos) return false;
    const std::string name = Trim(entry.substr(0, eq));
    std::string nth_text = Trim(entry.substr(eq + 1, comma - eq - 1));
    const std::string error_text = Trim(entry.substr(comma + 1));
    size_t op = 0;
    while (op < kNames.size() && !EqualsNoCase(kNames[op], name)) ++op;
    if (op == kNames.size()) return false;
    Rule rule;
    if (!nth_text.empty() && nth_text.back() == '+') {
      rule.and_later = true;
      nth_text = Trim(nth_text.substr(0, nth_text.size() - 1));
    }
    std::uint64_t error = 0;
    if (!ParseNumber(nth_text, UINT64_MAX, rule.nth) || rule.nth == 0 ||
        !ParseNumber(error_text, 0xffffffffULL, error) || error == ERROR_SUCCESS) {
      return false;
    }
    rule.error = static_cast<DWORD>(error);
    rules_[op] = rule;
    return true;
  }

  std::mutex mutex_;
  std::atomic<bool> armed_{false};
  std::atomic<unsigned> epoch_{0};
  std::atomic<long> next_check_ms_{0};
  bool loaded_ = false;
  Signature signature_;
  std::array<Rule, kNames.size()> rules_{};
  std::array<std::uint64_t, kNames.size()> calls_{};
};

FaultTable& TheTable() {
  static FaultTable& table = NeverDestroyed<FaultTable>();  // platform calls run during exit too
  return table;
}

}  // namespace

std::string_view FaultOpName(FaultOp op) {
  const auto index = static_cast<size_t>(op);
  return index < kNames.size() ? kNames[index] : std::string_view();
}

DWORD InjectedFault(FaultOp op) {
  if (static_cast<size_t>(op) >= kNames.size()) return ERROR_SUCCESS;
  return TheTable().Check(op);
}

void ReloadFaults() { TheTable().Reload(); }

}  // namespace platform
