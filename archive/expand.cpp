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
//    bounds are derived below from the format's constants). Under
//    those two conditions nothing inside it needs a bound test: it takes
//    whole runs of literals from a count of leading one bits, decodes all
//    control bits of a match token from one 64-bit peek in two table
//    look-ups, and copies 8 or 16 bytes at a time, or fills a repeating
//    pattern for distances under 8.
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
// tail. The fast loop peeks the word at both places below the current bits,
// lets the head pick one, and keeps the word only when the token used it.
#include "archive/expand.h"

#include <string.h>

#include "archive/bytes.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the decoder loads flag words and copies with little-endian loads"
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
  if ((BLOCK_MAX_LENGTH + 7u) / 8u * 8u > MATCH_MAX_BYTES_WRITTEN) return false;
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

// Whole match tokens whose control bits (head, extra bits, length code) fit
// in the next ten bits, read in one look-up: most tokens of real data. The
// head and length tables above decode the rest. Entry used = 0: the token
// is longer than the index.
// More bits than any word holds: an entry marked so never passes the
// fast loop's one test, `used <= avail`.
#define TOKEN_OVER (BLOCK_FLAG_WORD_BITS + 1u)
struct TokenCode {
  uint8_t used;       // control bits of the whole token; TOKEN_OVER if over the index
  uint8_t headBits;   // bits before the extra bits
  uint8_t extraBits;  // offset bits after the offset byte
  uint8_t length;     // 0: a length byte follows
  uint16_t base;      // V of the first distance the head reaches
  uint16_t unused;    // keeps entries 8 bytes, one scaled index
};
// The wider the index, the more tokens it holds and the larger the table
// (8 bytes an entry): 64 KiB at 13 bits, which the 64-bit builds carry; the
// 32-bit updater must fit its whole executable in 40 KiB, so it carries a
// 1 KiB table of the shortest tokens (up to seven control bits) and decodes
// the rest through the two smaller tables, to the same bytes.
// The tests build the 32-bit width on 64-bit hosts as well.
#if defined(EXPAND_TOKEN_INDEX_BITS)
constexpr unsigned TOKEN_INDEX_BITS = EXPAND_TOKEN_INDEX_BITS;
#elif UINTPTR_MAX > 0xFFFFFFFFu
constexpr unsigned TOKEN_INDEX_BITS = 13u;
#else
constexpr unsigned TOKEN_INDEX_BITS = 7u;
#endif
static_assert(TOKEN_INDEX_BITS >= HEAD_INDEX_BITS, "the index holds every head");
struct TokenTable {
  TokenCode code[1u << TOKEN_INDEX_BITS];
};
constexpr TokenTable MakeTokenTable() {
  TokenTable t{};
  for (unsigned i = 0; i < (1u << TOKEN_INDEX_BITS); ++i) {
    const HeadCode head = kHead.code[i >> (TOKEN_INDEX_BITS - HEAD_INDEX_BITS)];
    unsigned prefix = head.bits + head.extraBits;
    TokenCode c{TOKEN_OVER, head.bits, head.extraBits, SHORT_MATCH_LENGTH, head.base, 0};
    if (head.kind != HEAD_LONG) {
      c.used = (uint8_t)prefix;
    } else if (prefix < TOKEN_INDEX_BITS) {
      // The length code's bits after the prefix, zeros past the index: the
      // entry only counts when the code ends inside the index.
      unsigned rest = (i << prefix) & ((1u << TOKEN_INDEX_BITS) - 1u);
      // The length table's index: the same bits, aligned to its width.
      unsigned lengthIndex = TOKEN_INDEX_BITS >= LENGTH_INDEX_BITS ? rest >> (TOKEN_INDEX_BITS - LENGTH_INDEX_BITS)
                                                                   : rest << (LENGTH_INDEX_BITS - TOKEN_INDEX_BITS);
      const LengthEntry lc = kLength.code[lengthIndex];
      if (prefix + lc.bits <= TOKEN_INDEX_BITS) {
        c.used = (uint8_t)(prefix + lc.bits);
        c.length = lc.length;
      }
    }
    t.code[i] = c;
  }
  return t;
}
constexpr TokenTable kToken = MakeTokenTable();
static_assert(sizeof(TokenCode) == 8, "one scaled index per entry");
// Entries by their top bits, whatever the index's width.
constexpr const TokenCode& TokenAt(unsigned top, unsigned topBits) {
  return kToken.code[top << (TOKEN_INDEX_BITS - topBits)];
}
static_assert(TokenAt(0x05, 5).used == 5 && TokenAt(0x05, 5).length == 3 && TokenAt(0x05, 5).extraBits == 1,
              "0 0 1 x 1: class 0, length 3");
static_assert(TokenAt(0x2, 3).used == 3 && TokenAt(0x2, 3).length == SHORT_MATCH_LENGTH && TokenAt(0x2, 3).base == 0,
              "0 1 0: near short");
