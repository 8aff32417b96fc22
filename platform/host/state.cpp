// Process-wide odds and ends: the last-error code, the process id, the tick
// counter, and Reset() which returns every piece of the layer to its defaults.
#include <time.h>
#include <unistd.h>

#include "platform/host/internal.h"

namespace {
// One thread only, as in the updater, so one plain variable suffices.
DWORD g_lastError = 0;
}  // namespace

namespace host {

namespace detail {
void SetError(DWORD code) { g_lastError = code; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  // Only ASCII letters fold, and never the second byte of a double-byte
  // character: 0x83 0x41 and 0x83 0x61 are two different katakana.
  bool trail = false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (!trail) {
      if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
      if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    }
    if (x != y) return false;
    trail = !trail && IsDBCSLeadByte(x);
  }
  return true;
}
}  // namespace detail

void Reset() {
  g_lastError = 0;
  // Files first: closing handles needs the path state to be still intact.
  detail::ResetFiles();
  detail::ResetPaths();
  detail::ResetModules();
  detail::ResetBoxes();
  detail::ResetRegistry();
  detail::ResetWindows();
  detail::ResetShell();
}

}  // namespace host

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
