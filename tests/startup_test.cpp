// Start-up: whole WinMain runs on the host platform, from the archive
// resource to the dialog, with every way out and its clean-up.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/state.h"
#include "archive/archive.h"
#include "config/manifest.h"
#include "config/profile.h"
#include "config/setup.h"
#include "fs/files.h"
#include "support/archive_builder.h"
#include "support/updater_fixture.h"

namespace {

// The name a run gives its temporary folder on its attempt-th try: "W" and
// the hex digits of the process id plus the attempt, 28 bits.
std::string TempFolderName(unsigned attempt) {
  char name[16];
  snprintf(name, sizeof(name), "W%X", (unsigned)((GetCurrentProcessId() + attempt) & 0xFFFFFFFu));
  return name;
}

using wz2test::UpdaterFixture;

const UINT kErrorBox = MB_OK | MB_ICONERROR;

std::string Converted(const std::string& text) {
  std::string out(text.size() + 1, 'X');
  ConvertUpdateMessage(text.c_str(), &out[0]);
  return std::string(out.c_str());
}

// ---- UpdateMessage conversion ------------------------------------------------

TEST(UpdateMessageConversion, BackslashNBecomesCarriageReturnWithoutLineFeed) {
  EXPECT_EQ(Converted("A\\nB"), "A\rB");
}

TEST(UpdateMessageConversion, DoubleBackslashBeforeNKeepsOneBackslash) {
  EXPECT_EQ(Converted("\\\\n"), "\\\r");
}

TEST(UpdateMessageConversion, BackslashAtEndOrBeforeOtherBytesStays) {
  EXPECT_EQ(Converted("A\\"), "A\\");
  EXPECT_EQ(Converted("\\N\\t"), "\\N\\t");
}

TEST(UpdateMessageConversion, SecondByteOfDoubleByteCharacterIsNoBackslash) {
  // ソ is 0x83 0x5C in code page 932; the n after it stays.
  EXPECT_EQ(Converted("\x83\x5Cn"), "\x83\x5Cn");
  EXPECT_EQ(Converted("\x83\x5C\\n"), "\x83\x5C\r");
}

TEST(UpdateMessageConversion, LeadByteBeforeTerminatorIsCopiedAlone) {
  EXPECT_EQ(Converted("a\x83"), "a\x83");
}

// ---- Failures before the dialog ---------------------------------------------------

class Startup : public UpdaterFixture {};

TEST_F(Startup, MissingArchiveResourceShowsNotFoundAndDeletesNothing) {
  installResource = false;
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "UPDATE.WZ2 not found");
  EXPECT_EQ(Boxes()[0].caption, "UPDATE");
  EXPECT_EQ(Boxes()[0].flags, kErrorBox);
  EXPECT_EQ(Boxes()[0].owner, nullptr);
  EXPECT_TRUE(TempLeftovers().empty());
  EXPECT_STREQ(TempManifestPath, "");
  EXPECT_FALSE(scripted::Dialog().open);
}

TEST_F(Startup, RestrictsDllSearchBeforeAnythingElse) {
  installResource = false;
  Run();
  // The host offers no SetDefaultDllDirectories, so the fallback runs.
  ASSERT_FALSE(scripted::ProcLookups().empty());
  EXPECT_EQ(scripted::ProcLookups()[0], "SetDefaultDllDirectories");
  ASSERT_EQ(scripted::DllDirectoryCalls().size(), 1u);
  EXPECT_EQ(scripted::DllDirectoryCalls()[0], "");
}

TEST_F(Startup, InitialisesComOnceEvenWhenTheArchiveIsMissing) {
  // The shell's copy needs COM on this thread; start-up sets it up before
  // its first check, whatever happens later.
  installResource = false;
  Run();
  EXPECT_EQ(scripted::ComInitializations(), 1);
}

TEST_F(Startup, UnreadableDirectoryShowsResourceReadError) {
  scripted::FailAllocations(0);  // the directory block
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"RESOURCE READ ERROR"});
  EXPECT_EQ(Boxes()[0].caption, "UPDATE");
  EXPECT_EQ(Boxes()[0].flags, kErrorBox);
  EXPECT_TRUE(TempLeftovers().empty());
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

