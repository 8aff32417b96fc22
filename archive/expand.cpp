// The block decoder.
//
// A block is a stream of tokens steered by control bits that arrive in 32-bit
// flag words, each word standing in the byte stream exactly where its first
// bit is first needed. Two paths share one state:
//
//  - The fast loop runs while the input has room for the longest iteration
//    (a flag-word reload, a run of 32 literals read 32 bytes wide, then a
//    match with a flag word and two data bytes) and the output has room for
//    32 literals plus the longest copy rounded up to the widest store. Under
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

// ---- Format -----------------------------------------------------------------

#define FLAG_WORD_BITS 32u
#define SHORT_FAR_BASE 256u      // V of the far short match before b*8 + x
#define LONG_BYTE_LENGTH 27u     // length when the length code ends in a byte
#define OFFSET_CLASSES 5u

static_assert(BLOCK_END_V == SHORT_FAR_BASE + 0xFFu * 8u + 7u, "the end code is b = 0xFF, x = 7");
static_assert(4096u + 0xFFu * 16u + 15u + 1u == BLOCK_MAX_DISTANCE, "the widest offset class reaches the window");
static_assert(LONG_BYTE_LENGTH + 0xFFu == BLOCK_MAX_LENGTH, "the length byte reaches the longest match");

// ---- Fast-loop bounds -------------------------------------------------------

// Longest input one fast iteration may touch: a reload (4), 32 literal bytes
// read as one 32-byte copy, then a match that peeks a flag word at its
// start and one byte later (5), and reads its offset byte and its length
// byte around the word it takes (4 + 2).
#define FAST_INPUT_MARGIN 48u
static_assert(FAST_INPUT_MARGIN >= 4u + FLAG_WORD_BITS + 4u + 2u, "fast input margin");
// Longest output one fast iteration may write: 32 literals written 32 bytes
// wide, then the longest copy rounded up to the next 8- or 16-byte store.
#define COPY_OVERSHOOT 8u
#define FAST_OUTPUT_MARGIN 320u
static_assert(FAST_OUTPUT_MARGIN >= FLAG_WORD_BITS + BLOCK_MAX_LENGTH + COPY_OVERSHOOT - 2u,
              "fast output margin");
static_assert((BLOCK_MAX_LENGTH + 15u) / 16u * 16u <= BLOCK_MAX_LENGTH + COPY_OVERSHOOT - 2u,
              "16-byte copies overshoot by at most 6 bytes");

// ---- Tables -----------------------------------------------------------------

enum HeadKind { HEAD_SHORT_NEAR, HEAD_SHORT_FAR, HEAD_LONG };

// The head of a match token: its leading 0 bit, then either 1 s (short
// match) or 0 and the offset class prefix. Indexed by the next six bits.
struct HeadCode {
  uint8_t bits;       // bits the head uses
  uint8_t kind;       // HeadKind
  uint8_t extraBits;  // offset bits after the offset byte (long match)
  uint16_t base;      // V base of the offset class (long match)
};
struct HeadTable {
  HeadCode code[64];
};
#define HEAD_INDEX_BITS 6u

constexpr HeadTable MakeHeadTable() {
  HeadTable t{};
  for (unsigned i = 0; i < 64; ++i) {
    HeadCode c{0, HEAD_LONG, 0, 0};
    if (i & 0x10) {
      c = HeadCode{3, (uint8_t)((i & 0x08) ? HEAD_SHORT_FAR : HEAD_SHORT_NEAR), 0, 0};
    } else if (i & 0x08) {
      c = HeadCode{3, HEAD_LONG, 1, 0};
    } else if (i & 0x04) {
      c = HeadCode{4, HEAD_LONG, 1, 512};
    } else if (i & 0x02) {
      c = HeadCode{5, HEAD_LONG, 2, 1024};
    } else if (i & 0x01) {
      c = HeadCode{6, HEAD_LONG, 3, 2048};
    } else {
      c = HeadCode{6, HEAD_LONG, 4, 4096};
    }
    t.code[i] = c;
  }
  return t;
}
constexpr HeadTable kHead = MakeHeadTable();
static_assert(kHead.code[0].extraBits == 4 && kHead.code[0].base == 4096, "class 0000");

