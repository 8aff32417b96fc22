// The end-to-end driver: runs inside the same Wine prefix as the updater,
// starts it, watches its windows and acts like a user, one scripted step at
// a time. It reads the script from standard input (code page 932 bytes, one
// step per line) and writes a log to standard output that holds every text
// the dialog and every message box showed, so that a failed run can be read
// without running it again.
//
// Steps (TEXT is the rest of the line, in which \r \n \t \\ and \xHH are
// escapes, taken only outside double-byte characters so that a trail byte
// 0x5C stays a trail byte; paths, keys and command lines are taken as they
// are, backslashes and all):
//   start NAME COMMANDLINE        start a process, known as NAME from then on
//   wait-dialog NAME              wait for NAME's update dialog (control 1001)
//   expect-caption TEXT           the dialog's caption
//   expect-info TEXT              the information text (control 1001)
//   expect-button ID ENABLED TEXT a button's text and enabled state (0/1)
//   press ID                      post a click of button ID to the dialog
//   key escape|enter              post a key press to the dialog, which the
//                                 dialog manager turns into a command
//   close                         post the close box's command to the dialog
//   wait-box NAME                 wait for a message box of NAME
//   expect-box-caption TEXT       caption of the current box
//   expect-box-text TEXT          its text (control 0xFFFF)
//   expect-box-buttons IDS        its visible buttons, e.g. 1 or 1,2
//   expect-box-icon yes|no        whether it shows an icon
//   expect-box-owner dialog|none  whether the update dialog owns it
//   answer-box ID                 post a click of ID and wait until it is gone
//   wait-exit NAME CODE           wait for NAME to end (failing at once if it
//                                 shows a box instead); check its exit code
//   expect-foreground             the current dialog is the foreground window
//   wait-window NAME              wait for any visible top-level window of NAME
//   kill NAME                     end a helper process (the stand-in game)
//   reg-clear KEY                 delete HKCU\KEY with everything below it
//   reg-sz KEY VALUE DATA         set a string value under HKCU\KEY
//   reg-dword KEY VALUE N         set a 32-bit value under HKCU\KEY
//   lock PATH                     open PATH without sharing and keep it open
//   unlock PATH                   close it again
//   delete-file PATH              delete a file
//   write-file PATH               create an empty file (a disk's check file)
//   set-attributes HEX PATH       set a file's attributes (hexadecimal)
//   expect-attributes HEX PATH    a file's attributes are exactly HEX
//   timeout MS                    how long each wait may take from now on
//   log TEXT                      copy TEXT into the log
//
// Waits poll every 20 ms; an expectation that is not met within the timeout
// fails the run. On failure every window of every started process is dumped
// and the processes are ended, so no run leaves anything behind.
#include <windows.h>

#include <string>
#include <vector>

namespace {

struct Process {
  std::string name;
  PROCESS_INFORMATION info;
  bool exited;
};

std::vector<Process> processes;
struct Lock {
  std::string path;
  HANDLE handle;
};
std::vector<Lock> locks;

HWND dialog;  // the update dialog of the last wait-dialog
HWND box;     // the message box of the last wait-box
DWORD timeoutMs = 20000;
int lineNumber;
std::string lastDialogState;

// ---- output ----------------------------------------------------------------

void Write(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), (DWORD)text.size(), &written, nullptr);
}

// Code page 932 text as it is, except control bytes and backslashes, which
// are escaped so that a CR inside a message stays visible in the log.
std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = (unsigned char)text[i];
    if (IsDBCSLeadByteEx(932, c) && i + 1 < text.size()) {
      out += text[i];
      out += text[++i];
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      wsprintfA(hex, "\\x%02X", c);
      out += hex;
    } else {
      out += text[i];
    }
  }
  return out + "\"";
}

DWORD startTick = GetTickCount();

// Each line carries the seconds since the driver started, to tell a slow
// step from a stuck one.
void Log(const std::string& line) {
  DWORD ms = GetTickCount() - startTick;
  char stamp[32];
  wsprintfA(stamp, "[%3u.%03u] ", ms / 1000, ms % 1000);
  Write(stamp + line + "\n");
}

// The last error of the call that just failed, for the log: " (error N)".
std::string LastError() {
  char text[32];
  wsprintfA(text, " (error %lu)", GetLastError());
  return text;
}

