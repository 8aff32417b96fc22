// The update dialog: a three-page wizard driven by the next, back and abort
// buttons. The update run itself lives in update.cpp; this file only moves
// between pages and guards against re-entry from the modal loops that the
// run's message boxes and shell copy spin while the dialog is open.
#include "app/state.h"
#include "config/manifest.h"

int PageCounter;
int Busy;

// Every formatted text of the dialog fits this buffer; wvsprintfA never
// writes more than 1,024 bytes.
#define INFO_TEXT_BUFFER 1024

void SetInfoText(HWND dialog, LPCSTR format, ...) {
  char text[INFO_TEXT_BUFFER];
  va_list args;
  va_start(args, format);
  wvsprintfA(text, format, args);
  va_end(args);
  SetDlgItemTextA(dialog, IDC_INFO, text);
}

void EnableControl(HWND dialog, int id, BOOL enable) { EnableWindow(GetDlgItem(dialog, id), enable); }

void ShowStartPage(HWND dialog) {
  Busy = 0;
  PageCounter = 0;
  // From here on every error box belongs to the dialog, so it cannot slip
  // behind it.
  OwnerWindow = dialog;
  SetWindowTextA(dialog, WindowTitle);
  // The title goes in as an argument so that a '%' in it is shown as is.
  SetInfoText(dialog, "「%s」のアップデートを開始します", GameTitle);
  EnableControl(dialog, IDC_BACK, FALSE);
  EnableControl(dialog, IDOK, TRUE);
  EnableControl(dialog, IDCANCEL, TRUE);
}

void ShowConfirmPage(HWND dialog) {
  SetInfoText(dialog, "アップデートを実行します");
  EnableControl(dialog, IDC_BACK, FALSE);
  EnableControl(dialog, IDOK, TRUE);
  EnableControl(dialog, IDCANCEL, TRUE);
}

// Next and back share one handler: back first steps the counter two pages
// back and then repeats the action that led to the previous page.
static void StepPage(HWND dialog, WPARAM id) {
  if (Busy == 1) return;  // a modal loop of the running action delivered it
  Busy = 1;
  SetInfoText(dialog, "");
  if (id == IDC_BACK) PageCounter -= 2;
  switch (PageCounter) {
    case 0:
      ShowConfirmPage(dialog);
      break;
    case 1:
      RunUpdate(dialog);
      break;
    case 2:
      EndDialog(dialog, 0);
      break;
    default:
      break;
  }
  PageCounter += 1;
  Busy -= 1;
}

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_SETCURSOR:
      if (Busy != 1) return FALSE;
      SetCursor(LoadCursorA(NULL, IDC_WAIT));
      return TRUE;
    case WM_INITDIALOG:
      ShowStartPage(dialog);
      return FALSE;
    case WM_COMMAND:
      // wParam is compared whole: only a click (notification 0) counts.
      if (wParam == IDOK || wParam == IDC_BACK) {
        StepPage(dialog, wParam);
      } else if (wParam == IDCANCEL) {
        if (Busy == 0) EndDialog(dialog, -1);
      }
      return FALSE;
    default:
      return FALSE;
  }
}
