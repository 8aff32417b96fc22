// Registry, windows, the modal dialog, the shell's copy and COM start-up of
// the scripted Win32 double, as the updater's front end uses them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "double/scripted_win32.h"

namespace {

namespace fs = std::filesystem;

// ---- Registry -------------------------------------------------------------------

class ScriptedRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted::SetRegistryString(HKEY_CURRENT_USER, "Software\\Maker\\Game", "InstPath", "C:\\GAME");
    scripted::SetRegistryDword(HKEY_CURRENT_USER, "Software\\Maker\\Game", "InstMode", 0x01020304);
  }
  HKEY Open(const char* subkey) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key), ERROR_SUCCESS);
    return key;
  }
};

// RegQueryValueExA's answers: the type, the size (the terminator of a stored
// string counted, none added to raw bytes) and the bytes, or ERROR_MORE_DATA
// with the size needed and the buffer untouched.
TEST_F(ScriptedRegistry, QueryGivesTypeSizeAndBytesAsStored) {
  scripted::SetRegistryBytes(HKEY_CURRENT_USER, "Software\\Maker\\Game", "DataPath", REG_SZ, "DATA");
  struct Case {
    const char* name;
    const char* subkey;
    const char* value;
    DWORD room;  // 0: no buffer, a size query
    LONG result;
    DWORD type;
    DWORD size;
    std::string bytes;  // the buffer's first bytes afterwards (it starts as '#')
  } cases[] = {
      {"names without regard to case", "SOFTWARE\\maker\\GAME", "instpath", 12, ERROR_SUCCESS, REG_SZ, 8,
       std::string("C:\\GAME\0#", 9)},
      {"a size query", "Software\\Maker\\Game", "InstPath", 0, ERROR_SUCCESS, REG_SZ, 8, ""},
      {"too small a buffer", "Software\\Maker\\Game", "InstPath", 4, ERROR_MORE_DATA, REG_SZ, 8, "####"},
      {"a DWORD: four little-endian bytes", "Software\\Maker\\Game", "InstMode", 8, ERROR_SUCCESS, REG_DWORD, 4,
       "\x04\x03\x02\x01#"},
      {"raw bytes without an added terminator", "Software\\Maker\\Game", "DataPath", 8, ERROR_SUCCESS, REG_SZ, 4,
       "DATA#"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HKEY key = Open(c.subkey);
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    DWORD size = c.room, type = 0;
    LPBYTE data = c.room == 0 ? nullptr : reinterpret_cast<LPBYTE>(buf);
    EXPECT_EQ(RegQueryValueExA(key, c.value, nullptr, &type, data, &size), c.result);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(std::string(buf, c.bytes.size()), c.bytes);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
}

TEST_F(ScriptedRegistry, MissingKeysAndValuesAreNotFound) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker\\Other", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Maker\\Game", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  key = Open("Software\\Maker\\Game");
  DWORD size = 4;
  char buf[4];
  EXPECT_EQ(RegQueryValueExA(key, "InstAdd", nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(ScriptedRegistry, ParentOfAKeyWithValuesExistsButHoldsNone) {
  HKEY key = Open("Software\\Maker");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "InstPath", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  // A key whose name merely starts the same is another key.
  HKEY other = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Mak", 0, KEY_READ, &other), ERROR_FILE_NOT_FOUND);
}

TEST_F(ScriptedRegistry, OpenKeysAreCountedAndCloseOnlyOnce) {
  HKEY a = Open("Software\\Maker\\Game");
  HKEY b = Open("Software\\Maker\\Game");
  EXPECT_NE(a, b);
  EXPECT_EQ(scripted::OpenRegistryKeys(), 2);
  EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(a), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);
  EXPECT_EQ(scripted::OpenRegistryKeys(), 0);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(a, "InstPath", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST_F(ScriptedRegistry, ResetForgetsEveryValue) {
  scripted::Reset();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Maker\\Game", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// ---- Top-level windows ------------------------------------------------------------

TEST(ScriptedWindows, FindsByClassAndTitle) {
  HWND game = scripted::DeclareWindow("GameClass", "The Game");
  scripted::DeclareWindow("OtherClass", "The Game");
  EXPECT_EQ(FindWindowA("GAMECLASS", "The Game"), game);  // class names ignore case
  EXPECT_EQ(FindWindowA("GameClass", nullptr), game);
  EXPECT_EQ(FindWindowA("GameClass", "Another"), nullptr);
  EXPECT_EQ(FindWindowA("NoClass", "The Game"), nullptr);
  scripted::RemoveWindow(game);
  EXPECT_EQ(FindWindowA("GameClass", "The Game"), nullptr);
}

TEST(ScriptedWindows, DialogAtomMatchesTheDialogClass) {
  HWND other = scripted::DeclareWindow("#32770", "UPDATE 1.0");
  EXPECT_EQ(FindWindowA(MAKEINTATOM(0x8002), "UPDATE 1.0"), other);
  EXPECT_EQ(FindWindowA(MAKEINTATOM(0x8001), "UPDATE 1.0"), nullptr);
}

TEST(ScriptedWindows, ShowAndForegroundCallsAreRecorded) {
  HWND w = scripted::DeclareWindow("C", "T");
  EXPECT_TRUE(ShowWindow(w, SW_SHOW));
  EXPECT_TRUE(SetForegroundWindow(w));
  ASSERT_EQ(scripted::WindowCalls().size(), 2u);
  EXPECT_EQ(scripted::WindowCalls()[0].call, "ShowWindow");
  EXPECT_EQ(scripted::WindowCalls()[0].window, w);
  EXPECT_EQ(scripted::WindowCalls()[0].arg, SW_SHOW);
  EXPECT_EQ(scripted::WindowCalls()[1].call, "SetForegroundWindow");
}

TEST(ScriptedWindows, OpenMessageBoxIsADialogClassWindowWithItsCaption) {
  HWND seen = nullptr;
  scripted::SetMessageBoxHandler([&](const scripted::MessageBoxRecord&) {
    seen = FindWindowA(MAKEINTATOM(0x8002), "Title");
    return IDOK;
  });
  MessageBoxA(nullptr, "text", "Title", MB_OK);
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(FindWindowA(MAKEINTATOM(0x8002), "Title"), nullptr);  // gone once answered
}

// ---- The modal dialog --------------------------------------------------------------

// A small procedure in the updater's manner: sets up on WM_INITDIALOG, ends
// with 0 on IDOK and -1 on IDCANCEL, shows the wait cursor on request.
std::vector<UINT> g_messages;
bool g_boxOnOk = false;

INT_PTR CALLBACK TestProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  g_messages.push_back(message);
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextA(dialog, "Caption");
      SetDlgItemTextA(dialog, 1001, "Welcome");
      EnableWindow(GetDlgItem(dialog, 4), FALSE);
      return FALSE;
    case WM_SETCURSOR:
      SetCursor(LoadCursorA(nullptr, IDC_WAIT));
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDOK) {
        EndDialog(dialog, 0);
        if (g_boxOnOk) MessageBoxA(dialog, "after end", "Caption", MB_OK);
      }
      if (wParam == IDCANCEL) EndDialog(dialog, -1);
      return FALSE;
  }
  return FALSE;
}

class ScriptedDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    g_boxOnOk = false;
  }
  INT_PTR Run() { return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, TestProc, 0); }
};

