// Profile readers with the updater's missing-key reporting, and the field
// lists inside profile values.
#include "config/profile.h"

#include "config/manifest.h"
#include "config/setup.h"
#include "fs/error_box.h"
#include "fs/files.h"

int MissingKeysSilent;
int FieldDiskNumber;
char SetupIniPath[PATH_BUFFER];

static_assert(FIELD_SLOT == MAX_PATH, "a field slot holds one path");
static_assert(SETUP_INT_BUFFER == 20, "numbers and HasSetupValue read at most 19 characters");

int ShowProfileError(LPCSTR text) { return ShowErrorBox(text, PROFILE_ERROR_CAPTION); }

int IsFieldEnd(BYTE c) { return c == 0 || c == '\n' || c == '\r' || c == ','; }

static int DigitValue(BYTE c) { return (c >= '0' && c <= '9') ? c - '0' : 0; }

FieldResult NextField(LPSTR dest, size_t destSize, LPCSTR* cursor) {
  const BYTE* p = (const BYTE*)*cursor;
  while (*p == ' ') p++;
  if (IsFieldEnd(*p)) {
    *cursor = (LPCSTR)p;
    return FIELD_NONE;
  }
  int disk = -1;  // -1: no prefix, FieldDiskNumber stays
  if (p[1] == ':') {
    disk = DigitValue(p[0]);
    p += 2;
  }
  size_t length = 0;
  while (!IsFieldEnd(p[length])) length++;
  // A field that does not fit its slot is refused rather than cut: a cut
  // path would name another file. Nothing changes, so the caller can report
  // the list as broken.
  if (length >= destSize) {
    if (destSize > 0) dest[0] = 0;
    return FIELD_TOO_LONG;
  }
  for (size_t i = 0; i < length; i++) dest[i] = (char)p[i];
  dest[length] = 0;
  if (disk >= 0) FieldDiskNumber = disk;
  // Stop on the text's own NUL so that every later call returns FIELD_NONE
  // without reading past the text.
  *cursor = (LPCSTR)(p[length] == 0 ? p + length : p + length + 1);
  return FIELD_TAKEN;
}

int ReadProfileValue(LPCSTR section, LPCSTR key, LPSTR dest, DWORD size, LPCSTR path) {
  ZeroBytes(dest, size);
  if (size > 0 && GetPrivateProfileStringA(section, key, "", dest, size, path) != 0) return 1;
  if (!MissingKeysSilent) {
    char message[VALUE_BUFFER];
    wsprintfA(message, "%s : %s キーが存在しません", section, key);
    ShowProfileError(message);
  }
  return 0;
}

int ReadSetupValue(LPCSTR key, LPSTR dest, DWORD size) {
  ZeroBytes(dest, size);
  if (size > 0 && GetPrivateProfileStringA(SETUP_SECTION, key, "", dest, size, SetupIniPath) != 0) return 1;
  if (!MissingKeysSilent) {
    char message[VALUE_BUFFER];
    wsprintfA(message, "SETUP.INI : %s キーが存在しません", key);
    ShowProfileError(message);
  }
  return 0;
}

int ReadSetupInt(LPCSTR key, int* out) {
  char text[SETUP_INT_BUFFER];
  if (!ReadSetupValue(key, text, sizeof(text))) return 0;
  *out = ParseDecimalInt(text);
  return 1;
}

int HasSetupValue(LPCSTR key, LPSTR dest20) { return ReadSetupValue(key, dest20, SETUP_INT_BUFFER) ? 1 : 0; }

static int IsBlank(BYTE c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Skips leading white space and reads the sign; returns the first digit.
static const BYTE* NumberStart(LPCSTR text, int* negative) {
  const BYTE* p = (const BYTE*)text;
  while (IsBlank(*p)) p++;
  *negative = 0;
  if (*p == '+' || *p == '-') {
    *negative = (*p == '-');
    p++;
  }
  return p;
}

int ParseDecimalInt(LPCSTR text) {
  int negative;
  const BYTE* p = NumberStart(text, &negative);
  // The magnitude saturates one past INT32_MAX so that both clamps are exact
  // and the accumulator can never overflow, however many digits follow.
  const int64_t limit = (int64_t)2147483647 + 1;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) magnitude = limit;
  }
  if (negative) return (int)(-magnitude);  // -limit is INT32_MIN exactly
  return magnitude >= limit ? 2147483647 : (int)magnitude;
}

int IsDecimalNumber(LPCSTR text) {
  int negative;
  const BYTE* p = NumberStart(text, &negative);
  return *p >= '0' && *p <= '9';
}

uint64_t ParseDecimalU64(LPCSTR text) {
  int negative;
  const BYTE* p = NumberStart(text, &negative);
  const uint64_t max = ~(uint64_t)0;
  uint64_t value = 0;
  int overflow = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    unsigned digit = *p - '0';
    if (value > (max - digit) / 10) overflow = 1;
    if (!overflow) value = value * 10 + digit;
  }
  if (overflow) return max;
  return negative ? (uint64_t)0 - value : value;
}

void ResetConfigState(void) {
  MissingKeysSilent = 0;
  FieldDiskNumber = 0;
  ZeroBytes(SetupIniPath, sizeof(SetupIniPath));
  ZeroBytes(CompanyName, sizeof(CompanyName));
  ZeroBytes(GameTitle, sizeof(GameTitle));
  ZeroBytes(GameClass, sizeof(GameClass));
  ZeroBytes(GameDir, sizeof(GameDir));
  ZeroBytes(GameTitleA, sizeof(GameTitleA));
  ZeroBytes(UpdaterVersion, sizeof(UpdaterVersion));
  ZeroBytes(UpdaterTitle, sizeof(UpdaterTitle));
  ZeroBytes(DataFolder, sizeof(DataFolder));
  ZeroBytes(UpdateMessage, sizeof(UpdateMessage));
  ZeroBytes(&Setup, sizeof(Setup));
}
