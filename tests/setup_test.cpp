// The installed setup profile: order of reads, limits, defaults, messages.
#include "config/setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/state.h"
#include "config/manifest.h"
#include "config/profile.h"
#include "double/scripted_win32.h"
#include "support/profile_writer.h"

namespace {

// Fixed parts of the loader's messages in code page 932.
const std::string kMissingTail = "\x20\x83\x4c\x81\x5b\x82\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xdc\x82\xb9\x82\xf1";  // " キーが存在しません"
const std::string kErrorTail = "\x20\x83\x47\x83\x89\x81\x5b";                                                  // " エラー"
const std::string kOverTail = "\x20\x83\x49\x81\x5b\x83\x6f\x81\x5b";                                          // " オーバー"
const std::string kDefaultDX =
    "\x82\x63\x82\x89\x82\x92\x82\x85\x82\x83\x82\x94\x82\x77\x82\xf0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b"
    "\x82\xb7\x82\xe9";  // ＤｉｒｅｃｔＸをインストールする
const std::string kDefaultSelect =
    "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b\x95\xfb\x96\x40\x82\xf0\x91\x49\x91\xf0\x82\xb5\x82\xc4\x89\xba"
    "\x82\xb3\x82\xa2";  // インストール方法を選択して下さい

std::string Fields(int count, const std::string& stem) {
  std::string out;
  for (int i = 0; i < count; i++) out += (i ? "," : "") + stem + std::to_string(i);
  return out;
}

class SetupProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetConfigState();
    OwnerWindow = nullptr;
    keys_ = {{"CompanyName", "Maker"},
             {"GameTitle", "Title"},
             {"GameDir", "TitleDir"},
             {"GameExe", "game.exe"},
             {"UninstExe", "uninst.exe"},
             {"SetupBmp", "a.bmp,b.bmp"},
             {"InstallSelects", "2"},
             {"InstallTitle0", "Full"},
             {"InstallFiles0", "a.dat,1:b.dat,c.dat,0:d.dat"},
             {"InstallTitle1", "Small"},
             {"InstallFiles1", "a.dat,b.dat"},
             {"Shortcuts", "1"},
             {"Shortcut0", "Game,game.exe,icon.ico"}};
  }

  void Set(const std::string& key, const std::string& value) {
    for (auto& kv : keys_) {
      if (kv.first == key) {
        kv.second = value;
        return;
      }
    }
    keys_.emplace_back(key, value);
  }
  void Remove(const std::string& key) {
    for (size_t i = 0; i < keys_.size(); i++) {
      if (keys_[i].first == key) {
        keys_.erase(keys_.begin() + i);
        return;
      }
    }
  }

  int Load() {
    std::string text = "[SETUP]\r\n";
    for (const auto& kv : keys_) text += kv.first + "=" + kv.second + "\r\n";
    std::string path = folder_.Write("SETUP.INI", text);
    strcpy(SetupIniPath, path.c_str());
    return LoadSetupProfile();
  }

  // The one box the load showed.
  std::string OnlyMessage() {
    const auto& boxes = scripted::MessageBoxes();
    EXPECT_EQ(boxes.size(), 1u);
    if (boxes.empty()) return "";
    EXPECT_EQ(boxes[0].caption, "TORVANEK");
    EXPECT_EQ(boxes[0].flags, (UINT)(MB_OK | MB_ICONERROR));
    EXPECT_EQ(boxes[0].owner, nullptr);
    return boxes[0].text;
  }

  std::vector<std::pair<std::string, std::string>> keys_;
  ProfileFolder folder_;
};

// ---- a whole profile --------------------------------------------------------------------

