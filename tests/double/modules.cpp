// Modules, resources and memory: the one system DLL the updater looks into,
// the executable's resources as tests set them, and GlobalAlloc with a live
// count and injectable failures.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "double/internal.h"

namespace {

struct Resource {
  int id;
  std::string type;
  void* data;  // read-only pages, as a mapped image section is
  size_t size;
  size_t mapped;
};

// Fake module handles: distinct, non-NULL, never dereferenced.
HMODULE const kExeModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7C800000));

int g_libraryReferences = 0;
bool g_freeSpaceExAvailable = true;
std::vector<std::string> g_dllDirectories;
std::vector<std::string> g_procLookups;
std::vector<std::unique_ptr<Resource>> g_resources;
std::set<void*> g_blocks;
int g_allocSkip = 0;
int g_allocFail = 0;

bool IsKernel32(const char* name) {
  if (name == nullptr) return false;
  std::string n = name;
  return scripted::detail::EqualNoCase(n, "kernel32.dll") || scripted::detail::EqualNoCase(n, "kernel32");
}

void FreeResources() {
  for (auto& r : g_resources) munmap(r->data, r->mapped);
  g_resources.clear();
}

// "#102" names resource 102, as Windows reads such strings.
bool NumberFromName(LPCSTR name, int* id) {
  if (IS_INTRESOURCE(name)) {
    *id = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
    return true;
  }
  if (name[0] != '#' || name[1] == 0) return false;
  int value = 0;
  for (const char* p = name + 1; *p; ++p) {
    if (*p < '0' || *p > '9' || value > 65535) return false;
    value = value * 10 + (*p - '0');
  }
  *id = value;
  return true;
}

std::string TypeName(LPCSTR type) {
  if (IS_INTRESOURCE(type)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type));
  return type;
}

}  // namespace

namespace scripted {

namespace detail {
void ResetModules() {
  g_libraryReferences = 0;
  g_freeSpaceExAvailable = true;
  g_dllDirectories.clear();
  g_procLookups.clear();
  FreeResources();
  for (void* b : g_blocks) std::free(b);
  g_blocks.clear();
  g_allocSkip = 0;
  g_allocFail = 0;
}
}  // namespace detail

void SetDiskFreeSpaceExAvailable(bool available) { g_freeSpaceExAvailable = available; }

int LoadedLibraryReferences() { return g_libraryReferences; }

const std::vector<std::string>& DllDirectoryCalls() { return g_dllDirectories; }

const std::vector<std::string>& ProcLookups() { return g_procLookups; }

void FailAllocations(int skip, int count) {
  g_allocSkip = skip;
  g_allocFail = count;
}

int LiveAllocations() { return static_cast<int>(g_blocks.size()); }

void SetResource(int id, const std::string& type, const void* data, size_t size) {
  for (auto it = g_resources.begin(); it != g_resources.end(); ++it) {
    if ((*it)->id == id && detail::EqualNoCase((*it)->type, type)) {
      munmap((*it)->data, (*it)->mapped);
      g_resources.erase(it);
      break;
    }
  }
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t mapped = ((size == 0 ? 1 : size) + page - 1) / page * page;
  void* mem = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mem == MAP_FAILED) return;
  if (size) std::memcpy(mem, data, size);
  // A write into a resource faults on Windows; make it fault here too.
  mprotect(mem, mapped, PROT_READ);
  g_resources.push_back(std::unique_ptr<Resource>(new Resource{id, type, mem, size, mapped}));
}

}  // namespace scripted

HMODULE LoadLibraryA(LPCSTR name) {
  if (!IsKernel32(name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++g_libraryReferences;
  return kKernel32;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module != kKernel32) {
    SetLastError(module == kExeModule ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (IS_INTRESOURCE(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  g_procLookups.push_back(name);
  // Export names are case-sensitive. SetDefaultDllDirectories and the like
  // are not offered: the host loads no DLLs, so there is nothing to restrict.
  if (std::strcmp(name, "GetDiskFreeSpaceExA") == 0 && g_freeSpaceExAvailable)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&GetDiskFreeSpaceExA));
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  if (module != kKernel32) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  --g_libraryReferences;  // may go negative: a double release shows in tests
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  if (name == nullptr) return kExeModule;
  if (IsKernel32(name)) return kKernel32;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL SetDllDirectoryA(LPCSTR path) {
  g_dllDirectories.push_back(path ? path : "(null)");
  return TRUE;
}

HRSRC FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
  int id = 0;
  if (name == nullptr || type == nullptr || !NumberFromName(name, &id)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  std::string wanted = TypeName(type);
  bool typeSeen = false;
  for (auto& r : g_resources) {
    if (!scripted::detail::EqualNoCase(r->type, wanted)) continue;
    typeSeen = true;
    if (r->id == id) return reinterpret_cast<HRSRC>(r.get());
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

static Resource* FindLoaded(HRSRC res) {
  for (auto& r : g_resources)
    if (reinterpret_cast<HRSRC>(r.get()) == res) return r.get();
  SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return nullptr;
}

DWORD SizeofResource(HMODULE, HRSRC res) {
  Resource* r = FindLoaded(res);
  return r ? static_cast<DWORD>(r->size) : 0;
}

HGLOBAL LoadResource(HMODULE, HRSRC res) {
  Resource* r = FindLoaded(res);
  return r ? r->data : nullptr;
}

LPVOID LockResource(HGLOBAL res) { return res; }

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
  if (g_allocFail > 0) {
    if (g_allocSkip > 0) {
      --g_allocSkip;
    } else {
      --g_allocFail;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  // A zero-byte fixed block is still a distinct valid pointer on Windows.
  void* block = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  g_blocks.insert(block);
  return block;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  if (mem == nullptr) return nullptr;
  auto it = g_blocks.find(mem);
  if (it == g_blocks.end()) {  // unknown or already released: Windows hands it back
    SetLastError(ERROR_INVALID_HANDLE);
    return mem;
  }
  g_blocks.erase(it);
  std::free(mem);
  return nullptr;
}
