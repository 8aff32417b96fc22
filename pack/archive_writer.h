// Writes archives: header, each entry's data padded to 16 bytes, then the
// directory, plain or as one compressed block. One streaming writer serves
// the publisher's tool (into a file, an entry at a time) and the in-memory
// images of the tests (tests/support/archive_image.h).
//
// Writing side only (the publisher's tool and tests); it may use the STL.
// The output depends only on the inputs, so the same entries always give the
// same bytes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/entry_name.h"
#include "pack/compress.h"
#include "pack/names.h"

enum class EntryStorage {
  Stored,      // the bytes as they are (ENTRY_STORED)
  Compressed,  // one compressed block (ENTRY_COMPRESSED), even if it is larger
  Smaller,     // compressed when that makes it smaller, stored otherwise
};

struct ArchiveLayoutOptions {
  CompressLevel level = CompressLevel::Default;
  bool compressDirectory = false;
  unsigned threads = 1;  // compressor threads; the bytes written never depend on it
};

// The 16 header bytes as they stand in the archive.
void SerializeArchiveHeader(const ArchiveHeader& header, uint8_t out[ARCHIVE_HEADER_SIZE]);

// Where a streaming archive goes: its bytes in order, then the header once
// more in its place at offset 0, when the directory's offset is known.
class ArchiveSink {
 public:
  virtual ~ArchiveSink() = default;
  virtual bool Append(const uint8_t* data, size_t size, std::string* error) = 0;
  virtual bool WriteHeader(const uint8_t header[ARCHIVE_HEADER_SIZE], std::string* error) = 0;
  // Cuts the archive back to its first `size` bytes: a block streamed out
  // that turned out no smaller than its entry is taken back.
  virtual bool Truncate(uint64_t size, std::string* error) = 0;
};

// Begin, Add for every entry in directory order, Finish. Every refusal
// names the reason in *error in one line and leaves the writer failed: the
// archive written so far must be discarded.
class ArchiveWriter {
 public:
  ArchiveWriter(ArchiveSink& sink, const ArchiveLayoutOptions& options) : sink_(sink), options_(options) {}
  bool Begin(std::string* error);
  // Adds an entry of fileTime (FILETIME as one 64-bit number). Refused: a
  // name the updater cannot look up (empty, over 14 bytes, a NUL or a
  // directory part), a name equal to an earlier one as the updater compares
  // names, 4 GiB or more of data, an archive passing 32-bit offsets, a block
  // that would not expand back to the data. *compressed tells how it went in.
  bool Add(const std::string& name, const uint8_t* data, size_t size, uint64_t fileTime, EntryStorage storage,
           std::string* error, bool* compressed = nullptr);
  bool Finish(std::string* error);

  size_t EntryCount() const { return names_.size(); }
  uint64_t Size() const { return offset_; }  // bytes written so far

 protected:
  // The layout every entry gets, whatever its data: its bytes, zeros up to
  // the next 16-byte boundary, and its record in the directory. (Tests lay
  // out damaged entries through these.)
  bool Put(const uint8_t* data, size_t size, std::string* error);
  bool PutPadding(uint64_t storedSize, std::string* error);
  void AddRecord(const ArchiveEntry& record);

 private:
  class BlockSink;
  bool PutBlock(const uint8_t* data, size_t size, uint64_t limit, bool* compressed, std::string* error);
  bool Fail(const std::string& why, std::string* error);

  ArchiveSink& sink_;
  ArchiveLayoutOptions options_;
  std::vector<std::string> names_;
  names::EntryNameIndex index_;  // names_, as the updater compares them
  std::vector<uint8_t> records_;
  uint64_t offset_ = 0;
  std::string at_;  // what is being written, for the 32-bit offsets refusal
  bool failed_ = false;
};
