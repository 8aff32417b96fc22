// Output files written next to their final place and renamed over it at
// the end, so that a failure never leaves a partial or damaged file behind;
// an interrupted run removes its pending files, and the next run into a
// folder removes those a killed run left there.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <string>

#include "platform/win.h"

namespace wz2 {

namespace fs = std::filesystem;

// Removes pending temporary files when the tool is interrupted (SIGINT,
// SIGTERM, SIGHUP on POSIX hosts), then ends as the signal would.
void InstallInterruptCleanup();

class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();  // removes the temporary file unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  PendingFile(PendingFile&& other) noexcept;
  bool Open(const fs::path& target, std::string* error);
  bool Write(const void* data, size_t size, std::string* error);
  // Appends size bytes that stand at offset in the open file source and, the
  // same bytes, at mapped in memory. On Linux they are written from bounded,
  // pre-faulted windows of source; elsewhere, or where that cannot be had,
  // from the mapping the caller holds.
  bool CopyRange(int source, uint64_t offset, const void* mapped, size_t size, std::string* error);
  bool WriteAt(uint64_t offset, const void* data, size_t size, std::string* error);
  // Cuts the file back to its first size bytes; writing goes on from there.
  bool Truncate(uint64_t size, std::string* error);
  uint64_t Size() const { return size_; }
  // Whether Close forces the bytes to disk before the rename (default yes).
  // An archive is the artifact a release ships, so it is synced; extracted
  // files can always be made again from their archive, and like cp they are
  // left to the kernel's write-back, which more than triples their speed.
  void SetDurable(bool durable) { durable_ = durable; }
  // Flushes and closes the temporary file (it stays pending); Commit does
  // this itself when it was not done.
  bool Close(std::string* error);
  // Stamps the time (when given) and renames the file into place.
  bool Commit(const FILETIME* modified, std::string* error);
  void Discard();
  const fs::path& Target() const { return target_; }
  // The temporary file's path: what was written is read back from it after
  // Close and before Commit.
  const fs::path& TempPath() const { return temp_; }

 private:
  fs::path target_, temp_;
  FILE* file_ = nullptr;
  uint64_t size_ = 0;
  bool durable_ = true;
  struct TempNode* node_ = nullptr;  // this file's place in the interrupt list
};

}  // namespace wz2
