// The manifest's entry parsers on arbitrary values, cut as the reader cuts
// them: an entry that applies carries a terminated path that fits its slot,
// a name offset inside it and a disk number that indexes the ten slots.
#include <stdint.h>
#include <string.h>

#include "config/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int instMode = data[0] % 12 - 1;  // -1 and 10 too: modes no digit names
  char value[1024];
  size_t n = size - 1 < sizeof(value) - 1 ? size - 1 : sizeof(value) - 1;
  memcpy(value, data + 1, n);
  value[n] = '\0';
  UpdateItem update;
  memset(&update, 0x5A, sizeof(update));
  EntryParse r = ParseUpdateEntry(value, instMode, &update);
  if (r == ENTRY_APPLIES) {
    size_t length = strnlen(update.relativePath, sizeof(update.relativePath));
    if (length == sizeof(update.relativePath)) __builtin_trap();
    if (update.nameOffset < 0 || (size_t)update.nameOffset > length) __builtin_trap();
  }
  value[n < COPY_VALUE_CAPACITY - 1 ? n : COPY_VALUE_CAPACITY - 1] = '\0';
  CopyItem copy;
  memset(&copy, 0x5A, sizeof(copy));
  r = ParseCopyEntry(value, instMode, &copy);
  if (r == ENTRY_APPLIES) {
    if (strnlen(copy.relativePath, sizeof(copy.relativePath)) == sizeof(copy.relativePath)) __builtin_trap();
    if (copy.diskNumber < 0 || copy.diskNumber > 9) __builtin_trap();
  }
  return 0;
}