TEST_F(SetupProfileTest, FullProfileLoadsFieldByField) {
  Set("GameClass", "TitleClass");
  Set("DefaultSelect", "1");
  Set("InstallSize0", "123456789012");
  Set("InstallSize1", "-1");
  Set("DiskCheckFile1", "DISK1.CHK");
  Set("DiskCheckFile2", "DATA\\DISK2.CHK");
  Set("ExecApp", "setup.exe, readme.txt");
  Set("InstallDirectX", "1");
  Set("InstallDXMessage", "DX?");
  Set("SelectSetupMessage", "Which?");
  Set("AdditionalUninstallFiles", "save\\a.dat,save\\b.dat");
  ASSERT_EQ(Load(), 1);
  EXPECT_TRUE(scripted::MessageBoxes().empty());

  EXPECT_STREQ(CompanyName, "Maker");
  EXPECT_STREQ(GameTitle, "Title");
  EXPECT_STREQ(GameDir, "TitleDir");
  EXPECT_STREQ(GameClass, "TitleClass");
  EXPECT_STREQ(::Setup.GameExe, "game.exe");
  EXPECT_STREQ(::Setup.UninstExe, "uninst.exe");
  EXPECT_STREQ(::Setup.SetupBmp[0], "a.bmp");
  EXPECT_STREQ(::Setup.SetupBmp[1], "b.bmp");
  EXPECT_STREQ(::Setup.SetupBmp[2], "");
  EXPECT_EQ(::Setup.SetupBmpLast, 1);
  EXPECT_EQ(::Setup.InstallSelects, 2);
  EXPECT_STREQ(::Setup.InstallTitle[0], "Full");
  EXPECT_STREQ(::Setup.InstallTitle[1], "Small");
  EXPECT_STREQ(::Setup.InstallTitle[2], "") << "selections past InstallSelects keep their zero state";
  const char* files0[] = {"a.dat", "b.dat", "c.dat", "d.dat"};
  const int disks0[] = {0, 1, 1, 0};
  for (int j = 0; j < 4; j++) {
    EXPECT_STREQ(::Setup.InstallFiles[0][j], files0[j]);
    EXPECT_EQ(::Setup.InstallFileDisk[0][j], disks0[j]) << "file " << j;
  }
  EXPECT_STREQ(::Setup.InstallFiles[0][4], "");
  EXPECT_EQ(::Setup.InstallNeedsDisk[0], 1);
  EXPECT_STREQ(::Setup.InstallFiles[1][0], "a.dat");
  EXPECT_STREQ(::Setup.InstallFiles[1][1], "b.dat");
  EXPECT_EQ(::Setup.InstallFileDisk[1][0], 0);
  EXPECT_EQ(::Setup.InstallFileDisk[1][1], 0);
  EXPECT_EQ(::Setup.InstallNeedsDisk[1], 0);
  EXPECT_EQ(::Setup.Shortcuts, 1);
  EXPECT_STREQ(::Setup.Shortcut[0][0], "Game");
  EXPECT_STREQ(::Setup.Shortcut[0][1], "game.exe");
  EXPECT_STREQ(::Setup.Shortcut[0][2], "icon.ico");
  EXPECT_EQ(::Setup.DefaultSelect, 1);
  EXPECT_EQ(::Setup.InstallSize[0], 123456789012ull);
  EXPECT_EQ(::Setup.InstallSize[1], 18446744073709551615ull);
  EXPECT_EQ(::Setup.InstallSize[2], 0u);
  EXPECT_STREQ(::Setup.DiskCheckFile[0], "");
  EXPECT_STREQ(::Setup.DiskCheckFile[1], "DISK1.CHK");
  EXPECT_STREQ(::Setup.DiskCheckFile[2], "DATA\\DISK2.CHK");
  EXPECT_STREQ(::Setup.ExecApp[0], "setup.exe");
  EXPECT_STREQ(::Setup.ExecApp[1], "readme.txt");
  EXPECT_EQ(::Setup.InstallDirectX, 0x10008u);
  EXPECT_STREQ(::Setup.InstallDXMessage, "DX?");
  EXPECT_STREQ(::Setup.SelectSetupMessage, "Which?");
  EXPECT_EQ(::Setup.AdditionalUninstallFileCount, 2);
  EXPECT_STREQ(::Setup.AdditionalUninstallFiles[0], "save\\a.dat");
  EXPECT_STREQ(::Setup.AdditionalUninstallFiles[1], "save\\b.dat");
  EXPECT_EQ(MissingKeysSilent, 1) << "the update run's reads stay silent";
}

TEST_F(SetupProfileTest, IdentityOverwritesTheManifestsValues) {
  strcpy(CompanyName, "ManifestMaker");
  strcpy(GameTitle, "ManifestTitle");
  strcpy(GameDir, "ManifestDir");
  strcpy(GameClass, "ManifestClass");
  ASSERT_EQ(Load(), 1);
  EXPECT_STREQ(CompanyName, "Maker");
  EXPECT_STREQ(GameDir, "TitleDir");
  EXPECT_STREQ(GameClass, "Title") << "without GameClass the installed GameTitle is the class";
}

TEST_F(SetupProfileTest, ReportingIsSwitchedOnAgainWhenTheLoadBegins) {
  MissingKeysSilent = 1;
  Remove("GameExe");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : GameExe" + kMissingTail);
}

// ---- required keys ------------------------------------------------------------------------

