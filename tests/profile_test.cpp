// Profile readers, missing-key reporting and field lists.
#include "config/profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "app/state.h"
#include "double/scripted_win32.h"
#include "fs/error_box.h"
#include "support/profile_writer.h"

namespace {

// The messages' fixed parts as code page 932 bytes, spelled out so that the
// test pins the encoding and not just the source text.
const std::string kMissingTail = "\x20\x83\x4c\x81\x5b\x82\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xdc\x82\xb9\x82\xf1";  // " キーが存在しません"
const std::string kTorvanek = "TORVANEK";

class FieldListTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetConfigState(); }

  // Takes the next field into a FIELD_SLOT-byte slot.
  FieldResult Next(LPCSTR* cursor) { return NextField(slot_, sizeof(slot_), cursor); }
  std::string Slot() const { return slot_; }

  char slot_[FIELD_SLOT];
};

// ---- field ends -----------------------------------------------------------------

TEST(IsFieldEndTest, NulLineEndsAndCommaEndFieldsNothingElse) {
  for (int c = 0; c < 256; c++) {
    bool expected = c == 0 || c == '\n' || c == '\r' || c == ',';
    EXPECT_EQ(IsFieldEnd((BYTE)c), expected ? 1 : 0) << "byte " << c;
  }
}

// ---- splitting ---------------------------------------------------------------------

TEST_F(FieldListTest, CommaSeparatedFieldsComeInOrderThenNone) {
  LPCSTR cursor = "a,b,c";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "a");
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "b");
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "c");
  EXPECT_EQ(Next(&cursor), FIELD_NONE);
}

TEST_F(FieldListTest, LeadingSpacesAreDroppedTrailingSpacesKept) {
  LPCSTR cursor = "  a , b";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "a ");
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "b");
  EXPECT_EQ(Next(&cursor), FIELD_NONE);
}

TEST_F(FieldListTest, TabIsFieldTextNotBlank) {
  LPCSTR cursor = "\ta";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "\ta");
}

TEST_F(FieldListTest, EmptyFieldEndsTheListForGood) {
  const char* text = "a,,b";
  LPCSTR cursor = text;
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "a");
  strcpy(slot_, "untouched");
  EXPECT_EQ(Next(&cursor), FIELD_NONE);
  EXPECT_EQ(Slot(), "untouched") << "no field, nothing written";
  EXPECT_EQ(cursor, text + 2) << "cursor stays on the field end";
  EXPECT_EQ(Next(&cursor), FIELD_NONE) << "b is never reached";
}

TEST_F(FieldListTest, EmptyTextOrLeadingCommaHasNoField) {
  LPCSTR empty = "";
  EXPECT_EQ(Next(&empty), FIELD_NONE);
  LPCSTR comma = ",a";
  EXPECT_EQ(Next(&comma), FIELD_NONE);
  LPCSTR blanks = "   ";
  EXPECT_EQ(Next(&blanks), FIELD_NONE);
}

TEST_F(FieldListTest, LineEndsEndFieldsLikeCommas) {
  LPCSTR cursor = "a\rb\nc";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "a");
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "b");
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "c");
  LPCSTR crlf = "a\r\nb";
  ASSERT_EQ(Next(&crlf), FIELD_TAKEN);
  EXPECT_EQ(Next(&crlf), FIELD_NONE) << "the LF after CR is an empty field";
}

TEST_F(FieldListTest, DoubleByteTextWithBackslashTrailBytesPassesWhole) {
  // 表 and ソ end in 0x5C; none of the syntax bytes is a trail byte.
  LPCSTR cursor = "\x95\x5c,\x83\x5c\x83\x74\x83\x67";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "\x95\x5c");
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "\x83\x5c\x83\x74\x83\x67");
}

TEST_F(FieldListTest, SourceTextIsLeftAsItWas) {
  char text[] = " 1:a, b,c";
  const std::string before(text, sizeof(text));
  LPCSTR cursor = text;
  while (Next(&cursor) == FIELD_TAKEN) {
  }
  EXPECT_EQ(std::string(text, sizeof(text)), before);
}

// ---- disk prefixes ------------------------------------------------------------------