TEST_F(ScriptedDialog, InitDialogRunsBeforeTheScriptAndClickEndsIt) {
  bool checked = false;
  scripted::SetDialogScript([&](HWND dialog) {
    EXPECT_TRUE(scripted::Dialog().open);
    EXPECT_EQ(scripted::Dialog().caption, "Caption");
    EXPECT_EQ(scripted::ControlText(1001), "Welcome");
    EXPECT_FALSE(scripted::ControlEnabled(4));
    EXPECT_TRUE(scripted::ControlEnabled(1));  // never touched: enabled
    checked = true;
    scripted::Click(dialog, IDOK);
  });
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(checked);
  EXPECT_FALSE(scripted::Dialog().open);
  EXPECT_TRUE(scripted::Dialog().ended);
  EXPECT_EQ(scripted::Dialog().result, 0);
  EXPECT_EQ(scripted::Dialog().templateId, 101);
  ASSERT_GE(g_messages.size(), 2u);
  EXPECT_EQ(g_messages[0], static_cast<UINT>(WM_INITDIALOG));
}

TEST_F(ScriptedDialog, ScriptEndingWithoutEndDialogGivesMinusOne) {
  scripted::SetDialogScript([](HWND) {});
  EXPECT_EQ(Run(), -1);
  EXPECT_FALSE(scripted::Dialog().ended);
}

