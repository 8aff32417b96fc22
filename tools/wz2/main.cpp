// wz2: the publisher's tool. Packs the update archive, checks its manifest,
// stamps it into the updater executable, and lists or extracts archives.
#include <string.h>

#include <new>

#include "tools/wz2/options.h"
#include "tools/wz2/tool.h"

#ifdef _WIN32
#include <shellapi.h>
#include <windows.h>
#endif

namespace wz2 {
namespace {

const char kOverview[] =
    "usage: wz2 [--quiet] COMMAND [ARGS...]\n"
    "\n"
    "The publisher's tool for game updates: packs UPDATE.WZ2, checks its\n"
    "manifest, and builds the updater executable that carries it.\n"
    "\n"
    "commands:\n";

const char kOverviewEnd[] =
    "  help       show help for a command: wz2 help COMMAND\n"
    "\n"
    "options for every command:\n"
    "  -q, --quiet   print only results and errors (no progress, no summaries)\n"
    "  -h, --help    show help for the command\n"
    "\n"
    "Options take their value as --name=VALUE or --name VALUE (-o VALUE);\n"
    "'--' ends the options, so that later arguments may begin with '-'.\n"
    "Progress (bytes and rate) is shown on stderr when it is a terminal.\n"
    "Errors are one line on stderr and exit status 1 (2 for bad usage); a\n"
    "failed command leaves no partial output file.\n";

// ---- The commands' tables ------------------------------------------------------

const OptionRule kPackOptions[] = {
    {"-o", OPTION_VALUE, "FILE", true, "the archive to write"},
    {"--level", OPTION_VALUE, "LEVEL",
     false, "fast (greedy), default (lazy matching) or max\n(optimal parse; slowest, smallest)"},
    {"--store", OPTION_LIST, "PATTERN", false,
     "store entries whose name matches PATTERN without\ncompressing (glob: * ? [set]; ASCII case ignored);\nmay be given more than once"},
    {"--compress-directory", OPTION_FLAG, nullptr, false, "store the directory as one compressed block"},
};
const OptionRule kExtractOptions[] = {
    {"-C", OPTION_VALUE, "DIR", false, "write into DIR (an existing directory) instead of the\ncurrent one"},
};
const OptionRule kCheckOptions[] = {
    {"--setup", OPTION_VALUE, "FILE", false, "the installed game's SETUP.INI, to check disk numbers"},
    {"--inst-mode", OPTION_VALUE, "N", false, "the install mode (0-9) to check entries for"},
    {"--strict", OPTION_FLAG, nullptr, false, "treat warnings as errors"},
};
const OptionRule kBuildExeOptions[] = {
    {"--template", OPTION_VALUE, "FILE", true, "the unsigned updater executable"},
    {"--archive", OPTION_VALUE, "FILE", true, "the archive (made with wz2 pack)"},
    {"-o", OPTION_VALUE, "FILE", true, "the executable to write"},
    {"--force", OPTION_FLAG, nullptr, false, "build even when check finds errors in the archive"},
};
#define OPTIONS(table) table, sizeof(table) / sizeof(table[0])

struct Command {
  CommandGrammar grammar;
  int (*run)(const ParsedArgs& args);
};

const Command kCommands[] = {
    {{"pack", "make an archive from files and folders", OPTIONS(kPackOptions), "PATH", "PATH...", 1, ANY_NUMBER,
      "Makes an archive from the given files, and from the files directly inside\n"
      "given folders (not their subfolders). Each entry is named by its file name\n"
      "in code page 932 and keeps the file's modification time. The same inputs\n"
      "always give the same bytes.\n",
      "An entry is also stored when compression would not make it smaller.\n"
      "Refused, with no output written: a name longer than 14 bytes in code\n"
      "page 932 or without a code page 932 form of its own, a name Windows\n"
      "cannot give a file (CON, NUL, COM1..., a trailing dot or blank), two names\n"
      "the updater takes for one (case pairs of ASCII, full-width, Greek and\n"
      "Cyrillic letters and Roman numerals, and the like), a file of 4 GiB or more,\n"
      "an archive that would pass 4 GiB, the output archive among the inputs.\n"},
     CommandPack},
    {{"list", "list the entries of an archive or updater executable", nullptr, 0, "ARCHIVE|EXE", "ARCHIVE|EXE", 1, 1,
      "Lists the entries of an archive, or of the archive inside an updater\n"
      "executable (resource UPDATE/102): name, stored or compressed, file size,\n"
      "stored size, data offset in the archive, and time (UTC, ISO 8601).\n"
      "Every entry is expanded first: a damaged entry fails the listing.\n",
      ""},
     CommandList},
    {{"extract", "write entries of an archive or updater executable as files", OPTIONS(kExtractOptions),
      "ARCHIVE|EXE", "ARCHIVE|EXE [NAME...]", 1, ANY_NUMBER,
      "Writes every entry, or the named ones (looked up as the updater looks names\n"
      "up, case ignored), as files with the entry's time as modification time.\n"
      "Of entries the updater takes for one name only the first is written.\n"
      "Code page 932 names become UTF-8 file names on Linux.\n",
      "Every entry is verified before any file is written: a damaged archive\n"
      "writes nothing.\n"},
     CommandExtract},
    {{"check", "find mistakes in the manifest UPDATE.INI inside an archive", OPTIONS(kCheckOptions), "ARCHIVE|EXE",
      "ARCHIVE|EXE", 1, 1,
      "Reads the manifest UPDATE.INI inside the archive with the updater's own\n"
      "parser and reports, one line each with the key, what the updater would\n"
      "only find at run time or would silently do differently:\n"
      "  errors:   no UPDATE.INI; a required key of [SETUP] missing; no UpdateFile00\n"
      "            or CopyFile00; an update entry naming no archive entry; an entry\n"
      "            the updater refuses (a field over 259 bytes, a bad disk); a path\n"
      "            with '..'; a copy entry's disk without DiskCheckFile in the\n"
      "            given SETUP.INI\n"
      "  warnings: list gaps and keys numbered 16 or more (never read); values\n"
      "            over their capacity (cut); an operation letter followed by a\n"
      "            blank (the entry becomes path-only); a drive or a leading '\\'\n"
      "            in a path; archive entries no entry writes; no entry for the\n"
      "            given install mode\n",
      "Every entry is expanded first: a damaged archive fails the check with a\n"
      "one-line error.\n"
      "\n"
      "Exit status: 1 when there are errors (or warnings with --strict), else 0.\n"},
     CommandCheck},
    {{"build-exe", "put an archive into a copy of the updater executable", OPTIONS(kBuildExeOptions), "", "", 0, 0,
      "Copies the updater executable with the archive as its resource\n"
      "UPDATE/102 (language 1041), replacing one that is there. Works on 32-bit\n"
      "and 64-bit executables; the resource section is rebuilt, or added as a new\n"
      "last section where it cannot grow, and the headers and checksum are\n"
      "updated. A signed template is refused: sign the built executable instead.\n",
      "The archive must pass check without errors (--force builds anyway), and\n"
      "the written executable is read back and must carry the archive unchanged\n"
      "before it replaces the output. The output may not be one of the inputs.\n"},
     CommandBuildExe},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.grammar.name) return &c;
  return nullptr;
}

void PrintOverview() {
  std::string text = kOverview;
  for (const Command& c : kCommands) {
    std::string name = std::string("  ") + c.grammar.name;
    name.append(name.size() < 13 ? 13 - name.size() : 1, ' ');
    text += name + c.grammar.summary + "\n";
  }
  fputs((text + kOverviewEnd).c_str(), stdout);
}

}  // namespace

