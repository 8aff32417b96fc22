// File and disk helpers: whole-file read and write, path joining, the
// free-space query and the shell's copy. None of them shows a message; each
// hands its failure to the caller, which knows what to tell the user.
#include "fs/files.h"

static_assert(PATH_BUFFER == MAX_PATH, "path buffers are the platform's MAX_PATH");
static_assert((FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR) == 0x0210, "file copy flags as the shell documents them");
static_assert((FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI) == 0x0610, "directory copy flags");

// ---- Whole files ---------------------------------------------------------

BYTE* ReadWholeFile(LPCSTR path, DWORD* size, int* unread) {
  if (unread != NULL) *unread = 0;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  // No terminator: callers get exactly the file's bytes and its size.
  BYTE* block = NULL;
  DWORD length = GetFileSize(file, NULL);
  if (length != INVALID_FILE_SIZE) block = (BYTE*)GlobalAlloc(GMEM_FIXED, length);
  DWORD read = 0;
  // A file that shrank since its size was taken, or a failing read, leaves
  // part of the block unset: no caller may see those bytes as the file's.
  if (block != NULL && (!ReadFile(file, block, length, &read, NULL) || read != length)) {
    GlobalFree(block);
    block = NULL;
  }
  // One close for every path.
  CloseHandle(file);
  if (block == NULL && unread != NULL) *unread = 1;
  if (block != NULL && size != NULL) *size = length;
  return block;
}

// True for the byte values that separate path components. Tested per byte:
// the second byte of a double-byte character may be 0x5C too.
static int IsSeparatorByte(char c) { return c == '\\' || c == '/'; }

// Short-lived conflicts over a file: a virus scanner, an indexer or a backup
// program opens a file the moment it is written and holds it for a moment.
// Such a conflict is waited out, silently, for about two seconds over the
// whole write. The bound is a count of waits, not a clock, so a clock that
// jumps can neither cut it short nor stretch it.
#define CONFLICT_WAITS 20
#define CONFLICT_WAIT_MS 100

// What the player or the game gave an existing file and the new content must
// not take away. Read-only targets are refused before; the archive flag is
// set afresh, as any write of new content sets it.
#define KEPT_ATTRIBUTES (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)

// A replacement file untouched for longer than this belongs to a write that
// ended by force: no write takes an hour. One hour in FILETIME units.
#define STALE_REPLACEMENT_AGE 36000000000ull

static uint64_t FileTimeValue(const FILETIME* time) {
  return ((uint64_t)time->dwHighDateTime << 32) | time->dwLowDateTime;
}

// 1 when the step that just failed met a passing conflict and a wait was
// left for it: the wait has been taken and the step may be tried again.
static int WaitOutConflict(int* waitsLeft) {
  DWORD error = GetLastError();
  // ReplaceFileA reports a replaced file that another program holds open
  // as one it could not remove; both names are then as they were.
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION && error != ERROR_UNABLE_TO_REMOVE_REPLACED)
    return 0;
  if (*waitsLeft <= 0) return 0;
  --*waitsLeft;
  Sleep(CONFLICT_WAIT_MS);
  return 1;
}

// Opens the file at path as disposition says (creating it with the given
// attributes if asked to), writes data at its start and stamps it. 1 when
// every byte went out and the times, if asked for, are set. With no bytes
// to write over an existing file it only stamps it.
static int FillFile(LPCSTR path, DWORD disposition, const void* data, DWORD count, const FILETIME* time,
                    DWORD attributes) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, disposition, attributes, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  int ok = WriteFile(file, data, count, &written, NULL) && written == count;
  if (ok && time != NULL) ok = SetFileTime(file, time, time, time) ? 1 : 0;
  CloseHandle(file);
  return ok;
}

// GetTempFileNameA names the replacement "~UP<1 to 4 hex digits>.TMP". An
// updater ended by force (killed, power lost) leaves one behind beside its
// target; the name says whose it is, so a later write into the folder
// removes it rather than letting the leftovers pile up.
#define TEMP_PREFIX "~UP"
#define TEMP_PATTERN "~UP*.TMP"