// ---- script parsing -----------------------------------------------------------

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = (unsigned char)text[i];
    if (IsDBCSLeadByteEx(932, c) && i + 1 < text.size()) {
      out += text[i];
      out += text[++i];
      continue;
    }
    if (c != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char e = text[++i];
    if (e == 'r') out += '\r';
    else if (e == 'n') out += '\n';
    else if (e == 't') out += '\t';
    else if (e == 'x' && i + 2 < text.size()) {
      out += (char)strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16);
      i += 2;
    } else out += e;
  }
  return out;
}

// Splits off the first blank-separated word of `rest`.
std::string Word(std::string& rest) {
  size_t start = rest.find_first_not_of(' ');
  if (start == std::string::npos) {
    rest.clear();
    return "";
  }
  size_t end = rest.find(' ', start);
  std::string word = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
  rest = end == std::string::npos ? "" : rest.substr(end + 1);
  return word;
}

// ---- windows -------------------------------------------------------------------

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string CaptionOf(HWND window) {
  char text[1024] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// A control's text as the window manager holds it. For a window of another
// process GetWindowTextA reads that copy without sending WM_GETTEXT, so the
// driver never waits on the updater's thread, which may be busy writing a
// large file or sitting in a nested message loop.
std::string ControlText(HWND parent, int id) {
  HWND control = GetDlgItem(parent, id);
  if (!control) return "<no control>";
  char text[1024] = "";
  GetWindowTextA(control, text, sizeof text);
  return text;
}

struct Search {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  Search* search = (Search*)param;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid) search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
  Search search = {pid, {}};
  EnumWindows(CollectTopLevel, (LPARAM)&search);
  return search.found;
}

bool IsDialogClass(HWND window) { return ClassOf(window) == "#32770"; }
bool IsUpdateDialog(HWND window) { return IsDialogClass(window) && GetDlgItem(window, 1001); }
bool IsMessageBox(HWND window) { return IsDialogClass(window) && GetDlgItem(window, 0xFFFF); }

BOOL CALLBACK DumpChild(HWND child, LPARAM) {
  char line[64];
  wsprintfA(line, "    child id=%d class=", GetDlgCtrlID(child));
  Log(std::string(line) + ClassOf(child) + " visible=" + (IsWindowVisible(child) ? "1" : "0") +
      " enabled=" + (IsWindowEnabled(child) ? "1" : "0") + " text=" + Quote(ControlText(GetParent(child), GetDlgCtrlID(child))));
  return TRUE;
}

void DumpWindows() {
  for (const Process& p : processes) {
    if (p.exited) continue;
    Log("  windows of " + p.name + ":");
    for (HWND window : TopLevelWindows(p.info.dwProcessId)) {
      Log("   top-level class=" + ClassOf(window) + " visible=" + (IsWindowVisible(window) ? "1" : "0") +
          " caption=" + Quote(CaptionOf(window)));
      EnumChildWindows(window, DumpChild, 0);
    }
  }
}

// ---- processes --------------------------------------------------------------

[[noreturn]] void Fail(const std::string& why);

// The latest process of that name: a scenario may run the updater again
// under the same name once the earlier run has ended.
Process* Find(const std::string& name) {
  for (size_t i = processes.size(); i-- > 0;)
    if (processes[i].name == name) return &processes[i];
  Fail("unknown process " + name);
}

void EndAll() {
  for (Lock& lock : locks) CloseHandle(lock.handle);
  locks.clear();
  for (Process& p : processes) {
    if (!p.exited && WaitForSingleObject(p.info.hProcess, 0) == WAIT_TIMEOUT) {
      Log("  ending " + p.name);
      TerminateProcess(p.info.hProcess, 99);
      WaitForSingleObject(p.info.hProcess, 5000);
    }
    CloseHandle(p.info.hThread);
    CloseHandle(p.info.hProcess);
  }
  processes.clear();
}

[[noreturn]] void Fail(const std::string& why) {
  char where[32];
  wsprintfA(where, "FAIL (line %d): ", lineNumber);
  Log(where + why);
  DumpWindows();
  EndAll();
  ExitProcess(1);
}

// ---- dialog state -----------------------------------------------------------

std::string ButtonState(HWND window, int id) {
  HWND button = GetDlgItem(window, id);
  if (!button) return "none";
  return std::string(IsWindowEnabled(button) ? "on " : "off ") + Quote(ControlText(window, id));
}

// Logs the dialog's whole state whenever it differs from the last one seen,
// so the log shows each page the dialog went through.
void NoteDialog() {
  if (!dialog || !IsWindow(dialog)) return;
  std::string state = "dialog caption=" + Quote(CaptionOf(dialog)) + " info=" + Quote(ControlText(dialog, 1001)) +
                      " back=" + ButtonState(dialog, 4) + " next=" + ButtonState(dialog, 1) +
                      " abort=" + ButtonState(dialog, 2);
  if (state != lastDialogState) Log(state);
  lastDialogState = state;
}

