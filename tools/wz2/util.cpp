// Messages, files, times and progress for the tool. Files go through
// std::filesystem paths so that names outside the ANSI code page work on
// Windows; the few calls the standard library lacks (file times, an atomic
// replace) are made per host.
#ifdef _WIN32
#define _CRT_RAND_S  // rand_s: the system's random numbers, for unguessable names
#endif
#include <errno.h>
#include <stdlib.h>
#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <string.h>

#include "tools/wz2/tool.h"

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

bool Quiet = false;
const char* CommandName = nullptr;

namespace {
// 100-ns intervals from 1601-01-01 to 1970-01-01.
const uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

std::string Prefix() { return CommandName ? std::string("wz2: ") + CommandName + ": " : std::string("wz2: "); }

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(2) != 0;
#endif
}

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string HumanBytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB"};
  int u = 0;
  while (bytes >= 1024 && u < 3) {
    bytes /= 1024;
    u++;
  }
  char text[64];
  snprintf(text, sizeof(text), u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

}  // namespace

std::string SystemError(int code) { return std::error_code(code, std::generic_category()).message(); }

int Fail(const std::string& text) {
  Print(stderr, Prefix() + text + "\n");
  return EXIT_FAILED;
}

int UsageError(const std::string& text) {
  Print(stderr, Prefix() + text + " (see 'wz2 help" + (CommandName ? std::string(" ") + CommandName : "") + "')\n");
  return EXIT_USAGE;
}

void Warn(const std::string& text) { Print(stderr, Prefix() + "warning: " + text + "\n"); }

void Result(const std::string& text) { Print(stdout, text + "\n"); }

fs::path PathFromUtf8(const std::string& utf8) { return fs::u8path(utf8); }

std::string PathToUtf8(const fs::path& path) { return path.u8string(); }

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return (unsigned long)getpid();
#endif
}

FILE* OpenPath(const fs::path& path, const char* mode) {
#ifdef _WIN32
  std::wstring wmode(mode, mode + strlen(mode));
  return _wfopen(path.c_str(), wmode.c_str());
#else
  return fopen(path.c_str(), mode);
#endif
}

FILE* OpenRegularFile(const fs::path& path, uint64_t* size, std::string* error) {
#ifdef _WIN32
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    *error = PathToUtf8(path) + ": is a directory";
    return nullptr;
  }
  FILE* f = OpenPath(path, "rb");
  if (!f) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    return nullptr;
  }
  HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
  LARGE_INTEGER length;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &length)) {
    *error = PathToUtf8(path) + ": not a regular file";
    fclose(f);
    return nullptr;
  }
  *size = (uint64_t)length.QuadPart;
  return f;
#else
  // Without O_NONBLOCK the open of a FIFO waits for a writer that may never
  // come; opened so, it is refused below like every other non-file.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = PathToUtf8(path) + (S_ISDIR(st.st_mode) ? ": is a directory" : ": not a regular file");
    close(fd);
    return nullptr;
  }
  // Reads of a regular file never wait; the flag served the open alone.
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (!f) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    close(fd);
    return nullptr;
  }
  *size = (uint64_t)st.st_size;
  return f;
#endif
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  uint64_t expected = 0;
  FILE* f = OpenRegularFile(path, &expected, error);
  if (!f) return false;
  if (expected > (uint64_t)SIZE_MAX) {
    fclose(f);
    *error = PathToUtf8(path) + ": too large to read";
    return false;
  }
  // Exactly the size the file had when it was opened, read straight into a
  // buffer of that size: a file that grows while it is read is never
  // followed (it could grow without end), and one byte more, or fewer than
  // that size, means it changed.
  out->resize((size_t)expected);
  size_t done = 0;
  while (done < out->size()) {
    size_t n = fread(out->data() + done, 1, out->size() - done, f);
    if (n == 0) break;
    done += n;
  }
  uint8_t more;
  bool changed = done != out->size() || fread(&more, 1, 1, f) != 0;
  bool bad = ferror(f) != 0;
  fclose(f);
  if (bad) {
    *error = PathToUtf8(path) + ": read error";
    return false;
  }
  if (changed) {
    *error = PathToUtf8(path) + ": file changed while it was read";
    return false;
  }
  return true;
}