bool PrintHelp(const std::string& command) {
  if (command.empty()) {
    PrintOverview();
    return true;
  }
  const Command* c = FindCommand(command);
  if (!c) return false;
  PrintCommandHelp(c->grammar);
  return true;
}

int Main(std::vector<std::string> args) {
  // Options before the command are the ones every command takes.
  size_t i = 0;
  bool wantHelp = false;
  for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; i++) {
    if (args[i] == "-q" || args[i] == "--quiet") {
      Quiet = true;
    } else if (args[i] == "-h" || args[i] == "--help") {
      wantHelp = true;
    } else {
      return UsageError("unknown option " + args[i]);
    }
  }
  if (i == args.size()) {
    PrintHelp("");
    return wantHelp ? EXIT_DONE : EXIT_USAGE;
  }
  std::string command = args[i];
  std::vector<std::string> rest(args.begin() + (std::ptrdiff_t)i + 1, args.end());
  if (command == "help") {
    std::string topic = rest.empty() ? "" : rest[0];
    if (rest.size() > 1) return UsageError("help takes one COMMAND");
    if (PrintHelp(topic)) return EXIT_DONE;
    return UsageError("no help for '" + topic + "'");
  }
  const Command* c = FindCommand(command);
  if (!c) return UsageError("unknown command '" + command + "'");
  if (wantHelp || WantsHelp(rest)) {
    PrintCommandHelp(c->grammar);
    return EXIT_DONE;
  }
  static std::string name;
  name = command;
  CommandName = name.c_str();
  ParsedArgs parsed;
  int status = ParseArgs(c->grammar, rest, &parsed);
  if (status != EXIT_DONE) return status;
  InstallInterruptCleanup();
  // Memory running out is one more failure: the command's pending files are
  // removed as the stack unwinds, and it is reported on one line.
  try {
    return c->run(parsed);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}

}  // namespace wz2

#ifdef _WIN32
// The tool prints UTF-8; the console shows it as such while the tool runs
// and gets its own code page back afterwards.
static UINT g_consoleCodePage = 0;
static void RestoreConsole() {
  if (g_consoleCodePage) SetConsoleOutputCP(g_consoleCodePage);
}

// The arguments as UTF-16 from the system, so that file names outside the
// ANSI code page survive; the tool works in UTF-8 inside.
int main() {
  g_consoleCodePage = GetConsoleOutputCP();
  if (g_consoleCodePage && SetConsoleOutputCP(CP_UTF8)) atexit(RestoreConsole);
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
  return wz2::Main(args);
}
#else
int main(int argc, char** argv) { return wz2::Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
