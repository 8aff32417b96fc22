// Start-up: the process entry point and its preconditions. One straight
// pass from the archive resource to the update dialog; every way out goes
// through ExitCleanup so the temporary manifest never outlives the run.
#include "app/state.h"
#include "archive/archive.h"
#include "archive/extract.h"
#include "archive/payload_check.h"
#include "config/manifest.h"
#include "config/profile.h"
#include "config/setup.h"
#include "fs/files.h"

#define TEXT_BUFFER 1024
#define REGISTRY_KEY_FORMAT "Software\\%s\\%s"
#define MANIFEST_NAME "UPDATE.INI"
// A download or a disk that damaged the executable: the player needs a new
// copy, and nothing else can help.
#define DAMAGED_ARCHIVE_TEXT "アップデータが破損しています。もう一度入手してください。"
// How many folder names a run tries before it gives up on its temporary
// folder. Names only collide with leftovers of earlier runs of the same
// process id, so a handful of attempts is plenty.
#define TEMP_FOLDER_ATTEMPTS 100

// The dialog class's atom: another copy's update dialog and its message boxes
// are top-level windows of this class.
#define DIALOG_CLASS_ATOM 0x8002

static_assert(sizeof(InstMode) == 4, "InstMode is queried as a 4-byte registry value");

// An updater is typically run straight from a download folder, elevated. Any
// DLL planted beside it must not be loaded into that process, so the search
// is limited to the system directory before anything can load a library.
// SetDefaultDllDirectories exists only from Windows 7 with KB2533623 on, so
// it is looked up; without it, removing the current directory from the
// search is the best the platform offers.
typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD flags);

static void RestrictDllSearch(void) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC proc = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : NULL;
  if (proc) {
    // The detour through a plain function pointer type keeps the cast from
    // FARPROC free of a function-type mismatch warning.
    SetDefaultDllDirectoriesProc set =
        reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void (*)(void)>(proc));
    if (set(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  }
  SetDllDirectoryA("");
}

// Creates this run's own folder in the user's temporary directory and points
// TempManifestPath into it. Copies started side by side each get their own
// folder, so no copy overwrites or deletes the manifest another still reads.
// A temporary directory too long to hold such a folder with the manifest in
// it (or one where every name tried is taken) still holds the manifest
// itself, at the one path all such copies share. 0 when there is no usable
// temporary directory or no folder could be made.
static int MakeTempManifestPath(void) {
  // One byte over a path buffer: the join's second NUL may take it, so a
  // temporary directory of up to 249 bytes still takes the manifest's name.
  char temp[PATH_BUFFER + 1];
  DWORD length = GetTempPathA(PATH_BUFFER, temp);
  // 0 is failure; a result of the buffer size or more is the size the path
  // would need, and then the buffer holds nothing usable.
  if (length == 0 || length >= PATH_BUFFER) return 0;
  DWORD pid = GetCurrentProcessId();
  for (int attempt = 0; attempt < TEMP_FOLDER_ATTEMPTS; ++attempt) {
    // At most eight bytes ("W" and seven hex digits): the manifest is
    // written through a temporary name in this folder, which Windows only
    // makes where the folder path leaves 14 bytes below MAX_PATH. The
    // folder's creation is the uniqueness test; a clash tries the next name.
    char name[16];
    wsprintfA(name, "W%X", (unsigned)((pid + (DWORD)attempt) & 0xFFFFFFFu));
    char folder[PATH_BUFFER];
    char manifest[PATH_BUFFER];
    lstrcpyA(folder, temp);
    // A folder whose manifest path fits is also short enough for
    // CreateDirectoryA, which keeps 12 bytes below MAX_PATH.
    int fits = AppendPathComponent(folder, sizeof(folder), name);
    lstrcpyA(manifest, folder);
    if (!fits || !AppendPathComponent(manifest, sizeof(manifest), MANIFEST_NAME)) break;
    if (CreateDirectoryA(folder, NULL)) {
      // The folder is ours now: remember it, so that the clean-up removes it.
      lstrcpyA(TempFolderPath, folder);
      lstrcpyA(TempManifestPath, manifest);
      return 1;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return 0;
  }
  if (!AppendPathComponent(temp, sizeof(temp), MANIFEST_NAME)) return 0;
  lstrcpyA(TempManifestPath, temp);
  return 1;
}

// Reads one string value of the install record into dest (PATH_BUFFER
// bytes). A value that is longer than the buffer, or that fills it without a
// terminating NUL, is a failed query: a path without its end must never be
// used. dest is empty after a failure.
static int QueryRegistryPath(HKEY key, LPCSTR name, char* dest) {
  ZeroBytes(dest, PATH_BUFFER);
  DWORD size = PATH_BUFFER;
  LONG result = RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE*>(dest), &size);
  if (result == ERROR_SUCCESS && size <= PATH_BUFFER) {
    for (int i = 0; i < PATH_BUFFER; ++i) {
      if (dest[i] == 0) return 1;
    }
  }
  ZeroBytes(dest, PATH_BUFFER);
  return 0;
}

// Reads the InstallRecord. 1 when the game counts as installed: the key
// opened and both InstPath and InstMode were read.
static int ReadInstallRecord(void) {
  char subkey[TEXT_BUFFER];
  wsprintfA(subkey, REGISTRY_KEY_FORMAT, CompanyName, GameDir);
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  int installed = 0;
  if (QueryRegistryPath(key, "InstPath", InstPath)) {
    QueryRegistryPath(key, "DataPath", DataPath);  // optional: empty on failure
    DWORD mode = 0;
    DWORD size = sizeof(mode);
    if (RegQueryValueExA(key, "InstMode", NULL, NULL, reinterpret_cast<BYTE*>(&mode), &size) == ERROR_SUCCESS) {
      InstMode = static_cast<int>(mode);
      installed = 1;
    }
  }
  RegCloseKey(key);
  return installed;
}

