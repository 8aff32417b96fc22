#include "support/archive_builder.h"

#include <gtest/gtest.h>

ArchiveBuilder& ArchiveBuilder::Add(const std::string& name, const std::string& data, EntryStorage storage,
                                    uint64_t time) {
  ArchiveInput e;
  e.name = name;
  e.data.assign(data.begin(), data.end());
  e.fileTime = time;
  e.storage = storage;
  entries_.push_back(e);
  return *this;
}

std::vector<uint8_t> ArchiveBuilder::Build() const {
  std::vector<uint8_t> image;
  std::string error;
  bool ok = WriteArchive(entries_, options_, image, &error);
  EXPECT_TRUE(ok) << error;
  return image;
}

std::string ArchiveBuilder::BuildString() const {
  std::vector<uint8_t> image = Build();
  return std::string(image.begin(), image.end());
}

uint32_t ReadLe32(const std::vector<uint8_t>& image, size_t offset) {
  return (uint32_t)image.at(offset) | (uint32_t)image.at(offset + 1) << 8 | (uint32_t)image.at(offset + 2) << 16 |
         (uint32_t)image.at(offset + 3) << 24;
}

void WriteLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
  image.at(offset) = (uint8_t)value;
  image.at(offset + 1) = (uint8_t)(value >> 8);
  image.at(offset + 2) = (uint8_t)(value >> 16);
  image.at(offset + 3) = (uint8_t)(value >> 24);
}
