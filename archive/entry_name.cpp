#include "archive/entry_name.h"

int SameEntryName(LPCSTR a, LPCSTR b) { return lstrcmpiA(a, b) == 0; }
