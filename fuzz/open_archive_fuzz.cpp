// OpenArchive in memory mode on arbitrary images: it must never read outside
// the image, and whatever it returns must be a whole directory block whose
// header is the image's own, released without leaks.
#include <stdint.h>
#include <string.h>

#include "archive/archive.h"
#include "double/scripted_win32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0xFFFFFFFFu) return 0;
  BYTE* image = new BYTE[size];
  memcpy(image, data, size);
  BYTE* directory = OpenArchive(image, (DWORD)size);
  if (directory != NULL) {
    if (memcmp(directory, image, ARCHIVE_HEADER_SIZE) != 0) __builtin_trap();
    // Every record the header promises must be there to read.
    const ArchiveHeader* header = DirectoryHeader(directory);
    const ArchiveEntry* entries = DirectoryEntries(directory);
    unsigned sum = 0;
    for (DWORD i = 0; i < header->entryCount; ++i) sum += entries[i].attributes + (unsigned)entries[i].storedSize;
    volatile unsigned sink = sum;
    (void)sink;
    GlobalFree(directory);
  }
  if (scripted::LiveAllocations() != 0) __builtin_trap();
  delete[] image;
  return 0;
}
