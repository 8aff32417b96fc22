// The archive resource and its directory.
//
// Memory mode (the updater's own resource) and file mode (a loose archive)
// read the same layout. The resource is meant to be well formed, but a
// damaged or hostile image must not make the updater read outside it or
// trust a directory that did not expand completely, so every offset and
// size is checked against the image before it is used and such an image is
// refused like an unreadable one (start-up then reports "RESOURCE READ
// ERROR").
#include "archive/archive.h"

#include <string.h>

#include "archive/expand.h"

ArchiveImage OpenImage = {NULL, 0};
BYTE* ArchiveDirectory = NULL;

// The largest entryCount whose block (16 + entryCount * 32 bytes) still has
// a 32-bit size.
#define MAX_ENTRY_COUNT ((0xFFFFFFFFu - ARCHIVE_HEADER_SIZE) / ARCHIVE_ENTRY_SIZE)
static_assert((uint64_t)ARCHIVE_HEADER_SIZE + (uint64_t)MAX_ENTRY_COUNT * ARCHIVE_ENTRY_SIZE <= 0xFFFFFFFFull,
              "the largest accepted directory block has a 32-bit size");

static const BYTE kMagic[4] = {'W', 'Z', '2', 0};
static_assert(sizeof(kMagic) == sizeof(((ArchiveHeader*)0)->magic), "magic field is four bytes");

// Size of the directory records, or 0 (with *ok cleared) when entryCount is
// too large for the block to have a 32-bit size.
static DWORD RecordBytes(DWORD entryCount, int* ok) {
  if (entryCount > MAX_ENTRY_COUNT) {
    *ok = 0;
    return 0;
  }
  *ok = 1;
  return entryCount * ARCHIVE_ENTRY_SIZE;
}

// A compressed block cannot grow by more than BLOCK_MAX_EXPANSION times its
// length, so a directory that claims more is refused before its block is
// allocated (an absurd entryCount would otherwise ask for gigabytes).
static int CanExpandTo(DWORD compressedLength, DWORD recordBytes) {
  return (uint64_t)recordBytes <= (uint64_t)compressedLength * BLOCK_MAX_EXPANSION;
}

// Expands the compressed directory in `block` (compressedLength bytes) into
// the records area; the expansion must fill it exactly.
static int ExpandDirectory(BYTE* directory, DWORD recordBytes, const BYTE* block, DWORD compressedLength) {
  return ExpandBlock(directory + ARCHIVE_HEADER_SIZE, recordBytes, block, compressedLength) == EXPAND_OK;
}

static BYTE* OpenFromMemory(const BYTE* image, DWORD length) {
  ArchiveHeader header;
  if (length < ARCHIVE_HEADER_SIZE) return NULL;  // no whole header to copy
  memcpy(&header, image, ARCHIVE_HEADER_SIZE);
  int ok;
  DWORD recordBytes = RecordBytes(header.entryCount, &ok);
  if (!ok) return NULL;
  if (header.directoryOffset > length) return NULL;
  DWORD rest = length - header.directoryOffset;  // bytes from the directory to the end
  int compressed = (header.flags & DIRECTORY_COMPRESSED) != 0;
  if (compressed ? !CanExpandTo(rest, recordBytes) : recordBytes > rest) return NULL;

  BYTE* directory = (BYTE*)GlobalAlloc(GMEM_FIXED, ARCHIVE_HEADER_SIZE + (size_t)recordBytes);
  if (directory == NULL) return NULL;
  if (compressed) {
    BYTE* block = (BYTE*)GlobalAlloc(GMEM_FIXED, rest);
    if (block == NULL) {
      GlobalFree(directory);
      return NULL;
    }
    memcpy(block, image + header.directoryOffset, rest);
    int expanded = ExpandDirectory(directory, recordBytes, block, rest);
    GlobalFree(block);
    if (!expanded) {
      GlobalFree(directory);
      return NULL;
    }
  } else {
    memcpy(directory + ARCHIVE_HEADER_SIZE, image + header.directoryOffset, recordBytes);
  }
  memcpy(directory, &header, ARCHIVE_HEADER_SIZE);
  return directory;
}

// Reads exactly `count` bytes; a failed or short read is a failure.
static int ReadExactly(HANDLE file, void* buffer, DWORD count) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, count, &got, NULL)) return 0;
  return got == count;
}

// File mode after the file is open: everything but closing it.
static BYTE* ReadFromFile(HANDLE file) {
  ArchiveHeader header;
  if (!ReadExactly(file, &header, ARCHIVE_HEADER_SIZE)) return NULL;
  if (memcmp(header.magic, kMagic, sizeof(kMagic)) != 0) return NULL;
  // The offset is unsigned; passing the zero high half keeps offsets of 2 GiB
  // and more from being taken as negative.
  LONG high = 0;
  SetLastError(ERROR_SUCCESS);
  DWORD moved = SetFilePointer(file, (LONG)header.directoryOffset, &high, FILE_BEGIN);
  if (moved == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return NULL;
  int ok;
  DWORD recordBytes = RecordBytes(header.entryCount, &ok);
  if (!ok) return NULL;

  int compressed = (header.flags & DIRECTORY_COMPRESSED) != 0;
  DWORD compressedLength = 0;
  if (compressed) {
    DWORD size = GetFileSize(file, NULL);
    if (size == INVALID_FILE_SIZE) return NULL;
    if (header.directoryOffset > size) return NULL;
    compressedLength = size - header.directoryOffset;
    if (!CanExpandTo(compressedLength, recordBytes)) return NULL;
  }

  BYTE* directory = (BYTE*)GlobalAlloc(GMEM_FIXED, ARCHIVE_HEADER_SIZE + (size_t)recordBytes);
  if (directory == NULL) return NULL;
  if (compressed) {
    BYTE* block = (BYTE*)GlobalAlloc(GMEM_FIXED, compressedLength);
    if (block == NULL) {
      GlobalFree(directory);
      return NULL;
    }
    int expanded = ReadExactly(file, block, compressedLength) &&
                   ExpandDirectory(directory, recordBytes, block, compressedLength);
    GlobalFree(block);
    if (!expanded) {
      GlobalFree(directory);
      return NULL;
    }
  } else if (!ReadExactly(file, directory + ARCHIVE_HEADER_SIZE, recordBytes)) {
    GlobalFree(directory);
    return NULL;
  }
  memcpy(directory, &header, ARCHIVE_HEADER_SIZE);
  return directory;
}

BYTE* OpenArchive(const void* source, DWORD length) {
  if (length != 0) return OpenFromMemory((const BYTE*)source, length);
  HANDLE file = CreateFileA((LPCSTR)source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  BYTE* directory = ReadFromFile(file);
  CloseHandle(file);
  return directory;
}

void CloseArchive(void) {
  if (ArchiveDirectory == NULL) return;
  GlobalFree(ArchiveDirectory);
  ArchiveDirectory = NULL;
}

void ResetArchiveState(void) {
  CloseArchive();
  OpenImage.data = NULL;
  OpenImage.length = 0;
}
