// GetPrivateProfileStringA as the platform's profile rules (platform/
// profile_rules) answer it on hosts without Windows: the rules that real
// profiles depend on. (tests/peer/ proves the same answers against a Win32
// implementation under Wine; these run everywhere, without Wine.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "double/scripted_win32.h"
#include "platform/host/win32_api.h"
#include "support/profile_writer.h"

namespace {

struct Answer {
  DWORD count;
  std::string bytes;  // the buffer up to and including the first NUL
  std::vector<unsigned char> raw;
};

class PlatformProfile : public ::testing::Test {
 protected:
  std::string File(const std::string& bytes) { return folder_.Write("T.INI", bytes); }

  Answer Ask(const std::string& path, const char* section, const char* key, DWORD capacity = MAX_PATH,
             const char* def = "") {
    Answer a;
    a.raw.assign(capacity + 4, 0xCC);
    a.count = GetPrivateProfileStringA(section, key, def, reinterpret_cast<LPSTR>(a.raw.data()), capacity, path.c_str());
    size_t n = 0;
    while (n < a.raw.size() && a.raw[n] != 0) n++;
    a.bytes.assign(reinterpret_cast<const char*>(a.raw.data()), n);
    return a;
  }
  std::string Value(const std::string& path, const char* section, const char* key) {
    return Ask(path, section, key).bytes;
  }

  ProfileFolder folder_;
};

// ---- lines ----------------------------------------------------------------------------------

TEST_F(PlatformProfile, CrLfLfAndCrLineEndsAllSplitLines) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    std::string path = File(IniText({"[S]", "A=1", "B=2"}, eol));
    EXPECT_EQ(Value(path, "S", "A"), "1") << "eol " << (int)eol[0];
    EXPECT_EQ(Value(path, "S", "B"), "2");
  }
  std::string mixed = File("[S]\r\nA=1\rB=2\nC=3");
  EXPECT_EQ(Value(mixed, "S", "A"), "1");
  EXPECT_EQ(Value(mixed, "S", "B"), "2");
  EXPECT_EQ(Value(mixed, "S", "C"), "3");
}

TEST_F(PlatformProfile, MissingFinalNewlineKeepsTheLastValue) {
  std::string path = File(IniText({"[S]", "A=1", "B=last"}, "\r\n", false));
  EXPECT_EQ(Value(path, "S", "B"), "last");
}

TEST_F(PlatformProfile, BlanksAroundNamesAndValuesAreTrimmedInsideKept) {
  std::string path = File(IniText({"  [S]  ", "  Key1  =  value with spaces  ", "\tKey2\t=\ta\tb\t", "my key = v",
                                   "Eq=a=b", "Z=z\x1a"}));
  EXPECT_EQ(Value(path, "S", "Key1"), "value with spaces");
  EXPECT_EQ(Value(path, "S", "Key2"), "a\tb");
  EXPECT_EQ(Value(path, "S", "my key"), "v");
  EXPECT_EQ(Value(path, "S", "Eq"), "a=b");
  EXPECT_EQ(Value(path, "S", "Z"), "z") << "Ctrl-Z counts as a blank";
  EXPECT_EQ(Value(path, " S ", " Key1 "), "value with spaces") << "requested names are trimmed too";
}

TEST_F(PlatformProfile, IdeographicSpaceIsTextNotBlank) {
  std::string path = File(IniText({"[S]", "W=\x81\x40\x92\x6c\x81\x40"}));
  EXPECT_EQ(Value(path, "S", "W"), "\x81\x40\x92\x6c\x81\x40");
}

TEST_F(PlatformProfile, LinesWithoutEqualsAreKeysWithoutValue) {
  std::string path = File(IniText({"[S]", "justakey", ";comment=x", "k=v"}));
  Answer a = Ask(path, "S", "justakey", MAX_PATH, "dflt");
  EXPECT_EQ(a.bytes, "dflt") << "a key without value reads as missing";
  EXPECT_EQ(Value(path, "S", ";comment"), "x") << "comment lines are ordinary keys";
  EXPECT_EQ(Value(path, "S", "k"), "v");
}

TEST_F(PlatformProfile, KeysBeforeTheFirstSectionBelongToTheUnnamedSection) {
  std::string path = File(IniText({"top=1", "[S]", "k=2"}));
  EXPECT_EQ(Value(path, "", "top"), "1");
  EXPECT_EQ(Value(path, "S", "top"), "");
}

// ---- sections and names ------------------------------------------------------------------------