class RequiredKeyTest : public SetupProfileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RequiredKeyTest, MissingKeyIsReportedByNameAndFails) {
  Remove(GetParam());
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), std::string("SETUP.INI : ") + GetParam() + kMissingTail);
}

TEST_P(RequiredKeyTest, EmptyValueCountsAsMissing) {
  Set(GetParam(), "");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), std::string("SETUP.INI : ") + GetParam() + kMissingTail);
}

INSTANTIATE_TEST_SUITE_P(StepsTwoToSeven, RequiredKeyTest,
                         ::testing::Values("CompanyName", "GameTitle", "GameDir", "GameExe", "UninstExe", "SetupBmp",
                                           "InstallSelects", "InstallTitle0", "InstallFiles0", "InstallTitle1",
                                           "InstallFiles1", "Shortcuts", "Shortcut0"));

TEST_F(SetupProfileTest, FailureKeepsWhatWasStoredAndReadsNothingMore) {
  Remove("UninstExe");
  Set("DiskCheckFile0", "X.CHK");
  EXPECT_EQ(Load(), 0);
  EXPECT_STREQ(::Setup.GameExe, "game.exe") << "values before the failing step stay";
  EXPECT_STREQ(::Setup.SetupBmp[0], "") << "later steps never ran";
  EXPECT_STREQ(::Setup.DiskCheckFile[0], "");
  EXPECT_EQ(MissingKeysSilent, 0);
}

// ---- SetupBmp ------------------------------------------------------------------------------

TEST_F(SetupProfileTest, SetupBmpWithoutFirstFieldIsItsOwnError) {
  Set("SetupBmp", ",a.bmp");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : SetupBmps" + kErrorTail);
}

TEST_F(SetupProfileTest, SingleSetupBmpGivesLastIndexZero) {
  Set("SetupBmp", "only.bmp");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.SetupBmpLast, 0);
  EXPECT_STREQ(::Setup.SetupBmp[0], "only.bmp");
}

TEST_F(SetupProfileTest, TwentyOrMoreSetupBmpsStoreTwenty) {
  Set("SetupBmp", Fields(20, "b"));
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.SetupBmpLast, 19);
  EXPECT_STREQ(::Setup.SetupBmp[19], "b19");

  ResetConfigState();
  Set("SetupBmp", Fields(25, "b"));
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.SetupBmpLast, 19);
  EXPECT_STREQ(::Setup.SetupBmp[19], "b19");
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

TEST_F(SetupProfileTest, SetupBmpFieldTooLongForItsSlotIsAListError) {
  Set("SetupBmp", "a.bmp," + std::string(FIELD_SLOT, 'x'));
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : SetupBmp" + kErrorTail);
}

// ---- selections -------------------------------------------------------------------------------

TEST_F(SetupProfileTest, ThreeSelectionsLoad) {
  Set("InstallSelects", "3");
  Set("InstallTitle2", "Third");
  Set("InstallFiles2", "z.dat");
  Set("InstallSize2", "77");
  ASSERT_EQ(Load(), 1);
  EXPECT_STREQ(::Setup.InstallTitle[2], "Third");
  EXPECT_STREQ(::Setup.InstallFiles[2][0], "z.dat");
  EXPECT_EQ(::Setup.InstallSize[2], 77u);
}

TEST_F(SetupProfileTest, FourSelectionsAreTooMany) {
  Set("InstallSelects", "4");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : InstallSelect" + kOverTail);
}

class NoSelectionTest : public SetupProfileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoSelectionTest, ReadsNoSelectionKeysAtAll) {
  Set("InstallSelects", GetParam());
  Remove("InstallTitle0");  // would be reported if read
  Remove("InstallFiles1");
  Set("InstallSize0", "5");
  ASSERT_EQ(Load(), 1);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
  EXPECT_STREQ(::Setup.InstallFiles[0][0], "");
  EXPECT_EQ(::Setup.InstallSize[0], 0u);
}

INSTANTIATE_TEST_SUITE_P(ZeroNegativeOrText, NoSelectionTest, ::testing::Values("0", "-1", "-2147483648", "abc"));

