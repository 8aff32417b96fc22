// The block encoder: token writer, match finders and the three parsers.
#include "pack/compress.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "archive/bytes.h"

namespace {

// ---- Look-ups derived from the format's tables ------------------------------------
//
// The parsers ask for a match's offset class and length code at every
// position, so both are read from tables built once from the format's own.

// Every class boundary is a multiple of this, so V / OFFSET_STEP picks the class.
#define OFFSET_STEP 512u
struct FormatIndex {
  uint8_t classOfStep[BLOCK_MAX_DISTANCE / OFFSET_STEP];
  uint8_t offsetCost[OFFSET_CLASS_COUNT];
  uint8_t codeOfLength[BLOCK_MAX_LENGTH + 1];
  uint8_t lengthCost[BLOCK_MAX_LENGTH + 1];
  // Control bits alone: what a token adds to the flag words.
  uint8_t offsetControl[OFFSET_CLASS_COUNT];
  uint8_t lengthControl[BLOCK_MAX_LENGTH + 1];
};
constexpr FormatIndex MakeFormatIndex() {
  FormatIndex t{};
  for (uint32_t step = 0; step < BLOCK_MAX_DISTANCE / OFFSET_STEP; ++step) t.classOfStep[step] = (uint8_t)OffsetClassOf(step * OFFSET_STEP);
  for (unsigned c = 0; c < OFFSET_CLASS_COUNT; ++c) {
    t.offsetCost[c] = (uint8_t)LongOffsetCostBits(kOffsetClasses[c]);
    t.offsetControl[c] = (uint8_t)(LongOffsetCostBits(kOffsetClasses[c]) - BLOCK_DATA_BYTE_BITS);
  }
  for (uint32_t length = LONG_MIN_LENGTH; length <= BLOCK_MAX_LENGTH; ++length) {
    t.codeOfLength[length] = (uint8_t)LengthCodeOf(length);
    t.lengthCost[length] = (uint8_t)LengthCodeCostBits(kLengthCodes[LengthCodeOf(length)]);
    t.lengthControl[length] = (uint8_t)LengthCodeControlBits(kLengthCodes[LengthCodeOf(length)]);
  }
  return t;
}
constexpr FormatIndex kIndex = MakeFormatIndex();
constexpr bool ClassesStartOnSteps() {
  for (const OffsetClass& c : kOffsetClasses)
    if (c.base % OFFSET_STEP != 0) return false;
  return BLOCK_MAX_DISTANCE % OFFSET_STEP == 0;
}
static_assert(ClassesStartOnSteps(), "every offset class starts on a step");

inline unsigned ClassOf(uint32_t v) { return kIndex.classOfStep[v / OFFSET_STEP]; }
inline unsigned LongOffsetCost(uint32_t v) { return kIndex.offsetCost[ClassOf(v)]; }
inline unsigned LengthCost(uint32_t length) { return kIndex.lengthCost[length]; }
inline unsigned ShortCost(uint32_t distance) {
  return distance <= SHORT_NEAR_MAX_DISTANCE ? SHORT_NEAR_COST_BITS : SHORT_FAR_COST_BITS;
}
// Control bits of a match IsMatch accepts.
inline unsigned MatchControlBits(uint32_t distance, uint32_t length) {
  if (length == SHORT_MATCH_LENGTH)
    return SHORT_MATCH_HEAD_BITS + (distance <= SHORT_NEAR_MAX_DISTANCE ? 0u : SHORT_FAR_EXTRA_BITS);
  return kIndex.offsetControl[ClassOf(distance - 1)] + kIndex.lengthControl[length];
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

// ---- Cuts and their tokens ---------------------------------------------------
//
// Each cut is parsed on its own into a token list, with the window before it
// entered into its match finder as history, so that lists can be made in any
// order on any thread and still come out the same; the lists are then
// written in order by one BlockEncoder.

// A run of literals, then a match (length 0: the run alone, at a cut's end).
struct Token {
  uint32_t literals;
  uint16_t length;
  uint16_t distance;
};
static_assert(BLOCK_MAX_LENGTH <= 0xFFFFu && BLOCK_MAX_DISTANCE <= 0xFFFFu, "a token's fields hold every match");

// One cut: history [from, start), tokens for [start, end).
struct Cut {
  size_t from;
  size_t start;
  size_t end;
};

// A cut's tokens and the control bits they take, which is all the cuts
// after it need to know to be encoded at once: where their first bit falls
// in a flag word.
struct CutTokens {
  std::vector<Token> tokens;
  uint64_t controlBits = 0;
};

class TokenList {
 public:
  explicit TokenList(CutTokens& out) : out_(out) {
    out_.tokens.clear();
    out_.controlBits = 0;
  }
  void Literals(size_t count) { pending_ += count; }
  void Match(uint32_t distance, uint32_t length) {
    out_.tokens.push_back(Token{(uint32_t)pending_, (uint16_t)length, (uint16_t)distance});
    out_.controlBits += LITERAL_CONTROL_BITS * pending_ + MatchControlBits(distance, length);
    pending_ = 0;
  }
  void Finish() {
    if (pending_ != 0) out_.tokens.push_back(Token{(uint32_t)pending_, 0, 0});
    out_.controlBits += LITERAL_CONTROL_BITS * pending_;
    pending_ = 0;
  }

 private:
  CutTokens& out_;
  size_t pending_ = 0;
};

void EmitTokens(const uint8_t* src, const Cut& cut, const std::vector<Token>& tokens, BlockEncoder& enc) {
  size_t pos = cut.start;
  for (const Token& t : tokens) {
    enc.Literals(src + pos, t.literals);
    pos += t.literals;
    if (t.length != 0) {
      enc.Match(t.distance, t.length);
      pos += t.length;
    }
  }
  // Tokens that do not tile their cut would write a block that expands to
  // other bytes: stop, as the token writer does for a token out of range.
  if (pos != cut.end) abort();
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
    if (limit >= LONG_MIN_LENGTH) {
      uint32_t p = head3_[Hash3(cur)];
      unsigned chain = depth_;
      while (p != NO_POSITION && i - (size_t)p <= BLOCK_MAX_DISTANCE && chain-- != 0) {
        const uint8_t* cand = src_ + p;
        if (cand[best.length] == cur[best.length] || best.length == 0) {
          uint32_t len = (uint32_t)CommonLength(cand, cur, limit);
          if (len > best.length && len >= LONG_MIN_LENGTH) {
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
  static uint32_t Hash2(const uint8_t* p) { return Load16(p); }
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

void ParseFast(const uint8_t* src, const Cut& cut, TokenList& tokens) {
  std::vector<uint32_t> head(1u << FAST_HASH_BITS, -1);
  std::vector<uint32_t> prev(CHAIN_RING, -1);
  const size_t n = cut.end;
  size_t literalStart = cut.start;
  if (n - cut.start >= 4) {
    const size_t last = n - 3;  // positions with four readable bytes
    size_t i = cut.start;
    size_t misses = 0;
    auto insert = [&](size_t j) {
      uint32_t h = ((Load32(src + j) & 0xFFFFFFu) * 2654435761u) >> (32 - FAST_HASH_BITS);
      prev[j & (CHAIN_RING - 1)] = head[h];
      head[h] = (uint32_t)j;
    };
    for (size_t j = cut.from; j < cut.start; ++j) insert(j);
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
      if (bestLength < LONG_MIN_LENGTH) {
        ++misses;
        i += 1 + (misses > FAST_MISSES_BEFORE_SKIPPING ? (misses - FAST_MISSES_BEFORE_SKIPPING) >> 5 : 0);
        continue;
      }
      tokens.Literals(i - literalStart);
      tokens.Match((uint32_t)bestDistance, (uint32_t)bestLength);
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
  tokens.Literals(n - literalStart);
  tokens.Finish();
}

void ParseLazy(const uint8_t* src, const Cut& cut, TokenList& tokens) {
  const uint32_t nice = 128;
  const size_t n = cut.end;
  ChainFinder finder(src, n, 64, nice);
  for (size_t j = cut.from; j < cut.start; ++j) finder.Insert(j);
  size_t i = cut.start;
  Match m = i < n ? finder.Find(i) : Match{0, 0};
  while (i < n) {
    if (m.length == 0) {
      tokens.Literals(1);
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
        tokens.Literals(1);
        ++i;
        m = next;
        continue;
      }
      tokens.Match(m.distance, m.length);
      for (size_t k = 1; k < m.length; ++k) finder.Insert(i + k);
    } else {
      tokens.Match(m.distance, m.length);
      for (size_t k = 0; k < m.length; ++k) finder.Insert(i + k);
    }
    i += m.length;
    if (i < n) m = finder.Find(i);
  }
  tokens.Finish();
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
    uint32_t h = Load16(cur);
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

// Forward dynamic programme over one cut [start, end): cost[k] is the
// fewest bits that encode src[start, start + k). Tokens do not cross the
// cut's end, so the parse is the cheapest of its cut.
struct Step {
  uint16_t length;  // 1 = literal
  uint16_t distance;
};

void ParseOptimal(const uint8_t* src, const Cut& cut, TokenList& tokens) {
  TreeFinder finder(src, cut.end);
  unsigned lengthCost[BLOCK_MAX_LENGTH + 1];  // read at every position: kept in plain words
  for (unsigned l = LONG_MIN_LENGTH; l <= BLOCK_MAX_LENGTH; ++l) lengthCost[l] = LengthCost(l);
  Match matches[BLOCK_MAX_LENGTH + 1];
  // The history enters the tree; its matches are not needed.
  for (size_t j = cut.from; j < cut.start; ++j) finder.FindAndInsert(j, matches);
  size_t span = cut.end - cut.start;
  std::vector<uint32_t> cost(span + 1, UINT32_MAX);
  std::vector<Step> step(span + 1, Step{0, 0});
  cost[0] = 0;
  for (size_t k = 0; k < span; ++k) {
    size_t i = cut.start + k;
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
      uint32_t offsetCost = base + LongOffsetCost(d - 1);
      for (; l <= top; ++l) {
        uint32_t c = offsetCost + lengthCost[l];
        if (c < cost[k + l]) {
          cost[k + l] = c;
          step[k + l] = Step{(uint16_t)l, (uint16_t)d};
        }
      }
      covered = std::max(covered, top);
    }
  }
  // The path is read back to front, then turned into tokens front to back.
  // The costs are spent by then: cost[k] becomes the end of the step that
  // starts at k, so the path takes no third array of a cut's size.
  for (size_t k = span; k > 0; k -= step[k].length) cost[k - step[k].length] = (uint32_t)k;
  for (size_t k = 0; k < span; k = cost[k]) {
    const Step& s = step[cost[k]];
    if (s.length == 1) {
      tokens.Literals(1);
    } else {
      tokens.Match(s.distance, s.length);
    }
  }
  tokens.Finish();
}

// Every token but a cut's last ends in a match of two bytes or more.
size_t MaxTokens(size_t span) { return span / BLOCK_MIN_MATCH + 1; }

void ParseCut(const uint8_t* src, const Cut& cut, CompressLevel level, CutTokens& out) {
  // Reserved at their most, so that growing never doubles past what
  // CutWorkBytes counts; pages never written are never taken.
  out.tokens.reserve(MaxTokens(cut.end - cut.start));
  TokenList tokens(out);
  switch (level) {
    case CompressLevel::Fast:
      ParseFast(src, cut, tokens);
      break;
    case CompressLevel::Default:
      ParseLazy(src, cut, tokens);
      break;
    case CompressLevel::Max:
      ParseOptimal(src, cut, tokens);
      break;
  }
}

Cut CutAt(size_t index, size_t n, size_t cutBytes) {
  size_t start = index * cutBytes;
  size_t end = std::min(n, start + cutBytes);
  size_t from = start - std::min<size_t>(start, BLOCK_MAX_DISTANCE);
  return Cut{from, start, end};
}

// ---- Pieces: cuts encoded apart and joined ----------------------------------
//
// A cut's bits start where the cuts before it left the flag word: `used`
// bits of it taken (BLOCK_FLAG_WORD_BITS: the word is full or there is
// none, and the cut opens its own). That count follows from the earlier
// cuts' control bits alone, so every cut can be encoded as soon as the cuts
// before it are parsed. A cut that starts inside a word encodes its first
// bits into a four-byte stand-in for that word, which the join ORs into the
// word itself.

#define NO_WORD SIZE_MAX

// The bits of a flag word taken after `bits` more control bits, from `used`.
inline unsigned UsedAfter(unsigned used, uint64_t bits) {
  return bits == 0 ? used : (unsigned)((used + bits - 1) % BLOCK_FLAG_WORD_BITS + 1);
}

struct Piece {
  std::vector<uint8_t> bytes;  // starts with the stand-in word when `lead`
  bool lead = false;
  size_t open = NO_WORD;  // the word still open at the piece's end, in bytes
  unsigned used = BLOCK_FLAG_WORD_BITS;
  bool proved = false;  // expanded again to its cut's bytes
};

void EncodePiece(const uint8_t* src, const Cut& cut, const CutTokens& cutTokens, unsigned used, Piece& piece) {
  piece.bytes.clear();
  piece.bytes.reserve(CompressBound(cut.end - cut.start) + BLOCK_FLAG_WORD_BYTES);
  piece.lead = used < BLOCK_FLAG_WORD_BITS;
  if (piece.lead) piece.bytes.resize(BLOCK_FLAG_WORD_BYTES);
  BlockEncoder enc(piece.bytes, 0, used);
  EmitTokens(src, cut, cutTokens.tokens, enc);
  enc.Flush();
  piece.used = enc.Used();
  piece.open = piece.used < BLOCK_FLAG_WORD_BITS ? enc.WordPos() : NO_WORD;
  // The cuts after this one were placed by the count: an encoding that
  // ends elsewhere would join into a block that expands to other bytes.
  if (piece.used != UsedAfter(used, cutTokens.controlBits)) abort();
}

// Appends `piece` to `block`, whose flag word at *open is open (NO_WORD:
// none), and moves *open to the word the piece leaves open.
void JoinPiece(std::vector<uint8_t>& block, size_t* open, const Piece& piece) {
  if (piece.lead != (*open != NO_WORD)) abort();
  size_t skip = 0;
  if (piece.lead) {
    for (unsigned i = 0; i < BLOCK_FLAG_WORD_BYTES; ++i) block[*open + i] |= piece.bytes[i];
    skip = BLOCK_FLAG_WORD_BYTES;
  }
  size_t at = block.size();
  block.insert(block.end(), piece.bytes.begin() + (ptrdiff_t)skip, piece.bytes.end());
  if (piece.open == NO_WORD)
    *open = NO_WORD;
  else if (!(piece.lead && piece.open == 0))  // else still the word it joined
    *open = at + piece.open - skip;
}

// Proves a piece before any of it is given out: a block made of the cut's
// history as literals (with filler literals ahead, so that the piece's
// first bit falls where it will in the real block), the piece joined as the
// real block joins it, and the end code, must expand to the cut's bytes.
bool ProvePiece(const uint8_t* src, const Cut& cut, unsigned used, const Piece& piece, std::vector<uint8_t>& probe,
                std::vector<uint8_t>& back) {
  static const uint8_t kFiller[BLOCK_FLAG_WORD_BITS] = {};
  size_t history = cut.start - cut.from;
  size_t filler = (used + BLOCK_FLAG_WORD_BITS - history % BLOCK_FLAG_WORD_BITS) % BLOCK_FLAG_WORD_BITS;
  probe.clear();
  probe.reserve(CompressBound(filler + history + (cut.end - cut.start)) + 2 * BLOCK_FLAG_WORD_BYTES);
  BlockEncoder head(probe);
  head.Literals(kFiller, filler);
  head.Literals(src + cut.from, history);
  head.Flush();
  if (head.Used() != used) abort();
  size_t open = used < BLOCK_FLAG_WORD_BITS ? head.WordPos() : NO_WORD;
  JoinPiece(probe, &open, piece);
  BlockEncoder tail(probe, open, piece.used);
  tail.End();
  size_t length = cut.end - cut.start;
  back.resize(filler + history + length);
  return ExpandBlock(back.data(), back.size(), probe.data(), probe.size()) == EXPAND_OK &&
         (length == 0 || memcmp(back.data() + filler + history, src + cut.start, length) == 0);
}

// One thread's buffers for its cuts, kept from one cut to the next.
struct CutWork {
  CutTokens tokens;
  Piece piece;
  std::vector<uint8_t> probe, back;  // ProvePiece's block and its expansion
  // The parsed cut's piece from its first bit `used`, proved or not.
  void Encode(const uint8_t* src, const Cut& cut, unsigned used) {
    EncodePiece(src, cut, tokens, used, piece);
    piece.proved = ProvePiece(src, cut, used, piece, probe, back);
  }
};

// Builds with exceptions (the host tool) report running out of memory on a
// worker as std::bad_alloc on the calling thread, where the tool turns it
// into its one-line error; builds without them stop at the failed
// allocation, on any thread, as they do everywhere else.
template <typename Step>
bool TryStep(Step step) {
#if defined(__cpp_exceptions)
  try {
    step();
  } catch (const std::bad_alloc&) {
    return false;
  }
#else
  step();
#endif
  return true;
}

[[noreturn]] void OutOfMemory() {
#if defined(__cpp_exceptions)
  throw std::bad_alloc();
#else
  abort();
#endif
}

// The block's tail from its open flag word on: everything before that word
// is final and goes to the output as soon as a piece is joined.
class BlockJoiner {
 public:
  explicit BlockJoiner(BlockOutput& out) : out_(out) {}
  bool Add(const Piece& piece) {
    JoinPiece(held_, &open_, piece);
    used_ = piece.used;
    return Release();
  }
  bool Finish() {
    BlockEncoder enc(held_, open_, used_);
    enc.End();
    open_ = NO_WORD;
    return Release();
  }
  uint64_t Size() const { return size_; }

 private:
  bool Release() {
    size_t ready = open_ == NO_WORD ? held_.size() : open_;
    if (ready == 0) return true;
    if (!out_.Put(held_.data(), ready)) return false;
    size_ += ready;
    held_.erase(held_.begin(), held_.begin() + (ptrdiff_t)ready);
    if (open_ != NO_WORD) open_ = 0;
    return true;
  }

  BlockOutput& out_;
  std::vector<uint8_t> held_;
  size_t open_ = NO_WORD;
  unsigned used_ = BLOCK_FLAG_WORD_BITS;
  uint64_t size_ = 0;
};

// Cuts are parsed, encoded and proved by `workers` threads, at most `ahead`
// of them past the one being joined, so memory holds a bounded number of
// token lists and pieces whatever the input's size; the calling thread
// joins the pieces in order. A cut's first bit is known once every cut
// before it is parsed: the count runs ahead of the encoding.
class CutPipeline {
 public:
  CutPipeline(const uint8_t* src, size_t n, CompressLevel level, size_t cutBytes, size_t cuts, size_t ahead)
      : src_(src), n_(n), level_(level), cutBytes_(cutBytes), cuts_(cuts), ahead_(ahead), slots_(ahead) {}

  void Work() {
    CutWork work;
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return failed_ || next_ >= cuts_ || next_ < joined_ + ahead_; });
        if (failed_ || next_ >= cuts_) return;
        index = next_++;
        most_ = std::max(most_, next_ - joined_);
      }
      Cut cut = CutAt(index, n_, cutBytes_);
      bool ok = TryStep([&] { ParseCut(src_, cut, level_, work.tokens); });
      unsigned used = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        Slot& slot = slots_[index % ahead_];
        slot.controlBits = work.tokens.controlBits;
        slot.parsed = index;
        while (counted_ < cuts_ && slots_[counted_ % ahead_].parsed == counted_) {
          Slot& next = slots_[counted_ % ahead_];
          next.used = used_;
          used_ = UsedAfter(used_, next.controlBits);
          ++counted_;
        }
        failed_ = failed_ || !ok;
        changed_.notify_all();
        changed_.wait(lock, [&] { return failed_ || counted_ > index; });
        if (failed_) return;
        used = slot.used;
      }
      ok = TryStep([&] { work.Encode(src_, cut, used); });
      std::lock_guard<std::mutex> lock(mutex_);
      Slot& slot = slots_[index % ahead_];
      if (!ok) failed_ = true;
      std::swap(slot.piece, work.piece);  // the slot's old buffers come back for the next cut
      slot.ready = index;
      changed_.notify_all();
    }
  }

  // Joins every piece in order; false when a worker ran out of memory,
  // with *result set otherwise.
  bool Join(BlockJoiner& joiner, CompressResult* result) {
    Piece piece;
    for (size_t index = 0; index < cuts_; ++index) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return failed_ || slots_[index % ahead_].ready == index; });
        if (failed_) return false;
        std::swap(piece, slots_[index % ahead_].piece);
        joined_ = index + 1;
        changed_.notify_all();
      }
      if (!piece.proved) {
        *result = CompressResult::Faulty;
        return true;
      }
      if (!joiner.Add(piece)) {
        *result = CompressResult::Stopped;
        return true;
      }
    }
    *result = CompressResult::Done;
    return true;
  }

  size_t MostInFlight() {
    std::lock_guard<std::mutex> lock(mutex_);
    return most_;
  }

  void Abandon() {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_ = true;
    changed_.notify_all();
  }

 private:
  struct Slot {
    size_t parsed = SIZE_MAX;  // which cut's count the slot holds
    size_t ready = SIZE_MAX;   // which cut's piece it holds
    uint64_t controlBits = 0;
    unsigned used = 0;
    Piece piece;
  };

  const uint8_t* src_;
  size_t n_;
  CompressLevel level_;
  size_t cutBytes_;
  size_t cuts_;
  size_t ahead_;
  std::vector<Slot> slots_;  // cut i in slot i % ahead_
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_ = 0;     // the next cut to parse
  size_t counted_ = 0;  // cuts whose first bit is known
  unsigned used_ = BLOCK_FLAG_WORD_BITS;  // the flag word after the counted cuts
  size_t joined_ = 0;
  size_t most_ = 0;  // the most cuts taken and not yet joined
  bool failed_ = false;
};

