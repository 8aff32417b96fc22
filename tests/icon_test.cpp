// The game's icon: an .ico file's images taken exactly, every claim of its
// directory checked, and the executable's icons replaced by them as one
// group that names each image.
#include "pack/icon.h"

#include <gtest/gtest.h>

#include <functional>

#include "cli/ico_fixture.h"

namespace {

using pe_fixture::Get16;
using pe_fixture::Get32;
using pe_fixture::Put16;
using pe_fixture::Put32;

std::vector<uint8_t> TwoImages() {
  return ico_fixture::Ico({ico_fixture::BitmapImage(16, 1), {32, 32, 0, 0, ico_fixture::Bitmap(32, 2)}});
}

TEST(Icon, ReadsEveryImageByteForByteAndFillsUnclaimedDepthFromTheBitmap) {
  std::vector<uint8_t> png = ico_fixture::PngLike(300);
  std::vector<uint8_t> file = ico_fixture::Ico(
      {ico_fixture::BitmapImage(16, 1), {32, 32, 0, 0, ico_fixture::Bitmap(32, 2)}, {0, 0, 0, 0, png}});
  std::vector<icon::Image> images;
  std::string error;
  ASSERT_TRUE(icon::ParseIco(file, &images, &error)) << error;
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].data, ico_fixture::Bitmap(16, 1));
  EXPECT_EQ(images[1].data, ico_fixture::Bitmap(32, 2));
  EXPECT_EQ(images[2].data, png);
  EXPECT_EQ(images[1].width, 32);
  EXPECT_EQ(images[1].planes, 1);     // from the bitmap header
  EXPECT_EQ(images[1].bitCount, 32);  // from the bitmap header
  EXPECT_EQ(images[2].bitCount, 0);   // a PNG keeps what its entry says
}

TEST(Icon, RefusesEveryMalformedFileWithOneLine) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"empty", [](std::vector<uint8_t>& f) { f.clear(); }},
      {"a cursor, not an icon", [](std::vector<uint8_t>& f) { Put16(f, 2, 2); }},
      {"reserved field set", [](std::vector<uint8_t>& f) { Put16(f, 0, 1); }},
      {"no images", [](std::vector<uint8_t>& f) { Put16(f, 4, 0); }},
      {"more images than any icon", [](std::vector<uint8_t>& f) { Put16(f, 4, 65); }},
      {"directory cut short", [](std::vector<uint8_t>& f) { f.resize(30); }},
      {"image past the end", [](std::vector<uint8_t>& f) { Put32(f, 6 + 16 + 8, Get32(f, 6 + 16 + 8) + 1); }},
      {"image size near 4 GiB", [](std::vector<uint8_t>& f) { Put32(f, 6 + 8, 0xFFFFFFF0u); }},
      {"offset near 4 GiB", [](std::vector<uint8_t>& f) { Put32(f, 6 + 12, 0xFFFFFFF0u); }},
      {"image inside the directory", [](std::vector<uint8_t>& f) { Put32(f, 6 + 12, 6); }},
      {"images sharing bytes", [](std::vector<uint8_t>& f) { Put32(f, 6 + 16 + 12, Get32(f, 6 + 12)); }},
      {"image too small", [](std::vector<uint8_t>& f) { Put32(f, 6 + 8, 20); }},
      {"neither bitmap nor PNG", [](std::vector<uint8_t>& f) { Put32(f, Get32(f, 6 + 12), 12); }},
      {"over 16 MiB", [](std::vector<uint8_t>& f) { f.resize(MAX_ICO_FILE_BYTES + 1); }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = TwoImages();
    c.damage(file);
    std::vector<icon::Image> images;
    std::string error;
    EXPECT_FALSE(icon::ParseIco(file, &images, &error)) << c.what;
    EXPECT_EQ(error.rfind("not a usable icon: ", 0), 0u) << c.what << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.what;
  }
}

TEST(Icon, ReplacesEveryIconAndGroupOfTheExecutableAndKeepsTheRest) {
  std::vector<pe::Resource> resources(4);
  resources[0].type = pe::KeyId(RT_ICON_ID);
  resources[0].name = pe::KeyId(7);
  resources[0].language = 1033;
  resources[1].type = pe::KeyId(RT_GROUP_ICON_ID);
  resources[1].name = pe::KeyString("MAINICON");
  resources[2].type = pe::KeyString("UPDATE");
  resources[2].name = pe::KeyId(102);
  resources[2].data = {1, 2, 3};
  resources[3].type = pe::KeyId(24);  // the application manifest
  resources[3].name = pe::KeyId(1);
  std::vector<icon::Image> images;
  std::string error;
  ASSERT_TRUE(icon::ParseIco(TwoImages(), &images, &error)) << error;
  icon::ReplaceIcons(&resources, images, 1041);

  ASSERT_EQ(resources.size(), 5u);
  EXPECT_TRUE(pe::SameKey(resources[0].type, pe::KeyString("UPDATE")));
  EXPECT_TRUE(pe::SameKey(resources[1].type, pe::KeyId(24)));
  for (size_t i = 0; i < 2; i++) {
    const pe::Resource& r = resources[2 + i];
    EXPECT_TRUE(pe::SameKey(r.type, pe::KeyId(RT_ICON_ID)));
    EXPECT_TRUE(pe::SameKey(r.name, pe::KeyId((uint16_t)(i + 1))));
    EXPECT_EQ(r.language, 1041);
    EXPECT_EQ(r.data, images[i].data);
  }
  const pe::Resource& group = resources[4];
  ASSERT_TRUE(pe::SameKey(group.type, pe::KeyId(RT_GROUP_ICON_ID)));
  EXPECT_TRUE(pe::SameKey(group.name, pe::KeyId(1)));
  EXPECT_EQ(group.language, 1041);
  // GRPICONDIR: reserved, type 1, count; then 14 bytes per image ending in
  // the RT_ICON id where the file had its offset.
  ASSERT_EQ(group.data.size(), 6u + 2 * 14);
  EXPECT_EQ(Get16(group.data, 2), 1);
  EXPECT_EQ(Get16(group.data, 4), 2);
  for (size_t i = 0; i < 2; i++) {
    size_t e = 6 + 14 * i;
    EXPECT_EQ(group.data[e], images[i].width);
    EXPECT_EQ(group.data[e + 1], images[i].height);
    EXPECT_EQ(Get16(group.data, e + 4), 1);
    EXPECT_EQ(Get16(group.data, e + 6), 32);
    EXPECT_EQ(Get32(group.data, e + 8), images[i].data.size());
    EXPECT_EQ(Get16(group.data, e + 12), i + 1);
  }
}

}  // namespace
