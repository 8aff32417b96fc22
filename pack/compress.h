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

// The parse is cut every COMPRESS_CUT_BYTES of input: each cut is parsed on
// its own, with the window before it as history, and no token crosses a
// cut. The cuts are fixed by the input alone, so they can be parsed on any
// number of threads and the block is the same bytes on every machine.
#define COMPRESS_CUT_BYTES ((size_t)1 << 20)

// What the cuts being worked on may hold at once, whatever the thread
// count: each thread's parse of a cut and each encoded cut waiting to be
// joined are counted at their largest (CutWorkBytes, PieceBytes), and no
// more threads start than fit. Threads beyond that would only hold more
// memory (about 11 MiB each at the max level), as the output is joined in
// order by one thread anyway; the bytes never depend on the count.
#define COMPRESS_MEMORY_BUDGET ((size_t)128 << 20)

// How the cuts of an input are spread: `workers` threads parse and encode
// cuts, at most `ahead` of them parsed or encoded past the one being joined.
struct CutPlan {
  size_t workers;  // 1: the calling thread alone, no pipeline
  size_t ahead;
};
// The most one thread holds for one cut of cutBytes at `level`: its match
// finder, its parse, the cut's tokens, the encoded piece and its proof.
size_t CutWorkBytes(CompressLevel level, size_t cutBytes);
// The most one encoded cut of cutBytes holds.
size_t PieceBytes(size_t cutBytes);
// The plan for n bytes on at most `threads` threads, within
// COMPRESS_MEMORY_BUDGET (one thread always runs, whatever the budget).
CutPlan PlanCuts(size_t n, CompressLevel level, unsigned threads, size_t cutBytes = COMPRESS_CUT_BYTES);
// The most a plan holds at once: every worker's cut and every piece in
// flight, the joined one included.
size_t PlanBytes(const CutPlan& plan, CompressLevel level, size_t cutBytes = COMPRESS_CUT_BYTES);

// Receives a block in order, a piece at a time, each piece final when it
// arrives: a large entry's block can go straight to its file. Put returns
// false to stop the compressor (the block is then incomplete).
class BlockOutput {
 public:
  virtual ~BlockOutput() = default;
  virtual bool Put(const uint8_t* data, size_t size) = 0;
};

enum class CompressResult {
  Done,     // the whole block, end code included, went to the output
  Stopped,  // the output refused a piece; nothing more was given to it
  Faulty,   // a cut's encoding did not expand back to its bytes: a fault of
            // the compressor, and the bytes given so far must not be used
};

// Writes one compressed block holding src[0..n) to `out`; *size (when
// given) receives its length. The block always ends with the end code. n is
// below 4 GiB, as every archive entry is. `threads` parse and encode cuts at
// once (1: the calling thread alone); it changes the time taken, never the
// bytes. Every cut is expanded again and compared with its input before its
// bytes are given out. cutBytes other than COMPRESS_CUT_BYTES is for tests
// that check the parse of each cut. Allocation failure, on any thread,
// throws std::bad_alloc.
CompressResult CompressBlockTo(const uint8_t* src, size_t n, BlockOutput& out, CompressLevel level,
                               unsigned threads = 1, size_t cutBytes = COMPRESS_CUT_BYTES, uint64_t* size = nullptr,
                               struct CutsInFlight* inFlight = nullptr);

// What a CompressBlockTo really spread, for tests that hold it to its plan:
// the threads that worked on cuts and the most cuts taken and not yet
// joined at any moment.
struct CutsInFlight {
  size_t workers = 0;
  size_t most = 0;
};

// The same block appended to `out`; returns the number of bytes appended.
// A faulty cut stops the program: this form serves tests and benchmarks.
size_t CompressBlock(const uint8_t* src, size_t n, std::vector<uint8_t>& out, CompressLevel level,
                     unsigned threads = 1, size_t cutBytes = COMPRESS_CUT_BYTES);

// Largest block CompressBlock can produce for n bytes at any level.
size_t CompressBound(size_t n);

// Whether a match of `length` bytes from `distance` back has a form in the
// format: a short match for length 2 within its reach, a long match for 3
// and more within the window.
constexpr bool IsMatch(uint32_t distance, uint32_t length) {
  return distance >= 1 && distance <= BLOCK_MAX_DISTANCE && length >= BLOCK_MIN_MATCH && length <= BLOCK_MAX_LENGTH &&
         (length != SHORT_MATCH_LENGTH || distance <= SHORT_MATCH_MAX_DISTANCE);
}

// Bits the cheapest form of a match takes, 0 when the pair has no form.
// Costs count control bits plus 8 per data byte (LITERAL_COST_BITS and the
// others in archive/block_format.h); flag words carry exactly 32 control
// bits each, so a block's cost is its size in bits up to the padding of its
// last flag word.
unsigned MatchCostBits(uint32_t distance, uint32_t length);

// Token-level writer. Places each flag word where the decoder reads it: at
// the output position at the moment its first bit is written. Every token
// and bit field is checked against the format before it is written, in
// every build: a value the field cannot hold stops the program instead of
// being cut to the field's width.
//
// An encoder can also continue a block whose flag word at out[wordPos] is
// open with `used` of its bits taken (BLOCK_FLAG_WORD_BITS: none open, the
// next bit starts a word): cuts encoded apart are joined that way.
class BlockEncoder {
 public:
  explicit BlockEncoder(std::vector<uint8_t>& out) : out_(out) {}
  BlockEncoder(std::vector<uint8_t>& out, size_t wordPos, unsigned used);
  void Literal(uint8_t byte);
  // count literals at once, as many per flag word as it has bits left.
  void Literals(const uint8_t* bytes, size_t count);
  // The cheapest form of a pair that IsMatch accepts: short for length 2,
  // long for 3 and more.
  void Match(uint32_t distance, uint32_t length);
  // Forced forms, so tests can produce every token shape.
  void ShortMatch(uint32_t distance);                  // 1..SHORT_MATCH_MAX_DISTANCE
  void LongMatch(uint32_t distance, uint32_t length);  // 1..BLOCK_MAX_DISTANCE, LONG_MIN_LENGTH..BLOCK_MAX_LENGTH
  void End();
  // Raw pieces, for crafting malformed blocks in tests.
  void Bit(unsigned bit);                     // 0 or 1
  void Bits(uint32_t value, unsigned count);  // count <= 32, value < 2^count
  void Byte(uint8_t byte) { PutByte(byte); }
  // Writes the current flag word into its place (End does this too).
  void Flush();
  // Bits of the current flag word taken, and where it stands: the state a
  // following piece continues from.
  unsigned Used() const { return used_; }
  size_t WordPos() const { return wordPos_; }

 private:
  void StartWord();
  // The unchecked writers under the token methods, whose fields are in
  // range by construction once the token's own preconditions hold.
  void PutBit(unsigned bit);
  void PutBits(uint32_t value, unsigned count);
  void PutByte(uint8_t byte) { out_.push_back(byte); }

  std::vector<uint8_t>& out_;
  size_t wordPos_ = 0;
  uint32_t word_ = 0;
  unsigned used_ = BLOCK_FLAG_WORD_BITS;  // bits of the current word used; all = a new word is due
  bool hasWord_ = false;
};
