// The update run in whole WinMain runs: the disk-space test, the work lists
// with their install-mode filter, the four operation codes, the data folder
// and data path, and the CD-ROM copies with their prompt.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/state.h"
#include "support/temp_drive.h"
#include "support/updater_fixture.h"

namespace {

using wz2test::kPayloadTime;
using wz2test::TempDrive;
using wz2test::UpdaterFixture;

const char kWriteFailed[] = "ファイルの書き込みに失敗しました";
const char kInterrupted[] = "アップデートが中断されました";
const char kNothingToDo[] = "アップデートする必要のあるファイルはありません";
const char kTitle[] = "Title アップデータ 1.01";

class Update : public UpdaterFixture {
 protected:
  void SetUp() override {
    UpdaterFixture::SetUp();
    ScriptClickNextThrough();
  }
  // Sets a file's last-write time through the platform layer.
  void Stamp(const std::string& windowsPath, uint64_t time) {
    HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME ft = wz2test::MakeFileTime(time);
    SetFileTime(file, &ft, &ft, &ft);
    CloseHandle(file);
  }
  uint64_t WriteTime(const std::string& windowsPath) {
    wz2test::FileTimes times;
    EXPECT_TRUE(wz2test::ReadFileTimes(windowsPath, &times));
    return times.write;
  }
};

// ---- Disk space ----------------------------------------------------------------

TEST_F(Update, FreeSpaceEqualToRequirementPasses) {
  UpdateKey("RequiredDiskSpace", "1000");
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  scripted::SetFreeSpace('C', 1000, 1u << 20, 1000);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\A.DAT"), "new");
}

TEST_F(Update, OneByteShortStopsWithShortfallMessage) {
  UpdateKey("RequiredDiskSpace", "1001");
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  scripted::SetFreeSpace('C', 1000, 1u << 20, 1000);
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(scripted::ControlText(IDC_INFO), "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です");
  EXPECT_FALSE(Exists("GAME\\A.DAT"));
}

TEST_F(Update, ShortfallOfANegativeRequirementIsPrintedAsTheTrueFigure) {
  // -1 is taken as 4,294,967,295 bytes; with 1,000 free the shortfall is
  // 4,294,966,295, not the -1001 a signed format would print. (Start-up's
  // extraction of the manifest needs the 1,000 bytes.)
  UpdateKey("RequiredDiskSpace", "-1");
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  scripted::SetFreeSpace('C', 1000, 1u << 20, 1000);
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
  });
  Run();
  EXPECT_EQ(scripted::ControlText(IDC_INFO),
            "ディスク容量が足りません。\rC: ドライブに 4294966295 バイトの空き容量が必要です");
}

TEST_F(Update, DriveNameIsTheFirstTwoBytesOfInstPath) {
  TempDrive d('D');
  d.MakeDirectory("GAME");
  d.WriteFile("GAME\\SETUP.INI", wz2test::DefaultSetupIni());
  record.instPath = std::string("D:\\GAME");
  UpdateKey("RequiredDiskSpace", "50");
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  scripted::SetFreeSpace('D', 20, 1u << 20, 20);
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
  });
  Run();
  EXPECT_EQ(scripted::ControlText(IDC_INFO), "ディスク容量が足りません。\rD: ドライブに 30 バイトの空き容量が必要です");
}

TEST_F(Update, ZeroOrTextRequirementMakesNoTest) {
  for (const char* value : {"0", "abc"}) {
    SCOPED_TRACE(value);
    manifestUpdate = std::string("RequiredDiskSpace=") + value + "\r\nUpdateFile00=A.DAT\r\n";
    payload.clear();
    AddFile("A.DAT", "new");
    scripted::SetFreeSpace('C', 500, 1u << 20, 500);
    ScriptClickNextThrough();
    EXPECT_EQ(Run(), 1);
  }
}

TEST_F(Update, FailedFreeSpaceQueryPasses) {
  UpdateKey("RequiredDiskSpace", "1000000");
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  scripted::FailFreeSpace('C');
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\A.DAT"), "new");
}

