// Top-level windows of other processes, the one modal dialog the updater runs
// and its controls, and the cursor. Tests drive the dialog through its
// procedure exactly as the platform's dialog manager would deliver messages.
#include <cstdlib>
#include <cstring>
#include <map>

#include "double/internal.h"

namespace {

enum class Kind { TopLevel, Dialog, Control };

struct Window {
  Kind kind;
  std::string className;
  std::string text;
  bool enabled = true;
  int id = 0;  // controls only
};

struct Control {
  HWND handle;
  std::string text;
  bool enabled = true;
};

const std::string kDialogClass = "#32770";
const uintptr_t kDialogAtom = 0x8002;
HCURSOR const kWaitCursor = reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x10005));
HCURSOR const kArrowCursor = reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x10003));

std::map<uintptr_t, Window> g_windows;
std::vector<scripted::WindowCall> g_windowCalls;
uintptr_t g_nextWindow = 0x10000;

scripted::DialogState g_dialog;
HWND g_dialogHandle = nullptr;
DLGPROC g_proc = nullptr;
int g_depth = 0;  // nesting of calls into the dialog procedure
std::map<int, Control> g_controls;
std::vector<std::pair<int, std::string>> g_textHistory;
std::function<void(HWND)> g_script;
HCURSOR g_cursor = nullptr;
std::vector<std::string> g_cursorHistory;

HWND NewHandle() {
  uintptr_t value = g_nextWindow;
  g_nextWindow += 16;
  return reinterpret_cast<HWND>(value);
}