static_assert(TokenAt(0x3, 3).used == 6 && TokenAt(0x3, 3).base == SHORT_FAR_BASE, "0 1 1: far short");
static_assert(kToken.code[0].used == TOKEN_OVER, "class 0000 and the length byte's code take 15 bits, more than the index");

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
inline void CopyMatch(uint8_t* out, size_t distance, size_t length) {
  const uint8_t* from = out - distance;
  if (distance >= COPY_WIDTH) {
    size_t k = 0;
    do {
      Copy16(out + k, from + k);
      k += COPY_WIDTH;
    } while (k < length);
  } else if (distance >= 8) {
    size_t k = 0;
    do {
      Store64(out + k, Load64(from + k));
      k += 8;
    } while (k < length);
  } else {
    uint64_t pattern;
    if (distance == 1) {
      pattern = from[0] * (uint64_t)0x0101010101010101ull;
    } else {
      uint8_t p[8];
      for (unsigned i = 0; i < distance; ++i) p[i] = from[i];
      for (unsigned i = (unsigned)distance; i < 8; ++i) p[i] = p[i - distance];
      memcpy(&pattern, p, 8);
    }
    size_t stride = kPatternStride[distance];
    size_t k = 0;
    do {
      Store64(out + k, pattern);
      k += stride;
    } while (k < length);
  }
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

ExpandResult ExpandCareful(uint8_t* dst, uint8_t* out, uint8_t* outEnd, Careful* c) {
  for (;;) {
    int bit = CarefulBit(c);
    if (bit < 0) return EXPAND_BAD_DATA;
    if (bit == 1) {
      int literal = CarefulByte(c);
      if (literal < 0) return EXPAND_BAD_DATA;
      if (out == outEnd) return EXPAND_NO_ROOM;
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
        if (v == BLOCK_END_V) return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
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
    if (length > (size_t)(outEnd - out)) return EXPAND_NO_ROOM;
    const uint8_t* from = out - distance;
    for (size_t i = 0; i < length; ++i) out[i] = from[i];
    out += length;
  }
}

}  // namespace

ExpandResult ExpandBlock(uint8_t* dst, size_t dstRoom, const uint8_t* src, size_t srcLength) {
  const uint8_t* in = src;
  const uint8_t* const inEnd = src + srcLength;
  uint8_t* out = dst;
  uint8_t* const outEnd = dst + dstRoom;
  uint64_t bits = 0;
  unsigned avail = 0;

  while ((size_t)(inEnd - in) >= FAST_MAX_BYTES_READ && (size_t)(outEnd - out) >= FAST_MAX_BYTES_WRITTEN) {
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
    // offset byte). Both candidate words are peeked at once; the head
    // decides which one supplies the tail. Either way a length byte follows
    // the token's last bit, at in + 1, or in + 5 when a word was taken.
    size_t v;
    size_t length;
    unsigned lengthByte = 0;
    const TokenCode token = kToken.code[bits >> (64 - TOKEN_INDEX_BITS)];
    if (token.used <= avail) {
      // The whole token is in the current word and in the index: one
      // look-up, and no peek at the next word (the bits below `avail` are
      // zeros, so an entry that fits `avail` read only real bits). V's
      // extra bits are shifted in two steps so that none is by 64.
      size_t b = in[0];
      size_t x = (size_t)(((bits << token.headBits) >> 1) >> (63u - token.extraBits));
      v = token.base + (b << token.extraBits) + x;
      length = token.length;
      if (v == BLOCK_END_V && length == SHORT_MATCH_LENGTH) return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
      lengthByte = length == 0;
      in += 1;
      avail -= token.used;
      bits <<= token.used;
    } else {
    uint64_t peekBefore = PeekGroup(bits, avail, in);
    uint64_t peekAfter = PeekGroup(bits, avail, in + 1);
    const HeadCode head = kHead.code[peekBefore >> (64 - HEAD_INDEX_BITS)];
    unsigned headCrossed = head.bits > avail;
    uint64_t peek = headCrossed ? peekBefore : peekAfter;
    size_t b = in[headCrossed * BLOCK_FLAG_WORD_BYTES];
    unsigned used;
    if (head.kind == HEAD_SHORT_NEAR) {
      used = head.bits;
      v = b;
      length = SHORT_MATCH_LENGTH;
    } else if (head.kind == HEAD_SHORT_FAR) {
      used = head.bits + head.extraBits;
      v = SHORT_FAR_BASE + (b << SHORT_FAR_EXTRA_BITS) + (size_t)((peek << head.bits) >> (64 - SHORT_FAR_EXTRA_BITS));
      if (v == BLOCK_END_V) return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
      length = SHORT_MATCH_LENGTH;
    } else {
      unsigned extraBits = head.extraBits;
      uint64_t tail = peek << head.bits;
      size_t x = (size_t)(tail >> (64 - extraBits));
      const LengthEntry lc = kLength.code[(tail << extraBits) >> (64 - LENGTH_INDEX_BITS)];
      used = head.bits + extraBits + lc.bits;
      v = head.base + (b << extraBits) + x;
      length = lc.length;
      lengthByte = lc.length == 0;
    }
    unsigned crossed = used > avail;
    in += 1 + crossed * BLOCK_FLAG_WORD_BYTES;
    avail = avail + crossed * BLOCK_FLAG_WORD_BITS - used;
    // Not crossed: the current word's own bits; crossed: the peeked word's,
    // which have only zeros below them. Neither needs a mask.
    bits = crossed ? peek << used : bits << used;
    }
    if (lengthByte) length = kLengthCodes[LENGTH_BYTE_CODE].base + (size_t)*in++;
    size_t distance = v + 1;
    if (distance > (size_t)(out - dst)) return EXPAND_BAD_DATA;
    CopyMatch(out, distance, length);
    out += length;
  }

  Careful c{in, inEnd, bits, avail};
  return ExpandCareful(dst, out, outEnd, &c);
}
