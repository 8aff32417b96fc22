// The installed game's SETUP.INI.
#pragma once

#include <stdint.h>

#include "platform/win.h"

#define SETUP_BMP_MAX 20
#define INSTALL_SELECTS_MAX 3
#define INSTALL_FILES_MAX 40
#define SHORTCUTS_MAX 10
#define SHORTCUT_FIELDS 3
#define DISK_CHECK_FILES 10
#define UNINSTALL_FILES_MAX 20

// CompanyName, GameTitle, GameDir and GameClass live in config/manifest.h:
// the setup profile overwrites the manifest's values in place.
struct SetupProfile {
  char GameExe[260];
  char UninstExe[260];
  char SetupBmp[SETUP_BMP_MAX][260];
  int SetupBmpLast;
  int InstallSelects;
  char InstallTitle[INSTALL_SELECTS_MAX][260];
  char InstallFiles[INSTALL_SELECTS_MAX][INSTALL_FILES_MAX][260];
  int InstallFileDisk[INSTALL_SELECTS_MAX][INSTALL_FILES_MAX];
  int InstallNeedsDisk[INSTALL_SELECTS_MAX];
  int Shortcuts;
  char Shortcut[SHORTCUTS_MAX][SHORTCUT_FIELDS][260];
  int DefaultSelect;
  uint64_t InstallSize[INSTALL_SELECTS_MAX];
  char DiskCheckFile[DISK_CHECK_FILES][260];
  char ExecApp[2][260];
  DWORD InstallDirectX;
  char InstallDXMessage[1024];
  char SelectSetupMessage[1024];
  char AdditionalUninstallFiles[UNINSTALL_FILES_MAX][260];
  int AdditionalUninstallFileCount;
};

extern SetupProfile Setup;

// Loads SETUP.INI from SetupIniPath. 1 on success; 0 after reporting the
// first problem.
int LoadSetupProfile(void);
