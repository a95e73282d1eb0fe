// Service configuration from the machine profile and the state file beside it.
#include "platform/services.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace platform {
namespace {

std::optional<ProfileFile> LoadProfile(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return ProfileFile::Parse(text.str());
}

std::string WorkLockPath(std::string_view name) {
  return (MachineRoot() / ("services." + UpperAscii(name) + ".lock")).string();
}

// Readable by all: the helper runs as Squid's user, net stop as root; flock needs no write.
// Only a worker makes the file: a machine where no work ever ran keeps none.
int OpenWorkLock(std::string_view name, bool create) {
  return ::open(WorkLockPath(name).c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
}

}  // namespace

std::string ServiceStatePath() { return (MachineRoot() / "services.state").string(); }

ServiceWork::ServiceWork(std::string_view name) {
  fd_ = OpenWorkLock(name, true);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_SH) != 0) {
    if (errno == EINTR) continue;
    ::close(fd_);
    fd_ = -1;
    return;
  }
}

ServiceWork::~ServiceWork() {
  if (fd_ >= 0) ::close(fd_);  // closing lets go of the lock
}

bool NoteServiceWork(std::string_view name, std::time_t when) {
  return MarkHostFile(MachineRoot() / ("services." + UpperAscii(name) + ".last"), when);
}

std::optional<std::time_t> LastServiceWork(std::string_view name) {
  struct stat st {};
  const std::string path = (MachineRoot() / ("services." + UpperAscii(name) + ".last")).string();
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_mtim.tv_sec;
}

bool WaitForServiceWorkToEnd(std::string_view name, std::chrono::milliseconds timeout) {
  const int fd = OpenWorkLock(name, false);
  if (fd < 0) return true;  // no file: nobody holds it
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool ended = false;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ended = true;
      break;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::close(fd);
  return ended;
}

std::vector<ServiceConfig> AllServices() {
  std::vector<ServiceConfig> out;
  const auto profile = LoadProfile((MachineRoot() / "machine.ini").string());
  if (!profile) return out;
  for (const std::string& name : profile->Keys("Services")) {
    ServiceConfig config;
    config.name = name;
    config.display_name = profile->Get("Services", name).value_or("");
    if (config.display_name.empty()) config.display_name = name;
    const std::string section = "Service " + name;
    config.start_command = profile->Get(section, "Start").value_or("");
    config.stop_command = profile->Get(section, "Stop").value_or("");
    std::stringstream deps(profile->Get(section, "DependsOn").value_or(""));
    std::string dep;
    while (std::getline(deps, dep, ',')) {
      dep = Trim(dep);
      if (!dep.empty()) config.depends_on.push_back(dep);
    }
    out.push_back(std::move(config));
  }
  return out;
}

std::optional<ServiceConfig> FindService(std::string_view name) {
  for (ServiceConfig& config : AllServices()) {
    if (EqualsNoCase(config.name, name)) return std::move(config);
  }
  return std::nullopt;
}

namespace {

// The state recorded in the state file, or nullopt when it holds none for `name`.
std::optional<bool> RecordedState(std::string_view name) {
  if (const auto state = LoadProfile(ServiceStatePath())) {
    if (const auto value = state->Get(UpperAscii(name), "State"))
      return EqualsNoCase(*value, "running");
  }
  return std::nullopt;
}

bool InitialState(std::string_view name) {
  std::string initial = "running";
  if (const auto profile = LoadProfile((MachineRoot() / "machine.ini").string())) {
    if (const auto config = FindService(name)) {
      initial = profile->Get("Service " + config->name, "State").value_or("running");
    }
  }
  return EqualsNoCase(initial, "running");
}

}  // namespace

bool ServiceRunning(std::string_view name) {
  if (const auto recorded = RecordedState(name)) return *recorded;
  return InitialState(name);
}

bool RecordServiceState(std::string_view name, bool running) {
  const std::string path = ServiceStatePath();
  auto loaded = LoadProfile(path);
  const int read_error = errno;
  std::error_code ec;
  // A state file that exists but cannot be read must not lose the other services' states.
  if (!loaded && std::filesystem::exists(path, ec)) {
    SetLastError(Win32ErrorFromErrno(read_error));
    return false;
  }
  ProfileFile state = loaded.value_or(ProfileFile::Parse(""));
  state.Set(UpperAscii(name), "State", running ? "running" : "stopped");
  return ReplaceFileDurably(path, state.Format()) == ERROR_SUCCESS;
}

ServiceStateWatch::Identity ServiceStateWatch::IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
          static_cast<unsigned long long>(st.st_size),
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

bool ServiceStateWatch::Running() {
  if (const unsigned epoch = MachineRootEpoch(); !paths_made_ || epoch != epoch_) {
    epoch_ = epoch;
    paths_made_ = true;
    state_path_ = ServiceStatePath();
    profile_path_ = (MachineRoot() / "machine.ini").string();
    known_ = false;
  }
  const Identity state = IdentityOf(state_path_);
  if (!known_ || !(state == state_)) {
    state_ = state;
    recorded_ = RecordedState(name_);
    known_ = true;
    profile_ = Identity{0, 0, 0, -2};  // forces a look at the profile below when needed
  }
  if (recorded_) return *recorded_;
  // Nothing recorded: the profile's State decides, so its edits count too.
  const Identity profile = IdentityOf(profile_path_);
  if (!(profile == profile_)) {
    profile_ = profile;
    initial_ = InitialState(name_);
  }
  return initial_;
}

}  // namespace platform
