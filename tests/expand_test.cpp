// The block decoder: worked examples, edge cases of the format, failure
// results, and its fast paths held byte for byte against the plain
// bit-at-a-time reference decoder (tests/support/block_reference).
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/expand.h"
#include "support/block_reference.h"
#include "pack/compress.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Expanded {
  ExpandResult result;
  Bytes output;
};

// Expands a copy of `block` that ends exactly where its heap allocation ends,
// into a heap block of exactly `room` bytes, so that AddressSanitizer builds
// catch any read or write past either buffer.
Expanded Expand(const Bytes& block, size_t room) {
  std::unique_ptr<uint8_t[]> src(new uint8_t[block.size() ? block.size() : 1]);
  if (!block.empty()) memcpy(src.get(), block.data(), block.size());
  std::unique_ptr<uint8_t[]> dst(new uint8_t[room ? room : 1]);
  Expanded e;
  e.result = ExpandBlock(dst.get(), room, src.get(), block.size());
  e.output.assign(dst.get(), dst.get() + room);
  return e;
}

// The decoder and the reference agree on the result, and on every byte when
// the expansion succeeded.
void ExpectSameAsReference(const Bytes& block, size_t room) {
  Expanded fast = Expand(block, room);
  ReferenceExpansion ref = ReferenceExpand(block.data(), block.size(), room);
  ASSERT_EQ(fast.result, ref.result) << "block of " << block.size() << " bytes, room " << room;
  if (fast.result == EXPAND_OK) {
    ASSERT_EQ(fast.output, ref.output);
  }
}

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back((uint8_t)x);
  return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes RandomBytes(std::mt19937& rng, size_t n, unsigned alphabet = 256) {
  Bytes b(n);
  for (auto& x : b) x = (uint8_t)(rng() % alphabet);
  return b;
}

// ---- The format's worked examples --------------------------------------------

TEST(ExpandWorkedExamples, EndCodeAloneExpandsToNothing) {
  Expanded e = Expand(B({0x00, 0x00, 0x00, 0x7C, 0xFF}), 0);
  EXPECT_EQ(e.result, EXPAND_OK);
}

TEST(ExpandWorkedExamples, ThreeLiteralsThenEndCodeGiveAbc) {
  Expanded e = Expand(B({0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF}), 3);
  ASSERT_EQ(e.result, EXPAND_OK);
  EXPECT_EQ(e.output, Text("abc"));
}

TEST(ExpandWorkedExamples, DistanceThreeMatchContinuesAcrossItsOwnOutput) {
  Expanded e = Expand(B({0x00, 0xE0, 0x23, 0xE4, 0x61, 0x62, 0x63, 0x01, 0xFF}), 10);
  ASSERT_EQ(e.result, EXPAND_OK);
  EXPECT_EQ(e.output, Text("abcabcabca"));
}

// ---- Edge cases of the grammar -------------------------------------------------

TEST(ExpandEdgeCases, NearShortMatchOfDistanceOneAfterOneLiteralTriplesIt) {
  // Bits 1 | 0 1 0 | 0 1 1 1 1 1: literal 'x', short match b = 0, end code.
  Expanded e = Expand(B({0x00, 0x00, 0xC0, 0xA7, 'x', 0x00, 0xFF}), 3);
  ASSERT_EQ(e.result, EXPAND_OK);
  EXPECT_EQ(e.output, Text("xxx"));
}

TEST(ExpandEdgeCases, LongestMatchOfDistanceOneGives283EqualBytes) {
  // Bits 1 | 0 0 1 [00] 0 0 0 0 0 0 [FF] | 0 1 1 [FF] 1 1 1.
  Expanded e = Expand(B({0x00, 0x00, 0x1F, 0x90, 'z', 0x00, 0xFF, 0xFF}), 283);
  ASSERT_EQ(e.result, EXPAND_OK);
  EXPECT_EQ(e.output, Bytes(283, 'z'));
}

