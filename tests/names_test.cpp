// Entry names between UTF-8 and code page 932: exact both ways, and a name
// without an exact form is refused rather than changed into another file's
// name or, worse, into a path separator.
#include "pack/names.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

#include "archive/entry_name.h"

// Every compare the name index makes is an lstrcmpiA call; this program is
// linked with --wrap for that symbol (tests/CMakeLists.txt), so the calls
// pass through here and are counted: the index's work is bounded by a count,
// which no load on the machine changes.
static uint64_t compares = 0;
extern "C" int __real__Z9lstrcmpiAPKcS0_(const char* a, const char* b);
extern "C" int __wrap__Z9lstrcmpiAPKcS0_(const char* a, const char* b) {
  compares++;
  return __real__Z9lstrcmpiAPKcS0_(a, b);
}

namespace {

TEST(Utf8ToCp932, AsciiPassesUnchanged) {
  std::string out;
  ASSERT_TRUE(names::Utf8ToCp932("SOUND.PAK", &out));
  EXPECT_EQ(out, "SOUND.PAK");
  ASSERT_TRUE(names::Utf8ToCp932("", &out));
  EXPECT_EQ(out, "");
}

TEST(Utf8ToCp932, KanaAndKanjiBecomeTwoBytesEach) {
  std::string out;
  ASSERT_TRUE(names::Utf8ToCp932(u8"テスト.TXT", &out));
  EXPECT_EQ(out, "\x83\x65\x83\x58\x83\x67.TXT");
  // A kanji whose second byte is 0x5C ('\') in code page 932.
  ASSERT_TRUE(names::Utf8ToCp932(u8"表", &out));
  EXPECT_EQ(out, "\x95\x5C");
  // Half-width katakana are one byte.
  ASSERT_TRUE(names::Utf8ToCp932(u8"ｱ", &out));
  EXPECT_EQ(out, "\xB1");
}

TEST(Utf8ToCp932, CharactersOutsideTheCodePageAreRefused) {
  std::string out = "stale";
  EXPECT_FALSE(names::Utf8ToCp932("\xED\x95\x9C\xEA\xB8\x80.TXT" /* Hangul, UTF-8 */, &out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(names::Utf8ToCp932("\xF0\x9F\x98\x80.TXT" /* an emoji, UTF-8 */, &out));
  EXPECT_FALSE(names::Utf8ToCp932("\xC3\xA9.TXT" /* e with acute, UTF-8 */, &out));
}

TEST(Utf8ToCp932, OneWayLookAlikesAreRefused) {
  std::string out;
  // The yen sign would become 0x5C, a path separator for the updater.
  EXPECT_FALSE(names::Utf8ToCp932("\xC2\xA5" "100.TXT" /* U+00A5 */, &out));
  EXPECT_FALSE(names::Utf8ToCp932("\xE2\x80\xBE.TXT" /* U+203E */, &out));
  EXPECT_FALSE(names::Utf8ToCp932("A\xE3\x80\x9C" "B.TXT" /* U+301C */, &out));
  // Their code page 932 counterparts themselves are fine.
  EXPECT_TRUE(names::Utf8ToCp932(u8"A～B.TXT", &out));
  EXPECT_EQ(out, "A\x81\x60" "B.TXT");
}

TEST(Utf8ToCp932, InvalidUtf8IsRefused) {
  std::string out;
  EXPECT_FALSE(names::Utf8ToCp932("\xFF\xFE", &out));
  EXPECT_FALSE(names::Utf8ToCp932("A\xE3\x83", &out));  // cut inside a character
}

TEST(Cp932ToUtf8, DoubleByteCharactersBecomeUtf8) {
  std::string out;
  ASSERT_TRUE(names::Cp932ToUtf8("\x83\x65\x83\x58\x83\x67.TXT", &out));
  EXPECT_EQ(out, u8"テスト.TXT");
  ASSERT_TRUE(names::Cp932ToUtf8("\x95\x5C", &out));
  EXPECT_EQ(out, u8"表");
}

TEST(Cp932ToUtf8, ALeadByteWithoutItsTrailIsRefused) {
  std::string out;
  EXPECT_FALSE(names::Cp932ToUtf8("A\x83", &out));
  EXPECT_FALSE(names::Cp932ToUtf8("\x85\x40", &out));  // an unassigned code
}

}  // namespace

// ---- The index of entry names --------------------------------------------------

namespace {

// Every character the code page has (and the byte pairs it does not): the
// index is only right when names the updater calls equal share their key.
std::vector<std::string> EveryCharacter() {
  std::vector<std::string> all;
  for (int b = 1; b < 256; b++) all.push_back(std::string(1, (char)b));
  for (int lead = 0x81; lead <= 0xFC; lead++) {
    if (lead >= 0xA0 && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; trail++) all.push_back(std::string{(char)lead, (char)trail});
  }
  return all;
}

TEST(EntryNameIndex, NamesTheUpdaterCallsEqualShareTheirKey) {
  std::vector<std::string> all = EveryCharacter();
  // Against every ASCII character, the only ones the key tells apart.
  for (int a = 1; a < 128; a++) {
    std::string ascii(1, (char)a);
    for (const std::string& c : all) {
      if (SameEntryName(ascii.c_str(), c.c_str())) {
        ASSERT_EQ(names::EntryNameKey(ascii), names::EntryNameKey(c)) << a << " and " << c;
      }
    }
  }
  // Pairs the updater's rule joins across codes, within longer names.
  const std::pair<std::string, std::string> pairs[] = {
      {"sound.pak", "SOUND.PAK"},
      {"\x82\x60.DAT", "\x82\x81.dat"},      // full-width A and a
      {"\x87\x54", "\xFA\x4A"},              // Roman numeral one, NEC and IBM codes
      {"X\xED\x40", "x\xFA\x5C"},            // one kanji under two codes
      {"A\x81", "a\x81\x45"},                // a lead byte at the end, the default character
  };
  for (const auto& p : pairs) {
    ASSERT_TRUE(SameEntryName(p.first.c_str(), p.second.c_str())) << p.first;
    EXPECT_EQ(names::EntryNameKey(p.first), names::EntryNameKey(p.second)) << p.first;
  }
}

TEST(EntryNameIndex, FindsTheFirstOfEqualNamesAndTellsSharedKeysApart) {
  names::EntryNameIndex index;
  EXPECT_EQ(index.Insert("A.DAT", 0), -1);
  EXPECT_EQ(index.Insert("\x83\x41.DAT", 1), -1);  // same key as the next, a different name
  EXPECT_EQ(index.Insert("\x83\x43.DAT", 2), -1);
  EXPECT_EQ(index.Insert("a.dat", 3), 0);
  EXPECT_EQ(index.Find("\x83\x43.dat"), 2);
  EXPECT_EQ(index.Find("A.DA"), -1);
  EXPECT_EQ(index.Find(std::string("A.DAT\0X", 7)), 0);  // a name ends at its NUL
}

// Names of one length made only of kana share one key; an archive of them
// must still be indexed in a few compares a name (one compare per name
// against every other would be five billion here), with every name found
// and repeats refused.
TEST(EntryNameIndex, ManyNamesSharingOneKeyAreIndexedQuickly) {
  const size_t count = 100000;
  auto name = [](size_t i) {
    std::string s;
    for (int k = 0; k < 3; k++, i /= 63) s += std::string{'\x83', (char)(0x40 + i % 63)};  // katakana
    return s + ".D";
  };
  compares = 0;
  names::EntryNameIndex index;
  for (size_t i = 0; i < count; i++) ASSERT_EQ(index.Insert(name(i), i), -1) << i;
  for (size_t i = 0; i < count; i += 7) ASSERT_EQ(index.Find(name(i)), (long)i) << i;
  EXPECT_EQ(index.Insert(name(count / 2), count), (long)(count / 2));
  EXPECT_EQ(index.Find("\x83\x40\x83\x40\x83\x40.d"), 0);
  // About log2(count) = 17 compares a look-up; 64 a name leaves room for
  // any balanced tree, and none for a scan.
  EXPECT_GT(compares, count);
  EXPECT_LT(compares, count * 64);
}

}  // namespace
