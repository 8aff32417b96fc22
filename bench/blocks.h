// The corpus's compressed blocks as one file. The timed benchmark writes the
// blocks it measured; the instruction counter expands exactly those under
// callgrind, where compressing them again would take far too long.
//
// Layout: for every corpus file in order, its size (u32 LE), its block's
// length (u32 LE), then the block.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <vector>

struct StoredBlock {
  uint32_t fileSize = 0;
  std::vector<uint8_t> block;
};

inline bool WriteU32(FILE* f, uint32_t v) {
  uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
  return fwrite(b, 1, 4, f) == 4;
}

inline bool ReadU32(FILE* f, uint32_t* v) {
  uint8_t b[4];
  if (fread(b, 1, 4, f) != 4) return false;
  *v = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
  return true;
}

inline bool WriteBlocks(const char* path, const std::vector<StoredBlock>& blocks) {
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  bool ok = true;
  for (const StoredBlock& b : blocks) {
    ok = ok && WriteU32(f, b.fileSize) && WriteU32(f, (uint32_t)b.block.size()) &&
         fwrite(b.block.data(), 1, b.block.size(), f) == b.block.size();
  }
  ok = fclose(f) == 0 && ok;
  return ok;
}

// False when the file can't be read or ends inside a record.
inline bool ReadBlocks(const char* path, std::vector<StoredBlock>* blocks) {
  blocks->clear();
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  bool ok = true;
  for (;;) {
    StoredBlock b;
    if (!ReadU32(f, &b.fileSize)) break;  // a clean end: no more records
    uint32_t length = 0;
    if (!ReadU32(f, &length)) {
      ok = false;
      break;
    }
    b.block.resize(length);
    if (fread(b.block.data(), 1, length, f) != length) {
      ok = false;
      break;
    }
    blocks->push_back(std::move(b));
  }
  fclose(f);
  return ok;
}
