#include "support/archive_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

ArchiveBuilder& ArchiveBuilder::Add(const std::string& name, const std::string& data, EntryStorage storage,
                                    uint64_t time) {
  Item item;
  item.input.name = name;
  item.input.data.assign(data.begin(), data.end());
  item.input.fileTime = time;
  item.input.storage = storage;
  entries_.push_back(item);
  return *this;
}

ArchiveBuilder& ArchiveBuilder::Raw(const ArchiveEntry& record, const std::string& stored) {
  Item item;
  item.raw = true;
  item.record = record;
  item.input.data.assign(stored.begin(), stored.end());
  entries_.push_back(item);
  return *this;
}

namespace {

class ImageSink : public ArchiveSink {
 public:
  bool Append(const uint8_t* data, size_t size, std::string*) override {
    image.insert(image.end(), data, data + size);
    return true;
  }
  bool WriteHeader(const uint8_t header[ARCHIVE_HEADER_SIZE], std::string*) override {
    std::copy(header, header + ARCHIVE_HEADER_SIZE, image.begin());
    return true;
  }
  bool Truncate(uint64_t size, std::string*) override {
    image.resize((size_t)size);
    return true;
  }
  std::vector<uint8_t> image;
};

}  // namespace

std::vector<uint8_t> ArchiveBuilder::Build() const {
  ImageSink sink;
  ArchiveWriter writer(sink, options_);
  std::string error;
  bool ok = writer.Begin(&error);
  for (const Item& item : entries_) {
    const ArchiveInput& in = item.input;
    ok = ok && (item.raw ? writer.AddRaw(item.record, in.data.data(), in.data.size(), &error)
                         : writer.Add(in.name, in.data.data(), in.data.size(), in.fileTime, in.storage, &error));
  }
  ok = ok && writer.Finish(&error);
  EXPECT_TRUE(ok) << error;
  return sink.image;
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
