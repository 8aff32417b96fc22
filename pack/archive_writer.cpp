#include "pack/archive_writer.h"

#include <string.h>

#include "archive/bytes.h"

namespace {

// A name the updater can look up and write: non-empty, fits its field with
// the terminating NUL, no NUL inside, and no directory part. The second
// byte of a double-byte character is part of the character, whatever ASCII
// it looks like (ソ is 83 5C).
bool CheckName(const std::string& name, std::string* error) {
  if (name.empty()) {
    *error = "an entry has an empty name";
    return false;
  }
  if (name.size() > ARCHIVE_NAME_FIELD - 1) {
    *error = "entry name longer than 14 bytes: " + name;
    return false;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (IsDBCSLeadByte((BYTE)c) && i + 1 < name.size() && name[i + 1] != '\0') {
      ++i;
      continue;
    }
    if (c == '\0' || c == '\\' || c == '/' || c == ':') {
      *error = "entry name is not a bare file name: " + name;
      return false;
    }
  }
  return true;
}

// The largest value of a 32-bit size or offset field.
const uint64_t kField32 = 0xFFFFFFFFull;

void SerializeEntry(const ArchiveEntry& e, uint8_t* r) {
  memset(r, 0, ARCHIVE_ENTRY_SIZE);
  memcpy(r, e.name, ARCHIVE_NAME_FIELD);
  r[offsetof(ArchiveEntry, attributes)] = e.attributes;
  Store32(r + offsetof(ArchiveEntry, fileTime), e.fileTime.dwLowDateTime);
  Store32(r + offsetof(ArchiveEntry, fileTime) + 4, e.fileTime.dwHighDateTime);
  Store32(r + offsetof(ArchiveEntry, fileSize), e.fileSize);
  Store32(r + offsetof(ArchiveEntry, storedSize), e.storedSize);
}

}  // namespace

void SerializeArchiveHeader(const ArchiveHeader& header, uint8_t out[ARCHIVE_HEADER_SIZE]) {
  memcpy(out + offsetof(ArchiveHeader, magic), header.magic, sizeof(header.magic));
  Store32(out + offsetof(ArchiveHeader, flags), header.flags);
  Store32(out + offsetof(ArchiveHeader, directoryOffset), header.directoryOffset);
  Store32(out + offsetof(ArchiveHeader, entryCount), header.entryCount);
}

bool ArchiveWriter::Fail(const std::string& why, std::string* error) {
  *error = why;
  failed_ = true;
  return false;
}

bool ArchiveWriter::Put(const uint8_t* data, size_t size, std::string* error) {
  if (offset_ + size > kField32) return Fail("the archive would pass 4 GiB (32-bit offsets)" + at_, error);
  if (size != 0 && !sink_.Append(data, size, error)) {
    failed_ = true;
    return false;
  }
  offset_ += size;
  return true;
}

bool ArchiveWriter::Begin(std::string* error) {
  // The header is written again by Finish, once the directory's offset is
  // known; until then its place holds zeros.
  static const uint8_t zeros[ARCHIVE_HEADER_SIZE] = {0};
  return Put(zeros, sizeof(zeros), error);
}

// Zeros behind an entry's storedSize bytes, up to the next entry's aligned
// start.
bool ArchiveWriter::PutPadding(uint64_t storedSize, std::string* error) {
  static const uint8_t zeros[ARCHIVE_DATA_ALIGN] = {0};
  return Put(zeros, (size_t)(PaddedSize((DWORD)storedSize) - storedSize), error);
}

void ArchiveWriter::AddRecord(const ArchiveEntry& record) {
  names_.emplace_back(record.name, strnlen(record.name, ARCHIVE_NAME_FIELD));
  index_.Insert(names_.back(), names_.size() - 1);
  records_.resize(records_.size() + ARCHIVE_ENTRY_SIZE);
  SerializeEntry(record, &records_[records_.size() - ARCHIVE_ENTRY_SIZE]);
}

// The compressor's output, passed on to the sink through Put (which keeps
// the 32-bit bound), refused once the block reaches `limit` bytes.
class ArchiveWriter::BlockSink : public BlockOutput {
 public:
  BlockSink(ArchiveWriter& writer, uint64_t limit, std::string* error) : writer_(writer), limit_(limit), error_(error) {}
  bool Put(const uint8_t* data, size_t size) override {
    size_ += size;
    if (size_ >= limit_) return false;
    if (!writer_.Put(data, size, error_)) {
      failed_ = true;
      return false;
    }
    return true;
  }
  bool Failed() const { return failed_; }

