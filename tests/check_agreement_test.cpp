// `wz2 check` against the updater itself: each row of the table is one
// condition of a manifest or of the installed SETUP.INI, what the updater
// does with it, and what check says about it. Every row is run twice, once
// through the real updater on the scripted Win32 double and once through
// the wz2 program on the same archive and SETUP.INI, so the table holds
// only if the two agree. The rule that ties the columns together:
//   the updater shows a box and stops (or ends)      -> check: error
//   it does so only on a player's machine that lacks
//   something the manifest cannot see (a folder)     -> check: warning
//   it skips an entry or a test without a word       -> check: warning
//   it updates without a word                        -> check: nothing
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/names.h"
#include "support/run_program.h"
#include "support/updater_fixture.h"

namespace {

namespace fs = std::filesystem;
using wz2test::RunProgram;
using wz2test::RunResult;

enum Updater {
  UPDATES,         // the run completes, no box
  STOPS,           // an error box, and the run ends or never starts
  STOPS_ON_PLAYER, // an error box, because the player's machine lacks a folder
  SKIPS,           // the run completes without a box, but something is not done
};
enum Verdict { CLEAN, ERROR, WARNING };

Verdict Implied(Updater u) {
  switch (u) {
    case UPDATES:
      return CLEAN;
    case STOPS:
      return ERROR;
    default:
      return WARNING;
  }
}

struct Row {
  const char* condition;
  // The manifest's [SETUP] lines (NULL: the fixture's) and [UPDATE] lines.
  const char* manifestSetup;
  const char* manifestUpdate;
  const char* setupIni;  // NULL: the fixture's valid SETUP.INI
  Updater updater;
  const char* box;      // text of the updater's box (STOPS...), code page 932
  const char* caption;  // that box's caption when it is fixed, else NULL
  const char* skipped;  // for SKIPS: a file (below C:\) that is not written, or NULL
  Verdict verdict;
  const char* key;  // the key check names
};

// SETUP.INI of the fixture, one line changed or dropped.
#define SETUP_HEAD                                                                                      \
  "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameDir=Title\r\nGameExe=GAME.EXE\r\n" \
  "UninstExe=UNINST.EXE\r\n"
#define SETUP_TAIL "GameClass=TitleWindow\r\nDiskCheckFile1=DISK1.CHK\r\n"
#define SELECTS "InstallSelects=1\r\nInstallTitle0=Full\r\nInstallFiles0=GAME.EXE\r\n"
#define LONG_FIELD                                                                                       \
  "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX" \
  "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX" \
  "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX"

const char kTorvanek[] = "TORVANEK";
const char kWriteFailed[] = "ファイルの書き込みに失敗しました";

const Row kRows[] = {
    // ---- The manifest ---------------------------------------------------------
    {"a clean manifest", nullptr, "UpdateFile00=A.DAT\r\n", nullptr, UPDATES, nullptr, nullptr, nullptr, CLEAN, ""},
    {"a required [SETUP] key missing", "CompanyName=Maker\r\nGameTitle=Title\r\nGameDir=Title\r\n",
     "UpdateFile00=A.DAT\r\n", nullptr, STOPS, "SETUP : GameClass キーが存在しません", kTorvanek, nullptr, ERROR,
     "GameClass"},
    {"a required [SETUP] key empty", "CompanyName=Maker\r\nGameTitle=Title\r\nGameClass=C\r\nGameDir=\r\n",
     "UpdateFile00=A.DAT\r\n", nullptr, STOPS, "SETUP : GameDir キーが存在しません", kTorvanek, nullptr, ERROR,
     "GameDir"},
    {"no UpdateFile00 and no CopyFile00", nullptr, "UpdateFile01=A.DAT\r\n", nullptr, STOPS,
     "No 'UpdateFileXX' and 'CopyFileXX'", nullptr, nullptr, ERROR, "UpdateFile00"},
    {"an entry naming no archive entry", nullptr, "UpdateFile00=C.DAT\r\n", nullptr, STOPS, kWriteFailed, nullptr,
     nullptr, ERROR, "UpdateFile00"},
    {"a field over 259 bytes", nullptr, "UpdateFile00=A.DAT\r\nUpdateFile01=u," LONG_FIELD "\r\n", nullptr, STOPS,
     kWriteFailed, nullptr, nullptr, ERROR, "UpdateFile01"},
    {"an operation letter followed by a blank", nullptr, "UpdateFile00=u ,A.DAT\r\n", nullptr, STOPS, kWriteFailed,
     nullptr, nullptr, ERROR, "UpdateFile00"},
    {"a path ending in a backslash", nullptr, "UpdateFile00=u,SUB\\\r\n", nullptr, STOPS, kWriteFailed, nullptr,
     nullptr, ERROR, "UpdateFile00"},
    {"a copy disk that is not a digit", nullptr, "UpdateFile00=A.DAT\r\nCopyFile00=x:MOVIE\r\n", nullptr, STOPS,
     kWriteFailed, nullptr, nullptr, ERROR, "CopyFile00"},
    {"a copy entry before any disk was found", nullptr, "UpdateFile00=A.DAT\r\nCopyFile00=MOVIE\r\n", nullptr, STOPS,
     "SETUP.INI : \"MOVIE\" のコピーに失敗しました", nullptr, nullptr, ERROR, "CopyFile00"},
    {"no entry for the installation's mode", nullptr, "UpdateFile00=2,A.DAT\r\n", nullptr, STOPS,
     "アップデートする必要のあるファイルはありません", nullptr, nullptr, ERROR, "InstMode"},
    {"a folder below the target that the updater does not make", nullptr, "UpdateFile00=u,SUB\\A.DAT\r\n", nullptr,
     STOPS_ON_PLAYER, kWriteFailed, nullptr, nullptr, WARNING, "UpdateFile00"},
    {"a two-level data folder", "CompanyName=Maker\r\nGameTitle=Title\r\nGameClass=C\r\nGameDir=Title\r\n"
     "DataFolder=NEW\\DATA\r\n",
     "UpdateFile00=A.DAT\r\n", nullptr, STOPS_ON_PLAYER, kWriteFailed, nullptr, nullptr, WARNING, "UpdateFile00"},
    {"a gap in the update list", nullptr, "UpdateFile00=A.DAT\r\nUpdateFile02=B.DAT\r\n", nullptr, SKIPS, nullptr,
     nullptr, "GAME\\B.DAT", WARNING, "UpdateFile02"},
    {"a seventeenth update entry", nullptr,
     "UpdateFile00=A.DAT\r\nUpdateFile01=A.DAT\r\nUpdateFile02=A.DAT\r\nUpdateFile03=A.DAT\r\nUpdateFile04=A.DAT\r\n"
     "UpdateFile05=A.DAT\r\nUpdateFile06=A.DAT\r\nUpdateFile07=A.DAT\r\nUpdateFile08=A.DAT\r\nUpdateFile09=A.DAT\r\n"
     "UpdateFile10=A.DAT\r\nUpdateFile11=A.DAT\r\nUpdateFile12=A.DAT\r\nUpdateFile13=A.DAT\r\nUpdateFile14=A.DAT\r\n"
     "UpdateFile15=A.DAT\r\nUpdateFile16=B.DAT\r\n",
     nullptr, SKIPS, nullptr, nullptr, "GAME\\B.DAT", WARNING, "UpdateFile16"},
    {"a copy entry whose mode is no digit", nullptr, "UpdateFile00=A.DAT\r\nCopyFile00=x,1:MOVIE\r\n", nullptr, SKIPS,
     nullptr, nullptr, "GAME\\MOVIE", WARNING, "CopyFile00"},
    {"a disk space that is no number", nullptr, "RequiredDiskSpace=lots\r\nUpdateFile00=A.DAT\r\n", nullptr, SKIPS,
     nullptr, nullptr, nullptr, WARNING, "RequiredDiskSpace"},

    // ---- The installed SETUP.INI, through the updater's own loader -------------
    {"SETUP.INI without SetupBmp", nullptr, "UpdateFile00=A.DAT\r\n", SETUP_HEAD SELECTS "Shortcuts=0\r\n" SETUP_TAIL,
     STOPS, "SETUP.INI : SetupBmp キーが存在しません", kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI without Shortcuts", nullptr, "UpdateFile00=A.DAT\r\n", SETUP_HEAD "SetupBmp=S.BMP\r\n" SELECTS SETUP_TAIL,
     STOPS, "SETUP.INI : Shortcuts キーが存在しません", kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI whose SetupBmp has no field", nullptr, "UpdateFile00=A.DAT\r\n",
     SETUP_HEAD "SetupBmp=,S.BMP\r\n" SELECTS "Shortcuts=0\r\n" SETUP_TAIL, STOPS, "SETUP.INI : SetupBmps エラー",
     kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI with four selections", nullptr, "UpdateFile00=A.DAT\r\n",
     SETUP_HEAD "SetupBmp=S.BMP\r\nInstallSelects=4\r\nShortcuts=0\r\n" SETUP_TAIL, STOPS,
     "SETUP.INI : InstallSelect オーバー", kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI whose file list starts with a comma", nullptr, "UpdateFile00=A.DAT\r\n",
     SETUP_HEAD "SetupBmp=S.BMP\r\nInstallSelects=1\r\nInstallTitle0=Full\r\nInstallFiles0=,A\r\nShortcuts=0\r\n" SETUP_TAIL,
     STOPS, "SETUP.INI : InstallFiles0 エラー", kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI with eleven shortcuts", nullptr, "UpdateFile00=A.DAT\r\n",
     SETUP_HEAD "SetupBmp=S.BMP\r\n" SELECTS "Shortcuts=11\r\n" SETUP_TAIL, STOPS, "SETUP.INI : Shortcuts オーバー",
     kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI with a one-field shortcut", nullptr, "UpdateFile00=A.DAT\r\n",
     SETUP_HEAD "SetupBmp=S.BMP\r\n" SELECTS "Shortcuts=1\r\nShortcut0=Game\r\n" SETUP_TAIL, STOPS,
     "SETUP.INI : Shortcut0 エラー", kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI with a one-field ExecApp", nullptr, "UpdateFile00=A.DAT\r\n",
     SETUP_HEAD "SetupBmp=S.BMP\r\n" SELECTS "Shortcuts=0\r\nExecApp=A.EXE\r\n" SETUP_TAIL, STOPS,
     "SETUP.INI : ExecApp エラー", kTorvanek, nullptr, ERROR, "SETUP.INI"},
    {"SETUP.INI with its optional keys left out", nullptr, "UpdateFile00=A.DAT\r\n",
     SETUP_HEAD "SetupBmp=S.BMP\r\n" SELECTS "Shortcuts=0\r\n", UPDATES, nullptr, nullptr, nullptr, CLEAN, ""},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.condition; }

fs::path Wz2Program() {
  char self[4096] = {0};
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return "wz2";
  return fs::path(std::string(self, (size_t)n)).parent_path() / "wz2";
}

void Spit(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary);
  f.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string Utf8(const std::string& cp932) {
  std::string out;
  EXPECT_TRUE(names::Cp932ToUtf8(cp932, &out)) << cp932;
  return out;
}

class CheckAgreesWithUpdater : public wz2test::UpdaterFixture, public ::testing::WithParamInterface<Row> {
 protected:
  void SetUp() override {
    UpdaterFixture::SetUp();
    ScriptClickNextThrough();
    const Row& row = GetParam();
    if (row.manifestSetup != nullptr) manifestSetup = row.manifestSetup;
    manifestUpdate = row.manifestUpdate;
    if (row.setupIni != nullptr) setupIni = std::string(row.setupIni);
    AddFile("A.DAT", "new a");
    // B.DAT only where a row names it: an archive entry no entry writes is
    // a finding of its own.
    if (manifestUpdate.find("B.DAT") != std::string::npos) AddFile("B.DAT", "new b");
    work_ = fs::temp_directory_path() / ("wz2-agree-" + std::to_string(getpid()));
    fs::create_directories(work_);
  }
  void TearDown() override { fs::remove_all(work_); }

