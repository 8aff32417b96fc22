// Entry extraction: lookup, free-space test, expansion, the target's checks
// and the stamped write.
#include "archive/extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/state.h"
#include "archive/archive.h"
#include "archive/block_format.h"
#include "fs/files.h"
#include "double/scripted_win32.h"
#include "pack/compress.h"
#include "support/archive_builder.h"
#include "support/temp_drive.h"

namespace {

using wz2test::DriveTest;
using wz2test::FileTimes;
using wz2test::MakeFileTime;
using wz2test::ReadFileTimes;
using wz2test::TempDrive;

const uint64_t kEntryTime = 0x01D6000011112222ull;
const char kCantFind[] = "Can't Find File in Resource !!";
const char kCantAllocate[] = "Can't Allocate Memory !!";
const char kCantExpand[] = "Can't Expand File in Resource !!";

// ---- Hand-made blocks --------------------------------------------------------

std::string LiteralBlock(const std::string& text) {
  std::vector<uint8_t> block;
  BlockEncoder enc(block);
  enc.Literals(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  enc.End();
  return std::string(block.begin(), block.end());
}

// The worked example "abc" + long match V = 2, length 7: abcabcabca.
const std::string kRepeatBlock("\x00\xE0\x23\xE4\x61\x62\x63\x01\xFF", 9);
const std::string kRepeatText = "abcabcabca";

// ---- The open archive ----------------------------------------------------------

struct TestEntry {
  std::string name;  // up to 15 bytes; 15 leaves the field without a NUL
  BYTE attributes;
  uint64_t time;
  DWORD fileSize;
  DWORD storedSize;
  std::string data;  // bytes placed in the image (storedSize of them, padded)
};

// Builds an archive image in memory with a plain directory and installs it as
// the process's open archive; uninstalls it again when done.
class TestArchive {
 public:
  ~TestArchive() {
    OpenImage.data = nullptr;
    OpenImage.length = 0;
    ArchiveDirectory = nullptr;
  }
  TestArchive& Stored(const std::string& name, const std::string& bytes, uint64_t time = kEntryTime) {
    DWORD size = static_cast<DWORD>(bytes.size());
    entries_.push_back({name, ENTRY_STORED, time, size, size, bytes});
    return *this;
  }
  TestArchive& Compressed(const std::string& name, const std::string& block, DWORD fileSize,
                          uint64_t time = kEntryTime) {
    entries_.push_back({name, ENTRY_COMPRESSED, time, fileSize, static_cast<DWORD>(block.size()), block});
    return *this;
  }
  TestArchive& Raw(const TestEntry& entry) {
    entries_.push_back(entry);
    return *this;
  }
  // Lays out the image and makes it the open archive. `trim` bytes are cut
  // off the end of the image (the directory is kept apart and stays whole).
  void Open(size_t trim = 0) {
    // Only the bytes given are laid out: an entry that claims more than
    // it brings leaves the image short of its claim.
    ArchiveBuilder builder;
    for (const TestEntry& e : entries_) {
      ArchiveEntry record{};
      memcpy(record.name, e.name.data(), std::min(e.name.size(), sizeof record.name));
      record.attributes = e.attributes;
      record.fileTime = MakeFileTime(e.time);
      record.fileSize = e.fileSize;
      record.storedSize = e.storedSize;
      builder.Raw(record, e.data.substr(0, e.storedSize));
    }
    image_ = builder.Build();
    // The directory block as OpenArchive leaves it: the header, then the
    // records.
    size_t directoryOffset = ReadLe32(image_, 8);
    directory_.assign(image_.begin(), image_.begin() + ARCHIVE_HEADER_SIZE);
    directory_.insert(directory_.end(), image_.begin() + (std::ptrdiff_t)directoryOffset, image_.end());
    image_.resize(image_.size() - trim);
    OpenImage.data = image_.data();
    OpenImage.length = static_cast<DWORD>(image_.size());
    ArchiveDirectory = directory_.data();
  }

 private:
  std::vector<TestEntry> entries_;
  std::vector<BYTE> image_;
  std::vector<BYTE> directory_;
};

class ExtractEntryTest : public DriveTest {
 protected:
  void SetUp() override {
    ResetDiskFreeSpaceCache();
    lstrcpyA(WindowTitle, "UPDATE");
    OwnerWindow = nullptr;
  }
  void TearDown() override {
    // Every path releases what it took.
    EXPECT_EQ(0, scripted::OpenHandles());
    EXPECT_EQ(0, scripted::LiveAllocations());
    EXPECT_EQ(0, scripted::LoadedLibraryReferences());
  }
  int Extract(const char* name, const std::string& relative, int newerOnly = 0, ExtractObserver observer = nullptr) {
    return ExtractEntry(name, c_.Path(relative).c_str(), newerOnly, observer);
  }
  // Writes an existing target with a known last-write time.
  void Existing(const std::string& relative, const std::string& bytes, uint64_t time) {
    FILETIME stamp = MakeFileTime(time);
    ASSERT_EQ(1, WriteWholeFile(c_.Path(relative).c_str(), bytes.data(), static_cast<DWORD>(bytes.size()), &stamp));
  }
  DWORD Attributes(const std::string& relative) { return GetFileAttributesA(c_.Path(relative).c_str()); }
  std::vector<std::string> Messages() {
    std::vector<std::string> texts;
    for (const scripted::MessageBoxRecord& box : scripted::MessageBoxes()) texts.push_back(box.text);
    return texts;
  }
  TestArchive archive_;
};

// ---- Lookup -------------------------------------------------------------------

TEST_F(ExtractEntryTest, WritesAStoredEntryWithItsSizeAndAllThreeTimes) {
  archive_.Stored("README.TXT", "hello, world").Open();
  c_.MakeDirectory("GAME");
  EXPECT_EQ(1, Extract("README.TXT", "GAME\\README.TXT"));
  // Times first: reading the bytes counts as an access on the host.
  FileTimes times;
  ASSERT_TRUE(ReadFileTimes(c_.Path("GAME\\README.TXT"), &times));
  EXPECT_EQ(kEntryTime, times.creation);
  EXPECT_EQ(kEntryTime, times.access);
  EXPECT_EQ(kEntryTime, times.write);
  EXPECT_EQ("hello, world", c_.ReadFile("GAME\\README.TXT"));
  EXPECT_TRUE(Messages().empty());
}

// Names are looked up by the platform's case-blind compare: case pairs beyond
// ASCII and the two codes of one character find the entry; a kana whose trail
// byte is another letter's capital does not.
TEST_F(ExtractEntryTest, NamesAreFoundByTheEntryNameRule) {
  struct Case {
    const char* stored;
    const char* asked;
    bool found;
  } cases[] = {
      {"UPDATE.INI", "update.Ini", true},
      {"\x82\x93\x82\x81\x82\x96\x82\x85.DAT", "\x82\x72\x82\x60\x82\x75\x82\x64.dat", true},  // ｓａｖｅ, ＳＡＶＥ
      {"\x83\xbf.DAT", "\x83\x9f.DAT", true},                                                // α, Α
      {"\x84\x91.DAT", "\x84\x60.DAT", true},                                                // я, Я
      {"\xfa\x40.DAT", "\x87\x54.DAT", true},                                                // ⅰ, Ⅰ
      {"\xed\x40.DAT", "\xfa\x5c.DAT", true},                                                // 纊 by both codes
      {"\x83\x41.DAT", "\x83\x61.DAT", false},                                               // ア, ャ
  };
  for (const Case& c : cases) archive_.Stored(c.stored, c.stored);
  archive_.Open();
  int target = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    std::string out = "OUT" + std::to_string(target++);
    EXPECT_EQ(c.found ? 1 : 0, Extract(c.asked, out));
    EXPECT_EQ(c.found, c_.Exists(out));
    if (c.found) {
      EXPECT_EQ(c.stored, c_.ReadFile(out));
    }
  }
  EXPECT_EQ(std::vector<std::string>{"Can't Find File in Resource !!"}, Messages());
}

TEST_F(ExtractEntryTest, FirstOfTwoEqualNamesWins) {
  archive_.Stored("A.DAT", "first").Stored("a.dat", "second").Open();
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ("first", c_.ReadFile("A.DAT"));
}

TEST_F(ExtractEntryTest, DataOffsetSkipsThePaddedDataOfEarlierEntries) {
  // Sizes 1, 16 and 17 pad to 16, 16 and 32 bytes.
  archive_.Stored("ONE", "1")
      .Stored("SIXTEEN", std::string(16, 's'))
      .Compressed("ABC", kRepeatBlock, 10)
      .Stored("LAST", "the last entry")
      .Open();
  EXPECT_EQ(1, Extract("LAST", "LAST"));
  EXPECT_EQ("the last entry", c_.ReadFile("LAST"));
  EXPECT_EQ(1, Extract("SIXTEEN", "SIXTEEN"));
  EXPECT_EQ(std::string(16, 's'), c_.ReadFile("SIXTEEN"));
}

TEST_F(ExtractEntryTest, UnknownNameShowsCantFindAndReturns0) {
  archive_.Stored("A.DAT", "a").Open();
  EXPECT_EQ(0, Extract("B.DAT", "B.DAT"));
  ASSERT_EQ(1u, scripted::MessageBoxes().size());
  const scripted::MessageBoxRecord& box = scripted::MessageBoxes()[0];
  EXPECT_EQ(kCantFind, box.text);
  EXPECT_EQ("UPDATE", box.caption);
  EXPECT_EQ(nullptr, box.owner);
  EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.flags & 0xF0u);
  EXPECT_FALSE(c_.Exists("B.DAT"));
}

