// The archive's LZ77 block format: encoder.
//
// Writing side only (the publisher's tool and tests); it may use the STL.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "archive/expand.h"

enum class CompressLevel {
  Fast,     // greedy, short hash chains
  Default,  // lazy matching, longer chains
  Max,      // optimal parse under the format's exact cost
};

// Appends one compressed block holding src[0..n) to `out` and returns the
// number of bytes appended. The block always ends with the end code. n is
// below 4 GiB, as every archive entry is.
size_t CompressBlock(const uint8_t* src, size_t n, std::vector<uint8_t>& out, CompressLevel level);

// Largest block CompressBlock can produce for n bytes at any level.
size_t CompressBound(size_t n);

// Cost of tokens in bits: control bits plus 8 per data byte. Flag words carry
// exactly 32 control bits each, so this is the block's size in bits up to the
// padding of its last flag word.
#define LITERAL_COST_BITS 9u
#define END_CODE_COST_BITS 14u
// Cheapest form of a match of `length` bytes from `distance` back; 0 when the
// pair has no form (length 2 beyond the short match's reach, length or
// distance out of range).
unsigned MatchCostBits(uint32_t distance, uint32_t length);

// Longest distance a 2-byte (short) match reaches: V = 2302.
#define SHORT_MATCH_MAX_DISTANCE 2303u
#define SHORT_NEAR_MAX_DISTANCE 256u

// Token-level writer. Places each flag word where the decoder reads it: at
// the output position at the moment its first bit is written.
class BlockEncoder {
 public:
  explicit BlockEncoder(std::vector<uint8_t>& out) : out_(out) {}
  void Literal(uint8_t byte);
  // count literals at once, as many per flag word as it has bits left.
  void Literals(const uint8_t* bytes, size_t count);
  // The cheapest form of a legal (distance, length): short for length 2,
  // long for 3 and more.
  void Match(uint32_t distance, uint32_t length);
  // Forced forms, so tests can produce every token shape.
  void ShortMatch(uint32_t distance);  // 1..2303
  void LongMatch(uint32_t distance, uint32_t length);  // 1..8192, 3..282
  void End();
  // Raw pieces, for crafting malformed blocks in tests.
  void Bit(unsigned bit);
  void Bits(uint32_t value, unsigned count);  // count <= 32
  void Byte(uint8_t byte) { out_.push_back(byte); }
  // Writes the current flag word into its place (End does this too).
  void Flush();

 private:
  void StartWord();

  std::vector<uint8_t>& out_;
  size_t wordPos_ = 0;
  uint32_t word_ = 0;
  unsigned used_ = 32;  // bits of the current word used; 32 = a new word is due
  bool hasWord_ = false;
};
