#include "pack/archive_writer.h"

#include <string.h>

namespace {

void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

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
  Put32(r + offsetof(ArchiveEntry, fileTime), e.fileTime.dwLowDateTime);
  Put32(r + offsetof(ArchiveEntry, fileTime) + 4, e.fileTime.dwHighDateTime);
  Put32(r + offsetof(ArchiveEntry, fileSize), e.fileSize);
  Put32(r + offsetof(ArchiveEntry, storedSize), e.storedSize);
}

// Compresses and proves the block expands back to the same bytes: an
// archive that the updater would refuse must never be written.
// 128 bits that any change of the bytes changes, but for a chance no
// compressor fault comes near: two multiply-rotate lanes over 8-byte words.
struct Fingerprint {
  uint64_t a, b;
  bool operator==(const Fingerprint& o) const { return a == o.a && b == o.b; }
};

Fingerprint FingerprintOf(const uint8_t* data, size_t size) {
  uint64_t a = 0x9E3779B97F4A7C15ull ^ size, b = 0xC2B2AE3D27D4EB4Full + size;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t w;
    memcpy(&w, data + i, 8);
    a = ((a ^ w) * 0xFF51AFD7ED558CCDull);
    a = a << 29 | a >> 35;
    b = ((b + w) * 0xC4CEB9FE1A85EC53ull);
    b = b << 31 | b >> 33;
  }
  for (; i < size; i++) {
    a = (a ^ data[i]) * 0x100000001B3ull;
    b = (b + data[i]) * 0x9E3779B97F4A7C15ull;
  }
  a ^= b >> 17;
  b ^= a << 13;
  return Fingerprint{a, b};
}

// A block that will not be used (stored is smaller) is not verified: the
// proof would only cost a second copy of the entry in memory. When the
// writer owns the entry's bytes (*owned), they are let go before the block
// is expanded again and the proof compares fingerprints: the entry, its
// block and its expansion are then never all in memory at once.
bool CompressVerified(const uint8_t* data, size_t size, const ArchiveLayoutOptions& options, bool onlyIfSmaller,
                      std::vector<uint8_t>* owned, std::vector<uint8_t>* block, std::string* error) {
  // Room for the largest block up front: growing by doubling would hold the
  // old and the new buffer at once, twice the entry for a large one.
  std::vector<uint8_t>().swap(*block);
  block->reserve(CompressBound(size));
  CompressBlock(data, size, *block, options.level, options.threads);
  if (onlyIfSmaller && block->size() >= size) return true;
  bool same;
  if (owned) {
    Fingerprint before = FingerprintOf(data, size);
    std::vector<uint8_t>().swap(*owned);
    std::vector<uint8_t> back(size);
    same = ExpandBlock(back.data(), size, block->data(), block->size()) == EXPAND_OK &&
           FingerprintOf(back.data(), size) == before;
  } else {
    std::vector<uint8_t> back(size);
    same = ExpandBlock(back.data(), size, block->data(), block->size()) == EXPAND_OK &&
           (size == 0 || memcmp(back.data(), data, size) == 0);
  }
  if (!same) {
    *error = "internal error: a compressed block does not expand to its input";
    return false;
  }
  return true;
}

}  // namespace

void SerializeArchiveHeader(const ArchiveHeader& header, uint8_t out[ARCHIVE_HEADER_SIZE]) {
  memcpy(out + offsetof(ArchiveHeader, magic), header.magic, sizeof(header.magic));
  Put32(out + offsetof(ArchiveHeader, flags), header.flags);
  Put32(out + offsetof(ArchiveHeader, directoryOffset), header.directoryOffset);
  Put32(out + offsetof(ArchiveHeader, entryCount), header.entryCount);
}

bool ArchiveWriter::Fail(const std::string& why, std::string* error) {
  *error = why;
  failed_ = true;
  return false;
}

