// The check value an updater carries beside its archive: resource
// "UPDATE"/103 holds the CRC-32 of the archive resource "UPDATE"/102, so
// that a download damaged on the way, or a bad disk, is caught at start-up
// before a single byte goes into the player's installation. The archive
// itself is unchanged, and an executable without the record (made before it
// existed, or by another tool) is read as before.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/win.h"

#define ARCHIVE_CHECK_RESOURCE_ID 103
#define ARCHIVE_CHECK_SIZE 16
// The only method so far: the CRC-32 of zlib, PNG and Ethernet (reflected
// polynomial 0xEDB88320, initial and final value 0xFFFFFFFF), so that any
// tool can verify the record. A CRC catches every change of up to 32
// consecutive bits and all but one in 2^32 others; a digest would cost more
// than its bytes without stopping anyone who can rewrite the record, and the
// signature over the executable is what stops them.
#define ARCHIVE_CHECK_CRC32 1u
#define CRC32_POLYNOMIAL 0xEDB88320u

// The record's first four bytes: "WZ2C".
constexpr BYTE ARCHIVE_CHECK_MAGIC[4] = {'W', 'Z', '2', 'C'};

#pragma pack(push, 1)
struct ArchiveCheckRecord {
  BYTE magic[4];       // ARCHIVE_CHECK_MAGIC
  DWORD method;        // ARCHIVE_CHECK_CRC32
  DWORD archiveLength; // bytes of resource 102
  DWORD crc;           // of those bytes
};
#pragma pack(pop)
static_assert(sizeof(ArchiveCheckRecord) == ARCHIVE_CHECK_SIZE, "the record is 16 bytes on disk");

// Four tables of 256 entries for taking four bytes a step (slicing by
// four): the byte-at-a-time loop costs a dependent table load per byte,
// too slow for a patch of hundreds of megabytes. They are built at run time
// (4 KiB of zeroed storage rather than 4 KiB in the executable's file).
struct Crc32Tables {
  DWORD entry[4][256];
};
void BuildCrc32Tables(Crc32Tables* tables);
// The CRC-32 of data continued from crc (0 for the first piece), so that a
// file can be taken a piece at a time.
DWORD Crc32Update(const Crc32Tables* tables, DWORD crc, const BYTE* data, size_t length);

// What an archive's record says of it.
enum ArchiveCheck {
  ARCHIVE_CHECK_MATCHES = 1,
  // The record is not 16 bytes, has another magic or method, or names
  // another length or CRC: the executable is not as it was built, and
  // whether the archive or the record took the damage makes no difference.
  ARCHIVE_CHECK_DAMAGED = 0,
};
// Compares a record with the archive's length and CRC-32.
ArchiveCheck CompareArchiveCheck(const BYTE* record, DWORD recordLength, DWORD archiveLength, DWORD crc);
// Fills a record for an archive of that length and CRC-32.
void MakeArchiveCheck(BYTE record[ARCHIVE_CHECK_SIZE], DWORD archiveLength, DWORD crc);

// The updater's start-up test: 1 when the module carries no record (as
// before the record existed) or one that matches the archive image. In
// archive/resource.cpp, with the other resource calls, which the tool does
// not link.
int ArchiveMatchesItsCheck(HMODULE module, const BYTE* image, DWORD length);