// A thread the system refuses only makes the work take longer.
void StartWorker(std::vector<std::thread>& pool, CutPipeline& pipeline) {
#if defined(__cpp_exceptions)
  try {
    pool.emplace_back([&pipeline] { pipeline.Work(); });
  } catch (const std::system_error&) {
  }
#else
  pool.emplace_back([&pipeline] { pipeline.Work(); });
#endif
}

CompressResult EncodeCuts(const uint8_t* src, size_t n, CompressLevel level, unsigned threads, size_t cutBytes,
                          BlockJoiner& joiner, CutsInFlight& inFlight) {
  size_t cuts = n == 0 ? 0 : (n - 1) / cutBytes + 1;
  CutPlan plan = PlanCuts(n, level, threads, cutBytes);
  if (plan.workers > 1) {
    CutPipeline pipeline(src, n, level, cutBytes, cuts, plan.ahead);
    std::vector<std::thread> pool;
    for (size_t w = 0; w < plan.workers; ++w) StartWorker(pool, pipeline);
    CompressResult result = CompressResult::Done;
    bool ok = !pool.empty() && pipeline.Join(joiner, &result);
    pipeline.Abandon();
    for (std::thread& t : pool) t.join();
    inFlight.workers = pool.size();
    inFlight.most = pipeline.MostInFlight();
    if (ok) return result;
    if (!pool.empty()) OutOfMemory();
  }
  // One thread: the same steps in order.
  inFlight.workers = 1;
  inFlight.most = cuts == 0 ? 0 : 1;
  CutWork work;
  unsigned used = BLOCK_FLAG_WORD_BITS;
  for (size_t index = 0; index < cuts; ++index) {
    Cut cut = CutAt(index, n, cutBytes);
    ParseCut(src, cut, level, work.tokens);
    work.Encode(src, cut, used);
    if (!work.piece.proved) return CompressResult::Faulty;
    if (!joiner.Add(work.piece)) return CompressResult::Stopped;
    used = work.piece.used;
  }
  return CompressResult::Done;
}

}  // namespace

