// ExpandBlock on arbitrary bytes: it must stay inside both buffers (the
// sanitizers watch), and agree with the plain reference decoder on the
// result and, when the block expands, on every byte; and expanding it
// through a window gives the same.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "archive/expand.h"
#include "support/block_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the room; the rest is the block.
  size_t room = (size_t)data[0] | ((size_t)data[1] << 8);
  size_t length = size - 2;
  // Exact-size heap copies, so that one byte past either end is caught.
  uint8_t* src = new uint8_t[length ? length : 1];
  if (length) memcpy(src, data + 2, length);
  uint8_t* dst = new uint8_t[room ? room : 1];
  ExpandResult result = ExpandBlock(dst, room, src, length);
  ReferenceExpansion ref = ReferenceExpand(src, length, room);
  if (result != ref.result) __builtin_trap();
  if (result == EXPAND_OK && (ref.output.size() != room || (room && memcmp(dst, ref.output.data(), room) != 0)))
    __builtin_trap();
  // Through the smallest window: the same result, and the same bytes in
  // order when it expanded.
  struct Taken {
    const uint8_t* expected;
    size_t at;
    bool same;
  } taken{dst, 0, true};
  std::vector<uint8_t> window(EXPAND_WINDOW_MIN_BYTES);
  ExpandResult through = ExpandBlockThrough(
      room, src, length, window.data(), window.size(),
      [](void* context, const uint8_t* bytes, size_t size) {
        Taken* t = static_cast<Taken*>(context);
        t->same = t->same && memcmp(t->expected + t->at, bytes, size) == 0;
        t->at += size;
      },
      &taken);
  if (through != result || (result == EXPAND_OK && (!taken.same || taken.at != room))) __builtin_trap();
  delete[] dst;
  delete[] src;
  return 0;
}