TEST_F(ScriptedDialog, RunningDialogIsFoundByAtomAndCaptionUntilItCloses) {
  HWND found = nullptr;
  HWND self = nullptr;
  scripted::SetDialogScript([&](HWND dialog) {
    self = dialog;
    found = FindWindowA(MAKEINTATOM(0x8002), "Caption");
  });
  Run();
  EXPECT_EQ(found, self);
  EXPECT_EQ(FindWindowA(MAKEINTATOM(0x8002), "Caption"), nullptr);
  EXPECT_FALSE(SetDlgItemTextA(self, 1001, "late"));  // the window is gone
}

TEST_F(ScriptedDialog, DisabledButtonTakesNoClickButSendStillDelivers) {
  INT_PTR sent = 0;
  scripted::SetDialogScript([&](HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
    size_t before = g_messages.size();
    scripted::Click(dialog, IDCANCEL);
    EXPECT_EQ(g_messages.size(), before);
    EXPECT_FALSE(scripted::Dialog().ended);
    sent = scripted::Send(dialog, WM_SETCURSOR, 0, 0);
    scripted::Send(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(sent, TRUE);
  EXPECT_EQ(scripted::Dialog().cursor, "wait");
}

TEST_F(ScriptedDialog, NoMessagesReachTheProcedureAfterItEnded) {
  scripted::SetDialogScript([](HWND dialog) {
    scripted::Click(dialog, IDCANCEL);
    size_t before = g_messages.size();
    EXPECT_EQ(scripted::Send(dialog, WM_SETCURSOR, 0, 0), 0);
    EXPECT_EQ(g_messages.size(), before);
  });
  EXPECT_EQ(Run(), -1);
}

TEST_F(ScriptedDialog, NestedMessagesStillArriveWhileTheEndingHandlerRuns) {
  g_boxOnOk = true;
  INT_PTR nested = 0;
  scripted::SetMessageBoxHandler([&](const scripted::MessageBoxRecord& box) {
    EXPECT_NE(box.owner, nullptr);
    nested = scripted::Send(box.owner, WM_SETCURSOR, 0, 0);
    return IDOK;
  });
  scripted::SetDialogScript([](HWND dialog) { scripted::Click(dialog, IDOK); });
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(nested, TRUE);
}

TEST_F(ScriptedDialog, FocusFollowsSetFocusAndLeavesADisabledControl) {
  scripted::SetDialogScript([](HWND dialog) {
    HWND next = GetDlgItem(dialog, IDOK);
    EXPECT_EQ(SetFocus(next), nullptr);
    EXPECT_EQ(scripted::Dialog().focus, IDOK);
    EXPECT_EQ(SetFocus(GetDlgItem(dialog, 4)), nullptr);  // 4 is disabled: refused
    EXPECT_EQ(scripted::Dialog().focus, IDOK);
    EXPECT_FALSE(EnableWindow(next, FALSE));  // was enabled
    EXPECT_EQ(scripted::Dialog().focus, 0);
    EXPECT_TRUE(EnableWindow(next, TRUE));  // was disabled
    EXPECT_TRUE(IsWindowEnabled(next));
  });
  Run();
}

TEST_F(ScriptedDialog, ControlTextsAreReadBackAndRecordedInOrder) {
  scripted::SetDialogScript([](HWND dialog) {
    SetDlgItemTextA(dialog, IDOK, "完了");
    SetWindowTextA(GetDlgItem(dialog, 1001), "Done");
    char buf[8];
    EXPECT_EQ(GetDlgItemTextA(dialog, 1001, buf, 3), 2u);  // truncated to fit
    EXPECT_STREQ(buf, "Do");
    EXPECT_EQ(GetWindowTextA(dialog, buf, sizeof buf), 7);
    EXPECT_STREQ(buf, "Caption");
  });
  Run();
  const auto& history = scripted::ControlTextHistory();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0], std::make_pair(1001, std::string("Welcome")));
  EXPECT_EQ(history[1], std::make_pair(1, std::string("\x8A\xAE\x97\xB9")));
  EXPECT_EQ(history[2], std::make_pair(1001, std::string("Done")));
  EXPECT_EQ(scripted::ControlText(IDOK), "完了");  // kept after the dialog closed
}

TEST_F(ScriptedDialog, CursorChangesAreTracked) {
  EXPECT_EQ(scripted::Dialog().cursor, "");
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  EXPECT_NE(wait, arrow);
  SetCursor(wait);
  EXPECT_EQ(SetCursor(arrow), wait);
  EXPECT_EQ(scripted::Dialog().cursor, "arrow");
  EXPECT_EQ(scripted::CursorHistory(), (std::vector<std::string>{"wait", "arrow"}));
}

TEST_F(ScriptedDialog, OnlyOneModalDialogRunsAtATime) {
  INT_PTR inner = 0;
  scripted::SetDialogScript([&](HWND) { inner = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, TestProc, 0); });
  Run();
  EXPECT_EQ(inner, -1);
}

