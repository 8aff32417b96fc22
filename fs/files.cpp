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

// Copies the directory part of path, separator included ("C:\GAME\" of
// "C:\GAME\A.DAT"), into dir. A path without a separator names a file in the
// current directory of its drive ("C:A.DAT" gives "C:") or of the process
// (gives "."). The walk goes by characters so that the trail byte of a
// double-byte character is not taken for a separator. 0 when path does not
// fit a path buffer.
static int DirectoryOf(LPCSTR path, char dir[PATH_BUFFER]) {
  int length = lstrlenA(path);
  if (length >= PATH_BUFFER) return 0;
  int cut = 0;  // bytes of path that make up the directory
  for (LPCSTR p = path; *p != '\0'; p = CharNextA(p)) {
    if (IsSeparatorByte(*p)) cut = (int)(p - path) + 1;
  }
  if (cut == 0 && length >= 2 && path[1] == ':') cut = 2;
  if (cut == 0) {
    dir[0] = '.';
    dir[1] = '\0';
    return 1;
  }
  for (int i = 0; i < cut; i++) dir[i] = path[i];
  dir[cut] = '\0';
  return 1;
}

// Writes data over the file at path, creating it if needed, and stamps it.
// 1 when every byte went out and the times, if asked for, are set.
static int FillFile(LPCSTR path, const void* data, DWORD count, const FILETIME* time) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  int ok = WriteFile(file, data, count, &written, NULL) && written == count;
  if (ok && time != NULL) ok = SetFileTime(file, time, time, time) ? 1 : 0;
  CloseHandle(file);
  return ok;
}

// Stamps the file at path with one time for creation, access and write.
static int StampFile(LPCSTR path, const FILETIME* time) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int ok = SetFileTime(file, time, time, time) ? 1 : 0;
  CloseHandle(file);
  return ok;
}

// GetTempFileNameA names the replacement "~UP<1 to 4 hex digits>.TMP". An
// updater ended by force (killed, power lost) leaves one behind beside its
// target; the name says whose it is, so the next write into the folder
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

// Deletes the leftover replacements in dir, which ends in a separator. A
// search that finds nothing, or a file that cannot go, changes nothing.
static void RemoveStaleReplacements(LPCSTR dir) {
  char pattern[PATH_BUFFER];
  if (lstrlenA(dir) + lstrlenA(TEMP_PATTERN) >= PATH_BUFFER) return;
  lstrcpyA(pattern, dir);
  lstrcatA(pattern, TEMP_PATTERN);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsReplacementTempName(found.cFileName)) continue;
    char stale[PATH_BUFFER];
    if (lstrlenA(dir) + lstrlenA(found.cFileName) >= PATH_BUFFER) continue;
    lstrcpyA(stale, dir);
    lstrcatA(stale, found.cFileName);
    DeleteFileA(stale);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

int WriteWholeFile(LPCSTR path, const void* data, DWORD count, const FILETIME* time) {
  // Truncating the target and then failing half way (a full disk, a lost
  // network drive) would leave a damaged game file behind. The bytes go to a
  // temporary file beside the target instead, in the same directory so that
  // the final rename stays on one volume and replaces the target in one step.
  char dir[PATH_BUFFER];
  if (!DirectoryOf(path, dir)) return 0;
  // A read-only file may not be replaced, as creating over it would fail.
  // Windows refuses the rename over it too, but not every implementation of
  // the API does, so the rule is kept here.
  DWORD existing = GetFileAttributesA(path);
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) return 0;
  int length = lstrlenA(dir);
  if (length > 0 && IsSeparatorByte(dir[length - 1])) RemoveStaleReplacements(dir);
  // No temporary name can be made in a folder path longer than MAX_PATH - 14
  // (Windows refuses it; not every implementation does so safely, so the
  // call is not even made), although a target of up to 259 bytes is valid
  // there. Such a target, and any whose folder takes no temporary file, is
  // written in place, as a plain write would.
  char temp[PATH_BUFFER];
  if (length > MAX_PATH - 14 || GetTempFileNameA(dir, TEMP_PREFIX, 0, temp) == 0) {
    return FillFile(path, data, count, time);
  }
  if (!FillFile(temp, data, count, time) ||
      !MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp);
    return 0;
  }
  // Windows' name tunnelling can hand a file renamed over a recently removed
  // one the creation time of the file it replaced; stamp the target itself
  // once more so that all three times are the caller's.
  if (time != NULL && !StampFile(path, time)) return 0;
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
