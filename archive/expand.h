// The archive's LZ77 block format: decoder.
#pragma once

#include <stddef.h>
#include <stdint.h>

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

// Constants of the format, shared by the decoder, the compressor and tests.
#define BLOCK_MAX_DISTANCE 8192u
#define BLOCK_MAX_LENGTH 282u
#define BLOCK_MIN_MATCH 2u
#define BLOCK_END_V 2303u  // short match V that marks the end of a block

// No block expands to more than this many times its own length: the densest
// token, a long match of 282 bytes at distance 512 or less, takes 9 control
// bits and 2 data bytes (25 bits). Readers use it to refuse a size claim
// before allocating for it.
#define BLOCK_MAX_EXPANSION 91u
static_assert(BLOCK_MAX_LENGTH * 8u <= BLOCK_MAX_EXPANSION * 25u, "expansion bound covers the densest token");