// ---- The shell's copy ---------------------------------------------------------------

class ScriptedShell : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/scripted-shell-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ + "/c/GAME");
    fs::create_directories(root_ + "/q/MOVIE/SUB");
    scripted::MapDrive('C', root_ + "/c");
    scripted::MapDrive('Q', root_ + "/q", DRIVE_CDROM);
    Put("q/MOVIE/OP.MPG", "opening");
    Put("q/MOVIE/SUB/ED.MPG", "ending");
    Put("q/SETUP.DAT", "setup");
  }
  void TearDown() override {
    scripted::Reset();
    fs::remove_all(root_);
  }
  void Put(const std::string& rel, const std::string& bytes) {
    std::ofstream(root_ + "/" + rel, std::ios::binary) << bytes;
  }
  std::string Get(const std::string& rel) {
    std::ifstream in(root_ + "/" + rel, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  int Copy(const std::string& from, const std::string& to, SHFILEOPSTRUCTA* opOut = nullptr) {
    std::string f = from + std::string(1, '\0');  // double-NUL lists
    std::string t = to + std::string(1, '\0');
    SHFILEOPSTRUCTA op;
    std::memset(&op, 0, sizeof op);
    op.wFunc = FO_COPY;
    op.pFrom = f.c_str();
    op.pTo = t.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR;
    op.fAnyOperationsAborted = 7;
    int r = SHFileOperationA(&op);
    if (opOut) *opOut = op;
    return r;
  }
  std::string root_;
};

TEST_F(ScriptedShell, FileIsCopiedToItsFullDestinationNameMakingFolders) {
  ASSERT_TRUE(SetFileAttributesA("Q:\\SETUP.DAT", FILE_ATTRIBUTE_READONLY));
  SHFILEOPSTRUCTA op;
  EXPECT_EQ(Copy("Q:\\SETUP.DAT", "C:\\GAME\\NEW\\SETUP.DAT", &op), 0);
  EXPECT_FALSE(op.fAnyOperationsAborted);
  EXPECT_EQ(Get("c/GAME/NEW/SETUP.DAT"), "setup");
  EXPECT_EQ(GetFileAttributesA("C:\\GAME\\NEW\\SETUP.DAT") & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));  // the disc's flag comes along
  EXPECT_EQ(fs::last_write_time(root_ + "/c/GAME/NEW/SETUP.DAT"), fs::last_write_time(root_ + "/q/SETUP.DAT"));
  ASSERT_EQ(scripted::ShellCopies().size(), 1u);
  EXPECT_EQ(scripted::ShellCopies()[0].from, std::vector<std::string>{"Q:\\SETUP.DAT"});
  EXPECT_EQ(scripted::ShellCopies()[0].to, std::vector<std::string>{"C:\\GAME\\NEW\\SETUP.DAT"});
  EXPECT_EQ(scripted::ShellCopies()[0].flags, FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR);
  EXPECT_EQ(scripted::ShellCopies()[0].func, static_cast<UINT>(FO_COPY));
}

