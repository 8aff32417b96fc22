// The version resource: version numbers read strictly, the record tree laid
// out as Windows reads it (fixed part, string table 041103A4 in UTF-16,
// translation 0x0411/932), Japanese texts kept exactly, and every damaged
// length refused by the reader.
#include "pack/version_info.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#include "pack/bytes_append.h"

namespace {

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> out;
  for (char16_t c : text) Append16(out, (uint16_t)c);
  return out;
}

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

TEST(VersionNumber, TakesOneToFourNumbersUpTo65535AndNothingElse) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t parts[4];
  };
  const Case cases[] = {
      {"1", true, {1, 0, 0, 0}},          {"1.10", true, {1, 10, 0, 0}},
      {"1.10.0.0", true, {1, 10, 0, 0}},  {"65535.0.7.00012", true, {65535, 0, 7, 12}},
      {"", false, {}},                    {"1.", false, {}},
      {".1", false, {}},                  {"1..2", false, {}},
      {"1.2.3.4.5", false, {}},           {"65536", false, {}},
      {"000001", false, {}},              {"1.-2", false, {}},
      {"1.2a", false, {}},                {" 1", false, {}},
      {"1.2 ", false, {}},                {"１.２", false, {}},
  };
  for (const Case& c : cases) {
    uint16_t parts[4];
    EXPECT_EQ(version_info::ParseVersionNumber(c.text, parts), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(memcmp(parts, c.parts, sizeof(parts)), 0) << c.text;
    }
  }
}

TEST(VersionResource, JapaneseStringsAndBothVersionsReadBackExactly) {
  version_info::Strings strings = {{"FileVersion", "1.10.0.0"},
                                   {"ProductName", u8"ドラゴン表示ソフト"},
                                   {"CompanyName", u8"株式会社サンプル"},
                                   {"LegalCopyright", u8"(C) 2026 サンプル"}};
  std::vector<uint8_t> data;
  std::string error;
  ASSERT_TRUE(version_info::Build(strings, &data, &error)) << error;
  version_info::Info info;
  ASSERT_TRUE(version_info::Read(data, &info, &error)) << error;
  const uint16_t expected[4] = {1, 10, 0, 0};
  EXPECT_EQ(memcmp(info.fileVersion, expected, sizeof(expected)), 0);
  EXPECT_EQ(memcmp(info.productVersion, expected, sizeof(expected)), 0);  // defaults to the file's
  EXPECT_EQ(info.table, "041103A4");
  EXPECT_EQ(info.strings, strings);

  // The layout Windows reads: the root's length is the whole resource, the
  // fixed part follows the key at offset 40 with its signature, the texts
  // are UTF-16, and the translation (0x0411, 932) ends the resource.
  EXPECT_EQ(Load16(&data[0]), data.size());
  EXPECT_EQ(Load16(&data[2]), 52);
  EXPECT_EQ(Load32(&data[40]), 0xFEEF04BDu);
  EXPECT_TRUE(Contains(data, Utf16Bytes(u"041103A4")));
  EXPECT_TRUE(Contains(data, Utf16Bytes(u"ドラゴン表示ソフト")));
  std::vector<uint8_t> tail(data.end() - 4, data.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{0x11, 0x04, 0xA4, 0x03}));
}

TEST(VersionResource, ProductVersionOfItsOwnGoesIntoTheFixedPart) {
  std::vector<uint8_t> data;
  std::string error;
  ASSERT_TRUE(version_info::Build({{"ProductVersion", "2.0"}, {"FileVersion", "1.2.3.4"}}, &data, &error)) << error;
  version_info::Info info;
  ASSERT_TRUE(version_info::Read(data, &info, &error)) << error;
  EXPECT_EQ(info.fileVersion[3], 4);
  EXPECT_EQ(info.productVersion[0], 2);
  EXPECT_EQ(info.productVersion[1], 0);
}