// ---- The archive's check record --------------------------------------------

const char kDamagedText[] = "アップデータが破損しています。もう一度入手してください。";

// Where a damaged download can hit: each row changes the archive or its
// record after the record was made.
struct Damage {
  const char* what;
  std::function<void(std::vector<uint8_t>*, std::vector<uint8_t>*)> apply;
};

class DamagedExecutable : public UpdaterFixture, public ::testing::WithParamInterface<int> {};

const std::vector<Damage>& DamageRows() {
  static const std::vector<Damage> rows = {
      // The archive is the header, UPDATE.INI stored, A.DAT compressed and
      // the directory of both at the end.
      {"a byte of the stored manifest", [](std::vector<uint8_t>* a, std::vector<uint8_t>*) { (*a)[16 + 3] ^= 0x20; }},
      {"a byte of the compressed block",
       [](std::vector<uint8_t>* a, std::vector<uint8_t>*) {
         uint32_t directory = ReadLe32(*a, 8);
         uint32_t manifestStored = ReadLe32(*a, directory + 28);
         (*a)[16 + ((manifestStored + 15) & ~15u) + 5] ^= 0x01;
       }},
      {"a directory record's size",
       [](std::vector<uint8_t>* a, std::vector<uint8_t>*) { (*a)[ReadLe32(*a, 8) + 32 + 24] ^= 0x01; }},
      {"a lost last byte", [](std::vector<uint8_t>* a, std::vector<uint8_t>*) { a->pop_back(); }},
      {"the record's CRC", [](std::vector<uint8_t>*, std::vector<uint8_t>* r) { (*r)[12] ^= 0x80; }},
      {"the record's length", [](std::vector<uint8_t>*, std::vector<uint8_t>* r) { (*r)[8] ^= 0x10; }},
      {"the record's method", [](std::vector<uint8_t>*, std::vector<uint8_t>* r) { (*r)[4] = 2; }},
      {"the record's magic", [](std::vector<uint8_t>*, std::vector<uint8_t>* r) { (*r)[3] = 'X'; }},
      {"a record cut short", [](std::vector<uint8_t>*, std::vector<uint8_t>* r) { r->pop_back(); }},
  };
  return rows;
}

TEST_P(DamagedExecutable, ShowsOneBoxWritesNothingAndExitsWithZero) {
  const Damage& row = DamageRows()[(size_t)GetParam()];
  SCOPED_TRACE(row.what);
  c_.WriteFile("GAME\\A.DAT", "the player's good copy");
  AddFile("A.DAT", std::string(300, 'x') + "the publisher's new bytes", wz2test::kPayloadTime, true);
  UpdateKey("UpdateFile00", "A.DAT");
  carryCheck = true;
  damage = row.apply;
  ScriptClickNextThrough();
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{kDamagedText});
  EXPECT_EQ(Boxes()[0].caption, "UPDATE");
  EXPECT_EQ(Boxes()[0].flags, kErrorBox);
  EXPECT_FALSE(scripted::Dialog().open);
  EXPECT_EQ(Read("GAME\\A.DAT"), "the player's good copy");
  // Not even the run's temporary folder was made.
  EXPECT_TRUE(TempLeftovers().empty());
  EXPECT_STREQ(TempManifestPath, "");
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryPlace, DamagedExecutable, ::testing::Range(0, (int)DamageRows().size()));

TEST_F(Startup, MatchingRecordLetsTheUpdateRunToTheEnd) {
  c_.WriteFile("GAME\\A.DAT", "old");
  AddFile("A.DAT", std::string(300, 'x') + "new", wz2test::kPayloadTime, true);
  UpdateKey("UpdateFile00", "A.DAT");
  carryCheck = true;
  ScriptClickNextThrough();
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_EQ(Read("GAME\\A.DAT"), std::string(300, 'x') + "new");
}