TEST_F(FieldListTest, DiskPrefixesSetTheNumberAndCarryOver) {
  LPCSTR cursor = "1:a,b,2:c,d";
  const char* names[] = {"a", "b", "c", "d"};
  const int disks[] = {1, 1, 2, 2};
  for (int i = 0; i < 4; i++) {
    ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
    EXPECT_EQ(Slot(), names[i]);
    EXPECT_EQ(FieldDiskNumber, disks[i]) << "after field " << i;
  }
  EXPECT_EQ(Next(&cursor), FIELD_NONE);
}

TEST_F(FieldListTest, DriveLetterIsAPrefixOfValueZero) {
  FieldDiskNumber = 5;
  LPCSTR cursor = "C:\\GAME";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "\\GAME");
  EXPECT_EQ(FieldDiskNumber, 0);
}

TEST_F(FieldListTest, SpaceBehindPrefixIsFieldText) {
  LPCSTR cursor = " 2: x";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), " x");
  EXPECT_EQ(FieldDiskNumber, 2);
}

TEST_F(FieldListTest, TwoDigitsBeforeColonAreNoPrefix) {
  FieldDiskNumber = 7;
  LPCSTR cursor = "12:a";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "12:a");
  EXPECT_EQ(FieldDiskNumber, 7);
}

TEST_F(FieldListTest, PrefixAloneIsAnEmptyField) {
  LPCSTR cursor = "3:";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "");
  EXPECT_EQ(FieldDiskNumber, 3);
  EXPECT_EQ(Next(&cursor), FIELD_NONE);
}

TEST_F(FieldListTest, PrefixBeforeCommaIsAnEmptyFieldAndTheListGoesOn) {
  LPCSTR cursor = "4:,b";
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "");
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "b");
  EXPECT_EQ(FieldDiskNumber, 4);
}

TEST_F(FieldListTest, DiskNumberSurvivesFromListToList) {
  LPCSTR first = "9:a";
  ASSERT_EQ(Next(&first), FIELD_TAKEN);
  LPCSTR second = "b";
  ASSERT_EQ(Next(&second), FIELD_TAKEN);
  EXPECT_EQ(FieldDiskNumber, 9);
}

// ---- bounds -----------------------------------------------------------------------------

TEST_F(FieldListTest, CallsAfterTheLastFieldNeverReadPastTheText) {
  // The text fills its heap block to the last byte: AddressSanitizer builds
  // catch any read behind the NUL.
  const char text[] = "a,b";
  std::unique_ptr<char[]> exact(new char[sizeof(text)]);
  memcpy(exact.get(), text, sizeof(text));
  LPCSTR cursor = exact.get();
  EXPECT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Next(&cursor), FIELD_TAKEN);
  for (int i = 0; i < 4; i++) EXPECT_EQ(Next(&cursor), FIELD_NONE);
  EXPECT_EQ(cursor, exact.get() + 3) << "cursor parks on the terminating NUL";
}

TEST_F(FieldListTest, FieldFillingTheSlotToTheLastByteIsTaken) {
  std::string field(FIELD_SLOT - 1, 'x');
  std::string text = field + ",y";
  LPCSTR cursor = text.c_str();
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), field);
  ASSERT_EQ(Next(&cursor), FIELD_TAKEN);
  EXPECT_EQ(Slot(), "y");
}

TEST_F(FieldListTest, FieldLongerThanItsSlotIsRefusedNotCut) {
  std::string text = "5:" + std::string(FIELD_SLOT, 'x') + ",y";
  FieldDiskNumber = 1;
  LPCSTR cursor = text.c_str();
  EXPECT_EQ(Next(&cursor), FIELD_TOO_LONG);
  EXPECT_EQ(Slot(), "") << "nothing of the field arrives";
  EXPECT_EQ(cursor, text.c_str()) << "cursor as before the call";
  EXPECT_EQ(FieldDiskNumber, 1) << "a refused field sets no disk number";
}

TEST_F(FieldListTest, SmallDestinationIsNeverWrittenPastItsSize) {
  char guarded[32];
  memset(guarded, 0xCC, sizeof(guarded));
  LPCSTR fits = "abc";
  ASSERT_EQ(NextField(guarded, 4, &fits), FIELD_TAKEN);
  EXPECT_STREQ(guarded, "abc");
  for (size_t i = 4; i < sizeof(guarded); i++) ASSERT_EQ((BYTE)guarded[i], 0xCC) << i;

  memset(guarded, 0xCC, sizeof(guarded));
  LPCSTR tooLong = "abcd";
  EXPECT_EQ(NextField(guarded, 4, &tooLong), FIELD_TOO_LONG);
  EXPECT_EQ(guarded[0], 0);
  for (size_t i = 1; i < sizeof(guarded); i++) ASSERT_EQ((BYTE)guarded[i], 0xCC) << i;
}