// ---- Memory in flight -----------------------------------------------------------

size_t CutWorkBytes(CompressLevel level, size_t cutBytes) {
  size_t finder = 0;
  switch (level) {
    case CompressLevel::Fast:
      finder = ((1u << FAST_HASH_BITS) + CHAIN_RING) * sizeof(uint32_t);
      break;
    case CompressLevel::Default:
      finder = ((1u << CHAIN_HASH_BITS) + (1u << 16) + CHAIN_RING) * sizeof(uint32_t);
      break;
    case CompressLevel::Max:  // the tree, and the parse's cost and step per position
      finder = ((1u << 16) + 2 * TREE_RING) * sizeof(uint32_t) + (cutBytes + 1) * (sizeof(uint32_t) + sizeof(Step));
      break;
  }
  size_t proof = BLOCK_FLAG_WORD_BITS + BLOCK_MAX_DISTANCE + cutBytes;  // history and cut, expanded again
  return finder + MaxTokens(cutBytes) * sizeof(Token) + PieceBytes(cutBytes) +
         CompressBound(proof) + 2 * BLOCK_FLAG_WORD_BYTES + proof;
}

size_t PieceBytes(size_t cutBytes) { return CompressBound(cutBytes) + BLOCK_FLAG_WORD_BYTES; }

