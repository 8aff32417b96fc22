// The host's files as the tool meets them. Files go through
// std::filesystem paths so that names outside the ANSI code page work on
// Windows; the few calls the standard library lacks are made per host.
#include "tools/wz2/files.h"

#include <errno.h>
#include <string.h>

#include <system_error>

#include "tools/wz2/messages.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace wz2 {

std::string SystemError(int code) { return std::error_code(code, std::generic_category()).message(); }

fs::path PathFromUtf8(const std::string& utf8) { return fs::u8path(utf8); }

std::string PathToUtf8(const fs::path& path) { return path.u8string(); }

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return (unsigned long)getpid();
#endif
}

FILE* OpenPath(const fs::path& path, const char* mode) {
#ifdef _WIN32
  std::wstring wmode(mode, mode + strlen(mode));
  return _wfopen(path.c_str(), wmode.c_str());
#else
  return fopen(path.c_str(), mode);
#endif
}

FILE* OpenRegularFile(const fs::path& path, uint64_t* size, std::string* error) {
#ifdef _WIN32
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    *error = PathToUtf8(path) + ": is a directory";
    return nullptr;
  }
  FILE* f = OpenPath(path, "rb");
  if (!f) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    return nullptr;
  }
  HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
  LARGE_INTEGER length;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &length)) {
    *error = PathToUtf8(path) + ": not a regular file";
    fclose(f);
    return nullptr;
  }
  *size = (uint64_t)length.QuadPart;
  return f;
#else
  // Without O_NONBLOCK the open of a FIFO waits for a writer that may never
  // come; opened so, it is refused below like every other non-file.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    close(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = PathToUtf8(path) + (S_ISDIR(st.st_mode) ? ": is a directory" : ": not a regular file");
    close(fd);
    return nullptr;
  }
  // Reads of a regular file never wait; the flag served the open alone.
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (!f) {
    *error = PathToUtf8(path) + ": " + SystemError(errno);
    close(fd);
    return nullptr;
  }
  *size = (uint64_t)st.st_size;
  return f;
#endif
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  uint64_t expected = 0;
  FILE* f = OpenRegularFile(path, &expected, error);
  if (!f) return false;
  if (expected > (uint64_t)SIZE_MAX) {
    fclose(f);
    *error = PathToUtf8(path) + ": too large to read";
    return false;
  }
  // Exactly the size the file had when it was opened, read straight into a
  // buffer of that size: a file that grows while it is read is never
  // followed (it could grow without end), and one byte more, or fewer than
  // that size, means it changed.
  out->resize((size_t)expected);
  size_t done = 0;
  while (done < out->size()) {
    size_t n = fread(out->data() + done, 1, out->size() - done, f);
    if (n == 0) break;
    done += n;
  }
  uint8_t more;
  bool changed = done != out->size() || fread(&more, 1, 1, f) != 0;
  bool bad = ferror(f) != 0;
  fclose(f);
  if (bad) {
    *error = PathToUtf8(path) + ": read error";
    return false;
  }
  if (changed) {
    *error = PathToUtf8(path) + ": file changed while it was read";
    return false;
  }
  return true;
}

#ifdef _WIN32
// The target as it is, its links and reparse points not followed: a link,
// folder or device is named; "" for a plain file or none at all.
static std::string TargetKind(const fs::path& target, std::string* failure) {
  HANDLE h = CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
      *failure = "cannot look at it (error " + std::to_string(code) + ")";
    return "";
  }
  DWORD type = GetFileType(h);
  BY_HANDLE_FILE_INFORMATION info;
  BOOL known = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (type != FILE_TYPE_DISK) return "a device";
  if (!known) return "";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a link";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return "a device";
  return "";
}
#else
static std::string TargetKind(const fs::path& target, std::string* failure) {
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) *failure = SystemError(errno);
    return "";
  }
  if (S_ISREG(st.st_mode)) return "";
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a device";
}
#endif

bool ReplaceableTarget(const fs::path& target, std::string* error) {
  std::string failure;
  std::string kind = TargetKind(target, &failure);
  if (!failure.empty()) {
    *error = PathToUtf8(target) + ": " + failure;
    return false;
  }
  if (kind.empty()) return true;
  *error = PathToUtf8(target) + ": exists and is not a regular file (" + kind + "); it is not replaced";
  return false;
}

int CheckOutputOption(const std::string& output) {
  if (output == "-")
    return UsageError("-o - is not standard output: archives and updaters are written only to files (./- names a file '-')");
  std::string error;
  if (!ReplaceableTarget(PathFromUtf8(output), &error)) return Fail(error);
  return EXIT_DONE;
}

}  // namespace wz2
