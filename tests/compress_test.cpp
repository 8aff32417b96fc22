// The block encoder: every level restores its input through ExpandBlock, the
// token writer lays out blocks as the format's examples do, the cost model
// is what the encoded tokens really take, and the max level's parse is the
// cheapest there is (checked against an exhaustive search).
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "archive/expand.h"
#include "support/block_reference.h"
#include "pack/compress.h"

namespace {

typedef std::vector<uint8_t> Bytes;

const CompressLevel kLevels[] = {CompressLevel::Fast, CompressLevel::Default, CompressLevel::Max};

const char* LevelName(CompressLevel level) {
  switch (level) {
    case CompressLevel::Fast:
      return "fast";
    case CompressLevel::Default:
      return "default";
    case CompressLevel::Max:
      return "max";
  }
  return "?";
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back((uint8_t)x);
  return b;
}

Bytes RandomBytes(std::mt19937& rng, size_t n, unsigned alphabet = 256) {
  Bytes b(n);
  for (auto& x : b) x = (uint8_t)(rng() % alphabet);
  return b;
}

Bytes Compress(const Bytes& data, CompressLevel level) {
  Bytes block;
  size_t n = CompressBlock(data.data(), data.size(), block, level);
  EXPECT_EQ(n, block.size());
  return block;
}

// Expands into exactly data.size() bytes and checks the bytes.
void ExpectRoundTrip(const Bytes& data, CompressLevel level, const char* what) {
  Bytes block = Compress(data, level);
  Bytes out(data.size() + 1);
  ExpandResult r = ExpandBlock(out.data(), data.size(), block.data(), block.size());
  ASSERT_EQ(r, EXPAND_OK) << what << " at " << LevelName(level);
  out.resize(data.size());
  ASSERT_TRUE(out == data) << what << " at " << LevelName(level);
  ASSERT_LE(block.size(), CompressBound(data.size())) << what << " at " << LevelName(level);
}

// Bits a block takes as decoded: control bits plus 8 per data byte.
size_t DecodedCost(const Bytes& block, size_t n) {
  ReferenceExpansion r = ReferenceExpand(block.data(), block.size(), n);
  EXPECT_EQ(r.result, EXPAND_OK);
  return r.controlBits + 8 * r.dataBytes;
}

// The cheapest parse of s by exhaustive search: a shortest path over every
// literal and every (distance, length) the window allows at each position,
// matches found by direct comparison (overlap allowed), none crossing a
// multiple of cutBytes, plus the end code.
size_t ExhaustiveCost(const Bytes& s, size_t cutBytes = SIZE_MAX) {
  size_t n = s.size();
  std::vector<size_t> best(n + 1, SIZE_MAX);
  best[0] = 0;
  for (size_t i = 0; i < n; ++i) {
    best[i + 1] = std::min(best[i + 1], best[i] + LITERAL_COST_BITS);
    size_t cutEnd = cutBytes == SIZE_MAX ? n : std::min(n, (i / cutBytes + 1) * cutBytes);
    size_t limit = std::min<size_t>(BLOCK_MAX_LENGTH, cutEnd - i);
    for (size_t d = 1; d <= std::min<size_t>(i, BLOCK_MAX_DISTANCE); ++d) {
      size_t len = 0;
      while (len < limit && s[i + len] == s[i + len - d]) ++len;
      for (size_t l = 2; l <= len; ++l) {
        unsigned c = MatchCostBits((uint32_t)d, (uint32_t)l);
        if (c != 0) best[i + l] = std::min(best[i + l], best[i] + c);
      }
    }
  }
  return best[n] + END_CODE_COST_BITS;
}

std::vector<Bytes> VariedInputs() {
  std::mt19937 rng(1234);
  std::vector<Bytes> v;
  v.push_back(Bytes());
  v.push_back(B({0x41}));
  v.push_back(B({0x41, 0x41}));
  v.push_back(B({0x41, 0x41, 0x41}));
  v.push_back(RandomBytes(rng, 70000));
  v.push_back(RandomBytes(rng, 70000, 2));
  v.push_back(RandomBytes(rng, 70000, 16));
  v.push_back(Bytes(100000, 0));
  std::string text;
  while (text.size() < 120000) {
    text += "[UPDATE]\r\nUpdateFile";
    text += std::to_string(text.size() % 97);
    text += "=u,DATA\\FILE";
    text += std::to_string(rng() % 1000);
    text += ".PAK\r\n";
  }
  v.push_back(Text(text));
  // Periodic patterns of every small period, for the pattern fills.
  for (size_t period = 1; period <= 20; ++period) {
    Bytes p = RandomBytes(rng, period);
    Bytes d;
    for (size_t i = 0; i < 3000; ++i) d.push_back(p[i % period]);
    v.push_back(d);
  }
  // Repeats at the edges of the window and of the short match's reach.
  const size_t gaps[] = {256, 257, 2303, 2304, 8192, 8193, 20000};
  for (size_t gap : gaps) {
    Bytes d = RandomBytes(rng, gap);
    Bytes again(d.begin(), d.begin() + std::min<size_t>(gap, 4000));
    d.insert(d.end(), again.begin(), again.end());
    v.push_back(d);
  }
  // Runs of literals and matches of every length mixed.
  Bytes mixed;
  while (mixed.size() < 200000) {
    if (rng() % 2 && mixed.size() > 300) {
      size_t d = 1 + rng() % std::min<size_t>(mixed.size(), 9000);
      size_t l = 1 + rng() % 300;
      for (size_t k = 0; k < l; ++k) mixed.push_back(mixed[mixed.size() - d]);
    } else {
      Bytes r = RandomBytes(rng, 1 + rng() % 40);
      mixed.insert(mixed.end(), r.begin(), r.end());
    }
  }
  v.push_back(mixed);
  return v;
}

// ---- Round trips ---------------------------------------------------------------

TEST(CompressRoundTrip, EveryLevelRestoresVariedData) {
  std::vector<Bytes> inputs = VariedInputs();
  for (size_t i = 0; i < inputs.size(); ++i) {
    for (CompressLevel level : kLevels) {
      std::string what = "input " + std::to_string(i);
      ExpectRoundTrip(inputs[i], level, what.c_str());
    }
  }
}

TEST(CompressRoundTrip, EveryLevelRestoresThisProgramsOwnBytes) {
  FILE* f = fopen("/proc/self/exe", "rb");
  ASSERT_NE(f, nullptr);
  Bytes data(1 << 20);
  data.resize(fread(data.data(), 1, data.size(), f));
  fclose(f);
  ASSERT_GT(data.size(), 10000u);
  for (CompressLevel level : kLevels) ExpectRoundTrip(data, level, "executable");
}

TEST(CompressRoundTrip, MaxLevelRestoresInputsLongerThanOneParseStretch) {
  std::mt19937 rng(77);
  Bytes data;
  while (data.size() < 2600000) {
    Bytes r = RandomBytes(rng, 1 + rng() % 64, 8);
    data.insert(data.end(), r.begin(), r.end());
    data.insert(data.end(), 1 + rng() % 100, (uint8_t)rng());
  }
  ExpectRoundTrip(data, CompressLevel::Max, "2.6 MB");
}

TEST(CompressRoundTrip, SmallInputsOfEveryShapeRoundTrip) {
  std::mt19937 rng(99);
  for (int round = 0; round < 1500; ++round) {
    Bytes d = RandomBytes(rng, rng() % 80, 1 + rng() % 4);
    for (CompressLevel level : kLevels) ExpectRoundTrip(d, level, "small");
  }
}

TEST(CompressRoundTrip, OutputIsDeterministic) {
  std::vector<Bytes> inputs = VariedInputs();
  for (CompressLevel level : kLevels) {
    EXPECT_EQ(Compress(inputs.back(), level), Compress(inputs.back(), level)) << LevelName(level);
  }
}

// The cuts, not the threads, decide the bytes: the same input gives the
// same block on 1, 2 and 7 threads, with cuts small enough that many are in
// flight at once and with the real cut size on an input of several cuts.
TEST(CompressCuts, EveryThreadCountGivesTheSameBlock) {
  std::vector<Bytes> inputs = VariedInputs();
  const Bytes& mixed = inputs.back();
  Bytes large;
  std::mt19937 rng(5);
  while (large.size() < 2 * COMPRESS_CUT_BYTES + 12345) {
    size_t at = large.size() > 9000 ? rng() % (large.size() - 9000) : 0;
    Bytes piece = large.size() > 9000 && rng() % 2 ? Bytes(large.begin() + at, large.begin() + at + 1 + rng() % 500)
                                                    : RandomBytes(rng, 1 + rng() % 200, 32);
    large.insert(large.end(), piece.begin(), piece.end());
  }
  struct Case {
    const Bytes* data;
    size_t cutBytes;
  };
  const Case cases[] = {{&mixed, 3000}, {&mixed, 65536}, {&large, COMPRESS_CUT_BYTES}};
  for (const Case& c : cases) {
    for (CompressLevel level : kLevels) {
      std::string what = std::string(LevelName(level)) + ", cuts of " + std::to_string(c.cutBytes);
      Bytes one;
      CompressBlock(c.data->data(), c.data->size(), one, level, 1, c.cutBytes);
      for (unsigned threads : {2u, 7u}) {
        Bytes many;
        CompressBlock(c.data->data(), c.data->size(), many, level, threads, c.cutBytes);
        ASSERT_TRUE(many == one) << what << " on " << threads << " threads";
      }
      Bytes out(c.data->size());
      ASSERT_EQ(ExpandBlock(out.data(), out.size(), one.data(), one.size()), EXPAND_OK) << what;
      ASSERT_TRUE(out == *c.data) << what;
    }
  }
}

// Threads hold their cuts' work: at the max level 64 of them on a 31 MiB
// input once held 365 MiB. The plan takes as many threads as asked while
// they fit the budget, never more than there are cuts, and always one.
TEST(CompressCuts, WorkInFlightStaysWithinTheMemoryBudgetForAnyThreadCount) {
  const size_t n = 31 * COMPRESS_CUT_BYTES;
  for (CompressLevel level : kLevels) {
    for (unsigned threads : {1u, 2u, 7u, 64u, 1000u}) {
      std::string what = std::string(LevelName(level)) + " on " + std::to_string(threads) + " threads";
      CutPlan plan = PlanCuts(n, level, threads);
      EXPECT_GE(plan.workers, 1u) << what;
      EXPECT_LE(plan.workers, std::min<size_t>(threads, 31)) << what;
      EXPECT_LE(PlanBytes(plan, level), COMPRESS_MEMORY_BUDGET) << what;
      if (plan.workers > 1) {
        EXPECT_GE(plan.ahead, plan.workers) << what << ": every worker needs a slot";
      }
      // No thread is turned away that would have fitted.
      if (plan.workers < std::min<size_t>(threads, 31)) {
        CutPlan more{plan.workers + 1, 2 * (plan.workers + 1)};
        EXPECT_GT(PlanBytes(more, level), COMPRESS_MEMORY_BUDGET) << what;
      }
    }
    // Two threads always fit: the bound costs small counts nothing.
    EXPECT_EQ(PlanCuts(n, level, 2).workers, 2u) << LevelName(level);
    // A small input has as many threads as cuts, whatever is asked.
    EXPECT_EQ(PlanCuts(3 * COMPRESS_CUT_BYTES - 1, level, 64).workers, 3u) << LevelName(level);
    EXPECT_EQ(PlanCuts(0, level, 64).workers, 1u) << LevelName(level);
  }
  // The max level's parse is the largest: the budget, not the thread count,
  // is what stops it.
  EXPECT_LT(PlanCuts(n, CompressLevel::Max, 64).workers, 31u);
  EXPECT_LE(PlanCuts(n, CompressLevel::Max, 64).workers, PlanCuts(n, CompressLevel::Fast, 64).workers);
}

class VectorSink : public BlockOutput {
 public:
  explicit VectorSink(Bytes& out) : out_(out) {}
  bool Put(const uint8_t* data, size_t size) override {
    out_.insert(out_.end(), data, data + size);
    return true;
  }

