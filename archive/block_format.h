// The archive's LZ77 block format, written once.
//
// A block is a stream of tokens steered by control bits that arrive in
// 32-bit flag words (most significant bit first), interleaved with data
// bytes:
//
//   1 byte                    literal
//   0 1 0 byte                short match, V = byte                 (2 bytes)
//   0 1 1 byte xxx            short match, V = 256 + byte * 8 + xxx (2 bytes);
//                             V = 2303 ends the block
//   0 0 prefix byte extra     long match: offset class, then length code
//       lengthcode [byte]
//
// and every back-reference copies from distance V + 1. The decoder's fast
// and careful tables (archive/expand.cpp), the compressor's cost model and
// its token writer (pack/compress.cpp) are all derived from the constants
// and the two code tables below; the static_asserts at the end tie them to
// the widths of the fields that carry them, so a table that could not be
// decoded as written does not compile. The reference decoder of the tests
// is written from the grammar by hand, not from these tables, so that a
// wrong table is caught rather than shared.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define BLOCK_FLAG_WORD_BITS 32u
#define BLOCK_FLAG_WORD_BYTES 4u
#define BLOCK_DATA_BYTE_BITS 8u  // literals, offset bytes and length bytes

#define BLOCK_MAX_DISTANCE 8192u
#define BLOCK_MAX_LENGTH 282u
#define BLOCK_MIN_MATCH 2u  // the short match; long matches start one above

// Literal: one control bit (1), then the byte.
#define LITERAL_CONTROL_BITS 1u

// Short match: 0 1 s, a byte b, and with s = 1 three more bits x.
#define SHORT_MATCH_HEAD_BITS 3u
#define SHORT_MATCH_LENGTH BLOCK_MIN_MATCH
#define SHORT_FAR_EXTRA_BITS 3u
#define SHORT_FAR_BASE 256u  // V = SHORT_FAR_BASE + b * 8 + x when s = 1
#define BLOCK_END_V 2303u    // the far short match's last V marks the end
// Distance = V + 1; the end code's V is no copy, so the far form stops one
// before it.
#define SHORT_NEAR_MAX_DISTANCE SHORT_FAR_BASE
#define SHORT_MATCH_MAX_DISTANCE BLOCK_END_V

// Long match: 0 0, then an offset class and a length code.
#define LONG_MATCH_HEAD_BITS 2u
#define LONG_MIN_LENGTH (BLOCK_MIN_MATCH + 1u)

// One offset class of a long match: its prefix, then a data byte b, then
// `extraBits` bits x; V = base + b * 2^extraBits + x.
struct OffsetClass {
  uint8_t prefixBits;
  uint8_t prefix;  // the prefix's value, read most significant bit first
  uint8_t extraBits;
  uint16_t base;
};
// Prefix order: 1, 01, 001, 0001, 0000.
constexpr OffsetClass kOffsetClasses[] = {
    {1, 0x1, 1, 0},     // V 0 to 511
    {2, 0x1, 1, 512},   // V 512 to 1,023
    {3, 0x1, 2, 1024},  // V 1,024 to 2,047
    {4, 0x1, 3, 2048},  // V 2,048 to 4,095
    {4, 0x0, 4, 4096},  // V 4,096 to 8,191
};
#define OFFSET_CLASS_COUNT 5u

// One length code of a long match: its prefix, then either `extraBits` bits
// x (length = base + x) or, with `lengthByte`, a data byte b (length =
// base + b).
struct LengthCode {
  uint8_t prefixBits;
  uint8_t prefix;
  uint8_t extraBits;
  bool lengthByte;
  uint16_t base;
};
// Prefix order: 1, 01, 001, 0001, 00001, 00000.
constexpr LengthCode kLengthCodes[] = {
    {1, 0x1, 0, false, 3},   // 3
    {2, 0x1, 0, false, 4},   // 4
    {3, 0x1, 1, false, 5},   // 5 to 6
    {4, 0x1, 2, false, 7},   // 7 to 10
    {5, 0x1, 4, false, 11},  // 11 to 26
    {5, 0x0, 0, true, 27},   // 27 to 282
};
#define LENGTH_CODE_COUNT 6u

