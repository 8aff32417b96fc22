// Unaligned loads and stores of native-order words, for the block decoder
// and encoder. memcpy of a fixed size compiles to one plain move, and unlike
// a cast pointer it is defined for any address.
#pragma once

#include <stdint.h>
#include <string.h>

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { memcpy(p, &v, 8); }
