// A stand-in for the running game: one top-level window of a given class and
// title, `testgame.exe CLASS TITLE` (the title is the rest of the line).
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  char className[256];
  int n = 0;
  const char* rest = commandLine;
  while (*rest == ' ') ++rest;
  while (*rest && *rest != ' ' && n < (int)sizeof className - 1) className[n++] = *rest++;
  className[n] = 0;
  while (*rest == ' ') ++rest;

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = className;
  if (!RegisterClassA(&windowClass)) return 2;
  HWND window = CreateWindowA(className, rest, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 320, 200, nullptr, nullptr,
                              instance, nullptr);
  if (!window) return 3;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