TEST_F(SetupProfileTest, DiskNumbersCarryOverWithinAListOnly) {
  Set("InstallFiles0", "2:a,b");
  Set("InstallFiles1", "c,3:d,e,0:f");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.InstallFileDisk[0][0], 2);
  EXPECT_EQ(::Setup.InstallFileDisk[0][1], 2);
  EXPECT_EQ(::Setup.InstallFileDisk[1][0], 0) << "no carry-over from the list before";
  EXPECT_EQ(::Setup.InstallFileDisk[1][1], 3);
  EXPECT_EQ(::Setup.InstallFileDisk[1][2], 3);
  EXPECT_EQ(::Setup.InstallFileDisk[1][3], 0);
  EXPECT_EQ(::Setup.InstallNeedsDisk[0], 1);
  EXPECT_EQ(::Setup.InstallNeedsDisk[1], 1);
}

TEST_F(SetupProfileTest, FileListOfFortyFiveLoadsTheFirstForty) {
  Set("InstallFiles0", Fields(45, "f"));
  ASSERT_EQ(Load(), 1);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
  EXPECT_STREQ(::Setup.InstallFiles[0][0], "f0");
  EXPECT_STREQ(::Setup.InstallFiles[0][39], "f39");
}

TEST_F(SetupProfileTest, FileListWithoutFirstFieldNamesItsKey) {
  Set("InstallFiles1", ",a.dat");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : InstallFiles1" + kErrorTail);
}

TEST_F(SetupProfileTest, FileNameTooLongForItsSlotNamesItsKey) {
  Set("InstallFiles0", "a.dat," + std::string(FIELD_SLOT, 'x') + ",c.dat");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : InstallFiles0" + kErrorTail);
  EXPECT_STREQ(::Setup.InstallFiles[0][0], "a.dat");
}

TEST_F(SetupProfileTest, FileNameFillingItsSlotLoads) {
  std::string name(FIELD_SLOT - 1, 'x');
  Set("InstallFiles0", "1:" + name);
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(std::string(::Setup.InstallFiles[0][0]), name);
  EXPECT_EQ(::Setup.InstallFileDisk[0][0], 1);
}

// ---- shortcuts ------------------------------------------------------------------------------------

TEST_F(SetupProfileTest, TenShortcutsAreAccepted) {
  Set("Shortcuts", "10");
  for (int s = 0; s < 10; s++) Set("Shortcut" + std::to_string(s), "T" + std::to_string(s) + ",x.exe");
  ASSERT_EQ(Load(), 1);
  EXPECT_STREQ(::Setup.Shortcut[9][0], "T9");
  EXPECT_STREQ(::Setup.Shortcut[9][1], "x.exe");
}

TEST_F(SetupProfileTest, ElevenShortcutsAreTooMany) {
  Set("Shortcuts", "11");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : Shortcuts" + kOverTail);
}

TEST_F(SetupProfileTest, ShortcutOfTwoFieldsHasAnEmptyThird) {
  Set("Shortcut0", "Game,game.exe");
  ASSERT_EQ(Load(), 1);
  EXPECT_STREQ(::Setup.Shortcut[0][1], "game.exe");
  EXPECT_STREQ(::Setup.Shortcut[0][2], "");
}

TEST_F(SetupProfileTest, ShortcutOfOneFieldNamesItsKey) {
  Set("Shortcut0", "Game");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : Shortcut0" + kErrorTail);
}

TEST_F(SetupProfileTest, ShortcutTextAfterTheThirdFieldIsIgnored) {
  Set("Shortcut0", "a,b,c,d");
  ASSERT_EQ(Load(), 1);
  EXPECT_STREQ(::Setup.Shortcut[0][2], "c");
}

TEST_F(SetupProfileTest, ShortcutValueIsReadAsOneSlotWide) {
  Set("Shortcut0", "a," + std::string(300, 'x'));
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(std::string(::Setup.Shortcut[0][1]), std::string(257, 'x')) << "value cut to 259 bytes first";
}

TEST_F(SetupProfileTest, NoShortcutsReadsNoShortcutKey) {
  Set("Shortcuts", "0");
  Remove("Shortcut0");
  ASSERT_EQ(Load(), 1);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

// ---- optional keys and defaults ------------------------------------------------------------------

TEST_F(SetupProfileTest, OptionalKeysAbsentTakeDefaultsSilently) {
  ASSERT_EQ(Load(), 1);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
  EXPECT_STREQ(GameClass, "Title");
  EXPECT_EQ(::Setup.DefaultSelect, 0);
  EXPECT_EQ(::Setup.InstallSize[0], 0u);
  for (int n = 0; n < DISK_CHECK_FILES; n++) EXPECT_STREQ(::Setup.DiskCheckFile[n], "");
  EXPECT_STREQ(::Setup.ExecApp[0], "");
  EXPECT_STREQ(::Setup.ExecApp[1], "");
  EXPECT_EQ(::Setup.InstallDirectX, 0u);
  EXPECT_EQ(std::string(::Setup.InstallDXMessage), kDefaultDX);
  EXPECT_EQ(std::string(::Setup.SelectSetupMessage), kDefaultSelect);
  EXPECT_EQ(::Setup.AdditionalUninstallFileCount, 0);
}

TEST_F(SetupProfileTest, DefaultSelectIsNotCheckedAgainstTheSelections) {
  Set("DefaultSelect", "7");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.DefaultSelect, 7);
}

