// The installed game's SETUP.INI.
#pragma once

#include <stdint.h>

#include "config/profile.h"
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
  char GameExe[FIELD_SLOT];
  char UninstExe[FIELD_SLOT];
  char SetupBmp[SETUP_BMP_MAX][FIELD_SLOT];
  int SetupBmpLast;
  int InstallSelects;
  char InstallTitle[INSTALL_SELECTS_MAX][FIELD_SLOT];
  char InstallFiles[INSTALL_SELECTS_MAX][INSTALL_FILES_MAX][FIELD_SLOT];
  int InstallFileDisk[INSTALL_SELECTS_MAX][INSTALL_FILES_MAX];
  int InstallNeedsDisk[INSTALL_SELECTS_MAX];
  int Shortcuts;
  char Shortcut[SHORTCUTS_MAX][SHORTCUT_FIELDS][FIELD_SLOT];
  int DefaultSelect;
  uint64_t InstallSize[INSTALL_SELECTS_MAX];
  char DiskCheckFile[DISK_CHECK_FILES][FIELD_SLOT];
  char ExecApp[2][FIELD_SLOT];
  DWORD InstallDirectX;
  char InstallDXMessage[1024];
  char SelectSetupMessage[1024];
  char AdditionalUninstallFiles[UNINSTALL_FILES_MAX][FIELD_SLOT];
  int AdditionalUninstallFileCount;
};

extern SetupProfile Setup;

// Loads SETUP.INI from SetupIniPath. 1 on success; 0 after reporting the
// first problem.
int LoadSetupProfile(void);
