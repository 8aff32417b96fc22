// The archive as the updater carries it: its own resource "UPDATE"/102 and
// its check record "UPDATE"/103. Kept
// apart from the archive reader so that a program reading archives from
// files links no resource calls.
#include "archive/archive.h"
#include "archive/payload_check.h"

const BYTE* FindArchiveResource(HMODULE module, int id, LPCSTR type, DWORD* length) {
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (res == NULL) return NULL;
  DWORD size = SizeofResource(module, res);
  if (size == 0) return NULL;
  HGLOBAL loaded = LoadResource(module, res);
  if (loaded == NULL) return NULL;
  const BYTE* bytes = (const BYTE*)LockResource(loaded);
  if (bytes == NULL) return NULL;
  *length = size;
  return bytes;
}

int ArchiveMatchesItsCheck(HMODULE module, const BYTE* image, DWORD length) {
  DWORD recordLength = 0;
  const BYTE* record = FindArchiveResource(module, ARCHIVE_CHECK_RESOURCE_ID, ARCHIVE_RESOURCE_TYPE, &recordLength);
  if (record == NULL) return 1;
  // Zeroed storage rather than a stack array: 4 KiB is more than the
  // updater's stack should carry for a moment's use.
  static Crc32Tables tables;
  BuildCrc32Tables(&tables);
  return CompareArchiveCheck(record, recordLength, length, Crc32Update(&tables, 0, image, length)) ==
         ARCHIVE_CHECK_MATCHES;
}
