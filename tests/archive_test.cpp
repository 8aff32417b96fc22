// The archive resource and directory: resource lookup, OpenArchive in memory
// and file mode, the refusals of damaged images, and CloseArchive.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/expand.h"
#include "double/scripted_win32.h"
#include "pack/compress.h"
#include "support/archive_builder.h"
#include "support/temp_drive.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// An image in a heap block of exactly its size, so AddressSanitizer builds
// catch any read past its end.
class ExactImage {
 public:
  explicit ExactImage(const Bytes& bytes) : size_(bytes.size()), data_(new BYTE[bytes.size() ? bytes.size() : 1]) {
    if (!bytes.empty()) memcpy(data_.get(), bytes.data(), bytes.size());
  }
  const BYTE* data() const { return data_.get(); }
  DWORD size() const { return (DWORD)size_; }

 private:
  size_t size_;
  std::unique_ptr<BYTE[]> data_;
};

// Opens in memory mode; the block is released when the holder goes.
struct Opened {
  BYTE* block = nullptr;
  ~Opened() {
    if (block) GlobalFree(block);
  }
};

BYTE* OpenMemory(const Bytes& image) {
  ExactImage exact(image);
  return OpenArchive(exact.data(), exact.size());
}

Bytes Records(const BYTE* directory) {
  DWORD count = DirectoryHeader(directory)->entryCount;
  const BYTE* first = directory + ARCHIVE_HEADER_SIZE;
  return Bytes(first, first + (size_t)count * ARCHIVE_ENTRY_SIZE);
}

ArchiveBuilder ThreeEntries() {
  ArchiveBuilder b;
  b.Stored("UPDATE.INI", "[SETUP]\r\nCompanyName=X\r\n")
      .Compressed("SOUND.PAK", std::string(5000, 's') + "tail")
      .Stored("EMPTY.DAT", "");
  return b;
}

// ---- FindArchiveResource -------------------------------------------------------

TEST(FindArchiveResource, ReturnsTheResourceBytesAndTheirLength) {
  Bytes image = ThreeEntries().Build();
  scripted::SetResource(ARCHIVE_RESOURCE_ID, ARCHIVE_RESOURCE_TYPE, image.data(), image.size());
  DWORD length = 0;
  const BYTE* p = FindArchiveResource(NULL, ARCHIVE_RESOURCE_ID, ARCHIVE_RESOURCE_TYPE, &length);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(length, image.size());
  EXPECT_EQ(memcmp(p, image.data(), image.size()), 0);
}

TEST(FindArchiveResource, MissingResourceGivesNoneAndLeavesTheLength) {
  Bytes image = ThreeEntries().Build();
  scripted::SetResource(101, ARCHIVE_RESOURCE_TYPE, image.data(), image.size());
  scripted::SetResource(ARCHIVE_RESOURCE_ID, "OTHER", image.data(), image.size());
  DWORD length = 1234;
  EXPECT_EQ(FindArchiveResource(NULL, ARCHIVE_RESOURCE_ID, ARCHIVE_RESOURCE_TYPE, &length), nullptr);
  EXPECT_EQ(length, 1234u);
}

TEST(FindArchiveResource, EmptyResourceGivesNone) {
  uint8_t none = 0;
  scripted::SetResource(ARCHIVE_RESOURCE_ID, ARCHIVE_RESOURCE_TYPE, &none, 0);
  DWORD length = 77;
  EXPECT_EQ(FindArchiveResource(NULL, ARCHIVE_RESOURCE_ID, ARCHIVE_RESOURCE_TYPE, &length), nullptr);
  EXPECT_EQ(length, 77u);
}

// ---- OpenArchive, memory mode -----------------------------------------------------

TEST(OpenArchiveMemory, PlainDirectoryFollowsACopyOfTheHeader) {
  Bytes image = ThreeEntries().Build();
  Opened o;
  o.block = OpenMemory(image);
  ASSERT_NE(o.block, nullptr);
  EXPECT_EQ(memcmp(o.block, image.data(), ARCHIVE_HEADER_SIZE), 0);
  const ArchiveHeader* h = DirectoryHeader(o.block);
  ASSERT_EQ(h->entryCount, 3u);
  EXPECT_EQ(Records(o.block), Bytes(image.begin() + h->directoryOffset, image.end()));
  const ArchiveEntry* e = DirectoryEntries(o.block);
  EXPECT_STREQ(e[0].name, "UPDATE.INI");
  EXPECT_EQ(e[1].attributes, ENTRY_COMPRESSED);
  EXPECT_EQ(e[1].fileSize, 5004u);
  EXPECT_EQ(e[2].storedSize, 0u);
}

