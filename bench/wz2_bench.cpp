// The performance comparison: on one corpus, in one process, the block
// decoder against zlib, libdeflate, LZ4 and memcpy, and the block encoder's
// levels against the same codecs' compressors.
//
// Every file is compressed on its own, as the archive stores each file as
// one block. The machines this runs on are shared and noisy, so the results
// are ratios taken inside one run: decompression passes of all codecs are
// interleaved (the order rotates every repetition) and each codec's median
// pass is compared, which a busy moment on one side moves less than a best
// or a mean. Both wall-clock and thread CPU time are kept; CPU time does not
// count the time another process held the core, so the decoder targets
// stand on it.
//
// The compressor parses in fixed cuts (pack/compress.h); each level's size
// is also shown against one parse of each whole file, as before the cuts.
//
// zlib and libdeflate write and read raw deflate streams: the block format
// carries no checksum, and an Adler-32 pass would only slow the others down.
//
// usage: wz2_bench --list FILES.TXT [--json OUT] [--blocks DIR]
//                  [--decompress-reps N] [--compress-reps N] [--slow-limit S]
#include <libdeflate.h>
#include <lz4.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/expand.h"
#include "bench/blocks.h"
#include "pack/compress.h"

namespace {

// ---- Corpus ---------------------------------------------------------------------

struct Corpus {
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> files;
  uint64_t bytes = 0;
  size_t largest = 0;
};

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  bool ok = fseek(f, 0, SEEK_END) == 0;
  long size = ok ? ftell(f) : -1;
  ok = ok && size >= 0 && fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    out->resize((size_t)size);
    ok = fread(out->data(), 1, out->size(), f) == out->size();
  }
  fclose(f);
  return ok;
}

bool LoadCorpus(const char* listPath, Corpus* corpus) {
  FILE* list = fopen(listPath, "r");
  if (!list) {
    fprintf(stderr, "wz2_bench: cannot open %s\n", listPath);
    return false;
  }
  char line[4096];
  bool ok = true;
  while (ok && fgets(line, sizeof(line), list)) {
    size_t n = strcspn(line, "\r\n");
    line[n] = 0;
    if (n == 0) continue;
    std::vector<uint8_t> data;
    if (!ReadWholeFile(line, &data)) {
      fprintf(stderr, "wz2_bench: cannot read %s\n", line);
      ok = false;
      break;
    }
    // The archive stores sizes in 32 bits; the block files do too.
    if (data.size() > 0xFFFFFFFFu) {
      fprintf(stderr, "wz2_bench: %s is too large for one block\n", line);
      ok = false;
      break;
    }
    corpus->bytes += data.size();
    corpus->largest = std::max(corpus->largest, data.size());
    corpus->names.push_back(line);
    corpus->files.push_back(std::move(data));
  }
  fclose(list);
  if (ok && corpus->files.empty()) {
    fprintf(stderr, "wz2_bench: %s names no files\n", listPath);
    ok = false;
  }
  return ok;
}

// ---- Clocks ---------------------------------------------------------------------

struct Times {
  double wall;
  double cpu;
};

