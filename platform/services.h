// Windows services of the machine: each is named in [Services] of the machine profile, with host
// commands in its own section, and its state (running or stopped) recorded in the machine root.
//
//   [Services]
//   W3SVC=World Wide Web Publishing Service
//   [Service W3SVC]
//   Start=<host shell command run when the service starts; optional>
//   Stop=<host shell command run when it stops; optional>
//   DependsOn=IISADMIN            (services it needs, separated by commas)
//   State=running                 (state before anything was recorded; running when missing)
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

struct ServiceConfig {
  std::string name;          // as written in [Services]
  std::string display_name;  // the value in [Services], or the name
  std::string start_command;
  std::string stop_command;
  std::vector<std::string> depends_on;
};

// The service called `name` (no case), or nullopt when the machine has none of that name.
std::optional<ServiceConfig> FindService(std::string_view name);
std::vector<ServiceConfig> AllServices();

// Recorded state; a service that was never started or stopped has its profile's State.
bool ServiceRunning(std::string_view name);
// Records the state in "services.state" of the machine root (a durable replace, see files.h).
// False, with the last error set, when it cannot be written.
bool RecordServiceState(std::string_view name, bool running);

// Host path of the state file.
std::string ServiceStatePath();

// Held by a process while it does a service's work (the Squid helper while the web service's
// filters are loaded): a stopping service waits for that work to end, as a Windows service stops
// only once its work is unloaded. A shared lock on a file beside the state file; several
// processes hold it at once, and a process that dies lets go of it.
class ServiceWork {
 public:
  // Takes the lock; Held() is false when its file cannot be opened (the work then goes on
  // without it: nothing can wait for it).
  explicit ServiceWork(std::string_view name);
  ~ServiceWork();
  ServiceWork(const ServiceWork&) = delete;
  ServiceWork& operator=(const ServiceWork&) = delete;
  bool Held() const noexcept { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
// When a service last did its work (the Squid helper last decided a request), by the platform's
// clock: the modification time of a file beside the state file. Noting it costs a system call,
// so a worker notes it every few seconds, not per request.
bool NoteServiceWork(std::string_view name, std::time_t when);
std::optional<std::time_t> LastServiceWork(std::string_view name);

// Waits until no process holds a ServiceWork of `name`, at most `timeout`; false when one still
// does then.
bool WaitForServiceWorkToEnd(std::string_view name, std::chrono::milliseconds timeout);

// Whether one service runs, asked as often as every request: the state file (and, while it records
// nothing for the service, the machine profile) is read again only when it was replaced or changed;
// otherwise a question costs one stat call.
class ServiceStateWatch {
 public:
  explicit ServiceStateWatch(std::string name) : name_(std::move(name)) {}
  bool Running();

 private:
  struct Identity {
    unsigned long long device = 0, inode = 0, size = 0;
    long long mtime_ns = -1;  // -1: the file is missing
    bool operator==(const Identity&) const = default;
  };
  static Identity IdentityOf(const std::string& path);

  std::string name_;
  // The two files' paths, made again only when the machine root changes (SetMachineRoot).
  unsigned epoch_ = 0;
  bool paths_made_ = false;
  std::string state_path_, profile_path_;
  bool known_ = false;
  std::optional<bool> recorded_;  // from the state file, which then decides alone
  bool initial_ = true;
  Identity state_, profile_;
};

}  // namespace platform