int IsReplacementTempName(LPCSTR name) {
  if (name[0] != '~' || name[1] != 'U' || name[2] != 'P') return 0;
  int digits = 0;
  LPCSTR p = name + 3;
  // Systems differ in the case of the digits and the extension.
  while ((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F') || (*p >= 'a' && *p <= 'f')) {
    ++p;
    ++digits;
  }
  return digits >= 1 && digits <= 4 && lstrcmpiA(p, ".TMP") == 0;
}

// Deletes the leftover replacements in dir, which ends in a separator. Only
// those last written more than an hour ago go: a younger one may be the
// replacement another updater (or any program using the same name scheme)
// is writing right now. A search that finds nothing, or a file that cannot
// go, changes nothing.
static void RemoveStaleReplacements(LPCSTR dir) {
  char pattern[PATH_BUFFER];
  if (lstrlenA(dir) + lstrlenA(TEMP_PATTERN) >= PATH_BUFFER) return;
  lstrcpyA(pattern, dir);
  lstrcatA(pattern, TEMP_PATTERN);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME clock;
  GetSystemTimeAsFileTime(&clock);
  uint64_t now = FileTimeValue(&clock);
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsReplacementTempName(found.cFileName)) continue;
    // A time ahead of the clock is no sign of age. (FILETIME values stay
    // below 2^63, so the sum cannot wrap.)
    if (FileTimeValue(&found.ftLastWriteTime) + STALE_REPLACEMENT_AGE >= now) continue;
    char stale[PATH_BUFFER];
    if (lstrlenA(dir) + lstrlenA(found.cFileName) >= PATH_BUFFER) continue;
    lstrcpyA(stale, dir);
    lstrcatA(stale, found.cFileName);
    DeleteFileA(stale);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Puts the written replacement temp at target. 1 once target holds it.
static int PutInPlace(LPCSTR target, LPCSTR temp, int exists, int* waitsLeft) {
  // An existing target keeps what a rename would take from it: its
  // attributes, owner, security descriptor, named streams and creation time
  // pass to the new content. The merge is asked not to fail the write: a
  // file the updater may not fully describe still gets its new bytes.
  while (exists) {
    // The replacement is only tried once the target can be opened as
    // ReplaceFileA opens it: some implementations leave a file of their own
    // beside a target they could not move away.
    HANDLE probe = CreateFileA(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, 0, NULL);
    if (probe != INVALID_HANDLE_VALUE) {
      CloseHandle(probe);
      if (ReplaceFileA(target, temp, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL)) return 1;
    }
    DWORD error = GetLastError();
    // Without a backup name these leave the target's name free, the old
    // file deleted or kept under a name of the system's choosing, and the
    // new bytes under the temporary name; a target removed meanwhile leaves
    // the name free too. The rename below completes the write.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 ||
        error == ERROR_FILE_NOT_FOUND)
      break;
    if (!WaitOutConflict(waitsLeft)) return 0;
  }
  // A new target: one rename on the same volume puts it in place whole.
  while (!MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (!WaitOutConflict(waitsLeft)) return 0;
  }
  return 1;
}

