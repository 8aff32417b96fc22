// Controls of the scripted Win32 double: how tests set up drives, registry,
// resources and answers, and inspect what the updater did with them. Linked
// into tests only; neither the updater nor the publisher's tool has them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/win32_api.h"

// Win32 calls the updater never makes, which tests make to read back what it
// showed and the double uses itself; only the double defines them, so they
// are declared here rather than with the updater's subset.
DWORD GetTickCount(void);
int GetWindowTextA(HWND window, LPSTR text, int max);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max);
BOOL IsWindowEnabled(HWND window);

namespace scripted {

// Forgets every drive, registry value, resource, window, scripted answer and
// recorded call, and every cached creation time; restores the defaults below.
void Reset();

// ---- Drives and paths -------------------------------------------------------
// Paths like C:\GAME\A.DAT resolve through drive letters mapped to host
// folders; '\' and '/' both separate. A path without a drive letter resolves
// against the current directory set here (default: drive C's root).
// Existing names match without regard to ASCII case. The double itself keeps
// what Linux lacks: creation times, Windows attributes (read-only is also
// mirrored as chmod a-w and refused even to root) and sharing modes.
void MapDrive(char letter, const std::string& hostFolder, UINT driveType = DRIVE_FIXED);
void SetCurrentDirectory(const std::string& windowsPath);
// Host path for a Windows path ("" when its drive is not mapped).
std::string HostPath(const std::string& windowsPath);
// Free space reported for a drive: available to the caller, total, total free.
// Unset drives report 1 TiB free of 2 TiB.
void SetFreeSpace(char letter, uint64_t freeToCaller, uint64_t total, uint64_t totalFree);
// Makes both free-space queries fail for the drive.
void FailFreeSpace(char letter, bool fail = true);
// When false, GetProcAddress(kernel32, "GetDiskFreeSpaceExA") finds nothing,
// as on the oldest systems, so callers must take the GetDiskFreeSpaceA path.
void SetDiskFreeSpaceExAvailable(bool available);
// What GetTempPathA reports (default "C:\TEMP\"); "" makes it fail with 0.
void SetTempPath(const std::string& windowsPath);
// Calls of LoadLibraryA minus calls of FreeLibrary: a leak check for tests.
int LoadedLibraryReferences();
// Every SetDllDirectoryA argument ("(null)" for NULL) and every name looked up
// with GetProcAddress in kernel32, in order.
const std::vector<std::string>& DllDirectoryCalls();
const std::vector<std::string>& ProcLookups();

// ---- Fault injection -------------------------------------------------------
// The next `count` GlobalAlloc calls after `skip` successful ones fail.
void FailAllocations(int skip, int count = 1);
// Live GlobalAlloc blocks and open handles: leak checks for tests.
int LiveAllocations();
int OpenHandles();
// A WriteFile to a file whose host path ends with `suffix` writes only
// `bytesBeforeFailure` bytes and then fails (simulates a full disk).
void FailWritesTo(const std::string& suffix, uint32_t bytesBeforeFailure);
// A ReadFile of a file whose host path ends with `suffix` ends after
// `bytesBeforeEnd` bytes, as if the file had shrunk since its size was taken.
void ShortenReadsOf(const std::string& suffix, uint32_t bytesBeforeEnd);

// ---- Conflicts and what a file keeps ---------------------------------------
// The file calls a scripted failure or a count is about. Create: CreateFileA
// of an existing file (a conflict needs one). Replace: ReplaceFileA, matched
// on the replaced file. Move: MoveFileExA, matched on the new name.
enum class FileCall { Create, Replace, Move };
// After `skip` calls that go through, the next `times` calls of `call` on a
// path ending with `suffix` (without ASCII case) fail with `error`, as when
// a scanner holds the file. ReplaceFileA then leaves the files as Windows documents for the
// code, with no backup name asked for: ERROR_UNABLE_TO_MOVE_REPLACEMENT
// deletes the replaced file and leaves the replacement under its own name;
// ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 moves the replaced file to
// "<its name>.~RF" and gives the replacement, still under its own name, the
// replaced file's attributes and named streams; any other code changes
// nothing.
void FailFileCalls(FileCall call, const std::string& suffix, int times, DWORD error = ERROR_SHARING_VIOLATION,
                   int skip = 0);
// Calls of the kind made since Reset, failed ones included.
int FileCallCount(FileCall call);
// The (replaced, replacement) names of every ReplaceFileA, as passed.
const std::vector<std::pair<std::string, std::string>>& Replacements();
// What Windows keeps with a file and Linux has no place for, as opaque texts:
// its owner, its security descriptor and its named streams. A rename takes
// them along with the file; ReplaceFileA (which the double implements as
// documented: the result has the replacement's content, write and access
// times, and the replaced file's attributes, creation time, owner and
// security) gives the result the replaced file's, and its named streams
// unless the replacement has streams of its own. A file without a record
// (a new one) has empty texts.
struct FileMetadata {
  std::string owner;
  std::string security;
  std::string streams;
  bool operator==(const FileMetadata& o) const {
    return owner == o.owner && security == o.security && streams == o.streams;
  }
};
void SetFileMetadata(const std::string& windowsPath, const FileMetadata& metadata);
FileMetadata FileMetadataOf(const std::string& windowsPath);

// ---- Time ---------------------------------------------------------------------
// GetSystemTimeAsFileTime reports `time` (100 ns units since 1601) once set,
// the host's clock before. Sleep never waits: it records its argument and
// moves a set time on by as much.
void SetSystemTime(uint64_t time);
const std::vector<DWORD>& Sleeps();

// ---- Resources -------------------------------------------------------------
// FindResourceA(any module, MAKEINTRESOURCE(id), type) serves these bytes.
void SetResource(int id, const std::string& type, const void* data, size_t size);

// ---- Message boxes ---------------------------------------------------------
struct MessageBoxRecord {
  HWND owner;
  std::string text;     // bytes as passed (code page 932)
  std::string caption;  // bytes as passed
  UINT flags;
};
const std::vector<MessageBoxRecord>& MessageBoxes();
// Answers are taken from the front of the script; an empty script answers
// IDOK. A handler, when set, is asked first and may act on the open box (for
// instance send the dialog a command while the box's modal loop runs); its
// nonzero answer is the box's answer, 0 defers to the script.
void ScriptMessageBoxAnswers(const std::vector<int>& answers);
void SetMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler);

