// The archive writer: layout, storage choice, refused inputs, determinism.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/expand.h"
#include "pack/archive_writer.h"
#include "support/archive_builder.h"

namespace {

typedef std::vector<uint8_t> Bytes;

ArchiveInput Input(const std::string& name, const std::string& data, EntryStorage storage,
                   uint64_t time = ARCHIVE_TEST_TIME) {
  ArchiveInput e;
  e.name = name;
  e.data.assign(data.begin(), data.end());
  e.fileTime = time;
  e.storage = storage;
  return e;
}

bool Write(const std::vector<ArchiveInput>& entries, Bytes* out, std::string* error,
           ArchiveLayoutOptions options = ArchiveLayoutOptions()) {
  return WriteArchive(entries, options, *out, error);
}

TEST(ArchiveWriterLayout, HeaderDataPaddingAndRecordsAreWhereTheFormatPutsThem) {
  Bytes image;
  std::string error;
  ASSERT_TRUE(Write({Input("A.TXT", "hello", EntryStorage::Stored, 0x0102030405060708ull),
                     Input("B.BIN", std::string(16, 'b'), EntryStorage::Stored)},
                    &image, &error))
      << error;
  ASSERT_EQ(image.size(), 16u + 16u + 16u + 2u * 32u);
  EXPECT_EQ(memcmp(image.data(), "WZ2\0", 4), 0);
  EXPECT_EQ(ReadLe32(image, 4), 0u);
  EXPECT_EQ(ReadLe32(image, 8), 48u);
  EXPECT_EQ(ReadLe32(image, 12), 2u);
  EXPECT_EQ(memcmp(&image[16], "hello", 5), 0);
  for (size_t i = 21; i < 32; ++i) EXPECT_EQ(image[i], 0) << "padding at " << i;
  EXPECT_EQ(image[32], 'b');
  const uint8_t* r = &image[48];
  EXPECT_EQ(memcmp(r, "A.TXT", 6), 0);
  for (size_t i = 6; i < 15; ++i) EXPECT_EQ(r[i], 0) << "name padding at " << i;
  EXPECT_EQ(r[15], ENTRY_STORED);
  EXPECT_EQ(ReadLe32(image, 48 + 16), 0x05060708u);
  EXPECT_EQ(ReadLe32(image, 48 + 20), 0x01020304u);
  EXPECT_EQ(ReadLe32(image, 48 + 24), 5u);
  EXPECT_EQ(ReadLe32(image, 48 + 28), 5u);
  EXPECT_EQ(ReadLe32(image, 80 + 24), 16u);
}

TEST(ArchiveWriterLayout, CompressedEntryRecordsBothSizesAndExpands) {
  std::string data(3000, 'z');
  Bytes image;
  std::string error;
  ASSERT_TRUE(Write({Input("Z", data, EntryStorage::Compressed)}, &image, &error));
  const uint8_t* r = &image[ReadLe32(image, 8)];
  EXPECT_EQ(r[15], ENTRY_COMPRESSED);
  uint32_t fileSize = ReadLe32(image, ReadLe32(image, 8) + 24);
  uint32_t storedSize = ReadLe32(image, ReadLe32(image, 8) + 28);
  EXPECT_EQ(fileSize, 3000u);
  EXPECT_LT(storedSize, 100u);
  EXPECT_EQ(ReadLe32(image, 8), 16u + PaddedSize(storedSize));
  Bytes out(fileSize);
  EXPECT_EQ(ExpandBlock(out.data(), out.size(), &image[16], storedSize), EXPAND_OK);
  EXPECT_EQ(std::string(out.begin(), out.end()), data);
}

TEST(ArchiveWriterLayout, SmallerStoresWhatCompressionWouldNotShrink) {
  Bytes image;
  std::string error;
  ASSERT_TRUE(Write({Input("RAND", "q7#Lx", EntryStorage::Smaller), Input("RUN", std::string(500, 'r'), EntryStorage::Smaller),
                     Input("NONE", "", EntryStorage::Smaller)},
                    &image, &error));
  uint32_t dir = ReadLe32(image, 8);
  EXPECT_EQ(image[dir + 15], ENTRY_STORED);
  EXPECT_EQ(image[dir + 32 + 15], ENTRY_COMPRESSED);
  EXPECT_EQ(image[dir + 64 + 15], ENTRY_STORED);  // an empty block is 5 bytes
}

TEST(ArchiveWriterLayout, CompressedDirectoryExpandsToThePlainRecords) {
  std::vector<ArchiveInput> entries = {Input("ONE.DAT", "1", EntryStorage::Stored),
                                       Input("TWO.DAT", "22", EntryStorage::Stored)};
  Bytes plain, packed;
  std::string error;
  ASSERT_TRUE(Write(entries, &plain, &error));
  ArchiveLayoutOptions options;
  options.compressDirectory = true;
  ASSERT_TRUE(Write(entries, &packed, &error, options));
  EXPECT_EQ(ReadLe32(packed, 4), DIRECTORY_COMPRESSED);
  uint32_t dir = ReadLe32(packed, 8);
  ASSERT_EQ(dir, ReadLe32(plain, 8));
  Bytes records(64);
  ASSERT_EQ(ExpandBlock(records.data(), 64, &packed[dir], packed.size() - dir), EXPAND_OK);
  EXPECT_EQ(records, Bytes(plain.begin() + dir, plain.end()));
}

TEST(ArchiveWriterLayout, SameInputsGiveTheSameBytes) {
  ArchiveBuilder b;
  b.Compressed("A", std::string(10000, 'a') + "b").Stored("B", "bb").CompressDirectory().Level(CompressLevel::Max);
  EXPECT_EQ(b.Build(), b.Build());
}

TEST(ArchiveWriterLayout, AppendsToWhatTheVectorHolds) {
  Bytes image = {9, 9};
  std::string error;
  ASSERT_TRUE(Write({}, &image, &error));
  ASSERT_EQ(image.size(), 18u);
  EXPECT_EQ(image[0], 9);
  EXPECT_EQ(memcmp(&image[2], "WZ2\0", 4), 0);
}

// ---- Refused inputs -----------------------------------------------------------------

void ExpectRefused(const std::vector<ArchiveInput>& entries, const char* what) {
  Bytes image = {1, 2, 3};
  std::string error;
  EXPECT_FALSE(Write(entries, &image, &error)) << what;
  EXPECT_FALSE(error.empty()) << what;
  EXPECT_EQ(image, Bytes({1, 2, 3})) << what;
}

TEST(ArchiveWriterRefusals, NameOfFifteenBytesIsRefusedFourteenIsTaken) {
  ExpectRefused({Input("ABCDEFGHIJKLMNO", "x", EntryStorage::Stored)}, "15 bytes");
  Bytes image;
  std::string error;
  EXPECT_TRUE(Write({Input("ABCDEFGHIJKLMN", "x", EntryStorage::Stored)}, &image, &error));
  EXPECT_EQ(image[ReadLe32(image, 8) + 14], 0);
}

TEST(ArchiveWriterRefusals, NamesEqualWithoutRegardToAsciiCaseAreRefused) {
  ExpectRefused({Input("Sound.pak", "1", EntryStorage::Stored), Input("SOUND.PAK", "2", EntryStorage::Stored)},
                "case");
  // The second byte of a double-byte character is no letter: katakana A
  // (83 41) and katakana DI (83 61) are different names.
  Bytes image;
  std::string error;
  EXPECT_TRUE(Write({Input("\x83\x41.DAT", "1", EntryStorage::Stored), Input("\x83\x61.DAT", "2", EntryStorage::Stored)},
                    &image, &error));
  EXPECT_TRUE(SameEntryName("\x83\x41.dat", "\x83\x41.DAT"));
  EXPECT_FALSE(SameEntryName("\x83\x41.DAT", "\x83\x61.DAT"));
}

TEST(ArchiveWriterRefusals, ATrailByteThatLooksLikeABackslashIsPartOfTheName) {
  // ソ is 83 5C: its second byte is no directory separator.
  Bytes image;
  std::string error;
  ASSERT_TRUE(Write({Input("\x83\x5C.DAT", "so", EntryStorage::Stored)}, &image, &error)) << error;
  EXPECT_EQ(memcmp(&image[ReadLe32(image, 8)], "\x83\x5C.DAT", 7), 0);
  ExpectRefused({Input("A\x5C\x83\x5C", "1", EntryStorage::Stored)}, "a backslash after a single-byte letter");
}

// A sink that takes `room` appends, then fails the way a full disk does.
class FailingSink : public ArchiveSink {
 public:
  explicit FailingSink(int room) : room_(room) {}
  bool Append(const uint8_t*, size_t, std::string* error) override {
    if (room_-- > 0) return true;
    *error = "disk full";
    return false;
  }
  bool WriteHeader(const uint8_t*, std::string*) override {
    headerWritten = true;
    return true;
  }
  bool Truncate(uint64_t, std::string*) override { return true; }
  bool headerWritten = false;

