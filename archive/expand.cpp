// The block decoder.
//
// A block is a stream of tokens steered by control bits that arrive in 32-bit
// flag words, each word standing in the byte stream exactly where its first
// bit is first needed. Two paths share one state:
//
//  - The fast loop runs while the input has room for the longest iteration
//    (a flag-word reload, a run of 32 literals read 32 bytes wide, then a
//    match with a flag word and two data bytes) and the output has room for
//    31 literals plus the longest copy rounded up to the widest store (both
//    bounds are derived below from the format's constants); it counts
//    down stretches of iterations both buffers have room for. Under
//    those two conditions nothing inside it needs a bound test: it takes
//    whole runs of literals from a count of leading one bits, decodes a
//    match token from one 64-bit peek in one table look-up (a second for
//    the rare token whose length code runs past the index), and copies 8
//    or 16 bytes at a time, or fills a repeating pattern for distances
//    under 8.
//  - The careful loop finishes the block one bit and one byte at a time with
//    every bound tested, so a block that ends near either buffer's end, or is
//    malformed, can never make the decoder touch a byte outside its buffers.
//
// Bit state: `bits` holds the current flag word's unused bits at its top and
// zeros below them; `avail` counts those bits (0..32).
//
// A token's control bits run past the current word at most once (a match
// has at most 19). The next word then stands at the input position of that
// moment: before the offset byte when the run-over falls in the head of the
// match (its bits up to the offset byte), after it when it falls in the
// tail. The fast loop peeks the word after the offset byte below the
// current bits, takes the word before it instead when the token's head
// says the run-over fell there, and keeps the word only when the token
// used it.
#include "archive/expand.h"

#include <string.h>

#include "archive/bytes.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

// ---- Fast-loop bounds -------------------------------------------------------
//
// Derived from the format so that the loop's bound tests and the proof that
// they suffice cannot drift apart.

// A literal run is copied 32 bytes wide whatever its length: one copy covers
// every run one flag word can describe.
#define LITERAL_RUN_COPY 32u
static_assert(LITERAL_RUN_COPY >= BLOCK_FLAG_WORD_BITS, "one copy covers the longest literal run");

// Input one match may touch past its first byte: the offset byte, at most
// one flag word (the token crosses at most one), and a length byte. The two
// peeks at `in` and `in + 1` stay inside those bytes.
#define MATCH_MAX_BYTES_READ (1u + BLOCK_FLAG_WORD_BYTES + 1u)
// Longest input one fast iteration may touch: a reload, the literal copy,
// then a match starting no further than the copy reached.
#define FAST_MAX_BYTES_READ (BLOCK_FLAG_WORD_BYTES + LITERAL_RUN_COPY + MATCH_MAX_BYTES_READ)

// Copies move 16 bytes, 8 bytes, or 8-byte patterns at a stride; each may
// write past the match's end, at most up to the longest match rounded up to
// the widest store.
#define COPY_WIDTH 16u
#define MATCH_MAX_BYTES_WRITTEN ((BLOCK_MAX_LENGTH + COPY_WIDTH - 1u) / COPY_WIDTH * COPY_WIDTH)
// Distances 1 to 7 store one 8-byte pattern every `stride` bytes, the
// largest multiple of the distance up to 8, so each store starts at the same
// phase of the pattern.
constexpr uint8_t kPatternStride[8] = {0, 8, 8, 6, 8, 5, 6, 7};
constexpr bool CopiesStayInsideTheirBound() {
  // Distances from 8: four 8-byte moves, then 16- or 8-byte steps.
  if (4u * 8u > MATCH_MAX_BYTES_WRITTEN || (BLOCK_MAX_LENGTH + 7u) / 8u * 8u > MATCH_MAX_BYTES_WRITTEN) return false;
  for (unsigned d = 1; d < 8; ++d) {
    unsigned stride = kPatternStride[d];
    if (stride % d != 0 || stride > 8 || stride + d <= 8) return false;  // a multiple of d, the largest up to 8
    if ((BLOCK_MAX_LENGTH - 1u) / stride * stride + 8u > MATCH_MAX_BYTES_WRITTEN) return false;
  }
  return true;
}
static_assert(CopiesStayInsideTheirBound(), "every copy form stays inside MATCH_MAX_BYTES_WRITTEN");
// Longest output one fast iteration may write: the literal copy, or a run of
// at most 31 literals (a run of 32 ends the word and the iteration) and then
// the widest copy.
#define FAST_MAX_BYTES_WRITTEN (BLOCK_FLAG_WORD_BITS - 1u + MATCH_MAX_BYTES_WRITTEN)
static_assert(FAST_MAX_BYTES_WRITTEN >= LITERAL_RUN_COPY, "the literal copy stays inside the output bound");
// The most one iteration moves `out`: a whole word of literals, or 31 of
// them and the longest match.
#define FAST_MAX_BYTES_OUT (BLOCK_FLAG_WORD_BITS - 1u + BLOCK_MAX_LENGTH)
static_assert(FAST_MAX_BYTES_OUT >= BLOCK_FLAG_WORD_BITS && FAST_MAX_BYTES_OUT <= FAST_MAX_BYTES_WRITTEN,
              "an iteration moves `out` no further than it may write");

// ---- Tables -----------------------------------------------------------------

