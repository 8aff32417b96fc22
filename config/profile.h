// Profile (INI) access with the updater's missing-key reporting, and the
// comma-separated field lists inside values.
#pragma once

#include "platform/win.h"

#define FIELD_SLOT 260     // one field: at most 259 bytes and the NUL
#define VALUE_BUFFER 1024  // long values and messages

extern int MissingKeysSilent;
extern int FieldDiskNumber;
extern char SetupIniPath[260];

// Modal error box owned by OwnerWindow, caption "TORVANEK".
int ShowProfileError(LPCSTR text);
int IsFieldEnd(BYTE c);

enum FieldResult {
  FIELD_NONE = 0,      // the list has no further field; nothing written
  FIELD_TAKEN = 1,     // a field is in the destination
  FIELD_TOO_LONG = 2,  // the field does not fit destSize: refused, destination
                       // empty, cursor left on the field
};
// Takes the next field of a FieldList into dest (destSize bytes).
FieldResult NextField(LPSTR dest, size_t destSize, LPCSTR* cursor);

int ReadProfileValue(LPCSTR section, LPCSTR key, LPSTR dest, DWORD size, LPCSTR path);
int ReadSetupValue(LPCSTR key, LPSTR dest, DWORD size);
int ReadSetupInt(LPCSTR key, int* out);
int HasSetupValue(LPCSTR key, LPSTR dest20);

// Signed decimal as the Parts convert numbers: leading white space, optional
// sign, digits to the first non-digit, clamped to the 32-bit range.
int ParseDecimalInt(LPCSTR text);
// Unsigned 64-bit decimal; a leading '-' negates modulo 2^64.
uint64_t ParseDecimalU64(LPCSTR text);
