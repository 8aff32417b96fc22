// The front end's shared state and its error box.
#include "app/state.h"

#include "archive/archive.h"
#include "config/profile.h"
#include "config/setup.h"
#include "fs/error_box.h"
#include "fs/files.h"

// Zero like every other buffer: an initialised array would be stored in the
// executable byte for byte, 1 KiB of the 32-bit updater's 40. WinMain puts
// the initial title in before anything can show a box.
char WindowTitle[1024];
HWND OwnerWindow;
char TempManifestPath[PATH_BUFFER];
char TempFolderPath[PATH_BUFFER];
char InstPath[PATH_BUFFER];
char DataPath[PATH_BUFFER];
int InstMode;

void ShowError(LPCSTR text) { MessageBoxA(OwnerWindow, text, WindowTitle, MB_OK | MB_ICONERROR); }

static int LowerLayerErrorBox(LPCSTR text, LPCSTR caption) {
  return MessageBoxA(OwnerWindow, text, caption != NULL ? caption : WindowTitle, MB_OK | MB_ICONERROR);
}

void InstallErrorBox(void) { SetErrorBox(LowerLayerErrorBox); }

void ResetProcessState(void) {
  // Each layer forgets its own state: archive/ the open archive (its
  // directory released, so a run left open by a test leaks nothing), fs/ the
  // cached free-space entry point, config/ its switches and values.
  ResetArchiveState();
  ResetDiskFreeSpaceCache();
  ResetConfigState();

  // app/: shared state, install record, dialog state and work lists.
  ZeroBytes(WindowTitle, sizeof(WindowTitle));
  lstrcpyA(WindowTitle, INITIAL_WINDOW_TITLE);
  OwnerWindow = NULL;
  ZeroBytes(TempManifestPath, sizeof(TempManifestPath));
  ZeroBytes(TempFolderPath, sizeof(TempFolderPath));
  ZeroBytes(InstPath, sizeof(InstPath));
  ZeroBytes(DataPath, sizeof(DataPath));
  InstMode = 0;
  PageCounter = 0;
  Busy = 0;
  ZeroBytes(UpdateItems, sizeof(UpdateItems));
  UpdateItemCount = 0;
  ZeroBytes(CopyItems, sizeof(CopyItems));
  CopyItemCount = 0;
  InstallErrorBox();
}