enum HeadKind { HEAD_SHORT_NEAR, HEAD_SHORT_FAR, HEAD_LONG };

// The head of a match token: its leading 0 bit, then either 1 s (short
// match) or 0 and the offset class prefix. Indexed by the next six bits.
struct HeadCode {
  uint8_t bits;       // bits the head uses
  uint8_t kind;       // HeadKind
  uint8_t extraBits;  // offset bits after the offset byte
  uint16_t base;      // V of the first distance the head reaches
};
constexpr unsigned HEAD_INDEX_BITS = LONG_MATCH_HEAD_BITS + MaxOffsetPrefixBits();
static_assert(HEAD_INDEX_BITS == 6u && SHORT_MATCH_HEAD_BITS <= HEAD_INDEX_BITS, "a head fits the index");
struct HeadTable {
  HeadCode code[1u << HEAD_INDEX_BITS];
};

constexpr HeadTable MakeHeadTable() {
  HeadTable t{};
  for (unsigned i = 0; i < (1u << HEAD_INDEX_BITS); ++i) {
    // i's top bit is the token's leading 0 (a 1 would have been a literal).
    unsigned second = (i >> (HEAD_INDEX_BITS - 2)) & 1u;
    if (second == 1) {
      unsigned s = (i >> (HEAD_INDEX_BITS - 3)) & 1u;
      t.code[i] = s ? HeadCode{SHORT_MATCH_HEAD_BITS, HEAD_SHORT_FAR, SHORT_FAR_EXTRA_BITS, SHORT_FAR_BASE}
                    : HeadCode{SHORT_MATCH_HEAD_BITS, HEAD_SHORT_NEAR, 0, 0};
      continue;
    }
    unsigned rest = i & ((1u << (HEAD_INDEX_BITS - LONG_MATCH_HEAD_BITS)) - 1u);
    for (const OffsetClass& c : kOffsetClasses) {
      if ((rest >> (HEAD_INDEX_BITS - LONG_MATCH_HEAD_BITS - c.prefixBits)) == c.prefix) {
        t.code[i] = HeadCode{(uint8_t)(LONG_MATCH_HEAD_BITS + c.prefixBits), HEAD_LONG, c.extraBits, c.base};
        break;
      }
    }
  }
  return t;
}
constexpr HeadTable kHead = MakeHeadTable();
static_assert(kHead.code[0].bits == 6 && kHead.code[0].extraBits == 4 && kHead.code[0].base == 4096, "class 0000");
static_assert(kHead.code[0x08].bits == 3 && kHead.code[0x08].base == 0, "class 1");
// The fast loop takes a class's extra bits as `tail >> (64 - extraBits)`,
// which needs at least one of them.
constexpr bool EveryClassHasExtraBits() {
  for (const OffsetClass& c : kOffsetClasses)
    if (c.extraBits == 0) return false;
  return true;
}
static_assert(EveryClassHasExtraBits(), "no offset class without extra bits");

// The length code of a long match, indexed by its next nine bits (the
// longest code with its extra bits). length 0 means a length byte follows.
struct LengthEntry {
  uint8_t length;
  uint8_t bits;
};
constexpr unsigned LENGTH_INDEX_BITS = MaxLengthCodeBits();
static_assert(LENGTH_INDEX_BITS == 9u, "the longest length code takes nine control bits");
struct LengthTable {
  LengthEntry code[1u << LENGTH_INDEX_BITS];
};
static_assert(LengthCodeEnd(kLengthCodes[LENGTH_CODE_COUNT - 2]) - 1u <= 0xFFu && kLengthCodes[LENGTH_CODE_COUNT - 1].lengthByte,
              "only the byte form is longer than a table entry holds, and it is marked by length 0");

constexpr LengthTable MakeLengthTable() {
  LengthTable t{};
  for (unsigned i = 0; i < (1u << LENGTH_INDEX_BITS); ++i) {
    for (const LengthCode& c : kLengthCodes) {
      if ((i >> (LENGTH_INDEX_BITS - c.prefixBits)) != c.prefix) continue;
      unsigned below = LENGTH_INDEX_BITS - c.prefixBits - c.extraBits;
      unsigned x = (i >> below) & ((1u << c.extraBits) - 1u);
      t.code[i] = LengthEntry{(uint8_t)(c.lengthByte ? 0u : c.base + x), (uint8_t)LengthCodeControlBits(c)};
      break;
    }
  }
  return t;
}
constexpr LengthTable kLength = MakeLengthTable();
static_assert(kLength.code[0x1F].length == 26 && kLength.code[0x1F].bits == 9, "00001 1111 is 26");
static_assert(kLength.code[0].length == 0 && kLength.code[0].bits == 5, "00000 takes a byte");
static_assert(kLength.code[0x100].length == 3 && kLength.code[0x100].bits == 1, "1 is 3");

