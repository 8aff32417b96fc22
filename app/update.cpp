// The update run: the action of the confirm page's next button. It reads
// section "UPDATE" of the extracted manifest afresh on every call, tests the
// free space, writes the archive's files and copies the CD-ROM's, and leaves
// the dialog finished, stopped for disk space, or ended with -1.
#include "app/state.h"
#include "archive/extract.h"
#include "config/manifest.h"
#include "config/profile.h"
#include "config/setup.h"
#include "fs/files.h"

UpdateItem UpdateItems[MANIFEST_LIST_MAX];
int UpdateItemCount;
CopyItem CopyItems[MANIFEST_LIST_MAX];
int CopyItemCount;

// A path handed to the file system holds at most 259 bytes and its NUL; the
// shell copy wants a second NUL behind it, hence one byte more.
#define COPY_PATH_BUFFER (MAX_PATH + 1)
// Probe path: a drive name, a separator and a DiskCheckFile slot of up to 259
// bytes with both NULs always fit, so building it never fails; an overlong
// probe simply finds nothing.
#define PROBE_BUFFER (2 + 1 + PATH_BUFFER + 1)
#define MESSAGE_BUFFER 1024

static_assert(DISK_CHECK_FILES == 10, "disk numbers 0 to 9 index the DiskCheckFile slots");
static_assert(sizeof(UpdateItems[0].relativePath) == PATH_BUFFER, "a relative path is one path buffer");
static_assert(sizeof(CopyItems[0].relativePath) == PATH_BUFFER, "a relative path is one path buffer");

static int ReadUpdateValue(LPCSTR key, LPSTR dest, DWORD size) {
  return ReadProfileValue(MANIFEST_SECTION_UPDATE, key, dest, size, TempManifestPath);
}

// Ends the run: the remaining items are not processed.
static void EndRun(HWND dialog) { EndDialog(dialog, -1); }

static void FailWrite(HWND dialog) {
  ShowError("ファイルの書き込みに失敗しました");
  EndRun(dialog);
}

static void FailCopy(HWND dialog, LPCSTR relativePath) {
  char text[MESSAGE_BUFFER];
  wsprintfA(text, "SETUP.INI : \"%s\" のコピーに失敗しました", relativePath);
  MessageBoxA(dialog, text, WindowTitle, MB_ICONERROR);
  EndRun(dialog);
}

// The disk-space test: 1 when the installation's drive has the room the manifest asks for
// (or the manifest asks for none); otherwise shows the shortfall and leaves
// the dialog on the disk-space page.
static int CheckDiskSpace(HWND dialog) {
  char value[PATH_BUFFER];
  if (!ReadUpdateValue("RequiredDiskSpace", value, sizeof(value))) return 1;
  int required = ParseDecimalInt(value);
  if (required == 0) return 1;
  char drive[3] = {0, 0, 0};
  for (int i = 0; i < 2 && InstPath[i]; ++i) drive[i] = InstPath[i];
  uint64_t available = 0;
  uint64_t total = 0;
  // A drive that cannot be asked is given the benefit of the doubt: the
  // writes themselves still check the space of every file.
  if (!QueryDiskFreeSpace(drive, &available, &total, NULL)) return 1;
  uint64_t count = static_cast<DWORD>(required);
  if (count <= available) return 1;
  // count is below 2^32 and above available, so the shortfall fits 32 bits
  // unsigned; a negative RequiredDiskSpace asks for nearly 4 GiB, and %u
  // shows that figure where %i would print a negative one. Below 2^31 both
  // give the same bytes.
  SetInfoText(dialog, "ディスク容量が足りません。\r%s ドライブに %u バイトの空き容量が必要です", drive,
              static_cast<DWORD>(count - available));
  EnableControl(dialog, IDC_BACK, TRUE);
  EnableControl(dialog, IDOK, FALSE);
  EnableControl(dialog, IDCANCEL, TRUE);
  return 0;
}

enum Collect { COLLECT_DONE, COLLECT_REFUSED };

static int ReadListValue(void* refused, LPCSTR key, LPSTR dest, DWORD size) {
  (void)refused;
  return ReadUpdateValue(key, dest, size);
}