TEST(ExpandEdgeCases, ThirtyTwoLiteralsPutTheSecondFlagWordAfterTheLastLiteral) {
  Bytes block = B({0xFF, 0xFF, 0xFF, 0xFF});
  Bytes literals;
  for (int i = 0; i < 32; ++i) literals.push_back((uint8_t)('A' + i));
  block.insert(block.end(), literals.begin(), literals.end());
  Bytes tail = B({0x00, 0x00, 0x00, 0x7C, 0xFF});
  block.insert(block.end(), tail.begin(), tail.end());
  ASSERT_EQ(block.size(), 41u);
  Expanded e = Expand(block, 32);
  ASSERT_EQ(e.result, EXPAND_OK);
  EXPECT_EQ(e.output, literals);
}

TEST(ExpandEdgeCases, FarShortMatchWithByteFFAndXBelowSevenIsACopy) {
  std::mt19937 rng(7);
  Bytes history = RandomBytes(rng, 2303);
  for (unsigned x = 0; x < 7; ++x) {
    Bytes block;
    BlockEncoder enc(block);
    for (uint8_t c : history) enc.Literal(c);
    enc.Bits(3, 3);  // 0 1 1
    enc.Byte(0xFF);
    enc.Bits(x, 3);
    enc.End();
    Expanded e = Expand(block, 2305);
    ASSERT_EQ(e.result, EXPAND_OK) << "x = " << x;
    size_t distance = 2297 + x;
    EXPECT_EQ(e.output[2303], history[2303 - distance]);
    EXPECT_EQ(e.output[2304], history[2304 - distance]);
  }
}

TEST(ExpandEdgeCases, EndCodeWhoseLastBitsOpenANewFlagWordReadsThatWord) {
  // 29 literals leave 0 1 1 as the last bits of the first word; the byte FF
  // follows, then the second word carrying 1 1 1.
  Bytes block = B({0xFB, 0xFF, 0xFF, 0xFF});
  Bytes literals(29, 'q');
  block.insert(block.end(), literals.begin(), literals.end());
  Bytes tail = B({0xFF, 0x00, 0x00, 0x00, 0xE0});
  block.insert(block.end(), tail.begin(), tail.end());
  Expanded e = Expand(block, 29);
  ASSERT_EQ(e.result, EXPAND_OK);
  EXPECT_EQ(e.output, literals);
  // Without that word the block ends inside its end code.
  block.resize(block.size() - 4);
  EXPECT_EQ(Expand(block, 29).result, EXPAND_BAD_DATA);
}

TEST(ExpandEdgeCases, EndCodeSplitAtEveryBitAcrossAFlagWordExpands) {
  for (unsigned literals = 0; literals < 40; ++literals) {
    Bytes block;
    BlockEncoder enc(block);
    for (unsigned i = 0; i < literals; ++i) enc.Literal((uint8_t)i);
    enc.End();
    Expanded e = Expand(block, literals);
    ASSERT_EQ(e.result, EXPAND_OK) << literals;
    for (unsigned i = 0; i < literals; ++i) ASSERT_EQ(e.output[i], i);
  }
}

TEST(ExpandEdgeCases, BytesAfterTheEndCodeAreIgnored) {
  Bytes block = B({0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF});
  Bytes padded = block;
  for (int i = 0; i < 100; ++i) padded.push_back(0xA5);
  Expanded e = Expand(padded, 3);
  ASSERT_EQ(e.result, EXPAND_OK);
  EXPECT_EQ(e.output, Text("abc"));
}

// ---- Failure results ---------------------------------------------------------

TEST(ExpandFailures, BackReferenceBeforeTheStartIsBadData) {
  // Bits 0 1 0 [00]: a distance-1 copy with no output yet.
  Expanded e = Expand(B({0x00, 0x00, 0x80, 0x4F, 0x00, 0xFF}), 2);
  EXPECT_EQ(e.result, EXPAND_BAD_DATA);
}

TEST(ExpandFailures, BackReferenceToTheFirstByteIsAccepted) {
  Bytes block;
  BlockEncoder enc(block);
  enc.Literal('a');
  enc.Literal('b');
  enc.LongMatch(2, 3);
  enc.End();
  Expanded ok = Expand(block, 5);
  ASSERT_EQ(ok.result, EXPAND_OK);
  EXPECT_EQ(ok.output, Text("ababa"));

  Bytes bad;
  BlockEncoder enc2(bad);
  enc2.Literal('a');
  enc2.Literal('b');
  enc2.LongMatch(3, 3);
  enc2.End();
  EXPECT_EQ(Expand(bad, 5).result, EXPAND_BAD_DATA);
}