TEST_F(Startup, DamagedArchiveWithoutRecordIsReadAsBefore) {
  // Executables made before the record existed, or by other tools, carry
  // none: nothing is checked, as before (here the damage only changes the
  // manifest's bytes, which the updater then reads).
  damage = [](std::vector<uint8_t>* a, std::vector<uint8_t>*) {
    std::string text(a->begin(), a->end());
    size_t at = text.find("UpdaterVersion=1.01");
    ASSERT_NE(at, std::string::npos);
    (*a)[at + 18] = '2';
  };
  record.writeKey = false;  // stop after the manifest has been read
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"「Title」がインストールされていません"});
  EXPECT_STREQ(UpdaterVersion, "1.02");
}

TEST_F(Startup, ManifestMissingFromArchiveShowsBothMessages) {
  includeManifest = false;
  AddFile("A.DAT", "a");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Can't Find File in Resource !!", "UPDATE.INI not found at UPDATE.WZ2"}));
  for (const auto& box : Boxes()) EXPECT_EQ(box.caption, "UPDATE");
  EXPECT_TRUE(TempLeftovers().empty());
  EXPECT_EQ(scripted::LiveAllocations(), 0);
}

TEST_F(Startup, NoTemporaryDirectoryCountsAsFailedExtraction) {
  scripted::SetTempPath("");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"UPDATE.INI not found at UPDATE.WZ2"});
  EXPECT_STREQ(TempManifestPath, "");
}

TEST_F(Startup, TemporaryDirectoryThatDoesNotExistCountsAsFailedExtraction) {
  scripted::SetTempPath("C:\\NOWHERE\\");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"UPDATE.INI not found at UPDATE.WZ2"});
  EXPECT_FALSE(Exists("NOWHERE"));
}

TEST_F(Startup, EachRunExtractsIntoItsOwnFolderAndRemovesIt) {
  installResource = true;
  record.writeKey = false;  // stop after the manifest has been read
  EXPECT_EQ(Run(), 0);
  std::string path = TempManifestPath;
  EXPECT_EQ(path, "C:\\TEMP\\" + TempFolderName(0) + "\\UPDATE.INI");
  // Eight bytes at most: the folder leaves room for the temporary name the
  // manifest is written through.
  EXPECT_LE(TempFolderName(0).size(), 8u);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Startup, ManifestExistsWhileAMessageIsShown) {
  record.writeKey = false;
  bool present = false;
  scripted::SetMessageBoxHandler([&](const scripted::MessageBoxRecord&) {
    present = scripted::HostPath(TempManifestPath) != "" && c_.Exists(std::string(TempManifestPath).substr(3));
    return 0;
  });
  Run();
  EXPECT_TRUE(present);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Startup, AnotherCopysFolderIsLeftAloneAndANewNameIsTaken) {
  // A folder of the first name exists already, as another copy's would.
  std::string first = TempFolderName(0);
  c_.WriteFile("TEMP\\" + first + "\\UPDATE.INI", "theirs");
  record.writeKey = false;
  Run();
  EXPECT_EQ(std::string(TempManifestPath), "C:\\TEMP\\" + TempFolderName(1) + "\\UPDATE.INI");
  EXPECT_EQ(Read("TEMP\\" + first + "\\UPDATE.INI"), "theirs");
  EXPECT_EQ(TempLeftovers(), std::vector<std::string>{first});
}