TEST_F(SetupProfileTest, InstallSizeIsUnsignedSixtyFourBitOfNineteenCharacters) {
  Set("InstallSelects", "3");
  Set("InstallTitle2", "T");
  Set("InstallFiles2", "x");
  Set("InstallSize0", "  -1000");
  Set("InstallSize1", "123456789012345678901234");
  Set("InstallSize2", "abc");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.InstallSize[0], 18446744073709550616ull);
  EXPECT_EQ(::Setup.InstallSize[1], 1234567890123456789ull);
  EXPECT_EQ(::Setup.InstallSize[2], 0u);
}

TEST_F(SetupProfileTest, DiskCheckFileSlotsAreReadIndependently) {
  Set("DiskCheckFile5", "DISK5.CHK");
  Set("DiskCheckFile9", "DISK9.CHK");
  Set("DiskCheckFile10", "NEVER.CHK");
  ASSERT_EQ(Load(), 1);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
  for (int n = 0; n < DISK_CHECK_FILES; n++) {
    const char* expected = n == 5 ? "DISK5.CHK" : n == 9 ? "DISK9.CHK" : "";
    EXPECT_STREQ(::Setup.DiskCheckFile[n], expected) << "slot " << n;
  }
}

TEST_F(SetupProfileTest, ExecAppOfOneFieldIsAnError) {
  Set("ExecApp", "setup.exe");
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : ExecApp" + kErrorTail);
}

TEST_F(SetupProfileTest, ExecAppTakesTwoFieldsAndIgnoresTheRest) {
  Set("ExecApp", "1:a.exe,b.txt,c");
  ASSERT_EQ(Load(), 1);
  EXPECT_STREQ(::Setup.ExecApp[0], "a.exe");
  EXPECT_STREQ(::Setup.ExecApp[1], "b.txt");
}

struct DirectXCase {
  const char* value;
  DWORD flags;
};
class DirectXTest : public SetupProfileTest, public ::testing::WithParamInterface<DirectXCase> {};

TEST_P(DirectXTest, OnlyTheTwoLowBitsCount) {
  Set("InstallDirectX", GetParam().value);
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.InstallDirectX, GetParam().flags) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, DirectXTest,
                         ::testing::Values(DirectXCase{"0", 0x10000}, DirectXCase{"1", 0x10008},
                                           DirectXCase{"2", 0x10010}, DirectXCase{"3", 0x10018},
                                           DirectXCase{"7", 0x10018}, DirectXCase{"-1", 0x10018},
                                           DirectXCase{"abc", 0x10000}));

TEST_F(SetupProfileTest, MessagesHoldUpToTheirLongCapacity) {
  Set("InstallDXMessage", std::string(1100, 'd'));
  Set("SelectSetupMessage", "\x91\x49\x91\xf0");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(std::string(::Setup.InstallDXMessage), std::string(1023, 'd'));
  EXPECT_STREQ(::Setup.SelectSetupMessage, "\x91\x49\x91\xf0");
}

TEST_F(SetupProfileTest, UninstallListStopsAtTwenty) {
  Set("AdditionalUninstallFiles", Fields(25, "u"));
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.AdditionalUninstallFileCount, 20);
  EXPECT_STREQ(::Setup.AdditionalUninstallFiles[19], "u19");
}

TEST_F(SetupProfileTest, UninstallListStartingWithCommaIsEmptyNotAnError) {
  Set("AdditionalUninstallFiles", ",a.dat");
  ASSERT_EQ(Load(), 1);
  EXPECT_EQ(::Setup.AdditionalUninstallFileCount, 0);
  EXPECT_TRUE(scripted::MessageBoxes().empty());
}

TEST_F(SetupProfileTest, UninstallFileTooLongForItsSlotIsAListError) {
  Set("AdditionalUninstallFiles", "a.dat," + std::string(FIELD_SLOT, 'x'));
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(OnlyMessage(), "SETUP.INI : AdditionalUninstallFiles" + kErrorTail);
}

}  // namespace