// ---- readers -------------------------------------------------------------------------------

class ProfileReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetConfigState();
    OwnerWindow = nullptr;
  }
  void TearDown() override { OwnerWindow = nullptr; }

  std::string WriteSetupIni(std::initializer_list<std::string> lines) {
    std::string path = folder_.Write("SETUP.INI", IniText(lines));
    strcpy(SetupIniPath, path.c_str());
    return path;
  }

  ProfileFolder folder_;
};

TEST_F(ProfileReadTest, PresentValueArrivesWithZeroesBehindIt) {
  std::string path = folder_.Write("UPDATE.INI", IniText({"[SETUP]", "GameDir=Title"}));
  char dest[64];
  memset(dest, 0xCC, sizeof(dest));
  ASSERT_EQ(ReadProfileValue("SETUP", "GameDir", dest, sizeof(dest), path.c_str()), 1);
  EXPECT_STREQ(dest, "Title");
  for (size_t i = 5; i < sizeof(dest); i++) ASSERT_EQ(dest[i], 0) << "byte " << i;
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

TEST_F(ProfileReadTest, MissingKeyIsReportedWithSectionAndKeyInTorvanekBox) {
  std::string path = folder_.Write("UPDATE.INI", IniText({"[SETUP]", "CompanyName=Maker"}));
  HWND owner = reinterpret_cast<HWND>(0x1234);
  OwnerWindow = owner;
  char dest[32];
  memset(dest, 0xCC, sizeof(dest));
  EXPECT_EQ(ReadProfileValue("SETUP", "GameDir", dest, sizeof(dest), path.c_str()), 0);
  for (size_t i = 0; i < sizeof(dest); i++) ASSERT_EQ(dest[i], 0) << "destination cleared, byte " << i;
  ASSERT_EQ(scripted::MessageBoxes().size(), 1u);
  const scripted::MessageBoxRecord& box = scripted::MessageBoxes()[0];
  EXPECT_EQ(box.text, "SETUP : GameDir" + kMissingTail);
  EXPECT_EQ(box.caption, kTorvanek);
  EXPECT_EQ(box.flags, (UINT)(MB_OK | MB_ICONERROR));
  EXPECT_EQ(box.owner, owner);
}

TEST_F(ProfileReadTest, EmptyValueMissingSectionAndMissingFileReadAsMissingKey) {
  std::string path = folder_.Write("UPDATE.INI", IniText({"[SETUP]", "Empty=", "Blank =   ", "[OTHER]", "Key=1"}));
  char dest[32];
  EXPECT_EQ(ReadProfileValue("SETUP", "Empty", dest, sizeof(dest), path.c_str()), 0);
  EXPECT_EQ(ReadProfileValue("SETUP", "Blank", dest, sizeof(dest), path.c_str()), 0);
  EXPECT_EQ(ReadProfileValue("SETUP", "Key", dest, sizeof(dest), path.c_str()), 0);
  EXPECT_EQ(ReadProfileValue("NONE", "Key", dest, sizeof(dest), path.c_str()), 0);
  EXPECT_EQ(ReadProfileValue("SETUP", "Key", dest, sizeof(dest), folder_.WindowsPath("ABSENT.INI").c_str()), 0);
  ASSERT_EQ(scripted::MessageBoxes().size(), 5u);
  EXPECT_EQ(scripted::MessageBoxes()[0].text, "SETUP : Empty" + kMissingTail);
  EXPECT_EQ(scripted::MessageBoxes()[1].text, "SETUP : Blank" + kMissingTail);
  EXPECT_EQ(scripted::MessageBoxes()[3].text, "NONE : Key" + kMissingTail);
}

TEST_F(ProfileReadTest, SilentSwitchSuppressesTheReportButNotTheFailure) {
  std::string path = folder_.Write("UPDATE.INI", IniText({"[SETUP]", "A=1"}));
  MissingKeysSilent = 1;
  char dest[32];
  EXPECT_EQ(ReadProfileValue("SETUP", "B", dest, sizeof(dest), path.c_str()), 0);
  EXPECT_EQ(dest[0], 0);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

TEST_F(ProfileReadTest, LongValueIsCutToSizeMinusOneAndCountsAsPresent) {
  std::string path = folder_.Write("UPDATE.INI", IniText({"[S]", "V=abcdef"}));
  char dest[8];
  memset(dest, 0xCC, sizeof(dest));
  ASSERT_EQ(ReadProfileValue("S", "V", dest, 4, path.c_str()), 1);
  EXPECT_STREQ(dest, "abc");
  EXPECT_EQ((BYTE)dest[4], 0xCC) << "nothing written past the size";
}

TEST_F(ProfileReadTest, SetupReaderUsesSetupIniPathSectionSetupAndItsOwnMessage) {
  WriteSetupIni({"[OTHER]", "GameExe=wrong.exe", "[SETUP]", "GameExe=game.exe"});
  char dest[FIELD_SLOT];
  ASSERT_EQ(ReadSetupValue("GameExe", dest, sizeof(dest)), 1);
  EXPECT_STREQ(dest, "game.exe");
  EXPECT_EQ(ReadSetupValue("UninstExe", dest, sizeof(dest)), 0);
  ASSERT_EQ(scripted::MessageBoxes().size(), 1u);
  EXPECT_EQ(scripted::MessageBoxes()[0].text, "SETUP.INI : UninstExe" + kMissingTail);
  EXPECT_EQ(scripted::MessageBoxes()[0].caption, kTorvanek);
}

TEST_F(ProfileReadTest, ShowProfileErrorReturnsTheAnswer) {
  scripted::ScriptMessageBoxAnswers({IDCANCEL});
  EXPECT_EQ(ShowProfileError("x"), IDCANCEL);
  ASSERT_EQ(scripted::MessageBoxes().size(), 1u);
  EXPECT_EQ(scripted::MessageBoxes()[0].owner, nullptr) << "no dialog yet: no owner";
}

// The box belongs to whoever installed it: the front end's shows a message
// box; a program without a front end installs none, and the readers still
// report the missing key by their result.
TEST_F(ProfileReadTest, ReportsGoToTheInstalledErrorBoxOnly) {
  static std::vector<std::string> seen;
  seen.clear();
  SetErrorBox([](LPCSTR text, LPCSTR caption) {
    seen.push_back(std::string(caption) + ": " + text);
    return IDOK;
  });
  char dest[20];
  EXPECT_EQ(ReadProfileValue("SETUP", "GameDir", dest, sizeof dest, "C:\\NONE.INI"), 0);
  EXPECT_EQ(seen, std::vector<std::string>{kTorvanek + ": SETUP : GameDir" + kMissingTail});
  SetErrorBox(nullptr);
  EXPECT_EQ(ReadProfileValue("SETUP", "GameDir", dest, sizeof dest, "C:\\NONE.INI"), 0);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

// ---- numbers --------------------------------------------------------------------------------

TEST_F(ProfileReadTest, SetupIntSkipsBlanksAndStopsAtTheFirstNonDigit) {
  WriteSetupIni({"[SETUP]", "A=\"  12abc\"", "B=abc", "C=-42", "D=+7", "E=- 5"});
  int v = 99;
  ASSERT_EQ(ReadSetupInt("A", &v), 1);
  EXPECT_EQ(v, 12);
  ASSERT_EQ(ReadSetupInt("B", &v), 1);
  EXPECT_EQ(v, 0) << "no digits: 0, and still a success";
  ASSERT_EQ(ReadSetupInt("C", &v), 1);
  EXPECT_EQ(v, -42);
  ASSERT_EQ(ReadSetupInt("D", &v), 1);
  EXPECT_EQ(v, 7);
  ASSERT_EQ(ReadSetupInt("E", &v), 1);
  EXPECT_EQ(v, 0);
}

TEST_F(ProfileReadTest, SetupIntOfMissingKeyLeavesTheNumberAndReports) {
  WriteSetupIni({"[SETUP]", "A=1"});
  int v = 1234;
  EXPECT_EQ(ReadSetupInt("Shortcuts", &v), 0);
  EXPECT_EQ(v, 1234);
  ASSERT_EQ(scripted::MessageBoxes().size(), 1u);
  EXPECT_EQ(scripted::MessageBoxes()[0].text, "SETUP.INI : Shortcuts" + kMissingTail);
}

TEST_F(ProfileReadTest, SetupIntClampsToThe32BitRange) {
  WriteSetupIni({"[SETUP]", "Max=2147483647", "Over=2147483648", "Huge=999999999999999999", "Min=-2147483648",
                 "Under=-2147483649", "Tiny=-999999999999999999"});
  int v = 0;
  ASSERT_EQ(ReadSetupInt("Max", &v), 1);
  EXPECT_EQ(v, INT_MAX);
  ASSERT_EQ(ReadSetupInt("Over", &v), 1);
  EXPECT_EQ(v, INT_MAX);
  ASSERT_EQ(ReadSetupInt("Huge", &v), 1);
  EXPECT_EQ(v, INT_MAX);
  ASSERT_EQ(ReadSetupInt("Min", &v), 1);
  EXPECT_EQ(v, INT_MIN);
  ASSERT_EQ(ReadSetupInt("Under", &v), 1);
  EXPECT_EQ(v, INT_MIN);
  ASSERT_EQ(ReadSetupInt("Tiny", &v), 1);
  EXPECT_EQ(v, INT_MIN);
}

TEST_F(ProfileReadTest, SetupIntSeesOnlyNineteenCharacters) {
  // 19 zeros, then 123: the digits past the 19th never arrive. 16 zeros and
  // 12345 arrive as 16 zeros and 123.
  WriteSetupIni({"[SETUP]", "N=0000000000000000000123", "M=000000000000000012345"});
  int v = -1;
  ASSERT_EQ(ReadSetupInt("N", &v), 1);
  EXPECT_EQ(v, 0);
  ASSERT_EQ(ReadSetupInt("M", &v), 1);
  EXPECT_EQ(v, 123);
}

TEST_F(ProfileReadTest, HasSetupValueGivesTheFirstNineteenCharacters) {
  WriteSetupIni({"[SETUP]", "Long=abcdefghijklmnopqrstuvwxyz0123"});
  char dest[SETUP_INT_BUFFER + 4];
  memset(dest, 0xCC, sizeof(dest));
  ASSERT_EQ(HasSetupValue("Long", dest), 1);
  EXPECT_STREQ(dest, "abcdefghijklmnopqrs");
  EXPECT_EQ((BYTE)dest[SETUP_INT_BUFFER], 0xCC) << "20 bytes written, no more";
  EXPECT_EQ(HasSetupValue("Absent", dest), 0);
  EXPECT_EQ(dest[0], 0);
}

TEST(ParseDecimalTest, SignedConversionRules) {
  EXPECT_EQ(ParseDecimalInt(""), 0);
  EXPECT_EQ(ParseDecimalInt(" \t\r\n12"), 12);
  EXPECT_EQ(ParseDecimalInt("--5"), 0);
  EXPECT_EQ(ParseDecimalInt("+-5"), 0);
  EXPECT_EQ(ParseDecimalInt("-0"), 0);
  EXPECT_EQ(ParseDecimalInt("007"), 7);
  EXPECT_EQ(ParseDecimalInt("12 34"), 12);
  EXPECT_EQ(ParseDecimalInt("99999999999999999999999999999"), INT_MAX);
  EXPECT_EQ(ParseDecimalInt("-99999999999999999999999999999"), INT_MIN);
}

TEST(ParseDecimalTest, UnsignedSixtyFourBitConversionWrapsNegatives) {
  EXPECT_EQ(ParseDecimalU64("0"), 0u);
  EXPECT_EQ(ParseDecimalU64("  4294967296"), 4294967296ull);
  EXPECT_EQ(ParseDecimalU64("18446744073709551615"), 18446744073709551615ull);
  EXPECT_EQ(ParseDecimalU64("-1"), 18446744073709551615ull);
  EXPECT_EQ(ParseDecimalU64("-1000"), 18446744073709550616ull);
  EXPECT_EQ(ParseDecimalU64("-0"), 0u);
  EXPECT_EQ(ParseDecimalU64("+5x"), 5u);
  EXPECT_EQ(ParseDecimalU64("x5"), 0u);
  EXPECT_EQ(ParseDecimalU64("18446744073709551616"), 18446744073709551615ull) << "beyond 64 bits saturates";
}

}  // namespace