void ConvertUpdateMessage(LPCSTR source, LPSTR dest) {
  const BYTE* in = reinterpret_cast<const BYTE*>(source);
  char* out = dest;
  while (*in) {
    if (IsDBCSLeadByte(*in) && in[1] != 0) {
      // Both bytes of a double-byte character go through unexamined: a
      // trailing 0x5C is part of the character, not a backslash.
      *out++ = static_cast<char>(in[0]);
      *out++ = static_cast<char>(in[1]);
      in += 2;
    } else if (in[0] == '\\' && in[1] == 'n') {
      *out++ = '\r';
      in += 2;
    } else {
      *out++ = static_cast<char>(*in++);
    }
  }
  *out = 0;
}

void ExitCleanup(void) {
  if (ArchiveDirectory) CloseArchive();
  if (TempManifestPath[0]) DeleteFileA(TempManifestPath);
  // The folder is removed after its only file; a failure leaves it behind
  // but changes nothing else.
  if (TempFolderPath[0]) RemoveDirectoryA(TempFolderPath);
}

// Waits while a window of the game's class with this title exists. 1 when
// the game is gone, 0 when the user gave up (the game's window is then
// brought to the front).
static int WaitForGameToEnd(LPCSTR title) {
  char text[TEXT_BUFFER];
  for (;;) {
    HWND game = FindWindowA(GameClass, title);
    if (!game) return 1;
    wsprintfA(text,
              "「%s」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、"
              "アップデートを中止する場合は [キャンセル] を押して下さい",
              title);
    if (MessageBoxA(NULL, text, WindowTitle, MB_OKCANCEL) != IDOK) {
      ShowWindow(game, SW_SHOW);
      SetForegroundWindow(game);
      return 0;
    }
  }
}

// Start-up up to the end of the dialog; returns the exit code. Every message is
// shown before the clean-up, while the temporary manifest still exists.
static int RunStartup(HINSTANCE instance) {
  CoInitialize(NULL);

  DWORD length = 0;
  const BYTE* image = FindArchiveResource(instance, ARCHIVE_RESOURCE_ID, ARCHIVE_RESOURCE_TYPE, &length);
  if (!image) {
    ShowError("UPDATE.WZ2 not found");
    return 0;
  }
  // Before a byte of the archive is used, even for the manifest: a damaged
  // file must never reach the player's installation. Nothing has been
  // written yet, so there is nothing to clean up either.
  if (!ArchiveMatchesItsCheck(instance, image, length)) {
    ShowError(DAMAGED_ARCHIVE_TEXT);
    return 0;
  }
  OpenImage.data = image;
  OpenImage.length = length;
  ArchiveDirectory = OpenArchive(image, length);
  if (!ArchiveDirectory) {
    ShowError("RESOURCE READ ERROR");
    return 0;
  }

  // Without a temporary folder there is nowhere to put the manifest: that is
  // the same failure as an extraction that did not succeed.
  if (!MakeTempManifestPath() || !ExtractEntry(MANIFEST_NAME, TempManifestPath, 0, NULL)) {
    ShowError("UPDATE.INI not found at UPDATE.WZ2");
    return 0;
  }

  if (!LoadManifestSetup(TempManifestPath)) return 0;

  if (!ReadInstallRecord()) {
    char text[TEXT_BUFFER];
    wsprintfA(text, "「%s」がインストールされていません", GameTitle);
    ShowError(text);
    return 0;
  }

  if (UpdateMessage[0]) {
    char text[TEXT_BUFFER];
    static_assert(sizeof(text) >= sizeof(UpdateMessage), "the conversion never lengthens the message");
    ConvertUpdateMessage(UpdateMessage, text);
    ShowError(text);
  }

  // An InstPath too long to take "\SETUP.INI" cannot hold the file either.
  lstrcpyA(SetupIniPath, InstPath);
  if (!AppendPathComponent(SetupIniPath, sizeof(SetupIniPath), "SETUP.INI") ||
      GetFileAttributesA(SetupIniPath) == INVALID_FILE_ATTRIBUTES) {
    ShowError("インストール先に \"SETUP.INI\" ファイルが見つかりません");
    return 0;
  }

  if (!LoadSetupProfile()) return 0;

  if (UpdaterTitle[0]) {
    wsprintfA(WindowTitle, "%s", UpdaterTitle);
  } else {
    wsprintfA(WindowTitle, "%s アップデータ %s", GameTitle, UpdaterVersion);
  }

  HWND other = FindWindowA(MAKEINTATOM(DIALOG_CLASS_ATOM), WindowTitle);
  if (other) {
    ShowWindow(other, SW_SHOW);
    SetForegroundWindow(other);
    return 0;
  }

  if (!WaitForGameToEnd(GameTitle)) return 0;
  if (GameTitleA[0] && !WaitForGameToEnd(GameTitleA)) return 0;

  INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), NULL, UpdateDialogProc, 0);
  OwnerWindow = NULL;  // the dialog window no longer exists
  if (result != 0) {
    ShowError("アップデートが中断されました");
    return 0;
  }
  return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  (void)previous;
  (void)commandLine;
  (void)showCommand;
  lstrcpyA(WindowTitle, INITIAL_WINDOW_TITLE);
  InstallErrorBox();
  RestrictDllSearch();
  int exitCode = RunStartup(instance);
  ExitCleanup();
  return exitCode;
}
