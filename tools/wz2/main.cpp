// wz2: the publisher's tool. Packs the update archive, checks its manifest,
// stamps it into the updater executable, and lists or extracts archives.
// The program takes its arguments from the system and hands them to the
// command line (command_line.cpp), with the interrupt clean-up installed.
#include <string.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/wz2/commands.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/pending_file.h"

#ifdef _WIN32
#include <shellapi.h>
#include <windows.h>
#endif

// Memory that runs out (a huge input, a small machine) ends the command
// with one line, as every other failure does; pending output files are
// removed as the stack unwinds.
static int MainCatchingExhaustion(const std::vector<std::string>& args) {
  try {
    return wz2::RunCommandLine(args, wz2::InstallInterruptCleanup);
  } catch (const std::bad_alloc&) {
    return wz2::Fail("out of memory");
  } catch (const std::length_error&) {
    return wz2::Fail("out of memory");
  }
}

#ifdef _WIN32
// The arguments as UTF-16 from the system, so that file names outside the
// ANSI code page survive; the tool works in UTF-8 inside.
int main() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; i++) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? (size_t)n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &s[0], n, nullptr, nullptr);
    s.resize(strlen(s.c_str()));
    args.push_back(s);
  }
  if (wide) LocalFree(wide);
  return MainCatchingExhaustion(args);
}
#else
int main(int argc, char** argv) { return MainCatchingExhaustion(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