// Besides the slots ahead: the piece being joined, and the joiner's tail,
// which holds up to one more piece and may grow to twice that.
#define JOIN_PIECES 3u

size_t PlanBytes(const CutPlan& plan, CompressLevel level, size_t cutBytes) {
  return plan.workers * CutWorkBytes(level, cutBytes) + (plan.ahead + JOIN_PIECES) * PieceBytes(cutBytes);
}

CutPlan PlanCuts(size_t n, CompressLevel level, unsigned threads, size_t cutBytes) {
  size_t cuts = n == 0 ? 0 : (n - 1) / cutBytes + 1;
  // A worker brings its cut's work and two slots: one for the piece it
  // finished, one for the cut it parses while that piece waits.
  size_t perWorker = CutWorkBytes(level, cutBytes) + 2 * PieceBytes(cutBytes);
  size_t fixed = JOIN_PIECES * PieceBytes(cutBytes);
  size_t fit = COMPRESS_MEMORY_BUDGET > fixed ? (COMPRESS_MEMORY_BUDGET - fixed) / perWorker : 0;
  size_t workers = std::min<size_t>(std::min<size_t>(threads, cuts), fit);
  if (workers <= 1) return CutPlan{1, 0};
  return CutPlan{workers, 2 * workers};
}

// ---- Costs ------------------------------------------------------------------

