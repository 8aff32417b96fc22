// The archive's LZ77 block format: decoder.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "archive/block_format.h"

// Outcome of one expansion. Anything but EXPAND_OK means the block is not
// the one the caller was promised, and its output must not be used.
enum ExpandResult {
  EXPAND_OK = 0,            // end code reached with the room filled exactly
  EXPAND_SHORT_OUTPUT = 1,  // end code reached before the room was filled
  EXPAND_NO_ROOM = 2,       // the block would expand past the room
  EXPAND_BAD_DATA = 3,      // a back-reference before the start of the output,
                            // or input ending before the end code
};

// Expands the block at src (srcLength bytes available) into exactly dstRoom
// bytes at dst. Never reads or writes outside either range, whatever the bytes.
ExpandResult ExpandBlock(uint8_t* dst, size_t dstRoom, const uint8_t* src, size_t srcLength);
