// .ico files built in code: bitmap images (a BITMAPINFOHEADER, 32-bit
// pixels and the AND mask) and PNG-signed images, in one icon directory.
#pragma once

#include <stdint.h>

#include <vector>

#include "cli/pe_fixture.h"

namespace ico_fixture {

struct Image {
  uint8_t width, height;    // 0 stands for 256
  uint16_t planes, bitCount;  // as the directory entry claims them
  std::vector<uint8_t> data;
};

// A size x size 32-bit bitmap image whose pixels follow from seed.
inline std::vector<uint8_t> Bitmap(uint32_t size, uint8_t seed) {
  std::vector<uint8_t> b(40, 0);
  pe_fixture::Put32(b, 0, 40);
  pe_fixture::Put32(b, 4, size);
  pe_fixture::Put32(b, 8, size * 2);  // colour and mask rows
  pe_fixture::Put16(b, 12, 1);
  pe_fixture::Put16(b, 14, 32);
  for (uint32_t i = 0; i < size * size * 4; i++) b.push_back((uint8_t)(seed + i * 13));
  b.resize(b.size() + (size_t)((size + 31) / 32 * 4) * size, 0);  // AND mask: all shown
  return b;
}

// Bytes that begin with the PNG signature (the tool does not decode them).
inline std::vector<uint8_t> PngLike(size_t size) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  while (b.size() < size) b.push_back((uint8_t)b.size());
  return b;
}

inline Image BitmapImage(uint8_t size, uint8_t seed) { return {size, size, 1, 32, Bitmap(size, seed)}; }

inline std::vector<uint8_t> Ico(const std::vector<Image>& images) {
  std::vector<uint8_t> f(6, 0);
  pe_fixture::Put16(f, 2, 1);
  pe_fixture::Put16(f, 4, (uint16_t)images.size());
  size_t offset = 6 + 16 * images.size();
  for (const Image& i : images) {
    size_t e = f.size();
    f.resize(e + 16, 0);
    f[e] = i.width;
    f[e + 1] = i.height;
    pe_fixture::Put16(f, e + 4, i.planes);
    pe_fixture::Put16(f, e + 6, i.bitCount);
    pe_fixture::Put32(f, e + 8, (uint32_t)i.data.size());
    pe_fixture::Put32(f, e + 12, (uint32_t)offset);
    offset += i.data.size();
  }
  for (const Image& i : images) f.insert(f.end(), i.data.begin(), i.data.end());
  return f;
}

}  // namespace ico_fixture
