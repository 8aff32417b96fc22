// Writing one entry of the open archive to a file: lookup, free-space test,
// expansion, the target's checks, and the write with the entry's time.
#include "archive/extract.h"

#include <stdint.h>

#include "archive/archive.h"
#include "archive/block_format.h"
#include "archive/entry_name.h"
#include "archive/expand.h"
#include "fs/error_box.h"
#include "fs/files.h"

// Room for the formatted disk-space message: the text, a two-byte drive
// root and up to 20 digits.
#define DISK_MESSAGE_BUFFER 260
// Decimal digits of the largest 64-bit count, and its NUL.
#define DECIMAL_BUFFER 21
// The shortfall goes in as text made by FormatDecimal; for any count that a
// plain %i shows correctly the message bytes are the same.
#define DISK_SPACE_MESSAGE "ディスク容量が足りません。%s ドライブに %s バイトの空き容量が必要です"
static_assert(sizeof(DISK_SPACE_MESSAGE) + 2 + DECIMAL_BUFFER <= DISK_MESSAGE_BUFFER,
              "the message with a drive root and any count fits its buffer");

static_assert(ARCHIVE_NAME_FIELD + 1 <= 16, "a record's name and a forced NUL fit a 16-byte copy");

// Writes value in decimal. wsprintfA knows no 64-bit conversion and its %i
// would show a shortfall past 2 GiB as a negative number.
static void FormatDecimal(uint64_t value, char out[DECIMAL_BUFFER]) {
  char reversed[DECIMAL_BUFFER];
  int count = 0;
  do {
    reversed[count++] = (char)('0' + (int)(value % 10));
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < count; i++) out[i] = reversed[count - 1 - i];
  out[count] = '\0';
}

// The first record whose name is the same entry name as name, and where its
// data begins. NULL when there is none.
static const ArchiveEntry* FindEntry(LPCSTR name, uint64_t* dataOffset) {
  if (ArchiveDirectory == NULL) return NULL;
  DWORD count = DirectoryHeader(ArchiveDirectory)->entryCount;
  const ArchiveEntry* entries = DirectoryEntries(ArchiveDirectory);
  uint64_t offset = ARCHIVE_HEADER_SIZE;
  for (DWORD i = 0; i < count; i++) {
    // A name that fills its field without a NUL must not run on into the
    // record's other fields.
    char stored[16];
    for (int j = 0; j < ARCHIVE_NAME_FIELD; j++) stored[j] = entries[i].name[j];
    stored[ARCHIVE_NAME_FIELD] = '\0';
    if (SameEntryName(stored, name)) {
      *dataOffset = offset;
      return &entries[i];
    }
    offset += PaddedSize(entries[i].storedSize);
  }
  return NULL;
}

// 1 when the target's drive can take size bytes, else 0 after the
// disk-space message. A drive whose free space can't be asked passes: the
// write itself goes through a temporary file and fails cleanly when the disk
// is full.
static int CheckFreeSpace(LPCSTR target, DWORD size) {
  char root[PATH_BUFFER];
  lstrcpyA(root, target);
  if (lstrlenA(root) > 2) root[2] = '\0';
  uint64_t available = 0, total = 0;
  if (!QueryDiskFreeSpace(root, &available, &total, NULL)) return 1;
  if ((uint64_t)size <= available) return 1;
  char shortfall[DECIMAL_BUFFER];
  FormatDecimal((uint64_t)size - available, shortfall);
  char message[DISK_MESSAGE_BUFFER];
  wsprintfA(message, DISK_SPACE_MESSAGE, root, shortfall);
  ShowErrorBox(message, NULL);
  return 0;
}

// 1 when the existing target's last write is strictly later than
// time. A target that can't be opened or asked counts as older.
static int TargetIsNewer(LPCSTR target, const FILETIME* time) {
  HANDLE file = CreateFileA(target, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FILETIME written;
  int known = GetFileTime(file, NULL, NULL, &written) ? 1 : 0;
  CloseHandle(file);
  if (!known) return 0;
  uint64_t existing = ((uint64_t)written.dwHighDateTime << 32) | written.dwLowDateTime;
  uint64_t entry = ((uint64_t)time->dwHighDateTime << 32) | time->dwLowDateTime;
  return existing > entry;
}

// The target's checks and the write, for a file whose bytes are ready: 1
// when written or kept under the newer-only rule, 0 when a directory is in
// the way or the write fails.
static int WriteTarget(LPCSTR target, const ArchiveEntry* entry, const BYTE* bytes, int newerOnly,
                       ExtractObserver observer) {
  DWORD attributes = GetFileAttributesA(target);
  int exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  // Cleared before the newer-only test, so a kept file loses its read-only
  // flag too; the outcome is not needed, as a failed write reports itself.
  if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  if (newerOnly && exists && TargetIsNewer(target, &entry->fileTime)) return 1;
  if (observer != NULL) observer(bytes, entry->fileSize);
  return WriteWholeFile(target, bytes, entry->fileSize, &entry->fileTime);
}

int ExtractEntry(LPCSTR name, LPCSTR target, int newerOnly, ExtractObserver observer) {
  // A target that does not fit a path buffer can't be a file the updater
  // writes; refusing it here keeps every copy below within its buffer.
  if (lstrlenA(target) >= PATH_BUFFER) return 0;

  uint64_t dataOffset = 0;
  const ArchiveEntry* entry = FindEntry(name, &dataOffset);
  if (entry == NULL) {
    ShowErrorBox("Can't Find File in Resource !!", NULL);
    return 0;
  }

  if (!CheckFreeSpace(target, entry->fileSize)) return 0;

  // Start-up takes the directory on trust, so the entry's data is
  // checked against the image before a byte of it is read: a stored entry is
  // fileSize bytes in place, a compressed one storedSize bytes of block.
  int compressed = (entry->attributes & ENTRY_COMPRESSED) != 0;
  uint64_t extent = compressed ? entry->storedSize : entry->fileSize;
  if (dataOffset > OpenImage.length || extent > OpenImage.length - dataOffset) {
    ShowErrorBox("Can't Expand File in Resource !!", NULL);
    return 0;
  }
  const BYTE* data = OpenImage.data + dataOffset;
  if (!compressed) return WriteTarget(target, entry, data, newerOnly, observer);

  // A block cannot expand past BLOCK_MAX_EXPANSION times its length: a
  // larger size claim is damage, refused before any memory is asked for.
  if ((uint64_t)entry->fileSize > (uint64_t)entry->storedSize * BLOCK_MAX_EXPANSION) {
    ShowErrorBox("Can't Expand File in Resource !!", NULL);
    return 0;
  }
  // An empty file still gets a real block, so that a zero-byte request
  // can't be mistaken for a failed one.
  BYTE* block = (BYTE*)GlobalAlloc(GMEM_FIXED, entry->fileSize != 0 ? entry->fileSize : 1);
  if (block == NULL) {
    ShowErrorBox("Can't Allocate Memory !!", NULL);
    return 0;
  }
  int result = 0;
  if (ExpandBlock(block, entry->fileSize, data, entry->storedSize) != EXPAND_OK) {
    ShowErrorBox("Can't Expand File in Resource !!", NULL);
  } else {
    result = WriteTarget(target, entry, block, newerOnly, observer);
  }
  GlobalFree(block);
  return result;
}