// Match tokens read from the next bits in one look-up. The entry carries
// the token's distance with its extra bits already added, so only the
// offset byte remains to be placed, and its length, or one of two marks:
// the length code runs past the index (its bits follow the `used` ones, and
// the length table decodes them), or the far short form with x = 7, the
// only one that can be the end code (V = BLOCK_END_V with offset byte FF).
//
// The fast loop looks a token up in the current bits followed by the flag
// word peeked after the offset byte, where the next word stands when the
// token runs past the current one in its tail. When it runs out in its
// head, the word stands before the offset byte instead and the look-up read
// the wrong continuation; but whether a prefix code ends within the first
// `avail` bits depends on those bits alone, so the entry's head then reaches
// past `avail` too, and `head <= avail` is the one test that the entry is
// the token's. The loop then looks the token up again with the word before
// the byte. Entries whose head and extra bits alone pass the index (only
// in the small build's table) carry a head longer than any word and are
// decoded through the head table.
#define TOKEN_OVER (BLOCK_FLAG_WORD_BITS + 1u)
#define TOKEN_LENGTH_CODE_FOLLOWS 0xFEu
#define TOKEN_END_FORM 0xFFu
struct TokenCode {
  uint8_t head;       // bits before the offset byte; TOKEN_OVER: decoded by the tables above
  uint8_t used;       // control bits of the token, or of its head and extra bits when its length code follows
  uint8_t extraBits;  // offset bits after the offset byte: the byte's shift
  uint8_t length;     // 0: a length byte follows; or TOKEN_LENGTH_CODE_FOLLOWS, TOKEN_END_FORM
  uint16_t distance;  // V + 1 of offset byte 0 with the token's extra bits
  uint16_t unused;    // keeps entries 8 bytes, one scaled index
};
static_assert(LengthCodeEnd(kLengthCodes[LENGTH_CODE_COUNT - 2]) - 1u < TOKEN_LENGTH_CODE_FOLLOWS,
              "no length in a table entry is taken for a mark");
static_assert(SHORT_FAR_BASE + (0xFFu << SHORT_FAR_EXTRA_BITS) + ((1u << SHORT_FAR_EXTRA_BITS) - 1u) == BLOCK_END_V,
              "the end code is the far short form with x = 7 and offset byte FF");
// The wider the index, the more tokens it holds and the larger the table
// (8 bytes an entry): 64 KiB at 13 bits, which the 64-bit builds carry
// together with a second copy of the fast loop (see ExpandBlock). The
// 32-bit updater must fit its whole executable in 40 KiB, so its build is
// the small one: a 1 KiB table of the shortest tokens (up to seven control
// bits), the rest decoded through the two smaller tables, and one loop, to
// the same bytes. The tests build the small one on 64-bit hosts as well.
#if defined(EXPAND_SMALL)
#define EXPAND_SMALL_BUILD EXPAND_SMALL
#elif UINTPTR_MAX > 0xFFFFFFFFu
#define EXPAND_SMALL_BUILD 0
#else
#define EXPAND_SMALL_BUILD 1
#endif
constexpr unsigned TOKEN_INDEX_BITS = EXPAND_SMALL_BUILD ? 7u : 13u;
static_assert(TOKEN_INDEX_BITS >= HEAD_INDEX_BITS, "the index holds every head");
struct TokenTable {
  TokenCode code[1u << TOKEN_INDEX_BITS];
};
constexpr TokenTable MakeTokenTable() {
  TokenTable t{};
  const unsigned endExtra = (1u << SHORT_FAR_EXTRA_BITS) - 1u;  // x of the end code
  for (unsigned i = 0; i < (1u << TOKEN_INDEX_BITS); ++i) {
    const HeadCode head = kHead.code[i >> (TOKEN_INDEX_BITS - HEAD_INDEX_BITS)];
    unsigned prefix = head.bits + head.extraBits;
    TokenCode c{TOKEN_OVER, 0, head.extraBits, SHORT_MATCH_LENGTH, 0, 0};
    if (prefix > TOKEN_INDEX_BITS) {
      t.code[i] = c;
      continue;
    }
    // The extra bits, right after the head.
    unsigned x = (i >> (TOKEN_INDEX_BITS - prefix)) & ((1u << head.extraBits) - 1u);
    c.head = head.bits;
    c.used = (uint8_t)prefix;
    c.distance = (uint16_t)(head.base + x + 1u);
    if (head.kind == HEAD_SHORT_FAR && x == endExtra) {
      c.length = TOKEN_END_FORM;
    } else if (head.kind == HEAD_LONG) {
      // The length code's bits after the prefix, zeros past the index: the
      // entry only holds the length when the code ends inside the index.
      unsigned rest = (i << prefix) & ((1u << TOKEN_INDEX_BITS) - 1u);
      // The length table's index: the same bits, aligned to its width.
      unsigned lengthIndex = TOKEN_INDEX_BITS >= LENGTH_INDEX_BITS ? rest >> (TOKEN_INDEX_BITS - LENGTH_INDEX_BITS)
                                                                   : rest << (LENGTH_INDEX_BITS - TOKEN_INDEX_BITS);
      const LengthEntry lc = kLength.code[lengthIndex];
      if (prefix + lc.bits <= TOKEN_INDEX_BITS) {
        c.used = (uint8_t)(prefix + lc.bits);
        c.length = lc.length;
      } else {
        c.length = TOKEN_LENGTH_CODE_FOLLOWS;
      }
    }
    t.code[i] = c;
  }
  return t;
}
constexpr TokenTable kToken = MakeTokenTable();
static_assert(sizeof(TokenCode) == 8, "one scaled index per entry");
// The fast loop moves its bits by `used` and takes the token only when its
// head fits the current word, which is never empty there.
static_assert(TOKEN_INDEX_BITS < BLOCK_FLAG_WORD_BITS && TOKEN_OVER > BLOCK_FLAG_WORD_BITS,
              "a marked entry never passes `head <= avail`, a taken one never moves the bits by 64");
