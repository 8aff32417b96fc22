// Lays out a whole archive in memory: header, each entry's data padded to 16
// bytes, then the directory, plain or as one compressed block.
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

enum class EntryStorage {
  Stored,      // the bytes as they are (ENTRY_STORED)
  Compressed,  // one compressed block (ENTRY_COMPRESSED), even if it is larger
  Smaller,     // compressed when that makes it smaller, stored otherwise
};

struct ArchiveInput {
  std::string name;  // code page 932 bytes, 1 to 14 of them, no directory part
  std::vector<uint8_t> data;
  uint64_t fileTime = 0;  // FILETIME as one 64-bit number
  EntryStorage storage = EntryStorage::Smaller;
};

struct ArchiveLayoutOptions {
  CompressLevel level = CompressLevel::Default;
  bool compressDirectory = false;
};

// Appends the archive to `out` and returns true, or returns false with a
// one-line reason in *error (a bad or duplicate name, an entry or archive
// beyond 32-bit sizes); `out` is then unchanged.
bool WriteArchive(const std::vector<ArchiveInput>& entries, const ArchiveLayoutOptions& options,
                  std::vector<uint8_t>& out, std::string* error);
