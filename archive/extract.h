// Writing one archive entry to a file.
#pragma once

#include "platform/win.h"

// Called once right before the write with the file's bytes; result ignored.
typedef int (*ExtractObserver)(const BYTE* data, DWORD size);

// Writes the named entry of the open archive (OpenImage, ArchiveDirectory) to
// target. Returns 1 when written, or kept under the newer-only rule; 0 on
// failure (after an error box where the failure has a message of its own).
int ExtractEntry(LPCSTR name, LPCSTR target, int newerOnly, ExtractObserver observer);