TEST_F(ExtractEntryTest, EmptyDirectoryFindsNothing) {
  archive_.Open();
  EXPECT_EQ(0, Extract("UPDATE.INI", "UPDATE.INI"));
  EXPECT_EQ(std::vector<std::string>{kCantFind}, Messages());
}

TEST_F(ExtractEntryTest, NoOpenArchiveFindsNothing) {
  EXPECT_EQ(0, Extract("UPDATE.INI", "UPDATE.INI"));
  EXPECT_EQ(std::vector<std::string>{kCantFind}, Messages());
}

TEST_F(ExtractEntryTest, MessageCaptionIsTheTitleOfTheMoment) {
  archive_.Open();
  lstrcpyA(WindowTitle, "GAME UPDATE 1.01");
  OwnerWindow = reinterpret_cast<HWND>(0x4321);
  EXPECT_EQ(0, Extract("X", "X"));
  ASSERT_EQ(1u, scripted::MessageBoxes().size());
  EXPECT_EQ("GAME UPDATE 1.01", scripted::MessageBoxes()[0].caption);
  EXPECT_EQ(reinterpret_cast<HWND>(0x4321), scripted::MessageBoxes()[0].owner);
  OwnerWindow = nullptr;
}

TEST_F(ExtractEntryTest, NameFillingItsWholeFieldIsComparedWithinTheField) {
  // 15 name bytes and no NUL: the record's attribute byte must not count as
  // part of the name.
  archive_.Stored("ABCDEFGHIJKLMNO", "full").Open();
  EXPECT_EQ(0, Extract("ABCDEFGHIJKLMNO\x01", "X"));
  EXPECT_EQ(1, Extract("abcdefghijklmno", "FULL.DAT"));
  EXPECT_EQ("full", c_.ReadFile("FULL.DAT"));
}

