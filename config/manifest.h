// The update manifest UPDATE.INI: its keys, capacities, which keys are
// required, how a numbered list is walked, and the grammar of one update
// entry and one copy entry. The updater and `wz2 check` both read the
// manifest through these definitions.
#pragma once

#include "config/profile.h"
#include "fs/files.h"
#include "platform/win.h"

// Game identity: one process-wide copy, filled first from the manifest and
// then overwritten by the installed SETUP.INI.
extern char CompanyName[FIELD_SLOT];
extern char GameTitle[FIELD_SLOT];
extern char GameClass[FIELD_SLOT];
extern char GameDir[FIELD_SLOT];
// Manifest-only optional values of section "SETUP".
extern char GameTitleA[FIELD_SLOT];
extern char UpdaterVersion[FIELD_SLOT];
extern char UpdaterTitle[FIELD_SLOT];
extern char DataFolder[FIELD_SLOT];
extern char UpdateMessage[1024];

#define MANIFEST_SECTION_SETUP "SETUP"
#define MANIFEST_SECTION_UPDATE "UPDATE"
#define MANIFEST_LIST_MAX 16
#define UPDATE_VALUE_CAPACITY 1024
#define COPY_VALUE_CAPACITY FIELD_SLOT

// The keys of section "SETUP" in the order start-up reads them, each with the
// capacity of its value (NUL included). The first MANIFEST_REQUIRED_KEYS are
// required: start-up ends at the first of them that is missing or empty.
struct ManifestKey {
  LPCSTR name;
  DWORD capacity;
};
#define MANIFEST_SETUP_KEYS 9
#define MANIFEST_REQUIRED_KEYS 4
extern const ManifestKey ManifestSetupKeys[MANIFEST_SETUP_KEYS];

// The numbered lists of section "UPDATE".
enum ManifestList { MANIFEST_UPDATE_FILES = 0, MANIFEST_COPY_FILES = 1 };
#define MANIFEST_KEY_BUFFER 16
// The key of entry n of a list ("UpdateFile%02i", "CopyFile%02i") into key
// (MANIFEST_KEY_BUFFER bytes); n is 0 to 99.
void ManifestListKey(ManifestList list, int n, LPSTR key);
// The capacity of the list's values, NUL included.
DWORD ManifestListCapacity(ManifestList list);
// Reads the value of key of section "UPDATE" into dest (size bytes, cut to
// size - 1); 1 when the key has a value that is not empty, else 0.
typedef int (*ManifestReader)(void* context, LPCSTR key, LPSTR dest, DWORD size);
// Takes entry n with its value; 0 stops the walk.
typedef int (*ManifestEntryTaker)(void* context, int n, LPCSTR value);
// The walk of a list: entries are read from 00 upward and the list ends at
// the first key without a value; at most MANIFEST_LIST_MAX are read, and keys
// beyond either end never are. Each entry read is handed to take. Returns how
// many entries were read (the one at which take stopped included).
int WalkManifestList(ManifestList list, ManifestReader read, ManifestEntryTaker take, void* context);

enum OperationCode { OP_ALWAYS = 0, OP_NEWER_ONLY = 1, OP_DATA_IF_MISSING = 2, OP_OVERWRITE_ONLY = 3 };

// The install mode of an entry without one: it applies to every installation.
// No mode byte of a value can give this number.
#define NO_INSTALL_MODE (-1000)

struct UpdateItem {
  int operationCode;
  char relativePath[PATH_BUFFER];
  int nameOffset;
  int installMode;  // the entry's mode digit, or NO_INSTALL_MODE
};
struct CopyItem {
  int diskNumber;
  char relativePath[PATH_BUFFER];
  int installMode;  // the mode byte's value minus '0', or NO_INSTALL_MODE
};

enum EntryParse {
  ENTRY_APPLIES = 0,  // *item is filled
  ENTRY_SKIPPED = 1,  // the entry is for another InstMode
  ENTRY_INVALID = 2,  // a field too long for its slot, or a disk byte that is
                      // not '0'..'9': refused, never cut or indexed out of range
};

// One "UpdateFile%02i" value (already cut to 1,023 bytes by the reader).
// The install mode is looked at first: an entry for another mode is skipped
// without a word, even when a field is too long for its slot; an entry that
// applies with such a field is refused. *item is written for ENTRY_APPLIES;
// for ENTRY_SKIPPED only item->installMode is, so a caller learns which
// installations the entry is for.
EntryParse ParseUpdateEntry(LPCSTR value, int instMode, UpdateItem* item);
// One "CopyFile%02i" value (already cut to 259 bytes by the reader). The
// install mode is looked at first: an entry for another mode is skipped
// before its disk byte is examined. *item is written for ENTRY_APPLIES; for
// ENTRY_SKIPPED only item->installMode is.
EntryParse ParseCopyEntry(LPCSTR value, int instMode, CopyItem* item);

// Reads section "SETUP" of the manifest at path as start-up does: the four
// required keys with reporting, then the optional keys silently. 0 when a required key is missing.
int LoadManifestSetup(LPCSTR path);