TEST(ExpandFailures, ExpansionLongerThanTheRoomIsNoRoom) {
  Bytes abc = B({0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF});
  EXPECT_EQ(Expand(abc, 2).result, EXPAND_NO_ROOM);
  EXPECT_EQ(Expand(abc, 0).result, EXPAND_NO_ROOM);
  Bytes run = B({0x00, 0x00, 0x1F, 0x90, 'z', 0x00, 0xFF, 0xFF});
  EXPECT_EQ(Expand(run, 282).result, EXPAND_NO_ROOM);
}

TEST(ExpandFailures, ExpansionShorterThanTheRoomIsShortOutput) {
  Bytes abc = B({0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF});
  EXPECT_EQ(Expand(abc, 4).result, EXPAND_SHORT_OUTPUT);
  EXPECT_EQ(Expand(B({0x00, 0x00, 0x00, 0x7C, 0xFF}), 1).result, EXPAND_SHORT_OUTPUT);
}

TEST(ExpandFailures, NoRoomIsFoundInTheFastLoopToo) {
  // A long block whose room is a few bytes short: the overflow is met
  // after the fast loop handed over to the careful one.
  std::mt19937 rng(3);
  Bytes data = RandomBytes(rng, 5000, 4);
  Bytes block;
  CompressBlock(data.data(), data.size(), block, CompressLevel::Default);
  EXPECT_EQ(Expand(block, data.size() - 1).result, EXPAND_NO_ROOM);
  EXPECT_EQ(Expand(block, data.size() + 1).result, EXPAND_SHORT_OUTPUT);
  EXPECT_EQ(Expand(block, data.size()).result, EXPAND_OK);
}

TEST(ExpandFailures, InputShorterThanTheFirstFlagWordIsBadData) {
  for (size_t n = 0; n < 4; ++n) {
    EXPECT_EQ(Expand(Bytes(n, 0xFF), 10).result, EXPAND_BAD_DATA) << n;
  }
}

TEST(ExpandFailures, EveryTruncationOfAValidBlockIsBadData) {
  std::mt19937 rng(11);
  const CompressLevel levels[] = {CompressLevel::Fast, CompressLevel::Max};
  for (CompressLevel level : levels) {
    Bytes data = RandomBytes(rng, 1500, 6);
    Bytes block;
    CompressBlock(data.data(), data.size(), block, level);
    for (size_t cut = 0; cut < block.size(); ++cut) {
      Bytes part(block.begin(), block.begin() + cut);
      ASSERT_EQ(Expand(part, data.size()).result, EXPAND_BAD_DATA) << "cut at " << cut;
    }
  }
}

// ---- Fast paths against the byte-by-byte rule ------------------------------------

// Enough literals after the tokens under test that the fast loop (which
// needs a few hundred bytes of room ahead) decodes them.
void AppendTrailer(BlockEncoder& enc, std::mt19937& rng, Bytes* expected) {
  for (int i = 0; i < 400; ++i) {
    uint8_t c = (uint8_t)rng();
    enc.Literal(c);
    if (expected) expected->push_back(c);
  }
  enc.End();
}

