// The machine root: the folder that stands in for the Windows server, and the mapping of Windows
// path names onto host paths. Drive X: is <root>/x, Z: is the host's "/". Look-up is
// case-insensitive per component, as on Windows. All functions may be called from several threads.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"  // UpperAscii and EqualsNoCase, which path look-ups use

namespace platform {

// Used when MINUTRIX_ROOT is unset or empty.
inline constexpr const char* kDefaultMachineRoot = "/var/lib/minutrix/machine";

// $MINUTRIX_ROOT, or kDefaultMachineRoot.
std::filesystem::path MachineRoot();

// Points this process at another machine root (sets MINUTRIX_ROOT; an empty path unsets it).
// Programs and tests that switch machines call this rather than setenv(), so that the platform's
// caches notice.
void SetMachineRoot(const std::filesystem::path& root);
// Counts the calls of SetMachineRoot; caches keyed on the machine compare it, some at every
// log line, hence inline.
extern std::atomic<unsigned> g_root_epoch;
inline unsigned MachineRootEpoch() { return g_root_epoch.load(std::memory_order_acquire); }

// Host path of a Windows path such as "c:\Minutrix\Minutrix.dll" (slashes are accepted too).
// Existing components are found case-insensitively (an exact match wins); components that do not
// exist yet are kept as written, so the result also names files about to be created. A path that
// starts with "\" is on drive C:, a path without a drive is relative to the current directory.
// Returns nullopt when the name maps nowhere: a drive with no folder, a UNC name, an empty name.
std::optional<std::filesystem::path> HostPath(std::string_view windows_path);

// Windows name of a host path: "X:\..." inside a drive folder of the machine root, else "Z:\...".
// Relative host paths are made absolute first.
std::string WindowsPath(const std::filesystem::path& host_path);

// Letters of the drives of the machine: its one-letter folders other than z, in letter order.
std::vector<char> Drives();

}  // namespace platform
