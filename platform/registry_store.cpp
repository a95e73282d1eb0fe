// The registry store: the cached tree, the cross-process lock and the change counter.
#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/never_destroyed.h"

namespace platform::registry {
namespace {

long CoarseMilliseconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// Saves the damaged file's text beside it under a name no other copy has; the path, or "" when
// the copy could not be made.
std::string KeepDamagedCopy(const std::string& path, const std::string& text) {
  const std::string base = path + ".damaged-" + std::to_string(std::time(nullptr));
  for (int attempt = 1; attempt < 1000; ++attempt) {
    const std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return "";
    }
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    const bool ok = done == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (ok) return name;
    ::unlink(name.c_str());
    return "";
  }
  return "";
}

// Called with the lock file locked, after the new file is in place.
void BumpChangeCounter(int lock_fd) {
  std::uint64_t counter = 0;
  if (::pread(lock_fd, &counter, sizeof counter, 0) != static_cast<ssize_t>(sizeof counter))
    counter = 0;
  ++counter;
  if (::pwrite(lock_fd, &counter, sizeof counter, 0) != static_cast<ssize_t>(sizeof counter)) {
    // Readers then notice the change by the file's identity within a second.
  }
}

// Each damaged line is told once per version of the file read, with its number.
void ReportDamagedLines(const std::string& path, const Tree& tree) {
  constexpr size_t kShown = 10;  // a file of binary junk would otherwise fill the log
  for (size_t i = 0; i < tree.damaged_lines.size() && i < kShown; ++i) {
    std::fprintf(stderr, "minutrix: %s line %d cannot be read; skipped\n", path.c_str(),
                 tree.damaged_lines[i]);
  }
  if (tree.damaged_lines.size() > kShown) {
    std::fprintf(stderr, "minutrix: %s has %zu more damaged lines\n", path.c_str(),
                 tree.damaged_lines.size() - kShown);
  }
}

}  // namespace