TEST(ExpandFastPaths, EveryDistanceAndLengthCopiesByTheByteRule) {
  std::mt19937 rng(5);
  Bytes history = RandomBytes(rng, 64);
  for (uint32_t distance = 1; distance <= 40; ++distance) {
    for (uint32_t length = 3; length <= BLOCK_MAX_LENGTH; ++length) {
      Bytes block;
      BlockEncoder enc(block);
      Bytes expected = history;
      for (uint8_t c : history) enc.Literal(c);
      enc.LongMatch(distance, length);
      for (uint32_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
      AppendTrailer(enc, rng, &expected);
      Expanded e = Expand(block, expected.size());
      ASSERT_EQ(e.result, EXPAND_OK) << distance << "/" << length;
      ASSERT_EQ(e.output, expected) << "distance " << distance << " length " << length;
    }
  }
}

TEST(ExpandFastPaths, EveryTokenFormAtEveryFlagWordPosition) {
  // Each form is preceded by 0 to 31 literals, so its bits start at every
  // position of a flag word and every split of the token across a reload
  // (before the offset byte, between the extra bits, inside the length
  // code, before the length byte) occurs.
  std::mt19937 rng(9);
  struct Form {
    uint32_t distance;
    uint32_t length;
  };
  const Form forms[] = {
      {1, 2},    {256, 2},   {257, 2},   {2303, 2},  {1, 3},    {512, 4},  {513, 5},   {1024, 6},
      {1025, 7}, {2048, 10}, {2049, 11}, {4096, 26}, {4097, 27}, {8192, 282}, {3000, 100}, {77, 19},
      // The far short form with x = 7, the end code's, as a copy: offset
      // bytes 0 and FE.
      {264, 2},  {2296, 2},
  };
  Bytes history = RandomBytes(rng, 8192, 3);
  for (const Form& form : forms) {
    for (unsigned lead = 0; lead < 32; ++lead) {
      Bytes block;
      BlockEncoder enc(block);
      Bytes expected;
      for (uint8_t c : history) {
        enc.Literal(c);
        expected.push_back(c);
      }
      // history is 8192 literals (256 whole words), so the next token's
      // bit position is exactly `lead`.
      for (unsigned i = 0; i < lead; ++i) {
        enc.Literal((uint8_t)i);
        expected.push_back((uint8_t)i);
      }
      enc.Match(form.distance, form.length);
      for (uint32_t i = 0; i < form.length; ++i) expected.push_back(expected[expected.size() - form.distance]);
      AppendTrailer(enc, rng, &expected);
      Expanded e = Expand(block, expected.size());
      ASSERT_EQ(e.result, EXPAND_OK) << form.distance << "/" << form.length << " after " << lead;
      ASSERT_EQ(e.output, expected) << form.distance << "/" << form.length << " after " << lead;
      ExpectSameAsReference(block, expected.size());
    }
  }
}

TEST(ExpandFastPaths, EndCodeMetInsideTheFastLoopAtEveryFlagWordPosition) {
  // Room and input to spare, so the fast loop is still running when the
  // end code comes: the block is short of its room, and the bytes after
  // the end code are not read as tokens.
  std::mt19937 rng(17);
  Bytes history = RandomBytes(rng, 256);
  const size_t spareRooms[] = {400, 4000};
  for (unsigned lead = 0; lead < 32; ++lead) {
    for (size_t spare : spareRooms) {
      Bytes block;
      BlockEncoder enc(block);
      for (uint8_t c : history) enc.Literal(c);
      for (unsigned i = 0; i < lead; ++i) enc.Literal((uint8_t)i);
      enc.Match(1, 5);
      enc.End();
      Bytes padding = RandomBytes(rng, 64);
      block.insert(block.end(), padding.begin(), padding.end());
      size_t produced = history.size() + lead + 5;
      Expanded e = Expand(block, produced + spare);
      ASSERT_EQ(e.result, EXPAND_SHORT_OUTPUT) << "after " << lead << " literals";
      ASSERT_TRUE(std::equal(history.begin(), history.end(), e.output.begin())) << lead;
      ExpectSameAsReference(block, produced + spare);
    }
  }
}

TEST(ExpandFastPaths, RandomTokenStreamsMatchTheReference) {
  std::mt19937 rng(21);
  for (int round = 0; round < 300; ++round) {
    Bytes block;
    BlockEncoder enc(block);
    size_t produced = 0;
    int tokens = 50 + (int)(rng() % 400);
    for (int t = 0; t < tokens; ++t) {
      unsigned kind = rng() % 4;
      if (kind == 0 || produced == 0) {
        enc.Literal((uint8_t)rng());
        ++produced;
        continue;
      }
      uint32_t maxDistance = (uint32_t)std::min<size_t>(produced, BLOCK_MAX_DISTANCE);
      uint32_t distance = 1 + (uint32_t)(rng() % (kind == 1 ? std::min<uint32_t>(maxDistance, 8) : maxDistance));
      uint32_t length = kind == 3 ? 3 + rng() % 280 : 2 + rng() % 12;
      if (length == 2 && distance > SHORT_MATCH_MAX_DISTANCE) length = 3;
      enc.Match(distance, length);
      produced += length;
    }
    enc.End();
    ExpectSameAsReference(block, produced);
    ExpectSameAsReference(block, produced + 1);
    ExpectSameAsReference(block, produced - 1);
  }
}

TEST(ExpandFastPaths, CompressedDataOfEveryLevelMatchesTheReference) {
  std::mt19937 rng(31);
  std::vector<Bytes> inputs;
  inputs.push_back(RandomBytes(rng, 20000));
  inputs.push_back(RandomBytes(rng, 20000, 3));
  inputs.push_back(Bytes(20000, 0));
  std::string text;
  while (text.size() < 30000) text += "the updater writes each file it names, keeping newer ones; ";
  inputs.push_back(Text(text));
  const CompressLevel levels[] = {CompressLevel::Fast, CompressLevel::Default, CompressLevel::Max};
  for (const Bytes& data : inputs) {
    for (CompressLevel level : levels) {
      Bytes block;
      CompressBlock(data.data(), data.size(), block, level);
      Expanded e = Expand(block, data.size());
      ASSERT_EQ(e.result, EXPAND_OK);
      ASSERT_EQ(e.output, data);
      ExpectSameAsReference(block, data.size());
    }
  }
}

TEST(ExpandFastPaths, BlocksCutInsideTheirLastTokenStayInsideTheInput) {
  // The fast loop reads ahead (a 32-byte literal copy, flag words peeked
  // before they are known to be needed); these blocks end right inside the
  // longest tokens, reached after a run of up to 31 literals, with spare
  // output room so only the input bound can stop the fast loop. Under
  // AddressSanitizer any read past the block's heap buffer fails the test.
  std::mt19937 rng(13);
  const uint32_t distances[] = {1, 600, 1500, 3000, 8192};
  for (uint32_t distance : distances) {
    // Whole flag words of history, so the match's bits start at `lead`.
    Bytes history = RandomBytes(rng, (distance + 31) / 32 * 32 + 64, 5);
    for (unsigned lead = 0; lead < 32; ++lead) {
      Bytes block;
      BlockEncoder enc(block);
      for (uint8_t c : history) enc.Literal(c);
      for (unsigned i = 0; i < lead; ++i) enc.Literal((uint8_t)i);
      enc.LongMatch(distance, 200);
      enc.End();
      size_t room = history.size() + lead + 200 + 400;
      for (size_t cut = block.size() - 60; cut <= block.size(); ++cut) {
        ExpectSameAsReference(Bytes(block.begin(), block.begin() + cut), room);
      }
    }
  }
}

// ---- Hostile input -----------------------------------------------------------------

TEST(ExpandHostileInput, RandomBytesGiveTheReferenceResult) {
  std::mt19937 rng(41);
  for (int round = 0; round < 20000; ++round) {
    size_t n = rng() % 300;
    Bytes block = RandomBytes(rng, n, round % 2 ? 256 : 2);
    size_t room = rng() % 1500;
    ExpectSameAsReference(block, room);
  }
}

TEST(ExpandHostileInput, CorruptingAnyByteOfABlockGivesTheReferenceResult) {
  std::mt19937 rng(43);
  std::string text;
  while (text.size() < 3000) text += "UpdateFile01=u,SOUND.PAK\r\nUpdateFile02=a,DATA\\MAP01.DAT\r\n";
  Bytes data = Text(text);
  Bytes block;
  CompressBlock(data.data(), data.size(), block, CompressLevel::Max);
  const uint8_t flips[] = {0x01, 0x10, 0x80, 0xFF};
  for (size_t i = 0; i < block.size(); ++i) {
    for (uint8_t flip : flips) {
      Bytes bad = block;
      bad[i] ^= flip;
      ExpectSameAsReference(bad, data.size());
    }
  }
}

// ---- Through a window ---------------------------------------------------------------

// ExpandBlockThrough on a block and room: its result, and the stretches it
// handed out joined, which must be ExpandBlock's for the same arguments.
Expanded ExpandThrough(const Bytes& block, size_t room, size_t windowSize) {
  Expanded e;
  std::vector<uint8_t> window(windowSize);
  e.result = ExpandBlockThrough(room, block.data(), block.size(), window.data(), window.size(),
                                [](void* context, const uint8_t* bytes, size_t size) {
                                  static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), bytes,
                                                                       bytes + size);
                                },
                                &e.output);
  return e;
}

