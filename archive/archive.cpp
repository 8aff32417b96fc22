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

// A compressed block cannot grow by more than BLOCK_MAX_EXPANSION times its
// length, so a directory that claims more is refused before its block is
// allocated (an absurd entryCount would otherwise ask for gigabytes).
static int CanExpandTo(DWORD compressedLength, DWORD recordBytes) {
  return (uint64_t)recordBytes <= (uint64_t)compressedLength * BLOCK_MAX_EXPANSION;
}

// Reads exactly `count` bytes; a failed or short read is a failure.
static int ReadExactly(HANDLE file, void* buffer, DWORD count) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, count, &got, NULL)) return 0;
  return got == count;
}

// The archive's bytes in either mode: the image in memory, or the open file.
struct ArchiveSource {
  const BYTE* image;  // memory mode, else NULL
  HANDLE file;        // file mode
  DWORD length;       // the archive's length in bytes
};

// Copies `count` bytes from `offset`, which the caller has checked against
// the source's length.
static int ReadSource(const ArchiveSource* source, DWORD offset, void* buffer, DWORD count) {
  if (source->image != NULL) {
    memcpy(buffer, source->image + offset, count);
    return 1;
  }
  // The offset is unsigned; passing the zero high half keeps offsets of 2 GiB
  // and more from being taken as negative.
  LONG high = 0;
  SetLastError(ERROR_SUCCESS);
  DWORD moved = SetFilePointer(source->file, (LONG)offset, &high, FILE_BEGIN);
  if (moved == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return 0;
  return ReadExactly(source->file, buffer, count);
}

// The one path from a header to the directory block, for both modes: every
// size the header claims is checked against the archive's length before
// anything is allocated for it, and a compressed directory must expand to
// exactly its records.
static BYTE* LoadDirectory(const ArchiveHeader* header, const ArchiveSource* source) {
  if (header->entryCount > ARCHIVE_MAX_ENTRIES) return NULL;
  DWORD recordBytes = header->entryCount * ARCHIVE_ENTRY_SIZE;
  if (header->directoryOffset > source->length) return NULL;
  DWORD rest = source->length - header->directoryOffset;  // bytes from the directory to the end
  int compressed = (header->flags & DIRECTORY_COMPRESSED) != 0;
  if (compressed ? !CanExpandTo(rest, recordBytes) : recordBytes > rest) return NULL;

  BYTE* directory = (BYTE*)GlobalAlloc(GMEM_FIXED, ARCHIVE_HEADER_SIZE + (size_t)recordBytes);
  if (directory == NULL) return NULL;
  int loaded;
  if (compressed) {
    BYTE* block = (BYTE*)GlobalAlloc(GMEM_FIXED, rest);
    loaded = block != NULL && ReadSource(source, header->directoryOffset, block, rest) &&
             ExpandBlock(directory + ARCHIVE_HEADER_SIZE, recordBytes, block, rest) == EXPAND_OK;
    if (block != NULL) GlobalFree(block);
  } else {
    loaded = ReadSource(source, header->directoryOffset, directory + ARCHIVE_HEADER_SIZE, recordBytes);
  }
  if (!loaded) {
    GlobalFree(directory);
    return NULL;
  }
  memcpy(directory, header, ARCHIVE_HEADER_SIZE);
  return directory;
}

// Memory mode: the image is the resource, taken as it is; its magic is not
// tested.
static BYTE* OpenFromMemory(const BYTE* image, DWORD length) {
  if (length < ARCHIVE_HEADER_SIZE) return NULL;  // no whole header to copy
  ArchiveHeader header;
  memcpy(&header, image, ARCHIVE_HEADER_SIZE);
  ArchiveSource source = {image, INVALID_HANDLE_VALUE, length};
  return LoadDirectory(&header, &source);
}

// File mode after the file is open: everything but closing it. A loose file
// must prove it is an archive by its magic.
static BYTE* ReadFromFile(HANDLE file) {
  ArchiveHeader header;
  if (!ReadExactly(file, &header, ARCHIVE_HEADER_SIZE)) return NULL;
  if (memcmp(header.magic, ARCHIVE_MAGIC, sizeof(ARCHIVE_MAGIC)) != 0) return NULL;
  DWORD size = GetFileSize(file, NULL);
  if (size == INVALID_FILE_SIZE) return NULL;
  ArchiveSource source = {NULL, file, size};
  return LoadDirectory(&header, &source);
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