// A temporary directory too long for a folder of the run's own with the
// manifest in it still takes the manifest itself, "UPDATE.INI" straight in
// it, up to a directory of 249 bytes; a longer one leaves no room for the
// name and counts as a failed extraction. Nothing stays behind either way.
TEST_F(Startup, TemporaryDirectoryTooLongForAFolderTakesTheManifestItself) {
  enum Where { OWN_FOLDER, SHARED_PATH, NONE };
  const size_t folderName = TempFolderName(0).size();
  // "C:\TEMP\" + n letters + "\" is 9 + n bytes; the own folder needs the
  // directory, its name, "\UPDATE.INI" and two NULs within PATH_BUFFER bytes.
  const size_t lastWithFolder = PATH_BUFFER - 2 - 11 - folderName;
  struct Case {
    size_t length;
    Where where;
  } cases[] = {{lastWithFolder, OWN_FOLDER}, {lastWithFolder + 1, SHARED_PATH}, {249, SHARED_PATH}, {250, NONE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string relative = "TEMP\\" + std::string(c.length - 9, 'L');
    c_.MakeDirectory(relative);
    const std::string temp = c_.Path(relative) + "\\";
    ASSERT_EQ(c.length, temp.size());
    scripted::SetTempPath(temp);
    record.writeKey = false;  // stop after the manifest has been read
    const size_t before = BoxTexts().size();
    Run();
    const std::vector<std::string> all = BoxTexts();
    const std::vector<std::string> shown(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    if (c.where == NONE) {
      EXPECT_EQ(shown, std::vector<std::string>{"UPDATE.INI not found at UPDATE.WZ2"});
      EXPECT_STREQ(TempManifestPath, "");
    } else {
      EXPECT_EQ(shown, std::vector<std::string>{"「Title」がインストールされていません"});
      std::string inside = c.where == OWN_FOLDER ? TempFolderName(0) + "\\" : "";
      EXPECT_EQ(std::string(TempManifestPath), temp + inside + "UPDATE.INI");
      EXPECT_STREQ(TempFolderPath, c.where == OWN_FOLDER ? (temp + TempFolderName(0)).c_str() : "");
    }
    EXPECT_TRUE(c_.List(relative).empty());
  }
}

// Each required manifest key, missing or empty, is reported by the reader.
class RequiredManifestKey : public UpdaterFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(RequiredManifestKey, MissingKeyIsReportedWithTorvanekCaption) {
  std::string key = GetParam();
  std::string lines = wz2test::DefaultManifestSetup();
  size_t at = lines.find(key + "=");
  lines.erase(at, lines.find("\r\n", at) + 2 - at);
  manifestSetup = lines;
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "SETUP : " + key + " キーが存在しません");
  EXPECT_EQ(Boxes()[0].caption, "TORVANEK");
  EXPECT_EQ(Boxes()[0].flags, kErrorBox);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_P(RequiredManifestKey, EmptyValueCountsAsMissing) {
  std::string key = GetParam();
  std::string lines = wz2test::DefaultManifestSetup();
  size_t at = lines.find(key + "=") + key.size() + 1;
  lines.erase(at, lines.find("\r\n", at) - at);
  manifestSetup = lines;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"SETUP : " + key + " キーが存在しません"});
}

INSTANTIATE_TEST_SUITE_P(Keys, RequiredManifestKey,
                         ::testing::Values("CompanyName", "GameTitle", "GameClass", "GameDir"));

TEST_F(Startup, OptionalManifestKeysAreReadSilently) {
  manifestSetup = "CompanyName=Maker\r\nGameTitle=Title\r\nGameClass=C\r\nGameDir=Title\r\n";
  record.writeKey = false;
  Run();
  EXPECT_EQ(MissingKeysSilent, 1);
  // Only the not-installed message: no word about the optional keys.
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"「Title」がインストールされていません"});
}

// ---- The install record -------------------------------------------------------

TEST_F(Startup, MissingRecordNamesTheManifestsGameTitle) {
  manifestSetup = "CompanyName=Maker\r\nGameTitle=Manifest Title\r\nGameClass=C\r\nGameDir=Title\r\n";
  record.writeKey = false;
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "「Manifest Title」がインストールされていません");
  EXPECT_EQ(Boxes()[0].caption, "UPDATE");
  EXPECT_EQ(Boxes()[0].flags, kErrorBox);
  EXPECT_EQ(scripted::OpenRegistryKeys(), 0);
}

TEST_F(Startup, RecordKeyIsBuiltFromManifestCompanyAndGameDir) {
  record.company = "Other";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"「Title」がインストールされていません"});
}

TEST_F(Startup, RecordWithoutInstModeIsNotInstalled) {
  record.instMode.reset();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"「Title」がインストールされていません"});
  EXPECT_EQ(scripted::OpenRegistryKeys(), 0);
}

TEST_F(Startup, RecordWithoutInstPathIsNotInstalled) {
  record.instPath.reset();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"「Title」がインストールされていません"});
}