// ---- Free space -------------------------------------------------------------

TEST_F(ExtractEntryTest, FileSizeEqualToTheFreeSpacePasses) {
  archive_.Stored("A.DAT", std::string(4096, 'a')).Open();
  scripted::SetFreeSpace('C', 4096, 1 << 20, 4096);
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ(4096u, c_.ReadFile("A.DAT").size());
}

TEST_F(ExtractEntryTest, OneByteMoreThanTheFreeSpaceFailsWithShortfall1) {
  archive_.Stored("A.DAT", std::string(4097, 'a')).Open();
  scripted::SetFreeSpace('C', 4096, 1 << 20, 4096);
  EXPECT_EQ(0, Extract("A.DAT", "GAME\\A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"ディスク容量が足りません。C: ドライブに 1 バイトの空き容量が必要です"}, Messages());
  EXPECT_FALSE(c_.Exists("GAME"));
}

TEST_F(ExtractEntryTest, MessageNamesTheTargetsDrive) {
  TempDrive d('D');
  archive_.Stored("A.DAT", std::string(300, 'a')).Open();
  scripted::SetFreeSpace('D', 100, 1 << 20, 100);
  EXPECT_EQ(0, ExtractEntry("A.DAT", d.Path("A.DAT").c_str(), 0, nullptr));
  EXPECT_EQ(std::vector<std::string>{"ディスク容量が足りません。D: ドライブに 200 バイトの空き容量が必要です"}, Messages());
}

TEST_F(ExtractEntryTest, ShortfallPast2GiBIsPrintedUnsigned) {
  // The free-space test comes before the data is touched, so an entry of
  // 4 GiB - 1 bytes needs no such data in the image.
  archive_.Raw({"HUGE.DAT", ENTRY_STORED, kEntryTime, 0xFFFFFFFFu, 0, ""}).Open();
  scripted::SetFreeSpace('C', 0, 1 << 20, 0);
  EXPECT_EQ(0, Extract("HUGE.DAT", "HUGE.DAT"));
  EXPECT_EQ(std::vector<std::string>{"ディスク容量が足りません。C: ドライブに 4294967295 バイトの空き容量が必要です"},
            Messages());
}

TEST_F(ExtractEntryTest, WholeSizeIsWeighedEvenWhenTheTargetExists) {
  archive_.Stored("A.DAT", std::string(200, 'n')).Open();
  Existing("A.DAT", std::string(150, 'o'), kEntryTime - 1);
  scripted::SetFreeSpace('C', 100, 1 << 20, 100);
  EXPECT_EQ(0, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ(1u, Messages().size());
  EXPECT_EQ(std::string(150, 'o'), c_.ReadFile("A.DAT"));
}

TEST_F(ExtractEntryTest, FailedFreeSpaceQueryLetsTheWriteGoOn) {
  archive_.Stored("A.DAT", "payload").Open();
  scripted::FailFreeSpace('C');
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ("payload", c_.ReadFile("A.DAT"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ExtractEntryTest, FreeSpaceThroughTheOldQueryIsUsedToo) {
  scripted::SetDiskFreeSpaceExAvailable(false);
  archive_.Stored("A.DAT", std::string(8193, 'a')).Open();
  scripted::SetFreeSpace('C', 8192, 1 << 20, 8192);
  EXPECT_EQ(0, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"ディスク容量が足りません。C: ドライブに 1 バイトの空き容量が必要です"}, Messages());
}

// ---- Data ---------------------------------------------------------------------

TEST_F(ExtractEntryTest, CompressedEntryIsExpandedAndWritten) {
  archive_.Compressed("ABC.TXT", kRepeatBlock, 10).Open();
  EXPECT_EQ(1, Extract("ABC.TXT", "ABC.TXT"));
  EXPECT_EQ(kRepeatText, c_.ReadFile("ABC.TXT"));
  FileTimes times;
  ASSERT_TRUE(ReadFileTimes(c_.Path("ABC.TXT"), &times));
  EXPECT_EQ(kEntryTime, times.creation);
  EXPECT_EQ(kEntryTime, times.write);
}

TEST_F(ExtractEntryTest, CompressedEntryAcrossSeveralFlagWords) {
  std::string text;
  for (int i = 0; i < 100; i++) text += static_cast<char>('A' + i % 26);
  archive_.Stored("PAD", "x").Compressed("LONG.TXT", LiteralBlock(text), 100).Open();
  EXPECT_EQ(1, Extract("LONG.TXT", "LONG.TXT"));
  EXPECT_EQ(text, c_.ReadFile("LONG.TXT"));
}

TEST_F(ExtractEntryTest, EmptyCompressedEntryGivesAnEmptyFile) {
  archive_.Compressed("EMPTY", LiteralBlock(""), 0).Open();
  EXPECT_EQ(1, Extract("EMPTY", "EMPTY"));
  EXPECT_TRUE(c_.Exists("EMPTY"));
  EXPECT_EQ("", c_.ReadFile("EMPTY"));
}

TEST_F(ExtractEntryTest, NoMemoryForTheExpansionShowsCantAllocate) {
  archive_.Compressed("ABC.TXT", kRepeatBlock, 10).Open();
  scripted::FailAllocations(0);
  EXPECT_EQ(0, Extract("ABC.TXT", "ABC.TXT"));
  EXPECT_EQ(std::vector<std::string>{kCantAllocate}, Messages());
  EXPECT_FALSE(c_.Exists("ABC.TXT"));
}

TEST_F(ExtractEntryTest, StoredEntryNeedsNoMemory) {
  archive_.Stored("A.DAT", "in place").Open();
  scripted::FailAllocations(0, 1000);
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ("in place", c_.ReadFile("A.DAT"));
}

TEST_F(ExtractEntryTest, BlockReachingBeforeItsOutputIsRefused) {
  // A literal, then a short match from distance 2: one byte too far back.
  std::vector<uint8_t> bad;
  BlockEncoder enc(bad);
  enc.Literal('a');
  enc.ShortMatch(2);
  enc.End();
  archive_.Compressed("BAD.DAT", std::string(bad.begin(), bad.end()), 3).Open();
  Existing("BAD.DAT", "previous", kEntryTime - 1);
  EXPECT_EQ(0, Extract("BAD.DAT", "BAD.DAT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_EQ("previous", c_.ReadFile("BAD.DAT"));
}

TEST_F(ExtractEntryTest, BlockShorterThanTheFileSizeIsRefused) {
  archive_.Compressed("ABC.TXT", kRepeatBlock, 11).Open();
  EXPECT_EQ(0, Extract("ABC.TXT", "ABC.TXT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_FALSE(c_.Exists("ABC.TXT"));
}

TEST_F(ExtractEntryTest, BlockLongerThanTheFileSizeIsRefused) {
  archive_.Compressed("ABC.TXT", kRepeatBlock, 9).Open();
  EXPECT_EQ(0, Extract("ABC.TXT", "ABC.TXT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_FALSE(c_.Exists("ABC.TXT"));
}

TEST_F(ExtractEntryTest, BlockWithoutItsEndCodeIsRefused) {
  // Twelve literals and the end code take 17 bytes; the directory claims
  // 16, so the end code's FF byte is missing. The next entry's data begins
  // right there with an FF that would complete the block: the decoder may
  // not read on into it.
  std::string block = LiteralBlock("twelve bytes");
  ASSERT_EQ(17u, block.size());
  ASSERT_EQ('\xFF', block[16]);
  archive_.Raw({"CUT.TXT", ENTRY_COMPRESSED, kEntryTime, 12, 16, block}).Stored("NEXT", "\xFF\xFF").Open();
  EXPECT_EQ(0, Extract("CUT.TXT", "CUT.TXT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_FALSE(c_.Exists("CUT.TXT"));
}

TEST_F(ExtractEntryTest, StoredDataRunningPastTheImageIsRefused) {
  // The directory says 64 bytes; the image ends 8 bytes into them.
  archive_.Raw({"A.DAT", ENTRY_STORED, kEntryTime, 64, 64, std::string(64, 'a')}).Open(64 - 8 + ARCHIVE_ENTRY_SIZE);
  EXPECT_EQ(0, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_FALSE(c_.Exists("A.DAT"));
}

TEST_F(ExtractEntryTest, StoredEntryWhoseFileSizeExceedsTheImageIsRefused) {
  archive_.Raw({"A.DAT", ENTRY_STORED, kEntryTime, 0x10000, 16, std::string(16, 'a')}).Open();
  EXPECT_EQ(0, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
}

TEST_F(ExtractEntryTest, DataOffsetBeyondTheImageIsRefused) {
  // Earlier entries claim more bytes than the image has; the later entry's
  // offset then lies outside it.
  archive_.Raw({"BIG", ENTRY_STORED, kEntryTime, 0, 0xFFFFFFF0u, ""}).Stored("A.DAT", "a").Open();
  EXPECT_EQ(0, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
}

TEST_F(ExtractEntryTest, CompressedBlockRunningPastTheImageIsRefused) {
  // The block itself is whole, but the directory claims 4 KiB for it and
  // the image ends long before.
  archive_.Raw({"C.DAT", ENTRY_COMPRESSED, kEntryTime, 10, 0x1000, kRepeatBlock}).Open();
  EXPECT_EQ(0, Extract("C.DAT", "C.DAT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_FALSE(c_.Exists("C.DAT"));
}

// ---- The existing target ----------------------------------------------------------

int observerCalls;
int CountingObserver(const BYTE*, DWORD) { return ++observerCalls; }

TEST_F(ExtractEntryTest, DirectoryInTheWayGives0WithoutAMessage) {
  archive_.Compressed("ABC.TXT", kRepeatBlock, 10).Open();
  c_.MakeDirectory("ABC.TXT");
  observerCalls = 0;
  EXPECT_EQ(0, Extract("ABC.TXT", "ABC.TXT", 0, CountingObserver));
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(c_.IsDirectory("ABC.TXT"));
  // Refused before the write is even prepared.
  EXPECT_EQ(0, observerCalls);
}

TEST_F(ExtractEntryTest, ReadOnlyTargetIsMadeWritableAndOverwritten) {
  archive_.Stored("A.DAT", "new").Open();
  Existing("A.DAT", "old", kEntryTime + 100);
  ASSERT_TRUE(SetFileAttributesA(c_.Path("A.DAT").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT"));
  EXPECT_EQ("new", c_.ReadFile("A.DAT"));
  EXPECT_EQ(0u, Attributes("A.DAT") & FILE_ATTRIBUTE_READONLY);
}

// The newer-only rule keeps an installed file only when its last write is
// strictly later than the entry's time, compared as one 64-bit value; without
// the rule the entry is always written. A written file carries the entry's
// time, a kept one its own.
TEST_F(ExtractEntryTest, NewerOnlyKeepsOnlyAStrictlyNewerInstalledFile) {
  const uint64_t kNone = 0;
  struct Case {
    int newerOnly;
    uint64_t entry, installed;
    bool kept;
  } cases[] = {
      {0, kEntryTime, kEntryTime + 1, false},
      {1, kEntryTime, kEntryTime + 1, true},
      {1, kEntryTime, kEntryTime, false},
      {1, kEntryTime, kEntryTime - 1, false},
      {1, kEntryTime, kNone, false},
      // Higher high half but lower low half: newer as a 64-bit value.
      {1, 0x01D60001FFFFFFFFull, 0x01D6000200000000ull, true},
      {1, 0x01D6000200000000ull, 0x01D60001FFFFFFFFull, false},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
    archive_.Stored("A" + std::to_string(i) + ".DAT", "archive", cases[i].entry);
  archive_.Open();
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    const Case& c = cases[i];
    std::string name = "A" + std::to_string(i) + ".DAT";
    SCOPED_TRACE(name);
    if (c.installed != kNone) Existing(name, "installed", c.installed);
    EXPECT_EQ(1, Extract(name.c_str(), name, c.newerOnly));
    EXPECT_EQ(c.kept ? "installed" : "archive", c_.ReadFile(name));
    FileTimes times;
    ASSERT_TRUE(ReadFileTimes(c_.Path(name), &times));
    EXPECT_EQ(c.kept ? c.installed : c.entry, times.write);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ExtractEntryTest, NewerReadOnlyFileIsKeptButLosesReadOnly) {
  archive_.Stored("A.DAT", "archive").Open();
  Existing("A.DAT", "installed", kEntryTime + 10);
  ASSERT_TRUE(SetFileAttributesA(c_.Path("A.DAT").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT", 1));
  EXPECT_EQ("installed", c_.ReadFile("A.DAT"));
  DWORD attributes = Attributes("A.DAT");
  EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ExtractEntryTest, NewerOnlyWritesWhenTheTargetCannotBeOpened) {
  archive_.Stored("A.DAT", "archive").Open();
  Existing("A.DAT", "installed", kEntryTime + 10);
  // Someone holds the file without sharing: the time can't be read, so the
  // entry is written; the replacement then fails as the file is in use or
  // succeeds, and either way no newer file is claimed as kept.
  HANDLE holder =
      CreateFileA(c_.Path("A.DAT").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  std::vector<std::string> seen;
  static std::vector<std::string>* sink;
  sink = &seen;
  ExtractObserver observer = [](const BYTE* data, DWORD size) {
    sink->push_back(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
  };
  Extract("A.DAT", "A.DAT", 1, observer);
  CloseHandle(holder);
  EXPECT_EQ(std::vector<std::string>{"archive"}, seen);
}

// ---- Observer and write --------------------------------------------------------

struct ObserverLog {
  int calls = 0;
  std::string bytes;
  bool targetExisted = false;
  std::string targetContent;
};
ObserverLog* observerLog;
TempDrive* observerDrive;

int RecordingObserver(const BYTE* data, DWORD size) {
  observerLog->calls++;
  observerLog->bytes.assign(reinterpret_cast<const char*>(data), size);
  observerLog->targetExisted = observerDrive->Exists("A.DAT");
  observerLog->targetContent = observerDrive->ReadFile("A.DAT");
  return 0;
}

TEST_F(ExtractEntryTest, ObserverSeesTheExpandedBytesOnceRightBeforeTheWrite) {
  ObserverLog log;
  observerLog = &log;
  observerDrive = &c_;
  archive_.Compressed("A.DAT", kRepeatBlock, 10).Open();
  Existing("A.DAT", "old", kEntryTime - 5);
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT", 0, RecordingObserver));
  EXPECT_EQ(1, log.calls);
  EXPECT_EQ(kRepeatText, log.bytes);
  EXPECT_TRUE(log.targetExisted);
  EXPECT_EQ("old", log.targetContent);
  EXPECT_EQ(kRepeatText, c_.ReadFile("A.DAT"));
}

TEST_F(ExtractEntryTest, ObserverIsNotCalledForAKeptFile) {
  ObserverLog log;
  observerLog = &log;
  observerDrive = &c_;
  archive_.Stored("A.DAT", "archive").Open();
  Existing("A.DAT", "installed", kEntryTime + 1);
  EXPECT_EQ(1, Extract("A.DAT", "A.DAT", 1, RecordingObserver));
  EXPECT_EQ(0, log.calls);
}

TEST_F(ExtractEntryTest, FailedWriteReturns0WithoutAMessageAndKeepsTheTarget) {
  archive_.Compressed("A.DAT", kRepeatBlock, 10).Open();
  Existing("A.DAT", "previous", kEntryTime - 1);
  scripted::FailWritesTo("", 4);
  EXPECT_EQ(0, Extract("A.DAT", "A.DAT"));
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ("previous", c_.ReadFile("A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List());
}

TEST_F(ExtractEntryTest, MissingTargetFolderReturns0WithoutAMessage) {
  archive_.Stored("A.DAT", "a").Open();
  EXPECT_EQ(0, Extract("A.DAT", "NOFOLDER\\A.DAT"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ExtractEntryTest, TargetPathLongerThan259BytesIsRefused) {
  archive_.Stored("A.DAT", "a").Open();
  std::string target = "C:\\" + std::string(257, 'x');  // PATH_BUFFER bytes
  observerCalls = 0;
  EXPECT_EQ(0, ExtractEntry("A.DAT", target.c_str(), 0, CountingObserver));
  EXPECT_TRUE(c_.List().empty());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(0, observerCalls);
}


// ---- Archives from the publisher's writer -------------------------------------

// Opens a written archive the way start-up does (memory mode) and closes it
// again, so that the directory block is released before the leak checks.
class WrittenArchive {
 public:
  explicit WrittenArchive(std::vector<uint8_t> image) : image_(std::move(image)) {
    OpenImage.data = image_.data();
    OpenImage.length = static_cast<DWORD>(image_.size());
    ArchiveDirectory = OpenArchive(image_.data(), static_cast<DWORD>(image_.size()));
  }
  ~WrittenArchive() {
    CloseArchive();
    OpenImage.data = nullptr;
    OpenImage.length = 0;
  }
  bool IsOpen() const { return ArchiveDirectory != nullptr; }

 private:
  std::vector<uint8_t> image_;
};

std::string SampleText() {
  std::string text;
  for (int i = 0; i < 200; i++) text += "UpdateFile" + std::to_string(i % 16) + "=u,DATA\\SOUND.PAK\r\n";
  return text;
}

std::string SampleNoise(size_t size) {
  std::string bytes;
  uint32_t state = 0x12345678u;
  for (size_t i = 0; i < size; i++) {
    state = state * 1103515245u + 12345u;
    bytes += static_cast<char>(state >> 24);
  }
  return bytes;
}

class WrittenArchiveTest : public ExtractEntryTest {};

TEST_F(WrittenArchiveTest, EveryEntryComesOutAsItWentIn) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"UPDATE.INI", "[SETUP]\r\nGameTitle=TEST\r\n"},
      {"TEXT.TXT", SampleText()},
      {"NOISE.BIN", SampleNoise(5000)},
      {"RUNS.DAT", std::string(3000, '\0') + std::string(700, 'z')},
      {"EMPTY.DAT", ""},
      {"ONE.DAT", "1"},
  };
  for (bool compressDirectory : {false, true}) {
    for (EntryStorage storage : {EntryStorage::Stored, EntryStorage::Compressed, EntryStorage::Smaller}) {
      SCOPED_TRACE(testing::Message() << "directory compressed " << compressDirectory << ", storage "
                                      << static_cast<int>(storage));
      ArchiveBuilder builder;
      uint64_t time = kEntryTime;
      for (const auto& file : files) builder.Add(file.first, file.second, storage, time += 1000);
      builder.CompressDirectory(compressDirectory);
      WrittenArchive archive(builder.Build());
      ASSERT_TRUE(archive.IsOpen());
      time = kEntryTime;
      for (const auto& file : files) {
        time += 1000;
        ASSERT_EQ(1, Extract(file.first.c_str(), file.first));
        FileTimes times;
        ASSERT_TRUE(ReadFileTimes(c_.Path(file.first), &times));
        EXPECT_EQ(time, times.creation);
        EXPECT_EQ(time, times.access);
        EXPECT_EQ(time, times.write);
        EXPECT_EQ(file.second, c_.ReadFile(file.first)) << file.first;
      }
      EXPECT_TRUE(Messages().empty());
      EXPECT_EQ(1, scripted::LiveAllocations());  // the directory only
    }
  }
}

TEST_F(WrittenArchiveTest, DamagedCompressedEntryIsRefusedAndNothingWritten) {
  std::vector<uint8_t> image = ArchiveBuilder().Compressed("TEXT.TXT", SampleText()).Build();
  // Flip bits through the middle of the entry's block (it begins at 16).
  for (size_t i = 40; i < 60; i++) image[i] ^= 0x5A;
  WrittenArchive archive(image);
  ASSERT_TRUE(archive.IsOpen());
  Existing("TEXT.TXT", "installed", kEntryTime);
  EXPECT_EQ(0, Extract("TEXT.TXT", "TEXT.TXT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_EQ("installed", c_.ReadFile("TEXT.TXT"));
  EXPECT_EQ(std::vector<std::string>{"TEXT.TXT"}, c_.List());
}

TEST_F(WrittenArchiveTest, TruncatedImageRefusesTheEntryPastItsEnd) {
  std::vector<uint8_t> image =
      ArchiveBuilder().Stored("FIRST.DAT", SampleNoise(100)).Stored("SECOND.DAT", SampleNoise(100)).Build();
  WrittenArchive archive(image);
  ASSERT_TRUE(archive.IsOpen());
  // The directory stays open; the image start-up would read data from now
  // ends inside the second entry.
  OpenImage.length = 16 + 112 + 50;
  EXPECT_EQ(1, Extract("FIRST.DAT", "FIRST.DAT"));
  EXPECT_EQ(0, Extract("SECOND.DAT", "SECOND.DAT"));
  EXPECT_EQ(std::vector<std::string>{kCantExpand}, Messages());
  EXPECT_FALSE(c_.Exists("SECOND.DAT"));
}

}  // namespace

namespace {

// A block cannot expand past BLOCK_MAX_EXPANSION times its length: a size
// claim beyond that is damage, refused before any memory is asked for (an
// allocation attempted here fails, so its message would show).
TEST_F(ExtractEntryTest, SizeClaimsPastWhatTheBlockCanHoldAreRefusedBeforeAllocating) {
  struct Row {
    DWORD fileSize;
    const char* message;
  };
  const Row rows[] = {
      {16 * BLOCK_MAX_EXPANSION, kCantAllocate},  // possible: the buffer is asked for
      {16 * BLOCK_MAX_EXPANSION + 1, kCantExpand},
      {0xFFFFFFFFu, kCantExpand},
  };
  for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
    TestArchive archive;
    archive.Raw({"CLAIM.DAT", ENTRY_COMPRESSED, kEntryTime, rows[i].fileSize, 16, std::string(16, '\0')}).Open();
    scripted::SetFreeSpace('C', (uint64_t)8 << 30, (uint64_t)16 << 30, (uint64_t)8 << 30);
    scripted::FailAllocations(0);
    EXPECT_EQ(0, Extract("CLAIM.DAT", "CLAIM.DAT")) << rows[i].fileSize;
    ASSERT_EQ(Messages().size(), i + 1);
    EXPECT_EQ(Messages().back(), rows[i].message) << rows[i].fileSize;
    EXPECT_FALSE(c_.Exists("CLAIM.DAT"));
    scripted::FailAllocations(0, 0);
  }
}

}  // namespace
