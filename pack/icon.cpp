// .ico:      ICONDIR (reserved 0, type 1, count) then count 16-byte entries
//            (width, height, colors, reserved, planes, bitCount, bytes, offset)
// resource:  the same header, entries of 14 bytes whose last field is the
//            RT_ICON id in place of the file offset.
#include "pack/icon.h"

#include <algorithm>
#include <string.h>

#include "pack/bytes_append.h"

namespace icon {
namespace {

#define ICO_HEADER 6
#define ICO_ENTRY 16
#define DIB_HEADER 40
#define ICON_TYPE 1

bool Refuse(std::string* error, const std::string& why) {
  *error = "not a usable icon: " + why;
  return false;
}

const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

bool ParseIco(const std::vector<uint8_t>& file, std::vector<Image>* images, std::string* error) {
  images->clear();
  if (file.size() > MAX_ICO_FILE_BYTES) return Refuse(error, "larger than 16 MiB");
  if (file.size() < ICO_HEADER || Load16(&file[0]) != 0 || Load16(&file[2]) != ICON_TYPE)
    return Refuse(error, "no icon header");
  uint16_t count = Load16(&file[4]);
  if (count == 0) return Refuse(error, "it holds no image");
  if (count > MAX_ICON_IMAGES) return Refuse(error, "more than 64 images");
  size_t directoryEnd = ICO_HEADER + (size_t)count * ICO_ENTRY;
  if (directoryEnd > file.size()) return Refuse(error, "the image directory is cut short");
  struct Span {
    uint64_t begin, end;
  };
  std::vector<Span> spans;
  for (uint16_t i = 0; i < count; i++) {
    size_t e = ICO_HEADER + (size_t)i * ICO_ENTRY;
    uint32_t size = Load32(&file[e + 8]), offset = Load32(&file[e + 12]);
    std::string which = "image " + std::to_string(i + 1);
    if (offset < directoryEnd || offset > file.size() || size > file.size() - offset)
      return Refuse(error, which + " lies outside the file");
    if (size < DIB_HEADER) return Refuse(error, which + " is too small to be an image");
    // Images never share bytes: with that, all of them together are at
    // most the file, however many the directory names.
    for (const Span& s : spans)
      if (offset < s.end && s.begin < (uint64_t)offset + size) return Refuse(error, which + " overlaps another");
    spans.push_back({offset, (uint64_t)offset + size});
    Image image;
    image.width = file[e];
    image.height = file[e + 1];
    image.colors = file[e + 2];
    image.planes = Load16(&file[e + 4]);
    image.bitCount = Load16(&file[e + 6]);
    image.data.assign(file.begin() + offset, file.begin() + offset + size);
    bool png = memcmp(image.data.data(), kPng, sizeof(kPng)) == 0;
    if (!png) {
      if (Load32(&image.data[0]) != DIB_HEADER) return Refuse(error, which + " is neither a bitmap nor a PNG");
      // Entries often leave these 0; the group must name them for Windows
      // to pick the image that fits a display.
      if (image.planes == 0) image.planes = Load16(&image.data[12]);
      if (image.bitCount == 0) image.bitCount = Load16(&image.data[14]);
    }
    images->push_back(std::move(image));
  }
  return true;
}

void ReplaceIcons(std::vector<pe::Resource>* resources, const std::vector<Image>& images, uint16_t language) {
  resources->erase(std::remove_if(resources->begin(), resources->end(),
                                  [](const pe::Resource& r) {
                                    return !r.type.isString && (r.type.id == RT_ICON_ID || r.type.id == RT_GROUP_ICON_ID);
                                  }),
                   resources->end());
  pe::Resource group;
  group.type = pe::KeyId(RT_GROUP_ICON_ID);
  group.name = pe::KeyId(1);
  group.language = language;
  Append16(group.data, 0);
  Append16(group.data, ICON_TYPE);
  Append16(group.data, (uint16_t)images.size());
  for (size_t i = 0; i < images.size(); i++) {
    const Image& image = images[i];
    group.data.push_back(image.width);
    group.data.push_back(image.height);
    group.data.push_back(image.colors);
    group.data.push_back(0);
    Append16(group.data, image.planes);
    Append16(group.data, image.bitCount);
    uint32_t size = (uint32_t)image.data.size();
    Append32(group.data, size);
    Append16(group.data, (uint16_t)(i + 1));
    pe::Resource r;
    r.type = pe::KeyId(RT_ICON_ID);
    r.name = pe::KeyId((uint16_t)(i + 1));
    r.language = language;
    r.data = image.data;
    resources->push_back(std::move(r));
  }
  resources->push_back(std::move(group));
}

}  // namespace icon
