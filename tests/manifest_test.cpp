// The update manifest: section "SETUP" as start-up loads it, and the grammar
// of update and copy entries.
#include "config/manifest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/state.h"
#include "config/profile.h"
#include "double/scripted_win32.h"
#include "support/profile_writer.h"

namespace {

const std::string kMissingTail = "\x20\x83\x4c\x81\x5b\x82\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xdc\x82\xb9\x82\xf1";

// ---- section "SETUP" ----------------------------------------------------------------

class ManifestSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetConfigState();
    OwnerWindow = nullptr;
  }
  std::string Write(std::initializer_list<std::string> lines) {
    return folder_.Write("UPDATE.INI", IniText(lines));
  }
  ProfileFolder folder_;
};

TEST_F(ManifestSetupTest, LoadsEveryKeyFieldByField) {
  std::string message(1000, 'm');
  std::string path = Write({"[SETUP]", "CompanyName=Maker", "GameTitle=\x83\x5e\x83\x43\x83\x67\x83\x8b",
                            "GameClass=TitleWindow", "GameDir=Title", "GameTitleA=Title2", "UpdaterVersion=1.01",
                            "UpdaterTitle=Custom", "DataFolder=DATA", "UpdateMessage=" + message});
  ASSERT_EQ(LoadManifestSetup(path.c_str()), 1);
  EXPECT_STREQ(CompanyName, "Maker");
  EXPECT_STREQ(GameTitle, "\x83\x5e\x83\x43\x83\x67\x83\x8b");
  EXPECT_STREQ(GameClass, "TitleWindow");
  EXPECT_STREQ(GameDir, "Title");
  EXPECT_STREQ(GameTitleA, "Title2");
  EXPECT_STREQ(UpdaterVersion, "1.01");
  EXPECT_STREQ(UpdaterTitle, "Custom");
  EXPECT_STREQ(DataFolder, "DATA");
  EXPECT_EQ(std::string(UpdateMessage), message) << "UpdateMessage is a 1,024-byte value";
  EXPECT_EQ(MissingKeysSilent, 1);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

TEST_F(ManifestSetupTest, OptionalKeysMissingStayEmptyWithoutAWord) {
  std::string path = Write({"[SETUP]", "CompanyName=Maker", "GameTitle=T", "GameClass=C", "GameDir=D", "DataFolder="});
  ASSERT_EQ(LoadManifestSetup(path.c_str()), 1);
  EXPECT_STREQ(GameTitleA, "");
  EXPECT_STREQ(UpdaterVersion, "");
  EXPECT_STREQ(UpdaterTitle, "");
  EXPECT_STREQ(DataFolder, "");
  EXPECT_STREQ(UpdateMessage, "");
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

TEST_F(ManifestSetupTest, OnlyTheFirstMissingRequiredKeyIsReported) {
  // GameClass and GameDir are both missing: GameClass is reported, and the
  // load stops there.
  std::string path = Write({"[SETUP]", "CompanyName=Maker", "GameTitle=T", "UpdaterVersion=1"});
  EXPECT_EQ(LoadManifestSetup(path.c_str()), 0);
  ASSERT_EQ(scripted::MessageBoxes().size(), 1u);
  EXPECT_EQ(scripted::MessageBoxes()[0].text, "SETUP : GameClass" + kMissingTail);
  EXPECT_EQ(scripted::MessageBoxes()[0].caption, "TORVANEK");
  EXPECT_EQ(MissingKeysSilent, 0) << "reporting stays on after a failed load";
  EXPECT_STREQ(UpdaterVersion, "") << "optional keys are not read after a failure";
}

TEST_F(ManifestSetupTest, MissingGameDirNamesSectionSetupAndGameDir) {
  std::string path = Write({"[SETUP]", "CompanyName=Maker", "GameTitle=T", "GameClass=C", "GameDir="});
  EXPECT_EQ(LoadManifestSetup(path.c_str()), 0);
  ASSERT_EQ(scripted::MessageBoxes().size(), 1u);
  EXPECT_EQ(scripted::MessageBoxes()[0].text, "SETUP : GameDir" + kMissingTail);
}

TEST_F(ManifestSetupTest, RequiredKeysInAnotherSectionDoNotCount) {
  std::string path = Write({"[UPDATE]", "CompanyName=Maker"});
  EXPECT_EQ(LoadManifestSetup(path.c_str()), 0);
  ASSERT_EQ(scripted::MessageBoxes().size(), 1u);
  EXPECT_EQ(scripted::MessageBoxes()[0].text, "SETUP : CompanyName" + kMissingTail);
}

TEST_F(ManifestSetupTest, LongValuesAreCutToTheirCapacity) {
  std::string path = Write({"[SETUP]", "CompanyName=" + std::string(300, 'c'), "GameTitle=T", "GameClass=C",
                            "GameDir=D", "UpdateMessage=" + std::string(1100, 'u')});
  ASSERT_EQ(LoadManifestSetup(path.c_str()), 1);
  EXPECT_EQ(std::string(CompanyName), std::string(259, 'c'));
  EXPECT_EQ(std::string(UpdateMessage), std::string(1023, 'u'));
}

// ---- section "UPDATE": numbered lists as the update run reads them ----------------------

// The walk over a list read from a profile as the update run reads it: the
// keys asked for and the values taken, in order.
struct Walked {
  std::string path;
  std::vector<std::string> asked, taken;
  int stopAfter = -1;  // take refuses this entry, which stops the walk
};

int ReadWalked(void* context, LPCSTR key, LPSTR dest, DWORD size) {
  Walked* w = static_cast<Walked*>(context);
  w->asked.push_back(key);
  return ReadProfileValue(MANIFEST_SECTION_UPDATE, key, dest, size, w->path.c_str());
}

int TakeWalked(void* context, int n, LPCSTR value) {
  Walked* w = static_cast<Walked*>(context);
  w->taken.push_back(std::to_string(n) + "=" + value);
  return n != w->stopAfter;
}

TEST_F(ManifestSetupTest, ListsRunFromZeroToTheFirstKeyWithoutValueAndHoldAtMostSixteen) {
  std::vector<std::string> sixteen{"[UPDATE]"};
  for (int n = 0; n < 18; n++) {
    char line[48];  // room for any int twice, as -O1 cannot bound n
    snprintf(line, sizeof line, "CopyFile%02i=c%i", n, n);
    sixteen.push_back(line);
  }
  struct Case {
    std::vector<std::string> lines;
    ManifestList list;
    int stopAfter;
    int count;
    std::vector<std::string> taken;
  } cases[] = {
      {{"[UPDATE]", "UpdateFile00=a", "UpdateFile01=b", "UpdateFile03=d"}, MANIFEST_UPDATE_FILES, -1, 2, {"0=a", "1=b"}},
      {{"[UPDATE]", "UpdateFile00=a", "UpdateFile01=", "UpdateFile02=c"}, MANIFEST_UPDATE_FILES, -1, 1, {"0=a"}},
      {{"[UPDATE]", "UpdateFile01=b", "CopyFile00=c"}, MANIFEST_UPDATE_FILES, -1, 0, {}},
      {{"[UPDATE]", "UpdateFile00=a", "UpdateFile01=b", "UpdateFile02=c"}, MANIFEST_UPDATE_FILES, 1, 2, {"0=a", "1=b"}},
      {sixteen, MANIFEST_COPY_FILES, -1, 16, {}},
  };
  for (const Case& c : cases) {
    Walked w;
    std::string text;
    for (const std::string& line : c.lines) text += line + "\r\n";
    w.path = folder_.Write("UPDATE.INI", text);
    w.stopAfter = c.stopAfter;
    MissingKeysSilent = 1;
    EXPECT_EQ(WalkManifestList(c.list, ReadWalked, TakeWalked, &w), c.count) << c.lines[1];
    if (c.count == 16) {
      EXPECT_EQ(w.asked.back(), "CopyFile15") << "keys past 15 are never read";
      EXPECT_EQ(w.taken.back(), "15=c15");
    } else {
      EXPECT_EQ(w.taken, c.taken) << c.lines[1];
    }
    for (const std::string& key : w.asked) EXPECT_EQ(key.rfind(c.list == MANIFEST_UPDATE_FILES ? "UpdateFile" : "CopyFile", 0), 0u);
  }
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

TEST(ManifestKeys, SetupKeysInReadingOrderWithTheRequiredFirst) {
  std::vector<std::string> names;
  for (const ManifestKey& k : ManifestSetupKeys) names.push_back(k.name);
  EXPECT_EQ(names, (std::vector<std::string>{"CompanyName", "GameTitle", "GameClass", "GameDir", "GameTitleA",
                                             "UpdaterVersion", "UpdaterTitle", "DataFolder", "UpdateMessage"}));
  EXPECT_EQ(MANIFEST_REQUIRED_KEYS, 4);
  for (const ManifestKey& k : ManifestSetupKeys)
    EXPECT_EQ(k.capacity, std::string(k.name) == "UpdateMessage" ? 1024u : 260u) << k.name;
  char key[MANIFEST_KEY_BUFFER];
  ManifestListKey(MANIFEST_UPDATE_FILES, 7, key);
  EXPECT_STREQ(key, "UpdateFile07");
  ManifestListKey(MANIFEST_COPY_FILES, 99, key);
  EXPECT_STREQ(key, "CopyFile99");
  EXPECT_EQ(ManifestListCapacity(MANIFEST_UPDATE_FILES), 1024u);
  EXPECT_EQ(ManifestListCapacity(MANIFEST_COPY_FILES), 260u);
}

TEST(ManifestNumbers, ANumberNeedsADigitAfterBlanksAndSign) {
  struct {
    const char* text;
    int number;
    int value;
  } cases[] = {{"50000000", 1, 50000000}, {"  -12abc", 1, -12}, {"\t+7", 1, 7}, {"abc", 0, 0},
               {"- 5", 0, 0},             {"", 0, 0},           {"+", 0, 0},      {"99999999999", 1, 2147483647}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsDecimalNumber(c.text), c.number) << c.text;
    EXPECT_EQ(ParseDecimalInt(c.text), c.value) << c.text;
  }
}

TEST_F(ManifestSetupTest, EntryValuesAreCutBeforeTheyAreParsed) {
  std::string longPath = std::string(1100, 'p');
  std::string path = Write({"[UPDATE]", "UpdateFile00=" + longPath, "CopyFile00=" + std::string(300, 'q')});
  char value[UPDATE_VALUE_CAPACITY];
  ASSERT_EQ(ReadProfileValue(MANIFEST_SECTION_UPDATE, "UpdateFile00", value, UPDATE_VALUE_CAPACITY, path.c_str()), 1);
  EXPECT_EQ(strlen(value), 1023u);
  ASSERT_EQ(ReadProfileValue(MANIFEST_SECTION_UPDATE, "CopyFile00", value, COPY_VALUE_CAPACITY, path.c_str()), 1);
  EXPECT_EQ(strlen(value), 259u);
  CopyItem copy;
  ASSERT_EQ(ParseCopyEntry(value, 0, &copy), ENTRY_APPLIES);
  EXPECT_EQ(std::string(copy.relativePath), std::string(259, 'q'));
}

// ---- update entries ---------------------------------------------------------------------------

struct UpdateCase {
  const char* value;
  int instMode;
  EntryParse result;
  int code;
  const char* path;
  int nameOffset;
};

class UpdateEntryTest : public ::testing::TestWithParam<UpdateCase> {
 protected:
  void SetUp() override { ResetConfigState(); }
};

TEST_P(UpdateEntryTest, ParsesAsTheGrammarSays) {
  const UpdateCase& c = GetParam();
  UpdateItem item;
  memset(&item, 0xCC, sizeof(item));
  ASSERT_EQ(ParseUpdateEntry(c.value, c.instMode, &item), c.result) << c.value;
  if (c.result != ENTRY_APPLIES) return;
  EXPECT_EQ(item.operationCode, c.code) << c.value;
  EXPECT_STREQ(item.relativePath, c.path) << c.value;
  EXPECT_EQ(item.nameOffset, c.nameOffset) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, UpdateEntryTest,
    ::testing::Values(
        // The manifest example.
        UpdateCase{"SETUP.INI", 0, ENTRY_APPLIES, OP_ALWAYS, "SETUP.INI", 0},
        UpdateCase{"u,SOUND.PAK", 0, ENTRY_APPLIES, OP_NEWER_ONLY, "SOUND.PAK", 0},
        UpdateCase{"o,VOICE\\VOICE1.PAK", 0, ENTRY_APPLIES, OP_OVERWRITE_ONLY, "VOICE\\VOICE1.PAK", 6},
        UpdateCase{"2,d,USER.DAT", 2, ENTRY_APPLIES, OP_DATA_IF_MISSING, "USER.DAT", 0},
        UpdateCase{"2,d,USER.DAT", 1, ENTRY_SKIPPED, 0, "", 0},
        // Letters are case-blind; a trailing blank makes the letter a path.
        UpdateCase{"U,A.DAT", 0, ENTRY_APPLIES, OP_NEWER_ONLY, "A.DAT", 0},
        UpdateCase{"D,A.DAT", 0, ENTRY_APPLIES, OP_DATA_IF_MISSING, "A.DAT", 0},
        UpdateCase{"O,A.DAT", 0, ENTRY_APPLIES, OP_OVERWRITE_ONLY, "A.DAT", 0},
        UpdateCase{"u ,A.DAT", 0, ENTRY_APPLIES, OP_ALWAYS, "u ", 0},
        UpdateCase{"x,A.DAT", 0, ENTRY_APPLIES, OP_ALWAYS, "x", 0},
        UpdateCase{"uu,A.DAT", 0, ENTRY_APPLIES, OP_ALWAYS, "uu", 0},
        // Install modes: one digit only.
        UpdateCase{"1,A.DAT", 1, ENTRY_APPLIES, OP_ALWAYS, "A.DAT", 0},
        UpdateCase{"1,A.DAT", 0, ENTRY_SKIPPED, 0, "", 0},
        UpdateCase{"12,A.DAT", 1, ENTRY_APPLIES, OP_ALWAYS, "12", 0},
        UpdateCase{"12,u,A.DAT", 1, ENTRY_APPLIES, OP_ALWAYS, "12", 0},
        UpdateCase{"2,u,SUB\\A.DAT", 2, ENTRY_APPLIES, OP_NEWER_ONLY, "SUB\\A.DAT", 4},
        UpdateCase{"2,u,SUB\\A.DAT", 1, ENTRY_SKIPPED, 0, "", 0},
        UpdateCase{"0,o,A.DAT", 0, ENTRY_APPLIES, OP_OVERWRITE_ONLY, "A.DAT", 0},
        UpdateCase{"9,A.DAT", 9, ENTRY_APPLIES, OP_ALWAYS, "A.DAT", 0},
        // Field rules: a drive prefix is lost, an empty field ends the list.
        UpdateCase{"u,D:\\A.DAT", 0, ENTRY_APPLIES, OP_NEWER_ONLY, "\\A.DAT", 1},
        UpdateCase{"u,", 0, ENTRY_APPLIES, OP_NEWER_ONLY, "", 0},
        UpdateCase{"u", 0, ENTRY_APPLIES, OP_NEWER_ONLY, "", 0},
        UpdateCase{"3", 3, ENTRY_APPLIES, OP_ALWAYS, "", 0},
        UpdateCase{"  u , A.DAT", 0, ENTRY_APPLIES, OP_ALWAYS, "u ", 0},
        UpdateCase{"u,  A.DAT ", 0, ENTRY_APPLIES, OP_NEWER_ONLY, "A.DAT ", 0},
        UpdateCase{"A.DAT,u,B.DAT", 0, ENTRY_APPLIES, OP_ALWAYS, "A.DAT", 0},
        UpdateCase{"1,u,A.DAT,extra,more", 1, ENTRY_APPLIES, OP_NEWER_ONLY, "A.DAT", 0},
        // Separators: only a single-byte backslash; '/' never.
        UpdateCase{"o,A\\B\\C.DAT", 0, ENTRY_APPLIES, OP_OVERWRITE_ONLY, "A\\B\\C.DAT", 4},
        UpdateCase{"o,A/B.DAT", 0, ENTRY_APPLIES, OP_OVERWRITE_ONLY, "A/B.DAT", 0},
        UpdateCase{"\x95\x5c.DAT", 0, ENTRY_APPLIES, OP_ALWAYS, "\x95\x5c.DAT", 0},
        UpdateCase{"DIR\\\x95\x5c\\\x83\x5c.DAT", 0, ENTRY_APPLIES, OP_ALWAYS, "DIR\\\x95\x5c\\\x83\x5c.DAT", 7},
        UpdateCase{"SUB\\", 0, ENTRY_APPLIES, OP_ALWAYS, "SUB\\", 4},
        UpdateCase{"A\\\x95", 0, ENTRY_APPLIES, OP_ALWAYS, "A\\\x95", 2}));

TEST(UpdateEntryBoundsTest, PathFillingItsSlotIsTaken) {
  std::string path(FIELD_SLOT - 1, 'p');
  UpdateItem item;
  ASSERT_EQ(ParseUpdateEntry(("u," + path).c_str(), 0, &item), ENTRY_APPLIES);
  EXPECT_EQ(std::string(item.relativePath), path);
}

// An entry with a field longer than its slot is refused when it applies to
// the install mode; an entry for another mode is dropped first, silently,
// like any other entry for another mode.
TEST(UpdateEntryBoundsTest, FieldLongerThanItsSlotRefusesTheEntryOnlyForItsOwnMode) {
  std::string longField(FIELD_SLOT, 'p');
  UpdateItem item;
  memset(&item, 0xCC, sizeof(item));
  EXPECT_EQ(ParseUpdateEntry(("u," + longField).c_str(), 0, &item), ENTRY_INVALID);
  EXPECT_EQ(ParseUpdateEntry(longField.c_str(), 0, &item), ENTRY_INVALID);
  EXPECT_EQ(ParseUpdateEntry(("1,u," + longField).c_str(), 1, &item), ENTRY_INVALID);
  EXPECT_EQ(ParseUpdateEntry(("1," + longField).c_str(), 1, &item), ENTRY_INVALID);
  EXPECT_EQ(ParseUpdateEntry(("1,u," + longField).c_str(), 2, &item), ENTRY_SKIPPED);
  EXPECT_EQ(ParseUpdateEntry(("1," + longField + ",A.DAT").c_str(), 2, &item), ENTRY_SKIPPED);
  // A first field that is too long is no mode digit: the entry applies.
  EXPECT_EQ(ParseUpdateEntry((longField + ",u,A.DAT").c_str(), 2, &item), ENTRY_INVALID);
  EXPECT_EQ((BYTE)item.relativePath[0], 0xCC) << "a refused or dropped entry fills nothing";
}

TEST(UpdateEntryBoundsTest, OverlongFieldAfterTheThirdIsNeverTaken) {
  std::string longField(FIELD_SLOT + 10, 'z');
  UpdateItem item;
  ASSERT_EQ(ParseUpdateEntry(("1,u,A.DAT," + longField).c_str(), 1, &item), ENTRY_APPLIES);
  EXPECT_STREQ(item.relativePath, "A.DAT");
}

// ---- copy entries ------------------------------------------------------------------------------

struct CopyCase {
  const char* value;
  int instMode;
  EntryParse result;
  int disk;
  const char* path;
};

class CopyEntryTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyEntryTest, ParsesByPosition) {
  const CopyCase& c = GetParam();
  CopyItem item;
  memset(&item, 0xCC, sizeof(item));
  ASSERT_EQ(ParseCopyEntry(c.value, c.instMode, &item), c.result) << c.value;
  if (c.result != ENTRY_APPLIES) return;
  EXPECT_EQ(item.diskNumber, c.disk) << c.value;
  EXPECT_STREQ(item.relativePath, c.path) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, CopyEntryTest,
    ::testing::Values(CopyCase{"1:MOVIE", 0, ENTRY_APPLIES, 1, "MOVIE"},
                      CopyCase{"1,2:MOVIE", 1, ENTRY_APPLIES, 2, "MOVIE"},
                      CopyCase{"1,2:MOVIE", 2, ENTRY_SKIPPED, 0, ""},
                      CopyCase{"2,3:DIR\\X,Y", 2, ENTRY_APPLIES, 3, "DIR\\X,Y"},
                      CopyCase{"X.DAT", 0, ENTRY_APPLIES, 0, "X.DAT"},
                      CopyCase{"2:A,B.DAT", 0, ENTRY_APPLIES, 2, "A,B.DAT"},
                      CopyCase{"0:MOVIE", 0, ENTRY_APPLIES, 0, "MOVIE"},
                      CopyCase{"9:M", 0, ENTRY_APPLIES, 9, "M"},
                      CopyCase{"MOVIE2", 0, ENTRY_APPLIES, 0, "MOVIE2"},
                      CopyCase{" 1:A", 0, ENTRY_APPLIES, 0, " 1:A"},
                      CopyCase{"1:A:B C", 0, ENTRY_APPLIES, 1, "A:B C"},
                      CopyCase{"3,A", 3, ENTRY_APPLIES, 0, "A"},
                      CopyCase{"3,", 3, ENTRY_APPLIES, 0, ""},
                      // The mode byte is not checked for being a digit: it
                      // just never matches a mode.
                      CopyCase{"x,A", 0, ENTRY_SKIPPED, 0, ""},
                      CopyCase{"A", 0, ENTRY_APPLIES, 0, "A"},
                      // A disk byte that is no digit would index outside the
                      // ten DiskCheckFile slots: refused.
                      CopyCase{"C:\\GAME", 0, ENTRY_INVALID, 0, ""},
                      CopyCase{"1,x:A", 1, ENTRY_INVALID, 0, ""},
                      CopyCase{"1,x:A", 2, ENTRY_SKIPPED, 0, ""},
                      CopyCase{"\x95:A", 0, ENTRY_INVALID, 0, ""}));

TEST(CopyEntryBoundsTest, PathTooLongForItsSlotIsRefused) {
  CopyItem item;
  std::string fits(COPY_VALUE_CAPACITY - 1, 'f');
  ASSERT_EQ(ParseCopyEntry(fits.c_str(), 0, &item), ENTRY_APPLIES);
  EXPECT_EQ(std::string(item.relativePath), fits);
  std::string tooLong(COPY_VALUE_CAPACITY, 'f');
  EXPECT_EQ(ParseCopyEntry(tooLong.c_str(), 0, &item), ENTRY_INVALID);
  EXPECT_EQ(ParseCopyEntry(("1:" + tooLong).c_str(), 0, &item), ENTRY_INVALID);
}

// Both parsers name the install mode of the entry, also of one they skip, so
// a caller can tell which installations an entry is for.
TEST(EntryInstallModeTest, ParsersNameTheModeOfEveryEntry) {
  struct {
    const char* value;
    int mode;
  } updates[] = {{"A.DAT", NO_INSTALL_MODE}, {"u,A.DAT", NO_INSTALL_MODE}, {"3,A.DAT", 3},
                 {"0,o,A.DAT", 0},           {"12,A.DAT", NO_INSTALL_MODE}},
    copies[] = {{"A.DAT", NO_INSTALL_MODE}, {"1:A", NO_INSTALL_MODE}, {"2,3:A", 2}, {"x,A", 'x' - '0'}, {"/,A", -1}};
  for (const auto& c : updates) {
    UpdateItem item;
    EntryParse r = ParseUpdateEntry(c.value, NO_INSTALL_MODE, &item);
    EXPECT_EQ(r, c.mode == NO_INSTALL_MODE ? ENTRY_APPLIES : ENTRY_SKIPPED) << c.value;
    EXPECT_EQ(item.installMode, c.mode) << c.value;
    EXPECT_EQ(ParseUpdateEntry(c.value, c.mode, &item), ENTRY_APPLIES) << c.value;
    EXPECT_EQ(item.installMode, c.mode) << c.value;
  }
  for (const auto& c : copies) {
    CopyItem item;
    EntryParse r = ParseCopyEntry(c.value, NO_INSTALL_MODE, &item);
    EXPECT_EQ(r, c.mode == NO_INSTALL_MODE ? ENTRY_APPLIES : ENTRY_SKIPPED) << c.value;
    EXPECT_EQ(item.installMode, c.mode) << c.value;
    EXPECT_EQ(ParseCopyEntry(c.value, c.mode, &item), ENTRY_APPLIES) << c.value;
  }
}

TEST(CopyEntryBoundsTest, EmptyValueNamesNoModeNoDisk) {
  CopyItem item;
  ASSERT_EQ(ParseCopyEntry("", 0, &item), ENTRY_APPLIES);
  EXPECT_EQ(item.diskNumber, 0);
  EXPECT_STREQ(item.relativePath, "");
}

}  // namespace