// ---- Lists and the decision ------------------------------------------------------

TEST_F(Update, NoListKeysEndsTheRun) {
  UpdateKey("UpdateFile01", "A.DAT");  // without UpdateFile00 the list is empty
  UpdateKey("CopyFile01", "MOVIE");
  AddFile("A.DAT", "new");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0].text, "No 'UpdateFileXX' and 'CopyFileXX'");
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  EXPECT_EQ(Boxes()[0].flags, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(Boxes()[1].text, kInterrupted);
  EXPECT_FALSE(Exists("GAME\\A.DAT"));
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Update, EntriesForOtherInstModeOnlyFinishWithNothingToDo) {
  UpdateKey("UpdateFile00", "2,A.DAT");
  UpdateKey("CopyFile00", "2,1:MOVIE");
  AddFile("A.DAT", "new");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNothingToDo});
  EXPECT_EQ(Boxes()[0].flags, static_cast<UINT>(MB_ICONERROR));
  EXPECT_FALSE(Exists("GAME\\A.DAT"));
  EXPECT_EQ(scripted::Dialog().result, 0);
}

// The lists are walked by the manifest's own walk (its gaps and empty values
// are in manifest_test); here the run shows it takes that walk's sixteen.
TEST_F(Update, SixteenEntriesAtMost) {
  for (int n = 0; n < 17; ++n) {
    char key[32], name[24];  // name: room for any int, as -O1 cannot bound n
    snprintf(key, sizeof(key), "UpdateFile%02d", n);
    snprintf(name, sizeof(name), "F%02d.DAT", n);
    UpdateKey(key, name);
    AddFile(name, name);
  }
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(UpdateItemCount, 16);
  EXPECT_TRUE(Exists("GAME\\F15.DAT"));
  EXPECT_FALSE(Exists("GAME\\F16.DAT"));
}

TEST_F(Update, FieldTooLongForItsSlotIsRefusedBeforeAnythingIsWritten) {
  UpdateKey("UpdateFile00", "A.DAT");
  UpdateKey("UpdateFile01", "u," + std::string(300, 'X'));
  AddFile("A.DAT", "new");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kWriteFailed, kInterrupted}));
  EXPECT_FALSE(Exists("GAME\\A.DAT"));
}

TEST_F(Update, FieldTooLongInAnEntryForAnotherModeIsDroppedSilently) {
  UpdateKey("UpdateFile00", "A.DAT");
  UpdateKey("UpdateFile01", "2,u," + std::string(300, 'X'));  // this installation is mode 1
  UpdateKey("UpdateFile02", "B.DAT");
  AddFile("A.DAT", "a");
  AddFile("B.DAT", "b");
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Read("GAME\\A.DAT"), "a");
  EXPECT_EQ(Read("GAME\\B.DAT"), "b");
}

TEST_F(Update, CopyEntryWithNonDigitDiskIsRefused) {
  UpdateKey("CopyFile00", "X:MOVIE");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kWriteFailed, kInterrupted}));
  EXPECT_TRUE(scripted::ShellCopies().empty());
}

// ---- Install mode --------------------------------------------------------------

TEST_F(Update, ModeFilteredEntryAppliesToItsModeOnly) {
  record.instMode = 2u;
  c_.MakeDirectory("GAME\\SUB");
  UpdateKey("UpdateFile00", "2,u,SUB\\A.DAT");
  UpdateKey("UpdateFile01", "1,B.DAT");
  AddFile("A.DAT", "a");
  AddFile("B.DAT", "b");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\SUB\\A.DAT"), "a");
  EXPECT_FALSE(Exists("GAME\\B.DAT"));
  ASSERT_EQ(UpdateItemCount, 1);
  EXPECT_EQ(UpdateItems[0].operationCode, 1);
  EXPECT_EQ(UpdateItems[0].nameOffset, 4);
}

TEST_F(Update, TwoDigitFirstFieldIsAPathNotAMode) {
  UpdateKey("UpdateFile00", "12,u,A.DAT");
  AddFile("12", "twelve");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\12"), "twelve");
  EXPECT_FALSE(Exists("GAME\\A.DAT"));
}