// ---- Derived facts ------------------------------------------------------------

// One past the last V of an offset class, one past the last length of a code.
constexpr uint32_t OffsetClassEnd(const OffsetClass& c) { return c.base + (256u << c.extraBits); }
constexpr uint32_t LengthCodeEnd(const LengthCode& c) {
  return c.base + (c.lengthByte ? 256u : 1u << c.extraBits);
}

// The class of a long match's V (below BLOCK_MAX_DISTANCE) and the code of a
// length (LONG_MIN_LENGTH to BLOCK_MAX_LENGTH).
constexpr unsigned OffsetClassOf(uint32_t v) {
  unsigned c = 0;
  while (v >= OffsetClassEnd(kOffsetClasses[c])) ++c;
  return c;
}
constexpr unsigned LengthCodeOf(uint32_t length) {
  unsigned c = 0;
  while (length >= LengthCodeEnd(kLengthCodes[c])) ++c;
  return c;
}

// Control bits of a length code, and its cost in bits with the data byte.
constexpr unsigned LengthCodeControlBits(const LengthCode& c) { return c.prefixBits + c.extraBits; }
constexpr unsigned LengthCodeCostBits(const LengthCode& c) {
  return LengthCodeControlBits(c) + (c.lengthByte ? BLOCK_DATA_BYTE_BITS : 0u);
}
// Cost of a long match's head and offset: 0 0, prefix, byte, extra bits.
constexpr unsigned LongOffsetCostBits(const OffsetClass& c) {
  return LONG_MATCH_HEAD_BITS + c.prefixBits + BLOCK_DATA_BYTE_BITS + c.extraBits;
}

// Costs in bits (control bits plus 8 per data byte) of the other tokens.
#define LITERAL_COST_BITS (LITERAL_CONTROL_BITS + BLOCK_DATA_BYTE_BITS)
#define SHORT_NEAR_COST_BITS (SHORT_MATCH_HEAD_BITS + BLOCK_DATA_BYTE_BITS)
#define SHORT_FAR_COST_BITS (SHORT_NEAR_COST_BITS + SHORT_FAR_EXTRA_BITS)
#define END_CODE_COST_BITS SHORT_FAR_COST_BITS

constexpr unsigned MaxOffsetPrefixBits() {
  unsigned m = 0;
  for (const OffsetClass& c : kOffsetClasses) m = c.prefixBits > m ? c.prefixBits : m;
  return m;
}
constexpr unsigned MaxOffsetCodeBits() {  // prefix and extra bits
  unsigned m = 0;
  for (const OffsetClass& c : kOffsetClasses) m = c.prefixBits + c.extraBits > m ? c.prefixBits + c.extraBits : m;
  return m;
}
constexpr unsigned MaxLengthCodeBits() {  // prefix and extra bits
  unsigned m = 0;
  for (const LengthCode& c : kLengthCodes) m = LengthCodeControlBits(c) > m ? LengthCodeControlBits(c) : m;
  return m;
}
// The most control bits one match token takes (19): a long match of the
// widest offset class and the widest length code.
constexpr unsigned MATCH_MAX_CONTROL_BITS = LONG_MATCH_HEAD_BITS + MaxOffsetCodeBits() + MaxLengthCodeBits();

// No block expands to more than this many times its own length: the densest
// token is the longest match of the cheapest offset class (25 bits for 282
// bytes). Readers use it to refuse a size claim before allocating for it.
constexpr unsigned DensestMatchBits() {
  return LongOffsetCostBits(kOffsetClasses[0]) + LengthCodeCostBits(kLengthCodes[LengthCodeOf(BLOCK_MAX_LENGTH)]);
}
constexpr unsigned BLOCK_MAX_EXPANSION = (BLOCK_MAX_LENGTH * 8u + DensestMatchBits() - 1u) / DensestMatchBits();

// ---- Proofs -------------------------------------------------------------------

