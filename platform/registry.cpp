// The registry's Win32 calls over the store (registry_store.h), with their handles.
#include "platform/registry.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/faults.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/registry_store.h"

namespace {

using platform::EqualsNoCase;
using platform::UpperAscii;
using platform::registry::AddKeyWithParents;
using platform::registry::IsHive;
using platform::registry::Key;
using platform::registry::kHives;
using platform::registry::TheStore;
using platform::registry::Tree;
using platform::registry::Value;

}  // namespace

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
  if (const DWORD fault = platform::InjectedFault(platform::FaultOp::kRegOpenKey)) return fault;
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
  if (const DWORD fault = platform::InjectedFault(platform::FaultOp::kRegOpenKey)) return fault;
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
  if (const DWORD fault = platform::InjectedFault(platform::FaultOp::kRegSetValue)) return fault;
  return TheStore().Modify([&](Tree& tree, bool& modified) -> LONG {
    if (!KeyExists(tree, path)) return ERROR_KEY_DELETED;
    AddKeyWithParents(tree, path);
    Key& k = tree.keys[UpperAscii(path)];
    if (Value* existing = k.Find(value.name)) {
      if (existing->type == value.type && existing->data == value.data) return ERROR_SUCCESS;
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

std::optional<RegistryDamageNote> TakeRegistryDamageNote() {
  auto note = TheStore().TakeDamageNote();
  if (!note) return std::nullopt;
  return RegistryDamageNote{std::move(note->copy_path), std::move(note->lines)};
}

unsigned long RegistryChangeStamp() {
  registry::Store& store = TheStore();
  if (const auto stamp = store.FastChangeStamp()) return *stamp;
  return store.ChangeStamp();
}

unsigned long RegistryChangeStamp(RegistryChangeCounter* counter) {
  registry::Store::Checked checked;
  const unsigned long stamp = TheStore().ChangeStamp(&checked);
  if (counter != nullptr) *counter = {checked.counter, checked.counter_seen, checked.epoch};
  return stamp;
}

bool RegistryLookDue() { return TheStore().SecondPassed(); }

}  // namespace platform