  // check on the archive the updater ran from, with its SETUP.INI and the
  // installation's mode.
  RunResult Check() {
    Spit(work_ / "UPDATE.WZ2", std::string((const char*)ArchiveBytes().data(), ArchiveBytes().size()));
    Spit(work_ / "SETUP.INI", *setupIni);
    return RunProgram(Wz2Program(),
                      {"check", "-q", "--setup", (work_ / "SETUP.INI").string(), "--inst-mode",
                       std::to_string(*record.instMode), (work_ / "UPDATE.WZ2").string()},
                      work_);
  }

  fs::path work_;
};

TEST_P(CheckAgreesWithUpdater, OnEveryRowOfTheTable) {
  const Row& row = GetParam();
  ASSERT_EQ(Implied(row.updater), row.verdict) << "the row contradicts the rule of the table";

  // The updater, on a player's machine that has what the fixture gives it:
  // C:\GAME and C:\DATA, no subfolders.
  int exitCode = Run();
  std::vector<std::string> texts = BoxTexts();
  if (row.updater == UPDATES || row.updater == SKIPS) {
    EXPECT_EQ(exitCode, 1) << "the update did not complete";
    EXPECT_TRUE(texts.empty()) << "the updater showed: " << (texts.empty() ? "" : Utf8(texts[0]));
    if (row.skipped != nullptr) {
      EXPECT_FALSE(Exists(row.skipped)) << row.skipped << " was written";
    }
  } else {
    bool shown = false;
    for (const auto& box : Boxes()) {
      if (box.text != row.box) continue;
      shown = true;
      if (row.caption != nullptr) {
        EXPECT_EQ(box.caption, row.caption);
      }
    }
    EXPECT_TRUE(shown) << "the updater did not show " << Utf8(row.box) << "; it showed "
                       << (texts.empty() ? "nothing" : Utf8(texts[0]));
  }

  // check, on the same archive and SETUP.INI.
  RunResult r = Check();
  if (row.verdict == CLEAN) {
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    return;
  }
  std::string line = std::string(row.verdict == ERROR ? "error: " : "warning: ") + row.key + ": ";
  size_t at = r.out.find(line);
  ASSERT_NE(at, std::string::npos) << "check did not say " << line << "...; it said:\n" << r.out << r.err;
  std::string said = r.out.substr(at, r.out.find('\n', at) - at);
  if (row.verdict == ERROR) {
    EXPECT_EQ(r.status, 1) << r.out;
    // The player's own words, with the caption where it is a fixed one.
    EXPECT_NE(said.find(Utf8(row.box)), std::string::npos) << said;
    if (row.caption != nullptr) {
      EXPECT_NE(said.find(std::string("(") + row.caption + ")"), std::string::npos) << said;
    }
  } else if (row.updater == STOPS_ON_PLAYER) {
    EXPECT_NE(said.find(Utf8(row.box)), std::string::npos) << said;
  }
  if (row.verdict == WARNING) {
    EXPECT_EQ(r.out.find("error: "), std::string::npos) << r.out;
  }
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  std::string name;
  bool up = true;
  for (const char* p = info.param.condition; *p; p++) {
    if ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9')) {
      name += up && *p >= 'a' && *p <= 'z' ? (char)(*p - 32) : *p;
      up = false;
    } else {
      up = true;
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Table, CheckAgreesWithUpdater, ::testing::ValuesIn(kRows), RowName);

}  // namespace
