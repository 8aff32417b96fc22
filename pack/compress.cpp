// The block encoder: token writer, match finders and the three parsers.
#include "pack/compress.h"

#include <string.h>

#include <algorithm>

#include "archive/bytes.h"

namespace {

// ---- Format -----------------------------------------------------------------

#define MIN_LONG_LENGTH 3u
#define LONG_BYTE_LENGTH 27u
#define SHORT_FAR_BASE 256u
#define OFFSET_CLASSES 5u

// Offset classes of a long match: V limit, prefix bits, extra bits.
const uint32_t kClassLimit[OFFSET_CLASSES] = {512, 1024, 2048, 4096, 8192};
const uint32_t kClassBase[OFFSET_CLASSES] = {0, 512, 1024, 2048, 4096};
const unsigned kClassPrefixBits[OFFSET_CLASSES] = {1, 2, 3, 4, 4};
const unsigned kClassExtraBits[OFFSET_CLASSES] = {1, 1, 2, 3, 4};
static_assert(BLOCK_MAX_DISTANCE == 8192u, "the widest offset class ends at the window");
static_assert(SHORT_MATCH_MAX_DISTANCE == SHORT_FAR_BASE + 255u * 8u + 7u,
              "V = 2303 is the end code, so the far short match stops one before");

inline unsigned OffsetClass(uint32_t v) {
  unsigned c = 0;
  while (v >= kClassLimit[c]) ++c;
  return c;
}

// Bits of a long match's length code, data byte included.
inline unsigned LengthCodeBits(uint32_t length) {
  if (length == 3) return 1;
  if (length == 4) return 2;
  if (length <= 6) return 4;
  if (length <= 10) return 6;
  if (length <= 26) return 9;
  return 5 + 8;
}

// Long match cost without the length code: 0 0, prefix, byte, extra bits.
inline unsigned LongOffsetCost(unsigned cls) { return 2 + kClassPrefixBits[cls] + 8 + kClassExtraBits[cls]; }

inline unsigned ShortCost(uint32_t distance) {
  return distance <= SHORT_NEAR_MAX_DISTANCE ? 3 + 8 : 3 + 8 + 3;
}

// Length of the common prefix of a and b, at most limit.
inline size_t CommonLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t len = 0;
  while (len + 8 <= limit) {
    uint64_t x = Load64(a + len) ^ Load64(b + len);
    if (x != 0) return len + (size_t)(__builtin_ctzll(x) >> 3);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

// ---- Hash-chain match finder (fast and default levels) ----------------------

// Positions are 32-bit (entries are below 4 GiB); all ones marks none.
#define NO_POSITION 0xFFFFFFFFu
#define CHAIN_HASH_BITS 15u
#define CHAIN_RING 16384u  // > the window, so a slot is never reused while reachable
static_assert(CHAIN_RING > BLOCK_MAX_DISTANCE, "ring must outlast the window");

struct Match {
  uint32_t length;  // 0: none
  uint32_t distance;
};

class ChainFinder {
 public:
  ChainFinder(const uint8_t* src, size_t n, unsigned depth, uint32_t niceLength)
      : src_(src), n_(n), depth_(depth), nice_(niceLength), head3_(1u << CHAIN_HASH_BITS, NO_POSITION),
        head2_(1u << 16, NO_POSITION), prev_(CHAIN_RING, NO_POSITION) {}

  // Best match at i; positions before i must have been inserted, i not yet.
  Match Find(size_t i) const {
    Match best{0, 0};
    size_t limit = std::min<size_t>(BLOCK_MAX_LENGTH, n_ - i);
    if (limit < BLOCK_MIN_MATCH) return best;
    const uint8_t* cur = src_ + i;
    if (limit >= MIN_LONG_LENGTH) {
      uint32_t p = head3_[Hash3(cur)];
      unsigned chain = depth_;
      while (p != NO_POSITION && i - (size_t)p <= BLOCK_MAX_DISTANCE && chain-- != 0) {
        const uint8_t* cand = src_ + p;
        if (cand[best.length] == cur[best.length] || best.length == 0) {
          uint32_t len = (uint32_t)CommonLength(cand, cur, limit);
          if (len > best.length && len >= MIN_LONG_LENGTH) {
            best.length = len;
            best.distance = (uint32_t)(i - (size_t)p);
            if (len >= nice_ || len == limit) break;
          }
        }
        p = prev_[(size_t)p & (CHAIN_RING - 1)];
      }
    }
    if (best.length == 0) {
      uint32_t p = head2_[Hash2(cur)];
      if (p != NO_POSITION && i - (size_t)p <= SHORT_MATCH_MAX_DISTANCE) {
        best.length = 2;
        best.distance = (uint32_t)(i - (size_t)p);
      }
    }
    return best;
  }

  void Insert(size_t i) {
    if (i + 2 > n_) return;
    head2_[Hash2(src_ + i)] = (uint32_t)i;
    if (i + 3 > n_) return;
    uint32_t h = Hash3(src_ + i);
    prev_[i & (CHAIN_RING - 1)] = head3_[h];
    head3_[h] = (uint32_t)i;
  }

 private:
  static uint32_t Hash2(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
  static uint32_t Hash3(const uint8_t* p) {
    uint32_t v = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16);
    return (v * 2654435761u) >> (32 - CHAIN_HASH_BITS);
  }

  const uint8_t* src_;
  size_t n_;
  unsigned depth_;
  uint32_t nice_;
  std::vector<uint32_t> head3_;
  std::vector<uint32_t> head2_;
  std::vector<uint32_t> prev_;
};

// Bits a match saves over literals; the lazy parser compares these.
inline int Gain(const Match& m) {
  if (m.length == 0) return 0;
  return (int)(m.length * LITERAL_COST_BITS) - (int)MatchCostBits(m.distance, m.length);
}

// Fast level: greedy, with one hash table of 3-byte keys and chains four
// deep. Positions that keep finding nothing are searched ever more sparsely
// (incompressible stretches cost little), and inside long matches only the
// ends are entered into the table.
#define FAST_HASH_BITS 14u
#define FAST_DEPTH 4u
#define FAST_NICE_LENGTH 32u
#define FAST_MISSES_BEFORE_SKIPPING 128u

void ParseFast(const uint8_t* src, size_t n, BlockEncoder& enc) {
  std::vector<uint32_t> head(1u << FAST_HASH_BITS, -1);
  std::vector<uint32_t> prev(CHAIN_RING, -1);
  size_t literalStart = 0;
  if (n >= 4) {
    const size_t last = n - 3;  // positions with four readable bytes
    size_t i = 0;
    size_t misses = 0;
    auto insert = [&](size_t j) {
      uint32_t h = ((Load32(src + j) & 0xFFFFFFu) * 2654435761u) >> (32 - FAST_HASH_BITS);
      prev[j & (CHAIN_RING - 1)] = head[h];
      head[h] = (uint32_t)j;
    };
    while (i < last) {
      uint32_t key = Load32(src + i) & 0xFFFFFFu;
      uint32_t h = (key * 2654435761u) >> (32 - FAST_HASH_BITS);
      uint32_t p = head[h];
      prev[i & (CHAIN_RING - 1)] = p;
      head[h] = (uint32_t)i;
      size_t limit = std::min<size_t>(BLOCK_MAX_LENGTH, n - i);
      size_t bestLength = 0;
      size_t bestDistance = 0;
      for (unsigned depth = FAST_DEPTH; p != NO_POSITION && i - (size_t)p <= BLOCK_MAX_DISTANCE && depth != 0; --depth) {
        if ((Load32(src + p) & 0xFFFFFFu) == key) {
          size_t length = 3 + CommonLength(src + p + 3, src + i + 3, limit - 3);
          if (length > bestLength) {
            bestLength = length;
            bestDistance = i - (size_t)p;
            if (length >= FAST_NICE_LENGTH) break;
          }
        }
        p = prev[(size_t)p & (CHAIN_RING - 1)];
      }
      if (bestLength < MIN_LONG_LENGTH) {
        ++misses;
        i += 1 + (misses > FAST_MISSES_BEFORE_SKIPPING ? (misses - FAST_MISSES_BEFORE_SKIPPING) >> 5 : 0);
        continue;
      }
      enc.Literals(src + literalStart, i - literalStart);
      enc.Match((uint32_t)bestDistance, (uint32_t)bestLength);
      size_t end = std::min(i + bestLength, last);
      if (bestLength <= FAST_NICE_LENGTH) {
        for (size_t j = i + 1; j < end; ++j) insert(j);
      } else {
        for (size_t j = i + 1; j < i + 8; ++j) insert(j);
        for (size_t j = std::max(i + 8, end - std::min(end, (size_t)16)); j < end; ++j) insert(j);
      }
      i += bestLength;
      literalStart = i;
      misses = 0;
    }
  }
  if (literalStart < n) enc.Literals(src + literalStart, n - literalStart);
}

void ParseLazy(const uint8_t* src, size_t n, BlockEncoder& enc) {
  const uint32_t nice = 128;
  ChainFinder finder(src, n, 64, nice);
  size_t i = 0;
  Match m = finder.Find(0);
  while (i < n) {
    if (m.length == 0) {
      enc.Literal(src[i]);
      finder.Insert(i);
      ++i;
      if (i < n) m = finder.Find(i);
      continue;
    }
    if (m.length < nice && i + 1 < n) {
      finder.Insert(i);
      Match next = finder.Find(i + 1);
      // A literal now pays off when the match one byte later saves more
      // bits than the match here.
      if (Gain(next) > Gain(m)) {
        enc.Literal(src[i]);
        ++i;
        m = next;
        continue;
      }
      enc.Match(m.distance, m.length);
      for (size_t k = 1; k < m.length; ++k) finder.Insert(i + k);
    } else {
      enc.Match(m.distance, m.length);
      for (size_t k = 0; k < m.length; ++k) finder.Insert(i + k);
    }
    i += m.length;
    if (i < n) m = finder.Find(i);
  }
}

// ---- Binary-tree match finder (max level) -------------------------------------
//
// One tree per distinct first two bytes, ordered by the following bytes (up
// to the longest match) and with newer positions nearer the root. Searching
// for position i walks the path where i belongs; that path visits, for every
// length, the nearest earlier position matching at least that long. So the
// reported matches are exactly the cheapest distance for each length, which
// is all the optimal parser needs (a match's cost never falls with distance).

#define TREE_RING 16384u
static_assert(TREE_RING > BLOCK_MAX_DISTANCE, "ring must outlast the window");
#define NO_NODE NO_POSITION

class TreeFinder {
 public:
  TreeFinder(const uint8_t* src, size_t n) : src_(src), n_(n), head_(1u << 16, NO_NODE), son_(2 * TREE_RING, NO_NODE) {}

  // Inserts position i and writes its matches (strictly increasing lengths,
  // increasing distances) to out; returns their number. Every position must
  // be passed in order.
  size_t FindAndInsert(size_t i, Match* out) {
    size_t lenLimit = std::min<size_t>(BLOCK_MAX_LENGTH, n_ - i);
    if (lenLimit < BLOCK_MIN_MATCH) return 0;
    const uint8_t* cur = src_ + i;
    uint32_t h = (uint32_t)cur[0] | ((uint32_t)cur[1] << 8);
    uint32_t p = head_[h];
    size_t count = 0;
    if (lenLimit == BLOCK_MIN_MATCH) {
      // No later position can match from i, so it need not join the tree;
      // its only possible match is the bucket's newest.
      if (p != NO_NODE && i - p <= BLOCK_MAX_DISTANCE) out[count++] = Match{2, (uint32_t)(i - p)};
      return count;
    }
    head_[h] = (uint32_t)i;
    uint32_t* ptr1 = &son_[(i & (TREE_RING - 1)) * 2];  // receives smaller
    uint32_t* ptr0 = ptr1 + 1;                          // receives larger
    size_t len0 = BLOCK_MIN_MATCH;
    size_t len1 = BLOCK_MIN_MATCH;
    size_t maxLen = 1;
    for (;;) {
      if (p == NO_NODE || i - p > BLOCK_MAX_DISTANCE) {
        *ptr0 = NO_NODE;
        *ptr1 = NO_NODE;
        break;
      }
      uint32_t* pair = &son_[(p & (TREE_RING - 1)) * 2];
      const uint8_t* cand = src_ + p;
      size_t len = std::min(len0, len1);
      len += CommonLength(cand + len, cur + len, lenLimit - len);
      if (len > maxLen) {
        maxLen = len;
        out[count++] = Match{(uint32_t)len, (uint32_t)(i - p)};
        if (len == lenLimit) {
          // Equal as far as any later search compares: i replaces p.
          *ptr1 = pair[0];
          *ptr0 = pair[1];
          break;
        }
      }
      if (cand[len] < cur[len]) {
        *ptr1 = p;
        ptr1 = pair + 1;
        p = *ptr1;
        len1 = len;
      } else {
        *ptr0 = p;
        ptr0 = pair;
        p = *ptr0;
        len0 = len;
      }
    }
    return count;
  }

 private:
  const uint8_t* src_;
  size_t n_;
  std::vector<uint32_t> head_;
  std::vector<uint32_t> son_;
};

// Forward dynamic programme over one stretch [start, end) of the input:
// cost[k] is the fewest bits that encode src[start, start + k). Tokens do
// not cross the stretch's end, which bounds memory on large inputs.
#define OPTIMAL_STRETCH (1u << 20)

struct Step {
  uint16_t length;  // 1 = literal
  uint16_t distance;
};
static_assert(BLOCK_MAX_LENGTH <= 0xFFFFu && BLOCK_MAX_DISTANCE <= 0xFFFFu, "steps fit 16 bits");

void ParseOptimal(const uint8_t* src, size_t n, BlockEncoder& enc) {
  TreeFinder finder(src, n);
  unsigned lengthBits[BLOCK_MAX_LENGTH + 1];
  for (unsigned l = MIN_LONG_LENGTH; l <= BLOCK_MAX_LENGTH; ++l) lengthBits[l] = LengthCodeBits(l);
  std::vector<uint32_t> cost;
  std::vector<Step> step;
  std::vector<Step> path;
  Match matches[BLOCK_MAX_LENGTH + 1];
  for (size_t start = 0; start < n; start += OPTIMAL_STRETCH) {
    size_t end = std::min(n, start + (size_t)OPTIMAL_STRETCH);
    size_t span = end - start;
    cost.assign(span + 1, UINT32_MAX);
    step.assign(span + 1, Step{0, 0});
    cost[0] = 0;
    for (size_t k = 0; k < span; ++k) {
      size_t i = start + k;
      size_t count = finder.FindAndInsert(i, matches);
      uint32_t base = cost[k];
      if (base + LITERAL_COST_BITS < cost[k + 1]) {
        cost[k + 1] = base + LITERAL_COST_BITS;
        step[k + 1] = Step{1, 0};
      }
      size_t room = span - k;
      size_t covered = 1;
      for (size_t m = 0; m < count && covered < room; ++m) {
        size_t top = std::min<size_t>(matches[m].length, room);
        uint32_t d = matches[m].distance;
        size_t l = covered + 1;
        if (l == 2) {
          if (d <= SHORT_MATCH_MAX_DISTANCE) {
            uint32_t c = base + ShortCost(d);
            if (c < cost[k + 2]) {
              cost[k + 2] = c;
              step[k + 2] = Step{2, (uint16_t)d};
            }
          }
          ++l;
        }
        uint32_t offsetCost = base + LongOffsetCost(OffsetClass(d - 1));
        for (; l <= top; ++l) {
          uint32_t c = offsetCost + lengthBits[l];
          if (c < cost[k + l]) {
            cost[k + l] = c;
            step[k + l] = Step{(uint16_t)l, (uint16_t)d};
          }
        }
        covered = std::max(covered, top);
      }
    }
    path.clear();
    for (size_t k = span; k > 0; k -= step[k].length) path.push_back(step[k]);
    size_t pos = start;
    for (size_t t = path.size(); t-- > 0;) {
      const Step& s = path[t];
      if (s.length == 1) {
        enc.Literal(src[pos]);
      } else {
        enc.Match(s.distance, s.length);
      }
      pos += s.length;
    }
  }
}

}  // namespace

// ---- Costs ------------------------------------------------------------------

unsigned MatchCostBits(uint32_t distance, uint32_t length) {
  if (distance == 0 || distance > BLOCK_MAX_DISTANCE || length < BLOCK_MIN_MATCH || length > BLOCK_MAX_LENGTH)
    return 0;
  if (length == 2) return distance <= SHORT_MATCH_MAX_DISTANCE ? ShortCost(distance) : 0;
  return LongOffsetCost(OffsetClass(distance - 1)) + LengthCodeBits(length);
}

size_t CompressBound(size_t n) {
  // Every token any parser emits costs at most what its bytes cost as
  // literals (the dearest match, 3 bytes from the farthest class, takes 19
  // bits against 27), so a block costs at most 9n + 14 bits, the end code
  // included. Its size is that in bytes plus the unused bits of its last
  // flag word, fewer than 32: at most (9n + 14 + 31) / 8 bytes.
  return (9 * n + 14 + 31 + 7) / 8;
}

// ---- Token writer ----------------------------------------------------------------

void BlockEncoder::StartWord() {
  Flush();
  wordPos_ = out_.size();
  out_.resize(out_.size() + 4);
  word_ = 0;
  used_ = 0;
  hasWord_ = true;
}

void BlockEncoder::Bit(unsigned bit) {
  if (used_ == 32) StartWord();
  word_ |= (uint32_t)(bit & 1u) << (31 - used_);
  ++used_;
}

void BlockEncoder::Bits(uint32_t value, unsigned count) {
  // The part that fits the current word goes in at once; a new word starts
  // only when the next bit is due, which is where the decoder reads it.
  while (count > 0) {
    if (used_ == 32) StartWord();
    unsigned take = std::min(count, 32 - used_);
    uint32_t part = (uint32_t)((uint64_t)value >> (count - take)) & (uint32_t)((1ull << take) - 1);
    word_ |= (uint32_t)((uint64_t)part << (32 - used_ - take));
    used_ += take;
    count -= take;
  }
}

void BlockEncoder::Literals(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    if (used_ == 32) StartWord();
    unsigned take = (unsigned)std::min<size_t>(count, 32 - used_);
    word_ |= (uint32_t)(((1ull << take) - 1) << (32 - used_ - take));
    used_ += take;
    out_.insert(out_.end(), bytes, bytes + take);
    bytes += take;
    count -= take;
  }
}