// A taken token leaves `avail - used` bits, or minus up to
// MATCH_MAX_CONTROL_BITS - 1 when it crossed; as unsigned, that count modulo
// the word's width is the bits left either way, and its sign bit says which.
static_assert(MATCH_MAX_CONTROL_BITS < BLOCK_FLAG_WORD_BITS, "a crossed token leaves less than a word short");
static_assert((BLOCK_FLAG_WORD_BITS & (BLOCK_FLAG_WORD_BITS - 1u)) == 0 && BLOCK_FLAG_WORD_BITS <= 32u,
              "the word's width divides 2^32");
// Entries by their top bits, whatever the index's width.
constexpr const TokenCode& TokenAt(unsigned top, unsigned topBits) {
  return kToken.code[top << (TOKEN_INDEX_BITS - topBits)];
}
static_assert(TokenAt(0x05, 5).used == 5 && TokenAt(0x05, 5).length == 3 && TokenAt(0x05, 5).extraBits == 1 &&
                  TokenAt(0x05, 5).distance == 1 && TokenAt(0x05, 5).head == 3,
              "0 0 1 x=0 1: class 0, length 3, distance 1 + 2b");
static_assert(TokenAt(0x07, 5).distance == 2, "0 0 1 x=1 1: distance 2 + 2b");
static_assert(TokenAt(0x2, 3).used == 3 && TokenAt(0x2, 3).length == SHORT_MATCH_LENGTH &&
                  TokenAt(0x2, 3).distance == 1 && TokenAt(0x2, 3).extraBits == 0,
              "0 1 0: near short, distance 1 + b");
static_assert(TokenAt(0x1E, 6).used == 6 && TokenAt(0x1E, 6).distance == SHORT_FAR_BASE + 7u && TokenAt(0x1E, 6).head == 3,
              "0 1 1 x=6: far short, distance 263 + 8b");
static_assert(TokenAt(0x1F, 6).length == TOKEN_END_FORM && TokenAt(0x1F, 6).distance == SHORT_FAR_BASE + 8u,
              "0 1 1 x=7: the end code's form, distance 264 + 8b");
static_assert(TOKEN_INDEX_BITS < 10u || (kToken.code[0].length == TOKEN_LENGTH_CODE_FOLLOWS && kToken.code[0].used == 10 &&
                                         kToken.code[0].distance == 4097),
              "0 0 0000 x=0: class 0000, its length code after 10 bits");
static_assert(TOKEN_INDEX_BITS >= 10u || kToken.code[0].head == TOKEN_OVER,
              "class 0000's head and extra bits pass a narrow index");

// The careful loop's view of the same codes: one small array per field,
// which keeps the shipped decoder as small as a hand-written table would.
struct CarefulTables {
  uint8_t classExtraBits[OFFSET_CLASS_COUNT];
  uint16_t classBase[OFFSET_CLASS_COUNT];
  uint8_t lengthExtraBits[LENGTH_CODE_COUNT];
  uint8_t lengthBase[LENGTH_CODE_COUNT];
};
constexpr CarefulTables MakeCarefulTables() {
  CarefulTables t{};
  for (unsigned i = 0; i < OFFSET_CLASS_COUNT; ++i) {
    t.classExtraBits[i] = kOffsetClasses[i].extraBits;
    t.classBase[i] = kOffsetClasses[i].base;
  }
  for (unsigned i = 0; i < LENGTH_CODE_COUNT; ++i) {
    t.lengthExtraBits[i] = kLengthCodes[i].extraBits;
    t.lengthBase[i] = (uint8_t)kLengthCodes[i].base;
  }
  return t;
}
constexpr CarefulTables kCareful = MakeCarefulTables();
// Only the last length code takes a byte, and every base fits a byte.
#define LENGTH_BYTE_CODE (LENGTH_CODE_COUNT - 1u)
constexpr bool OnlyTheLastLengthCodeTakesAByte() {
  for (unsigned i = 0; i < LENGTH_CODE_COUNT; ++i)
    if (kLengthCodes[i].lengthByte != (i == LENGTH_BYTE_CODE) || kLengthCodes[i].base > 0xFFu) return false;
  return true;
}
static_assert(OnlyTheLastLengthCodeTakesAByte(), "the length byte is the last code's");

// ---- Memory helpers ---------------------------------------------------------

inline void Copy16(uint8_t* d, const uint8_t* s) { memcpy(d, s, 16); }

// ---- Fast-loop bit groups -----------------------------------------------------

// The current bits with a flag word read at `in` placed right below them.
inline uint64_t PeekGroup(uint64_t bits, unsigned avail, const uint8_t* in) {
  return bits | ((uint64_t)Load32(in) << (BLOCK_FLAG_WORD_BITS - avail));
}

