// Runs a console program on a console of its own whose output code page is
// 932, as on a Japanese Windows, then prints what the console shows, as
// UTF-8, one trimmed line per row:
//
//   e2e_console PROGRAM [ARG...]
//
// Exit status: the program's, or 100 when the console could not be had.
// The code page the console has afterwards is printed last ("code page N"),
// so that a program that changed it and left it changed is seen.
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      slashes++;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    if (c == L'"') out += L'\\';
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? (size_t)n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) {
    fprintf(stderr, "usage: e2e_console PROGRAM [ARG...]\n");
    return 100;
  }
  std::wstring command;
  for (int i = 1; i < argc; i++) command += (i > 1 ? L" " : L"") + Quote(argv[i]);

  FreeConsole();
  if (!AllocConsole()) {
    fprintf(stderr, "e2e_console: no console (%lu)\n", GetLastError());
    return 100;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                            CONSOLE_TEXTMODE_BUFFER, nullptr);
  // Wide enough that no line of the program's wraps.
  COORD size = {200, 300};
  if (screen == INVALID_HANDLE_VALUE || !SetConsoleScreenBufferSize(screen, size) || !SetConsoleOutputCP(932)) {
    fprintf(stderr, "e2e_console: no screen buffer or code page 932 (%lu)\n", GetLastError());
    return 100;
  }
  STARTUPINFOW start = {};
  start.cb = sizeof(start);
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = screen;
  start.hStdError = screen;
  PROCESS_INFORMATION process = {};
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(0);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
    fprintf(stderr, "e2e_console: cannot start the program (%lu)\n", GetLastError());
    return 100;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 100;
  GetExitCodeProcess(process.hProcess, &status);

  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info)) return 100;
  std::string shown;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; row++) {
    std::wstring cells((size_t)info.dwSize.X, L' ');
    DWORD read = 0;
    COORD at = {0, row};
    ReadConsoleOutputCharacterW(screen, &cells[0], (DWORD)cells.size(), at, &read);
    cells.resize(read);
    while (!cells.empty() && cells.back() == L' ') cells.pop_back();
    shown += Utf8(cells) + "\n";
  }
  printf("%scode page %u\n", shown.c_str(), GetConsoleOutputCP());
  return (int)status;
}