TEST_F(Startup, RecordWithoutDataPathOrInstAddIsInstalled) {
  record.dataPath.reset();
  record.instAdd.reset();
  EXPECT_EQ(Run(), 0);  // no dialog script: the dialog ends with -1
  EXPECT_EQ(scripted::Dialog().templateId, IDD_UPDATE);
  EXPECT_STREQ(InstPath, "C:\\GAME");
  EXPECT_STREQ(DataPath, "");
  EXPECT_EQ(InstMode, 1);
}

TEST_F(Startup, InstModeIsTakenAsA32BitValue) {
  record.instMode = 0x12345678u;
  Run();
  EXPECT_EQ(InstMode, 0x12345678);
}

TEST_F(Startup, InstPathFillingItsBufferWithoutTerminatorIsAFailedQuery) {
  record.instPath.reset();
  scripted::SetRegistryBytes(HKEY_CURRENT_USER, "Software\\Maker\\Title", "InstPath", REG_SZ, std::string(PATH_BUFFER, 'A'));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"「Title」がインストールされていません"});
  EXPECT_STREQ(InstPath, "");
}

TEST_F(Startup, InstPathOf259BytesAndTerminatorIsRead) {
  record.instPath.reset();
  std::string path = "C:\\" + std::string(256, 'A');
  scripted::SetRegistryBytes(HKEY_CURRENT_USER, "Software\\Maker\\Title", "InstPath", REG_SZ, path + std::string(1, '\0'));
  Run();
  EXPECT_EQ(std::string(InstPath), path);
  // Installed; "\SETUP.INI" no longer fits behind it.
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"インストール先に \"SETUP.INI\" ファイルが見つかりません"});
}

TEST_F(Startup, InstPathLongerThanItsBufferIsAFailedQuery) {
  record.instPath = std::string("C:\\") + std::string(300, 'A');
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"「Title」がインストールされていません"});
}

TEST_F(Startup, DataPathWithoutTerminatorIsEmptied) {
  record.dataPath.reset();
  scripted::SetRegistryBytes(HKEY_CURRENT_USER, "Software\\Maker\\Title", "DataPath", REG_SZ, std::string(PATH_BUFFER, 'D'));
  Run();
  EXPECT_STREQ(DataPath, "");
  EXPECT_EQ(scripted::Dialog().templateId, IDD_UPDATE);  // still installed
}

TEST_F(Startup, DataPathOf259BytesIsKept) {
  record.dataPath = std::string("C:\\") + std::string(256, 'D');
  Run();
  EXPECT_EQ(std::string(DataPath), *record.dataPath);
}

// ---- UpdateMessage and SETUP.INI --------------------------------------------------

TEST_F(Startup, UpdateMessageIsShownConvertedBeforeTheSetupCheck) {
  SetupKey("UpdateMessage", "Line1\\nLine2");
  setupIni.reset();
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0].text, "Line1\rLine2");
  EXPECT_EQ(Boxes()[0].caption, "UPDATE");
  EXPECT_EQ(Boxes()[0].flags, kErrorBox);
  EXPECT_EQ(Boxes()[1].text, "インストール先に \"SETUP.INI\" ファイルが見つかりません");
  EXPECT_EQ(Boxes()[1].caption, "UPDATE");
}

TEST_F(Startup, MissingSetupIniIsReported) {
  setupIni.reset();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"インストール先に \"SETUP.INI\" ファイルが見つかりません"});
  EXPECT_STREQ(SetupIniPath, "C:\\GAME\\SETUP.INI");
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Startup, DirectoryNamedSetupIniPassesTheCheckAndTheLoaderReports) {
  setupIni.reset();
  c_.MakeDirectory("GAME\\SETUP.INI");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "SETUP.INI : CompanyName キーが存在しません");
  EXPECT_EQ(Boxes()[0].caption, "TORVANEK");
}

