// File times between the archive's FILETIME and the host's files. Times are
// converted by arithmetic, not by the C library's calendar, so that every
// 64-bit file time has its date on every host.
#include "tools/wz2/file_time.h"

#include <errno.h>
#include <stdio.h>

#include "tools/wz2/files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace wz2 {

namespace {
// 100-ns intervals from 1601-01-01 to 1970-01-01.
const uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
}  // namespace

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

}  // namespace wz2