 private:
  int room_;
};

TEST(ArchiveWriterStreaming, AFailedWriteFailsTheArchiveAndNoHeaderIsWritten) {
  // Begin takes one append, the stored entry its data and its padding, and
  // the compressed one (three cuts) a piece at a time: rooms 3 and 4 fail
  // part-way through its block.
  std::string text;
  while (text.size() < ((size_t)5 << 19)) text += "line " + std::to_string(text.size() % 997) + " of the entry\r\n";
  for (int room = 0; room < 5; ++room) {
    FailingSink sink(room);
    ArchiveWriter writer(sink, ArchiveLayoutOptions());
    std::string error;
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    bool ok = writer.Begin(&error) && writer.Add("A.DAT", data, 5, 0, EntryStorage::Stored, &error) &&
              writer.Add("B.DAT", (const uint8_t*)text.data(), text.size(), 0, EntryStorage::Compressed, &error);
    EXPECT_FALSE(ok && writer.Finish(&error)) << room;
    EXPECT_EQ(error, "disk full") << room;
    EXPECT_FALSE(writer.Finish(&error)) << room;
    EXPECT_FALSE(sink.headerWritten) << room;
  }
}

// Keeps the archive and counts what a streamed block left behind.
class MemorySink : public ArchiveSink {
 public:
  bool Append(const uint8_t* data, size_t size, std::string*) override {
    bytes.insert(bytes.end(), data, data + size);
    largest = std::max(largest, bytes.size());
    return true;
  }
  bool WriteHeader(const uint8_t* header, std::string*) override {
    memcpy(bytes.data(), header, ARCHIVE_HEADER_SIZE);
    return true;
  }
  bool Truncate(uint64_t size, std::string*) override {
    EXPECT_LE(size, bytes.size());
    bytes.resize((size_t)size);
    truncations++;
    return true;
  }
  Bytes bytes;
  size_t largest = 0;
  int truncations = 0;
};

// A block is written as it is made; one that comes out no smaller than its
// entry is taken back and the entry stored, leaving exactly the archive
// that storing it in the first place gives. Noise of several cuts makes the
// block pass the entry's size part-way, after cuts went to the sink.
TEST(ArchiveWriterStreaming, ABlockNoSmallerThanItsEntryIsTakenBackAndTheEntryStored) {
  std::string noise((size_t)5 << 19, '\0');
  uint32_t seed = 7;
  for (char& c : noise) c = (char)((seed = seed * 1664525u + 1013904223u) >> 24);
  std::string text;
  for (int i = 0; i < 4000; i++) text += "line " + std::to_string(i % 97) + " of the entry\r\n";
  for (unsigned threads : {1u, 3u}) {
    ArchiveLayoutOptions options;
    options.threads = threads;
    Bytes stored;
    std::string error;
    ASSERT_TRUE(WriteArchive({Input("A.DAT", text, EntryStorage::Smaller), Input("B.DAT", noise, EntryStorage::Stored),
                              Input("C.DAT", text, EntryStorage::Smaller)},
                             options, stored, &error))
        << error;
    MemorySink sink;
    ArchiveWriter writer(sink, options);
    bool compressed[3] = {};
    ASSERT_TRUE(writer.Begin(&error));
    ASSERT_TRUE(writer.Add("A.DAT", (const uint8_t*)text.data(), text.size(), ARCHIVE_TEST_TIME, EntryStorage::Smaller,
                           &error, &compressed[0]));
    size_t before = sink.bytes.size();
    ASSERT_TRUE(writer.Add("B.DAT", (const uint8_t*)noise.data(), noise.size(), ARCHIVE_TEST_TIME,
                           EntryStorage::Smaller, &error, &compressed[1]));
    ASSERT_TRUE(writer.Add("C.DAT", (const uint8_t*)text.data(), text.size(), ARCHIVE_TEST_TIME, EntryStorage::Smaller,
                           &error, &compressed[2]));
    ASSERT_TRUE(writer.Finish(&error)) << error;
    EXPECT_TRUE(compressed[0] && !compressed[1] && compressed[2]) << threads;
    EXPECT_EQ(sink.truncations, 1) << threads;
    EXPECT_GT(sink.largest, before + noise.size() / 2) << "the block went out as it was made";
    EXPECT_EQ(sink.bytes, stored) << threads;
  }
}

// The writer makes no archive its readers refuse: the entry past their cap
// is refused.
TEST(ArchiveWriterRefusals, TheEntryPastTheReadersCapIsRefused) {
  MemorySink sink;
  ArchiveWriter writer(sink, ArchiveLayoutOptions());
  std::string error;
  ASSERT_TRUE(writer.Begin(&error));
  char name[16];
  for (uint32_t i = 0; i < ARCHIVE_MAX_ENTRIES; i++) {
    snprintf(name, sizeof(name), "F%06u.DAT", (unsigned)i);
    ASSERT_TRUE(writer.Add(name, nullptr, 0, ARCHIVE_TEST_TIME, EntryStorage::Stored, &error)) << error;
  }
  EXPECT_FALSE(writer.Add("LAST.DAT", nullptr, 0, ARCHIVE_TEST_TIME, EntryStorage::Stored, &error));
  EXPECT_NE(error.find("more than 65536 entries"), std::string::npos) << error;
}

TEST(ArchiveWriterRefusals, EmptyNamesAndNamesWithAPathAreRefused) {
  ExpectRefused({Input("", "1", EntryStorage::Stored)}, "empty");
  ExpectRefused({Input("DATA\\A.DAT", "1", EntryStorage::Stored)}, "backslash");
  ExpectRefused({Input("DATA/A.DAT", "1", EntryStorage::Stored)}, "slash");
  ExpectRefused({Input("C:A.DAT", "1", EntryStorage::Stored)}, "drive");
  ExpectRefused({Input(std::string("A\0B", 3), "1", EntryStorage::Stored)}, "NUL");
}

}  // namespace