TEST_F(ScriptedShell, ExistingFilesAreReplacedEvenWhenReadOnly) {
  fs::create_directories(root_ + "/c/GAME/MOVIE");
  Put("c/GAME/MOVIE/OP.MPG", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\GAME\\MOVIE\\OP.MPG", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Copy("Q:\\MOVIE", "C:\\GAME"), 0);
  EXPECT_EQ(Get("c/GAME/MOVIE/OP.MPG"), "opening");
}

// Where the copies go: a folder into an existing destination folder under its
// own name, the entries a wildcard selects (without ASCII case, no folders
// unless they match), and several sources into one destination.
TEST_F(ScriptedShell, SourcesLandWhereTheShellPutsThem) {
  struct Case {
    const char* name;
    std::string from;  // NUL-separated
    std::string to;
    std::vector<std::pair<std::string, std::string>> copied;  // host path below root_, bytes
    const char* absent;
  } cases[] = {
      {"a folder", "Q:\\MOVIE", "C:\\GAME",
       {{"c/GAME/MOVIE/OP.MPG", "opening"}, {"c/GAME/MOVIE/SUB/ED.MPG", "ending"}}, nullptr},
      {"a wildcard", "Q:\\MOVIE\\*.mpg", "C:\\GAME\\CLIPS", {{"c/GAME/CLIPS/OP.MPG", "opening"}}, "c/GAME/CLIPS/SUB"},
      {"several sources", std::string("Q:\\SETUP.DAT") + '\0' + "Q:\\MOVIE\\OP.MPG", "C:\\GAME",
       {{"c/GAME/SETUP.DAT", "setup"}, {"c/GAME/OP.MPG", "opening"}}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_ + "/c/GAME");
    fs::create_directories(root_ + "/c/GAME");
    EXPECT_EQ(Copy(c.from, c.to), 0);
    for (const auto& file : c.copied) EXPECT_EQ(Get(file.first), file.second) << file.first;
    if (c.absent != nullptr) {
      EXPECT_FALSE(fs::exists(root_ + "/" + c.absent));
    }
  }
  ASSERT_EQ(scripted::ShellCopies().size(), 3u);
  EXPECT_EQ(scripted::ShellCopies()[2].from, (std::vector<std::string>{"Q:\\SETUP.DAT", "Q:\\MOVIE\\OP.MPG"}));
}

TEST_F(ScriptedShell, MissingSourceFailsWithoutCopying) {
  EXPECT_NE(Copy("Q:\\NONE.DAT", "C:\\GAME\\NONE.DAT"), 0);
  EXPECT_FALSE(fs::exists(root_ + "/c/GAME/NONE.DAT"));
  EXPECT_NE(Copy("R:\\SETUP.DAT", "C:\\GAME\\SETUP.DAT"), 0);  // unmapped drive
}

// Scripted outcomes copy nothing: a failure returns its code with no abort
// flag, a cancel sets the flag and returns 0 or the code set for it; once
// the script is used up the copy is real again.
TEST_F(ScriptedShell, ScriptedOutcomesCopyNothingUntilTheScriptIsUsedUp) {
  scripted::ScriptShellOutcomes(
      {scripted::ShellOutcome::Fail, scripted::ShellOutcome::Cancel, scripted::ShellOutcome::Cancel});
  struct Case {
    const char* name;
    int cancelResult;  // given to SetShellResults before the call; -1 keeps the defaults
    int result;
    BOOL aborted;
  } cases[] = {
      {"failure", -1, 0x402, FALSE},
      {"cancel", -1, 0, TRUE},
      {"cancel with a code", 1223, 1223, TRUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.cancelResult >= 0) scripted::SetShellResults(0x402, c.cancelResult);
    SHFILEOPSTRUCTA op;
    EXPECT_EQ(Copy("Q:\\SETUP.DAT", "C:\\GAME\\SETUP.DAT", &op), c.result);
    EXPECT_EQ(op.fAnyOperationsAborted, c.aborted);
    EXPECT_FALSE(fs::exists(root_ + "/c/GAME/SETUP.DAT"));
  }
  EXPECT_EQ(Copy("Q:\\SETUP.DAT", "C:\\GAME\\SETUP.DAT"), 0);
  EXPECT_EQ(Get("c/GAME/SETUP.DAT"), "setup");
}

TEST_F(ScriptedShell, HandlerRunsWhileTheCopyIsInProgress) {
  size_t seenCopies = 0;
  scripted::SetShellCopyHandler([&](const scripted::ShellCopyRecord&) { seenCopies = scripted::ShellCopies().size(); });
  Copy("Q:\\SETUP.DAT", "C:\\GAME\\SETUP.DAT");
  EXPECT_EQ(seenCopies, 1u);
}

// ---- COM ----------------------------------------------------------------------------

TEST(ScriptedCom, FirstInitialisationSucceedsAndLaterOnesReportAlreadyDone) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(scripted::ComInitializations(), 2);
}

}  // namespace
