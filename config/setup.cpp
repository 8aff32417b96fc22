// The installed game's SETUP.INI: read in a fixed order, checked for shape,
// first problem reported.
#include "config/setup.h"

#include "config/manifest.h"
#include "config/profile.h"

SetupProfile Setup;

#define DX_CORE 0x10000u
#define DX_DIRECTDRAW_DRIVERS 0x8u
#define DX_DIRECTSOUND_DRIVERS 0x10u

static const char kDefaultDXMessage[] = "ＤｉｒｅｃｔＸをインストールする";
static const char kDefaultSelectMessage[] = "インストール方法を選択して下さい";

static_assert(sizeof(Setup.InstallDXMessage) == VALUE_BUFFER, "long message field");
static_assert(sizeof(Setup.SelectSetupMessage) == VALUE_BUFFER, "long message field");
static_assert(sizeof(kDefaultDXMessage) <= sizeof(Setup.InstallDXMessage), "default fits its field");
static_assert(sizeof(kDefaultSelectMessage) <= sizeof(Setup.SelectSetupMessage), "default fits its field");
static_assert(sizeof(Setup.SetupBmp[0]) == FIELD_SLOT && sizeof(Setup.InstallFiles[0][0]) == FIELD_SLOT &&
                  sizeof(Setup.Shortcut[0][0]) == FIELD_SLOT && sizeof(Setup.ExecApp[0]) == FIELD_SLOT &&
                  sizeof(Setup.AdditionalUninstallFiles[0]) == FIELD_SLOT,
              "list fields are taken into field slots");
static_assert(sizeof(Setup.DiskCheckFile) / sizeof(Setup.DiskCheckFile[0]) == 10,
              "one check file per disk digit 0 to 9");

// "SETUP.INI : %s エラー" with the key name: a list without its first
// field, or with a field too long for its slot.
static int ListError(LPCSTR key) {
  char message[VALUE_BUFFER];
  wsprintfA(message, "SETUP.INI : %s エラー", key);
  ShowProfileError(message);
  return 0;
}

static int LoadIdentity(void) {
  return ReadSetupValue("CompanyName", CompanyName, sizeof(CompanyName)) &&
         ReadSetupValue("GameTitle", GameTitle, sizeof(GameTitle)) &&
         ReadSetupValue("GameDir", GameDir, sizeof(GameDir)) &&
         ReadSetupValue("GameExe", Setup.GameExe, sizeof(Setup.GameExe)) &&
         ReadSetupValue("UninstExe", Setup.UninstExe, sizeof(Setup.UninstExe));
}

static int LoadSetupBmp(char* value) {
  if (!ReadSetupValue("SetupBmp", value, VALUE_BUFFER)) return 0;
  LPCSTR cursor = value;
  int count = 0;
  for (; count < SETUP_BMP_MAX; count++) {
    FieldResult taken = NextField(Setup.SetupBmp[count], FIELD_SLOT, &cursor);
    if (taken == FIELD_TOO_LONG) return ListError("SetupBmp");
    if (taken == FIELD_NONE) {
      if (count == 0) {
        ShowProfileError("SETUP.INI : SetupBmps エラー");
        return 0;
      }
      Setup.SetupBmp[count][0] = 0;
      break;
    }
  }
  Setup.SetupBmpLast = count - 1;
  return 1;
}

static int LoadSelection(int i, char* value, char* keyName) {
  wsprintfA(keyName, "InstallTitle%i", i);
  if (!ReadSetupValue(keyName, Setup.InstallTitle[i], FIELD_SLOT)) return 0;
  wsprintfA(keyName, "InstallFiles%i", i);
  if (!ReadSetupValue(keyName, value, VALUE_BUFFER)) return 0;
  Setup.InstallNeedsDisk[i] = 0;
  // A disk prefix carries over to the files after it, but never from one
  // selection's list into the next.
  FieldDiskNumber = 0;
  LPCSTR cursor = value;
  for (int j = 0; j < INSTALL_FILES_MAX; j++) {
    FieldResult taken = NextField(Setup.InstallFiles[i][j], FIELD_SLOT, &cursor);
    if (taken == FIELD_TOO_LONG) return ListError(keyName);
    if (taken == FIELD_NONE) {
      if (j == 0) return ListError(keyName);
      Setup.InstallFiles[i][j][0] = 0;
      break;
    }
    Setup.InstallFileDisk[i][j] = FieldDiskNumber;
    if (FieldDiskNumber != 0) Setup.InstallNeedsDisk[i] = 1;
  }
  return 1;
}

static int LoadShortcut(int s, char* value, char* keyName) {
  wsprintfA(keyName, "Shortcut%i", s);
  // Shortcut values are read as single values: at most 259 characters.
  if (!ReadSetupValue(keyName, value, FIELD_SLOT)) return 0;
  LPCSTR cursor = value;
  for (int f = 0; f < SHORTCUT_FIELDS; f++) {
    FieldResult taken = NextField(Setup.Shortcut[s][f], FIELD_SLOT, &cursor);
    if (taken == FIELD_TOO_LONG) return ListError(keyName);
    if (taken == FIELD_NONE) {
      if (f < 2) return ListError(keyName);
      Setup.Shortcut[s][f][0] = 0;
      break;
    }
  }
  return 1;
}