 private:
  Bytes& out_;
};

// The pipeline keeps to its plan: 64 threads asked for on more cuts than
// the budget lets run start no more workers than planned and take no more
// cuts ahead of the join, and the block is the one thread's.
TEST(CompressCuts, ThePipelineRunsNoMoreCutsThanItsPlanAllows) {
  std::mt19937 rng(14);
  Bytes input;
  while (input.size() < 16 * COMPRESS_CUT_BYTES) {
    Bytes piece = RandomBytes(rng, 1 + rng() % 4000, 1 + rng() % 64);
    input.insert(input.end(), piece.begin(), piece.end());
  }
  CutPlan plan = PlanCuts(input.size(), CompressLevel::Fast, 64);
  ASSERT_LT(plan.workers, 16u) << "the budget no longer caps this case; take a larger input";
  Bytes one, many;
  VectorSink oneSink(one), manySink(many);
  CutsInFlight single, spread;
  ASSERT_EQ(CompressBlockTo(input.data(), input.size(), oneSink, CompressLevel::Fast, 1, COMPRESS_CUT_BYTES, nullptr,
                            &single),
            CompressResult::Done);
  ASSERT_EQ(CompressBlockTo(input.data(), input.size(), manySink, CompressLevel::Fast, 64, COMPRESS_CUT_BYTES, nullptr,
                            &spread),
            CompressResult::Done);
  EXPECT_EQ(single.workers, 1u);
  EXPECT_GE(spread.workers, 2u);
  EXPECT_LE(spread.workers, plan.workers);
  EXPECT_GE(spread.most, 1u);
  EXPECT_LE(spread.most, plan.ahead);
  EXPECT_TRUE(many == one);
}

// Cuts are encoded apart and joined where the flag word stands. Cuts of one
// byte can only be literals, so the block must be the bytes one encoder
// writes for those literals: every join then falls inside a word, at every
// bit position, mostly in pieces too short to open a word of their own.
// Cuts a little longer carry matches across the same joins.
TEST(CompressCuts, PiecesJoinIntoTheBlockOneEncoderWrites) {
  std::mt19937 rng(11);
  for (size_t n : {1u, 31u, 32u, 33u, 64u, 65u, 1000u}) {
    Bytes data = RandomBytes(rng, n, 4);
    Bytes single;
    BlockEncoder enc(single);
    enc.Literals(data.data(), data.size());
    enc.End();
    for (unsigned threads : {1u, 3u}) {
      Bytes joined;
      CompressBlock(data.data(), data.size(), joined, CompressLevel::Default, threads, 1);
      ASSERT_TRUE(joined == single) << n << " bytes on " << threads << " threads";
    }
  }
  Bytes data = VariedInputs().back();
  data.resize(std::min<size_t>(data.size(), 4000));
  for (size_t cutBytes : {2u, 3u, 5u, 33u, 290u})
    for (CompressLevel level : kLevels) {
      Bytes block, out(data.size());
      CompressBlock(data.data(), data.size(), block, level, 2, cutBytes);
      ASSERT_EQ(ExpandBlock(out.data(), out.size(), block.data(), block.size()), EXPAND_OK) << cutBytes;
      ASSERT_TRUE(out == data) << LevelName(level) << ", cuts of " << cutBytes;
    }
}

TEST(CompressRoundTrip, CompressBlockAppendsToWhatTheVectorHolds) {
  Bytes block = B({1, 2, 3});
  Bytes data = Text("abcabcabcabc");
  size_t n = CompressBlock(data.data(), data.size(), block, CompressLevel::Default);
  ASSERT_EQ(block.size(), n + 3);
  EXPECT_EQ(block[0], 1);
  Bytes out(data.size());
  EXPECT_EQ(ExpandBlock(out.data(), out.size(), block.data() + 3, n), EXPAND_OK);
  EXPECT_EQ(out, data);
}

// ---- Layout of the encoded block ----------------------------------------------------

TEST(CompressLayout, EmptyInputIsTheEndCodeAlone) {
  for (CompressLevel level : kLevels) {
    EXPECT_EQ(Compress(Bytes(), level), B({0x00, 0x00, 0x00, 0x7C, 0xFF})) << LevelName(level);
  }
}

TEST(CompressLayout, ThreeLettersAreTheFormatsLiteralExample) {
  for (CompressLevel level : kLevels) {
    EXPECT_EQ(Compress(Text("abc"), level), B({0x00, 0x00, 0x80, 0xEF, 0x61, 0x62, 0x63, 0xFF}))
        << LevelName(level);
  }
}

TEST(CompressLayout, MaxLevelEncodesAbcabcabcaAsTheFormatsMatchExample) {
  EXPECT_EQ(Compress(Text("abcabcabca"), CompressLevel::Max),
            B({0x00, 0xE0, 0x23, 0xE4, 0x61, 0x62, 0x63, 0x01, 0xFF}));
}

TEST(CompressLayout, ThirtyTwoLiteralsPlaceTheSecondFlagWordAfterTheLastOne) {
  Bytes data;
  for (int i = 0; i < 32; ++i) data.push_back((uint8_t)(i * 7 + 1));
  Bytes expected = B({0xFF, 0xFF, 0xFF, 0xFF});
  expected.insert(expected.end(), data.begin(), data.end());
  Bytes tail = B({0x00, 0x00, 0x00, 0x7C, 0xFF});
  expected.insert(expected.end(), tail.begin(), tail.end());
  for (CompressLevel level : kLevels) EXPECT_EQ(Compress(data, level), expected) << LevelName(level);
}

TEST(CompressLayout, FlagWordFollowsTheOffsetByteWhenItsFirstBitIsAnExtraBit) {
  // 29 literals, then a long match whose bits 0 0 1 fill the word; the
  // offset byte follows at once and the extra bit opens the next word.
  Bytes block;
  BlockEncoder enc(block);
  for (int i = 0; i < 29; ++i) enc.Literal((uint8_t)i);
  enc.LongMatch(4, 3);  // V = 3: byte 01, extra bit 1
  enc.End();
  ASSERT_EQ(block.size(), 4u + 29u + 1u + 4u + 1u);
  EXPECT_EQ(block[33], 0x01);  // the offset byte, before the second word
  // Second word: extra bit 1, length bit 1, end code 0 1 1 [FF] 1 1 1.
  EXPECT_EQ(block[37], 0xDF);
  EXPECT_EQ(block[38], 0xFF);
  Bytes out(32);
  ASSERT_EQ(ExpandBlock(out.data(), out.size(), block.data(), block.size()), EXPAND_OK);
  EXPECT_EQ(out[29], out[25]);
  EXPECT_EQ(out[31], out[27]);
}

// ---- Preconditions of the token writer ------------------------------------------------

// Each call asks for a token or field the format cannot carry. Written on,
// it would come out as another token (a length of 300 in the length byte
// reads back as 17), so the writer stops the program instead, in every build.
TEST(CompressEncoderDeathTest, TokensAndFieldsTheFormatCannotCarryStopTheProgram) {
  struct Misuse {
    const char* what;
    void (*call)(BlockEncoder&);
  };
  const Misuse misuses[] = {
      {"long match of 300", [](BlockEncoder& e) { e.LongMatch(1, 300); }},
      {"long match of 283", [](BlockEncoder& e) { e.LongMatch(1, BLOCK_MAX_LENGTH + 1); }},
      {"long match of 2", [](BlockEncoder& e) { e.LongMatch(1, 2); }},
      {"long match from distance 0", [](BlockEncoder& e) { e.LongMatch(0, 3); }},
      {"long match beyond the window", [](BlockEncoder& e) { e.LongMatch(BLOCK_MAX_DISTANCE + 1, 3); }},
      {"short match from distance 0", [](BlockEncoder& e) { e.ShortMatch(0); }},
      {"short match at the end code's V", [](BlockEncoder& e) { e.ShortMatch(SHORT_MATCH_MAX_DISTANCE + 1); }},
      {"match of one byte", [](BlockEncoder& e) { e.Match(1, 1); }},
      {"match of 283", [](BlockEncoder& e) { e.Match(1, BLOCK_MAX_LENGTH + 1); }},
      {"two bytes beyond the short reach", [](BlockEncoder& e) { e.Match(SHORT_MATCH_MAX_DISTANCE + 1, 2); }},
      {"bit 2", [](BlockEncoder& e) { e.Bit(2); }},
      {"8 in three bits", [](BlockEncoder& e) { e.Bits(8, 3); }},
      {"33 bits", [](BlockEncoder& e) { e.Bits(0, 33); }},
  };
  for (const Misuse& m : misuses) {
    Bytes block;
    BlockEncoder enc(block);
    EXPECT_DEATH(m.call(enc), "precondition failed") << m.what;
  }
}

// ---- The cost model ----------------------------------------------------------------

TEST(CompressCost, MatchCostIsWhatTheEncodedTokenTakes) {
  const uint32_t distances[] = {1,    2,    255,  256,  257,  258,  511,  512,  513,  514,  1023, 1024, 1025, 1026,
                                2047, 2048, 2049, 2050, 2302, 2303, 2304, 4095, 4096, 4097, 4098, 8191, 8192};
  std::mt19937 rng(3);
  for (uint32_t d : distances) {
    Bytes history = RandomBytes(rng, d);
    Bytes base;
    {
      BlockEncoder enc(base);
      enc.Literals(history.data(), history.size());
      enc.End();
    }
    size_t baseCost = DecodedCost(base, history.size());
    for (uint32_t l = 2; l <= BLOCK_MAX_LENGTH; ++l) {
      unsigned cost = MatchCostBits(d, l);
      if (l == 2 && d > SHORT_MATCH_MAX_DISTANCE) {
        EXPECT_EQ(cost, 0u) << d;
        continue;
      }
      Bytes block;
      BlockEncoder enc(block);
      enc.Literals(history.data(), history.size());
      enc.Match(d, l);
      enc.End();
      ASSERT_EQ(DecodedCost(block, history.size() + l), baseCost + cost) << "distance " << d << " length " << l;
    }
  }
}

TEST(CompressCost, PairsWithoutAFormCostNothing) {
  EXPECT_EQ(MatchCostBits(0, 5), 0u);
  EXPECT_EQ(MatchCostBits(8193, 5), 0u);
  EXPECT_EQ(MatchCostBits(10, 1), 0u);
  EXPECT_EQ(MatchCostBits(10, 283), 0u);
  EXPECT_EQ(MatchCostBits(2304, 2), 0u);
  EXPECT_NE(MatchCostBits(2303, 2), 0u);
}

TEST(CompressCost, LiteralAndEndCodeCostsMatchTheDecodedBlock) {
  Bytes block = Compress(Text("xyz"), CompressLevel::Fast);
  EXPECT_EQ(DecodedCost(block, 3), 3 * LITERAL_COST_BITS + END_CODE_COST_BITS);
}

// ---- Optimal parse -------------------------------------------------------------------

TEST(CompressOptimal, MaxLevelMatchesExhaustiveSearchOnSmallInputs) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 4000; ++round) {
    Bytes d = RandomBytes(rng, 1 + rng() % 16, 1 + rng() % 3);
    Bytes block = Compress(d, CompressLevel::Max);
    ASSERT_EQ(DecodedCost(block, d.size()), ExhaustiveCost(d)) << "round " << round;
  }
}

