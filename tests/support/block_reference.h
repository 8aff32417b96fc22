// A plain, bit-at-a-time decoder of the block format, written straight from
// the format's grammar with no shortcuts. Tests hold the fast decoder and the
// encoder against it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "archive/expand.h"

struct ReferenceExpansion {
  ExpandResult result = EXPAND_BAD_DATA;
  std::vector<uint8_t> output;  // bytes produced before the end or the failure
  size_t controlBits = 0;       // control bits taken, flag-word padding not counted
  size_t dataBytes = 0;         // literal, offset and length bytes read
  size_t inputUsed = 0;         // bytes read, flag words included
  size_t tokens = 0;            // tokens decoded, the end code included
};

// Decodes the block at src[0..srcLength) into at most dstRoom bytes, with the
// same outcome rules as ExpandBlock.
ReferenceExpansion ReferenceExpand(const uint8_t* src, size_t srcLength, size_t dstRoom);
