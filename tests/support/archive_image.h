// Archives written whole in memory, for tests and for the fuzz targets'
// seeds: the one in-memory sink, the writer's entries as data, and a writer
// that also lays out raw entries, whatever their records claim.
//
// No GoogleTest here: the seed writer links this without it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/archive_writer.h"

// An archive in memory: the header's place is the vector's first 16 bytes.
class MemorySink : public ArchiveSink {
 public:
  bool Append(const uint8_t* data, size_t size, std::string* error) override;
  bool WriteHeader(const uint8_t header[ARCHIVE_HEADER_SIZE], std::string* error) override;
  bool Truncate(uint64_t size, std::string* error) override;
  std::vector<uint8_t> bytes;
};

// The writer with one more way in, for archives damaged on purpose.
class RawArchiveWriter : public ArchiveWriter {
 public:
  using ArchiveWriter::ArchiveWriter;
  // Lays out `stored` and appends `record` exactly as given, unchecked.
  bool AddRaw(const ArchiveEntry& record, const uint8_t* stored, size_t storedSize, std::string* error);
};

struct ArchiveInput {
  std::string name;  // code page 932 bytes, 1 to 14 of them, no directory in it
  std::vector<uint8_t> data;
  uint64_t fileTime = 0;  // FILETIME as one 64-bit number
  EntryStorage storage = EntryStorage::Smaller;
};

// The whole archive in memory: appends it to `out` and returns true, or
// returns false with the writer's reason in *error; `out` is then unchanged.
bool WriteArchive(const std::vector<ArchiveInput>& entries, const ArchiveLayoutOptions& options,
                  std::vector<uint8_t>& out, std::string* error);