TEST(CompressOptimal, MaxLevelMatchesExhaustiveSearchAcrossEveryOffsetClass) {
  // Noise with pieces copied from every distance class, so the cheapest
  // parse has to weigh a near short copy against a far long one.
  std::mt19937 rng(17);
  for (int round = 0; round < 3; ++round) {
    Bytes d = RandomBytes(rng, 9000, 64);
    const size_t distances[] = {3, 200, 300, 700, 1500, 2303, 2304, 3000, 5000, 8192, 8193};
    for (size_t dist : distances) {
      size_t at = dist + rng() % (d.size() - dist - 300);
      size_t len = 2 + rng() % 40;
      for (size_t k = 0; k < len; ++k) d[at + k] = d[at + k - dist];
    }
    Bytes block = Compress(d, CompressLevel::Max);
    ASSERT_EQ(DecodedCost(block, d.size()), ExhaustiveCost(d)) << "round " << round;
  }
}

TEST(CompressOptimal, MaxLevelIsTheCheapestParseOfEachCut) {
  // Cuts shorter than the window, so that matches reach through the
  // history of several cuts back, and copies that straddle the cuts.
  std::mt19937 rng(31);
  const size_t cutBytes[] = {300, 1000, 4096};
  for (size_t cut : cutBytes) {
    Bytes d = RandomBytes(rng, 12000, 16);
    for (int copy = 0; copy < 60; ++copy) {
      size_t dist = 1 + rng() % 8192;
      size_t at = dist + rng() % (d.size() - dist - 300);
      size_t len = 2 + rng() % 280;
      for (size_t k = 0; k < len; ++k) d[at + k] = d[at + k - dist];
    }
    Bytes block;
    CompressBlock(d.data(), d.size(), block, CompressLevel::Max, 2, cut);
    size_t cheapest = ExhaustiveCost(d, cut);
    ASSERT_EQ(DecodedCost(block, d.size()), cheapest) << "cuts of " << cut;
    // The cuts cost something here, so a parse ignoring them would fail.
    EXPECT_LT(ExhaustiveCost(d), cheapest) << "cuts of " << cut;
  }
}

TEST(CompressOptimal, MaxLevelIsNeverCostlierThanTheOtherLevels) {
  std::vector<Bytes> inputs = VariedInputs();
  for (size_t i = 0; i < inputs.size(); ++i) {
    size_t n = inputs[i].size();
    size_t maxCost = DecodedCost(Compress(inputs[i], CompressLevel::Max), n);
    EXPECT_LE(maxCost, DecodedCost(Compress(inputs[i], CompressLevel::Default), n)) << "input " << i;
    EXPECT_LE(maxCost, DecodedCost(Compress(inputs[i], CompressLevel::Fast), n)) << "input " << i;
  }
}

TEST(CompressLevels, DefaultIsAtLeastAsSmallAsFastOnText) {
  std::vector<Bytes> inputs = VariedInputs();
  const Bytes& text = inputs[8];
  EXPECT_LE(Compress(text, CompressLevel::Default).size(), Compress(text, CompressLevel::Fast).size());
  EXPECT_LT(Compress(text, CompressLevel::Default).size(), text.size() / 4);
}

}  // namespace
