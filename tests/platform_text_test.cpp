// Text helpers of platform/host/: code page 932 lead bytes, ASCII-only case
// folding, and the wsprintf subset with its output limit.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/win.h"

namespace {

std::string Format(const char* format, ...) {
  char buf[1100];
  va_list args;
  va_start(args, format);
  int n = wvsprintfA(buf, format, args);
  va_end(args);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
  return buf;
}

// ---- Code page 932 -------------------------------------------------------------

TEST(PlatformCodePage, LeadByteRangesAreExactlyThoseOf932) {
  EXPECT_FALSE(IsDBCSLeadByte(0x80));
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  EXPECT_TRUE(IsDBCSLeadByte(0x9F));
  EXPECT_FALSE(IsDBCSLeadByte(0xA0));  // half-width katakana are single bytes
  EXPECT_FALSE(IsDBCSLeadByte(0xDF));
  EXPECT_TRUE(IsDBCSLeadByte(0xE0));
  EXPECT_TRUE(IsDBCSLeadByte(0xFC));
  EXPECT_FALSE(IsDBCSLeadByte(0xFD));
  EXPECT_FALSE(IsDBCSLeadByte('\\'));
  EXPECT_EQ(GetACP(), 932u);
}

TEST(PlatformCodePage, CharNextStepsOverWholeCharacters) {
  const char* s = "\x83\x5C" "A";  // ソ then A
  const char* p = CharNextA(s);
  EXPECT_EQ(p, s + 2);
  p = CharNextA(p);
  EXPECT_EQ(p, s + 3);
  EXPECT_EQ(CharNextA(p), p);  // stays on the terminator
}

TEST(PlatformCodePage, CharNextDoesNotRunPastATruncatedCharacter) {
  const char s[] = "\x83";
  EXPECT_EQ(CharNextA(s), s + 1);
}

TEST(PlatformCodePage, SourceLiteralsArriveAsCp932Bytes) {
  EXPECT_EQ(std::string("ソ"), std::string("\x83\x5C"));
  EXPECT_EQ(std::string("完了"), std::string("\x8A\xAE\x97\xB9"));
}

// ---- Comparisons ------------------------------------------------------------------

TEST(PlatformCompare, CaseInsensitiveCompareFoldsAsciiLetters) {
  EXPECT_EQ(lstrcmpiA("update.ini", "UPDATE.INI"), 0);
  EXPECT_EQ(lstrcmpiA("a", "B"), -1);
  EXPECT_EQ(lstrcmpiA("B", "a"), 1);
  EXPECT_EQ(lstrcmpiA("abc", "ABCD"), -1);
  EXPECT_EQ(lstrcmpiA("", ""), 0);
}

// Equal exactly where the platform's compare is (the peer comparison holds
// the whole code page to it); these are the kinds of equality it knows.
TEST(PlatformCompare, CaseBlindCompareTakesCharactersAsTheCodePageConvertsThem) {
  struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"\x82\x60", "\x82\x81", true},    // Ａ ａ
      {"\x82\x60", "\x82\x82", false},   // Ａ ｂ
      {"\x83\x9f", "\x83\xbf", true},    // Α α
      {"\x84\x46", "\x84\x76", true},    // Ё ё
      {"\x87\x54", "\xfa\x40", true},    // Ⅰ ⅰ
      {"\xed\x40", "\xfa\x5c", true},    // one kanji, two codes
      {"\x85\x40", "\x81\x45", true},    // no character: the default one
      {"A\x81", "A\x81\x45", true},       // a lead byte at the end too
      {"\x81 ", "\x81\x45", true},        // and one before a byte that cannot follow it
      {"\xf0\x40", "\xf0\x41", false},   // user-defined characters are their own
      {"\xb0", "\x81\x5b", true},         // ｰ ー
      {"\xde", "\x81\x4a", true},         // ﾞ ゛
      {"\xb1", "\x83\x41", false},        // ｱ ア
      // The second byte of ア (0x83 0x41) is no letter: ア and ャ (0x83 0x61)
      // stay two characters.
      {"\x83\x41", "\x83\x61", false},
      {"\x83\x41x", "\x83\x41X", true},
      {"\x80", "\xa0", false},
      {"\xfd", "\xfe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(lstrcmpiA(c.a, c.b) == 0, c.equal) << c.a << " " << c.b;
  // Characters order by what they are: ASCII before kana.
  EXPECT_EQ(lstrcmpiA("z", "\x83\x41"), -1);
}

TEST(PlatformCompare, CaseSensitiveCompareSeesCaseOnlyBetweenOtherwiseEqualStrings) {
  EXPECT_EQ(lstrcmpA("a", "A"), -1);  // lower case first, as the word sort has it
  EXPECT_EQ(lstrcmpA("A", "a"), 1);
  EXPECT_EQ(lstrcmpA("a", "B"), -1);  // not byte order, where 'a' > 'B'
  EXPECT_EQ(lstrcmpA("same", "same"), 0);
  EXPECT_EQ(lstrcmpA("a", "ab"), -1);
  EXPECT_EQ(lstrcmpA("b", "a"), 1);
}

// ---- Copies and lengths -----------------------------------------------------------

TEST(PlatformStrings, CopyConcatenateAndLength) {
  char buf[16];
  EXPECT_EQ(lstrcpyA(buf, "abc"), buf);
  EXPECT_EQ(lstrcatA(buf, "def"), buf);
  EXPECT_STREQ(buf, "abcdef");
  EXPECT_EQ(lstrlenA(buf), 6);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA(""), 0);
}

