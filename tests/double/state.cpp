// Process-wide odds and ends: the last-error code, the process id, the tick
// counter, the system time and Sleep, and Reset() which returns every piece
// of the double to its defaults.
#include <time.h>
#include <unistd.h>

#include "double/internal.h"

namespace {
// One thread only, as in the updater, so one plain variable suffices.
DWORD g_lastError = 0;
// A test that sets the system time gets that time and what Sleep adds to
// it; no test waits on the host's clock.
bool g_clockSet = false;
uint64_t g_clock = 0;
std::vector<DWORD> g_sleeps;
const uint64_t kTicksPerMillisecond = 10000;
}  // namespace

namespace scripted {

namespace detail {
void SetError(DWORD code) { g_lastError = code; }

std::string FoldCase(const std::string& s) {
  std::string out = s;
  // 0x83 0x41 and 0x83 0x61 are two different katakana: a trail byte that
  // looks like a capital stays as it is.
  bool trail = false;
  for (char& c : out) {
    unsigned char b = static_cast<unsigned char>(c);
    if (!trail && b >= 'A' && b <= 'Z') c = static_cast<char>(b + 32);
    trail = !trail && IsDBCSLeadByte(b);
  }
  return out;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return a.size() == b.size() && FoldCase(a) == FoldCase(b); }
}  // namespace detail

void SetSystemTime(uint64_t time) {
  g_clockSet = true;
  g_clock = time;
}

const std::vector<DWORD>& Sleeps() { return g_sleeps; }

void Reset() {
  g_lastError = 0;
  g_clockSet = false;
  g_clock = 0;
  g_sleeps.clear();
  // Files first: closing handles needs the path state to be still intact.
  detail::ResetFiles();
  detail::ResetPaths();
  detail::ResetModules();
  detail::ResetBoxes();
  detail::ResetRegistry();
  detail::ResetWindows();
  detail::ResetShell();
}

}  // namespace scripted

DWORD GetLastError(void) { return g_lastError; }

void SetLastError(DWORD code) { g_lastError = code; }

DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

// Milliseconds since an arbitrary start, wrapping at 2^32 like the real one.
DWORD GetTickCount(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
}

void GetSystemTimeAsFileTime(LPFILETIME now) {
  uint64_t time = g_clockSet ? g_clock : scripted::detail::NowAsFileTime();
  now->dwLowDateTime = static_cast<DWORD>(time);
  now->dwHighDateTime = static_cast<DWORD>(time >> 32);
}

void Sleep(DWORD milliseconds) {
  g_sleeps.push_back(milliseconds);
  if (g_clockSet) g_clock += milliseconds * kTicksPerMillisecond;
}
