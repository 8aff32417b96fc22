// Read-only file mappings per host. The mapping, not a copy, is what the
// tool reads archive data from; the file handle stays open with the mapping
// and both are closed together (on POSIX the descriptor also serves the
// windows through which a stored entry is copied).
#include "tools/wz2/mapped_file.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace wz2 {

void MappedFile::Take(MappedFile* other) {
  data_ = other->data_;
  size_ = other->size_;
  other->data_ = nullptr;
  other->size_ = 0;
#ifndef _WIN32
  fd_ = other->fd_;
  other->fd_ = -1;
#endif
#ifdef _WIN32
  file_ = other->file_;
  mapping_ = other->mapping_;
  other->file_ = INVALID_HANDLE_VALUE;
  other->mapping_ = nullptr;
#endif
}

#ifdef _WIN32

bool MappedFile::Open(const std::filesystem::path& path, std::string* error) {
  Close();
  std::string where = path.u8string();
  file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    *error = where + ": cannot open (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  // A device or a pipe has no size to map and would be read without end.
  if (GetFileType(file_) != FILE_TYPE_DISK) {
    *error = where + ": not a regular file";
    Close();
    return false;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_, &size)) {
    *error = where + ": cannot read its size (error " + std::to_string(GetLastError()) + ")";
    Close();
    return false;
  }
  size_ = (uint64_t)size.QuadPart;
  if (size_ == 0) return true;  // nothing to map; a mapping of 0 bytes is refused
  if (size_ > (uint64_t)SIZE_MAX) {
    *error = where + ": too large to map";
    Close();
    return false;
  }
  mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping_) {
    *error = where + ": cannot map (error " + std::to_string(GetLastError()) + ")";
    Close();
    return false;
  }
  data_ = (const uint8_t*)MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
  if (!data_) {
    *error = where + ": cannot map (error " + std::to_string(GetLastError()) + ")";
    Close();
    return false;
  }
  return true;
}

void MappedFile::Close() {
  if (data_) UnmapViewOfFile(data_);
  if (mapping_) CloseHandle(mapping_);
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  data_ = nullptr;
  mapping_ = nullptr;
  file_ = INVALID_HANDLE_VALUE;
  size_ = 0;
}

#else

bool MappedFile::Open(const std::filesystem::path& path, std::string* error) {
  Close();
  std::string where = path.u8string();
  // O_NONBLOCK so that a FIFO named as an archive is refused below instead
  // of waiting for a writer; it is cleared again for the file.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = where + ": " + strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = where + ": " + strerror(errno);
    close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = where + ": not a regular file";
    close(fd);
    return false;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (st.st_size == 0) {  // nothing to map; a mapping of 0 bytes is refused
    close(fd);
    return true;
  }
  if ((uint64_t)st.st_size > (uint64_t)SIZE_MAX) {
    *error = where + ": too large to map";
    close(fd);
    return false;
  }
  void* p = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    *error = where + ": cannot map: " + strerror(errno);
    close(fd);
    return false;
  }
  fd_ = fd;
  // Entries are read front to back once: let the kernel read ahead and drop
  // pages behind.
  madvise(p, (size_t)st.st_size, MADV_SEQUENTIAL);
  data_ = (const uint8_t*)p;
  size_ = (uint64_t)st.st_size;
  return true;
}

void MappedFile::Close() {
  if (data_) munmap(const_cast<uint8_t*>(data_), (size_t)size_);
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  data_ = nullptr;
  size_ = 0;
}

#endif

}  // namespace wz2
