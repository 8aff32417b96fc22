// Internals shared by the pieces of the scripted Win32 double. Nothing here is
// part of the Win32 surface; tests use scripted_win32.h instead.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "double/scripted_win32.h"

namespace scripted {
namespace detail {

// Each piece keeps its own state and forgets it here; Reset() calls them all.
void ResetPaths();
void ResetFiles();
void ResetModules();
void ResetBoxes();
void ResetRegistry();
void ResetWindows();
void ResetShell();

// ---- Paths ------------------------------------------------------------------
// A Windows path taken apart: its drive letter (upper case) and its components
// after "." and ".." were applied, as Windows does before touching the disk.
struct WinPath {
  char drive = 0;
  std::vector<std::string> components;
};

// Resolves a Windows path against the current directory. Fails (returning
// false and the Windows error code) for NULL, empty or over-long names and
// for drives that are not mapped.
bool ParseWindowsPath(const char* name, WinPath* out, DWORD* error);
// The same for a path that must not exceed `limit` bytes (CreateDirectoryA
// keeps room for an 8.3 name below a new directory).
bool ParseWindowsPathLimited(const char* name, size_t limit, WinPath* out, DWORD* error);
// Host path of a parsed path. Existing components are matched without regard
// to ASCII case, because the updater and the game may spell a name in any case
// and Windows file systems ignore it.
std::string ToHostPath(const WinPath& path);
// Both steps at once; on failure sets the last error and returns false.
bool ResolveHostPath(const char* name, std::string* hostPath);
// Host path of the parent folder of a host path.
std::string ParentOf(const std::string& hostPath);
// Mapped host folder of a drive, or "" when unmapped.
std::string DriveFolder(char letter);
UINT DriveType(char letter);

// ---- File identity tables ---------------------------------------------------
// Linux keeps neither a creation time nor Windows attributes, so the double keeps
// them per file. Files are known by device and inode, which a rename keeps, so
// moving a file keeps its creation time and attributes as on Windows.
struct FileKey {
  uint64_t dev;
  uint64_t ino;
  bool operator<(const FileKey& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};
FileKey KeyOf(const struct stat& st);
// Windows attributes of an existing file or directory.
DWORD AttributesOf(const struct stat& st);
// True when the file may not be written, replaced or deleted.
bool IsReadOnly(const struct stat& st);
// Records the attributes of a file (FILE_ATTRIBUTE_NORMAL or 0 means none) and
// mirrors the read-only bit into the host permissions.
void StoreAttributes(const std::string& hostPath, const struct stat& st, DWORD attributes);
// Creation time of a file (100 ns units since 1601); recorded, or the host's
// birth time, or its write time when the host has none.
uint64_t CreationTimeOf(const std::string& hostPath, const struct stat& st);
void StoreCreationTime(const struct stat& st, uint64_t time);
// A file deleted from the double's view: forget what was recorded for it.
void ForgetFile(const struct stat& st);
// True when some open handle to the file refuses `deleteAccess`.
bool DeleteBlockedBySharing(const struct stat& st);

uint64_t NowAsFileTime();
uint64_t FileTimeFromTimespec(const struct timespec& ts);
struct timespec TimespecFromFileTime(uint64_t time);

// Maps errno to the Windows code that the same failure gives there.
DWORD ErrorFromErrno(int err, bool parentMissing);

// ---- Handles ----------------------------------------------------------------
void SetError(DWORD code);

// Text helpers shared by the pieces. Only ASCII letters fold to lower case,
// and never the second byte of a double-byte character.
std::string FoldCase(const std::string& s);
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace detail
}  // namespace scripted
