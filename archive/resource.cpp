// The archive as the updater carries it: its own resource "UPDATE"/102. Kept
// apart from the archive reader so that a program reading archives from
// files links no resource calls.
#include "archive/archive.h"

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
