// Builds archive images in tests, through the same writer the publisher's
// tool uses (ArchiveWriter), with raw entries and hooks to damage the result
// on purpose.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "support/archive_image.h"

// 2026-01-02 03:04:05 UTC as a FILETIME: a time no host clock produces by
// accident.
#define ARCHIVE_TEST_TIME 0x01DC7B9474400080ull

class ArchiveBuilder {
 public:
  ArchiveBuilder& Stored(const std::string& name, const std::string& data, uint64_t time = ARCHIVE_TEST_TIME) {
    return Add(name, data, EntryStorage::Stored, time);
  }
  ArchiveBuilder& Compressed(const std::string& name, const std::string& data,
                             uint64_t time = ARCHIVE_TEST_TIME) {
    return Add(name, data, EntryStorage::Compressed, time);
  }
  ArchiveBuilder& Add(const std::string& name, const std::string& data, EntryStorage storage,
                      uint64_t time = ARCHIVE_TEST_TIME);
  // An entry laid out exactly as given, unchecked: `stored` as its data and
  // `record` as its directory record, whatever they claim.
  ArchiveBuilder& Raw(const ArchiveEntry& record, const std::string& stored);
  ArchiveBuilder& CompressDirectory(bool on = true) {
    options_.compressDirectory = on;
    return *this;
  }
  ArchiveBuilder& Level(CompressLevel level) {
    options_.level = level;
    return *this;
  }
  // The archive's bytes; fails the current test when the writer refuses.
  std::vector<uint8_t> Build() const;
  std::string BuildString() const;

 private:
  struct Item {
    ArchiveInput input;
    bool raw = false;
    ArchiveEntry record{};
  };
  std::vector<Item> entries_;
  ArchiveLayoutOptions options_;
};

// Little-endian field access on a built image, for tests that damage or
// inspect one.
uint32_t ReadLe32(const std::vector<uint8_t>& image, size_t offset);
void WriteLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value);
