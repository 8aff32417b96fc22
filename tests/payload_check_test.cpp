// The archive's check value: the CRC-32 by four bytes a step against the
// bit-at-a-time rule, the record's bytes, and that every single-byte change
// of an archive or of its record is caught.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/payload_check.h"
#include "double/scripted_win32.h"
#include "support/archive_builder.h"

namespace {

// The CRC-32 as its definition states it, one bit at a time.
uint32_t BitwiseCrc32(const uint8_t* data, size_t length) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    c ^= data[i];
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

const Crc32Tables& Tables() {
  static const Crc32Tables tables = [] {
    Crc32Tables t;
    BuildCrc32Tables(&t);
    return t;
  }();
  return tables;
}

uint32_t Crc(const std::string& s) { return Crc32Update(&Tables(), 0, (const BYTE*)s.data(), s.size()); }

// A fixed pseudo-random buffer (a linear congruential sequence).
std::vector<uint8_t> Noise(size_t size) {
  std::vector<uint8_t> v(size);
  uint32_t x = 12345;
  for (uint8_t& b : v) b = (uint8_t)((x = x * 1103515245u + 12345u) >> 23);
  return v;
}

TEST(Crc32, KnownValuesOfTheCommonCrc) {
  struct Row {
    std::string text;
    uint32_t crc;
  };
  for (const Row& r : {Row{"", 0}, Row{"a", 0xE8B7BE43u}, Row{"123456789", 0xCBF43926u},
                       Row{"The quick brown fox jumps over the lazy dog", 0x414FA339u}}) {
    EXPECT_EQ(Crc(r.text), r.crc) << r.text;
  }
}

TEST(Crc32, FourBytesAStepEqualTheBitRuleAtEveryLengthAndAlignment) {
  std::vector<uint8_t> noise = Noise(80);
  for (size_t start = 0; start < 4; ++start) {
    for (size_t length = 0; start + length <= noise.size(); ++length) {
      EXPECT_EQ(Crc32Update(&Tables(), 0, noise.data() + start, length), BitwiseCrc32(noise.data() + start, length))
          << "start " << start << " length " << length;
    }
  }
}

TEST(Crc32, PiecesContinueToTheWholesValue) {
  std::vector<uint8_t> noise = Noise(64);
  uint32_t whole = BitwiseCrc32(noise.data(), noise.size());
  for (size_t cut = 0; cut <= noise.size(); ++cut) {
    uint32_t first = Crc32Update(&Tables(), 0, noise.data(), cut);
    EXPECT_EQ(Crc32Update(&Tables(), first, noise.data() + cut, noise.size() - cut), whole) << cut;
  }
}

TEST(ArchiveCheckRecord, IsMagicMethodLengthAndCrcLittleEndian) {
  BYTE record[ARCHIVE_CHECK_SIZE];
  MakeArchiveCheck(record, 0x00030201u, 0xCBF43926u);
  const BYTE expected[ARCHIVE_CHECK_SIZE] = {'W', 'Z', '2', 'C', 1, 0, 0, 0, 1, 2, 3, 0, 0x26, 0x39, 0xF4, 0xCB};
  EXPECT_EQ(std::vector<BYTE>(record, record + ARCHIVE_CHECK_SIZE),
            std::vector<BYTE>(expected, expected + ARCHIVE_CHECK_SIZE));
  EXPECT_EQ(CompareArchiveCheck(record, ARCHIVE_CHECK_SIZE, 0x00030201u, 0xCBF43926u), ARCHIVE_CHECK_MATCHES);
  // A record with more or fewer bytes is no record this updater wrote.
  EXPECT_EQ(CompareArchiveCheck(record, ARCHIVE_CHECK_SIZE - 1, 0x00030201u, 0xCBF43926u), ARCHIVE_CHECK_DAMAGED);
  EXPECT_EQ(CompareArchiveCheck(record, ARCHIVE_CHECK_SIZE + 1, 0x00030201u, 0xCBF43926u), ARCHIVE_CHECK_DAMAGED);
}

// Every position of a small archive with a stored and a compressed entry and
// a compressed directory, every one of the 255 other values: none passes.
TEST(ArchiveCheckRecord, EverySingleByteChangeOfTheArchiveOrTheRecordIsCaught) {
  std::vector<uint8_t> archive = ArchiveBuilder()
                                     .Stored("UPDATE.INI", "[SETUP]\r\nCompanyName=Maker\r\n")
                                     .Compressed("A.DAT", std::string(200, 'a') + "tail")
                                     .CompressDirectory()
                                     .Build();
  ASSERT_GT(archive.size(), 64u);
  BYTE record[ARCHIVE_CHECK_SIZE];
  MakeArchiveCheck(record, (DWORD)archive.size(), Crc32Update(&Tables(), 0, archive.data(), archive.size()));
  size_t missed = 0;
  for (size_t at = 0; at < archive.size(); ++at) {
    uint8_t original = archive[at];
    for (int value = 0; value < 256; ++value) {
      if (value == original) continue;
      archive[at] = (uint8_t)value;
      DWORD crc = Crc32Update(&Tables(), 0, archive.data(), archive.size());
      if (CompareArchiveCheck(record, ARCHIVE_CHECK_SIZE, (DWORD)archive.size(), crc) != ARCHIVE_CHECK_DAMAGED) ++missed;
    }
    archive[at] = original;
  }
  DWORD crc = Crc32Update(&Tables(), 0, archive.data(), archive.size());
  for (size_t at = 0; at < ARCHIVE_CHECK_SIZE; ++at) {
    BYTE original = record[at];
    for (int value = 0; value < 256; ++value) {
      if (value == original) continue;
      record[at] = (BYTE)value;
      if (CompareArchiveCheck(record, ARCHIVE_CHECK_SIZE, (DWORD)archive.size(), crc) != ARCHIVE_CHECK_DAMAGED) ++missed;
    }
    record[at] = original;
  }
  EXPECT_EQ(missed, 0u);
  EXPECT_EQ(CompareArchiveCheck(record, ARCHIVE_CHECK_SIZE, (DWORD)archive.size(), crc), ARCHIVE_CHECK_MATCHES);
}

// The updater's test reads the record from its own module: none is as
// before; one that matches passes; one that does not fails.
TEST(ArchiveMatchesItsCheck, AbsentMatchingAndDamagedRecords) {
  scripted::Reset();
  const std::string archive = "WZ2 and whatever follows";
  const BYTE* image = (const BYTE*)archive.data();
  EXPECT_EQ(ArchiveMatchesItsCheck(GetModuleHandleA(nullptr), image, (DWORD)archive.size()), 1);
  BYTE record[ARCHIVE_CHECK_SIZE];
  MakeArchiveCheck(record, (DWORD)archive.size(), Crc(archive));
  scripted::SetResource(ARCHIVE_CHECK_RESOURCE_ID, "UPDATE", record, sizeof(record));
  EXPECT_EQ(ArchiveMatchesItsCheck(GetModuleHandleA(nullptr), image, (DWORD)archive.size()), 1);
  EXPECT_EQ(ArchiveMatchesItsCheck(GetModuleHandleA(nullptr), image, (DWORD)archive.size() - 1), 0);
  scripted::Reset();
}

}  // namespace
