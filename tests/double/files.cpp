// Files and directories: handles over host file descriptors with Windows'
// sharing, attribute and time rules, which the updater depends on (read-only
// targets refused, creation times kept, exclusive opens honoured).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "double/internal.h"

using scripted::detail::FileKey;

namespace {

struct OpenFile {
  int fd = -1;
  std::string hostPath;
  DWORD access = 0;
  DWORD share = 0;
  FileKey key{0, 0};
};

struct WriteFault {
  std::string suffix;
  uint32_t bytesBeforeFailure;
};

// 100 ns intervals between 1601-01-01 and 1970-01-01.
const int64_t kEpochDifference = 116444736000000000LL;
const int64_t kTicksPerSecond = 10000000LL;
// Handle values are small multiples of four above this, never NULL and never
// INVALID_HANDLE_VALUE, as on Windows.
const uintptr_t kFirstHandle = 0x1000;
const DWORD kAttributeBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::map<uintptr_t, OpenFile> g_handles;
uintptr_t g_nextHandle = kFirstHandle;
std::map<FileKey, uint64_t> g_creationTimes;
std::map<FileKey, DWORD> g_attributes;
std::vector<WriteFault> g_writeFaults;
// Reads of matching files end at bytesBeforeFailure, as if the file had been
// cut short after its size was taken.
std::vector<WriteFault> g_readFaults;

// Scripted failures of file calls, the calls made, and what each file keeps
// beyond Linux's own record.
struct CallFailure {
  scripted::FileCall call;
  std::string suffix;
  int skip;  // matching calls that still go through first
  int remaining;
  DWORD error;
};
std::vector<CallFailure> g_callFailures;
std::map<scripted::FileCall, int> g_callCounts;
std::vector<std::pair<std::string, std::string>> g_replacements;
std::map<FileKey, scripted::FileMetadata> g_metadata;

// Open directory searches: the entries that matched, in the host's order,
// and the next one to hand out.
struct Search {
  std::vector<WIN32_FIND_DATAA> found;
  size_t next = 0;
};
std::map<uintptr_t, Search> g_searches;

OpenFile* Lookup(HANDLE h) {
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(h));
  if (it == g_handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

bool ParentIsDirectory(const std::string& hostPath) {
  struct stat st;
  return stat(scripted::detail::ParentOf(hostPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Stats a path, setting the Windows error for a missing file or folder.
bool StatOrFail(const std::string& hostPath, struct stat* st) {
  if (stat(hostPath.c_str(), st) == 0) return true;
  int err = errno;
  SetLastError(scripted::detail::ErrorFromErrno(err, !ParentIsDirectory(hostPath)));
  return false;
}

// Windows refuses an open when an existing handle does not share what the new
// one asks for, or the new one does not share what an existing handle holds.
bool SharingConflict(const FileKey& key, DWORD access, DWORD share) {
  for (const auto& entry : g_handles) {
    const OpenFile& f = entry.second;
    if (f.key.dev != key.dev || f.key.ino != key.ino) continue;
    if ((access & GENERIC_READ) && !(f.share & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(f.share & FILE_SHARE_WRITE)) return true;
    if ((access & DELETE) && !(f.share & FILE_SHARE_DELETE)) return true;
    if ((f.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((f.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    if ((f.access & DELETE) && !(share & FILE_SHARE_DELETE)) return true;
  }
  return false;
}

// Counts a call of the kind and spends a scripted failure that matches its
// host path; true (with the error to report) when the call is to fail.
bool ScriptedFailure(scripted::FileCall call, const std::string& hostPath, DWORD* error) {
  for (CallFailure& f : g_callFailures) {
    if (f.call != call || f.remaining <= 0 || hostPath.size() < f.suffix.size()) continue;
    if (!scripted::detail::EqualNoCase(hostPath.substr(hostPath.size() - f.suffix.size()), f.suffix)) continue;
    if (f.skip > 0) {
      --f.skip;
      return false;
    }
    --f.remaining;
    *error = f.error;
    return true;
  }
  return false;
}

scripted::FileMetadata MetadataOf(const FileKey& key) {
  auto it = g_metadata.find(key);
  return it == g_metadata.end() ? scripted::FileMetadata() : it->second;
}

bool OpenedByHandle(const FileKey& key) {
  for (const auto& entry : g_handles)
    if (entry.second.key.dev == key.dev && entry.second.key.ino == key.ino) return true;
  return false;
}

// Bytes a configured fault lets through at this file position.
bool FaultLimit(const std::vector<WriteFault>& faults, const std::string& hostPath, uint64_t position,
                uint64_t* allowed) {
  for (const WriteFault& fault : faults) {
    if (hostPath.size() < fault.suffix.size()) continue;
    if (!scripted::detail::EqualNoCase(hostPath.substr(hostPath.size() - fault.suffix.size()), fault.suffix)) continue;
    *allowed = position < fault.bytesBeforeFailure ? fault.bytesBeforeFailure - position : 0;
    return true;
  }
  return false;
}

bool WriteAll(int fd, const char* data, size_t count, size_t* done) {
  *done = 0;
  while (*done < count) {
    ssize_t n = write(fd, data + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    *done += static_cast<size_t>(n);
  }
  return true;
}

uint64_t Combine(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void Split(uint64_t v, FILETIME* ft) {
  ft->dwLowDateTime = static_cast<DWORD>(v);
  ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

// A FILETIME argument of zero (or all ones) leaves that time as it is.
bool KeepsTime(const FILETIME* ft) {
  if (ft == nullptr) return true;
  uint64_t v = Combine(*ft);
  return v == 0 || v == ~0ull;
}

HANDLE AddHandle(const OpenFile& f) {
  uintptr_t value = g_nextHandle;
  g_nextHandle += 4;
  g_handles[value] = f;
  return reinterpret_cast<HANDLE>(value);
}

int OpenFd(const std::string& path, int flags) {
  // Reads must not move the access time: Windows does not update it on read
  // by default, and tests compare it after reading files back.
  if ((flags & O_ACCMODE) == O_RDONLY) {
    int fd = open(path.c_str(), flags | O_NOATIME, 0666);
    if (fd >= 0 || errno != EPERM) return fd;
  }
  return open(path.c_str(), flags, 0666);
}

}  // namespace

namespace scripted {

namespace detail {

void ResetFiles() {
  for (auto& entry : g_handles) close(entry.second.fd);
  g_handles.clear();
  g_nextHandle = kFirstHandle;
  g_creationTimes.clear();
  g_attributes.clear();
  g_writeFaults.clear();
  g_readFaults.clear();
  g_searches.clear();
  g_callFailures.clear();
  g_callCounts.clear();
  g_replacements.clear();
  g_metadata.clear();
}

FileKey KeyOf(const struct stat& st) {
  return FileKey{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

DWORD AttributesOf(const struct stat& st) {
  auto it = g_attributes.find(KeyOf(st));
  DWORD attributes;
  if (S_ISDIR(st.st_mode)) {
    attributes = FILE_ATTRIBUTE_DIRECTORY | (it == g_attributes.end() ? 0u : it->second);
    return attributes;
  }
  // Files the double has not seen were put there by a test or a copy: Windows
  // marks such files for archiving.
  attributes = it == g_attributes.end() ? FILE_ATTRIBUTE_ARCHIVE : it->second;
  // The read-only bit is read back from the host permission it is mirrored
  // into: a file replaced behind the double's back (same inode number reused)
  // then cannot inherit a stale flag, and a file a test made unwritable
  // counts as read-only.
  attributes &= ~FILE_ATTRIBUTE_READONLY;
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

bool IsReadOnly(const struct stat& st) { return (AttributesOf(st) & FILE_ATTRIBUTE_READONLY) != 0; }

void StoreAttributes(const std::string& hostPath, const struct stat& st, DWORD attributes) {
  attributes &= kAttributeBits;
  g_attributes[KeyOf(st)] = attributes;
  if (!S_ISREG(st.st_mode)) return;
  // The host permission mirrors the flag so that other programs see it too;
  // root ignores it, which is why the double checks its own record.
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
  chmod(hostPath.c_str(), mode);
}

uint64_t FileTimeFromTimespec(const struct timespec& ts) {
  int64_t ticks = static_cast<int64_t>(ts.tv_sec) * kTicksPerSecond + ts.tv_nsec / 100 + kEpochDifference;
  return static_cast<uint64_t>(ticks);
}

struct timespec TimespecFromFileTime(uint64_t time) {
  int64_t ticks = static_cast<int64_t>(time) - kEpochDifference;
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {  // before 1970: keep tv_nsec in [0, 1e9)
    rest += kTicksPerSecond;
    --seconds;
  }
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

uint64_t NowAsFileTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return FileTimeFromTimespec(ts);
}

uint64_t CreationTimeOf(const std::string& hostPath, const struct stat& st) {
  auto it = g_creationTimes.find(KeyOf(st));
  if (it != g_creationTimes.end()) return it->second;
  struct statx sx;
  if (!hostPath.empty() && statx(AT_FDCWD, hostPath.c_str(), 0, STATX_BTIME, &sx) == 0 &&
      (sx.stx_mask & STATX_BTIME)) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(sx.stx_btime.tv_sec);
    ts.tv_nsec = static_cast<long>(sx.stx_btime.tv_nsec);
    return FileTimeFromTimespec(ts);
  }
  return FileTimeFromTimespec(st.st_mtim);
}

void StoreCreationTime(const struct stat& st, uint64_t time) { g_creationTimes[KeyOf(st)] = time; }

void ForgetFile(const struct stat& st) {
  g_creationTimes.erase(KeyOf(st));
  g_attributes.erase(KeyOf(st));
  g_metadata.erase(KeyOf(st));
}

bool DeleteBlockedBySharing(const struct stat& st) {
  FileKey key = KeyOf(st);
  for (const auto& entry : g_handles) {
    const OpenFile& f = entry.second;
    if (f.key.dev == key.dev && f.key.ino == key.ino && !(f.share & FILE_SHARE_DELETE)) return true;
  }
  return false;
}

DWORD ErrorFromErrno(int err, bool parentMissing) {
  switch (err) {
    case ENOENT:
      return parentMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

}  // namespace detail

int OpenHandles() { return static_cast<int>(g_handles.size()); }

static WriteFault FaultFor(const std::string& suffix, uint32_t bytes) {
  std::string s = suffix;
  for (char& c : s)
    if (c == '\\') c = '/';
  return WriteFault{s, bytes};
}

void FailWritesTo(const std::string& suffix, uint32_t bytesBeforeFailure) {
  g_writeFaults.push_back(FaultFor(suffix, bytesBeforeFailure));
}

void ShortenReadsOf(const std::string& suffix, uint32_t bytesBeforeEnd) {
  g_readFaults.push_back(FaultFor(suffix, bytesBeforeEnd));
}

void FailFileCalls(FileCall call, const std::string& suffix, int times, DWORD error, int skip) {
  g_callFailures.push_back(CallFailure{call, FaultFor(suffix, 0).suffix, skip, times, error});
}

int FileCallCount(FileCall call) {
  auto it = g_callCounts.find(call);
  return it == g_callCounts.end() ? 0 : it->second;
}

const std::vector<std::pair<std::string, std::string>>& Replacements() { return g_replacements; }

void SetFileMetadata(const std::string& windowsPath, const FileMetadata& metadata) {
  struct stat st;
  std::string path = HostPath(windowsPath);
  if (!path.empty() && stat(path.c_str(), &st) == 0) g_metadata[detail::KeyOf(st)] = metadata;
}

FileMetadata FileMetadataOf(const std::string& windowsPath) {
  struct stat st;
  std::string path = HostPath(windowsPath);
  if (path.empty() || stat(path.c_str(), &st) != 0) return FileMetadata();
  return MetadataOf(detail::KeyOf(st));
}

}  // namespace scripted

using namespace scripted::detail;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
  std::string path;
  if (!ResolveHostPath(name, &path)) return INVALID_HANDLE_VALUE;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  if (!exists) {
    int err = errno;
    bool parentMissing = !ParentIsDirectory(path);
    if (err != ENOENT || parentMissing || disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      SetLastError(ErrorFromErrno(err, parentMissing));
      return INVALID_HANDLE_VALUE;
    }
  }
  bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  DWORD requested = flags & kAttributeBits;
  ++g_callCounts[scripted::FileCall::Create];
  DWORD scripted = 0;
  if (exists && ScriptedFailure(scripted::FileCall::Create, path, &scripted)) {
    SetLastError(scripted);
    return INVALID_HANDLE_VALUE;
  }
  if (exists) {
    if (S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW) {
      SetLastError(ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    DWORD current = AttributesOf(st);
    if ((current & FILE_ATTRIBUTE_READONLY) && ((access & GENERIC_WRITE) || truncates)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    // Overwriting a hidden or system file must ask for the same attributes.
    DWORD guarded = current & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (disposition == CREATE_ALWAYS && (guarded & ~requested) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (SharingConflict(KeyOf(st), access | (truncates ? GENERIC_WRITE : 0u), share)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
  }
  int oflags = O_CLOEXEC;
  if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
    oflags |= O_RDWR;
  else if (access & GENERIC_WRITE)
    oflags |= O_WRONLY;
  else
    oflags |= O_RDONLY;
  if (!exists) oflags |= O_CREAT | O_EXCL;
  if (exists && truncates) oflags |= O_TRUNC;
  int fd = OpenFd(path, oflags);
  if (fd < 0) {
    int err = errno;
    SetLastError(err == EEXIST ? static_cast<DWORD>(ERROR_FILE_EXISTS) : ErrorFromErrno(err, !ParentIsDirectory(path)));
    return INVALID_HANDLE_VALUE;
  }
  struct stat now;
  fstat(fd, &now);
  if (!exists) {
    StoreCreationTime(now, FileTimeFromTimespec(now.st_mtim));
    StoreAttributes(path, now, requested | FILE_ATTRIBUTE_ARCHIVE);
  } else if (disposition == CREATE_ALWAYS) {
    StoreAttributes(path, now, requested | FILE_ATTRIBUTE_ARCHIVE);
  }
  OpenFile f;
  f.fd = fd;
  f.hostPath = path;
  f.access = access;
  f.share = share;
  f.key = KeyOf(now);
  HANDLE h = AddHandle(f);
  if (exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS))
    SetLastError(ERROR_ALREADY_EXISTS);
  else if (disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING)
    SetLastError(ERROR_SUCCESS);
  return h;
}

// ReadFile and WriteFile check their handle, their count pointer and the
// handle's access in this order; the count is cleared before the access check,
// so a refused transfer still reports zero bytes.
static OpenFile* TransferTarget(HANDLE file, LPDWORD count, DWORD right) {
  OpenFile* f = Lookup(file);
  if (f == nullptr) return nullptr;
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  *count = 0;
  if (!(f->access & right)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return f;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  OpenFile* f = TransferTarget(file, read, GENERIC_READ);
  if (f == nullptr) return FALSE;
  char* out = static_cast<char*>(buffer);
  uint64_t allowed = 0;
  off_t position = lseek(f->fd, 0, SEEK_CUR);
  if (FaultLimit(g_readFaults, f->hostPath, static_cast<uint64_t>(position), &allowed) && allowed < toRead)
    toRead = static_cast<DWORD>(allowed);
  while (*read < toRead) {
    ssize_t n = ::read(f->fd, out + *read, toRead - *read);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrorFromErrno(errno, false));
      return FALSE;
    }
    if (n == 0) break;  // end of file: success with a short count
    *read += static_cast<DWORD>(n);
  }
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  OpenFile* f = TransferTarget(file, written, GENERIC_WRITE);
  if (f == nullptr) return FALSE;
  uint64_t count = toWrite;
  bool full = false;
  off_t position = lseek(f->fd, 0, SEEK_CUR);
  uint64_t allowed = 0;
  if (FaultLimit(g_writeFaults, f->hostPath, static_cast<uint64_t>(position), &allowed) && allowed < count) {
    count = allowed;
    full = true;
  }
  size_t done = 0;
  bool ok = WriteAll(f->fd, static_cast<const char*>(buffer), static_cast<size_t>(count), &done);
  *written = static_cast<DWORD>(done);
  if (!ok) {
    SetLastError(ErrorFromErrno(errno, false));
    return FALSE;
  }
  if (full) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD high) {
  OpenFile* f = Lookup(file);
  if (f == nullptr) return INVALID_FILE_SIZE;
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (high) *high = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  OpenFile* f = Lookup(file);
  if (f == nullptr) return INVALID_SET_FILE_POINTER;
  int64_t offset = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                       static_cast<uint32_t>(distance))
                                : static_cast<int64_t>(distance);
  int64_t base;
  if (method == FILE_BEGIN) {
    base = 0;
  } else if (method == FILE_CURRENT) {
    base = lseek(f->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st;
    fstat(f->fd, &st);
    base = st.st_size;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target = base + offset;
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  lseek(f->fd, static_cast<off_t>(target), SEEK_SET);
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  // A valid position whose low half looks like the failure value is told
  // apart by a cleared last error.
  if (static_cast<DWORD>(target) == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target);
}

BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write) {
  OpenFile* f = Lookup(file);
  if (f == nullptr) return FALSE;
  struct stat st;
  if (fstat(f->fd, &st) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (creation) Split(CreationTimeOf(f->hostPath, st), creation);
  if (access) Split(FileTimeFromTimespec(st.st_atim), access);
  if (write) Split(FileTimeFromTimespec(st.st_mtim), write);
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
  OpenFile* f = Lookup(file);
  if (f == nullptr) return FALSE;
  // Changing times needs write access to the file's attributes, which a
  // handle opened for reading only does not carry.
  if (!(f->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const FILETIME* all[3] = {creation, access, write};
  for (const FILETIME* t : all) {
    if (!KeepsTime(t) && Combine(*t) > static_cast<uint64_t>(INT64_MAX)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = times[0];
  if (!KeepsTime(access)) times[0] = TimespecFromFileTime(Combine(*access));
  if (!KeepsTime(write)) times[1] = TimespecFromFileTime(Combine(*write));
  if (futimens(f->fd, times) != 0) {
    SetLastError(ErrorFromErrno(errno, false));
    return FALSE;
  }
  if (!KeepsTime(creation)) {
    struct stat st;
    fstat(f->fd, &st);
    StoreCreationTime(st, Combine(*creation));
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE h) {
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(h));
  if (it == g_handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  close(it->second.fd);
  g_handles.erase(it);
  return TRUE;
}

DWORD GetFileAttributesA(LPCSTR name) {
  std::string path;
  if (!ResolveHostPath(name, &path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (!StatOrFail(path, &st)) return INVALID_FILE_ATTRIBUTES;
  return AttributesOf(st);
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
  std::string path;
  if (!ResolveHostPath(name, &path)) return FALSE;
  struct stat st;
  if (!StatOrFail(path, &st)) return FALSE;
  StoreAttributes(path, st, attributes);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES) {
  // The ANSI call keeps room for an 8.3 name inside the new directory.
  const size_t kDirectoryLimit = MAX_PATH - 12;
  WinPath parsed;
  DWORD error = 0;
  if (!ParseWindowsPath(name, &parsed, &error)) {
    SetLastError(error);
    return FALSE;
  }
  size_t length = 2;  // "X:"
  for (const std::string& c : parsed.components) length += 1 + c.size();
  if (length > kDirectoryLimit) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  std::string path = ToHostPath(parsed);
  if (mkdir(path.c_str(), 0777) != 0) {
    int err = errno;
    SetLastError(err == EEXIST ? static_cast<DWORD>(ERROR_ALREADY_EXISTS) : ErrorFromErrno(err, true));
    return FALSE;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    ForgetFile(st);
    StoreCreationTime(st, FileTimeFromTimespec(st.st_mtim));
  }
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR name) {
  std::string path;
  if (!ResolveHostPath(name, &path)) return FALSE;
  struct stat st;
  if (!StatOrFail(path, &st)) return FALSE;
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  if (IsReadOnly(st)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (rmdir(path.c_str()) != 0) {
    SetLastError(ErrorFromErrno(errno, false));
    return FALSE;
  }
  ForgetFile(st);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
  std::string path;
  if (!ResolveHostPath(name, &path)) return FALSE;
  struct stat st;
  if (!StatOrFail(path, &st)) return FALSE;
  if (S_ISDIR(st.st_mode) || IsReadOnly(st)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (DeleteBlockedBySharing(st)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(ErrorFromErrno(errno, false));
    return FALSE;
  }
  ForgetFile(st);
  return TRUE;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  ++g_callCounts[scripted::FileCall::Move];
  std::string source, target;
  if (!ResolveHostPath(from, &source) || !ResolveHostPath(to, &target)) return FALSE;
  DWORD scripted = 0;
  if (ScriptedFailure(scripted::FileCall::Move, target, &scripted)) {
    SetLastError(scripted);
    return FALSE;
  }
  struct stat src;
  if (!StatOrFail(source, &src)) return FALSE;
  if (DeleteBlockedBySharing(src)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  struct stat dst;
  bool targetExists = stat(target.c_str(), &dst) == 0;
  bool sameFile = targetExists && KeyOf(src).dev == KeyOf(dst).dev && KeyOf(src).ino == KeyOf(dst).ino;
  if (targetExists && !sameFile) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
    // A directory, a read-only file or a file in use cannot be replaced.
    if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) || IsReadOnly(dst) || OpenedByHandle(KeyOf(dst))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  }
  if (!targetExists && !ParentIsDirectory(target)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (sameFile) return TRUE;
  // rename() swaps the name atomically: a reader sees the old or the new
  // file, never a missing one.
  if (rename(source.c_str(), target.c_str()) != 0) {
    SetLastError(ErrorFromErrno(errno, true));
    return FALSE;
  }
  if (targetExists) ForgetFile(dst);
  if (flags & MOVEFILE_WRITE_THROUGH) {
    int dir = open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
  return TRUE;
}

// The outcomes Windows documents for a ReplaceFileA that fails with
// `error` when no backup name was given.
static void LeaveDocumentedOutcome(DWORD error, const std::string& target, const struct stat& dst,
                                   const std::string& source, const struct stat& src) {
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
    if (unlink(target.c_str()) == 0) ForgetFile(dst);
  } else if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    scripted::FileMetadata own = MetadataOf(KeyOf(src));
    own.streams = MetadataOf(KeyOf(dst)).streams;
    g_metadata[KeyOf(src)] = own;
    StoreAttributes(source, src, AttributesOf(dst));
    rename(target.c_str(), (target + ".~RF").c_str());
  }
}

BOOL ReplaceFileA(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD, LPVOID exclude, LPVOID reserved) {
  ++g_callCounts[scripted::FileCall::Replace];
  g_replacements.emplace_back(replaced ? replaced : "(null)", replacement ? replacement : "(null)");
  // The updater asks for no backup; the double does not make one.
  if (backup != nullptr || exclude != nullptr || reserved != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string target, source;
  if (!ResolveHostPath(replaced, &target) || !ResolveHostPath(replacement, &source)) return FALSE;
  struct stat dst, src;
  if (!StatOrFail(target, &dst) || !StatOrFail(source, &src)) return FALSE;
  // The caller must be able to write the replaced file; folders are no files.
  if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) || IsReadOnly(dst)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD scripted = 0;
  if (ScriptedFailure(scripted::FileCall::Replace, target, &scripted)) {
    LeaveDocumentedOutcome(scripted, target, dst, source, src);
    SetLastError(scripted);
    return FALSE;
  }
  // The replaced file is opened for reading and deleting, sharing all; the
  // replacement for reading, writing and deleting, sharing nothing.
  if (SharingConflict(KeyOf(dst), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE) || DeleteBlockedBySharing(dst) ||
      OpenedByHandle(KeyOf(src))) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  DWORD attributes = AttributesOf(dst);
  uint64_t creation = CreationTimeOf(target, dst);
  scripted::FileMetadata kept = MetadataOf(KeyOf(dst));
  std::string ownStreams = MetadataOf(KeyOf(src)).streams;
  if (!ownStreams.empty()) kept.streams = ownStreams;
  if (rename(source.c_str(), target.c_str()) != 0) {
    SetLastError(ErrorFromErrno(errno, true));
    return FALSE;
  }
  ForgetFile(dst);
  struct stat now;
  if (stat(target.c_str(), &now) == 0) {
    StoreAttributes(target, now, attributes);
    StoreCreationTime(now, creation);
    g_metadata[KeyOf(now)] = kept;
  }
  return TRUE;
}

UINT GetTempFileNameA(LPCSTR dir, LPCSTR prefix, UINT unique, LPSTR out) {
  if (dir == nullptr || out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Windows refuses a folder that leaves no room for the longest name it
  // would make ("\", three prefix bytes, four digits, ".TMP" and the NUL).
  if (std::strlen(dir) > MAX_PATH - 14) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  std::string base = dir;
  // The separator test looks at the last character, not the last byte: the
  // second byte of a double-byte character may be 0x5C.
  bool endsInSeparator = false;
  for (size_t i = 0; i < base.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(base[i]);
    endsInSeparator = (b == '\\' || b == '/');
    if (IsDBCSLeadByte(b) && i + 1 < base.size()) ++i;
  }
  if (!base.empty() && !endsInSeparator) base += "\\";
  std::string pre = prefix ? std::string(prefix).substr(0, 3) : std::string();
  UINT number = unique & 0xFFFFu;
  bool create = unique == 0;
  if (create) number = (GetTickCount() & 0xFFFFu);
  for (UINT tries = 0; tries < 0x10000u; ++tries) {
    if (number == 0) number = 1;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", number);
    std::string name = base + pre + hex + ".TMP";
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    if (!create) {
      std::memcpy(out, name.c_str(), name.size() + 1);
      return number;
    }
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      std::memcpy(out, name.c_str(), name.size() + 1);
      return number;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return 0;
    number = (number + 1) & 0xFFFFu;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

// ---- Directory searches -------------------------------------------------------

namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

// Windows' wildcard rule for long names: '*' any run of bytes, '?' any one
// byte, other bytes equal without ASCII case. Iterative with one back-track
// point, so the work is bounded by the product of the two lengths.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern && FoldAscii(*pattern) == FoldAscii(*name))) {
      pattern++;
      name++;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') pattern++;
  return *pattern == 0;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA out) {
  if (pattern == nullptr || out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The folder is everything up to the last separator character (a trail
  // byte 0x5C is none); the rest is the wildcard.
  size_t cut = 0;
  for (size_t i = 0; pattern[i]; ++i) {
    unsigned char b = static_cast<unsigned char>(pattern[i]);
    if (b == '\\' || b == '/') cut = i + 1;
    else if (IsDBCSLeadByte(b) && pattern[i + 1]) ++i;
  }
  std::string folder(pattern, cut);
  if (folder.empty()) folder = ".";
  std::string hostFolder;
  if (!scripted::detail::ResolveHostPath(folder.c_str(), &hostFolder)) return INVALID_HANDLE_VALUE;
  DIR* d = opendir(hostFolder.c_str());
  if (d == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  Search search;
  while (struct dirent* e = readdir(d)) {
    if (!WildcardMatch(pattern + cut, e->d_name) || std::strlen(e->d_name) >= MAX_PATH) continue;
    struct stat st;
    if (stat((hostFolder + "/" + e->d_name).c_str(), &st) != 0) continue;
    WIN32_FIND_DATAA data = {};
    data.dwFileAttributes = scripted::detail::AttributesOf(st);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    Split(scripted::detail::FileTimeFromTimespec(st.st_mtim), &data.ftLastWriteTime);
    Split(scripted::detail::FileTimeFromTimespec(st.st_atim), &data.ftLastAccessTime);
    Split(scripted::detail::CreationTimeOf(hostFolder + "/" + e->d_name, st), &data.ftCreationTime);
    std::memcpy(data.cFileName, e->d_name, std::strlen(e->d_name) + 1);
    search.found.push_back(data);
  }
  closedir(d);
  if (search.found.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *out = search.found[0];
  search.next = 1;
  uintptr_t id = g_nextHandle;
  g_nextHandle += 4;
  g_searches[id] = std::move(search);
  return reinterpret_cast<HANDLE>(id);
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA out) {
  auto it = g_searches.find(reinterpret_cast<uintptr_t>(handle));
  if (it == g_searches.end() || out == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.next >= it->second.found.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *out = it->second.found[it->second.next++];
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  if (g_searches.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