// Each entry that applies to this installation goes to the end of the work
// list; an entry that cannot be taken apart safely stops the walk.
static int TakeUpdateItem(void* refused, int n, LPCSTR value) {
  (void)n;
  EntryParse parsed = ParseUpdateEntry(value, InstMode, &UpdateItems[UpdateItemCount]);
  if (parsed == ENTRY_INVALID) {
    *static_cast<int*>(refused) = 1;
    return 0;
  }
  if (parsed == ENTRY_APPLIES) ++UpdateItemCount;
  return 1;
}

static int TakeCopyItem(void* refused, int n, LPCSTR value) {
  (void)n;
  EntryParse parsed = ParseCopyEntry(value, InstMode, &CopyItems[CopyItemCount]);
  if (parsed == ENTRY_INVALID) {
    *static_cast<int*>(refused) = 1;
    return 0;
  }
  if (parsed == ENTRY_APPLIES) ++CopyItemCount;
  return 1;
}

// Builds the UpdateItem list. Sets *present when UpdateFile00 exists.
static Collect CollectUpdateItems(int* present) {
  UpdateItemCount = 0;
  int refused = 0;
  *present = WalkManifestList(MANIFEST_UPDATE_FILES, ReadListValue, TakeUpdateItem, &refused) != 0;
  return refused ? COLLECT_REFUSED : COLLECT_DONE;
}

// Builds the CopyItem list. Sets *present when CopyFile00 exists.
static Collect CollectCopyItems(int* present) {
  CopyItemCount = 0;
  int refused = 0;
  *present = WalkManifestList(MANIFEST_COPY_FILES, ReadListValue, TakeCopyItem, &refused) != 0;
  return refused ? COLLECT_REFUSED : COLLECT_DONE;
}

// Writes one UpdateItem. 0 when the run has been ended.
static int WriteUpdateItem(HWND dialog, const UpdateItem* item, int overwriteOnly) {
  // The 1,024-byte buffer has room for any join of three 259-byte parts.
  char target[MESSAGE_BUFFER];
  static_assert(sizeof(target) >= 3 * PATH_BUFFER, "three 259-byte parts, two separators and two NULs fit");
  lstrcpyA(target, item->operationCode == OP_DATA_IF_MISSING ? DataPath : InstPath);
  AppendPathComponent(target, sizeof(target), DataFolder);
  CreateDirectoryA(target, NULL);  // only this one level; it may exist already
  AppendPathComponent(target, sizeof(target), item->relativePath);
  // The file system takes at most 259 bytes: a longer target cannot exist,
  // so an item that needs an existing target is skipped like any missing
  // one, and an item that would be written is refused like a failed write.
  int tooLong = lstrlenA(target) >= MAX_PATH;
  if (overwriteOnly || item->operationCode == OP_OVERWRITE_ONLY) {
    if (tooLong) return 1;
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 1;
  }
  if (tooLong) {
    FailWrite(dialog);
    return 0;
  }
  if (item->operationCode == OP_DATA_IF_MISSING) {
    DWORD size = 0;
    int unread = 0;
    BYTE* existing = ReadWholeFile(target, &size, &unread);
    if (existing) {
      // The user's data stays as it is; writing it back only renews the file.
      WriteWholeFile(target, existing, size, NULL);
      GlobalFree(existing);
      return 1;
    }
    // The player's file is there but could not be read whole: writing back
    // part of it, or the archive's copy over it, would lose the player's
    // data. It stays untouched, and the item counts as done.
    if (unread) return 1;
  }
  if (!ExtractEntry(item->relativePath + item->nameOffset, target, item->operationCode == OP_NEWER_ONLY, NULL)) {
    FailWrite(dialog);
    return 0;
  }
  return 1;
}

// Looks for the CD-ROM drive that holds the check file of diskNumber and
// stores its name in drive. 0 when the user cancelled the prompt.
static int FindDisk(HWND dialog, int diskNumber, char* drive) {
  for (;;) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      char name[3] = {letter, ':', 0};
      if (GetDriveTypeA(name) != DRIVE_CDROM) continue;
      char probe[PROBE_BUFFER];
      lstrcpyA(probe, name);
      AppendPathComponent(probe, sizeof(probe), Setup.DiskCheckFile[diskNumber]);
      if (GetFileAttributesA(probe) != INVALID_FILE_ATTRIBUTES) {
        lstrcpyA(drive, name);
        return 1;
      }
    }
    char text[MESSAGE_BUFFER];
    wsprintfA(text, "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい", GameTitle, diskNumber);
    if (MessageBoxA(dialog, text, WindowTitle, MB_OKCANCEL) != IDOK) return 0;
  }
}