TEST_F(Startup, LoaderFailureAddsNoMessageOfItsOwn) {
  std::string ini = wz2test::DefaultSetupIni();
  ini.erase(ini.find("UninstExe="), std::string("UninstExe=UNINST.EXE\r\n").size());
  setupIni = ini;
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"SETUP.INI : UninstExe キーが存在しません"});
  EXPECT_NE(scripted::Dialog().templateId, IDD_UPDATE);
  EXPECT_TRUE(TempLeftovers().empty());
}

// ---- Window title ---------------------------------------------------------------

TEST_F(Startup, TitleIsGameTitleOfTheInstalledProfileAndVersion) {
  manifestSetup = "CompanyName=Maker\r\nGameTitle=Old\r\nGameClass=C\r\nGameDir=Title\r\nUpdaterVersion=1.01\r\n";
  Run();
  EXPECT_STREQ(WindowTitle, "Title アップデータ 1.01");
  EXPECT_EQ(scripted::Dialog().caption, "Title アップデータ 1.01");
}

TEST_F(Startup, EmptyVersionLeavesTheTrailingBlank) {
  manifestSetup = "CompanyName=Maker\r\nGameTitle=Title\r\nGameClass=C\r\nGameDir=Title\r\n";
  Run();
  EXPECT_STREQ(WindowTitle, "Title アップデータ ");
}

TEST_F(Startup, UpdaterTitleReplacesTheWholeTitle) {
  SetupKey("UpdaterTitle", "My 100% Update");
  Run();
  EXPECT_STREQ(WindowTitle, "My 100% Update");
}

// ---- Second copy and running game -------------------------------------------------

TEST_F(Startup, SecondCopyBringsTheFirstToFrontWithoutMessage) {
  HWND first = scripted::DeclareWindow("#32770", "Title アップデータ 1.01");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(scripted::WindowCalls().size(), 2u);
  EXPECT_EQ(scripted::WindowCalls()[0].call, "ShowWindow");
  EXPECT_EQ(scripted::WindowCalls()[0].window, first);
  EXPECT_EQ(scripted::WindowCalls()[0].arg, SW_SHOW);
  EXPECT_EQ(scripted::WindowCalls()[1].call, "SetForegroundWindow");
  EXPECT_EQ(scripted::WindowCalls()[1].window, first);
  EXPECT_NE(scripted::Dialog().templateId, IDD_UPDATE);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Startup, SecondCopyLeavesTheFirstCopysManifestInPlace) {
  std::string first = TempFolderName(0);
  c_.WriteFile("TEMP\\" + first + "\\UPDATE.INI", "first copy's manifest");
  scripted::DeclareWindow("#32770", "Title アップデータ 1.01");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Read("TEMP\\" + first + "\\UPDATE.INI"), "first copy's manifest");
}

TEST_F(Startup, SecondCopyShowsUpdateMessageFirst) {
  SetupKey("UpdateMessage", "Hello");
  scripted::DeclareWindow("#32770", "Title アップデータ 1.01");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Hello"});
}

TEST_F(Startup, WindowWithOtherTitleIsNoSecondCopy) {
  scripted::DeclareWindow("#32770", "Other アップデータ 1.01");
  Run();
  EXPECT_EQ(scripted::Dialog().templateId, IDD_UPDATE);
}

const char kRunningText[] =
    "「Title」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、アップデートを中止する場合は "
    "[キャンセル] を押して下さい";

TEST_F(Startup, RunningGameCancelBringsGameToFront) {
  HWND game = scripted::DeclareWindow("TitleWindow", "Title");
  scripted::ScriptMessageBoxAnswers({IDCANCEL});
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, kRunningText);
  EXPECT_EQ(Boxes()[0].caption, "Title アップデータ 1.01");
  EXPECT_EQ(Boxes()[0].flags, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_EQ(Boxes()[0].owner, nullptr);
  ASSERT_EQ(scripted::WindowCalls().size(), 2u);
  EXPECT_EQ(scripted::WindowCalls()[0].window, game);
  EXPECT_EQ(scripted::WindowCalls()[0].arg, SW_SHOW);
  EXPECT_EQ(scripted::WindowCalls()[1].call, "SetForegroundWindow");
  EXPECT_NE(scripted::Dialog().templateId, IDD_UPDATE);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Startup, RunningGameOkAsksAgainUntilTheGameHasEnded) {
  HWND game = scripted::DeclareWindow("TitleWindow", "Title");
  int shown = 0;
  scripted::SetMessageBoxHandler([&](const scripted::MessageBoxRecord& box) {
    if (box.text != kRunningText) return 0;
    if (++shown == 2) scripted::RemoveWindow(game);
    return IDOK;
  });
  Run();
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(scripted::Dialog().templateId, IDD_UPDATE);
  EXPECT_TRUE(scripted::WindowCalls().empty());
}