TEST(OpenArchiveMemory, CompressedDirectoryExpandsAndTheHeaderKeepsItsFlag) {
  Bytes plain = ThreeEntries().Build();
  Bytes packed = ThreeEntries().CompressDirectory().Build();
  Opened a, b;
  a.block = OpenMemory(plain);
  b.block = OpenMemory(packed);
  ASSERT_NE(a.block, nullptr);
  ASSERT_NE(b.block, nullptr);
  EXPECT_EQ(Records(a.block), Records(b.block));
  EXPECT_EQ(memcmp(b.block, packed.data(), ARCHIVE_HEADER_SIZE), 0);
  EXPECT_EQ(DirectoryHeader(b.block)->flags & DIRECTORY_COMPRESSED, DIRECTORY_COMPRESSED);
  EXPECT_EQ(DirectoryHeader(b.block)->directoryOffset, DirectoryHeader(a.block)->directoryOffset);
}

TEST(OpenArchiveMemory, NoEntriesWithAPlainDirectoryIsAHeaderOnlyBlock) {
  Bytes image = ArchiveBuilder().Build();
  ASSERT_EQ(image.size(), 16u);
  Opened o;
  o.block = OpenMemory(image);
  ASSERT_NE(o.block, nullptr);
  EXPECT_EQ(memcmp(o.block, image.data(), 16), 0);
  EXPECT_EQ(DirectoryHeader(o.block)->entryCount, 0u);
}

TEST(OpenArchiveMemory, NoEntriesWithACompressedDirectoryNeedsOnlyTheEndCode) {
  Bytes image = ArchiveBuilder().CompressDirectory().Build();
  ASSERT_EQ(image.size(), 16u + 5u);
  Opened o;
  o.block = OpenMemory(image);
  ASSERT_NE(o.block, nullptr);
  EXPECT_EQ(DirectoryHeader(o.block)->entryCount, 0u);
}

TEST(OpenArchiveMemory, MagicIsNotTested) {
  Bytes image = ThreeEntries().Build();
  image[0] = 'X';
  image[3] = '!';
  Opened o;
  o.block = OpenMemory(image);
  ASSERT_NE(o.block, nullptr);
  EXPECT_EQ(o.block[0], 'X');
}

TEST(OpenArchiveMemory, BytesAfterTheCompressedDirectorysEndCodeAreIgnored) {
  Bytes image = ThreeEntries().CompressDirectory().Build();
  Bytes longer = image;
  longer.insert(longer.end(), 100, 0xEE);
  Opened a, b;
  a.block = OpenMemory(image);
  b.block = OpenMemory(longer);
  ASSERT_NE(b.block, nullptr);
  EXPECT_EQ(Records(a.block), Records(b.block));
}

TEST(OpenArchiveMemory, UndefinedFlagBitsAreNotRead) {
  Bytes image = ThreeEntries().Build();
  WriteLe32(image, 4, 0xFFFFFFFEu);
  Opened o;
  o.block = OpenMemory(image);
  ASSERT_NE(o.block, nullptr);
  EXPECT_EQ(DirectoryHeader(o.block)->flags, 0xFFFFFFFEu);
}

// ---- Memory mode refusals ----------------------------------------------------------

TEST(OpenArchiveMemoryRefusals, ImageShorterThanAHeaderIsRefused) {
  Bytes image = ArchiveBuilder().Build();
  for (size_t n = 1; n < 16; ++n) {
    EXPECT_EQ(OpenMemory(Bytes(image.begin(), image.begin() + n)), nullptr) << n;
  }
}