// Appends `length` bytes from `distance` back, writing at most
// MATCH_MAX_BYTES_WRITTEN bytes (the caller guarantees that room).
//
// Most matches are short and far: their first 32 bytes are four 8-byte
// moves whenever the distance is at least 8, with no test of the distance
// between 8 and 16 (each move reads only bytes already in place) and none
// of the length below 33 (matches of 17 to 32 bytes are one in twenty, too
// many to leave to a mispredicted jump), so the one branch that real data
// leaves unpredictable is taken for the few matches closer than 8.
inline void CopyMatch(uint8_t* out, size_t distance, size_t length) {
  const uint8_t* from = out - distance;
  if (__builtin_expect(distance >= 8, 1)) {
    Store64(out, Load64(from));
    Store64(out + 8, Load64(from + 8));
    Store64(out + 16, Load64(from + 16));
    Store64(out + 24, Load64(from + 24));
    if (__builtin_expect(length <= 32, 1)) return;
    size_t k = 32;
    if (distance >= COPY_WIDTH) {
      do {
        Copy16(out + k, from + k);
        k += COPY_WIDTH;
      } while (k < length);
    } else {
      do {
        Store64(out + k, Load64(from + k));
        k += 8;
      } while (k < length);
    }
    return;
  }
  // The pattern is the `distance` bytes before `out`, repeated: read 8
  // bytes there (those past `out` are inside the output room and dropped),
  // then double the period's copies until they fill the word.
  unsigned period = (unsigned)distance * 8u;
  uint64_t pattern = Load64(from) & ((1ull << period) - 1u);
  for (unsigned filled = period; filled < 64; filled *= 2) pattern |= pattern << filled;
  size_t stride = kPatternStride[distance];
  size_t k = 0;
  do {
    Store64(out + k, pattern);
    k += stride;
  } while (k < length);
}

// ---- Careful loop -------------------------------------------------------------

struct Careful {
  const uint8_t* in;
  const uint8_t* inEnd;
  uint64_t bits;
  unsigned avail;
};

// One control bit; 0 or 1, or -1 when the input ends before the flag word.
inline int CarefulBit(Careful* c) {
  if (c->avail == 0) {
    if ((size_t)(c->inEnd - c->in) < BLOCK_FLAG_WORD_BYTES) return -1;
    c->bits = (uint64_t)Load32(c->in) << BLOCK_FLAG_WORD_BITS;
    c->in += BLOCK_FLAG_WORD_BYTES;
    c->avail = BLOCK_FLAG_WORD_BITS;
  }
  int bit = (int)(c->bits >> 63);
  c->bits <<= 1;
  c->avail -= 1;
  return bit;
}

// `count` control bits, most significant first; -1 when the input ends.
inline int CarefulBits(Careful* c, unsigned count) {
  int value = 0;
  for (unsigned i = 0; i < count; ++i) {
    int bit = CarefulBit(c);
    if (bit < 0) return -1;
    value = value * 2 + bit;
  }
  return value;
}

// One data byte, or -1 when the input has ended.
inline int CarefulByte(Careful* c) {
  if (c->in == c->inEnd) return -1;
  return *c->in++;
}

// A token that does not fit the room is left unread: *outp and *c stand
// at its start, so that a caller with more room can go on from there.
// Inlined into each caller: the updater calls it from ExpandBlock alone,
// and a call between them would only cost the shipped executable bytes.
__attribute__((always_inline)) inline ExpandResult ExpandCareful(uint8_t* dst, uint8_t** outp, uint8_t* outEnd,
                                                                 Careful* c) {
  uint8_t* out = *outp;
  for (;;) {
    *outp = out;
    const Careful start = *c;
    int bit = CarefulBit(c);
    if (bit < 0) return EXPAND_BAD_DATA;
    if (bit == 1) {
      int literal = CarefulByte(c);
      if (literal < 0) return EXPAND_BAD_DATA;
      if (out == outEnd) {
        *c = start;
        return EXPAND_NO_ROOM;
      }
      *out++ = (uint8_t)literal;
      continue;
    }
    bit = CarefulBit(c);
    if (bit < 0) return EXPAND_BAD_DATA;
    size_t v;
    size_t length;
    if (bit == 1) {
      int s = CarefulBit(c);
      if (s < 0) return EXPAND_BAD_DATA;
      int b = CarefulByte(c);
      if (b < 0) return EXPAND_BAD_DATA;
      if (s == 0) {
        v = (size_t)b;
      } else {
        int x = CarefulBits(c, SHORT_FAR_EXTRA_BITS);
        if (x < 0) return EXPAND_BAD_DATA;
        v = SHORT_FAR_BASE + ((size_t)b << SHORT_FAR_EXTRA_BITS) + (size_t)x;
        if (v == BLOCK_END_V) return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;  // *outp is out
      }
      length = SHORT_MATCH_LENGTH;
    } else {
      // Both codes are unary (block_format.h): the zeros before the first
      // one, or the last code's all zeros, index the tables.
      unsigned cls = 0;
      while (cls < OFFSET_CLASS_COUNT - 1) {
        bit = CarefulBit(c);
        if (bit < 0) return EXPAND_BAD_DATA;
        if (bit == 1) break;
        ++cls;
      }
      int b = CarefulByte(c);
      if (b < 0) return EXPAND_BAD_DATA;
      int x = CarefulBits(c, kCareful.classExtraBits[cls]);
      if (x < 0) return EXPAND_BAD_DATA;
      v = kCareful.classBase[cls] + ((size_t)b << kCareful.classExtraBits[cls]) + (size_t)x;
      unsigned code = 0;
      while (code < LENGTH_CODE_COUNT - 1) {
        bit = CarefulBit(c);
        if (bit < 0) return EXPAND_BAD_DATA;
        if (bit == 1) break;
        ++code;
      }
      int extra = code == LENGTH_BYTE_CODE ? CarefulByte(c) : CarefulBits(c, kCareful.lengthExtraBits[code]);
      if (extra < 0) return EXPAND_BAD_DATA;
      length = kCareful.lengthBase[code] + (size_t)extra;
    }
    size_t distance = v + 1;
    if (distance > (size_t)(out - dst)) return EXPAND_BAD_DATA;
    if (length > (size_t)(outEnd - out)) {
      *c = start;
      return EXPAND_NO_ROOM;
    }
    const uint8_t* from = out - distance;
    for (size_t i = 0; i < length; ++i) out[i] = from[i];
    out += length;
  }
}

