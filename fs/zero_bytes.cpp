// ZeroBytes lives apart from the file helpers: the configuration readers use
// it, and a program that links them need not take the file helpers along.
#include "fs/files.h"

void ZeroBytes(void* dest, size_t size) {
  volatile BYTE* p = (volatile BYTE*)dest;
  for (size_t i = 0; i < size; i++) p[i] = 0;
}