// Copies one CopyItem. sourceDrive is the drive of this call's last
// successful search, empty before the first. 0 when the run has been ended.
static int CopyOneItem(HWND dialog, const CopyItem* item, char* sourceDrive) {
  int directory = 1;
  if (item->diskNumber != 0) {
    // The parser refuses every disk byte but '0' to '9'; this bound keeps the
    // slot index safe whatever it lets through.
    if (item->diskNumber < 0 || item->diskNumber >= DISK_CHECK_FILES) {
      FailCopy(dialog, item->relativePath);
      return 0;
    }
    if (!FindDisk(dialog, item->diskNumber, sourceDrive)) {
      EndRun(dialog);
      return 0;
    }
  }
  // An entry without a disk number copies from the drive an earlier entry
  // found; before any search there is no such drive, and guessing one could
  // copy from the wrong disk.
  if (!sourceDrive[0]) {
    FailCopy(dialog, item->relativePath);
    return 0;
  }
  char source[COPY_PATH_BUFFER];
  char destination[COPY_PATH_BUFFER];
  ZeroBytes(source, sizeof(source));
  ZeroBytes(destination, sizeof(destination));
  lstrcpyA(source, sourceDrive);
  if (!AppendPathComponent(source, sizeof(source), item->relativePath)) {
    FailCopy(dialog, item->relativePath);
    return 0;
  }
  // InstPath holds at most 259 bytes, so its second NUL fits as well.
  lstrcpyA(destination, InstPath);
  // A missing source answers INVALID_FILE_ATTRIBUTES, whose directory bit is
  // set: it goes to the shell as a directory copy and fails there.
  if (!(GetFileAttributesA(source) & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!AppendPathComponent(destination, sizeof(destination), item->relativePath)) {
      FailCopy(dialog, item->relativePath);
      return 0;
    }
    directory = 0;
  }
  SetInfoText(dialog, "%s をコピーしています", item->relativePath);
  int result = ShellCopy(dialog, source, destination, directory);
  if (result == SHELLCOPY_DONE) return 1;
  if (result == SHELLCOPY_FAILED) {
    FailCopy(dialog, item->relativePath);
  } else {
    EndRun(dialog);
  }
  return 0;
}

static void FinishRun(HWND dialog) {
  SetInfoText(dialog, "アップデートは完了しました");
  SetDlgItemTextA(dialog, IDOK, "完了");
  EnableControl(dialog, IDOK, TRUE);
  SetFocus(GetDlgItem(dialog, IDOK));
  SetCursor(LoadCursorA(NULL, IDC_ARROW));
}

void RunUpdate(HWND dialog) {
  if (!CheckDiskSpace(dialog)) return;

  SetInfoText(dialog, "アップデートを実行しています");
  EnableControl(dialog, IDC_BACK, FALSE);
  EnableControl(dialog, IDOK, FALSE);
  EnableControl(dialog, IDCANCEL, FALSE);
  SetCursor(LoadCursorA(NULL, IDC_WAIT));

  char value[PATH_BUFFER];
  int overwriteOnly = ReadUpdateValue("OverwriteOnly", value, sizeof(value)) && ParseDecimalInt(value) != 0;

  // An entry that cannot be taken apart safely (a field longer than its slot,
  // a disk byte outside 0 to 9) stops the run before anything is written.
  int updateKeysPresent = 0;
  int copyKeysPresent = 0;
  if (CollectUpdateItems(&updateKeysPresent) == COLLECT_REFUSED ||
      CollectCopyItems(&copyKeysPresent) == COLLECT_REFUSED) {
    FailWrite(dialog);
    return;
  }

  if (!updateKeysPresent && !copyKeysPresent) {
    ShowError("No 'UpdateFileXX' and 'CopyFileXX'");
    EndRun(dialog);
    return;
  }
  if (UpdateItemCount == 0 && CopyItemCount == 0) {
    ShowError("アップデートする必要のあるファイルはありません");
    FinishRun(dialog);
    return;
  }

  for (int i = 0; i < UpdateItemCount; ++i) {
    if (!WriteUpdateItem(dialog, &UpdateItems[i], overwriteOnly)) return;
  }
  char sourceDrive[3] = {0, 0, 0};
  for (int i = 0; i < CopyItemCount; ++i) {
    if (!CopyOneItem(dialog, &CopyItems[i], sourceDrive)) return;
  }
  FinishRun(dialog);
}
