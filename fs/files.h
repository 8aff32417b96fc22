// File and disk helpers.
#pragma once

#include <stdint.h>

#include "platform/win.h"

#define PATH_BUFFER 260

// Whole file into a new GlobalAlloc block (no terminator), or NULL. The size
// is stored only on success. *unread (when given) is 1 when the file opened
// but its bytes could not all be had (no memory, a failing or short read):
// the file is there, yet what it holds is unknown.
BYTE* ReadWholeFile(LPCSTR path, DWORD* size, int* unread);
// Replaces path with exactly count bytes, optionally stamped with one time
// for creation, access and write. The bytes go to a temporary file in the
// same directory that then replaces the target in one step, so a failure
// leaves the previous file intact; an existing target keeps its attributes
// (read-only ones are refused), owner, security and named streams. Sharing
// and lock conflicts are waited out for about two seconds. Leftovers of an
// interrupted earlier replacement in that directory, over an hour old, are
// removed first. Where the folder leaves no room for a temporary name the
// target is written in place. 1 once the target holds the bytes, 0 on
// failure.
int WriteWholeFile(LPCSTR path, const void* data, DWORD count, const FILETIME* time);
// 1 when name has the form of WriteWholeFile's temporary files,
// "~UP<1 to 4 hex digits>.TMP" (digits and extension in either case).
int IsReplacementTempName(LPCSTR name);
// Appends "\" (unless path is empty or ends in '\' or '/') and component,
// then a second NUL. Refuses (returns 0, path unchanged) when the result with
// both NULs would not fit size bytes; 1 otherwise.
int AppendPathComponent(LPSTR path, size_t size, LPCSTR component);
// Clears size bytes at dest. A plain loop keeps the updater free of library
// calls it does not otherwise need.
void ZeroBytes(void* dest, size_t size);
// Free space of a drive root ("C:"): available to the caller, total, and
// optionally total free. Nonzero on success; outputs untouched on failure.
int QueryDiskFreeSpace(LPCSTR root, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree);
// Forgets the cached GetDiskFreeSpaceExA entry point, as at process start
// (for ResetProcessState and tests).
void ResetDiskFreeSpaceCache(void);
// Shell copy. Source and destination end in two NULs.
#define SHELLCOPY_DONE 0
#define SHELLCOPY_FAILED 1
#define SHELLCOPY_ABORTED 2
int ShellCopy(HWND owner, LPCSTR source, LPCSTR destination, int directory);