// The length code of a long match, indexed by its next nine bits (the
// longest code with its extra bits). length 0 means a length byte follows.
struct LengthCode {
  uint8_t length;
  uint8_t bits;
};
struct LengthTable {
  LengthCode code[512];
};
#define LENGTH_INDEX_BITS 9u

constexpr LengthTable MakeLengthTable() {
  LengthTable t{};
  for (unsigned i = 0; i < 512; ++i) {
    LengthCode c{0, 5};
    if (i & 0x100) {
      c = LengthCode{3, 1};
    } else if (i & 0x80) {
      c = LengthCode{4, 2};
    } else if (i & 0x40) {
      c = LengthCode{(uint8_t)(5 + ((i >> 5) & 1)), 4};
    } else if (i & 0x20) {
      c = LengthCode{(uint8_t)(7 + ((i >> 3) & 3)), 6};
    } else if (i & 0x10) {
      c = LengthCode{(uint8_t)(11 + (i & 15)), 9};
    }
    t.code[i] = c;
  }
  return t;
}
constexpr LengthTable kLength = MakeLengthTable();
static_assert(kLength.code[0x1F].length == 26 && kLength.code[0x1F].bits == 9, "00001 1111 is 26");
static_assert(kLength.code[0].length == 0 && kLength.code[0].bits == 5, "00000 takes a byte");

// Offset classes for the careful loop, in prefix order.
const uint8_t kClassExtraBits[OFFSET_CLASSES] = {1, 1, 2, 3, 4};
const uint16_t kClassBase[OFFSET_CLASSES] = {0, 512, 1024, 2048, 4096};

// ---- Memory helpers ---------------------------------------------------------

inline void Copy16(uint8_t* d, const uint8_t* s) { memcpy(d, s, 16); }

// ---- Fast-loop bit groups -----------------------------------------------------

// The current bits with a flag word read at `in` placed right below them.
inline uint64_t PeekGroup(uint64_t bits, unsigned avail, const uint8_t* in) {
  return bits | ((uint64_t)Load32(in) << (FLAG_WORD_BITS - avail));
}

