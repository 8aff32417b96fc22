// A file mapped read-only into memory, for reading archives and updater
// executables in place: a 512 MiB stored entry is then written straight from
// the page cache, and the tool's memory stays a few megabytes whatever the
// archive's size, instead of the whole file read into the heap first.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace wz2 {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { Close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& other) noexcept { Take(&other); }
  MappedFile& operator=(MappedFile&& other) noexcept {
    if (this != &other) {
      Close();
      Take(&other);
    }
    return *this;
  }

  // Maps the whole file; false with a one-line reason. An empty file is
  // opened with no mapping: Data() is null and Size() is 0.
  bool Open(const std::filesystem::path& path, std::string* error);
  void Close();

  const uint8_t* Data() const { return data_; }
  uint64_t Size() const { return size_; }
#ifndef _WIN32
  // The open file behind the mapping, for windows of it mapped on their own
  // (a stored entry's copy); -1 when nothing is open.
  int Descriptor() const { return fd_; }
#endif

 private:
  void Take(MappedFile* other);

  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
#ifdef _WIN32
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace wz2
