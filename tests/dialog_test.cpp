// The update dialog: its template and manifest as the resource compiler
// stores them, and the pages, buttons and busy guard in whole runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/state.h"
#include "archive/bytes.h"
#include "support/updater_fixture.h"

namespace {

using wz2test::UpdaterFixture;

// ---- The template, compiled by the Windows toolchain's resource compiler ----

struct ResEntry {
  int type = -1;   // ordinal types only
  int name = -1;   // ordinal names only
  int language = 0;
  std::vector<uint8_t> data;
};


// A name-or-ordinal field: an ordinal as "#n", a string as UTF-8.
std::string NameOrOrdinal(const std::vector<uint8_t>& d, size_t* at) {
  if (Load16(&d[*at]) == 0xFFFF) {
    std::string text = "#" + std::to_string(Load16(&d[*at + 2]));
    *at += 4;
    return text;
  }
  std::u16string wide;
  for (uint16_t c; (c = Load16(&d[*at])) != 0; *at += 2) wide.push_back(static_cast<char16_t>(c));
  *at += 2;
  std::string utf8;
  for (char16_t c : wide) {
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

std::vector<ResEntry> ParseRes(const std::vector<uint8_t>& d) {
  std::vector<ResEntry> out;
  size_t at = 0;
  while (at + 32 <= d.size()) {
    uint32_t dataSize = Load32(&d[at]);
    uint32_t headerSize = Load32(&d[at + 4]);
    size_t p = at + 8;
    ResEntry e;
    std::string type = NameOrOrdinal(d, &p);
    std::string name = NameOrOrdinal(d, &p);
    if (type[0] == '#') e.type = std::stoi(type.substr(1));
    if (name[0] == '#') e.name = std::stoi(name.substr(1));
    p = (p + 3) & ~static_cast<size_t>(3);
    e.language = Load16(&d[p + 6]);
    e.data.assign(d.begin() + at + headerSize, d.begin() + at + headerSize + dataSize);
    if (dataSize != 0) out.push_back(e);
    at = (at + headerSize + dataSize + 3) & ~static_cast<size_t>(3);
  }
  return out;
}

std::string SourceDir() { return WZ2_SOURCE_DIR; }

// Compiles app/res/updater.rc exactly as the Windows builds do. Empty when no
// resource compiler is installed.
std::vector<uint8_t> CompileTemplate() {
  std::string root = SourceDir();
  std::string dir = "/tmp/wz2-rc-" + std::to_string(getpid());
  std::string manifest = dir + "/updater.manifest";
  std::string res = dir + "/updater.res";
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return {};
  // The manifest as the 32-bit (shipped) build configures it.
  std::ifstream in(root + "/app/res/updater.manifest.in");
  std::stringstream text;
  text << in.rdbuf();
  std::string body = text.str();
  size_t at = body.find("@WZ2_MANIFEST_ARCHITECTURE@");
  if (at != std::string::npos) body.replace(at, std::string("@WZ2_MANIFEST_ARCHITECTURE@").size(), "X86");
  std::ofstream(manifest) << body;
  std::string command = "i686-w64-mingw32-windres --codepage=65001 -I" + dir + " -O res " + root +
                        "/app/res/updater.rc -o " + res + " 2>/dev/null";
  std::vector<uint8_t> bytes;
  if (std::system(command.c_str()) == 0) {
    std::ifstream resIn(res, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(resIn), std::istreambuf_iterator<char>());
  }
  std::system(("rm -rf " + dir).c_str());
  return bytes;
}

class Template : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { entries_ = ParseRes(CompileTemplate()); }
  void SetUp() override {
    if (entries_.empty()) GTEST_SKIP() << "i686-w64-mingw32-windres is not installed";
  }
  const ResEntry* Find(int type, int name) const {
    for (const ResEntry& e : entries_)
      if (e.type == type && e.name == name) return &e;
    return nullptr;
  }
  static std::vector<ResEntry> entries_;
};
std::vector<ResEntry> Template::entries_;

struct Control {
  uint32_t help, exStyle, style;
  int16_t x, y, cx, cy;
  uint32_t id;
  std::string cls, text;
  uint16_t extra;
};

TEST_F(Template, DialogHeaderIsExtendedJapaneseWithExactStyle) {
  const ResEntry* dialog = Find(5, IDD_UPDATE);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->language, 1041);
  const std::vector<uint8_t>& d = dialog->data;
  EXPECT_EQ(Load16(&d[0]), 1);       // version
  EXPECT_EQ(Load16(&d[2]), 0xFFFF);  // extended template signature
  EXPECT_EQ(Load32(&d[4]), 0u);      // help id
  EXPECT_EQ(Load32(&d[8]), 0u);      // extended style
  EXPECT_EQ(Load32(&d[12]), 0x90C808C0u);
  EXPECT_EQ(Load16(&d[16]), 4);  // controls
  EXPECT_EQ(Load16(&d[18]), 0);
  EXPECT_EQ(Load16(&d[20]), 0);
  EXPECT_EQ(Load16(&d[22]), 247);
  EXPECT_EQ(Load16(&d[24]), 93);
  size_t at = 26;
  EXPECT_EQ(NameOrOrdinal(d, &at), "");  // no menu
  EXPECT_EQ(NameOrOrdinal(d, &at), "");  // default dialog class
  EXPECT_EQ(NameOrOrdinal(d, &at), "UPDATE");
  EXPECT_EQ(Load16(&d[at]), 10);     // points
  EXPECT_EQ(Load16(&d[at + 2]), 0);  // weight
  EXPECT_EQ(d[at + 4], 0);       // italic
  EXPECT_EQ(d[at + 5], 0);       // character set
  at += 6;
  EXPECT_EQ(NameOrOrdinal(d, &at), u8"ＭＳ Ｐゴシック");  // UTF-8 of the stored UTF-16
}

TEST_F(Template, FourControlsInTabOrderWithExactStylesAndTexts) {
  const ResEntry* dialog = Find(5, IDD_UPDATE);
  ASSERT_NE(dialog, nullptr);
  const std::vector<uint8_t>& d = dialog->data;
  size_t at = 26;
  for (int i = 0; i < 3; ++i) NameOrOrdinal(d, &at);
  at += 6;
  NameOrOrdinal(d, &at);
  std::vector<Control> controls;
  for (int i = 0; i < 4; ++i) {
    at = (at + 3) & ~static_cast<size_t>(3);
    Control c;
    c.help = Load32(&d[at]);
    c.exStyle = Load32(&d[at + 4]);
    c.style = Load32(&d[at + 8]);
    c.x = static_cast<int16_t>(Load16(&d[at + 12]));
    c.y = static_cast<int16_t>(Load16(&d[at + 14]));
    c.cx = static_cast<int16_t>(Load16(&d[at + 16]));
    c.cy = static_cast<int16_t>(Load16(&d[at + 18]));
    c.id = Load32(&d[at + 20]);
    at += 24;
    c.cls = NameOrOrdinal(d, &at);
    c.text = NameOrOrdinal(d, &at);
    c.extra = Load16(&d[at]);
    at += 2 + c.extra;
    controls.push_back(c);
  }
  struct Expected {
    uint32_t id;
    const char* cls;
    uint32_t style;
    int x, y, cx, cy;
    const char* text;
  } expected[] = {
      {1, "#128", 0x50010001u, 143, 72, 44, 14, "次へ"},
      {2, "#128", 0x50010000u, 196, 72, 44, 14, "中止"},
      {4, "#128", 0x50010000u, 99, 72, 44, 14, "戻る"},
      {1001, "#130", 0x50020000u, 16, 16, 214, 26, "Info"},
  };
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(controls[i].id, expected[i].id);
    EXPECT_EQ(controls[i].cls, expected[i].cls);
    EXPECT_EQ(controls[i].style, expected[i].style);
    EXPECT_EQ(controls[i].help, 0u);
    EXPECT_EQ(controls[i].exStyle, 0u);
    EXPECT_EQ(controls[i].x, expected[i].x);
    EXPECT_EQ(controls[i].y, expected[i].y);
    EXPECT_EQ(controls[i].cx, expected[i].cx);
    EXPECT_EQ(controls[i].cy, expected[i].cy);
    EXPECT_EQ(controls[i].extra, 0);
  }
  // The texts are compared as UTF-8 of the stored UTF-16.
  EXPECT_EQ(controls[0].text, u8"次へ");
  EXPECT_EQ(controls[1].text, u8"中止");
  EXPECT_EQ(controls[2].text, u8"戻る");
  EXPECT_EQ(controls[3].text, "Info");
}

