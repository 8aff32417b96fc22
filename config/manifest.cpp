// The update manifest: section "SETUP" as start-up reads it, and the grammar
// of one update entry and one copy entry of section "UPDATE".
#include "config/manifest.h"

#include "config/profile.h"

char CompanyName[FIELD_SLOT];
char GameTitle[FIELD_SLOT];
char GameClass[FIELD_SLOT];
char GameDir[FIELD_SLOT];
char GameTitleA[FIELD_SLOT];
char UpdaterVersion[FIELD_SLOT];
char UpdaterTitle[FIELD_SLOT];
char DataFolder[FIELD_SLOT];
char UpdateMessage[1024];

static_assert(sizeof(((UpdateItem*)0)->relativePath) == FIELD_SLOT, "an update path is one field slot");
static_assert(sizeof(((CopyItem*)0)->relativePath) == COPY_VALUE_CAPACITY, "a copy path fits the copy value's capacity");
static_assert(sizeof(UpdateMessage) == UPDATE_VALUE_CAPACITY, "UpdateMessage is a long value");

const ManifestKey ManifestSetupKeys[MANIFEST_SETUP_KEYS] = {
    {"CompanyName", sizeof(CompanyName)},     {"GameTitle", sizeof(GameTitle)},
    {"GameClass", sizeof(GameClass)},         {"GameDir", sizeof(GameDir)},
    {"GameTitleA", sizeof(GameTitleA)},       {"UpdaterVersion", sizeof(UpdaterVersion)},
    {"UpdaterTitle", sizeof(UpdaterTitle)},   {"DataFolder", sizeof(DataFolder)},
    {"UpdateMessage", sizeof(UpdateMessage)},
};
// Where each key of ManifestSetupKeys goes, in the same order.
static char* const kSetupValues[MANIFEST_SETUP_KEYS] = {
    CompanyName, GameTitle, GameClass, GameDir, GameTitleA, UpdaterVersion, UpdaterTitle, DataFolder, UpdateMessage,
};

int LoadManifestSetup(LPCSTR path) {
  for (int i = 0; i < MANIFEST_SETUP_KEYS; i++) {
    // From the first optional key on a missing key is no error; the loader
    // of SETUP.INI turns reporting on again for its own required keys.
    if (i == MANIFEST_REQUIRED_KEYS) MissingKeysSilent = 1;
    int read = ReadProfileValue(MANIFEST_SECTION_SETUP, ManifestSetupKeys[i].name, kSetupValues[i],
                                ManifestSetupKeys[i].capacity, path);
    // Only the first missing required key is reported: the reader shows it
    // and start-up ends at once.
    if (!read && i < MANIFEST_REQUIRED_KEYS) return 0;
  }
  return 1;
}

void ManifestListKey(ManifestList list, int n, LPSTR key) {
  wsprintfA(key, list == MANIFEST_UPDATE_FILES ? "UpdateFile%02i" : "CopyFile%02i", n);
}

DWORD ManifestListCapacity(ManifestList list) {
  return list == MANIFEST_UPDATE_FILES ? UPDATE_VALUE_CAPACITY : COPY_VALUE_CAPACITY;
}

int WalkManifestList(ManifestList list, ManifestReader read, ManifestEntryTaker take, void* context) {
  char value[UPDATE_VALUE_CAPACITY];
  static_assert(sizeof(value) >= COPY_VALUE_CAPACITY, "one buffer holds a value of either list");
  int n = 0;
  while (n < MANIFEST_LIST_MAX) {
    char key[MANIFEST_KEY_BUFFER];
    ManifestListKey(list, n, key);
    if (!read(context, key, value, ManifestListCapacity(list))) break;
    n++;
    if (!take(context, n - 1, value)) break;
  }
  return n;
}

// Index of the first byte after the last '\' that is a character of its own;
// the second byte of a double-byte character (0x5C in many kanji) does not
// separate.
static int NameOffset(LPCSTR path) {
  int offset = 0;
  for (int i = 0; path[i] != 0; i++) {
    if (IsDBCSLeadByte((BYTE)path[i])) {
      // A lead byte right before the terminator pairs with nothing; never
      // step over the NUL.
      if (path[i + 1] == 0) break;
      i++;
    } else if (path[i] == '\\') {
      offset = i + 1;
    }
  }
  return offset;
}

#define UPDATE_FIELDS 3

EntryParse ParseUpdateEntry(LPCSTR value, int instMode, UpdateItem* item) {
  char slot[UPDATE_FIELDS][FIELD_SLOT];
  LPCSTR cursor = value;
  for (int k = 0; k < UPDATE_FIELDS; k++) slot[k][0] = 0;
  int tooLong = 0;
  for (int k = 0; k < UPDATE_FIELDS && !tooLong; k++) {
    FieldResult taken = NextField(slot[k], sizeof(slot[k]), &cursor);
    if (taken == FIELD_TOO_LONG) tooLong = 1;
    if (taken == FIELD_NONE) break;
  }
  // The install-mode filter comes first: an entry for another mode is
  // dropped without a word, whatever its other fields hold. (A first field
  // that was too long is no single digit, so it never filters.)
  int letter = 0;
  int applies = 1;
  if (slot[0][0] >= '0' && slot[0][0] <= '9' && slot[0][1] == 0) {
    applies = (slot[0][0] - '0') == instMode;
    letter = 1;
  }
  item->installMode = letter ? slot[0][0] - '0' : NO_INSTALL_MODE;
  if (!applies) return ENTRY_SKIPPED;
  // A field longer than a slot would be a path cut to a different file: the
  // whole entry is refused instead.
  if (tooLong) return ENTRY_INVALID;
  int code = OP_ALWAYS;
  int path = letter;
  if (lstrcmpiA(slot[letter], "d") == 0) {
    code = OP_DATA_IF_MISSING;
  } else if (lstrcmpiA(slot[letter], "u") == 0) {
    code = OP_NEWER_ONLY;
  } else if (lstrcmpiA(slot[letter], "o") == 0) {
    code = OP_OVERWRITE_ONLY;
  }
  if (code != OP_ALWAYS) path = letter + 1;
  item->operationCode = code;
  lstrcpyA(item->relativePath, slot[path]);
  item->nameOffset = NameOffset(item->relativePath);
  return ENTRY_APPLIES;
}

EntryParse ParseCopyEntry(LPCSTR value, int instMode, CopyItem* item) {
  const BYTE* v = (const BYTE*)value;
  int p = 0;
  // The mode byte is compared as it is, digit or not: a byte that is no
  // digit simply never equals an install mode.
  item->installMode = NO_INSTALL_MODE;
  if (v[0] != 0 && v[1] == ',') {
    item->installMode = (int)v[0] - '0';
    if (item->installMode != instMode) return ENTRY_SKIPPED;
    p = 2;
  }
  int disk = 0;
  if (v[p] != 0 && v[p + 1] == ':') {
    // The disk number picks one of the ten DiskCheckFile slots; any other
    // byte would index outside them.
    if (v[p] < '0' || v[p] > '9') return ENTRY_INVALID;
    disk = v[p] - '0';
    p += 2;
  }
  if (lstrlenA(value + p) >= (int)sizeof(item->relativePath)) return ENTRY_INVALID;
  item->diskNumber = disk;
  lstrcpyA(item->relativePath, value + p);
  return ENTRY_APPLIES;
}