void BlockEncoder::Flush() {
  if (!hasWord_) return;
  uint8_t* p = &out_[wordPos_];
  p[0] = (uint8_t)word_;
  p[1] = (uint8_t)(word_ >> 8);
  p[2] = (uint8_t)(word_ >> 16);
  p[3] = (uint8_t)(word_ >> 24);
}

void BlockEncoder::Literal(uint8_t byte) {
  Bit(1);
  Byte(byte);
}

void BlockEncoder::ShortMatch(uint32_t distance) {
  uint32_t v = distance - 1;
  Bits(1, 2);  // 0 1
  if (v < SHORT_FAR_BASE) {
    Bit(0);
    Byte((uint8_t)v);
  } else {
    Bit(1);
    Byte((uint8_t)((v - SHORT_FAR_BASE) >> 3));
    Bits((v - SHORT_FAR_BASE) & 7u, 3);
  }
}

void BlockEncoder::LongMatch(uint32_t distance, uint32_t length) {
  uint32_t v = distance - 1;
  unsigned cls = OffsetClass(v);
  Bits(0, 2);
  Bits(cls < 4 ? 1u : 0u, kClassPrefixBits[cls]);  // cls zeros, then 1 unless the last class
  uint32_t rel = v - kClassBase[cls];
  Byte((uint8_t)(rel >> kClassExtraBits[cls]));
  Bits(rel & ((1u << kClassExtraBits[cls]) - 1), kClassExtraBits[cls]);
  if (length == 3) {
    Bit(1);
  } else if (length == 4) {
    Bits(1, 2);
  } else if (length <= 6) {
    Bits(1, 3);
    Bits(length - 5, 1);
  } else if (length <= 10) {
    Bits(1, 4);
    Bits(length - 7, 2);
  } else if (length <= 26) {
    Bits(1, 5);
    Bits(length - 11, 4);
  } else {
    Bits(0, 5);
    Byte((uint8_t)(length - LONG_BYTE_LENGTH));
  }
}

void BlockEncoder::Match(uint32_t distance, uint32_t length) {
  if (length == 2) {
    ShortMatch(distance);
  } else {
    LongMatch(distance, length);
  }
}

void BlockEncoder::End() {
  Bits(3, 3);  // 0 1 1
  Byte(0xFF);
  Bits(7, 3);
  Flush();
}

size_t CompressBlock(const uint8_t* src, size_t n, std::vector<uint8_t>& out, CompressLevel level) {
  size_t before = out.size();
  out.reserve(before + n / 2 + 64);
  BlockEncoder enc(out);
  switch (level) {
    case CompressLevel::Fast:
      ParseFast(src, n, enc);
      break;
    case CompressLevel::Default:
      ParseLazy(src, n, enc);
      break;
    case CompressLevel::Max:
      ParseOptimal(src, n, enc);
      break;
  }
  enc.End();
  return out.size() - before;
}
