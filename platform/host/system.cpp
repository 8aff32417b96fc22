// The file, memory and profile calls of the updater's lower layers as the
// publisher's tool runs them on a host without Windows: paths are the host's
// own, memory is the C library's. The tool reads archives and profiles
// through these; everything it writes goes through its own files
// (tools/wz2), so a handle here is opened for reading existing files only
// and any other request is refused as access denied.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/served_profile.h"
#include "platform/profile_rules.h"

namespace {

// One thread only, as in the updater, so plain variables suffice.
DWORD g_lastError = 0;
std::string g_servedPath;
const ProfileStream* g_served = nullptr;

// Handles are file descriptors moved past NULL and INVALID_HANDLE_VALUE.
HANDLE FromDescriptor(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1); }
int ToDescriptor(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1); }

DWORD ErrorOf(int err) {
  switch (err) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

bool ValidHandle(HANDLE h) {
  struct stat st;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || fstat(ToDescriptor(h), &st) != 0) {
    g_lastError = ERROR_INVALID_HANDLE;
    return false;
  }
  return true;
}

}  // namespace

DWORD GetLastError(void) { return g_lastError; }

void SetLastError(DWORD code) { g_lastError = code; }

HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
  // A zero-byte fixed block is still a distinct valid pointer on Windows.
  void* block = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (block == nullptr) g_lastError = ERROR_NOT_ENOUGH_MEMORY;
  return block;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  std::free(mem);
  return nullptr;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
  if (name == nullptr || access != GENERIC_READ || disposition != OPEN_EXISTING) {
    g_lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
    close(fd);
    fd = -1;
    errno = EACCES;
  }
  if (fd < 0) {
    g_lastError = ErrorOf(errno);
    return INVALID_HANDLE_VALUE;
  }
  return FromDescriptor(fd);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  if (!ValidHandle(file)) return FALSE;
  if (read == nullptr) {
    g_lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  *read = 0;
  char* out = static_cast<char*>(buffer);
  while (*read < toRead) {
    ssize_t n = ::read(ToDescriptor(file), out + *read, toRead - *read);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      g_lastError = ErrorOf(errno);
      return FALSE;
    }
    if (n == 0) break;  // end of file: success with a short count
    *read += static_cast<DWORD>(n);
  }
  return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
  struct stat st;
  if (!ValidHandle(file) || fstat(ToDescriptor(file), &st) != 0) return INVALID_FILE_SIZE;
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (high) *high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  if (!ValidHandle(file)) return INVALID_SET_FILE_POINTER;
  int64_t offset = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                       static_cast<uint32_t>(distance))
                                : static_cast<int64_t>(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  off_t target = whence < 0 ? -1 : lseek(ToDescriptor(file), static_cast<off_t>(offset), whence);
  if (target < 0) {
    g_lastError = whence < 0 ? ERROR_INVALID_PARAMETER : ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  // A valid position whose low half looks like the failure value is told
  // apart by a cleared last error.
  if (static_cast<DWORD>(target) == INVALID_SET_FILE_POINTER) g_lastError = ERROR_SUCCESS;
  return static_cast<DWORD>(target);
}

BOOL CloseHandle(HANDLE h) {
  if (!ValidHandle(h)) return FALSE;
  close(ToDescriptor(h));
  return TRUE;
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out, DWORD size,
                               LPCSTR path) {
  if (g_served != nullptr && path != nullptr && g_servedPath == path && section != nullptr && key != nullptr) {
    DWORD n = g_served->Get(section, key, out, size);
    // A wanted key without a value reads as the default, as in a file.
    if (n == 0 && defaultValue != nullptr && defaultValue[0] != 0)
      return ProfileStringFromBytes(nullptr, section, key, defaultValue, out, size);
    return n;
  }
  return ProfileStringFromFile(path != nullptr ? path : "", section, key, defaultValue, out, size);
}

void ServeProfile(LPCSTR path, const ProfileStream* profile) {
  g_servedPath = path != nullptr ? path : "";
  g_served = path != nullptr ? profile : nullptr;
}
