// The registry file: format, cache and the Win32 calls over it.
//
// Map of this file:
//   1. the tree and its text format (parse, write)
//   2. the store: one cached tree per file, checked against the file at each read
//   3. handles and the Win32 calls
//
// The format, one item a line:
//   MINUTRIX-REGISTRY 1
//   [HKEY_LOCAL_MACHINE\software\Minutrix]
//   "MinutrixPath"=sz:"c:\\Minutrix\\"        REG_SZ, stored with its terminating zero
//   "MinutrixDebug"=dword:00000001             REG_DWORD
//   @=expand_sz:"..."                           the unnamed value, REG_EXPAND_SZ
//   "Blob"=hex(3):01,ff                         any type, as bytes
// A line that cannot be read is skipped (its value reads as missing) and the file is marked
// damaged; before a damaged file is rewritten, its text is kept as registry.txt.damaged-<time>.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/never_destroyed.h"

namespace {

using platform::EqualsNoCase;
using platform::UpperAscii;

constexpr const char* kHeader = "MINUTRIX-REGISTRY 1";

// ---- 1. The tree and its text format --------------------------------------------------------

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct Key {
  std::string path;  // as first created, e.g. "HKEY_LOCAL_MACHINE\software\Minutrix"
  std::vector<Value> values;

  Value* Find(std::string_view name) {
    for (Value& v : values) {
      if (EqualsNoCase(v.name, name)) return &v;
    }
    return nullptr;
  }
};

struct Tree {
  std::map<std::string, Key> keys;  // by upper-cased path
  bool damaged = false;
  std::string text;  // the file as read, kept to save a damaged file before it is rewritten
};

constexpr const char* kHives[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS"};

bool IsHive(std::string_view name) {
  for (const char* hive : kHives) {
    if (EqualsNoCase(name, hive)) return true;
  }
  return false;
}

void AddKeyWithParents(Tree& tree, const std::string& path) {
  std::string prefix;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    prefix = path.substr(0, end);
    const std::string folded = UpperAscii(prefix);
    if (!tree.keys.count(folded)) tree.keys[folded] = Key{prefix, {}};
    start = end + 1;
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted, escaped text at `pos`; leaves `pos` after the closing quote.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    char c = line[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (pos >= line.size()) return false;
    char e = line[pos++];
    switch (e) {
      case '\\':
        out.push_back('\\');
        break;
      case '"':
        out.push_back('"');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'x': {
        if (pos + 2 > line.size()) return false;
        int hi = HexDigit(line[pos]), lo = HexDigit(line[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        pos += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

std::string Quote(std::string_view text) {
  static const char* kHex = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

bool ParseValueLine(const std::string& line, Value& value) {
  size_t pos = 0;
  if (line[0] == '@') {
    value.name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, pos, value.name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  const std::string rest = line.substr(pos + 1);
  auto text_form = [&](std::string_view prefix, DWORD type) {
    size_t p = prefix.size();
    std::string text;
    if (!ParseQuoted(rest, p, text) || p != rest.size()) return false;
    value.type = type;
    value.data = text + '\0';
    return true;
  };
  if (rest.starts_with("sz:")) return text_form("sz:", REG_SZ);
  if (rest.starts_with("expand_sz:")) return text_form("expand_sz:", REG_EXPAND_SZ);
  if (rest.starts_with("dword:")) {
    const std::string digits = rest.substr(6);
    if (digits.size() != 8) return false;
    DWORD number = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return false;
      number = number * 16 + static_cast<DWORD>(d);
    }
    value.type = REG_DWORD;
    value.data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) value.data[i] = static_cast<char>((number >> (8 * i)) & 0xff);
    return true;
  }
  if (rest.starts_with("hex")) {
    size_t p = 3;
    DWORD type = REG_BINARY;
    if (p < rest.size() && rest[p] == '(') {
      size_t close = rest.find(')', p);
      if (close == std::string::npos || close == p + 1) return false;
      type = 0;
      for (size_t i = p + 1; i < close; ++i) {
        int d = HexDigit(rest[i]);
        if (d < 0 || type > 0x0fffffff) return false;
        type = type * 16 + static_cast<DWORD>(d);
      }
      p = close + 1;
    }
    if (p >= rest.size() || rest[p] != ':') return false;
    ++p;
    std::string bytes;
    while (p < rest.size()) {
      if (p + 2 > rest.size()) return false;
      int hi = HexDigit(rest[p]), lo = HexDigit(rest[p + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes.push_back(static_cast<char>(hi * 16 + lo));
      p += 2;
      if (p < rest.size()) {
        if (rest[p] != ',') return false;
        ++p;
        if (p == rest.size()) return false;
      }
    }
    value.type = type;
    value.data = std::move(bytes);
    return true;
  }
  return false;
}

std::string FormatValue(const Value& value) {
  std::string out = value.name.empty() ? "@" : Quote(value.name);
  out += '=';
  const bool text_type = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
  if (text_type && !value.data.empty() && value.data.back() == '\0' &&
      value.data.find('\0') == value.data.size() - 1) {
    out += value.type == REG_SZ ? "sz:" : "expand_sz:";
    out += Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
    return out;
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    DWORD number = 0;
    for (int i = 3; i >= 0; --i) number = number * 256 + static_cast<unsigned char>(value.data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", number);
    return out + buf;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
  out += buf;
  for (size_t i = 0; i < value.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02x" : ",%02x",
                  static_cast<unsigned char>(value.data[i]));
    out += buf;
  }
  return out;
}

Tree Parse(const std::string& text) {
  Tree tree;
  tree.text = text;
  std::istringstream in(text);
  std::string line;
  Key* current = nullptr;
  bool first = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      first = false;
      if (line != kHeader)
        tree.damaged = true;
      else
        continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      current = nullptr;
      if (line.back() != ']' || line.size() < 3) {
        tree.damaged = true;
        continue;
      }
      const std::string path = line.substr(1, line.size() - 2);
      const std::string hive = path.substr(0, path.find('\\'));
      if (!IsHive(hive) || path.find("\\\\") != std::string::npos || path.back() == '\\') {
        tree.damaged = true;
        continue;
      }
      AddKeyWithParents(tree, path);
      current = &tree.keys[UpperAscii(path)];
      continue;
    }
    Value value;
    if (current == nullptr || !ParseValueLine(line, value)) {
      tree.damaged = true;
      continue;
    }
    if (Value* existing = current->Find(value.name)) {
      *existing = std::move(value);
    } else {
      current->values.push_back(std::move(value));
    }
  }
  return tree;
}

std::string Format(const Tree& tree) {
  std::string out = std::string(kHeader) + "\n";
  for (const auto& [folded, key] : tree.keys) {
    if (IsHive(key.path) && key.values.empty()) continue;
    out += "\n[" + key.path + "]\n";
    for (const Value& value : key.values) out += FormatValue(value) + "\n";
  }
  return out;
}

// ---- 2. The store ----------------------------------------------------------------------------

struct FileSignature {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long mtime_sec = 0;
  long mtime_nsec = 0;
  bool operator==(const FileSignature&) const = default;
};

FileSignature SignatureOf(const struct stat& st) {
  return FileSignature{true,       st.st_dev,         st.st_ino,
                       st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

class Store {
 public:
  // The tree of the file as it stands now; parsed again only when the file changed.
  std::shared_ptr<const Tree> Snapshot() {
    std::lock_guard lock(mutex_);
    return LoadLocked(CurrentPathLocked());
  }

  // Changes whenever the tree may have changed. The answer is published for the lock-free
  // check of FastChangeStamp, valid while the change counter stands still for up to a second.
  unsigned long ChangeStamp() {
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
    return parse_count_;
  }

  // The published answer when nothing can have changed, else nullopt. No lock, no system call.
  std::optional<unsigned long> FastChangeStamp() const {
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

  // Applies `change` to the current tree under the cross-process file lock and saves the result
  // when `change` reports a modification. `change` returns ERROR_SUCCESS or an error code and
  // sets `modified`.
  template <typename Change>
  LONG Modify(Change change) {
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
      if (current->damaged) KeepDamagedCopy(path, current->text);
      if (!Save(path, next)) {
        result = ERROR_CANTWRITE;
      } else {
        BumpChangeCounter(lock_fd);
      }
      LoadLocked(path);
    }
    ::flock(lock_fd, LOCK_UN);
    ::close(lock_fd);
    return result;
  }

  unsigned long parse_count() {
    std::lock_guard lock(mutex_);
    return parse_count_;
  }

 private:
  std::shared_ptr<const Tree> LoadLocked(const std::string& path, bool check_file = false) {
    FileSignature signature;
    std::string text;
    if (tree_ && path == path_) {
      // The filter reads its debug switch at every detail line: an unchanged registry must cost
      // next to nothing. Every writer bumps the counter in the lock file, which this process maps;
      // a file changed by other means is caught by a stat at most a second later.
      const long now_ms = CoarseMilliseconds();
      const bool recent = now_ms - last_stat_ms_ < 1000;
      if (!check_file && counter_ != nullptr && *counter_ == counter_seen_ && recent) return tree_;
      if (counter_ == nullptr && !recent)
        MapChangeCounter(path);  // a writer may have made it since
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
    ++parse_count_;
    tree_ = std::move(tree);
    path_ = path;
    signature_ = signature;
    return tree_;
  }

  static void KeepDamagedCopy(const std::string& path, const std::string& text) {
    if (text.empty()) return;
    std::ofstream out(path + ".damaged-" + std::to_string(std::time(nullptr)), std::ios::binary);
    out << text;
  }

  static bool Save(const std::string& path, const Tree& tree) {
    const std::string text = Format(tree);
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
      }
      done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
      ::unlink(temp.c_str());
      return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
      ::unlink(temp.c_str());
      return false;
    }
    const std::string dir =
        path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    const int dir_fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
      ::fsync(dir_fd);
      ::close(dir_fd);
    }
    return true;
  }

  // The registry file of the machine root named now; rebuilt only when MINUTRIX_ROOT changes.
  const std::string& CurrentPathLocked() {
    const unsigned epoch = platform::MachineRootEpoch();
    if (!current_path_.empty() && epoch == current_epoch_) return current_path_;
    current_epoch_ = epoch;
    current_path_ = platform::RegistryFilePath();
    return current_path_;
  }

  static long CoarseMilliseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
  }

  // Maps the change counter, the first eight bytes of the lock file, if that file has them.
  void MapChangeCounter(const std::string& path) {
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

  // Called with the lock file locked, after the new file is in place.
  static void BumpChangeCounter(int lock_fd) {
    std::uint64_t counter = 0;
    if (::pread(lock_fd, &counter, sizeof counter, 0) != static_cast<ssize_t>(sizeof counter))
      counter = 0;
    ++counter;
    if (::pwrite(lock_fd, &counter, sizeof counter, 0) != static_cast<ssize_t>(sizeof counter)) {
      // Readers then notice the change by the file's identity within a second.
    }
  }

  struct FastState {
    std::atomic<unsigned> seq{0};  // odd while being written; no counter before the first answer
    std::atomic<unsigned> epoch{0};
    std::atomic<const volatile std::uint64_t*> counter{nullptr};
    std::atomic<std::uint64_t> counter_seen{0};
    std::atomic<long> valid_until_ms{0};
    std::atomic<unsigned long> stamp{0};
  };

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
  unsigned long parse_count_ = 0;
};

Store& TheStore() {
  static Store& store = platform::NeverDestroyed<Store>();  // handles may be used during exit
  return store;
}

}  // namespace

// ---- 3. Handles and the Win32 calls ----------------------------------------------------------

struct RegKeyHandle {
  std::string path;
};

namespace {

// Full path of an open or predefined key, or empty for an invalid handle.
std::string PathOf(HKEY key) {
  const auto raw = reinterpret_cast<ULONG_PTR>(key);
  if (raw >= 0x80000000 && raw <= 0x80000003) return kHives[raw - 0x80000000];
  if (key == nullptr) return {};
  return key->path;
}

bool IsPredefined(HKEY key) {
  const auto raw = reinterpret_cast<ULONG_PTR>(key);
  return raw >= 0x80000000 && raw <= 0x80000003;
}

// Joins `sub_key` to `base`, ignoring empty components (a trailing "\" is allowed).
std::string Join(const std::string& base, LPCSTR sub_key) {
  std::string out = base;
  if (sub_key == nullptr) return out;
  std::string part;
  for (const char* p = sub_key;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!part.empty()) out += "\\" + part;
      part.clear();
      if (*p == '\0') break;
    } else {
      part.push_back(*p);
    }
  }
  return out;
}

bool KeyExists(const Tree& tree, const std::string& path) {
  return IsHive(path) || tree.keys.count(UpperAscii(path)) > 0;
}

const Key* FindKey(const Tree& tree, const std::string& path) {
  auto it = tree.keys.find(UpperAscii(path));
  return it == tree.keys.end() ? nullptr : &it->second;
}

std::vector<const Key*> Children(const Tree& tree, const std::string& path) {
  std::vector<const Key*> out;
  const std::string prefix = UpperAscii(path) + "\\";
  for (auto it = tree.keys.lower_bound(prefix); it != tree.keys.end(); ++it) {
    if (!it->first.starts_with(prefix)) break;
    if (it->first.find('\\', prefix.size()) == std::string::npos) out.push_back(&it->second);
  }
  return out;
}

HKEY NewHandle(std::string path) { return new RegKeyHandle{std::move(path)}; }

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD, REGSAM, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  const std::string base = PathOf(key);
  if (base.empty()) return ERROR_INVALID_HANDLE;
  const std::string path = Join(base, sub_key);
  auto tree = TheStore().Snapshot();
  if (!KeyExists(*tree, path)) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(FindKey(*tree, path) ? FindKey(*tree, path)->path : path);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result,
                     LPDWORD disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  const std::string base = PathOf(key);
  if (base.empty()) return ERROR_INVALID_HANDLE;
  if (sub_key != nullptr && sub_key[0] == '\\') return ERROR_BADKEY;
  const std::string path = Join(base, sub_key);
  std::string stored_path = path;
  bool created = false;
  LONG rc = TheStore().Modify([&](Tree& tree, bool& modified) -> LONG {
    if (!IsPredefined(key) && !KeyExists(tree, base)) return ERROR_KEY_DELETED;
    if (!KeyExists(tree, path)) {
      AddKeyWithParents(tree, path);
      created = modified = true;
    }
    if (const Key* k = FindKey(tree, path)) stored_path = k->path;
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(stored_path);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD data_size) {
  const std::string path = PathOf(key);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  if (data != nullptr && data_size == nullptr) return ERROR_INVALID_PARAMETER;
  auto tree = TheStore().Snapshot();
  if (!KeyExists(*tree, path)) return ERROR_KEY_DELETED;
  const Key* k = FindKey(*tree, path);
  const Value* value = nullptr;
  if (k != nullptr) {
    for (const Value& v : k->values) {
      if (EqualsNoCase(v.name, value_name == nullptr ? "" : value_name)) value = &v;
    }
  }
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  const auto size = static_cast<DWORD>(value->data.size());
  if (data_size == nullptr) return ERROR_SUCCESS;
  if (data == nullptr) {
    *data_size = size;
    return ERROR_SUCCESS;
  }
  if (*data_size < size) {
    *data_size = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, value->data.data(), size);
  *data_size = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR value_name, DWORD, DWORD type, const BYTE* data,
                    DWORD data_size) {
  const std::string path = PathOf(key);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  if (data == nullptr && data_size != 0) return ERROR_INVALID_PARAMETER;
  Value value{value_name == nullptr ? "" : value_name, type,
              std::string(reinterpret_cast<const char*>(data), data == nullptr ? 0 : data_size)};
  return TheStore().Modify([&](Tree& tree, bool& modified) -> LONG {
    if (!KeyExists(tree, path)) return ERROR_KEY_DELETED;
    AddKeyWithParents(tree, path);
    Key& k = tree.keys[UpperAscii(path)];
    if (Value* existing = k.Find(value.name)) {
      existing->type = value.type;
      existing->data = value.data;
    } else {
      k.values.push_back(value);
    }
    modified = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY key, LPCSTR value_name) {
  const std::string path = PathOf(key);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  const std::string name = value_name == nullptr ? "" : value_name;
  return TheStore().Modify([&](Tree& tree, bool& modified) -> LONG {
    auto it = tree.keys.find(UpperAscii(path));
    if (it == tree.keys.end()) return IsHive(path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    auto& values = it->second.values;
    auto found = std::find_if(values.begin(), values.end(),
                              [&](const Value& v) { return EqualsNoCase(v.name, name); });
    if (found == values.end()) return ERROR_FILE_NOT_FOUND;
    values.erase(found);
    modified = true;
    return ERROR_SUCCESS;
  });
}

namespace {
LONG DeleteKey(HKEY key, LPCSTR sub_key, bool tree_delete) {
  const std::string base = PathOf(key);
  if (base.empty()) return ERROR_INVALID_HANDLE;
  const std::string path = Join(base, sub_key);
  if (IsHive(path)) return ERROR_ACCESS_DENIED;
  return TheStore().Modify([&](Tree& tree, bool& modified) -> LONG {
    const std::string folded = UpperAscii(path);
    if (!tree.keys.count(folded)) return ERROR_FILE_NOT_FOUND;
    if (!tree_delete && !Children(tree, path).empty()) return ERROR_ACCESS_DENIED;
    const std::string prefix = folded + "\\";
    for (auto it = tree.keys.lower_bound(prefix);
         it != tree.keys.end() && it->first.starts_with(prefix);) {
      it = tree.keys.erase(it);
    }
    tree.keys.erase(folded);
    modified = true;
    return ERROR_SUCCESS;
  });
}
}  // namespace

LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key) { return DeleteKey(key, sub_key, false); }
LONG SHDeleteKeyA(HKEY key, LPCSTR sub_key) { return DeleteKey(key, sub_key, true); }

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD, LPSTR, LPDWORD,
                   void*) {
  const std::string path = PathOf(key);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  if (name == nullptr || name_size == nullptr) return ERROR_INVALID_PARAMETER;
  auto tree = TheStore().Snapshot();
  if (!KeyExists(*tree, path)) return ERROR_KEY_DELETED;
  const auto children = Children(*tree, path);
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& full = children[index]->path;
  const std::string leaf = full.substr(full.rfind('\\') + 1);
  if (leaf.size() + 1 > *name_size) return ERROR_MORE_DATA;
  std::memcpy(name, leaf.c_str(), leaf.size() + 1);
  *name_size = static_cast<DWORD>(leaf.size());
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD data_size) {
  const std::string path = PathOf(key);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  if (value_name == nullptr || value_name_size == nullptr) return ERROR_INVALID_PARAMETER;
  auto tree = TheStore().Snapshot();
  if (!KeyExists(*tree, path)) return ERROR_KEY_DELETED;
  const Key* k = FindKey(*tree, path);
  if (k == nullptr || index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = k->values[index];
  if (value.name.size() + 1 > *value_name_size) return ERROR_MORE_DATA;
  std::memcpy(value_name, value.name.c_str(), value.name.size() + 1);
  *value_name_size = static_cast<DWORD>(value.name.size());
  if (type != nullptr) *type = value.type;
  if (data_size != nullptr) {
    const auto size = static_cast<DWORD>(value.data.size());
    if (data != nullptr) {
      if (*data_size < size) {
        *data_size = size;
        return ERROR_MORE_DATA;
      }
      std::memcpy(data, value.data.data(), size);
    }
    *data_size = size;
  }
  return ERROR_SUCCESS;
}

namespace platform {

std::string RegistryFilePath() { return (MachineRoot() / "registry.txt").string(); }

unsigned long RegistryParseCount() { return TheStore().parse_count(); }

unsigned long RegistryChangeStamp() {
  Store& store = TheStore();
  if (const auto stamp = store.FastChangeStamp()) return *stamp;
  return store.ChangeStamp();
}

}  // namespace platform
