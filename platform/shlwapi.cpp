// shlwapi's SHGetValueA and SHSetValueA over the registry functions, and the byte and text
// readers that the tools, hosts and filter share.
#include "platform/shlwapi.h"

#include <cstring>

DWORD SHGetValueA(HKEY hkey, LPCSTR pszSubKey, LPCSTR pszValue, DWORD* pdwType, void* pvData,
                  DWORD* pcbData) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(hkey, pszSubKey, 0, KEY_QUERY_VALUE, &key);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  rc = RegQueryValueExA(key, pszValue, nullptr, pdwType, static_cast<LPBYTE>(pvData), pcbData);
  RegCloseKey(key);
  return static_cast<DWORD>(rc);
}

DWORD SHSetValueA(HKEY hkey, LPCSTR pszSubKey, LPCSTR pszValue, DWORD dwType, LPCVOID pvData,
                  DWORD cbData) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(hkey, pszSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  rc = RegSetValueExA(key, pszValue, 0, dwType, static_cast<const BYTE*>(pvData), cbData);
  RegCloseKey(key);
  return static_cast<DWORD>(rc);
}

namespace platform {

std::optional<std::string> GetValueBytes(HKEY hkey, LPCSTR sub_key, LPCSTR value, DWORD* type,
                                         DWORD* error) {
  DWORD size = 0;
  DWORD rc = SHGetValueA(hkey, sub_key, value, type, nullptr, &size);
  std::string data;
  // Another process may make the value longer between the two reads; then read again.
  for (int attempt = 0; rc == ERROR_SUCCESS && attempt < 8; ++attempt) {
    data.assign(size, '\0');
    rc = SHGetValueA(hkey, sub_key, value, type, data.data(), &size);
    if (rc == ERROR_SUCCESS) {
      data.resize(size);
      return data;
    }
    if (rc == ERROR_MORE_DATA) rc = ERROR_SUCCESS;
  }
  if (error != nullptr) *error = rc == ERROR_SUCCESS ? ERROR_MORE_DATA : rc;
  return std::nullopt;
}

std::string GetValueText(HKEY hkey, LPCSTR sub_key, LPCSTR value) {
  std::string text = GetValueBytes(hkey, sub_key, value).value_or(std::string());
  text.resize(std::strlen(text.c_str()));
  return text;
}

DWORD SetValueText(HKEY hkey, LPCSTR sub_key, LPCSTR value, std::string_view text) {
  const std::string stored(text);
  return SHSetValueA(hkey, sub_key, value, REG_SZ, stored.c_str(),
                     static_cast<DWORD>(stored.size() + 1));
}

DWORD SetValueDword(HKEY hkey, LPCSTR sub_key, LPCSTR value, DWORD number) {
  const BYTE bytes[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                         static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
  return SHSetValueA(hkey, sub_key, value, REG_DWORD, bytes, sizeof bytes);
}

}  // namespace platform