unsigned MatchCostBits(uint32_t distance, uint32_t length) {
  if (!IsMatch(distance, length)) return 0;
  if (length == SHORT_MATCH_LENGTH) return ShortCost(distance);
  return LongOffsetCost(distance - 1) + LengthCost(length);
}

size_t CompressBound(size_t n) {
  // No token costs more than its bytes as literals (block_format.h), so a
  // block costs at most 9n bits plus the end code. Its size is that in
  // bytes plus the unused bits of its last flag word, fewer than 32.
  return (LITERAL_COST_BITS * n + END_CODE_COST_BITS + (BLOCK_FLAG_WORD_BITS - 1) + 7) / 8;
}

// ---- Token writer ----------------------------------------------------------------

// A token the format cannot carry is a fault of its caller, and writing on
// would only hide it: a length of 300 in the length byte would come back as
// 17. So every build stops at it, naming the broken condition.
#define ENCODER_REQUIRE(condition) ((condition) ? (void)0 : EncoderFault(__func__, #condition))

[[noreturn]] static void EncoderFault(const char* function, const char* condition) {
  fprintf(stderr, "BlockEncoder::%s: precondition failed: %s\n", function, condition);
  abort();
}


// The word is built in a uint32_t and stored little-endian.
static_assert(BLOCK_FLAG_WORD_BITS == 32 && BLOCK_FLAG_WORD_BYTES == 4, "a flag word is one uint32_t");