Store::FileSignature Store::SignatureOf(const struct stat& st) {
  return Store::FileSignature{true,       st.st_dev,         st.st_ino,
                              st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

std::shared_ptr<const Tree> Store::Snapshot() {
  std::lock_guard lock(mutex_);
  return LoadLocked(CurrentPathLocked());
}

unsigned long Store::ChangeStamp(Checked* checked) {
  std::lock_guard lock(mutex_);
  const unsigned epoch = platform::MachineRootEpoch();
  LoadLocked(CurrentPathLocked());
  fast_.seq.fetch_add(1, std::memory_order_acq_rel);
  fast_.epoch.store(epoch, std::memory_order_relaxed);
  fast_.counter.store(counter_, std::memory_order_relaxed);
  fast_.counter_seen.store(counter_seen_, std::memory_order_relaxed);
  fast_.valid_until_ms.store(last_stat_ms_ + 1000, std::memory_order_relaxed);
  fast_.stamp.store(parse_count_, std::memory_order_relaxed);
  fast_.seq.fetch_add(1, std::memory_order_release);
  if (checked != nullptr) *checked = Checked{counter_, counter_seen_, epoch};
  return parse_count_;
}

bool Store::SecondPassed() const {
  return CoarseMilliseconds() >= fast_.valid_until_ms.load(std::memory_order_acquire);
}

std::optional<unsigned long> Store::FastChangeStamp() const {
  const unsigned seq = fast_.seq.load(std::memory_order_acquire);
  if (seq & 1) return std::nullopt;
  // Acquire loads keep the second look at `seq` after them (a fence would do, but
  // ThreadSanitizer does not take fences).
  const unsigned epoch = fast_.epoch.load(std::memory_order_acquire);
  const volatile std::uint64_t* counter = fast_.counter.load(std::memory_order_acquire);
  const std::uint64_t seen = fast_.counter_seen.load(std::memory_order_acquire);
  const long valid_until = fast_.valid_until_ms.load(std::memory_order_acquire);
  const unsigned long stamp = fast_.stamp.load(std::memory_order_acquire);
  if (fast_.seq.load(std::memory_order_relaxed) != seq) return std::nullopt;
  if (counter == nullptr || epoch != platform::MachineRootEpoch() || *counter != seen ||
      CoarseMilliseconds() >= valid_until) {
    return std::nullopt;
  }
  return stamp;
}

LONG Store::Modify(const Change& change) {
  const std::string path = platform::RegistryFilePath();
  std::lock_guard lock(mutex_);
  const int lock_fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_fd < 0) return ERROR_CANTWRITE;
  while (::flock(lock_fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(lock_fd);
      return ERROR_CANTWRITE;
    }
  }
  auto current = LoadLocked(path, /*check_file=*/true);  // never write over an unseen change
  Tree next = *current;
  bool modified = false;
  LONG result = change(next, modified);
  if (result == ERROR_SUCCESS && modified) {
    // Unreadable lines are written back as they stood, so a file this store wrote already loses
    // nothing; one damaged by other hands is kept whole once, as it was found.
    const bool keep_copy = current->damaged() && Format(*current) != current->text;
    std::string copy;
    if (keep_copy) copy = KeepDamagedCopy(path, current->text);
    // The cause of a failed save stays in the last error.
    if (keep_copy && copy.empty()) {
      result = ERROR_CANTWRITE;  // without its copy, a damaged file is not written over
    } else if (ReplaceFileDurably(path, Format(next)) != ERROR_SUCCESS) {
      result = ERROR_CANTWRITE;
    } else {
      BumpChangeCounter(lock_fd);
      if (!copy.empty()) damage_note_ = DamageNote{copy, current->damaged_lines};
    }
    LoadLocked(path);
  }
  ::flock(lock_fd, LOCK_UN);
  ::close(lock_fd);
  return result;
}

std::optional<Store::DamageNote> Store::TakeDamageNote() {
  std::lock_guard lock(mutex_);
  auto note = std::move(damage_note_);
  damage_note_.reset();
  return note;
}

unsigned long Store::parse_count() {
  std::lock_guard lock(mutex_);
  return parse_count_;
}

std::shared_ptr<const Tree> Store::LoadLocked(const std::string& path, bool check_file) {
  FileSignature signature;
  std::string text;
  if (tree_ && path == path_) {
    // The filter reads its debug switch at every detail line: an unchanged registry must cost
    // next to nothing. Every writer bumps the counter in the lock file, which this process maps;
    // a file changed by other means is caught by a stat at most a second later.
    const long now_ms = CoarseMilliseconds();
    const bool recent = now_ms - last_stat_ms_ < 1000;
    if (!check_file && counter_ != nullptr && *counter_ == counter_seen_ && recent) return tree_;
    if (counter_ == nullptr && !recent) MapChangeCounter(path);  // a writer may have made it since
    struct stat quick;
    last_stat_ms_ = now_ms;
    if (counter_ != nullptr) counter_seen_ = *counter_;
    if (::stat(path.c_str(), &quick) == 0 ? SignatureOf(quick) == signature_ : !signature_.exists)
      return tree_;
  } else {
    MapChangeCounter(path);
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    if (::fstat(fd, &st) == 0) signature = SignatureOf(st);
    if (tree_ && path == path_ && signature == signature_) {
      ::close(fd);
      return tree_;
    }
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    ::close(fd);
  } else if (tree_ && path == path_ && !signature_.exists) {
    return tree_;
  }
  auto tree = std::make_shared<Tree>(Parse(text));
  if (tree->damaged()) ReportDamagedLines(path, *tree);
  ++parse_count_;
  tree_ = std::move(tree);
  path_ = path;
  signature_ = signature;
  return tree_;
}

// The registry file of the machine root named now; rebuilt only when MINUTRIX_ROOT changes.
const std::string& Store::CurrentPathLocked() {
  const unsigned epoch = platform::MachineRootEpoch();
  if (!current_path_.empty() && epoch == current_epoch_) return current_path_;
  current_epoch_ = epoch;
  current_path_ = platform::RegistryFilePath();
  return current_path_;
}

// Maps the change counter, the first eight bytes of the lock file, if that file has them.
void Store::MapChangeCounter(const std::string& path) {
  // An old mapping is left in place: a lock-free reader may still be looking at it.
  counter_ = nullptr;
  last_stat_ms_ = 0;
  const int fd = ::open((path + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (::fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(std::uint64_t))) {
    void* map = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      counter_ = static_cast<const volatile std::uint64_t*>(map);
      counter_seen_ = *counter_;
    }
  }
  ::close(fd);
}

Store& TheStore() {
  static Store& store = platform::NeverDestroyed<Store>();  // handles may be used during exit
  return store;
}

}  // namespace platform::registry
