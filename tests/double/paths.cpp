// Drive letters, Windows path resolution, the temporary path and the drive
// queries (type and free space).
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <map>

#include "double/internal.h"

namespace {

struct Drive {
  std::string folder;
  UINT type = DRIVE_FIXED;
  bool spaceSet = false;
  uint64_t freeToCaller = 0;
  uint64_t total = 0;
  uint64_t totalFree = 0;
  bool failSpace = false;
};

const uint64_t kTiB = 1024ull * 1024 * 1024 * 1024;

std::map<char, Drive> g_drives;
scripted::detail::WinPath g_current;  // drive C's root until a test says otherwise
std::string g_tempPath;

char UpperLetter(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 32);
  return c;
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

void DefaultState() {
  g_drives.clear();
  g_current = scripted::detail::WinPath();
  g_current.drive = 'C';
  g_tempPath = "C:\\TEMP\\";
}

struct Init {
  Init() { DefaultState(); }
} g_init;

// Windows drops trailing dots and spaces of a name ("A.DAT." is "A.DAT").
std::string TrimComponent(const std::string& c) {
  if (c == "." || c == "..") return c;
  size_t n = c.size();
  while (n > 0 && (c[n - 1] == '.' || c[n - 1] == ' ')) --n;
  return c.substr(0, n);
}

bool ValidComponent(const std::string& c) {
  for (size_t i = 0; i < c.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(c[i]);
    if (IsDBCSLeadByte(b) && i + 1 < c.size()) {
      ++i;
      continue;
    }
    if (b < 0x20 || std::strchr("<>:\"|?*", b) != nullptr) return false;
  }
  return true;
}

bool Apply(scripted::detail::WinPath* path, const char* rest, DWORD* error) {
  std::string part;
  for (const char* p = rest;; ++p) {
    unsigned char b = static_cast<unsigned char>(*p);
    if (b == 0 || IsSeparator(*p)) {
      std::string c = TrimComponent(part);
      part.clear();
      if (c == "..") {
        if (!path->components.empty()) path->components.pop_back();
      } else if (!c.empty() && c != ".") {
        if (!ValidComponent(c)) {
          *error = ERROR_INVALID_NAME;
          return false;
        }
        path->components.push_back(c);
      }
      if (b == 0) break;
      continue;
    }
    part += *p;
    // The byte after a lead byte belongs to the same character, so a 0x5C
    // there (as in the katakana 0x83 0x5C) is not a separator.
    if (IsDBCSLeadByte(b) && p[1] != 0) part += *++p;
  }
  return true;
}

// Parses without looking at drive mappings, so the current directory can be
// set before its drive is mapped.
bool ParseSyntax(const char* name, size_t limit, scripted::detail::WinPath* out, DWORD* error) {
  if (name == nullptr || name[0] == 0) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (std::strlen(name) >= limit) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  const char* rest = name;
  scripted::detail::WinPath path;
  if (IsLetter(name[0]) && name[1] == ':') {
    path.drive = UpperLetter(name[0]);
    rest = name + 2;
    if (!IsSeparator(rest[0]) && path.drive == g_current.drive) path = g_current;
  } else if (IsSeparator(name[0])) {
    if (IsSeparator(name[1])) {  // \\server\share: no network on this host
      *error = ERROR_BAD_NETPATH;
      return false;
    }
    path.drive = g_current.drive;
  } else {
    path = g_current;
  }
  if (!Apply(&path, rest, error)) return false;
  *out = path;
  return true;
}

// Host name of the entry of `dir` called `name`, matched without ASCII case
// when no exact entry exists; `name` itself when there is none at all.
std::string MatchEntry(const std::string& dir, const std::string& name) {
  struct stat st;
  if (lstat((dir + "/" + name).c_str(), &st) == 0) return name;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return name;
  std::string found = name;
  while (struct dirent* e = readdir(d)) {
    if (scripted::detail::EqualNoCase(e->d_name, name)) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

// Splits a 64-bit byte count into Windows' cluster figures. The cluster size
// is the largest power of two up to 4 KiB that divides both counts, so that
// clusters times cluster size gives the configured bytes exactly; counts that
// still do not fit 32 bits are capped, as Windows caps them for this old call.
void ToClusters(uint64_t freeBytes, uint64_t totalBytes, DWORD* spc, DWORD* bps, DWORD* freeClusters,
                DWORD* totalClusters) {
  uint64_t cluster = 4096;
  while (cluster > 1 && ((freeBytes % cluster) != 0 || (totalBytes % cluster) != 0)) cluster /= 2;
  DWORD sectorSize = cluster >= 512 ? 512u : static_cast<DWORD>(cluster);
  DWORD sectors = static_cast<DWORD>(cluster / sectorSize);
  uint64_t fc = freeBytes / cluster;
  uint64_t tc = totalBytes / cluster;
  if (spc) *spc = sectors;
  if (bps) *bps = sectorSize;
  if (freeClusters) *freeClusters = fc > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(fc);
  if (totalClusters) *totalClusters = tc > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(tc);
}

// The drive a free-space root names: "X:", "X:\", any path on the drive, or
// NULL for the current drive.
const Drive* SpaceDrive(LPCSTR root, char* letter) {
  char l = g_current.drive;
  if (root != nullptr) {
    scripted::detail::WinPath p;
    DWORD error = 0;
    if (!ParseSyntax(root, MAX_PATH, &p, &error)) {
      SetLastError(error);
      return nullptr;
    }
    l = p.drive;
  }
  auto it = g_drives.find(l);
  if (it == g_drives.end() || it->second.folder.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if (it->second.failSpace) {
    SetLastError(ERROR_NOT_READY);
    return nullptr;
  }
  *letter = l;
  return &it->second;
}

void SpaceOf(const Drive& d, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree) {
  if (d.spaceSet) {
    *freeToCaller = d.freeToCaller;
    *total = d.total;
    *totalFree = d.totalFree;
  } else {
    *freeToCaller = kTiB;
    *total = 2 * kTiB;
    *totalFree = kTiB;
  }
}

}  // namespace

namespace scripted {

namespace detail {

void ResetPaths() { DefaultState(); }

bool ParseWindowsPath(const char* name, WinPath* out, DWORD* error) {
  return ParseWindowsPathLimited(name, MAX_PATH, out, error);
}

bool ParseWindowsPathLimited(const char* name, size_t limit, WinPath* out, DWORD* error) {
  if (!ParseSyntax(name, limit, out, error)) return false;
  auto it = g_drives.find(out->drive);
  if (it == g_drives.end() || it->second.folder.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  return true;
}

std::string ToHostPath(const WinPath& path) {
  auto it = g_drives.find(path.drive);
  if (it == g_drives.end() || it->second.folder.empty()) return "";
  std::string result = it->second.folder;
  for (const std::string& c : path.components) result += "/" + MatchEntry(result, c);
  return result;
}

bool ResolveHostPath(const char* name, std::string* hostPath) {
  WinPath p;
  DWORD error = 0;
  if (!ParseWindowsPath(name, &p, &error)) {
    SetLastError(error);
    return false;
  }
  *hostPath = ToHostPath(p);
  return true;
}

std::string ParentOf(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return hostPath.substr(0, slash);
}

std::string DriveFolder(char letter) {
  auto it = g_drives.find(UpperLetter(letter));
  return it == g_drives.end() ? std::string() : it->second.folder;
}

UINT DriveType(char letter) {
  auto it = g_drives.find(UpperLetter(letter));
  if (it == g_drives.end() || it->second.folder.empty()) return DRIVE_NO_ROOT_DIR;
  return it->second.type;
}

}  // namespace detail

void MapDrive(char letter, const std::string& hostFolder, UINT driveType) {
  std::string folder = hostFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  Drive& d = g_drives[UpperLetter(letter)];
  d.folder = folder;
  d.type = driveType;
}

void SetCurrentDirectory(const std::string& windowsPath) {
  detail::WinPath p;
  DWORD error = 0;
  if (ParseSyntax(windowsPath.c_str(), MAX_PATH, &p, &error)) g_current = p;
}

std::string HostPath(const std::string& windowsPath) {
  detail::WinPath p;
  DWORD error = 0;
  if (!detail::ParseWindowsPath(windowsPath.c_str(), &p, &error)) return "";
  return detail::ToHostPath(p);
}

void SetFreeSpace(char letter, uint64_t freeToCaller, uint64_t total, uint64_t totalFree) {
  Drive& d = g_drives[UpperLetter(letter)];
  d.spaceSet = true;
  d.freeToCaller = freeToCaller;
  d.total = total;
  d.totalFree = totalFree;
}

void FailFreeSpace(char letter, bool fail) { g_drives[UpperLetter(letter)].failSpace = fail; }

void SetTempPath(const std::string& windowsPath) { g_tempPath = windowsPath; }

}  // namespace scripted

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  DWORD length = static_cast<DWORD>(g_tempPath.size());
  if (length == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  // Too small a buffer: the size needed, terminator included, as on Windows.
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, g_tempPath.c_str(), length + 1);
  return length;
}

UINT GetDriveTypeA(LPCSTR root) {
  char letter = g_current.drive;
  if (root != nullptr) {
    bool rootForm = IsLetter(root[0]) && root[1] == ':' &&
                    (root[2] == 0 || (IsSeparator(root[2]) && root[3] == 0));
    if (!rootForm) return DRIVE_NO_ROOT_DIR;
    letter = UpperLetter(root[0]);
  }
  auto it = g_drives.find(letter);
  // A drive letter that was mapped by a free-space setting alone has no folder.
  if (it == g_drives.end() || it->second.folder.empty()) return DRIVE_NO_ROOT_DIR;
  return it->second.type;
}

BOOL GetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                       LPDWORD totalClusters) {
  char letter = 0;
  const Drive* d = SpaceDrive(root, &letter);
  if (d == nullptr) return FALSE;
  uint64_t freeToCaller, total, totalFree;
  SpaceOf(*d, &freeToCaller, &total, &totalFree);
  ToClusters(freeToCaller, total, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
  return TRUE;
}

BOOL GetDiskFreeSpaceExA(LPCSTR root, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree) {
  char letter = 0;
  const Drive* d = SpaceDrive(root, &letter);
  if (d == nullptr) return FALSE;
  uint64_t f, t, tf;
  SpaceOf(*d, &f, &t, &tf);
  if (freeToCaller) freeToCaller->QuadPart = f;
  if (total) total->QuadPart = t;
  if (totalFree) totalFree->QuadPart = tf;
  return TRUE;
}

DWORD GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* nameStart) {
  // Text only, as on Windows: the drive need not be mapped nor the path
  // exist. Trailing dots and spaces of names go, "." and ".." are applied.
  scripted::detail::WinPath p;
  DWORD error = 0;
  if (!ParseSyntax(name, MAX_PATH, &p, &error)) {
    SetLastError(error);
    return 0;
  }
  std::string full = std::string(1, p.drive) + ":\\";
  for (size_t i = 0; i < p.components.size(); ++i) full += (i ? "\\" : "") + p.components[i];
  // A name that ends in a separator names a folder and keeps it; a trail
  // byte 0x5C is no separator.
  bool endsInSeparator = false;
  for (const char* c = name; *c; ++c) {
    endsInSeparator = IsSeparator(*c);
    if (IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1]) ++c;
  }
  bool folder = p.components.empty() || endsInSeparator;
  if (!p.components.empty() && endsInSeparator) full += "\\";
  if (buffer == nullptr || size <= full.size()) return static_cast<DWORD>(full.size() + 1);
  std::memcpy(buffer, full.c_str(), full.size() + 1);
  if (nameStart != nullptr) *nameStart = folder ? nullptr : buffer + full.size() - p.components.back().size();
  return static_cast<DWORD>(full.size());
}
