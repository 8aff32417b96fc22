#include "support/archive_builder.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "archive/bytes.h"

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

std::vector<uint8_t> ArchiveBuilder::Build() const {
  MemorySink sink;
  RawArchiveWriter writer(sink, options_);
  std::string error;
  bool ok = writer.Begin(&error);
  for (const Item& item : entries_) {
    const ArchiveInput& in = item.input;
    ok = ok && (item.raw ? writer.AddRaw(item.record, in.data.data(), in.data.size(), &error)
                         : writer.Add(in.name, in.data.data(), in.data.size(), in.fileTime, in.storage, &error));
  }
  ok = ok && writer.Finish(&error);
  EXPECT_TRUE(ok) << error;
  return sink.bytes;
}

std::string ArchiveBuilder::BuildString() const {
  std::vector<uint8_t> image = Build();
  return std::string(image.begin(), image.end());
}

// Bounds checked here, as at() did for each byte: a test's offset past the
// image fails the test rather than reading beyond it.
uint32_t ReadLe32(const std::vector<uint8_t>& image, size_t offset) {
  if (offset > image.size() || image.size() - offset < 4) throw std::out_of_range("ReadLe32 past the image");
  return Load32(image.data() + offset);
}

void WriteLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
  if (offset > image.size() || image.size() - offset < 4) throw std::out_of_range("WriteLe32 past the image");
  Store32(image.data() + offset, value);
}