TEST_F(PlatformProfile, NamesCompareWithoutAsciiCase) {
  std::string path = File(IniText({"[Setup]", "GAMEEXE=game.exe"}));
  EXPECT_EQ(Value(path, "SETUP", "gameexe"), "game.exe");
  EXPECT_EQ(Value(path, "sEtUp", "GameExe"), "game.exe");
}

TEST_F(PlatformProfile, FullWidthLettersAreNotFolded) {
  // ＳＥＴＵＰ and ｓｅｔｕｐ are different names.
  std::string path = File(IniText({"[\x82\x72\x82\x64\x82\x73\x82\x74\x82\x6f]", "k=v"}));
  EXPECT_EQ(Value(path, "\x82\x72\x82\x64\x82\x73\x82\x74\x82\x6f", "k"), "v");
  EXPECT_EQ(Value(path, "\x82\x92\x82\x85\x82\x94\x82\x95\x82\x90", "k"), "");
}

TEST_F(PlatformProfile, FirstSectionAndFirstKeyOfANameWin) {
  std::string path = File(IniText({"[A]", "k=1", "k=2", "[B]", "k=3", "[A]", "k=4", "j=5", "[a]", "m=6"}));
  EXPECT_EQ(Value(path, "A", "k"), "1");
  EXPECT_EQ(Value(path, "A", "j"), "") << "a repeated section is never searched";
  EXPECT_EQ(Value(path, "A", "m"), "");
  EXPECT_EQ(Value(path, "B", "k"), "3");
}

TEST_F(PlatformProfile, SectionHeadersRunToTheLastBracketAndAreTrimmed) {
  std::string path = File(IniText({"[ SP ]", "k=sp", "[bad", "badkey=1", "[a]b]", "k=ab", "[T] junk", "k=t"}));
  EXPECT_EQ(Value(path, "SP", "k"), "sp");
  EXPECT_EQ(Value(path, "SP", "badkey"), "1") << "a '[' line without ']' is ignored";
  EXPECT_EQ(Value(path, "a]b", "k"), "ab");
  EXPECT_EQ(Value(path, "T", "k"), "t");
}

// ---- values ------------------------------------------------------------------------------------------

TEST_F(PlatformProfile, MatchingQuotesAreUnwrapped) {
  std::string path = File(IniText({"[Q]", "Q1=\"abc\"", "Q2='abc'", "Q3=\"abc'", "Q4=\"", "Q5=\"\"",
                                   "Q7=\" spaced \"", "Q8=\"a\"b\"", "Q9=x\"y\""}));
  EXPECT_EQ(Value(path, "Q", "Q1"), "abc");
  EXPECT_EQ(Value(path, "Q", "Q2"), "abc");
  EXPECT_EQ(Value(path, "Q", "Q3"), "\"abc'");
  EXPECT_EQ(Value(path, "Q", "Q4"), "\"");
  EXPECT_EQ(Value(path, "Q", "Q5"), "");
  EXPECT_EQ(Value(path, "Q", "Q7"), " spaced ");
  EXPECT_EQ(Value(path, "Q", "Q8"), "a\"b");
  EXPECT_EQ(Value(path, "Q", "Q9"), "x\"y\"");
}

TEST_F(PlatformProfile, QuotedValueCutByTheCapacity) {
  std::string path = File(IniText({"[Q]", "Q1=\"abc\""}));
  EXPECT_EQ(Ask(path, "Q", "Q1", 3).bytes, "ab");
  EXPECT_EQ(Ask(path, "Q", "Q1", 4).bytes, "ab");
  EXPECT_EQ(Ask(path, "Q", "Q1", 5).bytes, "abc");
}

TEST_F(PlatformProfile, LongValueIsCutToCapacityMinusOneAndCounted) {
  std::string path = File(IniText({"[S]", "V=" + std::string(300, 'x')}));
  Answer a = Ask(path, "S", "V", MAX_PATH);
  EXPECT_EQ(a.count, 259u);
  EXPECT_EQ(a.bytes, std::string(259, 'x'));
  EXPECT_EQ(a.raw[MAX_PATH], 0xCC) << "nothing written past the capacity";
  Answer one = Ask(path, "S", "V", 1);
  EXPECT_EQ(one.count, 0u);
  EXPECT_EQ(one.raw[0], 0);
  EXPECT_EQ(one.raw[1], 0xCC);
}

