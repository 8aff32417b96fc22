// What the tool says: every failure, warning and result is one line
// prefixed with the tool's and the command's name, so that scripts and
// people can tell whose line it is.
//
// Text out of the tool. Inside, every message is UTF-8. On Windows a
// console is given UTF-16 through WriteConsoleW, so that names and messages
// show correctly whatever the console's code page (932 on a Japanese
// system) and without changing it; output redirected to a file or a pipe
// stays UTF-8 bytes, the same bytes the Linux build writes, for scripts.
#include "tools/wz2/messages.h"

#include <algorithm>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace wz2 {

bool Quiet = false;
const char* CommandName = nullptr;

std::string MessagePrefix() {
  return CommandName ? std::string("wz2: ") + CommandName + ": " : std::string("wz2: ");
}

int Fail(const std::string& text) {
  Print(stderr, MessagePrefix() + text + "\n");
  return EXIT_FAILED;
}

int UsageError(const std::string& text) {
  Print(stderr, MessagePrefix() + text + " (see 'wz2 help" + (CommandName ? std::string(" ") + CommandName : "") + "')\n");
  return EXIT_USAGE;
}

void Warn(const std::string& text) { Print(stderr, MessagePrefix() + "warning: " + text + "\n"); }

void Result(const std::string& text) { Print(stdout, text + "\n"); }

#ifdef _WIN32
namespace {

// Whether stream is a console, and its handle.
HANDLE ConsoleOf(FILE* stream) {
  int fd = _fileno(stream);
  if (fd < 0) return nullptr;
  HANDLE h = (HANDLE)_get_osfhandle(fd);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return nullptr;
  return h;
}

bool WriteConsoleText(HANDLE console, const std::string& utf8) {
  if (utf8.empty()) return true;
  if (utf8.size() > 0x7FFFFFFF) return false;
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide((size_t)n, L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], n) != n) return false;
  // Consoles take bounded writes; a piece never ends inside a surrogate pair.
  const size_t kPiece = 8192;
  for (size_t at = 0; at < wide.size();) {
    size_t count = std::min(kPiece, wide.size() - at);
    if (at + count < wide.size() && wide[at + count - 1] >= 0xD800 && wide[at + count - 1] < 0xDC00) count--;
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + at, (DWORD)count, &written, nullptr) || written == 0) return false;
    at += written;
  }
  return true;
}

}  // namespace
#endif

void Print(FILE* stream, const std::string& utf8) {
#ifdef _WIN32
  if (HANDLE console = ConsoleOf(stream)) {
    fflush(stream);  // anything already buffered comes first
    if (WriteConsoleText(console, utf8)) return;
  }
#endif
  fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace wz2
