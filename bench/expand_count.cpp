// Expands the blocks that wz2_bench wrote, once each, and prints the number
// of bytes produced. Run under callgrind with the collection switched on
// only inside ExpandBlock, the instruction count divided by these bytes is
// the decoder's exact cost per output byte, free of the machine's noise.
//
// usage: wz2_expand_count BLOCKS.BIN
#include <stdio.h>
#include <string.h>

#include <vector>

#include "archive/expand.h"
#include "bench/blocks.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: wz2_expand_count BLOCKS.BIN\n");
    return 2;
  }
  std::vector<StoredBlock> blocks;
  if (!ReadBlocks(argv[1], &blocks) || blocks.empty()) {
    fprintf(stderr, "wz2_expand_count: cannot read blocks from %s\n", argv[1]);
    return 1;
  }
  size_t largest = 0;
  for (const StoredBlock& b : blocks)
    if (b.fileSize > largest) largest = b.fileSize;
  std::vector<uint8_t> out(largest + 1);
  unsigned long long bytes = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const StoredBlock& b = blocks[i];
    if (ExpandBlock(out.data(), b.fileSize, b.block.data(), b.block.size()) != EXPAND_OK) {
      fprintf(stderr, "wz2_expand_count: block %zu does not expand to its size\n", i);
      return 1;
    }
    bytes += b.fileSize;
  }
  printf("%llu\n", bytes);
  return 0;
}
