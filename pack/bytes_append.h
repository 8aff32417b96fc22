// Little-endian fields appended to a growing buffer, for the writers that
// build a structure front to back (icon groups, version resources). The
// byte order is archive/bytes.h's, which these only extend.
#pragma once

#include <stdint.h>

#include <vector>

#include "archive/bytes.h"

inline void Append16(std::vector<uint8_t>& b, uint16_t v) {
  b.resize(b.size() + 2);
  Store16(&b[b.size() - 2], v);
}
inline void Append32(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 4);
  Store32(&b[b.size() - 4], v);
}