// ---- Operation codes -------------------------------------------------------------

TEST_F(Update, PathOnlyEntryAlwaysWritesAndCreatesMissingFiles) {
  c_.WriteFile("GAME\\OLD.DAT", "installed");
  Stamp("C:\\GAME\\OLD.DAT", kPayloadTime + 1000000);  // newer than the archive
  UpdateKey("UpdateFile00", "OLD.DAT");
  UpdateKey("UpdateFile01", "NEW.DAT");
  AddFile("OLD.DAT", "archive old");
  AddFile("NEW.DAT", "archive new");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\OLD.DAT"), "archive old");
  EXPECT_EQ(Read("GAME\\NEW.DAT"), "archive new");
  EXPECT_EQ(WriteTime("C:\\GAME\\NEW.DAT"), kPayloadTime);
}

TEST_F(Update, NewerOnlyKeepsANewerInstalledFileAndReplacesAnOlderOne) {
  c_.WriteFile("GAME\\NEWER.DAT", "installed newer");
  c_.WriteFile("GAME\\OLDER.DAT", "installed older");
  Stamp("C:\\GAME\\NEWER.DAT", kPayloadTime + 1);
  Stamp("C:\\GAME\\OLDER.DAT", kPayloadTime - 1);
  UpdateKey("UpdateFile00", "u,NEWER.DAT");
  UpdateKey("UpdateFile01", "U,OLDER.DAT");
  UpdateKey("UpdateFile02", "u,MISSING.DAT");
  AddFile("NEWER.DAT", "archive");
  AddFile("OLDER.DAT", "archive");
  AddFile("MISSING.DAT", "archive");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\NEWER.DAT"), "installed newer");
  EXPECT_EQ(Read("GAME\\OLDER.DAT"), "archive");
  EXPECT_EQ(Read("GAME\\MISSING.DAT"), "archive");
}

TEST_F(Update, DataEntryKeepsExistingContentAndWritesMissingFile) {
  c_.WriteFile("DATA\\USER.DAT", "the player's data");
  UpdateKey("UpdateFile00", "d,USER.DAT");
  UpdateKey("UpdateFile01", "D,FRESH.DAT");
  AddFile("USER.DAT", "archive");
  AddFile("FRESH.DAT", "archive fresh");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("DATA\\USER.DAT"), "the player's data");
  EXPECT_EQ(Read("DATA\\FRESH.DAT"), "archive fresh");
  EXPECT_FALSE(Exists("GAME\\FRESH.DAT"));
}

TEST_F(Update, DataEntryWithUnreadableFileNameInArchiveIsNotNeeded) {
  // The existing file is written back; the archive need not hold the entry.
  c_.WriteFile("DATA\\USER.DAT", "kept");
  UpdateKey("UpdateFile00", "d,USER.DAT");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("DATA\\USER.DAT"), "kept");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Update, OverwriteEntryWritesOnlyOverAnExistingFile) {
  c_.WriteFile("GAME\\HERE.DAT", "old");
  c_.MakeDirectory("GAME\\DIR.DAT");
  UpdateKey("UpdateFile00", "o,HERE.DAT");
  UpdateKey("UpdateFile01", "o,GONE.DAT");
  UpdateKey("UpdateFile02", "O,DIR.DAT");
  AddFile("HERE.DAT", "new");
  AddFile("GONE.DAT", "new");
  AddFile("DIR.DAT", "new");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\HERE.DAT"), "new");
  EXPECT_FALSE(Exists("GAME\\GONE.DAT"));
  EXPECT_TRUE(c_.IsDirectory("GAME\\DIR.DAT"));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Update, OverwriteOnlySkipsMissingTargetsOfEveryCode) {
  UpdateKey("OverwriteOnly", "1");
  c_.WriteFile("GAME\\P.DAT", "old p");
  c_.WriteFile("GAME\\U.DAT", "old u");
  Stamp("C:\\GAME\\U.DAT", kPayloadTime - 1);
  c_.WriteFile("DATA\\D.DAT", "old d");
  UpdateKey("UpdateFile00", "P.DAT");
  UpdateKey("UpdateFile01", "u,U.DAT");
  UpdateKey("UpdateFile02", "d,D.DAT");
  UpdateKey("UpdateFile03", "P2.DAT");
  UpdateKey("UpdateFile04", "u,U2.DAT");
  UpdateKey("UpdateFile05", "d,D2.DAT");
  for (const char* name : {"P.DAT", "U.DAT", "D.DAT", "P2.DAT", "U2.DAT", "D2.DAT"}) AddFile(name, "new");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\P.DAT"), "new");
  EXPECT_EQ(Read("GAME\\U.DAT"), "new");
  EXPECT_EQ(Read("DATA\\D.DAT"), "old d");
  EXPECT_FALSE(Exists("GAME\\P2.DAT"));
  EXPECT_FALSE(Exists("GAME\\U2.DAT"));
  EXPECT_FALSE(Exists("DATA\\D2.DAT"));
}