// The codes are unary: code i is i zeros and a one, the last is all zeros.
// Both decoders count zeros to find a code, and that count is its index.
template <typename Code, size_t N>
constexpr bool IsUnary(const Code (&codes)[N]) {
  for (unsigned i = 0; i < N; ++i) {
    bool last = i == N - 1;
    unsigned bits = last ? N - 1 : i + 1;
    if (codes[i].prefixBits != bits || codes[i].prefix != (last ? 0u : 1u)) return false;
  }
  return true;
}
static_assert(IsUnary(kOffsetClasses) && IsUnary(kLengthCodes), "both prefix codes are counted as zeros");
static_assert(sizeof(kOffsetClasses) / sizeof(kOffsetClasses[0]) == OFFSET_CLASS_COUNT, "offset class count");
static_assert(sizeof(kLengthCodes) / sizeof(kLengthCodes[0]) == LENGTH_CODE_COUNT, "length code count");

// The classes and codes cover their ranges without gap or overlap.
constexpr bool OffsetClassesTile() {
  uint32_t next = 0;
  for (const OffsetClass& c : kOffsetClasses) {
    if (c.base != next) return false;
    next = OffsetClassEnd(c);
  }
  return next == BLOCK_MAX_DISTANCE;
}
constexpr bool LengthCodesTile() {
  uint32_t next = LONG_MIN_LENGTH;
  for (const LengthCode& c : kLengthCodes) {
    if (c.base != next || (c.lengthByte && c.extraBits != 0)) return false;
    next = LengthCodeEnd(c);
  }
  return next == BLOCK_MAX_LENGTH + 1u;
}
static_assert(OffsetClassesTile(), "offset classes tile V 0 to BLOCK_MAX_DISTANCE - 1");
static_assert(LengthCodesTile(), "length codes tile LONG_MIN_LENGTH to BLOCK_MAX_LENGTH");

static_assert(SHORT_FAR_BASE == 1u << BLOCK_DATA_BYTE_BITS, "the far short match starts where the near one's byte ends");
static_assert(BLOCK_END_V == SHORT_FAR_BASE + (0xFFu << SHORT_FAR_EXTRA_BITS) + ((1u << SHORT_FAR_EXTRA_BITS) - 1u),
              "the end code is the far short match with b = 0xFF, x = 7");
static_assert(SHORT_MATCH_MAX_DISTANCE < BLOCK_MAX_DISTANCE, "short matches stay inside the window");
// Every V and length fits the 16-bit fields that hold them.
static_assert(BLOCK_MAX_DISTANCE <= 0xFFFFu && BLOCK_MAX_LENGTH <= 0xFFFFu, "V and lengths fit 16 bits");
// A match's control bits run past the current flag word at most once, even
// when a single bit of the word is left.
static_assert(MATCH_MAX_CONTROL_BITS == 19u, "the longest match token takes 19 control bits");
static_assert(MATCH_MAX_CONTROL_BITS <= BLOCK_FLAG_WORD_BITS + 1u, "a match crosses at most one flag word");
static_assert(BLOCK_MAX_EXPANSION == 91u, "282 bytes from 25 bits");
static_assert(BLOCK_MAX_LENGTH * 8u <= BLOCK_MAX_EXPANSION * DensestMatchBits() &&
                  SHORT_MATCH_LENGTH * 8u <= BLOCK_MAX_EXPANSION * SHORT_NEAR_COST_BITS &&
                  8u <= BLOCK_MAX_EXPANSION * LITERAL_COST_BITS,
              "the expansion bound covers every token");
// Every token a parser can emit costs at most what its bytes cost as
// literals (the dearest, 3 bytes from the farthest class, takes 19 bits
// against 27); CompressBound rests on it.
constexpr bool MatchesNeverCostMoreThanLiterals() {
  if (SHORT_FAR_COST_BITS > SHORT_MATCH_LENGTH * LITERAL_COST_BITS) return false;
  for (const OffsetClass& c : kOffsetClasses)
    for (uint32_t length = LONG_MIN_LENGTH; length <= BLOCK_MAX_LENGTH; ++length)
      if (LongOffsetCostBits(c) + LengthCodeCostBits(kLengthCodes[LengthCodeOf(length)]) > length * LITERAL_COST_BITS)
        return false;
  return true;
}
static_assert(MatchesNeverCostMoreThanLiterals(), "no match costs more than its bytes as literals");