TEST_F(PlatformProfile, DoubleByteCharacterIsNeverSplitByTheCut) {
  // ソフト: three two-byte characters. Capacity 4 holds one character; the
  // count still says 3 and the byte the second character could not fill is
  // left as it was.
  std::string path = File(IniText({"[S]", "V=\x83\x5c\x83\x74\x83\x67"}));
  Answer a = Ask(path, "S", "V", 4);
  EXPECT_EQ(a.count, 3u);
  EXPECT_EQ(a.raw[0], 0x83);
  EXPECT_EQ(a.raw[1], 0x5C);
  EXPECT_EQ(a.raw[2], 0xCC);
  EXPECT_EQ(a.raw[3], 0x00);
  Answer b = Ask(path, "S", "V", 5);
  EXPECT_EQ(b.count, 4u);
  EXPECT_EQ(b.bytes, "\x83\x5c\x83\x74");
}

TEST_F(PlatformProfile, CodePage932BytesPassUnchanged) {
  std::string path = File(IniText({"[\x90\xdd\x92\xe8]", "\x95\x5c\x8e\xa6=DATA\\\x83\x5c\x83\x74\x83\x67\\A.DAT",
                                   "kana=\xb1\xb2\xb3"}));
  EXPECT_EQ(Value(path, "\x90\xdd\x92\xe8", "\x95\x5c\x8e\xa6"), "DATA\\\x83\x5c\x83\x74\x83\x67\\A.DAT");
  EXPECT_EQ(Value(path, "\x90\xdd\x92\xe8", "kana"), "\xb1\xb2\xb3");
}

TEST_F(PlatformProfile, ByteOrderMarkAndNulBytes) {
  std::string bom = folder_.Write("BOM.INI", "\xEF\xBB\xBF[S]\r\nA=bom\r\n");
  EXPECT_EQ(Value(bom, "S", "A"), "bom");
  std::string nul = folder_.Write("NUL.INI", std::string("[S]\r\nk=ab\0cd\r\nj=1\r\n\r", 21));
  EXPECT_EQ(Value(nul, "S", "k"), "ab") << "a NUL ends the value";
  EXPECT_EQ(Value(nul, "S", "j"), "1");
}

// ---- defaults and absent files ---------------------------------------------------------------------

TEST_F(PlatformProfile, DefaultIsUsedWhenNothingIsFound) {
  std::string path = File(IniText({"[S]", "k=v", "e="}));
  EXPECT_EQ(Ask(path, "S", "nope", MAX_PATH, "fallback").bytes, "fallback");
  EXPECT_EQ(Ask(path, "S", "k", MAX_PATH, "fallback").bytes, "v");
  Answer empty = Ask(path, "S", "e", MAX_PATH, "fallback");
  EXPECT_EQ(empty.count, 0u) << "an empty value is a value";
  EXPECT_EQ(Ask(path, "S", "nope", MAX_PATH, "d  ").bytes, "d") << "trailing blanks of the default go";
  EXPECT_EQ(Ask(path, "S", "nope", 3, "dflt").bytes, "df");
  Answer none = Ask(path, "S", "nope", MAX_PATH, nullptr);
  EXPECT_EQ(none.count, 0u);
  EXPECT_EQ(none.raw[0], 0);
}

TEST_F(PlatformProfile, AbsentFileOrUnmappedDriveGivesTheDefault) {
  EXPECT_EQ(Ask(folder_.WindowsPath("NONE.INI"), "S", "k", MAX_PATH, "d").bytes, "d");
  Answer unmapped = Ask("Q:\\NONE.INI", "S", "k", MAX_PATH, "");
  EXPECT_EQ(unmapped.count, 0u);
  EXPECT_EQ(unmapped.raw[0], 0);
}

// ---- enumeration forms ---------------------------------------------------------------------------------

TEST_F(PlatformProfile, NullSectionListsSectionNames) {
  std::string path = File(IniText({"[A]", "k=1", "[B]", "[A]", "[a]"}));
  Answer a = Ask(path, nullptr, "ignored", MAX_PATH);
  EXPECT_EQ(a.count, 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.raw.data()), 9), std::string("A\0B\0A\0a\0\0", 9));
  Answer cut = Ask(path, nullptr, "ignored", 5);
  EXPECT_EQ(cut.count, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.raw.data()), 4), std::string("A\0B\0", 4));
}

TEST_F(PlatformProfile, NullKeyListsKeysWithValues) {
  std::string path = File(IniText({"[S]", "justakey", "k=v", ";comment=x", "#hash=y"}));
  Answer a = Ask(path, "S", nullptr, MAX_PATH);
  EXPECT_EQ(a.count, 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.raw.data()), 9), std::string("k\0#hash\0\0", 9));
  EXPECT_EQ(Ask(path, "nosuch", nullptr, MAX_PATH, "dflt").bytes, "dflt");
}

}  // namespace
