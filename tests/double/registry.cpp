// A read-only registry filled by tests, queried with Windows' rules for sizes,
// missing values and case-insensitive key and value names.
#include <cstring>
#include <map>

#include "double/internal.h"

namespace {

struct Value {
  DWORD type;
  std::string bytes;
};

// Keys and value names are stored folded to lower case: the registry ignores
// case, and a test may declare "Software\Co\Game" while the updater opens
// "SOFTWARE\co\game".
std::map<std::string, std::map<std::string, Value>> g_keys;
std::map<uintptr_t, std::string> g_open;
uintptr_t g_nextKey = 0x2000;

// "Software\\Co\\" and "Software\Co" name the same key.
std::string Normalize(const std::string& subkey) {
  std::string out;
  for (char c : subkey) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return scripted::detail::FoldCase(out);
}

bool RootName(HKEY root, std::string* name) {
  if (root == HKEY_CURRENT_USER) {
    *name = "hkcu";
  } else if (root == HKEY_LOCAL_MACHINE) {
    *name = "hklm";
  } else if (root == HKEY_CLASSES_ROOT) {
    *name = "hkcr";
  } else {
    auto it = g_open.find(reinterpret_cast<uintptr_t>(root));
    if (it == g_open.end()) return false;
    *name = it->second;
  }
  return true;
}

std::string Join(const std::string& base, const std::string& subkey) {
  std::string s = Normalize(subkey);
  return s.empty() ? base : base + "\\" + s;
}

// A key exists when it holds values or has a subkey that does.
bool KeyExists(const std::string& path) {
  const std::string below = path + "\\";
  for (const auto& entry : g_keys)
    if (entry.first == path || entry.first.compare(0, below.size(), below) == 0) return true;
  return false;
}

void Store(HKEY root, const std::string& subkey, const std::string& name, DWORD type, const std::string& bytes) {
  std::string base;
  if (!RootName(root, &base)) return;
  g_keys[Join(base, subkey)][scripted::detail::FoldCase(name)] = Value{type, bytes};
}

}  // namespace

namespace scripted {

namespace detail {
void ResetRegistry() {
  g_keys.clear();
  g_open.clear();
  g_nextKey = 0x2000;
}
}  // namespace detail

void SetRegistryString(HKEY root, const std::string& subkey, const std::string& name, const std::string& value) {
  // Strings are stored with their terminator, as RegSetValueExA stores them.
  Store(root, subkey, name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

void SetRegistryBytes(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
                      const std::string& bytes) {
  Store(root, subkey, name, type, bytes);
}

void SetRegistryDword(HKEY root, const std::string& subkey, const std::string& name, DWORD value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  Store(root, subkey, name, REG_DWORD, bytes);
}

int OpenRegistryKeys() { return static_cast<int>(g_open.size()); }

}  // namespace scripted

LONG RegOpenKeyExA(HKEY root, LPCSTR subkey, DWORD, REGSAM, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  std::string base;
  if (!RootName(root, &base)) return ERROR_INVALID_HANDLE;
  std::string path = Join(base, subkey ? subkey : "");
  if (!KeyExists(path) && path != base) return ERROR_FILE_NOT_FOUND;
  uintptr_t value = g_nextKey;
  g_nextKey += 4;
  g_open[value] = path;
  *result = reinterpret_cast<HKEY>(value);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  std::string path;
  if (!RootName(key, &path)) return ERROR_INVALID_HANDLE;
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  auto k = g_keys.find(path);
  if (k == g_keys.end()) return ERROR_FILE_NOT_FOUND;
  auto v = k->second.find(scripted::detail::FoldCase(name ? name : ""));
  if (v == k->second.end()) return ERROR_FILE_NOT_FOUND;
  const Value& value = v->second;
  if (type) *type = value.type;
  if (size == nullptr) return ERROR_SUCCESS;
  DWORD needed = static_cast<DWORD>(value.bytes.size());
  if (data == nullptr) {  // a size query
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, value.bytes.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  auto it = g_open.find(reinterpret_cast<uintptr_t>(key));
  if (it == g_open.end()) return ERROR_INVALID_HANDLE;
  g_open.erase(it);
  return ERROR_SUCCESS;
}
