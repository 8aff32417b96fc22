// The game's icon for a built updater: the images of an .ico file become
// RT_ICON resources and their directory an RT_GROUP_ICON, the form in which
// Windows reads an executable's icon.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/pe_resource.h"

namespace icon {

#define RT_ICON_ID 3
#define RT_GROUP_ICON_ID 14
// More images than any icon carries; it bounds the directory a file claims.
#define MAX_ICON_IMAGES 64
// An .ico larger than this is no icon; the tool refuses it before reading.
#define MAX_ICO_FILE_BYTES (16u << 20)

struct Image {
  uint8_t width, height, colors;  // 0 means 256 (width, height) or none (colors)
  uint16_t planes, bitCount;
  std::vector<uint8_t> data;  // a DIB (BITMAPINFOHEADER first) or a PNG
};

// The images of an .ico file. False with a one-line reason when the file
// is not an icon, claims bytes it does not have, holds overlapping or
// too many images, or an image that is neither a DIB nor a PNG.
bool ParseIco(const std::vector<uint8_t>& file, std::vector<Image>* images, std::string* error);

// `resources` with every icon and icon group removed and `images` added in
// `language`: icons numbered from 1 and one group, id 1, naming them.
void ReplaceIcons(std::vector<pe::Resource>* resources, const std::vector<Image>& images, uint16_t language);

}  // namespace icon