TEST_F(Update, OverwriteOnlyZeroOrTextIsOff) {
  UpdateKey("OverwriteOnly", "0x1");  // digits stop at the x: 0
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\A.DAT"), "new");
}

TEST_F(Update, DirectoryAtTargetFailsTheRunForWritingCodes) {
  c_.MakeDirectory("GAME\\A.DAT");
  UpdateKey("UpdateFile00", "B.DAT");
  UpdateKey("UpdateFile01", "A.DAT");
  UpdateKey("UpdateFile02", "C.DAT");
  AddFile("A.DAT", "a");
  AddFile("B.DAT", "b");
  AddFile("C.DAT", "c");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kWriteFailed, kInterrupted}));
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  EXPECT_EQ(Boxes()[0].flags, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(Read("GAME\\B.DAT"), "b");   // written before the failure: stays
  EXPECT_FALSE(Exists("GAME\\C.DAT"));   // after it: never reached
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Update, DirectoryAtTargetIsSkippedUnderOverwriteOnly) {
  UpdateKey("OverwriteOnly", "5");
  c_.MakeDirectory("GAME\\A.DAT");
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "a");
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Update, MissingSubdirectoryFailsUnlessTargetMustExist) {
  UpdateKey("UpdateFile00", "o,SUB\\A.DAT");
  UpdateKey("UpdateFile01", "SUB\\A.DAT");
  AddFile("A.DAT", "a");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kWriteFailed, kInterrupted}));
  EXPECT_FALSE(Exists("GAME\\SUB"));
}

TEST_F(Update, MissingArchiveEntryShowsBothMessagesAndKeepsEarlierItems) {
  UpdateKey("UpdateFile00", "A.DAT");
  UpdateKey("UpdateFile01", "NOPE.DAT");
  AddFile("A.DAT", "a");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Can't Find File in Resource !!", kWriteFailed, kInterrupted}));
  EXPECT_EQ(Read("GAME\\A.DAT"), "a");
}

TEST_F(Update, TooLittleSpaceForAnEntryShowsExtractionsMessageFirst) {
  UpdateKey("UpdateFile00", "BIG.DAT");
  AddFile("BIG.DAT", std::string(5000, 'b'));
  scripted::SetFreeSpace('C', 1000, 1u << 20, 1000);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"ディスク容量が足りません。C: ドライブに 4000 バイトの空き容量が必要です",
                                                  kWriteFailed, kInterrupted}));
  EXPECT_FALSE(Exists("GAME\\BIG.DAT"));
}

