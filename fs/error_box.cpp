#include "fs/error_box.h"

static ErrorBoxFunction InstalledErrorBox;

void SetErrorBox(ErrorBoxFunction show) { InstalledErrorBox = show; }

int ShowErrorBox(LPCSTR text, LPCSTR caption) {
  return InstalledErrorBox != NULL ? InstalledErrorBox(text, caption) : 0;
}
