// shlwapi's registry value helpers: one value read or written by key path, without handles.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

// Reads value `pszValue` (null or "" for the default value) of `pszSubKey` (null or "" for
// `hkey` itself) under `hkey`. With `pvData` null only the type and size are answered. Returns
// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing key or value, or ERROR_MORE_DATA when
// *pcbData is too small, with *pcbData set to the size needed. Thread-safe.
DWORD SHGetValueA(HKEY hkey, LPCSTR pszSubKey, LPCSTR pszValue, DWORD* pdwType, void* pvData,
                  DWORD* pcbData);

// Writes value `pszValue` of `pszSubKey` under `hkey`, creating the key (and the keys above it)
// when missing. Returns ERROR_SUCCESS or the error of creating the key or storing the value.
DWORD SHSetValueA(HKEY hkey, LPCSTR pszSubKey, LPCSTR pszValue, DWORD dwType, LPCVOID pvData,
                  DWORD cbData);

namespace platform {

// The stored bytes of a value (a REG_SZ with its terminating zero) and its type, or nullopt with
// the Win32 error in *error (when given). Thread-safe; never throws but for lack of memory.
std::optional<std::string> GetValueBytes(HKEY hkey, LPCSTR sub_key, LPCSTR value,
                                         DWORD* type = nullptr, DWORD* error = nullptr);

// A value read as text: its bytes up to the first zero, whatever its type; empty when the key or
// value is missing.
std::string GetValueText(HKEY hkey, LPCSTR sub_key, LPCSTR value);

// Stores `text` as a REG_SZ (with its terminating zero) or `number` as a REG_DWORD, creating the
// key; ERROR_SUCCESS or the error.
DWORD SetValueText(HKEY hkey, LPCSTR sub_key, LPCSTR value, std::string_view text);
DWORD SetValueDword(HKEY hkey, LPCSTR sub_key, LPCSTR value, DWORD number);

}  // namespace platform