TEST_F(Update, NoMemoryForExpansionShowsExtractionsMessageFirst) {
  UpdateKey("UpdateFile00", "BIG.DAT");
  AddFile("BIG.DAT", std::string(3000, 'b'), kPayloadTime, true);
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::FailAllocations(0);  // the expansion block of BIG.DAT
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Can't Allocate Memory !!", kWriteFailed, kInterrupted}));
  EXPECT_FALSE(Exists("GAME\\BIG.DAT"));
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

TEST_F(Update, DataEntryThatCannotBeWrittenBackCountsAsDone) {
  c_.WriteFile("DATA\\USER.DAT", "kept");
  UpdateKey("UpdateFile00", "d,USER.DAT");
  UpdateKey("UpdateFile01", "o,NONE.DAT");
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::FailWritesTo("", 0);  // every write from here on fails
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Read("DATA\\USER.DAT"), "kept");
}

TEST_F(Update, EntryNameIsThePartAfterTheLastBackslash) {
  c_.MakeDirectory("GAME\\VOICE");
  UpdateKey("UpdateFile00", "VOICE\\VOICE1.PAK");
  AddFile("VOICE1.PAK", "voice");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\VOICE\\VOICE1.PAK"), "voice");
}

TEST_F(Update, CompressedEntryAndDirectoryAreExpanded) {
  UpdateKey("UpdateFile00", "BIG.DAT");
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>('a' + i % 7);
  AddFile("BIG.DAT", bytes, kPayloadTime, true);
  compressDirectory = true;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\BIG.DAT"), bytes);
}

// "C:\GAME\" and a 255-byte relative path: 263 bytes, past the 259 the file
// system takes. A target that long cannot exist: items that need an
// existing target skip it without a word; items that would write it are
// refused as a failed write.
struct OverlongCase {
  const char* name;
  const char* entry;          // prefix of the entry: letter and comma
  const char* overwriteOnly;  // the key's value, or nullptr for none
  bool refused;
};

class OverlongTarget : public Update, public ::testing::WithParamInterface<OverlongCase> {};

TEST_P(OverlongTarget, IsSkippedWhereItMustExistAndRefusedWhereItWouldBeWritten) {
  const OverlongCase& c = GetParam();
  const std::string longDir(240, 'L'), name(14, 'N');
  c_.MakeDirectory("GAME\\" + longDir);
  c_.WriteFile("GAME\\A.DAT", "old");
  if (c.overwriteOnly) UpdateKey("OverwriteOnly", c.overwriteOnly);
  UpdateKey("UpdateFile00", std::string(c.entry) + longDir + "\\" + name);
  UpdateKey("UpdateFile01", "A.DAT");
  AddFile(name, "n");
  AddFile("A.DAT", "new");
  EXPECT_EQ(Run(), c.refused ? 0 : 1);
  if (c.refused) {
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kWriteFailed, kInterrupted}));
    EXPECT_EQ(Read("GAME\\A.DAT"), "old");
  } else {
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Read("GAME\\A.DAT"), "new");
  }
}

INSTANTIATE_TEST_SUITE_P(Update, OverlongTarget,
                         ::testing::Values(OverlongCase{"OverwriteEntry", "o,", nullptr, false},
                                           OverlongCase{"OverwriteEntryUnderOverwriteOnly", "O,", "1", false},
                                           OverlongCase{"PathOnlyUnderOverwriteOnly", "", "1", false},
                                           OverlongCase{"NewerOnlyUnderOverwriteOnly", "u,", "1", false},
                                           OverlongCase{"DataUnderOverwriteOnly", "d,", "1", false},
                                           OverlongCase{"PathOnly", "", nullptr, true},
                                           OverlongCase{"NewerOnly", "u,", nullptr, true}),
                         [](const ::testing::TestParamInfo<OverlongCase>& info) { return info.param.name; });

// Windows makes no temporary name in a folder longer than MAX_PATH - 14; a
// target of up to 259 bytes in such a folder is still written, in place.
TEST_F(Update, TargetInAFolderTooLongForATemporaryNameIsWrittenInPlace) {
  const std::string longDir(240, 'L');  // "C:\GAME\" + 240 = 248 bytes
  c_.MakeDirectory("GAME\\" + longDir);
  c_.WriteFile("GAME\\" + longDir + "\\OLD.DAT", "old");
  UpdateKey("UpdateFile00", longDir + "\\NEW.DAT");
  UpdateKey("UpdateFile01", longDir + "\\OLD.DAT");
  AddFile("NEW.DAT", "new");
  AddFile("OLD.DAT", "replaced");
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Read("GAME\\" + longDir + "\\NEW.DAT"), "new");
  EXPECT_EQ(Read("GAME\\" + longDir + "\\OLD.DAT"), "replaced");
}

