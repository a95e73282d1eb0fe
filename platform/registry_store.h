// The registry store: one cached tree per registry file, checked against the file at each read,
// and the change counter in the lock file that tells every process of a write.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/registry_format.h"

namespace platform::registry {

class Store {
 public:
  // The tree of the file as it stands now; parsed again only when the file changed.
  std::shared_ptr<const Tree> Snapshot();

  // What a ChangeStamp answer was checked against: the change counter this process maps (null
  // when there is none yet) and its value then, and the machine root's epoch.
  struct Checked {
    const volatile std::uint64_t* counter = nullptr;
    std::uint64_t counter_seen = 0;
    unsigned epoch = 0;
  };

  // Changes whenever the tree may have changed. The answer is published for the lock-free
  // check of FastChangeStamp, valid while the change counter stands still for up to a second.
  unsigned long ChangeStamp(Checked* checked = nullptr);

  // The second after the last look at the file is over: a hand edit may have been made since.
  // No lock, no system call but the clock.
  bool SecondPassed() const;

  // The published answer when nothing can have changed, else nullopt. No lock, no system call.
  std::optional<unsigned long> FastChangeStamp() const;

  // Applies `change` to the current tree under the cross-process file lock and saves the result
  // when `change` sets `modified`; a change that modifies nothing leaves the file and the change
  // counter alone. `change` returns ERROR_SUCCESS or an error code.
  using Change = std::function<LONG(Tree& tree, bool& modified)>;
  LONG Modify(const Change& change);

  unsigned long parse_count();

  // The copy kept of a damaged file by this process's last change that saved over one, and the
  // numbers of its unreadable lines; cleared by the call.
  struct DamageNote {
    std::string copy_path;
    std::vector<int> lines;
  };
  std::optional<DamageNote> TakeDamageNote();

 private:
  struct FileSignature {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long mtime_sec = 0;
    long mtime_nsec = 0;
    bool operator==(const FileSignature&) const = default;
  };

  struct FastState {
    std::atomic<unsigned> seq{0};  // odd while being written; no counter before the first answer
    std::atomic<unsigned> epoch{0};
    std::atomic<const volatile std::uint64_t*> counter{nullptr};
    std::atomic<std::uint64_t> counter_seen{0};
    std::atomic<long> valid_until_ms{0};
    std::atomic<unsigned long> stamp{0};
  };

  static FileSignature SignatureOf(const struct stat& st);
  std::shared_ptr<const Tree> LoadLocked(const std::string& path, bool check_file = false);
  const std::string& CurrentPathLocked();
  void MapChangeCounter(const std::string& path);

  std::mutex mutex_;
  FastState fast_;
  unsigned current_epoch_ = 0;
  std::string current_path_;
  const volatile std::uint64_t* counter_ = nullptr;
  std::uint64_t counter_seen_ = 0;
  long last_stat_ms_ = 0;
  std::string path_;
  FileSignature signature_;
  std::shared_ptr<const Tree> tree_;
  std::optional<DamageNote> damage_note_;
  unsigned long parse_count_ = 0;
};

// The one store of the process; never destroyed, as handles may be used during exit.
Store& TheStore();

}  // namespace platform::registry