BlockEncoder::BlockEncoder(std::vector<uint8_t>& out, size_t wordPos, unsigned used) : out_(out) {
  ENCODER_REQUIRE(used >= 1 && used <= BLOCK_FLAG_WORD_BITS);
  if (used == BLOCK_FLAG_WORD_BITS) return;  // as a new encoder: the next bit opens a word
  ENCODER_REQUIRE(wordPos + BLOCK_FLAG_WORD_BYTES <= out.size());
  wordPos_ = wordPos;
  word_ = Load32(&out[wordPos]);
  used_ = used;
  hasWord_ = true;
}

void BlockEncoder::StartWord() {
  Flush();
  wordPos_ = out_.size();
  // The word's bytes are written by Flush; these only hold its place.
  static const uint8_t kPlace[BLOCK_FLAG_WORD_BYTES] = {};
  out_.insert(out_.end(), kPlace, kPlace + BLOCK_FLAG_WORD_BYTES);
  word_ = 0;
  used_ = 0;
  hasWord_ = true;
}

void BlockEncoder::Bit(unsigned bit) {
  ENCODER_REQUIRE(bit <= 1);
  PutBit(bit);
}

void BlockEncoder::PutBit(unsigned bit) {
  if (used_ == BLOCK_FLAG_WORD_BITS) StartWord();
  word_ |= (uint32_t)bit << (BLOCK_FLAG_WORD_BITS - 1 - used_);
  ++used_;
}