// A player's file that shrank between the size query and the read: nothing
// of it is known for sure, so neither a part of it nor the archive's copy
// may be written over it. It stays as it is and the run goes on.
TEST_F(Update, DataEntryWhoseFileCannotBeReadWholeIsLeftUntouched) {
  c_.WriteFile("DATA\\USER.DAT", "the player's save");
  UpdateKey("UpdateFile00", "d,USER.DAT");
  UpdateKey("UpdateFile01", "A.DAT");
  AddFile("USER.DAT", "archive default");
  AddFile("A.DAT", "a");
  scripted::ShortenReadsOf("USER.DAT", 4);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(c_.ReadFile("DATA\\USER.DAT"), "the player's save");
  EXPECT_EQ(Read("GAME\\A.DAT"), "a");
}

// ---- DataFolder and DataPath ---------------------------------------------------------

TEST_F(Update, DataFolderIsCreatedBelowEachBase) {
  SetupKey("DataFolder", "SUBDIR");
  UpdateKey("UpdateFile00", "A.DAT");
  UpdateKey("UpdateFile01", "d,B.DAT");
  AddFile("A.DAT", "a");
  AddFile("B.DAT", "b");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\SUBDIR\\A.DAT"), "a");
  EXPECT_EQ(Read("DATA\\SUBDIR\\B.DAT"), "b");
}

TEST_F(Update, EmptyDataPathResolvesAgainstTheCurrentDirectory) {
  record.dataPath.reset();
  c_.MakeDirectory("CUR");
  scripted::SetCurrentDirectory("C:\\CUR");
  UpdateKey("UpdateFile00", "d,B.DAT");
  AddFile("B.DAT", "b");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("CUR\\B.DAT"), "b");
}

TEST_F(Update, EmptyDataPathWithDataFolder) {
  record.dataPath.reset();
  c_.MakeDirectory("CUR");
  scripted::SetCurrentDirectory("C:\\CUR");
  SetupKey("DataFolder", "SAVE");
  UpdateKey("UpdateFile00", "d,B.DAT");
  AddFile("B.DAT", "b");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("CUR\\SAVE\\B.DAT"), "b");
}

// ---- CD-ROM copies -----------------------------------------------------------------

class Copy : public Update {
 protected:
  TempDrive cd_{'E', DRIVE_CDROM};
};

TEST_F(Copy, FileFromTheDiskIsCopiedToTheSamePathBelowInstPath) {
  cd_.WriteFile("DISK1.CHK", "");
  cd_.WriteFile("MOVIE.DAT", "movie");
  UpdateKey("CopyFile00", "1:MOVIE.DAT");
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(scripted::ShellCopies().size(), 1u);
  const scripted::ShellCopyRecord& copy = scripted::ShellCopies()[0];
  EXPECT_EQ(copy.func, static_cast<UINT>(FO_COPY));
  EXPECT_EQ(copy.from, std::vector<std::string>{"E:\\MOVIE.DAT"});
  EXPECT_EQ(copy.to, std::vector<std::string>{"C:\\GAME\\MOVIE.DAT"});
  EXPECT_EQ(copy.flags, 0x0210);
  EXPECT_NE(copy.owner, nullptr);
  EXPECT_EQ(Read("GAME\\MOVIE.DAT"), "movie");
}