TEST(VersionResource, RefusesWhatWouldBeWrongOnAPlayersMachineWithOneLine) {
  struct Case {
    version_info::Strings strings;
    const char* says;
  };
  const Case cases[] = {
      {{{"FileVersion", "1.0"}, {"Productname", "x"}}, "unknown version key 'Productname'"},
      {{{"FileVersion", "1.0"}, {"FileVersion", "1.1"}}, "given twice"},
      {{{"FileVersion", "1.0"}, {"Comments", ""}}, "has no value"},
      {{{"ProductName", "x"}}, "needs FileVersion (1 to 4 numbers"},
      {{{"FileVersion", "1.0.0.0.0"}}, "not a version number"},
      {{{"FileVersion", "1.0"}, {"ProductVersion", "v2"}}, "not a version number"},
      {{{"FileVersion", "1.0"}, {"ProductName", u8"絵文字😀"}}, u8"the character 😀 (U+1F600) has no code page 932 form"},
      {{{"FileVersion", "1.0"}, {"LegalCopyright", u8"© 2026 Maker"}}, u8"the character © (U+00A9) has no code page 932 form"},
      {{{"FileVersion", "1.0"}, {"ProductName", "ab\xE3\x81"}}, "byte 0xE3 is not UTF-8 text"},
      {{{"FileVersion", "1.0"}, {"Comments", std::string(513, 'a')}}, "over 512"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(version_info::Build(c.strings, &data, &error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(VersionResource, EveryCutOrOverstatedLengthIsRefusedByTheReader) {
  std::vector<uint8_t> data;
  std::string error;
  ASSERT_TRUE(version_info::Build({{"FileVersion", "1.0"}, {"ProductName", u8"製品"}}, &data, &error)) << error;
  version_info::Info info;
  for (size_t cut = 0; cut < data.size(); cut++) {
    std::vector<uint8_t> part(data.begin(), data.begin() + (std::ptrdiff_t)cut);
    EXPECT_FALSE(version_info::Read(part, &info, &error)) << "cut at " << cut;
  }
  // Each record the reader walks in turn claims more bytes than its parent has.
  for (const char16_t* key : {u"VS_VERSION_INFO", u"StringFileInfo", u"041103A4", u"ProductName", u"VarFileInfo"}) {
    std::vector<uint8_t> name = Utf16Bytes(key);
    size_t at = (size_t)(std::search(data.begin(), data.end(), name.begin(), name.end()) - data.begin()) - 6;
    ASSERT_LT(at, data.size());
    std::vector<uint8_t> bad = data;
    uint16_t more = (uint16_t)(bad.size() - at + 2);
    Store16(&bad[at], more);
    EXPECT_FALSE(version_info::Read(bad, &info, &error)) << "record at " << at;
  }
}

// A String record whose type says binary counts its value in bytes, not
// characters: read as characters it ran on into the next record (or, the
// last one, past the resource). The value is taken no further than its
// length in bytes, whichever way the record counts.
TEST(VersionResource, AValueIsReadNoFurtherThanItsRecordSaysWhateverItsType) {
  std::vector<uint8_t> data;
  std::string error;
  ASSERT_TRUE(version_info::Build({{"FileVersion", "1.0"}, {"Comments", "ABCD"}}, &data, &error)) << error;
  std::vector<uint8_t> key = Utf16Bytes(u"Comments");
  size_t at = (size_t)(std::search(data.begin(), data.end(), key.begin(), key.end()) - data.begin()) - 6;
  ASSERT_LT(at, data.size());
  size_t value = (at + 6 + key.size() + 2 + 3) / 4 * 4;
  ASSERT_EQ(data[value], 'A');
  struct Case {
    uint16_t valueLength, type;
    const char* reads;
  };
  const Case cases[] = {
      {4, 1, "ABCD"},  // text: four characters
      {4, 0, "AB"},    // binary: four bytes, two characters
      {5, 0, "AB"},    // an odd byte is no character
      {0, 0, ""},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = data;
    Store16(&bad[at + 2], c.valueLength);
    Store16(&bad[at + 4], c.type);
    // Without a NUL where the value ends, only its length can stop the read.
    bad[value + 8] = 'X';
    version_info::Info info;
    ASSERT_TRUE(version_info::Read(bad, &info, &error)) << error;
    ASSERT_EQ(info.strings.size(), 2u);
    EXPECT_EQ(info.strings[1].second, c.reads) << c.valueLength << "/" << c.type;
  }
}

}  // namespace
