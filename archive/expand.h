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

// The same expansion for readers that must not hold the whole output (a
// check of an entry of gigabytes): it goes through `window`, of at least
// EXPAND_WINDOW_MIN_BYTES, and each stretch is handed to `take` (when not
// null) once no later match can reach it. The result is ExpandBlock's for
// the same block and room; the stretches handed out are the output only
// when it is EXPAND_OK.
#define EXPAND_WINDOW_MIN_BYTES (16u * 1024u)
typedef void (*ExpandTake)(void* context, const uint8_t* bytes, size_t size);
ExpandResult ExpandBlockThrough(size_t dstRoom, const uint8_t* src, size_t srcLength, uint8_t* window,
                                size_t windowSize, ExpandTake take, void* context);