int WriteWholeFile(LPCSTR path, const void* data, DWORD count, const FILETIME* time) {
  // Truncating the target and then failing half way (a full disk, a lost
  // network drive) would leave a damaged game file behind. The bytes go to a
  // temporary file beside the target instead, in the same directory so that
  // the final step stays on one volume and replaces the target whole.
  // ReplaceFileA wants full paths (some implementations refuse relative
  // ones); the full path also says where the folder ends, double-byte
  // characters and all. A path that names a folder is refused.
  char full[PATH_BUFFER];
  LPSTR name = NULL;
  DWORD fullLength = GetFullPathNameA(path, PATH_BUFFER, full, &name);
  if (fullLength == 0 || fullLength >= PATH_BUFFER || name == NULL) return 0;
  // A read-only file may not be replaced, as creating over it would fail.
  // Windows refuses the replacement too, but not every implementation of
  // the API does, so the rule is kept here.
  DWORD existing = GetFileAttributesA(full);
  int exists = existing != INVALID_FILE_ATTRIBUTES;
  if (exists && (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) return 0;
  // Windows refuses to create over a hidden or system file unless the
  // request names the same attributes; naming them keeps them, too. The
  // replacement gets them from the start, so that every way it can reach
  // the target's name carries them.
  DWORD kept = exists ? (existing & KEPT_ATTRIBUTES) | FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_NORMAL;
  int waitsLeft = CONFLICT_WAITS;
  // The folder alone, separator included, is the full path cut before the
  // name, for as long as the folder is all that is needed.
  char first = *name;
  *name = '\0';
  RemoveStaleReplacements(full);
  // No temporary name can be made in a folder path longer than MAX_PATH - 14
  // (Windows refuses it; not every implementation does so safely, so the
  // call is not even made), although a target of up to 259 bytes is valid
  // there. Such a target, and any whose folder takes no temporary file, is
  // written in place, as a plain write would.
  char temp[PATH_BUFFER];
  int inPlace = name - full > MAX_PATH - 14 || GetTempFileNameA(full, TEMP_PREFIX, 0, temp) == 0;
  *name = first;
  int placed = 0;
  while (!(placed = FillFile(inPlace ? full : temp, CREATE_ALWAYS, data, count, time, kept))) {
    if (!WaitOutConflict(&waitsLeft)) break;
  }
  if (inPlace) return placed;
  if (placed) placed = PutInPlace(full, temp, exists, &waitsLeft);
  if (!placed) {
    DeleteFileA(temp);
    return 0;
  }
  // From here the target holds the new bytes and their write time: nothing
  // below may turn the write into a failure. Some implementations of
  // ReplaceFileA drop the kept attributes, so they are set once more.
  if (exists) SetFileAttributesA(full, kept);
  // ReplaceFileA keeps the old file's creation time, and Windows' name
  // tunnelling can hand a file renamed over a recently removed one the
  // creation time of the file it replaced; the target itself is stamped
  // once more so that all three times are the caller's.
  if (time != NULL) {
    while (!FillFile(full, OPEN_EXISTING, data, 0, time, FILE_ATTRIBUTE_NORMAL) && WaitOutConflict(&waitsLeft)) {
    }
  }
  return 1;
}

// ---- Paths -----------------------------------------------------------------

int AppendPathComponent(LPSTR path, size_t size, LPCSTR component) {
  size_t length = (size_t)lstrlenA(path);
  size_t extra = (size_t)lstrlenA(component);
  // The separator test looks at the last byte only, so a path that ends in
  // a double-byte character whose second byte is 0x5C gets no separator; the
  // shell reads such a path the same way.
  size_t separator = (length != 0 && !IsSeparatorByte(path[length - 1])) ? 1 : 0;
  // The result, its NUL and the second NUL that ends the shell's name list.
  if (size < 2 || length + separator + extra > size - 2) return 0;
  if (separator) path[length++] = '\\';
  for (size_t i = 0; i < extra; i++) path[length + i] = component[i];
  path[length + extra] = '\0';
  path[length + extra + 1] = '\0';
  return 1;
}

// ---- Free space ------------------------------------------------------------

typedef BOOL(WINAPI* DiskFreeSpaceExProc)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
// The oldest systems lack GetDiskFreeSpaceExA, so it is looked up at run
// time. Once found it stays valid: kernel32 is never unloaded from a process.
static DiskFreeSpaceExProc CachedDiskFreeSpaceEx;

// GetProcAddress yields a generic entry point; going through a plain
// function pointer type says the conversion is meant.
typedef void (*AnyProc)(void);
static DiskFreeSpaceExProc AsDiskFreeSpaceEx(FARPROC proc) {
  return reinterpret_cast<DiskFreeSpaceExProc>(reinterpret_cast<AnyProc>(proc));
}

void ResetDiskFreeSpaceCache(void) { CachedDiskFreeSpaceEx = NULL; }

int QueryDiskFreeSpace(LPCSTR root, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree) {
  HMODULE kernel = NULL;
  if (CachedDiskFreeSpaceEx == NULL) {
    kernel = LoadLibraryA("kernel32.dll");
    if (kernel != NULL) CachedDiskFreeSpaceEx = AsDiskFreeSpaceEx(GetProcAddress(kernel, "GetDiskFreeSpaceExA"));
  }
  int result = 0;
  if (CachedDiskFreeSpaceEx != NULL) {
    ULARGE_INTEGER available, bytes, unused;
    available.QuadPart = 0;
    bytes.QuadPart = 0;
    unused.QuadPart = 0;
    if (CachedDiskFreeSpaceEx(root, &available, &bytes, totalFree != NULL ? &unused : NULL)) {
      if (freeToCaller != NULL) *freeToCaller = available.QuadPart;
      if (total != NULL) *total = bytes.QuadPart;
      if (totalFree != NULL) *totalFree = unused.QuadPart;
      result = 1;
    }
  }
  if (!result) {
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
      DWORD bytesPerCluster = sectorsPerCluster * bytesPerSector;
      // Full 64-bit products: volumes past 4 GiB are the rule, not the
      // exception, and the 32-bit product would wrap.
      uint64_t available = (uint64_t)freeClusters * bytesPerCluster;
      if (freeToCaller != NULL) *freeToCaller = available;
      if (total != NULL) *total = (uint64_t)totalClusters * bytesPerCluster;
      // The old call knows no per-user quota: what is free is free to all.
      if (totalFree != NULL) *totalFree = available;
      result = 1;
    }
  }
  if (kernel != NULL) FreeLibrary(kernel);
  return result;
}

// ---- The shell's copy ------------------------------------------------------

int ShellCopy(HWND owner, LPCSTR source, LPCSTR destination, int directory) {
  SHFILEOPSTRUCTA op = {};
  op.hwnd = owner;
  op.wFunc = FO_COPY;
  op.pFrom = source;
  op.pTo = destination;
  // Replace files and create folders without asking; keep the progress
  // window with its Cancel button. A directory copy also keeps the shell's
  // own error boxes quiet: the caller reports the failure itself.
  op.fFlags = (FILEOP_FLAGS)(FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | (directory ? FOF_NOERRORUI : 0));
  int called = SHFileOperationA(&op);
  if (op.fAnyOperationsAborted) return SHELLCOPY_ABORTED;
  if (called != 0) return SHELLCOPY_FAILED;
  // Files from a CD-ROM arrive read-only; the game must be able to replace
  // them later.
  SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
  return SHELLCOPY_DONE;
}
