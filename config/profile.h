// Profile (INI) access with the updater's missing-key reporting, and the
// comma-separated field lists inside values.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "fs/files.h"
#include "platform/win.h"

#define FIELD_SLOT 260     // one field: at most 259 bytes and the NUL
#define VALUE_BUFFER 1024  // long values and messages
#define SETUP_INT_BUFFER 20  // numbers are read as at most 19 characters

#define PROFILE_ERROR_CAPTION "TORVANEK"
#define SETUP_SECTION "SETUP"

extern int MissingKeysSilent;
extern int FieldDiskNumber;
extern char SetupIniPath[PATH_BUFFER];

// The front end's error box (fs/error_box.h) with the caption "TORVANEK".
int ShowProfileError(LPCSTR text);
int IsFieldEnd(BYTE c);

enum FieldResult {
  FIELD_NONE = 0,      // the list has no further field; nothing written
  FIELD_TAKEN = 1,     // a field is in the destination
  FIELD_TOO_LONG = 2,  // the field does not fit destSize: refused without any
                       // effect (destination empty, cursor and FieldDiskNumber
                       // as before the call)
};
// Takes the next field of a FieldList into dest (destSize bytes).
FieldResult NextField(LPSTR dest, size_t destSize, LPCSTR* cursor);

int ReadProfileValue(LPCSTR section, LPCSTR key, LPSTR dest, DWORD size, LPCSTR path);
int ReadSetupValue(LPCSTR key, LPSTR dest, DWORD size);
int ReadSetupInt(LPCSTR key, int* out);
int HasSetupValue(LPCSTR key, LPSTR dest20);

// Signed decimal as every numeric value is read: leading white space, optional
// sign, digits to the first non-digit, clamped to the 32-bit range.
int ParseDecimalInt(LPCSTR text);
// 1 when text holds a number by those rules (a digit after the blanks and
// the sign); ParseDecimalInt reads anything else as 0.
int IsDecimalNumber(LPCSTR text);
// Unsigned 64-bit decimal; a leading '-' negates modulo 2^64. A magnitude
// beyond 64 bits gives UINT64_MAX (whatever the sign).
uint64_t ParseDecimalU64(LPCSTR text);

// Zeroes every process-wide value of the configuration (profile switches,
// identity, manifest, setup profile), as at process start.
void ResetConfigState(void);