// ---- Registry ----------------------------------------------------------------
void SetRegistryString(HKEY root, const std::string& subkey, const std::string& name, const std::string& value);
// Stores raw bytes (REG_SZ without a terminating NUL, for instance).
void SetRegistryBytes(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
                      const std::string& bytes);
void SetRegistryDword(HKEY root, const std::string& subkey, const std::string& name, DWORD value);
int OpenRegistryKeys();

// ---- Windows -----------------------------------------------------------------
// Declares a top-level window of another process. className may be a class
// name or "#32770" for the dialog class (atom 0x8002 matches it too).
HWND DeclareWindow(const std::string& className, const std::string& title);
void RemoveWindow(HWND window);
struct WindowCall {
  std::string call;  // "ShowWindow" or "SetForegroundWindow"
  HWND window;
  int arg;
};
const std::vector<WindowCall>& WindowCalls();

// ---- The modal dialog -------------------------------------------------------------
// DialogBoxParamA creates a dialog whose controls appear on first use (any id),
// sends WM_INITDIALOG, then runs the script with the dialog's handle until
// the script returns or EndDialog is called; it returns the EndDialog result,
// or -1 when the script ends without one. Send() delivers a message to the
// running dialog's procedure and returns its result.
void SetDialogScript(std::function<void(HWND dialog)> script);
INT_PTR Send(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Presses a button as a click does: WM_COMMAND with notification 0 and the id.
// A disabled button takes no click, so nothing is sent then; use Send() for
// commands the dialog manager delivers regardless (Enter, Esc, close box).
void Click(HWND dialog, int id);
struct DialogState {
  bool open = false;
  bool ended = false;
  INT_PTR result = 0;
  std::string caption;
  int focus = 0;            // control id holding the focus, 0 when none
  std::string cursor;       // "wait", "arrow" or "" (never set)
  int templateId = 0;       // the template DialogBoxParamA was asked for
};
const DialogState& Dialog();
// Text and enabled state of a control of the running (or last) dialog.
std::string ControlText(int id);
bool ControlEnabled(int id);
// Every text the information control (or any control) showed, in order.
const std::vector<std::pair<int, std::string>>& ControlTextHistory();
// Every SetCursor, in order: "wait", "arrow", "other" or "none" (NULL).
const std::vector<std::string>& CursorHistory();

// ---- The shell's copy --------------------------------------------------------
struct ShellCopyRecord {
  HWND owner;
  UINT func;
  std::vector<std::string> from;  // the NUL-separated source list
  std::vector<std::string> to;
  FILEOP_FLAGS flags;
};
const std::vector<ShellCopyRecord>& ShellCopies();
// Outcome of the next SHFileOperationA calls: copy for real (default, also
// once the script is used up), fail with a nonzero result without copying,
// or report the user's cancel (fAnyOperationsAborted set, result 0 or as
// given to SetShellResults). A real copy of a missing source fails too.
enum class ShellOutcome { Copy, Fail, Cancel };
void ScriptShellOutcomes(const std::vector<ShellOutcome>& outcomes);
// What a scripted Fail and Cancel return (defaults 0x402 and 0).
void SetShellResults(int failResult, int cancelResult);
// Called inside each SHFileOperationA before its outcome, as the progress
// window's message loop would let the test act (e.g. click the dialog).
void SetShellCopyHandler(std::function<void(const ShellCopyRecord&)> handler);
// Calls of CoInitialize (the first returns S_OK, later ones S_FALSE).
int ComInitializations();

}  // namespace scripted