// The fast loop, on the decoder's state: `iterations` of it, which the
// caller has found room for. Returns FAST_LOOP_DONE when it ran them all,
// the block's result when the block ended or failed first.
struct FastState {
  const uint8_t* in;
  uint8_t* out;
  uint64_t bits;
  unsigned avail;
};
#define FAST_LOOP_DONE (-1)

// Without kCheckDistance the loop leaves out the test that a match reaches
// no further back than the output's start: the caller runs it that way only
// once the output holds BLOCK_MAX_DISTANCE bytes, as far as any match reaches.
template <bool kCheckDistance>
__attribute__((always_inline)) inline int FastLoop(FastState& s, size_t iterations, uint8_t* dst, uint8_t* outEnd) {
  const uint8_t* in = s.in;
  uint8_t* out = s.out;
  uint64_t bits = s.bits;
  unsigned avail = s.avail;
  for (; iterations != 0; --iterations) {
    if (avail == 0) {
      bits = (uint64_t)Load32(in) << BLOCK_FLAG_WORD_BITS;
      in += BLOCK_FLAG_WORD_BYTES;
      avail = BLOCK_FLAG_WORD_BITS;
    }
    // A run of literals: as many leading one bits as the current word holds
    // (the zeros below the valid bits stop the count at `avail`).
    unsigned literals = (unsigned)__builtin_clzll(~bits);
    // Taken without a branch on the count: whether a token starts with a
    // literal is the least predictable fact of the stream, and a 32-byte
    // copy costs less than a mispredicted jump. (No literal: nothing moves.)
    Copy16(out, in);
    Copy16(out + 16, in + 16);
    in += literals;
    out += literals;
    bits <<= literals;
    avail -= literals;
    if (avail == 0) continue;

    // A match token. Its at most 19 control bits cross into the next flag
    // word at most once: inside the head (the word then stands at `in`,
    // before the offset byte) or inside the tail (the word stands after the
    // offset byte). The token table reads the word after the byte, and its
    // head tells whether that was the right one (see TokenCode); if not, it
    // reads the word before the byte. Either way a length byte follows the
    // token's last bit, at in + 1, or in + 5 when a word was taken.
    size_t distance;
    size_t length;
    uint64_t peek = PeekGroup(bits, avail, in + 1);
    const TokenCode* token = &kToken.code[peek >> (64 - TOKEN_INDEX_BITS)];
    size_t offsetAt = 0;  // the offset byte, from `in`
    bool tableToken = token->head <= avail;
    if (__builtin_expect(!tableToken, 0)) {
      // The token ran out of the current word in its head, if the entry
      // read with the word before the offset byte says so (a head past
      // `avail`) and may be taken (not marked for the head table).
      uint64_t peekBefore = PeekGroup(bits, avail, in);
      const TokenCode* before = &kToken.code[peekBefore >> (64 - TOKEN_INDEX_BITS)];
      if (before->head > avail && before->head != TOKEN_OVER) {
        token = before;
        peek = peekBefore;
        offsetAt = BLOCK_FLAG_WORD_BYTES;
        tableToken = true;
      }
    }
    if (__builtin_expect(tableToken, 1)) {
      // The entry is the token's, with `peek` the bits it was read from.
      unsigned used = token->used;
      length = token->length;
      distance = token->distance + ((size_t)in[offsetAt] << token->extraBits);
      if (__builtin_expect(length >= TOKEN_LENGTH_CODE_FOLLOWS, 0)) {
        if (length == TOKEN_END_FORM) {
          if (distance == BLOCK_END_V + 1u) {
            s.out = out;  // where the block ended, for a caller that goes by windows
            return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
          }
          length = SHORT_MATCH_LENGTH;
        } else {
          const LengthEntry lc = kLength.code[(peek << used) >> (64 - LENGTH_INDEX_BITS)];
          used += lc.bits;
          length = lc.length;
        }
      }
      // It crossed into the peeked word when it takes more bits than the
      // current one holds (always, when the head did); the peeked bits have
      // only zeros below them, the current ones too, so neither needs a
      // mask. The bits left, less a whole word when the token crossed: then
      // the sign bit is set, and the word's width brings the count back.
      unsigned left = avail - used;
      unsigned crossed = left >> 31;
      in += 1 + crossed * BLOCK_FLAG_WORD_BYTES;
      avail = left % BLOCK_FLAG_WORD_BITS;
      bits = crossed ? peek << used : bits << used;
    } else {
      // Only in the small build: a long match whose head and extra bits
      // pass the index.
      uint64_t peekBefore = PeekGroup(bits, avail, in);
      const HeadCode head = kHead.code[peekBefore >> (64 - HEAD_INDEX_BITS)];
      unsigned headCrossed = head.bits > avail;
      if (headCrossed) peek = peekBefore;
      size_t b = in[headCrossed * BLOCK_FLAG_WORD_BYTES];
      unsigned used;
      size_t v;
      if (head.kind == HEAD_SHORT_NEAR) {
        used = head.bits;
        v = b;
        length = SHORT_MATCH_LENGTH;
      } else if (head.kind == HEAD_SHORT_FAR) {
        used = head.bits + head.extraBits;
        v = SHORT_FAR_BASE + (b << SHORT_FAR_EXTRA_BITS) + (size_t)((peek << head.bits) >> (64 - SHORT_FAR_EXTRA_BITS));
        if (v == BLOCK_END_V) {
          s.out = out;
          return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
        }
        length = SHORT_MATCH_LENGTH;
      } else {
        unsigned extraBits = head.extraBits;
        uint64_t tail = peek << head.bits;
        size_t x = (size_t)(tail >> (64 - extraBits));
        const LengthEntry lc = kLength.code[(tail << extraBits) >> (64 - LENGTH_INDEX_BITS)];
        used = head.bits + extraBits + lc.bits;
        v = head.base + (b << extraBits) + x;
        length = lc.length;
      }
      distance = v + 1;
      unsigned crossed = used > avail;
      in += 1 + crossed * BLOCK_FLAG_WORD_BYTES;
      avail = avail + crossed * BLOCK_FLAG_WORD_BITS - used;
      // Not crossed: the current word's own bits; crossed: the peeked word's,
      // which have only zeros below them. Neither needs a mask.
      bits = crossed ? peek << used : bits << used;
    }
    if (__builtin_expect(length == 0, 0)) length = kLengthCodes[LENGTH_BYTE_CODE].base + (size_t)*in++;
    if (kCheckDistance && distance > (size_t)(out - dst)) return EXPAND_BAD_DATA;
    CopyMatch(out, distance, length);
    out += length;
  }

  s = FastState{in, out, bits, avail};
  return FAST_LOOP_DONE;
}