Window* Find(HWND h) {
  auto it = g_windows.find(reinterpret_cast<uintptr_t>(h));
  if (it == g_windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return &it->second;
}

bool IsRunningDialog(HWND h) { return h != nullptr && h == g_dialogHandle && g_dialog.open; }

// The control of the running dialog with this id, created on first use.
Control* ControlOf(HWND dialog, int id) {
  if (!IsRunningDialog(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto it = g_controls.find(id);
  if (it != g_controls.end()) return &it->second;
  HWND h = NewHandle();
  Window w;
  w.kind = Kind::Control;
  w.id = id;
  g_windows[reinterpret_cast<uintptr_t>(h)] = w;
  Control& c = g_controls[id];
  c.handle = h;
  return &c;
}

void SetText(HWND h, Window* w, const char* text) {
  std::string t = text ? text : "";
  w->text = t;
  if (w->kind == Kind::Control) {
    g_controls[w->id].text = t;
    g_textHistory.emplace_back(w->id, t);
  } else if (h == g_dialogHandle) {
    g_dialog.caption = t;
  }
}

std::string ClassOf(LPCSTR className) {
  if (className == nullptr) return "";
  if (IS_INTRESOURCE(className)) {
    uintptr_t atom = reinterpret_cast<uintptr_t>(className);
    return atom == kDialogAtom ? kDialogClass : "#" + std::to_string(atom);
  }
  return className;
}

int TemplateId(LPCSTR templ) {
  if (templ == nullptr) return 0;
  if (IS_INTRESOURCE(templ)) return static_cast<int>(reinterpret_cast<uintptr_t>(templ));
  if (templ[0] == '#') return std::atoi(templ + 1);
  return 0;
}

}  // namespace

namespace scripted {

namespace detail {
void ResetWindows() {
  g_windows.clear();
  g_windowCalls.clear();
  g_nextWindow = 0x10000;
  g_dialog = DialogState();
  g_dialogHandle = nullptr;
  g_proc = nullptr;
  g_depth = 0;
  g_controls.clear();
  g_textHistory.clear();
  g_script = nullptr;
  g_cursor = nullptr;
  g_cursorHistory.clear();
}
}  // namespace detail

HWND DeclareWindow(const std::string& className, const std::string& title) {
  HWND h = NewHandle();
  Window w;
  w.kind = Kind::TopLevel;
  w.className = className;
  w.text = title;
  g_windows[reinterpret_cast<uintptr_t>(h)] = w;
  return h;
}

void RemoveWindow(HWND window) { g_windows.erase(reinterpret_cast<uintptr_t>(window)); }

const std::vector<WindowCall>& WindowCalls() { return g_windowCalls; }

void SetDialogScript(std::function<void(HWND dialog)> script) { g_script = std::move(script); }

INT_PTR Send(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsRunningDialog(dialog) || g_proc == nullptr) return 0;
  // Once EndDialog was called the modal loop stops taking messages; only
  // calls nested inside the procedure (from a box or copy it runs) still
  // reach it, as they would on Windows.
  if (g_dialog.ended && g_depth == 0) return 0;
  ++g_depth;
  INT_PTR result = g_proc(dialog, message, wParam, lParam);
  --g_depth;
  return result;
}

void Click(HWND dialog, int id) {
  Control* c = ControlOf(dialog, id);
  if (c == nullptr || !c->enabled) return;  // a disabled button takes no clicks
  Send(dialog, WM_COMMAND, MAKEWPARAM(id, 0), reinterpret_cast<LPARAM>(c->handle));
}

const DialogState& Dialog() { return g_dialog; }

std::string ControlText(int id) {
  auto it = g_controls.find(id);
  return it == g_controls.end() ? std::string() : it->second.text;
}

bool ControlEnabled(int id) {
  auto it = g_controls.find(id);
  return it == g_controls.end() ? true : it->second.enabled;
}

const std::vector<std::pair<int, std::string>>& ControlTextHistory() { return g_textHistory; }

const std::vector<std::string>& CursorHistory() { return g_cursorHistory; }

}  // namespace scripted

HWND FindWindowA(LPCSTR className, LPCSTR title) {
  std::string wanted = ClassOf(className);
  for (const auto& entry : g_windows) {
    const Window& w = entry.second;
    if (w.kind == Kind::Control) continue;
    if (className != nullptr && lstrcmpiA(w.className.c_str(), wanted.c_str()) != 0) continue;
    if (title != nullptr && lstrcmpiA(w.text.c_str(), title) != 0) continue;
    return reinterpret_cast<HWND>(entry.first);
  }
  return nullptr;
}

BOOL ShowWindow(HWND window, int cmd) {
  g_windowCalls.push_back(scripted::WindowCall{"ShowWindow", window, cmd});
  // The result says whether the window was visible before; all windows here are.
  return Find(window) != nullptr;
}

BOOL SetForegroundWindow(HWND window) {
  g_windowCalls.push_back(scripted::WindowCall{"SetForegroundWindow", window, 0});
  return Find(window) != nullptr;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  Window* w = Find(window);
  if (w == nullptr) return FALSE;
  SetText(window, w, text);
  return TRUE;
}

int GetWindowTextA(HWND window, LPSTR text, int max) {
  Window* w = Find(window);
  if (w == nullptr || text == nullptr || max <= 0) return 0;
  lstrcpynA(text, w->text.c_str(), max);
  return lstrlenA(text);
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  Control* c = ControlOf(dialog, id);
  if (c == nullptr) return FALSE;
  return SetWindowTextA(c->handle, text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max) {
  Control* c = ControlOf(dialog, id);
  if (c == nullptr) return 0;
  return static_cast<UINT>(GetWindowTextA(c->handle, text, max));
}

HWND GetDlgItem(HWND dialog, int id) {
  Control* c = ControlOf(dialog, id);
  return c ? c->handle : nullptr;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  Window* w = Find(window);
  if (w == nullptr) return FALSE;
  BOOL wasDisabled = !w->enabled;
  w->enabled = enable != FALSE;
  if (w->kind == Kind::Control) {
    g_controls[w->id].enabled = w->enabled;
    // A disabled window cannot keep the keyboard focus.
    if (!w->enabled && g_dialog.focus == w->id) g_dialog.focus = 0;
  }
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
  Window* w = Find(window);
  return w != nullptr && w->enabled;
}

HWND SetFocus(HWND window) {
  HWND previous = nullptr;
  if (g_dialog.focus != 0 && g_controls.count(g_dialog.focus)) previous = g_controls[g_dialog.focus].handle;
  if (window == nullptr) {
    g_dialog.focus = 0;
    return previous;
  }
  Window* w = Find(window);
  if (w == nullptr || !w->enabled) return nullptr;  // focus stays where it was
  if (w->kind == Kind::Control) g_dialog.focus = w->id;
  return previous;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR previous = g_cursor;
  g_cursor = cursor;
  std::string name = cursor == kWaitCursor ? "wait" : cursor == kArrowCursor ? "arrow" : cursor ? "other" : "none";
  g_dialog.cursor = name;
  g_cursorHistory.push_back(name);
  return previous;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
  if (name == IDC_WAIT) return kWaitCursor;
  if (name == IDC_ARROW) return kArrowCursor;
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templ, HWND, DLGPROC proc, LPARAM param) {
  // One modal dialog at a time is all the updater ever runs.
  if (proc == nullptr || g_dialog.open) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  g_controls.clear();
  g_dialog = scripted::DialogState();
  g_dialog.templateId = TemplateId(templ);
  g_dialog.open = true;
  g_dialogHandle = NewHandle();
  Window w;
  w.kind = Kind::Dialog;
  w.className = kDialogClass;
  g_windows[reinterpret_cast<uintptr_t>(g_dialogHandle)] = w;
  g_proc = proc;
  HWND dialog = g_dialogHandle;
  // The dialog manager offers the first tab stop (IDOK here) and moves the
  // focus there when the procedure returns TRUE.
  HWND first = GetDlgItem(dialog, IDOK);
  if (scripted::Send(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param) != 0 && IsWindowEnabled(first))
    g_dialog.focus = IDOK;
  if (!g_dialog.ended && g_script) g_script(dialog);
  INT_PTR result = g_dialog.ended ? g_dialog.result : -1;
  g_dialog.open = false;
  g_windows.erase(reinterpret_cast<uintptr_t>(dialog));
  for (const auto& c : g_controls) g_windows.erase(reinterpret_cast<uintptr_t>(c.second.handle));
  g_proc = nullptr;
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  if (!IsRunningDialog(dialog)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  // The dialog closes only when the running handler returns, so a later call
  // in the same handler overrides the result, as on Windows.
  g_dialog.ended = true;
  g_dialog.result = result;
  return TRUE;
}
