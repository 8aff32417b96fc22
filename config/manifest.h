// The update manifest UPDATE.INI: its keys, capacities, and the grammar of
// one update entry and one copy entry. The update run and `wz2 check` both
// parse entries through these functions.
#pragma once

#include "platform/win.h"

// Game identity: one process-wide copy, filled first from the manifest and
// then overwritten by the installed SETUP.INI.
extern char CompanyName[260];
extern char GameTitle[260];
extern char GameClass[260];
extern char GameDir[260];
// Manifest-only optional values of section "SETUP".
extern char GameTitleA[260];
extern char UpdaterVersion[260];
extern char UpdaterTitle[260];
extern char DataFolder[260];
extern char UpdateMessage[1024];

#define MANIFEST_SECTION_SETUP "SETUP"
#define MANIFEST_SECTION_UPDATE "UPDATE"
#define MANIFEST_LIST_MAX 16
#define UPDATE_VALUE_CAPACITY 1024
#define COPY_VALUE_CAPACITY 260

enum OperationCode { OP_ALWAYS = 0, OP_NEWER_ONLY = 1, OP_DATA_IF_MISSING = 2, OP_OVERWRITE_ONLY = 3 };

struct UpdateItem {
  int operationCode;
  char relativePath[260];
  int nameOffset;
};
struct CopyItem {
  int diskNumber;
  char relativePath[260];
};

enum EntryParse {
  ENTRY_APPLIES = 0,  // *item is filled
  ENTRY_SKIPPED = 1,  // the entry is for another InstMode
  ENTRY_INVALID = 2,  // a field too long for its slot, or a disk byte that is
                      // not '0'..'9': refused, never cut or indexed out of range
};

// One "UpdateFile%02i" value (already cut to 1,023 bytes by the reader).
// All three fields are taken before the install mode is looked at, so a
// field too long for its slot refuses the entry whatever its mode. *item is
// written only for ENTRY_APPLIES.
EntryParse ParseUpdateEntry(LPCSTR value, int instMode, UpdateItem* item);
// One "CopyFile%02i" value (already cut to 259 bytes by the reader). The
// install mode is looked at first: an entry for another mode is skipped
// before its disk byte is examined. *item is written only for ENTRY_APPLIES.
EntryParse ParseCopyEntry(LPCSTR value, int instMode, CopyItem* item);

// Reads section "SETUP" of the manifest at path as start-up does: the four
// required keys with reporting, then the optional keys silently. 0 when a required key is missing.
int LoadManifestSetup(LPCSTR path);
