// Little-endian loads and stores: the one reading and writing of the
// multi-byte fields of archives, blocks, PE images and resources, for the
// updater, the publisher's tool and the tests alike.
//
// Every format here is little-endian, and so is every machine this builds
// for (x86 and x86-64); the assertion below holds the build to that. So a
// load is a memcpy of a fixed size in native order: it compiles to one
// plain move, and unlike a cast pointer it is defined for any address.
#pragma once

#include <stdint.h>
#include <string.h>

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the loads and stores below are little-endian only on a little-endian machine"
#endif

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}
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
inline void Store16(uint8_t* p, uint16_t v) { memcpy(p, &v, 2); }
inline void Store32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }
inline void Store64(uint8_t* p, uint64_t v) { memcpy(p, &v, 8); }
