// Output files written next to their final place and renamed over it, the
// interrupt handling that removes them when the run is stopped, and the
// clean-up of those a killed run left behind.
#ifdef _WIN32
#define _CRT_RAND_S  // rand_s: the system's random numbers, for unguessable names
#endif
#include "tools/wz2/pending_file.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>

#include "tools/wz2/file_time.h"
#include "tools/wz2/files.h"
#include "tools/wz2/messages.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace wz2 {

// ---- Interrupts ---------------------------------------------------------------

// Temporary files not yet renamed into place. The signal handler walks this
// list, so it is changed only with the signals blocked, and the handler
// makes no call beyond unlink.
struct TempNode {
  std::string path;
  TempNode* prev;
  TempNode* next;
};
static TempNode* g_pending = nullptr;

#ifndef _WIN32
static const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kInterrupts) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

static void OnInterrupt(int signal) {
  for (TempNode* n = g_pending; n; n = n->next) unlink(n->path.c_str());
  ::signal(signal, SIG_DFL);
  raise(signal);
}
#else
// Windows delivers Ctrl-C on another thread; nothing to block here.
struct SignalsBlocked {
  SignalsBlocked() {}
};
#endif

#ifndef _WIN32
// A mapped input cut short by another program while it is read (a copy over
// it) faults on the pages past its new end. Nothing the tool was doing can
// go on: the pending files go, one line says why, and the run fails. Only
// calls that are safe in a signal handler are made.
static char g_truncatedLine[256];
static size_t g_truncatedLength = 0;

static void OnTruncatedInput(int) {
  for (TempNode* n = g_pending; n; n = n->next) unlink(n->path.c_str());
  ssize_t ignored = write(2, g_truncatedLine, g_truncatedLength);
  (void)ignored;
  _exit(EXIT_FAILED);
}
#endif

void InstallInterruptCleanup() {
#ifndef _WIN32
  for (int s : kInterrupts) signal(s, OnInterrupt);
  snprintf(g_truncatedLine, sizeof(g_truncatedLine), "%san input file was truncated while it was read\n",
           MessagePrefix().c_str());
  g_truncatedLength = strlen(g_truncatedLine);
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_handler = OnTruncatedInput;
  sigemptyset(&action.sa_mask);
  for (int s : kInterrupts) sigaddset(&action.sa_mask, s);
  sigaction(SIGBUS, &action, nullptr);
#endif
}

static TempNode* RegisterTemp(const fs::path& path) {
  TempNode* n = new TempNode{path.string(), nullptr, nullptr};
  SignalsBlocked blocked;
  n->next = g_pending;
  if (g_pending) g_pending->prev = n;
  g_pending = n;
  return n;
}

static void ForgetTemp(TempNode* n) {
  if (!n) return;
  {
    SignalsBlocked blocked;
    if (n->prev) n->prev->next = n->next;
    else g_pending = n->next;
    if (n->next) n->next->prev = n->prev;
  }
  delete n;
}

// ---- PendingFile ------------------------------------------------------------

PendingFile::~PendingFile() { Discard(); }

PendingFile::PendingFile(PendingFile&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      file_(other.file_),
      size_(other.size_),
      durable_(other.durable_),
      node_(other.node_) {
  other.file_ = nullptr;
  other.temp_.clear();
  other.node_ = nullptr;
}

namespace {

const char kTempMarker[] = ".wz2tmp-";

// 64 bits no other program can guess, so that nobody can plant a file or a
// link under the name before it is created.
uint64_t UnguessableNumber() {
#ifdef _WIN32
  unsigned int a = 0, b = 0;
  rand_s(&a);
  rand_s(&b);
  return (uint64_t)a << 32 | b;
#else
  std::random_device device;
  return (uint64_t)device() << 32 | device();
#endif
}

bool ProcessAlive(unsigned long pid) {
#ifdef _WIN32
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)pid);
  if (!h) return GetLastError() == ERROR_ACCESS_DENIED;
  bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return alive;
#else
  return kill((pid_t)pid, 0) == 0 || errno != ESRCH;
#endif
}

// A run that was killed outright (SIGKILL, a power cut) left its temporary
// files behind. They are named ".<target>.wz2tmp-<pid>-<random>"; those of
// processes that are gone are removed the first time a run writes into
// their folder. Only regular files are touched, never what a link names,
// and only those untouched for a while: a run on another machine or in
// another process namespace may share the folder under a pid that looks
// gone here, and a run that is writing keeps its file's time recent.
const auto kAbandonedAfter = std::chrono::minutes(10);