void BlockEncoder::Bits(uint32_t value, unsigned count) {
  ENCODER_REQUIRE(count <= 32 && ((uint64_t)value >> count) == 0);
  PutBits(value, count);
}

void BlockEncoder::PutBits(uint32_t value, unsigned count) {
  // Most fields fit the current word whole: one shift, no loop.
  if (count <= BLOCK_FLAG_WORD_BITS - used_ && count < BLOCK_FLAG_WORD_BITS) {
    word_ |= value << (BLOCK_FLAG_WORD_BITS - used_ - count);
    used_ += count;
    return;
  }
  // The part that fits the current word goes in at once; a new word starts
  // only when the next bit is due, which is where the decoder reads it.
  while (count > 0) {
    if (used_ == BLOCK_FLAG_WORD_BITS) StartWord();
    unsigned take = std::min(count, BLOCK_FLAG_WORD_BITS - used_);
    uint32_t part = (uint32_t)((uint64_t)value >> (count - take)) & (uint32_t)((1ull << take) - 1);
    word_ |= (uint32_t)((uint64_t)part << (BLOCK_FLAG_WORD_BITS - used_ - take));
    used_ += take;
    count -= take;
  }
}

void BlockEncoder::Literals(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    if (used_ == BLOCK_FLAG_WORD_BITS) StartWord();
    unsigned take = (unsigned)std::min<size_t>(count, BLOCK_FLAG_WORD_BITS - used_);
    word_ |= (uint32_t)(((1ull << take) - 1) << (BLOCK_FLAG_WORD_BITS - used_ - take));
    used_ += take;
    out_.insert(out_.end(), bytes, bytes + take);
    bytes += take;
    count -= take;
  }
}

void BlockEncoder::Flush() {
  if (!hasWord_) return;
  Store32(&out_[wordPos_], word_);
}