// The fast loop's stretches, to the point where neither buffer has room
// for one more iteration: FAST_LOOP_DONE then, the block's result when it
// ended or failed first.
//
// The loop runs in stretches of as many iterations as both buffers have
// room for, counted down instead of testing two bounds each time; it stops
// where the room for one more ends, as a test of each bound would. An
// iteration reads at most FAST_MAX_BYTES_READ bytes from where it starts
// and writes at most FAST_MAX_BYTES_WRITTEN, and moves `in` and `out` less
// than that.
//
// Matches are tested against the output's start until it holds as many
// bytes as the farthest match reaches back; after that none can fail it,
// and the loop goes on without the test (4% of the instructions of a
// token), except in the small build, where the second loop does not fit.
// A stretch of the tested loop ends no more than one iteration's output
// past BLOCK_MAX_DISTANCE bytes.
static_assert(OffsetClassEnd(kOffsetClasses[OFFSET_CLASS_COUNT - 1]) == BLOCK_MAX_DISTANCE &&
                  SHORT_MATCH_MAX_DISTANCE < BLOCK_MAX_DISTANCE,
              "no distance passes BLOCK_MAX_DISTANCE");
__attribute__((always_inline)) inline int FastStretches(FastState& s, const uint8_t* inEnd, uint8_t* dst,
                                                        uint8_t* outEnd) {
  for (;;) {
    size_t inRoom = (size_t)(inEnd - s.in) / FAST_MAX_BYTES_READ;
    size_t outRoom = (size_t)(outEnd - s.out) / FAST_MAX_BYTES_WRITTEN;
    size_t iterations = inRoom < outRoom ? inRoom : outRoom;
    if (iterations == 0) return FAST_LOOP_DONE;
    size_t produced = (size_t)(s.out - dst);
    int result;
    if (EXPAND_SMALL_BUILD || produced < BLOCK_MAX_DISTANCE) {
      if (!EXPAND_SMALL_BUILD) {
        // Until the iteration that passes the mark.
        size_t toWarm = (BLOCK_MAX_DISTANCE - produced) / FAST_MAX_BYTES_OUT + 1;
        iterations = iterations < toWarm ? iterations : toWarm;
      }
      result = FastLoop<true>(s, iterations, dst, outEnd);
    } else {
      result = FastLoop<false>(s, iterations, dst, outEnd);
    }
    if (result != FAST_LOOP_DONE) return result;
  }
}

// ---- Instruction sets ---------------------------------------------------------
//
// The 64-bit x86 builds carry the fast loop twice: for the baseline
// instruction set, and for processors with LZCNT and BMI2. Counting a
// literal run stands between every token and the next; LZCNT counts in one
// cycle where the baseline's bit scan takes three or four and a correction,
// and BMI2 shifts by a register without moving the count to CL first. The
// same source, to the same bytes: the tests build the baseline-only variant
// (EXPAND_BASELINE_ONLY) beside the one that picks by the processor.
#if !EXPAND_SMALL_BUILD && defined(__x86_64__) && !defined(EXPAND_BASELINE_ONLY)
#define EXPAND_BMI2_LOOP 1
#else
#define EXPAND_BMI2_LOOP 0
#endif

