// The archive's check value: CRC-32 by four bytes a step, the record that
// carries it, and the updater's start-up test. One definition for the
// updater, which verifies, and the publisher's tool, which records and
// verifies.
#include "archive/payload_check.h"

#include "archive/archive.h"
#include "archive/bytes.h"

static_assert(sizeof(DWORD) == 4, "table entries and the running value are 32 bits");
static_assert(offsetof(ArchiveCheckRecord, method) == 4, "method after the magic");
static_assert(offsetof(ArchiveCheckRecord, archiveLength) == 8, "length at offset 8");
static_assert(offsetof(ArchiveCheckRecord, crc) == 12, "CRC at offset 12");

void BuildCrc32Tables(Crc32Tables* tables) {
  // entry[0] is the classic byte table; entry[k][n] is the value of byte n
  // followed by k zero bytes, so that four table loads, independent of one
  // another, replace four dependent steps.
  for (DWORD n = 0; n < 256; ++n) {
    DWORD c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ CRC32_POLYNOMIAL : c >> 1;
    tables->entry[0][n] = c;
  }
  for (int k = 1; k < 4; ++k) {
    for (DWORD n = 0; n < 256; ++n) {
      DWORD previous = tables->entry[k - 1][n];
      tables->entry[k][n] = (previous >> 8) ^ tables->entry[0][previous & 0xFF];
    }
  }
}

DWORD Crc32Update(const Crc32Tables* tables, DWORD crc, const BYTE* data, size_t length) {
  const DWORD(*t)[256] = tables->entry;
  DWORD c = ~crc;
  // Single bytes up to a four-byte boundary, so that the word loads are
  // aligned where it is cheap; memcpy makes any address correct.
  while (length != 0 && ((uintptr_t)data & 3) != 0) {
    c = (c >> 8) ^ t[0][(c ^ *data++) & 0xFF];
    --length;
  }
  for (; length >= 4; length -= 4, data += 4) {
    c ^= Load32(data);
    c = t[3][c & 0xFF] ^ t[2][(c >> 8) & 0xFF] ^ t[1][(c >> 16) & 0xFF] ^ t[0][c >> 24];
  }
  while (length-- != 0) c = (c >> 8) ^ t[0][(c ^ *data++) & 0xFF];
  return ~c;
}

static DWORD LoadDword(const BYTE* p) { return (DWORD)Load32(p); }

static void StoreDword(BYTE* p, DWORD v) { Store32(p, (uint32_t)v); }

ArchiveCheck CompareArchiveCheck(const BYTE* record, DWORD recordLength, DWORD archiveLength, DWORD crc) {
  // One rule for every way the record can disagree: a record the tool did
  // not write this way is damage as much as a changed archive byte is.
  if (recordLength != ARCHIVE_CHECK_SIZE) return ARCHIVE_CHECK_DAMAGED;
  for (int i = 0; i < 4; ++i) {
    if (record[i] != ARCHIVE_CHECK_MAGIC[i]) return ARCHIVE_CHECK_DAMAGED;
  }
  if (LoadDword(record + offsetof(ArchiveCheckRecord, method)) != ARCHIVE_CHECK_CRC32 ||
      LoadDword(record + offsetof(ArchiveCheckRecord, archiveLength)) != archiveLength ||
      LoadDword(record + offsetof(ArchiveCheckRecord, crc)) != crc) {
    return ARCHIVE_CHECK_DAMAGED;
  }
  return ARCHIVE_CHECK_MATCHES;
}

void MakeArchiveCheck(BYTE record[ARCHIVE_CHECK_SIZE], DWORD archiveLength, DWORD crc) {
  for (int i = 0; i < 4; ++i) record[i] = ARCHIVE_CHECK_MAGIC[i];
  StoreDword(record + offsetof(ArchiveCheckRecord, method), ARCHIVE_CHECK_CRC32);
  StoreDword(record + offsetof(ArchiveCheckRecord, archiveLength), archiveLength);
  StoreDword(record + offsetof(ArchiveCheckRecord, crc), crc);
}