#ifdef _WIN32
// The target as it is, its links and reparse points not followed: a link,
// folder or device is named; "" for a plain file or none at all.
static std::string TargetKind(const fs::path& target, std::string* failure) {
  HANDLE h = CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
      *failure = "cannot look at it (error " + std::to_string(code) + ")";
    return "";
  }
  DWORD type = GetFileType(h);
  BY_HANDLE_FILE_INFORMATION info;
  BOOL known = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (type != FILE_TYPE_DISK) return "a device";
  if (!known) return "";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a link";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return "a device";
  return "";
}
#else
static std::string TargetKind(const fs::path& target, std::string* failure) {
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) *failure = SystemError(errno);
    return "";
  }
  if (S_ISREG(st.st_mode)) return "";
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a device";
}
#endif

bool ReplaceableTarget(const fs::path& target, std::string* error) {
  std::string failure;
  std::string kind = TargetKind(target, &failure);
  if (!failure.empty()) {
    *error = PathToUtf8(target) + ": " + failure;
    return false;
  }
  if (kind.empty()) return true;
  *error = PathToUtf8(target) + ": exists and is not a regular file (" + kind + "); it is not replaced";
  return false;
}

int CheckOutputOption(const std::string& output) {
  if (output == "-")
    return UsageError("-o - is not standard output: archives and updaters are written only to files (./- names a file '-')");
  std::string error;
  if (!ReplaceableTarget(PathFromUtf8(output), &error)) return Fail(error);
  return EXIT_DONE;
}

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
           Prefix().c_str());
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

// ---- Times -------------------------------------------------------------------

uint64_t FileTimeValue(const FILETIME& t) { return ((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime; }

FILETIME FileTimeFrom(uint64_t value) {
  FILETIME t;
  t.dwLowDateTime = (DWORD)value;
  t.dwHighDateTime = (DWORD)(value >> 32);
  return t;
}

std::string FormatUtc(const FILETIME& t) {
  uint64_t v = FileTimeValue(t);
  uint64_t seconds = v / 10000000ull;
  uint32_t fraction = (uint32_t)(v % 10000000ull);
  // Days since 1601-01-01 to a civil date (proleptic Gregorian), valid for
  // every 64-bit file time; gmtime would fail before 1970 on some hosts.
  int64_t days = (int64_t)(seconds / 86400) - 134774;  // now days since 1970-01-01
  uint32_t secOfDay = (uint32_t)(seconds % 86400);
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];
  snprintf(text, sizeof(text), "%04lld-%02lld-%02lldT%02u:%02u:%02u", (long long)year, (long long)month, (long long)day,
           secOfDay / 3600, secOfDay / 60 % 60, secOfDay % 60);
  std::string out = text;
  if (fraction != 0) {
    snprintf(text, sizeof(text), ".%07u", fraction);
    out += text;
  }
  return out + "Z";
}

bool GetModificationTime(const fs::path& path, FILETIME* out, std::string* error) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    *error = PathToUtf8(path) + ": cannot read its time";
    return false;
  }
  *out = data.ftLastWriteTime;
  return true;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    return false;
  }
  // Times before 1601 have no FILETIME; they become its first instant.
  int64_t ticks = (int64_t)st.st_mtim.tv_sec * 10000000 + st.st_mtim.tv_nsec / 100;
  int64_t value = ticks + (int64_t)kUnixEpochAsFileTime;
  *out = FileTimeFrom(value < 0 ? 0 : (uint64_t)value);
  return true;
#endif
}

bool SetModificationTime(const fs::path& path, const FILETIME& t, std::string* error) {
#ifdef _WIN32
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = PathToUtf8(path) + ": cannot set its time";
    return false;
  }
  BOOL ok = SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
  if (!ok) *error = PathToUtf8(path) + ": cannot set its time";
  return ok != 0;
#else
  int64_t ticks = (int64_t)FileTimeValue(t) - (int64_t)kUnixEpochAsFileTime;
  // Floor division, so that times before 1970 keep a fraction in 0..1 s.
  int64_t sec = ticks / 10000000;
  int64_t rem = ticks % 10000000;
  if (rem < 0) {
    rem += 10000000;
    sec -= 1;
  }
  struct timespec times[2];
  times[0].tv_sec = (time_t)sec;
  times[0].tv_nsec = (long)(rem * 100);
  times[1] = times[0];
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    *error = PathToUtf8(path) + ": cannot set its time: " + SystemError(errno);
    return false;
  }
  return true;
