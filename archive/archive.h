// The archive the updater carries: header, directory records, and the
// process's open archive.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/win.h"

#define ARCHIVE_RESOURCE_ID 102
#define ARCHIVE_RESOURCE_TYPE "UPDATE"
#define ARCHIVE_HEADER_SIZE 16
#define ARCHIVE_ENTRY_SIZE 32
#define ARCHIVE_NAME_FIELD 15  // 14 name bytes and at least one NUL
#define ARCHIVE_DATA_ALIGN 16

// The header's first four bytes: "WZ2" and a zero byte.
constexpr BYTE ARCHIVE_MAGIC[4] = {'W', 'Z', '2', 0};

// The most entries an archive may hold, for every reader and the writer.
// The updater only ever looks entries up by name, and only UPDATE.INI and
// the sixteen names of its UpdateFile list (the copy list reads the CD-ROM,
// not the archive): seventeen names, each found at its first record. An
// archive of more than 65,536 records holds at least 65,519 that nothing can
// ever read, so the cap refuses only absurd archives, while bounding what a
// reader must hold for a directory: 2 MiB of records (16 + 65,536 * 32 bytes
// of ArchiveDirectory). Without it a compressed directory of a few hundred
// kilobytes could claim millions of records (a block expands up to
// BLOCK_MAX_EXPANSION times), and every reader would allocate and walk them.
#define ARCHIVE_MAX_ENTRIES 65536u
static_assert((uint64_t)ARCHIVE_HEADER_SIZE + (uint64_t)ARCHIVE_MAX_ENTRIES * ARCHIVE_ENTRY_SIZE <= 0xFFFFFFFFull,
              "the largest accepted directory block has a 32-bit size");
static_assert(ARCHIVE_MAX_ENTRIES >= 17, "UPDATE.INI and a full UpdateFile list fit");

#define DIRECTORY_COMPRESSED 0x01u
#define ENTRY_STORED 0x01u
#define ENTRY_COMPRESSED 0x02u

#pragma pack(push, 1)
struct ArchiveHeader {
  BYTE magic[4];  // ARCHIVE_MAGIC
  DWORD flags;
  DWORD directoryOffset;
  DWORD entryCount;
};
struct ArchiveEntry {
  char name[ARCHIVE_NAME_FIELD];
  BYTE attributes;
  FILETIME fileTime;
  DWORD fileSize;
  DWORD storedSize;
};
#pragma pack(pop)

static_assert(sizeof(ArchiveHeader) == ARCHIVE_HEADER_SIZE, "header is 16 bytes on disk");
static_assert(sizeof(ARCHIVE_MAGIC) == sizeof(ArchiveHeader::magic), "the magic fills its field");
static_assert(sizeof(ArchiveEntry) == ARCHIVE_ENTRY_SIZE, "directory records are 32 bytes on disk");
static_assert(offsetof(ArchiveEntry, attributes) == 15, "attributes follow the 15-byte name");
static_assert(offsetof(ArchiveEntry, fileTime) == 16, "file time at offset 16");
static_assert(offsetof(ArchiveEntry, fileSize) == 24, "file size at offset 24");

// The archive as one read-only byte range (the resource's own memory).
struct ArchiveImage {
  const BYTE* data;
  DWORD length;
};

// The process's open archive: the resource image and the directory block
// (16-byte header copy, then entryCount records). Set by start-up.
extern ArchiveImage OpenImage;
extern BYTE* ArchiveDirectory;

inline const ArchiveHeader* DirectoryHeader(const BYTE* directory) {
  return reinterpret_cast<const ArchiveHeader*>(directory);
}
inline const ArchiveEntry* DirectoryEntries(const BYTE* directory) {
  return reinterpret_cast<const ArchiveEntry*>(directory + ARCHIVE_HEADER_SIZE);
}
// storedSize rounded up to the 16-byte data alignment, in 64 bits so that a
// hostile size cannot wrap.
inline uint64_t PaddedSize(DWORD storedSize) { return ((uint64_t)storedSize + 15) & ~(uint64_t)15; }

// Finds the resource and returns its bytes, or NULL; writes its size.
const BYTE* FindArchiveResource(HMODULE module, int id, LPCSTR type, DWORD* length);
// Memory mode (length != 0): source is the image. File mode (length == 0):
// source is a NUL-terminated path. Returns a GlobalAlloc block the caller
// owns, or NULL. Shows no message.
BYTE* OpenArchive(const void* source, DWORD length);
// Releases the process's ArchiveDirectory, if any, and clears it.
void CloseArchive(void);
// Forgets the open archive (directory released, image cleared), as at
// process start.
void ResetArchiveState(void);