// Whether name is exactly one the tool gives its temporary files, as Open
// makes them: a dot, the target's name, the marker, the pid in decimal, a
// dash and sixteen lowercase hex digits, nothing after. A user's file that
// merely looks alike (".notes.wz2tmp-4000001-draft") is not the tool's.
const size_t kPidDigitsMax = 10;      // 2^32 - 1
const size_t kRandomHexDigits = 16;   // UnguessableNumber, as "%016llx"

bool OwnTemporaryName(const std::string& name, unsigned long* pid) {
  size_t marker = name.rfind(kTempMarker);
  if (name.size() < 2 || name[0] != '.' || marker == std::string::npos || marker < 2) return false;
  size_t at = marker + strlen(kTempMarker);
  uint64_t value = 0;
  size_t digits = 0;
  for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && digits < kPidDigitsMax; at++, digits++)
    value = value * 10 + (uint64_t)(name[at] - '0');
  if (digits == 0 || value > 0xFFFFFFFFull || at >= name.size() || name[at] != '-') return false;
  at++;
  if (name.size() - at != kRandomHexDigits) return false;
  for (; at < name.size(); at++)
    if (!((name[at] >= '0' && name[at] <= '9') || (name[at] >= 'a' && name[at] <= 'f'))) return false;
  *pid = (unsigned long)value;
  return true;
}

void RemoveAbandonedTemporaries(const fs::path& dir) {
  static std::set<fs::path> cleaned;
  if (!cleaned.insert(dir).second) return;
  std::error_code ec;
  for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end; it.increment(ec)) {
    unsigned long pid = 0;
    if (!OwnTemporaryName(PathToUtf8(it->path().filename()), &pid) || pid == ProcessId() || ProcessAlive(pid))
      continue;
    std::error_code kind;
    if (!fs::is_regular_file(it->symlink_status(kind))) continue;
    fs::file_time_type written = fs::last_write_time(it->path(), kind);
    if (kind || fs::file_time_type::clock::now() - written < kAbandonedAfter) continue;
    fs::remove(it->path(), kind);
  }
}

// Creates path as a new file: never an existing one, never through a link.
FILE* CreateNew(const fs::path& path, int* code) {
#ifdef _WIN32
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *code = GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
    return nullptr;
  }
  int fd = _open_osfhandle((intptr_t)h, 0);
  if (fd < 0) {
    CloseHandle(h);
    *code = EMFILE;
    return nullptr;
  }
  FILE* f = _fdopen(fd, "wb");
  if (!f) _close(fd);
#else
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    *code = errno;
    return nullptr;
  }
  FILE* f = fdopen(fd, "wb");
  if (!f) close(fd);
#endif
  *code = f ? 0 : errno;
  return f;
}

}  // namespace

bool PendingFile::Open(const fs::path& target, std::string* error) {
  target_ = target;
  if (!ReplaceableTarget(target, error)) return false;
  fs::path dir = target.parent_path();
  RemoveAbandonedTemporaries(dir);
  // The temporary file lives in the target's directory so that the final
  // rename stays on one file system and replaces the target in one step.
  for (int attempt = 0; attempt < 16; attempt++) {
    char suffix[64];
    snprintf(suffix, sizeof(suffix), "%s%lu-%016llx", kTempMarker, ProcessId(),
             (unsigned long long)UnguessableNumber());
    fs::path name = PathFromUtf8("." + PathToUtf8(target.filename()) + suffix);
    temp_ = dir.empty() ? name : dir / name;
    // Registered before it exists, so an interrupt between the two still
    // removes it.
    node_ = RegisterTemp(temp_);
    int code = 0;
    file_ = CreateNew(temp_, &code);
    if (file_) return true;
    ForgetTemp(node_);
    node_ = nullptr;
    if (code == EEXIST) continue;
    *error = PathToUtf8(target) + ": cannot create file: " + SystemError(code);
    temp_.clear();
    return false;
  }
  *error = PathToUtf8(target) + ": cannot create a temporary file";
  temp_.clear();
  return false;
}

bool PendingFile::Write(const void* data, size_t size, std::string* error) {
  // In pieces of 1 MiB: one write of a whole mapped entry makes the kernel
  // fault the source pages in while it holds the target, and measured three
  // times slower than the same bytes written a megabyte at a time.
  const size_t kPiece = (size_t)1 << 20;
  const uint8_t* p = (const uint8_t*)data;
  for (size_t done = 0; done < size;) {
    size_t n = std::min(kPiece, size - done);
    if (fwrite(p + done, 1, n, file_) != n) {
      *error = PathToUtf8(target_) + ": write error: " + SystemError(errno);
      return false;
    }
    done += n;
  }
  size_ += size;
  return true;
}

