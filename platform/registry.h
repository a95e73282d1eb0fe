// The Windows registry, kept in the text file "registry.txt" of the machine root, with the Win32
// interface. Key and value names compare without case. Every change rewrites the file atomically;
// every read sees the file as it stands, re-parsed only when it changed. All calls are thread-safe
// and safe against other processes that use the same machine root.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

struct RegKeyHandle;
using HKEY = RegKeyHandle*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003)))

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Each returns ERROR_SUCCESS or a Win32 error code (ERROR_FILE_NOT_FOUND for a missing key or
// value, ERROR_MORE_DATA for a too small buffer, ERROR_CANTWRITE when the file cannot be saved).
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR key_class, DWORD options,
                     REGSAM sam, void* security, PHKEY result, LPDWORD disposition);
LONG RegCloseKey(HKEY key);
// Data come back as stored, with their size: a REG_SZ with its terminating zero, a REG_DWORD as
// four little-endian bytes. With `data` null only the size (and type) is given.
LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD data_size);
LONG RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD data_size);
LONG RegDeleteValueA(HKEY key, LPCSTR value_name);
// Deletes a key that has no subkeys.
LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key);
// Deletes a key with all its subkeys and values (shlwapi's SHDeleteKeyA).
LONG SHDeleteKeyA(HKEY key, LPCSTR sub_key);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                   LPSTR key_class, LPDWORD class_size, void* last_write_time);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size,
                   LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size);

namespace platform {

// Host path of the registry file of the current machine root.
std::string RegistryFilePath();

// A number that changes whenever the registry of the current machine root may have changed (a
// write through these functions, by any process, is seen at once; another change of the file
// within a second). Cheap enough to ask before every read of a setting that is cached.
unsigned long RegistryChangeStamp();

// RegistryChangeStamp as a reader that keeps its own lock-free check needs it: the stamp after a
// look at the file, and in `counter` what it was checked against. The counter is the change
// counter of the lock file as this process maps it (null while there is none; a mapping stays
// valid for the life of the process), `counter_seen` its value then and `epoch` the machine
// root's epoch then. While the counter and the epoch stand still, only a change made by other
// means than these functions (an editor) can have changed the registry, and that is found once
// RegistryLookDue is true.
struct RegistryChangeCounter {
  const volatile std::uint64_t* counter = nullptr;
  std::uint64_t counter_seen = 0;
  unsigned epoch = 0;
};
unsigned long RegistryChangeStamp(RegistryChangeCounter* counter);

// True once the second after the last look at the registry file is over. No lock, no system
// call but the clock.
bool RegistryLookDue();

// After this process saved a change over a damaged registry file: where the file's text as it
// stood was kept, and which of its lines could not be read (they are kept in the file as they
// stood). Cleared by the call; nullopt when there is nothing to tell.
struct RegistryDamageNote {
  std::string copy_path;
  std::vector<int> lines;
};
std::optional<RegistryDamageNote> TakeRegistryDamageNote();

// Number of times this process parsed a registry file; lets tests prove that reads of an
// unchanged file do not parse it again.
unsigned long RegistryParseCount();

}  // namespace platform