bool ArchiveWriter::Put(const uint8_t* data, size_t size, std::string* error) {
  if (offset_ + size > kField32) return Fail("the archive would pass 4 GiB (32-bit offsets)", error);
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

bool ArchiveWriter::AddRaw(const ArchiveEntry& record, const uint8_t* stored, size_t storedSize, std::string* error) {
  if (failed_) return Fail("the archive already failed", error);
  static const uint8_t zeros[ARCHIVE_DATA_ALIGN] = {0};
  if (storedSize > kField32) return Fail("the archive would pass 4 GiB (32-bit offsets)", error);
  uint64_t padded = PaddedSize((DWORD)storedSize);
  if (!Put(stored, storedSize, error) || !Put(zeros, (size_t)(padded - storedSize), error)) return false;
  names_.emplace_back(record.name, strnlen(record.name, ARCHIVE_NAME_FIELD));
  index_.Insert(names_.back(), names_.size() - 1);
  records_.resize(records_.size() + ARCHIVE_ENTRY_SIZE);
  SerializeEntry(record, &records_[records_.size() - ARCHIVE_ENTRY_SIZE]);
  return true;
}

bool ArchiveWriter::Add(const std::string& name, const uint8_t* data, size_t size, uint64_t fileTime,
                        EntryStorage storage, std::string* error, bool* compressed) {
  return AddEntry(name, data, size, nullptr, fileTime, storage, error, compressed);
}

bool ArchiveWriter::Add(const std::string& name, std::vector<uint8_t>&& data, uint64_t fileTime, EntryStorage storage,
                        std::string* error, bool* compressed) {
  std::vector<uint8_t> owned(std::move(data));
  return AddEntry(name, owned.data(), owned.size(), &owned, fileTime, storage, error, compressed);
}

bool ArchiveWriter::AddEntry(const std::string& name, const uint8_t* data, size_t size, std::vector<uint8_t>* owned,
                             uint64_t fileTime, EntryStorage storage, std::string* error, bool* compressed) {
  if (failed_) return Fail("the archive already failed", error);
  if (!CheckName(name, error)) return Fail(*error, error);
  // The updater finds the first entry of a name: a second could never be
  // reached.
  long earlier = index_.Find(name);
  if (earlier >= 0) return Fail("two entries named " + names_[(size_t)earlier] + " and " + name, error);
  if (size > kField32) return Fail("entry of 4 GiB or more: " + name, error);
  if (names_.size() >= ARCHIVE_MAX_ENTRIES) return Fail("too many entries", error);

  std::vector<uint8_t> block;
  bool compress = storage != EntryStorage::Stored;
  if (compress) {
    if (!CompressVerified(data, size, options_, storage == EntryStorage::Smaller, owned, &block, error))
      return Fail(*error, error);
    if (storage == EntryStorage::Smaller && block.size() >= size) compress = false;
  }
  const uint8_t* stored = compress ? block.data() : data;
  size_t storedSize = compress ? block.size() : size;
  ArchiveEntry record;
  memset(&record, 0, sizeof(record));
  memcpy(record.name, name.data(), name.size());  // the rest of the field stays zero
  record.attributes = (BYTE)(compress ? ENTRY_COMPRESSED : ENTRY_STORED);
  record.fileTime.dwLowDateTime = (DWORD)fileTime;
  record.fileTime.dwHighDateTime = (DWORD)(fileTime >> 32);
  record.fileSize = (DWORD)size;
  record.storedSize = (DWORD)storedSize;
  if (offset_ + PaddedSize(record.storedSize) > kField32)
    return Fail("the archive would pass 4 GiB (32-bit offsets) at " + name, error);
  if (!AddRaw(record, stored, storedSize, error)) return false;
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
  std::vector<uint8_t> block;
  const std::vector<uint8_t>* directory = &records_;
  if (options_.compressDirectory) {
    if (!CompressVerified(records_.data(), records_.size(), options_, false, nullptr, &block, error))
      return Fail(*error, error);
    directory = &block;
    header.flags |= DIRECTORY_COMPRESSED;
  }
  if (offset_ + directory->size() > kField32)
    return Fail("the archive would pass 4 GiB (32-bit offsets) at its directory", error);
  if (!Put(directory->data(), directory->size(), error)) return false;
  uint8_t bytes[ARCHIVE_HEADER_SIZE];
  SerializeArchiveHeader(header, bytes);
  if (!sink_.WriteHeader(bytes, error)) {
    failed_ = true;
    return false;
  }
  return true;
}

namespace {

// An archive in memory: the header's place is the vector's first 16 bytes.
class VectorSink : public ArchiveSink {
 public:
  bool Append(const uint8_t* data, size_t size, std::string*) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  bool WriteHeader(const uint8_t header[ARCHIVE_HEADER_SIZE], std::string*) override {
    memcpy(bytes.data(), header, ARCHIVE_HEADER_SIZE);
    return true;
  }
  std::vector<uint8_t> bytes;
};

}  // namespace

bool WriteArchive(const std::vector<ArchiveInput>& entries, const ArchiveLayoutOptions& options,
                  std::vector<uint8_t>& out, std::string* error) {
  VectorSink sink;
  ArchiveWriter writer(sink, options);
  if (!writer.Begin(error)) return false;
  for (const ArchiveInput& e : entries)
    if (!writer.Add(e.name, e.data.data(), e.data.size(), e.fileTime, e.storage, error)) return false;
  if (!writer.Finish(error)) return false;
  out.insert(out.end(), sink.bytes.begin(), sink.bytes.end());
  return true;
}
