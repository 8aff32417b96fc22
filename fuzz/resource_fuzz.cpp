// The resource reader and writer on arbitrary executables, as build-exe and
// list use them: reading any image is bounded work, and whatever the writer
// makes of an image it read must read back with the archive unchanged and
// every other resource still there, every other data directory where and
// what it was; written with the archive's bytes left out, it must be the
// same image with them cut out. Placing addresses among the sections is
// counted and must stay logarithmic in them.
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/pe_fixture.h"
#include "pack/pe_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  std::vector<pe::Resource> before;
  std::string error;
  if (!pe::ReadResources(image, &before, &error)) return 0;
  // Each address is placed among the sections by bisection: two of at
  // most log2(sections) + 1 steps for the root and each leaf, however the
  // sections are ordered.
  std::vector<pe::Resource> leaves;
  std::vector<std::pair<size_t, size_t>> spans;
  pe::ReadWork work;
  pe::Layout layout;
  if (!pe::ReadResourceSpans(image, &leaves, &spans, &error, &work) || leaves.size() != before.size() ||
      !pe::ParseLayout(image, &layout, &error))
    __builtin_trap();
  uint64_t depth = 1;
  while ((1u << depth) <= layout.sectionCount) depth++;
  if (work.sectionSteps > (uint64_t)(before.size() + 1) * 2 * (depth + 1)) __builtin_trap();
  pe::Resource archive;
  archive.type = pe::KeyString("UPDATE");
  archive.name = pe::KeyId(102);
  archive.language = 1041;
  // The archive's bytes come from the input too, so their length varies
  // (the empty one included).
  size_t length = size % 512;
  archive.data.assign(data + size - (length < size ? length : size), data + size);
  std::vector<uint8_t> built;
  if (!pe::ReplaceResource(image, archive, &built, &error)) return 0;
  // Whatever else the image keeps (imports, relocations) is where and what
  // it was: a rewrite never lays the tree over it.
  if (!pe::SameDataDirectories(image, built, &error)) __builtin_trap();
  std::vector<pe::Resource> after;
  if (!pe::ReadResources(built, &after, &error)) __builtin_trap();
  std::vector<uint8_t> carried;
  if (!pe::FindResourceData(built, archive.type, archive.name, &carried, &error) || carried != archive.data)
    __builtin_trap();
  std::vector<pe::Resource> split = before;
  split.erase(std::remove_if(split.begin(), split.end(),
                             [&](const pe::Resource& r) {
                               return pe::SameKey(r.type, archive.type) && pe::SameKey(r.name, archive.name);
                             }),
              split.end());
  split.push_back(archive);
  split.back().data.clear();
  pe::SplitImage cut;
  if (!pe::WriteResourcesSplit(image, split, split.size() - 1, archive.data.size(), &cut, &error) ||
      cut.spanSize != archive.data.size() || cut.FileSize() != built.size())
    __builtin_trap();
  pe::ImageSum sum(cut.checksumOffset);
  sum.Add(cut.bytes.data(), cut.spanOffset, 0);
  sum.Add(archive.data.data(), archive.data.size(), cut.spanOffset);
  sum.Add(cut.bytes.data() + cut.spanOffset, cut.bytes.size() - cut.spanOffset, cut.spanOffset + cut.spanSize);
  uint32_t checksum = sum.Finish(cut.FileSize());
  for (int i = 0; i < 4; i++) cut.bytes[cut.checksumOffset + (size_t)i] = (uint8_t)(checksum >> (8 * i));
  if (!std::equal(cut.bytes.begin(), cut.bytes.begin() + (ptrdiff_t)cut.spanOffset, built.begin()) ||
      !std::equal(built.begin() + (ptrdiff_t)(cut.spanOffset + cut.spanSize), built.end(),
                  cut.bytes.begin() + (ptrdiff_t)cut.spanOffset))
    __builtin_trap();
  size_t kept = 0;
  for (const pe::Resource& r : before)
    if (!pe::SameKey(r.type, archive.type) || !pe::SameKey(r.name, archive.name)) kept++;
  if (after.size() < kept + 1) __builtin_trap();
  return 0;
}