TEST_F(Startup, WindowWithGameTitleButOtherClassIsNotTheGame) {
  scripted::DeclareWindow("OtherClass", "Title");
  Run();
  EXPECT_EQ(scripted::Dialog().templateId, IDD_UPDATE);
}

TEST_F(Startup, SecondGameTitleIsTestedOnlyAfterTheFirst) {
  SetupKey("GameTitleA", "Title Alt");
  scripted::DeclareWindow("TitleWindow", "Title Alt");
  scripted::ScriptMessageBoxAnswers({IDCANCEL});
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text.substr(0, std::string("「Title Alt」").size()), "「Title Alt」");
}

TEST_F(Startup, SecondGameTitleIsNotLookedForWhenEmpty) {
  scripted::DeclareWindow("TitleWindow", "");
  Run();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"アップデートが中断されました"});
  EXPECT_EQ(scripted::Dialog().templateId, IDD_UPDATE);
}

// ---- The dialog's result ---------------------------------------------------------

TEST_F(Startup, CancelledDialogReportsInterruptionWithoutOwner) {
  Script([](HWND dialog) { scripted::Click(dialog, IDCANCEL); });
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "アップデートが中断されました");
  EXPECT_EQ(Boxes()[0].caption, "Title アップデータ 1.01");
  EXPECT_EQ(Boxes()[0].flags, kErrorBox);
  EXPECT_EQ(Boxes()[0].owner, nullptr);
  EXPECT_EQ(OwnerWindow, nullptr);
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(Startup, DialogThatFailsToOpenIsReportedAsInterruption) {
  // No script: the host dialog ends without a result, like a failed open.
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"アップデートが中断されました"});
}

TEST_F(Startup, FinishedUpdateExitsWithOneAndNoMessage) {
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  ScriptClickNextThrough();
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Read("GAME\\A.DAT"), "new");
  EXPECT_TRUE(TempLeftovers().empty());
  EXPECT_EQ(ArchiveDirectory, nullptr);
  EXPECT_EQ(scripted::LiveAllocations(), 0);
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(Startup, ResetProcessStateReturnsToTheStartOfAProcess) {
  UpdateKey("UpdateFile00", "A.DAT");
  AddFile("A.DAT", "new");
  ScriptClickNextThrough();
  ASSERT_EQ(Run(), 1);
  ASSERT_STRNE(WindowTitle, "UPDATE");
  ResetProcessState();
  EXPECT_STREQ(WindowTitle, "UPDATE");
  EXPECT_EQ(OwnerWindow, nullptr);
  EXPECT_STREQ(TempManifestPath, "");
  EXPECT_STREQ(TempFolderPath, "");
  EXPECT_STREQ(InstPath, "");
  EXPECT_EQ(InstMode, 0);
  EXPECT_EQ(MissingKeysSilent, 0);
  EXPECT_STREQ(SetupIniPath, "");
  EXPECT_STREQ(GameTitle, "");
  EXPECT_STREQ(UpdaterVersion, "");
  EXPECT_STREQ(::Setup.GameExe, "");
  EXPECT_EQ(::Setup.InstallSelects, 0);
  EXPECT_EQ(PageCounter, 0);
  EXPECT_EQ(UpdateItemCount, 0);
  EXPECT_EQ(UpdateItems[0].relativePath[0], 0);
  EXPECT_EQ(OpenImage.data, nullptr);
  EXPECT_EQ(ArchiveDirectory, nullptr);
}

}  // namespace