TEST(PlatformStrings, BoundedCopyAlwaysTerminates) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  lstrcpynA(buf, "abcdefghij", 4);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(buf[4], 'x');  // nothing written past the limit
  lstrcpynA(buf, "ab", 8);
  EXPECT_STREQ(buf, "ab");
  buf[0] = 'q';
  lstrcpynA(buf, "zz", 0);  // no room at all: nothing written
  EXPECT_EQ(buf[0], 'q');
}

// ---- wsprintf ---------------------------------------------------------------------

TEST(PlatformFormat, IntegersWithWidthFlagsAndPrecision) {
  EXPECT_EQ(Format("UpdateFile%02i", 5), "UpdateFile05");
  EXPECT_EQ(Format("%02i", 123), "123");
  EXPECT_EQ(Format("[%5d]", -42), "[  -42]");
  EXPECT_EQ(Format("[%-5d]", 42), "[42   ]");
  EXPECT_EQ(Format("[%05i]", -42), "[-0042]");
  EXPECT_EQ(Format("[%.3d]", 7), "[007]");
  EXPECT_EQ(Format("%d", INT_MIN), "-2147483648");
  EXPECT_EQ(Format("%u", 4294967295u), "4294967295");
}

TEST(PlatformFormat, LongConversionsReadThirtyTwoBitArguments) {
  // LONG and DWORD are 32 bits: %lu must not read a 64-bit slot.
  DWORD big = 0xFFFFFFFFu;
  LONG negative = -7;
  EXPECT_EQ(Format("%lu %ld %li", big, negative, negative), "4294967295 -7 -7");
}

TEST(PlatformFormat, HexadecimalCases) {
  EXPECT_EQ(Format("%x", 0xBEEFu), "beef");
  EXPECT_EQ(Format("%X", 0xBEEFu), "BEEF");
  EXPECT_EQ(Format("%08X", 0x1Au), "0000001A");
  EXPECT_EQ(Format("%#x", 255u), "0xff");
}

TEST(PlatformFormat, StringsAndCharacters) {
  EXPECT_EQ(Format("[%s]", "abc"), "[abc]");
  EXPECT_EQ(Format("[%5s]", "ab"), "[   ab]");
  EXPECT_EQ(Format("[%-5s]", "ab"), "[ab   ]");
  EXPECT_EQ(Format("[%05s]", "ab"), "[   ab]");  // zero padding is for numbers only
  EXPECT_EQ(Format("[%-05d]", 42), "[42   ]");
  EXPECT_EQ(Format("[%.2s]", "abcdef"), "[ab]");
  EXPECT_EQ(Format("[%s]", static_cast<const char*>(nullptr)), "[(null)]");
  EXPECT_EQ(Format("%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("%s ドライブ", "C:"), "C: \x83\x68\x83\x89\x83\x43\x83\x75");
}

TEST(PlatformFormat, OutputStopsAtTheWindowsLimit) {
  std::string longText(2000, 'a');
  char buf[1100];
  std::memset(buf, '#', sizeof buf);
  // The count of a cut output is the whole buffer, as the platform reports it.
  int n = wsprintfA(buf, "%s", longText.c_str());
  EXPECT_EQ(n, 1024);
  EXPECT_EQ(buf[1023], 0);
  EXPECT_EQ(buf[1024], '#');  // not one byte beyond 1,024
  std::memset(buf, '#', sizeof buf);
  n = wsprintfA(buf, "%2000d", 1);
  EXPECT_EQ(n, 1024);
  EXPECT_EQ(wsprintfA(buf, "%s", std::string(1022, 'b').c_str()), 1022);
  EXPECT_EQ(buf[1024], '#');
}

}  // namespace
