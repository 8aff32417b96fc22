// The shell's copy (FO_COPY only) with scripted outcomes, and COM start-up.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <deque>

#include "double/internal.h"

namespace {

std::vector<scripted::ShellCopyRecord> g_copies;
std::deque<scripted::ShellOutcome> g_outcomes;
std::function<void(const scripted::ShellCopyRecord&)> g_handler;
int g_cancelResult = 0;
int g_failResult = 0x402;
int g_comCalls = 0;

// What the shell gives back for a copy it could not do: its own codes, not
// Win32 errors; the updater only tells zero from nonzero.
const int kSourceMissing = 0x402;
const int kCopyFailed = 0x75;  // the destination could not be written

std::vector<std::string> SplitList(LPCSTR list) {
  std::vector<std::string> names;
  if (list == nullptr) return names;
  for (const char* p = list; *p; p += std::strlen(p) + 1) names.push_back(p);
  return names;
}

bool CopyBytes(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    close(in);
    return false;
  }
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  close(in);
  close(out);
  return ok;
}

// One file: replaces an existing target (read-only included: the copy asks
// no questions), keeps the source's write time and attributes.
bool CopyFile(const std::string& from, const std::string& to) {
  struct stat src;
  if (stat(from.c_str(), &src) != 0) return false;
  struct stat dst;
  if (stat(to.c_str(), &dst) == 0) {
    if (S_ISDIR(dst.st_mode)) return false;
    scripted::detail::StoreAttributes(to, dst, FILE_ATTRIBUTE_NORMAL);
  }
  if (!CopyBytes(from, to)) return false;
  struct timespec times[2] = {src.st_atim, src.st_mtim};
  utimensat(AT_FDCWD, to.c_str(), times, 0);
  if (stat(to.c_str(), &dst) != 0) return false;
  scripted::detail::StoreCreationTime(dst, scripted::detail::NowAsFileTime());
  scripted::detail::StoreAttributes(to, dst, scripted::detail::AttributesOf(src) & ~FILE_ATTRIBUTE_NORMAL);
  return true;
}

bool MakeDirectories(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (!MakeDirectories(scripted::detail::ParentOf(path))) return false;
  return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool CopyTree(const std::string& from, const std::string& to) {
  struct stat st;
  if (stat(from.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return CopyFile(from, to);
  if (!MakeDirectories(to)) return false;
  DIR* d = opendir(from.c_str());
  if (d == nullptr) return false;
  bool ok = true;
  while (struct dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (!CopyTree(from + "/" + e->d_name, to + "/" + e->d_name)) ok = false;
  }
  closedir(d);
  return ok;
}

std::string BaseName(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// Copies one source name as the shell does: into an existing destination
// directory under its own name, otherwise as the destination itself (a file
// to its full new name, a directory to a new directory of that name), with
// missing directories made on the way. "*" and "?" in the last part select
// several entries, which always go into the destination directory.
int CopyOne(const std::string& source, const std::string& target) {
  std::string from, to;
  size_t cut = source.find_last_of("\\/");
  std::string last = cut == std::string::npos ? source : source.substr(cut + 1);
  if (!scripted::detail::ResolveHostPath(target.c_str(), &to)) return kCopyFailed;
  if (HasWildcard(last)) {
    std::string folder = cut == std::string::npos ? std::string(".") : source.substr(0, cut + 1);
    std::string hostFolder;
    if (!scripted::detail::ResolveHostPath(folder.c_str(), &hostFolder)) return kSourceMissing;
    DIR* d = opendir(hostFolder.c_str());
    if (d == nullptr) return kSourceMissing;
    if (!MakeDirectories(to)) {
      closedir(d);
      return kCopyFailed;
    }
    bool ok = true;
    while (struct dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      if (fnmatch(last.c_str(), e->d_name, FNM_CASEFOLD) != 0) continue;
      if (!CopyTree(hostFolder + "/" + e->d_name, to + "/" + e->d_name)) ok = false;
    }
    closedir(d);
    return ok ? 0 : kCopyFailed;
  }
  if (!scripted::detail::ResolveHostPath(source.c_str(), &from)) return kSourceMissing;
  struct stat st;
  if (stat(from.c_str(), &st) != 0) return kSourceMissing;
  struct stat dst;
  if (stat(to.c_str(), &dst) == 0 && S_ISDIR(dst.st_mode)) to += "/" + BaseName(from);
  if (!MakeDirectories(scripted::detail::ParentOf(to))) return kCopyFailed;
  return CopyTree(from, to) ? 0 : kCopyFailed;
}

}  // namespace

namespace scripted {

namespace detail {
void ResetShell() {
  g_copies.clear();
  g_outcomes.clear();
  g_handler = nullptr;
  g_cancelResult = 0;
  g_failResult = 0x402;
  g_comCalls = 0;
}
}  // namespace detail

const std::vector<ShellCopyRecord>& ShellCopies() { return g_copies; }

void ScriptShellOutcomes(const std::vector<ShellOutcome>& outcomes) {
  g_outcomes.assign(outcomes.begin(), outcomes.end());
}

void SetShellResults(int failResult, int cancelResult) {
  g_failResult = failResult;
  g_cancelResult = cancelResult;
}

void SetShellCopyHandler(std::function<void(const ShellCopyRecord&)> handler) { g_handler = std::move(handler); }

int ComInitializations() { return g_comCalls; }

}  // namespace scripted

int SHFileOperationA(LPSHFILEOPSTRUCTA op) {
  if (op == nullptr) return ERROR_INVALID_PARAMETER;
  scripted::ShellCopyRecord record{op->hwnd, op->wFunc, SplitList(op->pFrom), SplitList(op->pTo), op->fFlags};
  g_copies.push_back(record);
  op->fAnyOperationsAborted = FALSE;
  // The progress window runs a message loop: the test may act meanwhile.
  if (g_handler) g_handler(record);
  scripted::ShellOutcome outcome = scripted::ShellOutcome::Copy;
  if (!g_outcomes.empty()) {
    outcome = g_outcomes.front();
    g_outcomes.pop_front();
  }
  if (outcome == scripted::ShellOutcome::Fail) return g_failResult;
  if (outcome == scripted::ShellOutcome::Cancel) {
    op->fAnyOperationsAborted = TRUE;
    return g_cancelResult;
  }
  if (op->wFunc != FO_COPY || record.from.empty() || record.to.empty()) return ERROR_INVALID_PARAMETER;
  for (const std::string& source : record.from) {
    int result = CopyOne(source, record.to[0]);
    if (result != 0) return result;
  }
  return 0;
}

HRESULT CoInitialize(LPVOID) {
  // The first call on a thread initialises COM; later ones only count.
  return g_comCalls++ == 0 ? S_OK : S_FALSE;
}