TEST_F(Copy, DirectoryIsCopiedIntoInstPath) {
  record.instMode = 1u;
  cd_.WriteFile("DISK2.CHK", "");
  cd_.WriteFile("MOVIE\\M1.AVI", "m1");
  UpdateKey("CopyFile00", "1,2:MOVIE");
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(scripted::ShellCopies().size(), 1u);
  EXPECT_EQ(scripted::ShellCopies()[0].from, std::vector<std::string>{"E:\\MOVIE"});
  EXPECT_EQ(scripted::ShellCopies()[0].to, std::vector<std::string>{"C:\\GAME"});
  EXPECT_EQ(scripted::ShellCopies()[0].flags, 0x0610);
  EXPECT_EQ(Read("GAME\\MOVIE\\M1.AVI"), "m1");
}

TEST_F(Copy, InformationTextNamesTheCopiedPath) {
  cd_.WriteFile("DISK1.CHK", "");
  cd_.WriteFile("A,B.DAT", "ab");
  UpdateKey("CopyFile00", "1:A,B.DAT");  // not split at the comma
  EXPECT_EQ(Run(), 1);
  bool shown = false;
  for (const auto& change : scripted::ControlTextHistory())
    shown = shown || (change.first == IDC_INFO && change.second == "A,B.DAT をコピーしています");
  EXPECT_TRUE(shown);
  EXPECT_EQ(Read("GAME\\A,B.DAT"), "ab");
}

TEST_F(Copy, DrivesThatAreNoCdRomOrLackTheCheckFileAreSkipped) {
  TempDrive fixed('D');
  fixed.WriteFile("DISK1.CHK", "");
  fixed.WriteFile("X.DAT", "wrong");
  TempDrive otherCd('F', DRIVE_CDROM);
  otherCd.WriteFile("X.DAT", "wrong disk");
  TempDrive rightCd('G', DRIVE_CDROM);
  rightCd.WriteFile("DISK1.CHK", "");
  rightCd.WriteFile("X.DAT", "right");
  UpdateKey("CopyFile00", "1:X.DAT");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\X.DAT"), "right");
}

TEST_F(Copy, LaterEntryWithoutDiskUsesTheDriveFoundBefore) {
  // E holds no check file: the search finds F, and MOVIE2, which names no
  // disk, comes from F as well although E is searched first.
  cd_.WriteFile("MOVIE1", "from E");
  cd_.WriteFile("MOVIE2", "from E");
  TempDrive second('F', DRIVE_CDROM);
  second.WriteFile("DISK1.CHK", "");
  second.WriteFile("MOVIE1", "from F");
  second.WriteFile("MOVIE2", "from F");
  UpdateKey("CopyFile00", "1:MOVIE1");
  UpdateKey("CopyFile01", "MOVIE2");
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(scripted::ShellCopies().size(), 2u);
  EXPECT_EQ(scripted::ShellCopies()[1].from, std::vector<std::string>{"F:\\MOVIE2"});
  EXPECT_EQ(Read("GAME\\MOVIE2"), "from F");
}

TEST_F(Copy, EntryWithoutDiskBeforeAnySearchIsRefused) {
  cd_.WriteFile("MOVIE", "m");
  UpdateKey("CopyFile00", "MOVIE");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0].text, "SETUP.INI : \"MOVIE\" のコピーに失敗しました");
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  EXPECT_EQ(Boxes()[0].flags, static_cast<UINT>(MB_ICONERROR));
  EXPECT_NE(Boxes()[0].owner, nullptr);
  EXPECT_EQ(Boxes()[1].text, kInterrupted);
  EXPECT_TRUE(scripted::ShellCopies().empty());
}

TEST_F(Copy, PromptRepeatsUntilTheDiskIsInserted) {
  UpdateKey("CopyFile00", "2:X.DAT");
  int prompts = 0;
  scripted::SetMessageBoxHandler([&](const scripted::MessageBoxRecord& box) {
    if (box.flags != MB_OKCANCEL) return 0;
    if (++prompts == 2) {
      cd_.WriteFile("DISK2.CHK", "");
      cd_.WriteFile("X.DAT", "x");
    }
    return IDOK;
  });
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(prompts, 2);
  ASSERT_GE(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "ＣＤ－ＲＯＭドライブに「Title」ディスク 2 を入れて下さい");
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  EXPECT_EQ(Boxes()[0].flags, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_NE(Boxes()[0].owner, nullptr);
  EXPECT_EQ(Read("GAME\\X.DAT"), "x");
}

TEST_F(Copy, CancelledPromptEndsTheRun) {
  UpdateKey("CopyFile00", "1:X.DAT");
  scripted::ScriptMessageBoxAnswers({IDCANCEL});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"ＣＤ－ＲＯＭドライブに「Title」ディスク 1 を入れて下さい", kInterrupted}));
  EXPECT_TRUE(scripted::ShellCopies().empty());
}