double Seconds(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

Times Now() { return Times{Seconds(CLOCK_MONOTONIC), Seconds(CLOCK_THREAD_CPUTIME_ID)}; }

Times Since(const Times& start) {
  Times now = Now();
  return Times{now.wall - start.wall, now.cpu - start.cpu};
}

// ---- Codecs ---------------------------------------------------------------------

// ZLIB is raw deflate; ZLIB_CHECKED is the zlib format with its Adler-32,
// as most programs that inflate use it: shown beside the raw figures so the
// cost of the checksum is visible, not mixed into the comparison.
enum CodecKind { WZ2, ZLIB, ZLIB_CHECKED, LIBDEFLATE, LZ4, MEMCPY };

struct Codec {
  const char* name;
  CodecKind kind;
  int level;  // CompressLevel for WZ2, the library's level otherwise
  // Results.
  std::vector<std::vector<uint8_t>> packed;  // one per corpus file
  uint64_t packedBytes = 0;
  Times compress{1e30, 1e30};  // best pass
  Times expand{1e30, 1e30};    // median pass
  std::vector<double> expandWall, expandCpu;
  int compressReps = 0;
  int expandReps = 0;
  uint64_t onePassBytes = 0;  // WZ2: each file in one cut
};

// One reusable context per library, as a real reader or writer keeps it.
struct Contexts {
  z_stream deflater[10];
  bool deflaterReady[10] = {};
  z_stream inflater;
  z_stream checkedDeflater;  // level 6, zlib format
  z_stream checkedInflater;
  libdeflate_compressor* deflateCompressor[13] = {};
  libdeflate_decompressor* deflateDecompressor = nullptr;
};

bool Compress(Contexts* ctx, Codec* codec, const std::vector<uint8_t>& src, std::vector<uint8_t>* out) {
  out->clear();
  switch (codec->kind) {
    case WZ2:
      CompressBlock(src.data(), src.size(), *out, (CompressLevel)codec->level);
      return true;
    case ZLIB:
    case ZLIB_CHECKED: {
      z_stream* z = codec->kind == ZLIB ? &ctx->deflater[codec->level] : &ctx->checkedDeflater;
      if (deflateReset(z) != Z_OK) return false;
      out->resize(deflateBound(z, (uLong)src.size()));
      z->next_in = const_cast<Bytef*>(src.data());
      z->avail_in = (uInt)src.size();
      z->next_out = out->data();
      z->avail_out = (uInt)out->size();
      if (deflate(z, Z_FINISH) != Z_STREAM_END) return false;
      out->resize(z->total_out);
      return true;
    }
    case LIBDEFLATE: {
      libdeflate_compressor* c = ctx->deflateCompressor[codec->level];
      out->resize(libdeflate_deflate_compress_bound(c, src.size()));
      size_t n = libdeflate_deflate_compress(c, src.data(), src.size(), out->data(), out->size());
      if (n == 0) return false;
      out->resize(n);
      return true;
    }
    case LZ4: {
      out->resize((size_t)LZ4_compressBound((int)src.size()));
      int n = LZ4_compress_default((const char*)src.data(), (char*)out->data(), (int)src.size(), (int)out->size());
      if (n <= 0) return false;
      out->resize((size_t)n);
      return true;
    }
    case MEMCPY:
      out->assign(src.begin(), src.end());
      return true;
  }
  return false;
}

// Expands one file's packed bytes into exactly `size` bytes at dst.
bool Expand(Contexts* ctx, const Codec& codec, const std::vector<uint8_t>& packed, uint8_t* dst, size_t size) {
  switch (codec.kind) {
    case WZ2:
      return ExpandBlock(dst, size, packed.data(), packed.size()) == EXPAND_OK;
    case ZLIB:
    case ZLIB_CHECKED: {
      z_stream* z = codec.kind == ZLIB ? &ctx->inflater : &ctx->checkedInflater;
      if (inflateReset(z) != Z_OK) return false;
      z->next_in = const_cast<Bytef*>(packed.data());
      z->avail_in = (uInt)packed.size();
      z->next_out = dst;
      z->avail_out = (uInt)size;
      return inflate(z, Z_FINISH) == Z_STREAM_END && z->total_out == size;
    }
    case LIBDEFLATE: {
      size_t got = 0;
      return libdeflate_deflate_decompress(ctx->deflateDecompressor, packed.data(), packed.size(), dst, size, &got) ==
                 LIBDEFLATE_SUCCESS &&
             got == size;
    }
    case LZ4:
      return LZ4_decompress_safe((const char*)packed.data(), (char*)dst, (int)packed.size(), (int)size) == (int)size;
    case MEMCPY:
      memcpy(dst, packed.data(), size);
      return true;
  }
  return false;
}

bool InitContexts(Contexts* ctx, const std::vector<Codec>& codecs) {
  memset(&ctx->inflater, 0, sizeof(ctx->inflater));
  if (inflateInit2(&ctx->inflater, -15) != Z_OK) return false;
  memset(&ctx->checkedInflater, 0, sizeof(ctx->checkedInflater));
  if (inflateInit(&ctx->checkedInflater) != Z_OK) return false;
  memset(&ctx->checkedDeflater, 0, sizeof(ctx->checkedDeflater));
  if (deflateInit(&ctx->checkedDeflater, 6) != Z_OK) return false;
  ctx->deflateDecompressor = libdeflate_alloc_decompressor();
  if (!ctx->deflateDecompressor) return false;
  for (const Codec& c : codecs) {
    if (c.kind == ZLIB && !ctx->deflaterReady[c.level]) {
      z_stream* z = &ctx->deflater[c.level];
      memset(z, 0, sizeof(*z));
      if (deflateInit2(z, c.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
      ctx->deflaterReady[c.level] = true;
    }
    if (c.kind == LIBDEFLATE && !ctx->deflateCompressor[c.level]) {
      ctx->deflateCompressor[c.level] = libdeflate_alloc_compressor(c.level);
      if (!ctx->deflateCompressor[c.level]) return false;
    }
  }
  return true;
}

void FreeContexts(Contexts* ctx) {
  inflateEnd(&ctx->inflater);
  inflateEnd(&ctx->checkedInflater);
  deflateEnd(&ctx->checkedDeflater);
  libdeflate_free_decompressor(ctx->deflateDecompressor);
  for (int i = 0; i < 10; ++i)
    if (ctx->deflaterReady[i]) deflateEnd(&ctx->deflater[i]);
  for (int i = 0; i < 13; ++i) libdeflate_free_compressor(ctx->deflateCompressor[i]);
}

// ---- Runs -----------------------------------------------------------------------

struct Options {
  const char* list = nullptr;
  const char* json = nullptr;
  const char* blocks = nullptr;
  int expandReps = 10;
  int compressReps = 3;
  double slowLimit = 20;  // seconds of compression per codec before it stops repeating
};

// Compresses the corpus with one codec, several times, keeping the best time
// and the last pass's output.
bool RunCompression(Contexts* ctx, Codec* codec, const Corpus& corpus, const Options& o) {
  double spent = 0;
  for (int rep = 0; rep < o.compressReps; ++rep) {
    std::vector<std::vector<uint8_t>> packed(corpus.files.size());
    Times start = Now();
    for (size_t i = 0; i < corpus.files.size(); ++i) {
      if (!Compress(ctx, codec, corpus.files[i], &packed[i])) {
        fprintf(stderr, "wz2_bench: %s failed to compress %s\n", codec->name, corpus.names[i].c_str());
        return false;
      }
    }
    Times t = Since(start);
    codec->compress.wall = std::min(codec->compress.wall, t.wall);
    codec->compress.cpu = std::min(codec->compress.cpu, t.cpu);
    codec->compressReps = rep + 1;
    codec->packed = std::move(packed);
    spent += t.wall;
    fprintf(stderr, "  compress %-16s pass %d: %.2f s\n", codec->name, rep + 1, t.wall);
    if (rep >= 1 && spent > o.slowLimit) break;
  }
  codec->packedBytes = 0;
  for (const std::vector<uint8_t>& p : codec->packed) codec->packedBytes += p.size();
  return true;
}

// Every codec must give back the corpus byte for byte before it is timed.
bool Verify(Contexts* ctx, const Codec& codec, const Corpus& corpus, uint8_t* buffer) {
  for (size_t i = 0; i < corpus.files.size(); ++i) {
    const std::vector<uint8_t>& file = corpus.files[i];
    if (!Expand(ctx, codec, codec.packed[i], buffer, file.size()) ||
        (file.size() != 0 && memcmp(buffer, file.data(), file.size()) != 0)) {
      fprintf(stderr, "wz2_bench: %s does not give back %s\n", codec.name, corpus.names[i].c_str());
      return false;
    }
  }
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool RunExpansion(Contexts* ctx, std::vector<Codec>* codecs, const Corpus& corpus, const Options& o, uint8_t* buffer) {
  size_t count = codecs->size();
  for (int rep = 0; rep < o.expandReps; ++rep) {
    for (size_t k = 0; k < count; ++k) {
      Codec& codec = (*codecs)[(k + (size_t)rep) % count];
      Times start = Now();
      for (size_t i = 0; i < corpus.files.size(); ++i) {
        if (!Expand(ctx, codec, codec.packed[i], buffer, corpus.files[i].size())) {
          fprintf(stderr, "wz2_bench: %s failed on %s\n", codec.name, corpus.names[i].c_str());
          return false;
        }
      }
      Times t = Since(start);
      codec.expandWall.push_back(t.wall);
      codec.expandCpu.push_back(t.cpu);
      codec.expandReps = rep + 1;
    }
    fprintf(stderr, "  expansion pass %d of %d done\n", rep + 1, o.expandReps);
  }
  for (Codec& codec : *codecs) codec.expand = Times{Median(codec.expandWall), Median(codec.expandCpu)};
  return true;
}

// Each file compressed in one cut, as the compressor did before it cut the
// parse: the size the cuts are held against.
void RunOnePass(Codec* codec, const Corpus& corpus) {
  codec->onePassBytes = 0;
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>& file : corpus.files) {
    out.clear();
    codec->onePassBytes += CompressBlock(file.data(), file.size(), out, (CompressLevel)codec->level, 1,
                                         std::max<size_t>(file.size(), 1));
  }
  fprintf(stderr, "  one-cut size %-16s %llu\n", codec->name, (unsigned long long)codec->onePassBytes);
}

// ---- Report ---------------------------------------------------------------------

// /proc files report no size, so the line is read as a line.
std::string LoadAverage() {
  FILE* f = fopen("/proc/loadavg", "r");
  if (!f) return "unknown";
  char line[256] = "";
  bool ok = fgets(line, sizeof(line), f) != nullptr;
  fclose(f);
  if (!ok) return "unknown";
  line[strcspn(line, "\r\n")] = 0;
  return line;
}

double MBps(uint64_t bytes, double seconds) { return (double)bytes / seconds / 1e6; }

const Codec* Find(const std::vector<Codec>& codecs, const char* name) {
  for (const Codec& c : codecs)
    if (strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

struct Ratio {
  std::string what;
  double wall;
  double cpu;
  double target;  // 0: none; >0: at least; <0: at most -target
  bool byCpu;     // the target stands on CPU time, not wall time
  double Judged() const { return byCpu ? cpu : wall; }
  bool Met() const { return target > 0 ? Judged() >= target : Judged() <= -target; }
};

std::vector<Ratio> Ratios(const std::vector<Codec>& codecs) {
  std::vector<Ratio> r;
  const Codec* zlib6 = Find(codecs, "zlib -6");
  const Codec* zlib9 = Find(codecs, "zlib -9");
  const Codec* deflate6 = Find(codecs, "libdeflate -6");
  for (const char* level : {"wz2 fast", "wz2 default", "wz2 max"}) {
    const Codec* w = Find(codecs, level);
    // Speed ratios: the same output bytes, so the inverse time ratio.
    r.push_back(Ratio{std::string("ExpandBlock(") + level + ") / zlib -6 inflate", zlib6->expand.wall / w->expand.wall,
                      zlib6->expand.cpu / w->expand.cpu, 1.6, false});
    r.push_back(Ratio{std::string("ExpandBlock(") + level + ") / libdeflate -6", deflate6->expand.wall / w->expand.wall,
                      deflate6->expand.cpu / w->expand.cpu, 1.0, true});
  }
  // Beside the zlib format with its checksum, as most inflating programs
  // run it: for information, the targets stand against raw inflate.
  const Codec* checked = Find(codecs, "zlib -6 +adler");
  const Codec* wDefault = Find(codecs, "wz2 default");
  r.push_back(Ratio{"ExpandBlock(wz2 default) / zlib -6 +adler inflate", checked->expand.wall / wDefault->expand.wall,
                    checked->expand.cpu / wDefault->expand.cpu, 0, false});
  for (const char* level : {"wz2 fast", "wz2 default", "wz2 max"}) {
    const Codec* w = Find(codecs, level);
    double size = (double)w->packedBytes / (double)zlib9->packedBytes;
    r.push_back(Ratio{std::string(level) + " size / zlib -9 size", size, size, 0, false});
  }
  for (const char* level : {"wz2 fast", "wz2 default", "wz2 max"}) {
    const Codec* w = Find(codecs, level);
    double size = (double)w->packedBytes / (double)w->onePassBytes;
    r.push_back(Ratio{std::string(level) + " size in cuts / in one cut", size, size, -1.001, false});
  }
  return r;
}

void PrintTable(const std::vector<Codec>& codecs, const Corpus& corpus, const std::vector<Ratio>& ratios,
                const std::string& loadBefore, const std::string& loadAfter) {
  printf("\ncorpus: %zu files, %llu bytes; load average before: %s; after: %s\n", corpus.files.size(),
         (unsigned long long)corpus.bytes, loadBefore.c_str(), loadAfter.c_str());
  printf("MB = 10^6 bytes; speeds are output (uncompressed) bytes per second: compression the best pass, expansion\n"
         "the median of %d interleaved passes; cpu = thread CPU time\n\n", codecs.front().expandReps);
  printf("%-15s %12s %7s %10s %10s %5s %11s %11s %5s\n", "codec", "packed", "size%", "comp MB/s", "(cpu)", "reps",
         "expand MB/s", "(cpu)", "reps");
  for (const Codec& c : codecs) {
    printf("%-15s %12llu %6.2f%% %10.1f %10.1f %5d %11.1f %11.1f %5d\n", c.name, (unsigned long long)c.packedBytes,
           100.0 * (double)c.packedBytes / (double)corpus.bytes, MBps(corpus.bytes, c.compress.wall),
           MBps(corpus.bytes, c.compress.cpu), c.compressReps, MBps(corpus.bytes, c.expand.wall),
           MBps(corpus.bytes, c.expand.cpu), c.expandReps);
  }
  double l1 = 0, l5 = 0, l15 = 0;
  char load[64] = "unknown";
  if (sscanf(loadAfter.c_str(), "%lf %lf %lf", &l1, &l5, &l15) == 3) snprintf(load, sizeof(load), "%.2f %.2f %.2f", l1, l5, l15);
  printf("\n%-48s %8s %8s  %s\n", "ratio", "wall", "cpu", "target");
  for (const Ratio& r : ratios) {
    char target[96] = "";
    if (r.target != 0)
      snprintf(target, sizeof(target), "%s %.3f%s: %s (load %s)", r.target > 0 ? ">=" : "<=", r.target > 0 ? r.target : -r.target,
               r.byCpu ? " cpu" : "", r.Met() ? "met" : "not met", load);
    printf("%-48s %8.3f %8.3f  %s\n", r.what.c_str(), r.wall, r.cpu, target);
  }
  const Codec* fast = Find(codecs, "wz2 fast");
  const Codec* max = Find(codecs, "wz2 max");
  double fastMBps = MBps(corpus.bytes, fast->compress.wall);
  double maxMBps = MBps(corpus.bytes, max->compress.wall);
  printf("%-48s %8.1f %8.1f  >= 100: %s\n", "wz2 fast compression MB/s", fastMBps, MBps(corpus.bytes, fast->compress.cpu),
         fastMBps >= 100 ? "met" : "not met");
  printf("%-48s %8.2f %8.2f  >= 3: %s\n", "wz2 max compression MB/s", maxMBps, MBps(corpus.bytes, max->compress.cpu),
         maxMBps >= 3 ? "met" : "not met");
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool WriteJson(const char* path, const std::vector<Codec>& codecs, const Corpus& corpus, const std::vector<Ratio>& ratios,
               const std::string& loadBefore, const std::string& loadAfter) {
  FILE* f = fopen(path, "w");
  if (!f) return false;
  fprintf(f, "{\n  \"corpus\": {\"files\": %zu, \"bytes\": %llu},\n", corpus.files.size(),
          (unsigned long long)corpus.bytes);
  fprintf(f, "  \"load_average\": {\"before\": %s, \"after\": %s},\n", JsonString(loadBefore).c_str(),
          JsonString(loadAfter).c_str());
  fprintf(f, "  \"units\": \"MB/s = 10^6 uncompressed bytes per second, best pass\",\n");
  fprintf(f, "  \"codecs\": [\n");
  for (size_t i = 0; i < codecs.size(); ++i) {
    const Codec& c = codecs[i];
    fprintf(f,
            "    {\"name\": %s, \"packed_bytes\": %llu, \"size_ratio\": %.6f, \"compress_MBps\": %.3f, "
            "\"compress_cpu_MBps\": %.3f, \"compress_reps\": %d, \"expand_MBps\": %.3f, \"expand_cpu_MBps\": %.3f, "
            "\"expand_reps\": %d}%s\n",
            JsonString(c.name).c_str(), (unsigned long long)c.packedBytes,
            (double)c.packedBytes / (double)corpus.bytes, MBps(corpus.bytes, c.compress.wall),
            MBps(corpus.bytes, c.compress.cpu), c.compressReps, MBps(corpus.bytes, c.expand.wall),
            MBps(corpus.bytes, c.expand.cpu), c.expandReps, i + 1 < codecs.size() ? "," : "");
  }
  fprintf(f, "  ],\n  \"ratios\": [\n");
  for (size_t i = 0; i < ratios.size(); ++i) {
    const Ratio& r = ratios[i];
    fprintf(f, "    {\"what\": %s, \"wall\": %.4f, \"cpu\": %.4f", JsonString(r.what).c_str(), r.wall, r.cpu);
    if (r.target != 0)
      fprintf(f, ", \"%s\": %.3f, \"by\": \"%s\", \"met\": %s", r.target > 0 ? "target_at_least" : "target_at_most",
              r.target > 0 ? r.target : -r.target, r.byCpu ? "cpu" : "wall", r.Met() ? "true" : "false");
    fprintf(f, "}%s\n", i + 1 < ratios.size() ? "," : "");
  }
  fprintf(f, "  ]\n}\n");
  return fclose(f) == 0;
}

bool WriteBlockFiles(const char* dir, const std::vector<Codec>& codecs, const Corpus& corpus) {
  for (const Codec& c : codecs) {
    if (c.kind != WZ2) continue;
    std::vector<StoredBlock> blocks(corpus.files.size());
    for (size_t i = 0; i < corpus.files.size(); ++i) {
      blocks[i].fileSize = (uint32_t)corpus.files[i].size();
      blocks[i].block = c.packed[i];
    }
    // "wz2 fast" -> blocks-fast.bin
    std::string path = std::string(dir) + "/blocks-" + (c.name + 4) + ".bin";
    if (!WriteBlocks(path.c_str(), blocks)) {
      fprintf(stderr, "wz2_bench: cannot write %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

int Usage() {
  fprintf(stderr,
          "usage: wz2_bench --list FILES.TXT [--json OUT] [--blocks DIR] [--decompress-reps N]\n"
          "                 [--compress-reps N] [--slow-limit SECONDS]\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    if (a == "--list") o->list = v;
    else if (a == "--json") o->json = v;
    else if (a == "--blocks") o->blocks = v;
    else if (a == "--decompress-reps") o->expandReps = atoi(v);
    else if (a == "--compress-reps") o->compressReps = atoi(v);
    else if (a == "--slow-limit") o->slowLimit = atof(v);
    else return false;
  }
  return o->list != nullptr && o->expandReps > 0 && o->compressReps > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) return Usage();
  Corpus corpus;
  if (!LoadCorpus(o.list, &corpus)) return 1;

  std::vector<Codec> codecs;
  codecs.push_back(Codec{"wz2 fast", WZ2, (int)CompressLevel::Fast, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"wz2 default", WZ2, (int)CompressLevel::Default, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"wz2 max", WZ2, (int)CompressLevel::Max, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"zlib -6", ZLIB, 6, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"zlib -9", ZLIB, 9, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"zlib -6 +adler", ZLIB_CHECKED, 6, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"libdeflate -6", LIBDEFLATE, 6, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"libdeflate -12", LIBDEFLATE, 12, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"lz4", LZ4, 0, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  codecs.push_back(Codec{"memcpy", MEMCPY, 0, {}, 0, {}, {}, {}, {}, 0, 0, 0});
  for (Codec& c : codecs) c.compress = c.expand = Times{1e30, 1e30};

  Contexts ctx;
  if (!InitContexts(&ctx, codecs)) {
    fprintf(stderr, "wz2_bench: a library failed to initialise\n");
    return 1;
  }
  std::string loadBefore = LoadAverage();
  fprintf(stderr, "wz2_bench: %zu files, %llu bytes; load average %s\n", corpus.files.size(),
          (unsigned long long)corpus.bytes, loadBefore.c_str());

  // The output buffer every decoder writes into, reused for every file.
  std::vector<uint8_t> buffer(corpus.largest + 1);
  int status = 0;
  for (Codec& c : codecs) {
    if (!RunCompression(&ctx, &c, corpus, o) || !Verify(&ctx, c, corpus, buffer.data())) {
      status = 1;
      break;
    }
  }
  if (status == 0)
    for (Codec& c : codecs)
      if (c.kind == WZ2) RunOnePass(&c, corpus);
  if (status == 0 && o.blocks && !WriteBlockFiles(o.blocks, codecs, corpus)) status = 1;
  if (status == 0 && !RunExpansion(&ctx, &codecs, corpus, o, buffer.data())) status = 1;
  if (status == 0) {
    std::string loadAfter = LoadAverage();
    std::vector<Ratio> ratios = Ratios(codecs);
    PrintTable(codecs, corpus, ratios, loadBefore, loadAfter);
    if (o.json && !WriteJson(o.json, codecs, corpus, ratios, loadBefore, loadAfter)) {
      fprintf(stderr, "wz2_bench: cannot write %s\n", o.json);
      status = 1;
    }
  }
  FreeContexts(&ctx);
  return status;
}