TEST_F(Template, ManifestRequiresAdministratorAndNamesTheUpdater) {
  const ResEntry* manifest = Find(24, 1);
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(manifest->language, 1033);
  std::string xml(manifest->data.begin(), manifest->data.end());
  EXPECT_NE(xml.find("manifestVersion=\"1.0\""), std::string::npos);
  EXPECT_NE(xml.find("<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" "
                     "name=\"HALVOR.Updater.UPDATE\" type=\"win32\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
            std::string::npos);
  // No other elements: no dependency on a common-controls version.
  EXPECT_EQ(xml.find("dependency"), std::string::npos);
  EXPECT_EQ(xml.find("compatibility"), std::string::npos);
}

TEST_F(Template, OnlyTheDialogAndTheManifestAreStored) {
  ASSERT_EQ(entries_.size(), 2u);
}

// ---- Pages and buttons in whole runs ------------------------------------------

class Dialog : public UpdaterFixture {
 protected:
  void SetUp() override {
    UpdaterFixture::SetUp();
    UpdateKey("UpdateFile00", "A.DAT");
    AddFile("A.DAT", "new");
  }
};

TEST_F(Dialog, StartPageShowsTitleAndEnablesNextAndAbort) {
  std::string info;
  bool back = true, next = false, abort = false;
  HWND owner = nullptr;
  Script([&](HWND dialog) {
    info = scripted::ControlText(IDC_INFO);
    back = scripted::ControlEnabled(IDC_BACK);
    next = scripted::ControlEnabled(IDOK);
    abort = scripted::ControlEnabled(IDCANCEL);
    owner = OwnerWindow;
    EXPECT_EQ(owner, dialog);
    EXPECT_EQ(PageCounter, 0);
    EXPECT_EQ(Busy, 0);
  });
  Run();
  EXPECT_EQ(scripted::Dialog().templateId, IDD_UPDATE);
  EXPECT_EQ(scripted::Dialog().caption, "Title アップデータ 1.01");
  EXPECT_EQ(info, "「Title」のアップデートを開始します");
  EXPECT_FALSE(back);
  EXPECT_TRUE(next);
  EXPECT_TRUE(abort);
  EXPECT_NE(owner, nullptr);
}

TEST_F(Dialog, GameTitleWithPercentIsShownUnchanged) {
  setupIni = "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=100%s %d Title\r\nGameDir=Title\r\nGameExe=G\r\n"
             "UninstExe=U\r\nSetupBmp=S\r\nInstallSelects=0\r\nShortcuts=0\r\n";
  std::string info;
  Script([&](HWND) { info = scripted::ControlText(IDC_INFO); });
  Run();
  EXPECT_EQ(info, "「100%s %d Title」のアップデートを開始します");
}

TEST_F(Dialog, ConfirmPageAfterNext) {
  std::string info;
  bool back = true, next = false, abort = false;
  Script([&](HWND dialog) {
    scripted::Click(dialog, IDOK);
    info = scripted::ControlText(IDC_INFO);
    back = scripted::ControlEnabled(IDC_BACK);
    next = scripted::ControlEnabled(IDOK);
    abort = scripted::ControlEnabled(IDCANCEL);
    EXPECT_EQ(PageCounter, 1);
  });
  Run();
  EXPECT_EQ(info, "アップデートを実行します");
  EXPECT_FALSE(back);
  EXPECT_TRUE(next);
  EXPECT_TRUE(abort);
  EXPECT_FALSE(Exists("GAME\\A.DAT"));  // nothing written before the confirm
}

TEST_F(Dialog, AbortOnStartPageEndsWithMinusOne) {
  Script([](HWND dialog) { scripted::Click(dialog, IDCANCEL); });
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(scripted::Dialog().ended);
  EXPECT_EQ(scripted::Dialog().result, -1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"アップデートが中断されました"});
}

