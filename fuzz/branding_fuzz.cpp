// The game's icon and a version resource read from hostile bytes: the .ico
// parser and the version resource reader must refuse or accept without
// reading outside the input, and whatever the .ico parser accepts lies
// inside the input and fits the resources it becomes.
#include <stddef.h>
#include <stdint.h>

#include "pack/icon.h"
#include "pack/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  std::vector<icon::Image> images;
  std::string error;
  if (icon::ParseIco(bytes, &images, &error)) {
    size_t total = 0;
    for (const icon::Image& i : images) total += i.data.size();
    if (images.empty() || images.size() > MAX_ICON_IMAGES || total > size) __builtin_trap();
    std::vector<pe::Resource> resources;
    icon::ReplaceIcons(&resources, images, 1041);
    if (resources.size() != images.size() + 1) __builtin_trap();
  }
  version_info::Info info;
  version_info::Read(bytes, &info, &error);
  return 0;
}
