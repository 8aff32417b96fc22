// The decoder's timing alone, for the loop of changing and measuring it:
// the blocks that wz2_bench wrote (one file per level) expanded against
// libdeflate's inflate of the same corpus at level 6, passes interleaved and
// the order rotated every repetition, each codec's median pass of thread
// CPU time compared, as wz2_bench compares them. Takes seconds where the
// whole table takes minutes; the table stays the figure of record.
//
// usage: wz2_expand_time FILES.TXT BLOCKS_DIR [REPS]
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/expand.h"
#include "bench/blocks.h"

namespace {

double CpuSeconds() {
  struct timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) out->insert(out->end(), chunk, chunk + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

// One codec's packed corpus: a list of (size, packed bytes), as in blocks.h.
struct Codec {
  std::string name;
  bool wz2;
  std::vector<StoredBlock> blocks;
  std::vector<double> cpu;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: wz2_expand_time FILES.TXT BLOCKS_DIR [REPS]\n");
    return 2;
  }
  int reps = argc == 4 ? atoi(argv[3]) : 15;
  std::vector<Codec> codecs;
  for (const char* level : {"fast", "default", "max"}) {
    Codec c{std::string("wz2 ") + level, true, {}, {}};
    std::string path = std::string(argv[2]) + "/blocks-" + level + ".bin";
    if (!ReadBlocks(path.c_str(), &c.blocks) || c.blocks.empty()) {
      fprintf(stderr, "wz2_expand_time: cannot read %s\n", path.c_str());
      return 1;
    }
    codecs.push_back(std::move(c));
  }

  // The corpus, for libdeflate's blocks and to check every codec's output.
  std::vector<std::vector<uint8_t>> files;
  FILE* list = fopen(argv[1], "r");
  if (!list) {
    fprintf(stderr, "wz2_expand_time: cannot open %s\n", argv[1]);
    return 1;
  }
  char line[4096];
  while (fgets(line, sizeof(line), list)) {
    line[strcspn(line, "\r\n")] = 0;
    if (!line[0]) continue;
    files.emplace_back();
    if (!ReadFile(line, &files.back())) {
      fprintf(stderr, "wz2_expand_time: cannot read %s\n", line);
      return 1;
    }
  }
  fclose(list);
  for (const Codec& c : codecs) {
    if (c.blocks.size() != files.size()) {
      fprintf(stderr, "wz2_expand_time: %s holds %zu blocks for %zu files\n", c.name.c_str(), c.blocks.size(),
              files.size());
      return 1;
    }
  }
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  Codec deflate{"libdeflate -6", false, {}, {}};
  size_t largest = 0;
  uint64_t bytes = 0;
  for (const std::vector<uint8_t>& f : files) {
    StoredBlock b;
    b.fileSize = (uint32_t)f.size();
    b.block.resize(libdeflate_deflate_compress_bound(compressor, f.size()));
    b.block.resize(libdeflate_deflate_compress(compressor, f.data(), f.size(), b.block.data(), b.block.size()));
    deflate.blocks.push_back(std::move(b));
    largest = std::max(largest, f.size());
    bytes += f.size();
  }
  libdeflate_free_compressor(compressor);
  codecs.push_back(std::move(deflate));

  std::vector<uint8_t> out(largest + 1);
  auto expand = [&](const Codec& c, const StoredBlock& b) {
    if (c.wz2) return ExpandBlock(out.data(), b.fileSize, b.block.data(), b.block.size()) == EXPAND_OK;
    size_t got = 0;
    return libdeflate_deflate_decompress(decompressor, b.block.data(), b.block.size(), out.data(), b.fileSize, &got) ==
               LIBDEFLATE_SUCCESS &&
           got == b.fileSize;
  };
  for (const Codec& c : codecs) {
    for (size_t i = 0; i < files.size(); ++i) {
      if (!expand(c, c.blocks[i]) || (files[i].size() && memcmp(out.data(), files[i].data(), files[i].size()) != 0)) {
        fprintf(stderr, "wz2_expand_time: %s does not give back file %zu\n", c.name.c_str(), i);
        return 1;
      }
    }
  }

  for (int rep = 0; rep < reps; ++rep) {
    for (size_t k = 0; k < codecs.size(); ++k) {
      Codec& c = codecs[(k + (size_t)rep) % codecs.size()];
      double start = CpuSeconds();
      for (const StoredBlock& b : c.blocks) expand(c, b);
      c.cpu.push_back(CpuSeconds() - start);
    }
  }
  libdeflate_free_decompressor(decompressor);

  char load[128] = "unknown";
  if (FILE* f = fopen("/proc/loadavg", "r")) {
    if (fgets(load, sizeof(load), f)) load[strcspn(load, "\r\n")] = 0;
    fclose(f);
  }
  double deflateCpu = Median(codecs.back().cpu);
  // The fastest pass beside the median: the least disturbed by other work,
  // for a second view when the machine is busy.
  double deflateBest = *std::min_element(codecs.back().cpu.begin(), codecs.back().cpu.end());
  printf("%llu bytes, median of %d interleaved passes, thread CPU time; load %s\n", (unsigned long long)bytes, reps, load);
  for (const Codec& c : codecs) {
    double m = Median(c.cpu);
    printf("%-14s %8.1f MB/s", c.name.c_str(), (double)bytes / m / 1e6);
    double best = *std::min_element(c.cpu.begin(), c.cpu.end());
    if (c.wz2) printf("   / libdeflate -6: %.3f (best passes: %.3f)", deflateCpu / m, deflateBest / best);
    printf("\n");
  }
  return 0;
}
