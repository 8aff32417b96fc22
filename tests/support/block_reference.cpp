#include "support/block_reference.h"

#include "archive/bytes.h"

namespace {

struct Reader {
  const uint8_t* src;
  size_t length;
  size_t pos = 0;
  uint32_t word = 0;
  unsigned left = 0;  // bits of `word` not yet used
  ReferenceExpansion* r;

  bool Bit(unsigned* bit) {
    if (left == 0) {
      if (length - pos < 4) return false;
      word = Load32(src + pos);
      pos += 4;
      left = 32;
    }
    --left;
    *bit = (word >> left) & 1u;
    ++r->controlBits;
    return true;
  }
  bool Bits(unsigned count, uint32_t* value) {
    *value = 0;
    for (unsigned i = 0; i < count; ++i) {
      unsigned bit;
      if (!Bit(&bit)) return false;
      *value = *value * 2 + bit;
    }
    return true;
  }
  bool Byte(uint32_t* value) {
    if (pos == length) return false;
    *value = src[pos++];
    ++r->dataBytes;
    return true;
  }
};

ExpandResult Decode(Reader& in, size_t room, std::vector<uint8_t>& out) {
  for (;;) {
    unsigned bit;
    uint32_t b;
    uint32_t v;
    uint32_t length;
    ++in.r->tokens;
    if (!in.Bit(&bit)) return EXPAND_BAD_DATA;
    if (bit == 1) {
      if (!in.Byte(&b)) return EXPAND_BAD_DATA;
      if (out.size() == room) return EXPAND_NO_ROOM;
      out.push_back((uint8_t)b);
      continue;
    }
    if (!in.Bit(&bit)) return EXPAND_BAD_DATA;
    if (bit == 1) {
      unsigned s;
      if (!in.Bit(&s) || !in.Byte(&b)) return EXPAND_BAD_DATA;
      if (s == 0) {
        v = b;
      } else {
        uint32_t x;
        if (!in.Bits(3, &x)) return EXPAND_BAD_DATA;
        v = 256 + b * 8 + x;
        if (v == 2303) return out.size() == room ? EXPAND_OK : EXPAND_SHORT_OUTPUT;
      }
      length = 2;
    } else {
      // Offset prefix: 1, 01, 001, 0001, 0000.
      unsigned zeros = 0;
      for (;;) {
        if (!in.Bit(&bit)) return EXPAND_BAD_DATA;
        if (bit == 1) break;
        if (++zeros == 4) break;
      }
      static const uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
      static const unsigned kExtra[5] = {1, 1, 2, 3, 4};
      uint32_t x;
      if (!in.Byte(&b) || !in.Bits(kExtra[zeros], &x)) return EXPAND_BAD_DATA;
      v = kBase[zeros] + b * (1u << kExtra[zeros]) + x;
      // Length: 1, 01, 001x, 0001xx, 00001xxxx, 00000 byte.
      unsigned lz = 0;
      for (;;) {
        if (!in.Bit(&bit)) return EXPAND_BAD_DATA;
        if (bit == 1) break;
        if (++lz == 5) break;
      }
      static const uint32_t kLenBase[6] = {3, 4, 5, 7, 11, 27};
      static const unsigned kLenExtra[6] = {0, 0, 1, 2, 4, 0};
      if (lz == 5) {
        if (!in.Byte(&x)) return EXPAND_BAD_DATA;
      } else if (!in.Bits(kLenExtra[lz], &x)) {
        return EXPAND_BAD_DATA;
      }
      length = kLenBase[lz] + x;
    }
    size_t distance = (size_t)v + 1;
    if (distance > out.size()) return EXPAND_BAD_DATA;
    if (length > room - out.size()) return EXPAND_NO_ROOM;
    for (uint32_t i = 0; i < length; ++i) {
      uint8_t byte = out[out.size() - distance];
      out.push_back(byte);
    }
  }
}

}  // namespace

ReferenceExpansion ReferenceExpand(const uint8_t* src, size_t srcLength, size_t dstRoom) {
  ReferenceExpansion r;
  Reader in{src, srcLength, 0, 0, 0, &r};
  r.result = Decode(in, dstRoom, r.output);
  r.inputUsed = in.pos;
  return r;
}
