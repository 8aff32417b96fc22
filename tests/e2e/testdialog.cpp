// A stand-in for the updater with the same dialog ids, texts and boxes, so
// that the driver, the prefix set-up and the host-side checks are proven on
// their own: `testdialog.exe OUTFILE TITLE`.
//
// It shows an ownerless error box first, then the dialog. Next shows an owned
// OK/Cancel box; OK finishes (writes OUTFILE stamped 2001-02-03 04:05:06 UTC
// and relabels next), Cancel ends the dialog. Abort ends it too, and an
// ended dialog is followed by the interruption box. Exit code 1 only after a
// finished run confirmed with next.
#include <windows.h>

namespace {

char title[1024];
char outFile[MAX_PATH];
int page;

void Finish(HWND dialog) {
  HANDLE file = CreateFileA(outFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, "done\r\n", 6, &written, nullptr);
    SYSTEMTIME when = {2001, 2, 6, 3, 4, 5, 6, 0};
    FILETIME stamp;
    SystemTimeToFileTime(&when, &stamp);
    SetFileTime(file, &stamp, &stamp, &stamp);
    CloseHandle(file);
  }
  SetDlgItemTextA(dialog, 1001, "アップデートは完了しました");
  SetDlgItemTextA(dialog, IDOK, "完了");
  EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetWindowTextA(dialog, title);
    SetDlgItemTextA(dialog, 1001, "「テスト」のアップデートを開始します");
    SetDlgItemTextA(dialog, IDOK, "次へ");
    SetDlgItemTextA(dialog, IDCANCEL, "中止");
    SetDlgItemTextA(dialog, 4, "戻る");
    EnableWindow(GetDlgItem(dialog, 4), FALSE);
    return FALSE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (wParam == IDCANCEL) {
    EndDialog(dialog, -1);
  } else if (wParam == IDOK && page == 0) {
    page = 1;
    SetDlgItemTextA(dialog, 1001, "アップデートを実行します");
    // A trail byte 0x5C (ソ, 表) followed by n must reach the log unchanged.
    if (MessageBoxA(dialog, "ソ表\\n\r二行目", title, MB_OKCANCEL) == IDOK) Finish(dialog);
    else EndDialog(dialog, -1);
  } else if (wParam == IDOK && page == 1) {
    EndDialog(dialog, 0);
  }
  return FALSE;
}

// Copies the next blank-separated word of `line` into `out`.
const char* NextWord(const char* line, char* out, int size) {
  while (*line == ' ') ++line;
  int n = 0;
  while (*line && *line != ' ' && n < size - 1) out[n++] = *line++;
  out[n] = 0;
  return line;
}

}  // namespace

// The dialog template, built in memory with the update dialog's layout and
// control ids so that no resource compiler is needed for a test program.
struct Template {
  alignas(4) WORD words[512];
  int used;
  void Word(WORD w) { words[used++] = w; }
  void Text(const wchar_t* text) {
    do Word((WORD)*text); while (*text++);
  }
  void Align() {
    if (used % 2) Word(0);
  }
  void Control(WORD id, WORD classAtom, DWORD style, short x, short y, short cx, short cy, const wchar_t* text) {
    Align();
    DLGITEMTEMPLATE item = {style | WS_CHILD | WS_VISIBLE, 0, x, y, cx, cy, id};
    CopyMemory(words + used, &item, sizeof item);
    used += sizeof item / sizeof(WORD);
    Word(0xFFFF);
    Word(classAtom);
    Text(text);
    Word(0);
  }
};

const DLGTEMPLATE* BuildTemplate(Template& t) {
  t.used = 0;
  DLGTEMPLATE head = {WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 0, 4, 0, 0, 247, 93};
  CopyMemory(t.words, &head, sizeof head);
  t.used = sizeof head / sizeof(WORD);
  t.Word(0);  // no menu
  t.Word(0);  // the predefined dialog class
  t.Text(L"UPDATE");
  t.Control(IDOK, 0x0080, WS_TABSTOP | BS_DEFPUSHBUTTON, 143, 72, 44, 14, L"next");
  t.Control(IDCANCEL, 0x0080, WS_TABSTOP | BS_PUSHBUTTON, 196, 72, 44, 14, L"abort");
  t.Control(4, 0x0080, WS_TABSTOP | BS_PUSHBUTTON, 99, 72, 44, 14, L"back");
  t.Control(1001, 0x0082, WS_GROUP | SS_LEFT, 16, 16, 214, 26, L"Info");
  return (const DLGTEMPLATE*)t.words;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  const char* rest = NextWord(commandLine, outFile, sizeof outFile);
  while (*rest == ' ') ++rest;
  lstrcpynA(title, rest, sizeof title);
  MessageBoxA(nullptr, "はじめ", "UPDATE", MB_ICONERROR);
  static Template dialogTemplate;
  INT_PTR result = DialogBoxIndirectParamA(instance, BuildTemplate(dialogTemplate), nullptr, DialogProc, 0);
  if (result != 0) {
    MessageBoxA(nullptr, "アップデートが中断されました", title, MB_ICONERROR);
    return 0;
  }
  return 1;
}
