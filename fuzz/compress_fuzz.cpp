// The compressor on arbitrary data, with cuts small enough that every input
// is many of them: the block must expand back, be the same bytes on one
// thread and on three, and an output that refuses a piece must stop it with
// what it was given a start of that block and nothing given after.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "pack/compress.h"

namespace {

// Takes `room` pieces, then refuses.
class RefusingOutput : public BlockOutput {
 public:
  explicit RefusingOutput(unsigned room) : room_(room) {}
  bool Put(const uint8_t* data, size_t size) override {
    if (refused) __builtin_trap();  // nothing after a refusal
    if (room_ == 0) return !(refused = true);
    --room_;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
  bool refused = false;

 private:
  unsigned room_;
};

// The threads beside the calling one. Worker threads bump the shared
// coverage counters in whatever order the scheduler runs them, so an
// exploration steered by coverage would take another path on every run.
// The gate's fixed exploration sets WZ2_FUZZ_ONE_THREAD and afterwards
// replays every input it kept with the threads (scripts/fuzz).
unsigned Threads() {
  static const unsigned threads = getenv("WZ2_FUZZ_ONE_THREAD") ? 1 : 3;
  return threads;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the level and how soon the output refuses, the
  // second the cut size; the rest is the input.
  CompressLevel level = (CompressLevel)(data[0] % 3);
  unsigned room = data[0] / 3 % 8;
  size_t cutBytes = 1 + (size_t)data[1] * 4;
  const uint8_t* src = data + 2;
  size_t n = size - 2;

  std::vector<uint8_t> one, many;
  CompressBlock(src, n, one, level, 1, cutBytes);
  CompressBlock(src, n, many, level, Threads(), cutBytes);
  if (one != many) __builtin_trap();
  std::vector<uint8_t> back(n ? n : 1);
  if (ExpandBlock(back.data(), n, one.data(), one.size()) != EXPAND_OK || (n && memcmp(back.data(), src, n) != 0))
    __builtin_trap();

  RefusingOutput out(room);
  uint64_t blockSize = 0;
  CompressResult result = CompressBlockTo(src, n, out, level, 1 + room % Threads(), cutBytes, &blockSize);
  bool prefix = out.bytes.size() <= one.size() &&
                (out.bytes.empty() || memcmp(out.bytes.data(), one.data(), out.bytes.size()) == 0);
  if (!prefix || result == CompressResult::Faulty) __builtin_trap();
  if (result == CompressResult::Done && (out.refused || out.bytes != one || blockSize != one.size())) __builtin_trap();
  if (result == CompressResult::Stopped && !out.refused) __builtin_trap();
  return 0;
}