#endif
}

// ---- Progress ------------------------------------------------------------------

Progress::Progress(const std::string& label, uint64_t total) : label_(label), total_(total) {
  active_ = !Quiet && StderrIsTerminal();
  start_ = lastDraw_ = Now();
}

Progress::~Progress() { Finish(); }

void Progress::Begin(const std::string& item) {
  item_ = item;
  Draw(!drawn_);
}

void Progress::Advance(uint64_t bytes) {
  done_ += bytes;
  Draw(false);
}

void Progress::Draw(bool force) {
  if (!active_) return;
  double now = Now();
  if (!force && now - lastDraw_ < 0.2) return;
  lastDraw_ = now;
  double elapsed = now - start_;
  double rate = elapsed > 0 ? (double)done_ / elapsed : 0;
  std::string line = label_ + ": " + HumanBytes((double)done_) + " / " + HumanBytes((double)total_) + "  " +
                     HumanBytes(rate) + "/s";
  if (!item_.empty()) line += "  " + item_;
  // Redrawn in place: pad over what a longer previous line left.
  size_t length = line.size();
  if (length < lastLength_) line.append(lastLength_ - length, ' ');
  lastLength_ = length;
  Print(stderr, "\r" + line);
  fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (!active_) return;
  if (drawn_) {
    item_.clear();
    Draw(true);
    fprintf(stderr, "\n");
  }
  active_ = false;
}

// ---- Names ---------------------------------------------------------------------

static char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

static bool GlobFrom(const char* p, const char* n) {
  for (; *p; p++) {
    if (*p == '*') {
      while (p[1] == '*') p++;
      for (const char* rest = n;; rest++) {
        if (GlobFrom(p + 1, rest)) return true;
        if (!*rest) return false;
      }
    }
    if (!*n) return false;
    if (*p == '?') {
      n++;
      continue;
    }
    if (*p == '[') {
      const char* q = p + 1;
      bool negate = *q == '!' || *q == '^';
      if (negate) q++;
      bool matched = false;
      const char* start = q;
      while (*q && (*q != ']' || q == start)) {
        if (q[1] == '-' && q[2] && q[2] != ']') {
          if (FoldAscii(*n) >= FoldAscii(q[0]) && FoldAscii(*n) <= FoldAscii(q[2])) matched = true;
          q += 3;
        } else {
          if (FoldAscii(*q) == FoldAscii(*n)) matched = true;
          q++;
        }
      }
      if (!*q) {  // no closing bracket: the '[' is an ordinary character
        if (*n != '[') return false;
        n++;
        continue;
      }
      if (matched == negate) return false;
      p = q;
      n++;
      continue;
    }
    if (FoldAscii(*p) != FoldAscii(*n)) return false;
    n++;
  }
  return *n == 0;
}

bool GlobMatch(const std::string& pattern, const std::string& name) { return GlobFrom(pattern.c_str(), name.c_str()); }

bool SafeFileName(const std::string& utf8, std::string* why) {
  if (utf8.empty() || utf8 == "." || utf8 == "..") {
    *why = "is not a file name";
    return false;
  }
  for (unsigned char c : utf8) {
    if (c < 0x20 || strchr("/\\:*?\"<>|", c) != nullptr) {
      *why = "contains a character no file name may hold";
      return false;
    }
  }
  // Windows drops a trailing dot or blank, and opens a device instead of a
  // file for the reserved names (with any extension): the updater could not
  // write such an entry, and extracting one there would not make a file.
  if (utf8.back() == '.' || utf8.back() == ' ') {
    *why = "ends in a dot or a blank";
    return false;
  }
  std::string stem;
  for (char c : utf8.substr(0, utf8.find('.'))) stem += FoldAscii(c);
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  bool device = false;
  for (const char* d : kDevices) device = device || stem == d;
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
      stem[3] <= '9')
    device = true;
  if (device) {
    *why = "is a device name on Windows";
    return false;
  }
  return true;
}

}  // namespace wz2