// Appends `length` bytes from `distance` back, writing up to
// COPY_OVERSHOOT - 2 bytes past the end (the caller guarantees that room).
inline void CopyMatch(uint8_t* out, size_t distance, size_t length) {
  const uint8_t* from = out - distance;
  if (distance >= 16) {
    size_t k = 0;
    do {
      Copy16(out + k, from + k);
      k += 16;
    } while (k < length);
  } else if (distance >= 8) {
    size_t k = 0;
    do {
      Store64(out + k, Load64(from + k));
      k += 8;
    } while (k < length);
  } else {
    // Distances 1 to 7: one 8-byte pattern of the repeating bytes, stored
    // every `stride` bytes, the largest multiple of the distance up to 8, so
    // each store starts at the same phase of the pattern.
    static const uint8_t kStride[8] = {0, 8, 8, 6, 8, 5, 6, 7};
    uint64_t pattern;
    if (distance == 1) {
      pattern = from[0] * (uint64_t)0x0101010101010101ull;
    } else {
      uint8_t p[8];
      for (unsigned i = 0; i < distance; ++i) p[i] = from[i];
      for (unsigned i = (unsigned)distance; i < 8; ++i) p[i] = p[i - distance];
      memcpy(&pattern, p, 8);
    }
    size_t stride = kStride[distance];
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
    if ((size_t)(c->inEnd - c->in) < 4) return -1;
    c->bits = (uint64_t)Load32(c->in) << FLAG_WORD_BITS;
    c->in += 4;
    c->avail = FLAG_WORD_BITS;
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
        int x = CarefulBits(c, 3);
        if (x < 0) return EXPAND_BAD_DATA;
        v = SHORT_FAR_BASE + (size_t)b * 8 + (size_t)x;
        if (v == BLOCK_END_V) return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
      }
      length = 2;
    } else {
      unsigned cls = 0;
      while (cls < OFFSET_CLASSES - 1) {
        bit = CarefulBit(c);
        if (bit < 0) return EXPAND_BAD_DATA;
        if (bit == 1) break;
        ++cls;
      }
      int b = CarefulByte(c);
      if (b < 0) return EXPAND_BAD_DATA;
      int x = CarefulBits(c, kClassExtraBits[cls]);
      if (x < 0) return EXPAND_BAD_DATA;
      v = kClassBase[cls] + ((size_t)b << kClassExtraBits[cls]) + (size_t)x;
      unsigned zeros = 0;
      while (zeros < 5) {
        bit = CarefulBit(c);
        if (bit < 0) return EXPAND_BAD_DATA;
        if (bit == 1) break;
        ++zeros;
      }
      static const uint8_t kZerosBase[6] = {3, 4, 5, 7, 11, 0};
      static const uint8_t kZerosExtra[6] = {0, 0, 1, 2, 4, 0};
      if (zeros == 5) {
        int lb = CarefulByte(c);
        if (lb < 0) return EXPAND_BAD_DATA;
        length = LONG_BYTE_LENGTH + (size_t)lb;
      } else {
        int extra = CarefulBits(c, kZerosExtra[zeros]);
        if (extra < 0) return EXPAND_BAD_DATA;
        length = kZerosBase[zeros] + (size_t)extra;
      }
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

  while ((size_t)(inEnd - in) >= FAST_INPUT_MARGIN && (size_t)(outEnd - out) >= FAST_OUTPUT_MARGIN) {
    if (avail == 0) {
      bits = (uint64_t)Load32(in) << FLAG_WORD_BITS;
      in += 4;
      avail = FLAG_WORD_BITS;
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
    uint64_t peekBefore = PeekGroup(bits, avail, in);
    uint64_t peekAfter = PeekGroup(bits, avail, in + 1);
    const HeadCode head = kHead.code[peekBefore >> (64 - HEAD_INDEX_BITS)];
    unsigned headCrossed = head.bits > avail;
    uint64_t peek = headCrossed ? peekBefore : peekAfter;
    size_t b = in[headCrossed * 4u];
    size_t v;
    size_t length;
    unsigned used;
    unsigned lengthByte = 0;
    if (head.kind == HEAD_SHORT_NEAR) {
      used = head.bits;
      v = b;
      length = 2;
    } else if (head.kind == HEAD_SHORT_FAR) {
      used = head.bits + 3;
      v = SHORT_FAR_BASE + b * 8 + (size_t)((peek << head.bits) >> 61);
      if (v == BLOCK_END_V) return out == outEnd ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
      length = 2;
    } else {
      unsigned extraBits = head.extraBits;
      uint64_t tail = peek << head.bits;
      size_t x = (size_t)(tail >> (64 - extraBits));
      const LengthCode lc = kLength.code[(tail << extraBits) >> (64 - LENGTH_INDEX_BITS)];
      used = head.bits + extraBits + lc.bits;
      v = head.base + (b << extraBits) + x;
      length = lc.length;
      lengthByte = lc.length == 0;
    }
    unsigned crossed = used > avail;
    in += 1 + crossed * 4u;
    avail = avail + crossed * FLAG_WORD_BITS - used;
    // Not crossed: the current word's own bits; crossed: the peeked word's,
    // which have only zeros below them. Neither needs a mask.
    bits = crossed ? peek << used : bits << used;
    if (lengthByte) length = LONG_BYTE_LENGTH + (size_t)*in++;
    size_t distance = v + 1;
    if (distance > (size_t)(out - dst)) return EXPAND_BAD_DATA;
    CopyMatch(out, distance, length);
    out += length;
  }

  Careful c{in, inEnd, bits, avail};
  return ExpandCareful(dst, out, outEnd, &c);
}
