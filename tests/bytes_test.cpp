// The one little-endian reading and writing of fields (archive/bytes.h) and
// its appending form (pack/bytes_append.h): the low byte first, at any
// address, and a store touches its own bytes only.
#include "archive/bytes.h"

#include <gtest/gtest.h>

#include <vector>

#include "pack/bytes_append.h"

namespace {

const uint8_t kBytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};

TEST(LittleEndian, LoadsTakeTheLowByteFirstAtAnyAddress) {
  const struct {
    size_t at;
    uint16_t word;
    uint32_t dword;
    uint64_t qword;
  } rows[] = {
      {0, 0x0201, 0x04030201u, 0x0807060504030201ull},
      {1, 0x0302, 0x05040302u, 0x0908070605040302ull},  // odd: no alignment assumed
      {2, 0x0403, 0x06050403u, 0x0A09080706050403ull},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Load16(kBytes + r.at), r.word) << "at " << r.at;
    EXPECT_EQ(Load32(kBytes + r.at), r.dword) << "at " << r.at;
    EXPECT_EQ(Load64(kBytes + r.at), r.qword) << "at " << r.at;
  }
}

TEST(LittleEndian, StoresWriteTheLowByteFirstAndNothingBesideTheirBytes) {
  const size_t offsets[] = {0, 1, 3};
  for (size_t at : offsets) {
    std::vector<uint8_t> b(16, 0xCC);
    Store16(&b[at], 0xA1B2);
    std::vector<uint8_t> e16(16, 0xCC);
    e16[at] = 0xB2;
    e16[at + 1] = 0xA1;
    EXPECT_EQ(b, e16) << "16 bits at " << at;
    b.assign(16, 0xCC);
    Store32(&b[at], 0xA1B2C3D4u);
    std::vector<uint8_t> e32(16, 0xCC);
    const uint8_t low32[] = {0xD4, 0xC3, 0xB2, 0xA1};
    for (size_t i = 0; i < 4; i++) e32[at + i] = low32[i];
    EXPECT_EQ(b, e32) << "32 bits at " << at;
    b.assign(16, 0xCC);
    Store64(&b[at], 0x0102030405060708ull);
    for (size_t i = 0; i < 8; i++) EXPECT_EQ(b[at + i], 8 - i) << "64 bits at " << at << ", byte " << i;
    EXPECT_EQ(b[at + 8], 0xCC);
    if (at > 0) {
      EXPECT_EQ(b[at - 1], 0xCC);
    }
  }
}

TEST(LittleEndian, AppendsGoBehindWhatIsThereInOrder) {
  std::vector<uint8_t> b = {0xEE};
  Append16(b, 0x1234);
  Append32(b, 0x89ABCDEFu);
  Append16(b, 0);
  EXPECT_EQ(b, (std::vector<uint8_t>{0xEE, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0x00, 0x00}));
  // A store and a load of the same field agree, whatever the value.
  EXPECT_EQ(Load32(&b[3]), 0x89ABCDEFu);
  EXPECT_EQ(Load16(&b[1]), 0x1234);
}

}  // namespace