void BlockEncoder::Literal(uint8_t byte) {
  PutBit(1);
  PutByte(byte);
}

void BlockEncoder::ShortMatch(uint32_t distance) {
  ENCODER_REQUIRE(distance >= 1 && distance <= SHORT_MATCH_MAX_DISTANCE);
  uint32_t v = distance - 1;
  // 0 1 s: a short match, near (s = 0) or far (s = 1), as one field.
  if (v < SHORT_FAR_BASE) {
    PutBits(2, SHORT_MATCH_HEAD_BITS);
    PutByte((uint8_t)v);
  } else {
    PutBits(3, SHORT_MATCH_HEAD_BITS);
    PutByte((uint8_t)((v - SHORT_FAR_BASE) >> SHORT_FAR_EXTRA_BITS));
    PutBits((v - SHORT_FAR_BASE) & ((1u << SHORT_FAR_EXTRA_BITS) - 1), SHORT_FAR_EXTRA_BITS);
  }
}

static_assert(MATCH_MAX_CONTROL_BITS < BLOCK_FLAG_WORD_BITS, "a match's joined fields fit one PutBits");

void BlockEncoder::LongMatch(uint32_t distance, uint32_t length) {
  ENCODER_REQUIRE(distance >= 1 && distance <= BLOCK_MAX_DISTANCE);
  ENCODER_REQUIRE(length >= LONG_MIN_LENGTH && length <= BLOCK_MAX_LENGTH);
  uint32_t v = distance - 1;
  const OffsetClass& oc = kOffsetClasses[ClassOf(v)];
  // The fields between two data bytes go in as one: the bits and their
  // order are the same, and so is where a new flag word starts.
  PutBits(oc.prefix, LONG_MATCH_HEAD_BITS + oc.prefixBits);  // 0 0, prefix
  uint32_t rel = v - oc.base;
  PutByte((uint8_t)(rel >> oc.extraBits));
  const LengthCode& lc = kLengthCodes[kIndex.codeOfLength[length]];
  uint32_t extra = rel & ((1u << oc.extraBits) - 1);
  if (lc.lengthByte) {
    PutBits((extra << lc.prefixBits) | lc.prefix, oc.extraBits + lc.prefixBits);
    PutByte((uint8_t)(length - lc.base));
  } else {
    PutBits((((extra << lc.prefixBits) | lc.prefix) << lc.extraBits) | (length - lc.base),
            oc.extraBits + lc.prefixBits + lc.extraBits);
  }
}

void BlockEncoder::Match(uint32_t distance, uint32_t length) {
  ENCODER_REQUIRE(IsMatch(distance, length));
  if (length == SHORT_MATCH_LENGTH) {
    ShortMatch(distance);
  } else {
    LongMatch(distance, length);
  }
}

void BlockEncoder::End() {
  const uint32_t x = BLOCK_END_V - SHORT_FAR_BASE;
  PutBits(3, SHORT_MATCH_HEAD_BITS);  // 0 1 1
  PutByte((uint8_t)(x >> SHORT_FAR_EXTRA_BITS));
  PutBits(x & ((1u << SHORT_FAR_EXTRA_BITS) - 1), SHORT_FAR_EXTRA_BITS);
  Flush();
}

CompressResult CompressBlockTo(const uint8_t* src, size_t n, BlockOutput& out, CompressLevel level, unsigned threads,
                               size_t cutBytes, uint64_t* size, CutsInFlight* inFlight) {
  if (cutBytes == 0) abort();
  BlockJoiner joiner(out);
  CutsInFlight spread;
  CompressResult result = EncodeCuts(src, n, level, threads, cutBytes, joiner, spread);
  if (inFlight) *inFlight = spread;
  if (result == CompressResult::Done && !joiner.Finish()) result = CompressResult::Stopped;
  if (size) *size = joiner.Size();
  return result;
}

namespace {

class VectorOutput : public BlockOutput {
 public:
  explicit VectorOutput(std::vector<uint8_t>& out) : out_(out) {}
  bool Put(const uint8_t* data, size_t size) override {
    out_.insert(out_.end(), data, data + size);
    return true;
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace

size_t CompressBlock(const uint8_t* src, size_t n, std::vector<uint8_t>& out, CompressLevel level, unsigned threads,
                     size_t cutBytes) {
  size_t before = out.size();
  out.reserve(before + n / 2 + 64);
  VectorOutput sink(out);
  if (CompressBlockTo(src, n, sink, level, threads, cutBytes) != CompressResult::Done) {
    fprintf(stderr, "CompressBlock: a cut did not expand back to its bytes\n");
    abort();
  }
  return out.size() - before;
}