 private:
  ArchiveWriter& writer_;
  uint64_t limit_;
  std::string* error_;
  uint64_t size_ = 0;
  bool failed_ = false;
};

// Streams data's block to the sink, from the current offset. A block that
// reaches `limit` bytes is taken back (*compressed false, the sink as it
// was), so that the caller stores the data instead.
bool ArchiveWriter::PutBlock(const uint8_t* data, size_t size, uint64_t limit, bool* compressed, std::string* error) {
  uint64_t start = offset_;
  BlockSink sink(*this, limit, error);
  uint64_t blockSize = 0;
  CompressResult result = CompressBlockTo(data, size, sink, options_.level, options_.threads, COMPRESS_CUT_BYTES, &blockSize);
  if (sink.Failed()) return false;  // Put has failed the writer, *error says why
  if (result == CompressResult::Faulty)
    return Fail("internal error: a compressed block does not expand to its input", error);
  *compressed = result == CompressResult::Done && blockSize < limit;
  if (*compressed) return true;
  if (!sink_.Truncate(start, error)) {
    failed_ = true;
    return false;
  }
  offset_ = start;
  return true;
}

bool ArchiveWriter::Add(const std::string& name, const uint8_t* data, size_t size, uint64_t fileTime,
                        EntryStorage storage, std::string* error, bool* compressed) {
  if (failed_) return Fail("the archive already failed", error);
  if (!CheckName(name, error)) return Fail(*error, error);
  // The updater finds the first entry of a name: a second could never be
  // reached.
  long earlier = index_.Find(name);
  if (earlier >= 0) return Fail("two entries named " + names_[(size_t)earlier] + " and " + name, error);
  if (size > kField32) return Fail("entry of 4 GiB or more: " + name, error);
  if (names_.size() >= ARCHIVE_MAX_ENTRIES)
    return Fail("more than " + std::to_string(ARCHIVE_MAX_ENTRIES) + " entries, the most every reader takes", error);

  at_ = " at " + name;
  uint64_t start = offset_;
  bool compress = false;
  if (storage != EntryStorage::Stored) {
    // A block never passes CompressBound, so "always compressed" has no limit.
    uint64_t limit = storage == EntryStorage::Smaller ? size : UINT64_MAX;
    if (!PutBlock(data, size, limit, &compress, error)) return false;
  }
  if (!compress && !Put(data, size, error)) return false;
  uint64_t storedSize = offset_ - start;
  if (!PutPadding(storedSize, error)) return false;

  ArchiveEntry record;
  memset(&record, 0, sizeof(record));
  memcpy(record.name, name.data(), name.size());  // the rest of the field stays zero
  record.attributes = (BYTE)(compress ? ENTRY_COMPRESSED : ENTRY_STORED);
  record.fileTime.dwLowDateTime = (DWORD)fileTime;
  record.fileTime.dwHighDateTime = (DWORD)(fileTime >> 32);
  record.fileSize = (DWORD)size;
  record.storedSize = (DWORD)storedSize;
  AddRecord(record);
  if (compressed) *compressed = compress;
  return true;
}

bool ArchiveWriter::Finish(std::string* error) {
  if (failed_) return Fail("the archive already failed", error);
  ArchiveHeader header;
  memcpy(header.magic, ARCHIVE_MAGIC, sizeof(header.magic));
  header.flags = 0;
  header.directoryOffset = (DWORD)offset_;
  header.entryCount = (DWORD)names_.size();
  at_ = " at its directory";
  if (options_.compressDirectory) {
    bool compressed = false;
    if (!PutBlock(records_.data(), records_.size(), UINT64_MAX, &compressed, error)) return false;
    header.flags |= DIRECTORY_COMPRESSED;
  } else if (!Put(records_.data(), records_.size(), error)) {
    return false;
  }
  uint8_t bytes[ARCHIVE_HEADER_SIZE];
  SerializeArchiveHeader(header, bytes);
  if (!sink_.WriteHeader(bytes, error)) {
    failed_ = true;
    return false;
  }
  return true;
}
