#include "support/archive_image.h"

#include <string.h>

bool MemorySink::Append(const uint8_t* data, size_t size, std::string*) {
  bytes.insert(bytes.end(), data, data + size);
  return true;
}

bool MemorySink::WriteHeader(const uint8_t header[ARCHIVE_HEADER_SIZE], std::string*) {
  memcpy(bytes.data(), header, ARCHIVE_HEADER_SIZE);
  return true;
}

bool MemorySink::Truncate(uint64_t size, std::string*) {
  bytes.resize((size_t)size);
  return true;
}

bool RawArchiveWriter::AddRaw(const ArchiveEntry& record, const uint8_t* stored, size_t storedSize,
                              std::string* error) {
  if (!Put(stored, storedSize, error) || !PutPadding(storedSize, error)) return false;
  AddRecord(record);
  return true;
}

bool WriteArchive(const std::vector<ArchiveInput>& entries, const ArchiveLayoutOptions& options,
                  std::vector<uint8_t>& out, std::string* error) {
  MemorySink sink;
  ArchiveWriter writer(sink, options);
  if (!writer.Begin(error)) return false;
  for (const ArchiveInput& e : entries)
    if (!writer.Add(e.name, e.data.data(), e.data.size(), e.fileTime, e.storage, error)) return false;
  if (!writer.Finish(error)) return false;
  out.insert(out.end(), sink.bytes.begin(), sink.bytes.end());
  return true;
}
