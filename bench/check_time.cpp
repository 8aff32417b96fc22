// The archive check's speed as the updater runs it: CRC-32 by four bytes a
// step (archive/payload_check.cpp, built with the updater's options) over
// the corpus, repeated to 64 MiB, median of interleaved passes of thread
// CPU time. The updater verifies its whole archive before it starts, so
// this is the wait a player has before the first page.
//
// usage: wz2_check_time FILES.TXT [REPS]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/payload_check.h"

namespace {

double CpuSeconds() {
  struct timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

bool Append(const char* path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) out->insert(out->end(), chunk, chunk + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: wz2_check_time FILES.TXT [REPS]\n");
    return 2;
  }
  int reps = argc == 3 ? atoi(argv[2]) : 15;
  std::vector<uint8_t> corpus;
  FILE* list = fopen(argv[1], "r");
  if (!list) {
    fprintf(stderr, "wz2_check_time: cannot open %s\n", argv[1]);
    return 1;
  }
  char line[4096];
  while (fgets(line, sizeof(line), list)) {
    line[strcspn(line, "\r\n")] = 0;
    if (line[0] && !Append(line, &corpus)) {
      fprintf(stderr, "wz2_check_time: cannot read %s\n", line);
      return 1;
    }
  }
  fclose(list);
  if (corpus.empty()) return 1;
  const size_t size = (size_t)64 << 20;
  std::vector<uint8_t> archive(size);
  for (size_t at = 0; at < size; at += corpus.size()) memcpy(&archive[at], corpus.data(), std::min(corpus.size(), size - at));

  // The updater builds its tables once per start; that is part of its wait.
  std::vector<double> cpu;
  DWORD first = 0;
  for (int rep = 0; rep < reps; ++rep) {
    double start = CpuSeconds();
    static Crc32Tables tables;
    BuildCrc32Tables(&tables);
    DWORD crc = Crc32Update(&tables, 0, archive.data(), archive.size());
    cpu.push_back(CpuSeconds() - start);
    if (rep == 0) first = crc;
    if (crc != first) return 1;
  }
  std::sort(cpu.begin(), cpu.end());
  double median = reps % 2 ? cpu[(size_t)reps / 2] : (cpu[(size_t)reps / 2 - 1] + cpu[(size_t)reps / 2]) / 2;
  printf("%.1f MB/s over %zu bytes, median of %d passes (best %.1f MB/s), CRC-32 %08X\n", (double)size / median / 1e6,
         size, reps, (double)size / cpu[0] / 1e6, (unsigned)first);
  return 0;
}