static void LoadInstallSizes(char* keyName) {
  for (int i = 0; i < Setup.InstallSelects; i++) {
    char text[SETUP_INT_BUFFER];
    wsprintfA(keyName, "InstallSize%i", i);
    Setup.InstallSize[i] = HasSetupValue(keyName, text) ? ParseDecimalU64(text) : 0;
  }
}

static int LoadExecApp(char* value) {
  if (!ReadSetupValue("ExecApp", value, FIELD_SLOT)) {
    Setup.ExecApp[0][0] = 0;
    Setup.ExecApp[1][0] = 0;
    return 1;
  }
  LPCSTR cursor = value;
  for (int f = 0; f < 2; f++) {
    // Too long cannot happen for a value read with FIELD_SLOT bytes; a refusal would
    // still be this key's error.
    if (NextField(Setup.ExecApp[f], FIELD_SLOT, &cursor) != FIELD_TAKEN) {
      ShowProfileError("SETUP.INI : ExecApp エラー");
      return 0;
    }
  }
  return 1;
}

static DWORD DirectXFlags(int v) {
  DWORD flags = DX_CORE;
  if (v & 1) flags |= DX_DIRECTDRAW_DRIVERS;
  if (v & 2) flags |= DX_DIRECTSOUND_DRIVERS;
  return flags;
}

static int LoadUninstallFiles(char* value) {
  Setup.AdditionalUninstallFileCount = 0;
  if (!ReadSetupValue("AdditionalUninstallFiles", value, VALUE_BUFFER)) return 1;
  LPCSTR cursor = value;
  int count = 0;
  for (; count < UNINSTALL_FILES_MAX; count++) {
    FieldResult taken = NextField(Setup.AdditionalUninstallFiles[count], FIELD_SLOT, &cursor);
    if (taken == FIELD_TOO_LONG) return ListError("AdditionalUninstallFiles");
    if (taken == FIELD_NONE) break;
  }
  Setup.AdditionalUninstallFileCount = count;
  return 1;
}

// Reads the length of a list whose slots are fixed; a count past max would
// index beyond them and is refused with overMessage.
static int ReadCount(LPCSTR key, int max, LPCSTR overMessage, int* count) {
  if (!ReadSetupInt(key, count)) return 0;
  if (*count > max) {
    ShowProfileError(overMessage);
    return 0;
  }
  return 1;
}

int LoadSetupProfile(void) {
  char value[VALUE_BUFFER];
  char keyName[VALUE_BUFFER];

  MissingKeysSilent = 0;
  if (!LoadIdentity()) return 0;
  if (!LoadSetupBmp(value)) return 0;

  if (!ReadCount("InstallSelects", INSTALL_SELECTS_MAX, "SETUP.INI : InstallSelect オーバー", &Setup.InstallSelects))
    return 0;
  for (int i = 0; i < Setup.InstallSelects; i++) {
    if (!LoadSelection(i, value, keyName)) return 0;
  }

  if (!ReadCount("Shortcuts", SHORTCUTS_MAX, "SETUP.INI : Shortcuts オーバー", &Setup.Shortcuts)) return 0;
  for (int s = 0; s < Setup.Shortcuts; s++) {
    if (!LoadShortcut(s, value, keyName)) return 0;
  }

  // Everything from here on is optional and takes its default silently; the
  // switch stays on for the rest of the run, so the update run's reads of the
  // manifest are silent too.
  MissingKeysSilent = 1;
  if (!ReadSetupValue("GameClass", GameClass, sizeof(GameClass))) lstrcpyA(GameClass, GameTitle);
  if (!ReadSetupInt("DefaultSelect", &Setup.DefaultSelect)) Setup.DefaultSelect = 0;
  LoadInstallSizes(keyName);
  for (int n = 0; n < DISK_CHECK_FILES; n++) {
    wsprintfA(keyName, "DiskCheckFile%i", n);
    ReadSetupValue(keyName, Setup.DiskCheckFile[n], FIELD_SLOT);
  }
  if (!LoadExecApp(value)) return 0;
  int directX;
  Setup.InstallDirectX = ReadSetupInt("InstallDirectX", &directX) ? DirectXFlags(directX) : 0;
  if (!ReadSetupValue("InstallDXMessage", Setup.InstallDXMessage, VALUE_BUFFER))
    lstrcpyA(Setup.InstallDXMessage, kDefaultDXMessage);
  if (!ReadSetupValue("SelectSetupMessage", Setup.SelectSetupMessage, VALUE_BUFFER))
    lstrcpyA(Setup.SelectSetupMessage, kDefaultSelectMessage);
  return LoadUninstallFiles(value);
}