TEST_F(Dialog, EscapeAndEnterActLikeTheButtons) {
  int pageAfterEnter = -1;
  Script([&](HWND dialog) {
    scripted::Send(dialog, WM_COMMAND, IDOK, 0);  // Enter: the default button's command
    pageAfterEnter = PageCounter;
    scripted::Send(dialog, WM_COMMAND, IDCANCEL, 0);  // Esc or the close box
  });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(pageAfterEnter, 1);
  EXPECT_EQ(scripted::Dialog().result, -1);
}

TEST_F(Dialog, AbortOnConfirmPageEndsWithMinusOne) {
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDCANCEL);
  });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(scripted::Dialog().result, -1);
  EXPECT_FALSE(Exists("GAME\\A.DAT"));
}

TEST_F(Dialog, FinishedPageOffersOnlyTheRelabelledNextButton) {
  std::string info, label;
  bool back = true, next = false, abort = true;
  Script([&](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
    info = scripted::ControlText(IDC_INFO);
    label = scripted::ControlText(IDOK);
    back = scripted::ControlEnabled(IDC_BACK);
    next = scripted::ControlEnabled(IDOK);
    abort = scripted::ControlEnabled(IDCANCEL);
    EXPECT_EQ(scripted::Dialog().focus, IDOK);
    EXPECT_EQ(scripted::Dialog().cursor, "arrow");
    EXPECT_EQ(PageCounter, 2);
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(info, "アップデートは完了しました");
  EXPECT_EQ(label, "完了");
  EXPECT_FALSE(back);
  EXPECT_TRUE(next);
  EXPECT_FALSE(abort);
  EXPECT_EQ(scripted::Dialog().result, 0);
}

TEST_F(Dialog, EveryStepFirstEmptiesTheInformationText) {
  ScriptClickNextThrough();
  Run();
  std::vector<std::string> infos;
  for (const auto& change : scripted::ControlTextHistory())
    if (change.first == IDC_INFO) infos.push_back(change.second);
  std::vector<std::string> expected = {"「Title」のアップデートを開始します", "", "アップデートを実行します", "",
                                       "アップデートを実行しています", "アップデートは完了しました", ""};
  EXPECT_EQ(infos, expected);
}

TEST_F(Dialog, CommandWithNotificationCodeIsIgnored) {
  Script([](HWND dialog) {
    scripted::Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
    scripted::Send(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);
    EXPECT_EQ(PageCounter, 0);
    EXPECT_FALSE(scripted::Dialog().ended);
    scripted::Click(dialog, IDCANCEL);
  });
  Run();
  EXPECT_EQ(scripted::Dialog().result, -1);
}

TEST_F(Dialog, ProcedureAnswersOnlyItsThreeMessages) {
  INT_PTR init = 1, other = 1, cursor = 1;
  Script([&](HWND dialog) {
    cursor = scripted::Send(dialog, WM_SETCURSOR, 0, 0);
    other = scripted::Send(dialog, WM_CLOSE, 0, 0);
    init = scripted::Send(dialog, WM_INITDIALOG, 0, 0);
  });
  Run();
  EXPECT_EQ(cursor, FALSE);  // not busy: the platform sets the cursor
  EXPECT_EQ(other, FALSE);
  EXPECT_EQ(init, FALSE);
  EXPECT_EQ(scripted::Dialog().cursor, "");
}

TEST_F(Dialog, BusyGuardIgnoresButtonsAndAnswersCursorWithWait) {
  // Nothing applies to this InstMode: the run shows a box from inside the
  // next action, and the test presses every button while it is open.
  manifestUpdate = "UpdateFile00=2,A.DAT\r\n";
  INT_PTR cursorAnswer = 0;
  std::string cursor;
  bool endedInBox = true;
  int pageInBox = -1;
  bool pressed = false;
  scripted::SetMessageBoxHandler([&](const scripted::MessageBoxRecord& box) {
    if (box.text != "アップデートする必要のあるファイルはありません" || pressed) return 0;
    pressed = true;
    HWND dialog = box.owner;
    // The buttons are disabled meanwhile, so clicks cannot reach the
    // procedure; Enter and Esc can, as commands of the dialog manager.
    scripted::Send(dialog, WM_COMMAND, IDCANCEL, 0);
    scripted::Send(dialog, WM_COMMAND, IDOK, 0);
    scripted::Send(dialog, WM_COMMAND, IDC_BACK, 0);
    cursorAnswer = scripted::Send(dialog, WM_SETCURSOR, 0, 0);
    cursor = scripted::Dialog().cursor;
    endedInBox = scripted::Dialog().ended;
    pageInBox = PageCounter;
    return IDOK;
  });
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
    EXPECT_EQ(Busy, 0);
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(cursorAnswer, TRUE);
  EXPECT_EQ(cursor, "wait");
  EXPECT_FALSE(endedInBox);
  EXPECT_EQ(pageInBox, 1);
  EXPECT_EQ(scripted::Dialog().result, 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].owner, nullptr);
  EXPECT_EQ(Boxes()[0].caption, "Title アップデータ 1.01");
}

TEST_F(Dialog, BackAfterDiskSpaceStopShowsConfirmPageAndNextRunsAgain) {
  UpdateKey("RequiredDiskSpace", "1000");
  scripted::SetFreeSpace('C', 999, 1u << 20, 999);
  std::string stopInfo, backInfo;
  bool stopBack = false, stopNext = true, stopAbort = false, backBack = true, backNext = false;
  int pageAfterBack = -1;
  Script([&](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
    stopInfo = scripted::ControlText(IDC_INFO);
    stopBack = scripted::ControlEnabled(IDC_BACK);
    stopNext = scripted::ControlEnabled(IDOK);
    stopAbort = scripted::ControlEnabled(IDCANCEL);
    EXPECT_FALSE(Exists("GAME\\A.DAT"));
    scripted::Click(dialog, IDC_BACK);
    backInfo = scripted::ControlText(IDC_INFO);
    backBack = scripted::ControlEnabled(IDC_BACK);
    backNext = scripted::ControlEnabled(IDOK);
    pageAfterBack = PageCounter;
    scripted::SetFreeSpace('C', 1000, 1u << 20, 1000);
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(stopInfo, "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です");
  EXPECT_TRUE(stopBack);
  EXPECT_FALSE(stopNext);
  EXPECT_TRUE(stopAbort);
  EXPECT_EQ(backInfo, "アップデートを実行します");
  EXPECT_FALSE(backBack);
  EXPECT_TRUE(backNext);
  EXPECT_EQ(pageAfterBack, 1);
  EXPECT_EQ(Read("GAME\\A.DAT"), "new");
}

TEST_F(Dialog, AbortAfterDiskSpaceStopEndsWithMinusOne) {
  // Room for the manifest itself, which start-up extracts first.
  UpdateKey("RequiredDiskSpace", "100000");
  scripted::SetFreeSpace('C', 10000, 1u << 20, 10000);
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDCANCEL);
  });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(scripted::Dialog().result, -1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"アップデートが中断されました"});
}

TEST_F(Dialog, ErrorBoxesDuringTheRunAreOwnedByTheDialog) {
  manifestUpdate = "UpdateFile00=MISSING.DAT\r\n";
  HWND dialogWindow = nullptr;
  Script([&](HWND dialog) {
    dialogWindow = dialog;
    scripted::Click(dialog, IDOK);
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(Boxes().size(), 3u);
  EXPECT_EQ(Boxes()[0].owner, dialogWindow);
  EXPECT_EQ(Boxes()[1].owner, dialogWindow);
  EXPECT_EQ(Boxes()[2].owner, nullptr);  // after the dialog has ended
}

}  // namespace