TEST(OpenArchiveMemoryRefusals, EveryTruncationOfAnImageIsRefused) {
  // The directory comes last, so every cut loses part of it.
  const bool compressedDirectory[] = {false, true};
  for (bool compressed : compressedDirectory) {
    Bytes image = ThreeEntries().CompressDirectory(compressed).Build();
    for (size_t n = 1; n < image.size(); ++n) {
      ASSERT_EQ(OpenMemory(Bytes(image.begin(), image.begin() + n)), nullptr) << n;
    }
  }
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

TEST(OpenArchiveMemoryRefusals, CorruptingAnyByteNeverOverrunsAndLeaksNothing) {
  std::mt19937 rng(5);
  const bool compressedDirectory[] = {false, true};
  for (bool compressed : compressedDirectory) {
    Bytes image = ThreeEntries().CompressDirectory(compressed).Build();
    for (size_t i = 0; i < image.size(); ++i) {
      for (int round = 0; round < 3; ++round) {
        Bytes bad = image;
        bad[i] ^= (uint8_t)(1u << (rng() % 8));
        BYTE* block = OpenMemory(bad);
        if (block != nullptr) {
          // Whatever opened is what the header says, in full.
          EXPECT_EQ(memcmp(block, bad.data(), ARCHIVE_HEADER_SIZE), 0);
          GlobalFree(block);
        }
        ASSERT_EQ(scripted::LiveAllocations(), 0) << "byte " << i;
      }
    }
  }
}

TEST(OpenArchiveMemoryRefusals, FailedAllocationsGiveNoneAndLeakNothing) {
  Bytes packed = ThreeEntries().CompressDirectory().Build();
  scripted::FailAllocations(0, 1);  // the directory block
  EXPECT_EQ(OpenMemory(packed), nullptr);
  scripted::FailAllocations(1, 1);  // the compressed directory's copy
  EXPECT_EQ(OpenMemory(packed), nullptr);
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

// ---- OpenArchive, file mode -------------------------------------------------------------

class OpenArchiveFile : public wz2test::DriveTest {
 protected:
  std::string Put(const std::string& name, const Bytes& image) {
    c_.WriteFile(name, std::string(image.begin(), image.end()));
    return c_.Path(name);
  }
};

TEST_F(OpenArchiveFile, ReadsTheSameDirectoryAsMemoryMode) {
  const bool compressedDirectory[] = {false, true};
  for (bool compressed : compressedDirectory) {
    Bytes image = ThreeEntries().CompressDirectory(compressed).Build();
    std::string path = Put("UPDATE.WZ2", image);
    Opened fromFile, fromMemory;
    fromFile.block = OpenArchive(path.c_str(), 0);
    fromMemory.block = OpenMemory(image);
    ASSERT_NE(fromFile.block, nullptr);
    EXPECT_EQ(memcmp(fromFile.block, image.data(), ARCHIVE_HEADER_SIZE), 0);
    EXPECT_EQ(Records(fromFile.block), Records(fromMemory.block));
  }
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

// Both modes read the directory through one path: a header that claims
// what the archive cannot hold is refused from memory and from a file alike,
// and neither leaks a block or a handle on the way.
TEST_F(OpenArchiveFile, BothModesRefuseTheSameImpossibleHeaders) {
  struct Damage {
    const char* what;
    bool compressedDirectory;
    size_t field;  // 8: directoryOffset, 12: entryCount
    uint32_t value;
  };
  const Damage damages[] = {
      {"directory offset one past the end", false, 8, 0},  // 0: the image's size
      {"directory offset near 4 GiB", false, 8, 0xFFFFFFF0u},
      {"a plain directory running past the end", false, 12, 4},
      {"a record block whose 32-bit size would wrap to 16", false, 12, 0x08000000u},
      {"the largest entry count", false, 12, 0xFFFFFFFFu},
      {"a compressed directory, wrapping count", true, 12, 0x08000000u},
      {"a compressed directory expanding to more than its records", true, 12, 2},
      {"a compressed directory expanding to less than its records", true, 12, 4},
      {"a compressed directory claiming more than a block can hold", true, 12, 100000},
  };
  for (const Damage& d : damages) {
    Bytes image = ThreeEntries().CompressDirectory(d.compressedDirectory).Build();
    WriteLe32(image, d.field, d.value != 0 ? d.value : (uint32_t)image.size() + 1);
    EXPECT_EQ(OpenMemory(image), nullptr) << d.what;
    EXPECT_EQ(OpenArchive(Put("BAD.WZ2", image).c_str(), 0), nullptr) << d.what;
    EXPECT_EQ(scripted::LiveAllocations(), 0) << d.what;
    EXPECT_EQ(scripted::OpenHandles(), 0) << d.what;
  }
}

// The directory's hard cap, the one rule every reader shares: 65,536
// records open, plain or compressed, from memory and from a file; one more
// is refused before its block is allocated, though the archive is small
// and well formed (a compressed directory of a few kilobytes could
// otherwise claim millions).
TEST_F(OpenArchiveFile, AtMostTheCappedNumberOfEntriesOpenInEitherMode) {
  static_assert(ARCHIVE_MAX_ENTRIES == 65536u, "the cap README and the tool's messages give");
  for (DWORD count : {ARCHIVE_MAX_ENTRIES, ARCHIVE_MAX_ENTRIES + 1}) {
    Bytes records((size_t)count * ARCHIVE_ENTRY_SIZE, 0);
    for (DWORD i = 0; i < count; i++) {
      char name[ARCHIVE_NAME_FIELD + 1];
      snprintf(name, sizeof(name), "F%06u.DAT", (unsigned)i);
      memcpy(&records[(size_t)i * ARCHIVE_ENTRY_SIZE], name, strlen(name));
      records[(size_t)i * ARCHIVE_ENTRY_SIZE + 15] = ENTRY_STORED;  // empty: no data
    }
    for (bool compressed : {false, true}) {
      Bytes image(ARCHIVE_HEADER_SIZE, 0);
      memcpy(image.data(), ARCHIVE_MAGIC, sizeof(ARCHIVE_MAGIC));
      WriteLe32(image, 4, compressed ? DIRECTORY_COMPRESSED : 0);
      WriteLe32(image, 8, ARCHIVE_HEADER_SIZE);
      WriteLe32(image, 12, count);
      if (compressed) CompressBlock(records.data(), records.size(), image, CompressLevel::Fast);
      else image.insert(image.end(), records.begin(), records.end());
      bool opens = count <= ARCHIVE_MAX_ENTRIES;
      Opened fromMemory, fromFile;
      fromMemory.block = OpenMemory(image);
      fromFile.block = OpenArchive(Put("MANY.WZ2", image).c_str(), 0);
      EXPECT_EQ(fromMemory.block != nullptr, opens) << count << (compressed ? " compressed" : " plain");
      EXPECT_EQ(fromFile.block != nullptr, opens) << count << (compressed ? " compressed" : " plain");
      if (opens && fromFile.block) {
        EXPECT_EQ(Records(fromFile.block), records);
      }
    }
  }
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(OpenArchiveFile, MissingFileGivesNone) {
  EXPECT_EQ(OpenArchive(c_.Path("NONE.WZ2").c_str(), 0), nullptr);
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(OpenArchiveFile, FileShorterThanAHeaderGivesNone) {
  Bytes image = ArchiveBuilder().Build();
  for (size_t n = 0; n < 16; ++n) {
    std::string path = Put("SHORT.WZ2", Bytes(image.begin(), image.begin() + n));
    EXPECT_EQ(OpenArchive(path.c_str(), 0), nullptr) << n;
  }
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(OpenArchiveFile, OtherMagicGivesNoneThoughMemoryModeOpensIt) {
  const char* magics[] = {"WZ1", "wz2", "WZ2 "};
  for (const char* magic : magics) {
    Bytes image = ThreeEntries().Build();
    memcpy(image.data(), magic, 4);  // with its NUL, or a space in place of it
    std::string path = Put("BAD.WZ2", image);
    EXPECT_EQ(OpenArchive(path.c_str(), 0), nullptr) << magic;
    Opened o;
    o.block = OpenMemory(image);
    EXPECT_NE(o.block, nullptr) << magic;
  }
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(OpenArchiveFile, ShortPlainDirectoryGivesNoneAndReleasesTheBlock) {
  Bytes image = ThreeEntries().Build();
  image.resize(image.size() - 1);
  std::string path = Put("CUT.WZ2", image);
  EXPECT_EQ(OpenArchive(path.c_str(), 0), nullptr);
  EXPECT_EQ(scripted::LiveAllocations(), 0);
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(OpenArchiveFile, DamagedCompressedDirectoryGivesNone) {
  Bytes image = ThreeEntries().CompressDirectory().Build();
  Bytes cut(image.begin(), image.end() - 1);
  EXPECT_EQ(OpenArchive(Put("CUT.WZ2", cut).c_str(), 0), nullptr);
  Bytes wrongCount = image;
  WriteLe32(wrongCount, 12, 2);
  EXPECT_EQ(OpenArchive(Put("COUNT.WZ2", wrongCount).c_str(), 0), nullptr);
  Bytes pastEnd = image;
  WriteLe32(pastEnd, 8, (uint32_t)image.size() + 10);
  EXPECT_EQ(OpenArchive(Put("PAST.WZ2", pastEnd).c_str(), 0), nullptr);
  EXPECT_EQ(scripted::LiveAllocations(), 0);
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(OpenArchiveFile, BytesAfterTheCompressedDirectoryAreIgnored) {
  Bytes image = ThreeEntries().CompressDirectory().Build();
  Bytes longer = image;
  longer.insert(longer.end(), 33, 0x5A);
  Opened a, b;
  a.block = OpenMemory(image);
  b.block = OpenArchive(Put("LONG.WZ2", longer).c_str(), 0);
  ASSERT_NE(b.block, nullptr);
  EXPECT_EQ(Records(a.block), Records(b.block));
}

TEST_F(OpenArchiveFile, FailedAllocationsGiveNoneAndCloseTheFile) {
  Bytes image = ThreeEntries().CompressDirectory().Build();
  std::string path = Put("A.WZ2", image);
  scripted::FailAllocations(0, 1);
  EXPECT_EQ(OpenArchive(path.c_str(), 0), nullptr);
  scripted::FailAllocations(1, 1);
  EXPECT_EQ(OpenArchive(path.c_str(), 0), nullptr);
  EXPECT_EQ(scripted::LiveAllocations(), 0);
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

// ---- CloseArchive ----------------------------------------------------------------------

TEST(CloseArchive, ReleasesTheDirectoryAndClearsTheReference) {
  ArchiveDirectory = OpenMemory(ThreeEntries().Build());
  ASSERT_NE(ArchiveDirectory, nullptr);
  ASSERT_EQ(scripted::LiveAllocations(), 1);
  CloseArchive();
  EXPECT_EQ(ArchiveDirectory, nullptr);
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

TEST(CloseArchive, WithoutADirectoryDoesNothing) {
  ArchiveDirectory = nullptr;
  CloseArchive();
  EXPECT_EQ(ArchiveDirectory, nullptr);
  CloseArchive();
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

// ---- Entries through the directory ---------------------------------------------------------

TEST(ArchiveEntries, EveryEntrysDataIsFoundAtItsComputedOffset) {
  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)(i * 31 % 251);
  ArchiveBuilder b;
  b.Stored("A", "1").Compressed("B", big).Stored("C", std::string(16, 'c')).Compressed("D", "").Stored("E", "x");
  Bytes image = b.CompressDirectory().Build();
  Opened o;
  o.block = OpenMemory(image);
  ASSERT_NE(o.block, nullptr);
  const ArchiveEntry* e = DirectoryEntries(o.block);
  const std::string expected[] = {"1", big, std::string(16, 'c'), "", "x"};
  uint64_t offset = ARCHIVE_HEADER_SIZE;
  for (int i = 0; i < 5; ++i) {
    ASSERT_LE(offset + e[i].storedSize, image.size());
    Bytes data(e[i].fileSize);
    if (e[i].attributes & ENTRY_COMPRESSED) {
      ASSERT_EQ(ExpandBlock(data.data(), data.size(), image.data() + offset, e[i].storedSize), EXPAND_OK);
    } else {
      ASSERT_EQ(e[i].storedSize, e[i].fileSize);
      memcpy(data.data(), image.data() + offset, data.size());
    }
    EXPECT_EQ(std::string(data.begin(), data.end()), expected[i]) << i;
    EXPECT_EQ(((uint64_t)e[i].fileTime.dwHighDateTime << 32) | e[i].fileTime.dwLowDateTime, ARCHIVE_TEST_TIME);
    offset += PaddedSize(e[i].storedSize);
  }
  EXPECT_EQ(offset, DirectoryHeader(o.block)->directoryOffset);
}

}  // namespace
