// The resource reader and writer on arbitrary executables, as build-exe and
// list use them: reading any image is bounded work, and whatever the writer
// makes of an image it read must read back with the archive unchanged and
// every other resource still there.
#include <stdint.h>

#include <string>
#include <vector>

#include "pack/pe_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image(data, data + size);
  std::vector<pe::Resource> before;
  std::string error;
  if (!pe::ReadResources(image, &before, &error)) return 0;
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
  std::vector<pe::Resource> after;
  if (!pe::ReadResources(built, &after, &error)) __builtin_trap();
  std::vector<uint8_t> carried;
  if (!pe::FindResourceData(built, archive.type, archive.name, &carried, &error) || carried != archive.data)
    __builtin_trap();
  size_t kept = 0;
  for (const pe::Resource& r : before)
    if (!pe::SameKey(r.type, archive.type) || !pe::SameKey(r.name, archive.name)) kept++;
  if (after.size() < kept + 1) __builtin_trap();
  return 0;
}