void ExpectThroughSameAsWhole(const Bytes& block, size_t room, size_t windowSize) {
  Expanded whole = Expand(block, room);
  Expanded through = ExpandThrough(block, room, windowSize);
  ASSERT_EQ(through.result, whole.result) << "block of " << block.size() << ", room " << room << ", window " << windowSize;
  if (whole.result == EXPAND_OK) {
    ASSERT_TRUE(through.output == whole.output) << room << ", window " << windowSize;
  }
}

// Outputs that end just before, at and after window slides, at every level,
// with the room exact and off by a little and by much: the window's end
// must never be taken for the output's.
TEST(ExpandThroughWindow, GivesExpandBlocksResultAndBytesAcrossSlides) {
  std::mt19937 rng(47);
  const size_t kMin = EXPAND_WINDOW_MIN_BYTES;
  for (size_t n : {(size_t)0, (size_t)1, kMin - 1, kMin, kMin + 1, 2 * kMin - BLOCK_MAX_DISTANCE, (size_t)200000}) {
    Bytes data;
    while (data.size() < n) {
      bool repeat = data.size() > BLOCK_MAX_DISTANCE && rng() % 2;
      size_t at = repeat ? data.size() - 1 - rng() % BLOCK_MAX_DISTANCE : 0;
      Bytes piece = repeat ? Bytes(data.begin() + (ptrdiff_t)at, data.begin() + (ptrdiff_t)std::min(data.size(), at + 1 + rng() % 300))
                           : RandomBytes(rng, 1 + rng() % 100, 4 + rng() % 200);
      data.insert(data.end(), piece.begin(), piece.end());
    }
    data.resize(n);
    for (CompressLevel level : {CompressLevel::Fast, CompressLevel::Max}) {
      Bytes block;
      CompressBlock(data.data(), data.size(), block, level);
      for (size_t window : {kMin, kMin + 1000, (size_t)1 << 16}) {
        ExpectThroughSameAsWhole(block, n, window);
        for (size_t room : {n + 1, n + 300, n + kMin, n > 0 ? n - 1 : 0, n / 2}) ExpectThroughSameAsWhole(block, room, window);
      }
    }
  }
}

TEST(ExpandThroughWindow, DamagedBlocksGiveExpandBlocksResult) {
  std::mt19937 rng(53);
  Bytes data = RandomBytes(rng, 60000, 6);
  Bytes block;
  CompressBlock(data.data(), data.size(), block, CompressLevel::Default);
  for (int round = 0; round < 300; ++round) {
    Bytes bad = block;
    if (round % 3 == 0) {
      bad.resize(rng() % bad.size());
    } else {
      bad[rng() % bad.size()] ^= (uint8_t)(1u << (rng() % 8));
    }
    ExpectThroughSameAsWhole(bad, data.size(), EXPAND_WINDOW_MIN_BYTES);
  }
  for (int round = 0; round < 3000; ++round)
    ExpectThroughSameAsWhole(RandomBytes(rng, rng() % 400, round % 2 ? 256 : 2), rng() % 40000, EXPAND_WINDOW_MIN_BYTES);
  // A window below the minimum is refused outright.
  Bytes small(EXPAND_WINDOW_MIN_BYTES - 1);
  EXPECT_EQ(ExpandBlockThrough(0, block.data(), block.size(), small.data(), small.size(), nullptr, nullptr), EXPAND_NO_ROOM);
}

}  // namespace