TEST_F(Copy, EmptyCheckFileSlotAcceptsAnyCdRomRoot) {
  cd_.WriteFile("X.DAT", "x");
  UpdateKey("CopyFile00", "3:X.DAT");  // DiskCheckFile3 is not set
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Read("GAME\\X.DAT"), "x");
}

TEST_F(Copy, ShellFailureShowsTheCopyFailureBox) {
  cd_.WriteFile("DISK1.CHK", "");
  cd_.WriteFile("X.DAT", "x");
  UpdateKey("CopyFile00", "1:X.DAT");
  UpdateKey("CopyFile01", "Y.DAT");
  scripted::ScriptShellOutcomes({scripted::ShellOutcome::Fail});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"SETUP.INI : \"X.DAT\" のコピーに失敗しました", kInterrupted}));
  EXPECT_EQ(Boxes()[0].flags, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(scripted::ShellCopies().size(), 1u);
}

TEST_F(Copy, ShellCancelEndsTheRunWithoutMessage) {
  cd_.WriteFile("DISK1.CHK", "");
  cd_.WriteFile("X.DAT", "x");
  UpdateKey("CopyFile00", "1:X.DAT");
  scripted::ScriptShellOutcomes({scripted::ShellOutcome::Cancel});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kInterrupted});
}

TEST_F(Copy, MissingSourceGoesToTheShellAsDirectoryAndFails) {
  cd_.WriteFile("DISK1.CHK", "");
  UpdateKey("CopyFile00", "1:GONE");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(scripted::ShellCopies().size(), 1u);
  EXPECT_EQ(scripted::ShellCopies()[0].to, std::vector<std::string>{"C:\\GAME"});
  EXPECT_EQ(scripted::ShellCopies()[0].flags, 0x0610);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"SETUP.INI : \"GONE\" のコピーに失敗しました", kInterrupted}));
}

TEST_F(Copy, OverlongSourceIsRefusedWithTheCopyFailureBox) {
  cd_.WriteFile("DISK1.CHK", "");
  std::string name(257, 'Z');  // "E:\" and 257 bytes: PATH_BUFFER, one past the limit
  UpdateKey("CopyFile00", "1:" + name);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"SETUP.INI : \"" + name + "\" のコピーに失敗しました", kInterrupted}));
  EXPECT_TRUE(scripted::ShellCopies().empty());
}

TEST_F(Copy, OverlongDestinationIsRefusedWithTheCopyFailureBox) {
  cd_.WriteFile("DISK1.CHK", "");
  std::string dir(200, 'G');
  std::string name(80, 'F');
  c_.MakeDirectory(dir);
  c_.WriteFile(dir + "\\SETUP.INI", wz2test::DefaultSetupIni());
  record.instPath = "C:\\" + dir;
  cd_.WriteFile(name, "f");
  UpdateKey("CopyFile00", "1:" + name);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"SETUP.INI : \"" + name + "\" のコピーに失敗しました", kInterrupted}));
  EXPECT_TRUE(scripted::ShellCopies().empty());
}

TEST_F(Copy, UpdatesComeFirstAndAFailedOneStopsTheCopies) {
  cd_.WriteFile("DISK1.CHK", "");
  cd_.WriteFile("X.DAT", "x");
  UpdateKey("CopyFile00", "1:X.DAT");
  UpdateKey("UpdateFile00", "NOPE.DAT");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(scripted::ShellCopies().empty());
  EXPECT_FALSE(Exists("GAME\\X.DAT"));
}

}  // namespace