#if EXPAND_BMI2_LOOP
// No literal-run count reads a zero word, where LZCNT and the bit scan
// would differ: `bits` has a zero below its valid bits, so ~bits is never 0.
static_assert(BLOCK_FLAG_WORD_BITS < 64, "a flag word leaves zeros below it in the 64-bit group");

__attribute__((noinline)) int FastStretchesBaseline(FastState& s, const uint8_t* inEnd, uint8_t* dst, uint8_t* outEnd) {
  return FastStretches(s, inEnd, dst, outEnd);
}

__attribute__((noinline, target("lzcnt,bmi,bmi2"))) int FastStretchesBmi2(FastState& s, const uint8_t* inEnd,
                                                                             uint8_t* dst, uint8_t* outEnd) {
  return FastStretches(s, inEnd, dst, outEnd);
}

// CPUID once per process: 0 not asked yet, 1 without, 2 with. Two threads
// that ask at once store the same answer.
int gBmi2State = 0;

bool HasLzcntAndBmi2() {
  int state = __atomic_load_n(&gBmi2State, __ATOMIC_RELAXED);
  if (state == 0) {
    unsigned a, b, c, d;
    bool lzcnt = __get_cpuid(0x80000001u, &a, &b, &c, &d) && (c & bit_LZCNT) != 0;
    bool bmi = __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_BMI) != 0 && (b & bit_BMI2) != 0;
    state = lzcnt && bmi ? 2 : 1;
    __atomic_store_n(&gBmi2State, state, __ATOMIC_RELAXED);
  }
  return state == 2;
}
#endif

// The fast loop this processor runs best; inlined as ExpandCareful is.
__attribute__((always_inline)) inline int FastStretchesHere(FastState& s, const uint8_t* inEnd, uint8_t* dst, uint8_t* outEnd) {
#if EXPAND_BMI2_LOOP
  return HasLzcntAndBmi2() ? FastStretchesBmi2(s, inEnd, dst, outEnd) : FastStretchesBaseline(s, inEnd, dst, outEnd);
#else
  return FastStretches(s, inEnd, dst, outEnd);
#endif
}

}  // namespace

ExpandResult ExpandBlock(uint8_t* dst, size_t dstRoom, const uint8_t* src, size_t srcLength) {
  const uint8_t* const inEnd = src + srcLength;
  uint8_t* const outEnd = dst + dstRoom;
  FastState s{src, dst, 0, 0};
  int result = FastStretchesHere(s, inEnd, dst, outEnd);
  if (result != FAST_LOOP_DONE) return (ExpandResult)result;

  Careful c{s.in, inEnd, s.bits, s.avail};
  return ExpandCareful(dst, &s.out, outEnd, &c);
}

namespace {

// The window keeps the farthest a match reaches back, and has room beyond
// it for a fast iteration or the longest match, so every slide makes room.
static_assert(EXPAND_WINDOW_MIN_BYTES >= BLOCK_MAX_DISTANCE + FAST_MAX_BYTES_WRITTEN + BLOCK_MAX_LENGTH,
              "a window holds the history and one more step");

}  // namespace

ExpandResult ExpandBlockThrough(size_t dstRoom, const uint8_t* src, size_t srcLength, uint8_t* window,
                                size_t windowSize, ExpandTake take, void* context) {
  if (windowSize < EXPAND_WINDOW_MIN_BYTES) return EXPAND_NO_ROOM;
  const uint8_t* const inEnd = src + srcLength;
  FastState s{src, window, 0, 0};
  size_t handed = 0;  // output before window[0]
  for (;;) {
    // The window's end is the output's own end once that is inside it;
    // until then, running out of window only means the next slide.
    size_t left = dstRoom - handed;
    bool last = left <= windowSize;
    uint8_t* end = window + (last ? left : windowSize);
    int result = FastStretchesHere(s, inEnd, window, end);
    if (result == FAST_LOOP_DONE) {
      if (!last && (size_t)(inEnd - s.in) >= FAST_MAX_BYTES_READ) {
        result = EXPAND_NO_ROOM;  // the fast loop stopped at the window's end
      } else {
        Careful c{s.in, inEnd, s.bits, s.avail};
        result = ExpandCareful(window, &s.out, end, &c);
        s.in = c.in;
        s.bits = c.bits;
        s.avail = c.avail;
      }
    }
    size_t held = (size_t)(s.out - window);
    if (result == EXPAND_NO_ROOM && !last) {
      // Slide: hand out all but the history, which moves to the front.
      size_t out = held - BLOCK_MAX_DISTANCE;
      if (take) take(context, window, out);
      memmove(window, window + out, BLOCK_MAX_DISTANCE);
      handed += out;
      s.out = window + BLOCK_MAX_DISTANCE;
      continue;
    }
    // The end code is judged against the whole output, not the window.
    if (result == EXPAND_OK || result == EXPAND_SHORT_OUTPUT)
      result = handed + held == dstRoom ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
    if (result == EXPAND_OK && take && held != 0) take(context, window, held);
    return (ExpandResult)result;
  }
}