// Polls `check` until it holds or the timeout passes; `describe` tells what
// was seen instead.
template <typename Check>
bool WaitFor(Check check) {
  DWORD start = GetTickCount();
  for (;;) {
    NoteDialog();
    if (check()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
}

void NeedDialog() {
  if (!dialog) Fail("no dialog: wait-dialog first");
}

// A visible message box of the process. answer-box waits until the box it
// answered is destroyed, so any box found here is a new one.
HWND FindBox(DWORD pid) {
  for (HWND window : TopLevelWindows(pid))
    if (IsMessageBox(window) && IsWindowVisible(window)) return window;
  return nullptr;
}

std::string BoxButtons(HWND window) {
  static const int ids[] = {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, 10, 11};
  std::string list;
  for (int id : ids) {
    HWND button = GetDlgItem(window, id);
    if (button && IsWindowVisible(button)) {
      char number[16];
      wsprintfA(number, "%d", id);
      list += (list.empty() ? "" : ",") + std::string(number);
    }
  }
  return list;
}

// The platform's message box keeps its icon in the static control 1088,
// which stays in place (empty) when the box has none.
bool BoxHasIcon(HWND window) {
  HWND icon = GetDlgItem(window, 1088);
  DWORD_PTR handle = 0;
  if (!icon || !SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle)) return false;
  return handle != 0;
}

void LogBox(HWND window) {
  HWND owner = GetWindow(window, GW_OWNER);
  std::string ownerText = !owner ? "none" : owner == dialog ? "dialog" : "other";
  std::string buttons;
  for (const char* b : {"1", "2"}) {
    int id = b[0] - '0';
    if (GetDlgItem(window, id) && IsWindowVisible(GetDlgItem(window, id)))
      buttons += std::string(" button") + b + "=" + Quote(ControlText(window, id));
  }
  Log("box caption=" + Quote(CaptionOf(window)) + " text=" + Quote(ControlText(window, 0xFFFF)) +
      " buttons=" + BoxButtons(window) + buttons + " icon=" + (BoxHasIcon(window) ? "yes" : "no") +
      " owner=" + ownerText);
}

void Expect(const char* what, const std::string& expected, std::string (*read)()) {
  std::string seen;
  if (!WaitFor([&] { return (seen = read()) == expected; }))
    Fail(std::string(what) + ": expected " + Quote(expected) + ", saw " + Quote(seen));
}

// ---- registry ---------------------------------------------------------------

HKEY CreateKey(const std::string& key) {
  HKEY handle = nullptr;
  LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
  if (result != ERROR_SUCCESS) {
    SetLastError((DWORD)result);
    Fail("cannot create HKCU\\" + key + LastError());
  }
  return handle;
}

// ---- steps ------------------------------------------------------------------

void Step(const std::string& command, std::string rest) {
  if (command == "start") {
    std::string name = Word(rest);
    std::string commandLine = rest;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    Process p = {name, {}, false};
    // CreateProcess may change the buffer it is given: a fresh copy for
    // each attempt. Wine reports a process that died while it was being
    // brought up (before its first instruction) as a failed start; that is
    // no step of the program under test, so it is tried again, a counted
    // number of times, and every failure is logged with its error.
    const int kStartAttempts = 3;
    for (int attempt = 1;; ++attempt) {
      std::vector<char> buffer(commandLine.begin(), commandLine.end());
      buffer.push_back(0);
      if (CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &p.info))
        break;
      DWORD error = GetLastError();
      std::string why = LastError();
      if (attempt == kStartAttempts || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
          error == ERROR_BAD_EXE_FORMAT)
        Fail("cannot start " + Quote(commandLine) + why);
      Log("start of " + name + " failed" + why + ", attempt " + std::to_string(attempt));
    }
    processes.push_back(p);
    Log("started " + name);
  } else if (command == "wait-dialog") {
    Process* p = Find(Word(rest));
    HWND found = nullptr;
    bool ok = WaitFor([&] {
      for (HWND window : TopLevelWindows(p->info.dwProcessId))
        if (IsUpdateDialog(window) && IsWindowVisible(window)) found = window;
      return found != nullptr || FindBox(p->info.dwProcessId) != nullptr;
    });
    if (!found) {
      if (ok) LogBox(FindBox(p->info.dwProcessId));
      Fail(ok ? "a message box came instead of the dialog" : "no dialog appeared");
    }
    dialog = found;
    lastDialogState.clear();
    NoteDialog();
  } else if (command == "expect-caption") {
    NeedDialog();
    Expect("caption", Unescape(rest), [] { return CaptionOf(dialog); });
  } else if (command == "expect-info") {
    NeedDialog();
    Expect("information text", Unescape(rest), [] { return ControlText(dialog, 1001); });
  } else if (command == "expect-button") {
    NeedDialog();
    int id = atoi(Word(rest).c_str());
    std::string enabled = Word(rest);
    std::string expected = std::string(enabled == "1" ? "on " : "off ") + Quote(Unescape(rest));
    std::string seen;
    if (!WaitFor([&] { return (seen = ButtonState(dialog, id)) == expected; }))
      Fail("button " + std::to_string(id) + ": expected " + expected + ", saw " + seen);
  } else if (command == "press") {
    NeedDialog();
    int id = atoi(Word(rest).c_str());
    Log("press " + std::to_string(id));
    // Posted, not sent: the handler runs message boxes and the shell's copy,
    // and a sent message would hold the driver until they are answered.
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
  } else if (command == "key") {
    NeedDialog();
    std::string name = Word(rest);
    WPARAM key = name == "escape" ? VK_ESCAPE : name == "enter" ? VK_RETURN : 0;
    if (!key) Fail("unknown key " + name);
    Log("key " + name);
    PostMessageA(dialog, WM_KEYDOWN, key, 1);
    PostMessageA(dialog, WM_KEYUP, key, 0xC0000001);
  } else if (command == "close") {
    NeedDialog();
    Log("close box");
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else if (command == "wait-box") {
    Process* p = Find(Word(rest));
    HWND found = nullptr;
    if (!WaitFor([&] { return (found = FindBox(p->info.dwProcessId)) != nullptr; }))
      Fail("no message box appeared");
    box = found;
    // The box fills in its text while it is being created: the log waits
    // for the text (the expectations below wait for their own parts).
    WaitFor([&] { return !ControlText(found, 0xFFFF).empty(); });
    LogBox(box);
  } else if (command == "expect-box-caption") {
    // Box expectations poll like the dialog's: a box is visible before it
    // has filled in its texts and buttons, and under emulation that can
    // take longer than the settling pause above.
    if (!box) Fail("no box");
    Expect("box caption", Unescape(rest), [] { return CaptionOf(box); });
  } else if (command == "expect-box-text") {
    if (!box) Fail("no box");
    Expect("box text", Unescape(rest), [] { return ControlText(box, 0xFFFF); });
  } else if (command == "expect-box-buttons") {
    if (!box) Fail("no box");
    Expect("box buttons", Word(rest), [] { return BoxButtons(box); });
  } else if (command == "expect-box-icon") {
    if (!box) Fail("no box");
    Expect("box icon", Word(rest), [] { return std::string(BoxHasIcon(box) ? "yes" : "no"); });
  } else if (command == "expect-box-owner") {
    if (!box) Fail("no box");
    HWND owner = GetWindow(box, GW_OWNER);
    std::string expected = Word(rest), seen = !owner ? "none" : owner == dialog ? "dialog" : "other";
    if (seen != expected) Fail("box owner: expected " + expected + ", saw " + seen);
  } else if (command == "answer-box") {
    if (!box) Fail("no box");
    int id = atoi(Word(rest).c_str());
    Log("answer " + std::to_string(id));
    HWND answered = box;
    PostMessageA(answered, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(answered, id));
    box = nullptr;
    if (!WaitFor([&] { return !IsWindow(answered); })) Fail("the box did not close");
    Log("box closed");
  } else if (command == "wait-exit") {
    Process* p = Find(Word(rest));
    DWORD expected = (DWORD)atoi(Word(rest).c_str());
    HWND stray = nullptr;
    bool ended = WaitFor([&] {
      if (WaitForSingleObject(p->info.hProcess, 0) == WAIT_OBJECT_0) return true;
      stray = FindBox(p->info.dwProcessId);
      return stray != nullptr;
    });
    if (!ended) Fail(p->name + " did not end");
    if (stray) {
      WaitFor([&] { return !ControlText(stray, 0xFFFF).empty(); });
      LogBox(stray);
      Fail(p->name + " showed a message box instead of ending");
    }
    DWORD code = 0;
    GetExitCodeProcess(p->info.hProcess, &code);
    p->exited = true;
    Log(p->name + " exit code " + std::to_string(code));
    if (code != expected) Fail("exit code: expected " + std::to_string(expected) + ", saw " + std::to_string(code));
    if (dialog && !IsWindow(dialog)) dialog = nullptr;
  } else if (command == "expect-foreground") {
    NeedDialog();
    if (!WaitFor([] { return GetForegroundWindow() == dialog; }))
      Fail("the dialog is not the foreground window");
    Log("the dialog is in front");
  } else if (command == "wait-window") {
    Process* p = Find(Word(rest));
    if (!WaitFor([&] {
          for (HWND window : TopLevelWindows(p->info.dwProcessId))
            if (IsWindowVisible(window)) return true;
          return false;
        }))
      Fail(p->name + " shows no window");
    Log(p->name + " shows its window");
  } else if (command == "kill") {
    Process* p = Find(Word(rest));
    if (!TerminateProcess(p->info.hProcess, 0)) Fail("cannot end " + p->name + LastError());
    if (WaitForSingleObject(p->info.hProcess, timeoutMs) != WAIT_OBJECT_0) Fail(p->name + " did not end when killed");
    p->exited = true;
    Log("ended " + p->name);
  } else if (command == "reg-clear") {
    std::string key = rest;
    LONG result = RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    if (result == ERROR_SUCCESS) RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  } else if (command == "reg-sz" || command == "reg-dword") {
    std::string key = Word(rest);
    std::string value = Word(rest);
    HKEY handle = CreateKey(key);
    LONG result;
    if (command == "reg-sz") {
      std::string data = rest;
      result = RegSetValueExA(handle, value.c_str(), 0, REG_SZ, (const BYTE*)data.c_str(), (DWORD)data.size() + 1);
    } else {
      DWORD data = (DWORD)strtoul(rest.c_str(), nullptr, 10);
      result = RegSetValueExA(handle, value.c_str(), 0, REG_DWORD, (const BYTE*)&data, sizeof data);
    }
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
      SetLastError((DWORD)result);
      Fail("cannot set " + value + LastError());
    }
  } else if (command == "lock") {
    std::string path = rest;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) Fail("cannot lock " + Quote(path) + LastError());
    locks.push_back({path, handle});
  } else if (command == "unlock") {
    std::string path = rest;
    for (size_t i = 0; i < locks.size(); ++i)
      if (locks[i].path == path) {
        CloseHandle(locks[i].handle);
        locks.erase(locks.begin() + i);
        return;
      }
    Fail("not locked: " + Quote(path));
  } else if (command == "delete-file") {
    std::string path = rest;
    if (!DeleteFileA(path.c_str())) Fail("cannot delete " + Quote(path) + LastError());
  } else if (command == "write-file") {
    std::string path = rest;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) Fail("cannot create " + Quote(path) + LastError());
    CloseHandle(handle);
  } else if (command == "set-attributes") {
    DWORD attributes = (DWORD)strtoul(Word(rest).c_str(), nullptr, 16);
    std::string path = rest;
    if (!SetFileAttributesA(path.c_str(), attributes)) Fail("cannot set the attributes of " + Quote(path));
  } else if (command == "expect-attributes") {
    DWORD expected = (DWORD)strtoul(Word(rest).c_str(), nullptr, 16);
    std::string path = rest;
    DWORD seen = GetFileAttributesA(path.c_str());
    char text[64];
    wsprintfA(text, "attributes %lX, expected %lX", seen, expected);
    Log(Quote(path) + " " + text);
    if (seen != expected) Fail(Quote(path) + ": " + text);
  } else if (command == "timeout") {
    timeoutMs = (DWORD)atoi(rest.c_str());
  } else if (command == "log") {
    Log("# " + Unescape(rest));
  } else {
    Fail("unknown step " + Quote(command));
  }
}

std::string ReadAll(HANDLE input) {
  std::string all;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(input, chunk, sizeof chunk, &got, nullptr) && got > 0) all.append(chunk, got);
  return all;
}

}  // namespace

int main() {
  std::string script = ReadAll(GetStdHandle(STD_INPUT_HANDLE));
  size_t pos = 0;
  while (pos < script.size()) {
    size_t end = script.find('\n', pos);
    if (end == std::string::npos) end = script.size();
    std::string line = script.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string rest = line;
    std::string command = Word(rest);
    if (command.empty() || command[0] == '#') continue;
    Step(command, rest);
  }
  for (const Process& p : processes)
    if (!p.exited && WaitForSingleObject(p.info.hProcess, 0) == WAIT_TIMEOUT) Fail(p.name + " still runs at the end");
  EndAll();
  Log("PASS");
  return 0;
}