bool PendingFile::CopyRange(int source, uint64_t offset, const void* mapped, size_t size, std::string* error) {
  size_t done = 0;
#ifdef __linux__
  // A stored entry starts at a 16-byte, not a page, boundary: the kernel's
  // file-to-file copy then splits every page in two and measured 40% slower
  // than cp. Instead the entry goes through windows of the file mapped with
  // their page tables filled in one call (a page fault per 4 KiB made the
  // plain mapping four times slower still), each written with one write per
  // MiB straight into the target. The windows bound what stays mapped.
  const size_t kWindow = (size_t)16 << 20;
  const size_t kPiece = (size_t)1 << 20;
  long page = sysconf(_SC_PAGESIZE);
  if (source >= 0 && page > 0 && fflush(file_) == 0) {
    int out = fileno(file_);
    while (done < size) {
      uint64_t at = offset + done;
      uint64_t base = at & ~(uint64_t)(page - 1);
      size_t lead = (size_t)(at - base);
      size_t count = std::min(kWindow, size - done);
      void* view = mmap(nullptr, lead + count, PROT_READ, MAP_PRIVATE | MAP_POPULATE, source, (off_t)base);
      if (view == MAP_FAILED) break;  // the rest is written from the archive's own mapping
      const uint8_t* p = (const uint8_t*)view + lead;
      size_t written = 0;
      while (written < count) {
        ssize_t n = write(out, p + written, std::min(kPiece, count - written));
        if (n <= 0) break;
        written += (size_t)n;
      }
      munmap(view, lead + count);
      done += written;
      if (written < count) break;  // Write below repeats the failing write and reports it
    }
    size_ += done;
    // The stream's idea of its position is stale after writes around it.
    if (done < size && fseeko(file_, 0, SEEK_END) != 0) {
      *error = PathToUtf8(target_) + ": write error: " + SystemError(errno);
      return false;
    }
  }
#else
  (void)source;
  (void)offset;
#endif
  return Write((const uint8_t*)mapped + done, size - done, error);
}

bool PendingFile::WriteAt(uint64_t offset, const void* data, size_t size, std::string* error) {
#ifdef _WIN32
  int sought = _fseeki64(file_, (long long)offset, SEEK_SET);
#else
  int sought = fseeko(file_, (off_t)offset, SEEK_SET);
#endif
  bool ok = sought == 0 && fwrite(data, 1, size, file_) == size;
#ifdef _WIN32
  ok = ok && _fseeki64(file_, 0, SEEK_END) == 0;
#else
  ok = ok && fseeko(file_, 0, SEEK_END) == 0;
#endif
  if (!ok) *error = PathToUtf8(target_) + ": write error: " + SystemError(errno);
  return ok;
}

bool PendingFile::Truncate(uint64_t size, std::string* error) {
  bool ok = fflush(file_) == 0;
#ifdef _WIN32
  ok = ok && _chsize_s(_fileno(file_), (long long)size) == 0 && _fseeki64(file_, 0, SEEK_END) == 0;
#else
  ok = ok && ftruncate(fileno(file_), (off_t)size) == 0 && fseeko(file_, 0, SEEK_END) == 0;
#endif
  if (!ok) {
    *error = PathToUtf8(target_) + ": write error: " + SystemError(errno);
    return false;
  }
  size_ = size;
  return true;
}

bool PendingFile::Close(std::string* error) {
  if (!file_) return true;
  bool ok = fflush(file_) == 0;
#ifndef _WIN32
  ok = ok && (!durable_ || fsync(fileno(file_)) == 0);
#endif
  ok = fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) {
    *error = PathToUtf8(target_) + ": write error: " + SystemError(errno);
    Discard();
  }
  return ok;
}

bool PendingFile::Commit(const FILETIME* modified, std::string* error) {
  if (temp_.empty()) {
    *error = PathToUtf8(target_) + ": nothing to write";
    return false;
  }
  if (!Close(error)) return false;
  if (modified && !SetModificationTime(temp_, *modified, error)) {
    Discard();
    return false;
  }
  // Looked at again at the last moment: the rename replaces whatever node
  // stands at the target, and a device, FIFO or link put there since Open
  // would be gone.
  if (!ReplaceableTarget(target_, error)) {
    Discard();
    return false;
  }
#ifdef _WIN32
  if (!MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *error = PathToUtf8(target_) + ": cannot replace file (error " + std::to_string(GetLastError()) + ")";
    Discard();
    return false;
  }
#else
  std::error_code ec;
  fs::rename(temp_, target_, ec);
  if (ec) {
    *error = PathToUtf8(target_) + ": cannot replace file: " + ec.message();
    Discard();
    return false;
  }
#endif
  temp_.clear();
  ForgetTemp(node_);
  node_ = nullptr;
  return true;
}

void PendingFile::Discard() {
  if (file_) fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
  }
  ForgetTemp(node_);
  node_ = nullptr;
}

}  // namespace wz2
