// The front end's shared state (Overview) and its error box.
#include "app/state.h"

#include "archive/archive.h"
#include "config/profile.h"
#include "config/setup.h"
#include "fs/files.h"

#define INITIAL_WINDOW_TITLE "UPDATE"

char WindowTitle[1024] = INITIAL_WINDOW_TITLE;
HWND OwnerWindow;
char TempManifestPath[260];
char TempFolderPath[260];
char InstPath[260];
char DataPath[260];
int InstMode;

void ShowError(LPCSTR text) { MessageBoxA(OwnerWindow, text, WindowTitle, MB_OK | MB_ICONERROR); }

void ResetProcessState(void) {
  // archive/: the image and the directory. The directory is released first
  // so that a run left open by a test does not leak its block.
  if (ArchiveDirectory) CloseArchive();
  ArchiveDirectory = NULL;
  OpenImage.data = NULL;
  OpenImage.length = 0;

  // fs/: the cached free-space entry point.
  ResetDiskFreeSpaceCache();

  // config/: reader switches, the manifest's and the setup profile's values.
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
}
