// The tool's command line: the commands' tables (one grammar parses each
// command's arguments and writes its help), the overview, and the choice
// of command, with the options every command takes.
#include <new>
#include <stdexcept>

#include "tools/wz2/commands.h"
#include "tools/wz2/files.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/options.h"
#include "tools/wz2/templates.h"

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
    "  --version     show the tool's version and the updater templates it found\n"
    "\n"
    "Options take their value as --name=VALUE or --name VALUE (-o VALUE);\n"
    "'--' ends the options, so that later arguments may begin with '-'.\n"
    "Progress (bytes and rate) is shown on stderr when it is a terminal.\n"
    "Text is UTF-8, except that wz2.exe writes to a Windows console in its\n"
    "own characters (UTF-16), so any console code page shows it; output\n"
    "redirected to a file or a pipe is UTF-8 on every system, with CR LF\n"
    "line ends from wz2.exe and LF from the Linux wz2.\n"
    "Errors are one line on stderr and exit status 1 (2 for bad usage); a\n"
    "failed command leaves no partial output file.\n";

// ---- The commands' tables ------------------------------------------------------

const OptionRule kPackOptions[] = {
    {"-o", OPTION_VALUE, "FILE", true,
     "the archive to write: a new or a regular file (never\na device, FIFO, link or '-' for standard output)"},
    {"--level", OPTION_VALUE, "LEVEL",
     false, "fast (greedy), default (lazy matching) or max\n(optimal parse; slowest, smallest)"},
    {"--store", OPTION_LIST, "PATTERN", false,
     "store entries whose name matches PATTERN without\ncompressing (glob: * ? [set]; ASCII case ignored);\nmay be given more than once"},
    {"--compress-directory", OPTION_FLAG, nullptr, false, "store the directory as one compressed block"},
    {"-j", OPTION_VALUE, "N", false,
     "compress with up to N threads, 1 to 64 (default: the\nnumber of cores; fewer when their work would pass\n128 MiB); the archive is the same bytes for every N"},
    {"--manifest-utf8", OPTION_FLAG, nullptr, false,
     "UPDATE.INI is UTF-8 text: store it in code page 932\nwith CR LF (done too for a file that starts with\nthe UTF-8 byte order mark)"},
};
const OptionRule kInitOptions[] = {
    {"-o", OPTION_VALUE, "FILE", true, "the UPDATE.INI to write; it must not exist yet"},
    {"--setup", OPTION_VALUE, "FILE", false,
     "the installed game's SETUP.INI: CompanyName, GameTitle,\nGameClass and GameDir are taken from it"},
};
const OptionRule kExtractOptions[] = {
    {"-C", OPTION_VALUE, "DIR", false, "write into DIR (an existing directory) instead of the\ncurrent one"},
};
const OptionRule kCheckOptions[] = {
    {"--setup", OPTION_VALUE, "FILE", false,
     "the installed game's SETUP.INI: loaded as the updater\nloads it, and its disk check files compared"},
    {"--inst-mode", OPTION_VALUE, "N", false, "the install mode (0-9) to check entries for"},
    {"--strict", OPTION_FLAG, nullptr, false, "treat warnings as errors"},
    {"--json", OPTION_FLAG, nullptr, false,
     "print one JSON object instead of lines: source, errors,\nwarnings, strict, findings [{severity, key, text}]"},
};
const OptionRule kListOptions[] = {
    {"--json", OPTION_FLAG, nullptr, false,
     "print one JSON object instead of the table: source,\nexecutable, entries [{name, bytes, method, size,\nstored, offset, time}], and for an executable its icons\nand versionInfo {fileVersion, productVersion, table,\nstrings {KEY: value}, records [{key, value}]}; bytes\nis the name in hex; records has every string, strings\nthe first of each key"},
};
const OptionRule kBuildExeOptions[] = {
    {"--template", OPTION_VALUE, "FILE", false,
     "the unsigned updater executable (default: the installed\ntemplate of --arch)"},
    {"--arch", OPTION_VALUE, "ARCH", false,
     "i686 (default: the updater players run) or x86_64;\npicks the installed template"},
    {"--archive", OPTION_VALUE, "FILE", true, "the archive (made with wz2 pack)"},
    {"-o", OPTION_VALUE, "FILE", true,
     "the executable to write: a new or a regular file (never\na device, FIFO, link or '-' for standard output)"},
    {"--icon", OPTION_VALUE, "FILE", false,
     "the game's icon (.ico, every image in it), replacing\nthe template's icons"},
    {"--version-info", OPTION_LIST, "KEY=VALUE", false,
     "a version resource string (Japanese, code page 932);\nmay be given more than once; FileVersion (1 to 4\nnumbers, 1.10 or 1.10.0.0) is required, ProductVersion\ndefaults to it"},
    {"--force", OPTION_FLAG, nullptr, false, "build even when check finds errors in the archive"},
};
const OptionRule kCheckValueOptions[] = {
    {"-o", OPTION_VALUE, "FILE", true, "the record to write (16 bytes)"},
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
      "an archive that would pass 4 GiB, the output archive among the inputs.\n"
      "UPDATE.INI is stored byte for byte, unless --manifest-utf8 is given or it\n"
      "starts with the UTF-8 byte order mark: then it is stored in code page 932\n"
      "with CR LF, and a character without a code page 932 form is refused with\n"
      "its line and column.\n"},
     CommandPack},
    {{"list", "list the entries of an archive or updater executable", OPTIONS(kListOptions), "ARCHIVE|EXE", "ARCHIVE|EXE", 1, 1,
      "Lists the entries of an archive, or of the archive inside an updater\n"
      "executable (resource UPDATE/102): name, stored or compressed, file size,\n"
      "stored size, data offset in the archive, and time (UTC, ISO 8601).\n"
      "Every entry is expanded first: a damaged entry fails the listing.\n"
      "For an executable, the archive is compared with the CRC-32 it records\n"
      "(resource UPDATE/103, as build-exe writes it; a mismatch fails the\n"
      "listing), and that check, the number of icon images and the version\n"
      "information (fixed versions and strings) follow the entries when it has\n"
      "them.\n",
      "Names and version strings are shown with control characters as \\xNN (C1\n"
      "as \\uNNNN), bytes that are no code page 932 text as \\xNN and a\n"
      "backslash as \\\\, on a terminal and in redirected output alike.\n"
      "An archive of more than 65,536 entries is refused.\n"},
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
      "parser, and SETUP.INI (--setup) with the updater's own loader, and\n"
      "reports, one line each with the key, what the updater would only find\n"
      "on a player's machine. Whatever makes the updater show an error box or\n"
      "stop is an error, quoting the updater's message; whatever it skips\n"
      "without a word, or what stops it only on a machine that lacks a folder,\n"
      "is a warning.\n",
      "What check reports     what the updater does\n"
      "error    no UPDATE.INI in the archive\n"
      "                       \"UPDATE.INI not found at UPDATE.WZ2\", stops\n"
      "error    CompanyName, GameTitle, GameClass or GameDir of [SETUP] missing\n"
      "         or empty      \"SETUP : KEY キーが存在しません\" (TORVANEK), stops\n"
      "error    SETUP.INI refused by the updater's loader (a required key, a\n"
      "         list without its first field, InstallSelects over 3, Shortcuts\n"
      "         over 10, ExecApp of one field)\n"
      "                       its message (TORVANEK), stops\n"
      "error    neither UpdateFile00 nor CopyFile00 (no files listed)\n"
      "                       \"No 'UpdateFileXX' and 'CopyFileXX'\", stops\n"
      "error    no entry for the --inst-mode given\n"
      "                       \"アップデートする必要のあるファイルはありません\"\n"
      "error    a field over 259 bytes; a copy disk that is not a digit\n"
      "                       \"ファイルの書き込みに失敗しました\" before any write\n"
      "error    an update entry naming no archive entry, no path, or a path\n"
      "         ending in '\\' (an operation letter and a blank make the whole\n"
      "         field the path)  \"ファイルの書き込みに失敗しました\", stops\n"
      "error    a copy entry without a disk before any entry with one\n"
      "                       \"SETUP.INI : \"PATH\" のコピーに失敗しました\", stops\n"
      "error    a copy disk N without DiskCheckFileN in SETUP.INI\n"
      "                       takes any CD-ROM drive with a disk for disk N\n"
      "error    a path with '..'  writes outside the game's folder\n"
      "warning  a folder below the target folder other than DataFolder's last\n"
      "         level (SE of SE\\A.PAK; DATA of DataFolder=DATA\\SE)\n"
      "                       only DataFolder's last level is created; a missing\n"
      "                       folder stops the run with \"ファイルの書き込みに失敗\n"
      "                       しました\" (not for o entries or OverwriteOnly, which\n"
      "                       skip a missing file)\n"
      "warning  a gap in a list, keys numbered 16 or more\n"
      "                       never read\n"
      "warning  a value over its capacity (1,023 bytes for UpdateFileNN and\n"
      "         UpdateMessage, 259 for the others)\n"
      "                       cut without a word\n"
      "warning  a drive or disk prefix ('X:') in an update entry's field\n"
      "                       dropped without a word\n"
      "warning  a leading '\\' or a drive in a path\n"
      "warning  a copy entry whose install mode is not a digit\n"
      "                       skipped on every installation\n"
      "warning  RequiredDiskSpace or OverwriteOnly that is not a number;\n"
      "         a negative or too large RequiredDiskSpace\n"
      "                       no test / read as 0; asks for 4 GiB / 2 GiB\n"
      "warning  an archive entry no update entry writes\n"
      "                       never read\n"
      "warning  a manifest over 64 KiB, or a line over 64 KiB\n"
      "                       read whole for every key; check reads such a\n"
      "                       line only that far\n"
      "\n"
      "Every entry is expanded first: a damaged archive fails the check with a\n"
      "one-line error. An executable whose archive does not match the CRC-32 it\n"
      "records (resource UPDATE/103) is an error: its updater refuses to start.\n"
      "\n"
      "Exit status: 1 when there are errors (or warnings with --strict), else 0.\n"},
     CommandCheck},
    {{"init", "write a commented UPDATE.INI to start from", OPTIONS(kInitOptions), "", "", 0, 0,
      "Writes a new UPDATE.INI in the updater's form (code page 932, CR LF):\n"
      "[SETUP] with CompanyName, GameTitle, GameClass and GameDir (from --setup\n"
      "where given, else empty), and every optional key and every form of\n"
      "update and copy entry as a commented example. It lists no files until\n"
      "you add UpdateFile00 (or CopyFile00): check refuses it until then.\n",
      ""},
     CommandInit},
    {{"build-exe", "put an archive into a copy of the updater executable", OPTIONS(kBuildExeOptions), "", "", 0, 0,
      "Copies the updater executable with the archive as its resource\n"
      "UPDATE/102 (language 1041), replacing one that is there. Works on 32-bit\n"
      "and 64-bit executables; the resource section is rebuilt, or added as a new\n"
      "last section where it cannot grow, and the headers and checksum are\n"
      "updated. A signed template is refused: sign the built executable instead.\n"
      "Without --template the installed template of --arch is used, found from\n"
      "wz2's own folder (../share/wz2/updater-ARCH.exe); 'wz2 --version' shows\n"
      "which.\n",
      "The archive's CRC-32 goes beside it as resource UPDATE/103: the updater\n"
      "compares the two at start-up and refuses a damaged download before it\n"
      "writes anything. The archive must pass check without errors (--force\n"
      "builds anyway), and the written executable is read back and must carry\n"
      "the archive and its record unchanged before it replaces the output. The\n"
      "output may not be one of the inputs.\n"
      "\n"
      "--version-info keys: Comments, CompanyName, FileDescription, FileVersion,\n"
      "InternalName, LegalCopyright, LegalTrademarks, OriginalFilename,\n"
      "PrivateBuild, ProductName, ProductVersion, SpecialBuild. Values are\n"
      "written as given, in language 1041 with code page 932 (string table\n"
      "041103A4); a value without a code page 932 form is refused. Version\n"
      "numbers are 1 to 4 numbers of 0 to 65535 (1.10.0.0).\n"},
     CommandBuildExe},
    {{"check-value", "write an archive's check record for an updater linked by hand", OPTIONS(kCheckValueOptions),
      "ARCHIVE", "ARCHIVE", 1, 1,
      "Writes the 16-byte record that build-exe puts beside the archive as\n"
      "resource UPDATE/103 (language 1041): \"WZ2C\", method 1 (CRC-32), the\n"
      "archive's length and its CRC-32, little-endian. For builds that link the\n"
      "updater with its archive themselves (a resource script with\n"
      "'102 UPDATE \"UPDATE.WZ2\"' and '103 UPDATE \"UPDATE.CHK\"').\n",
      "The archive must open as the updater opens it.\n"},
     CommandCheckValue},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.grammar.name) return &c;
  return nullptr;
}

void PrintVersion() {
  std::string text = std::string("wz2 ") + WZ2_VERSION + "\n";
  for (const std::string& arch : ArchNames()) {
    fs::path templ;
    std::string error, version;
    if (FindTemplate(arch, &templ, &error)) {
      version = TemplateVersion(templ);
      text += arch + " template: " + PathToUtf8(templ) + " (" + (version.empty() ? "version unknown" : version) + ")\n";
    } else {
      text += arch + " template: not found\n";
    }
  }
  Print(stdout, text);
}

void PrintOverview() {
  std::string text = kOverview;
  for (const Command& c : kCommands) {
    std::string name = std::string("  ") + c.grammar.name;
    name.append(name.size() < 13 ? 13 - name.size() : 1, ' ');
    text += name + c.grammar.summary + "\n";
  }
  Print(stdout, text + kOverviewEnd);
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

int RunCommandLine(const std::vector<std::string>& args, void (*beforeRun)()) {
  // A run starts as a process starts, whatever a run before it in this
  // process set.
  Quiet = false;
  CommandName = nullptr;
  // Options before the command are the ones every command takes.
  size_t i = 0;
  bool wantHelp = false;
  for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; i++) {
    if (args[i] == "-q" || args[i] == "--quiet") {
      Quiet = true;
    } else if (args[i] == "-h" || args[i] == "--help") {
      wantHelp = true;
    } else if (args[i] == "--version") {
      PrintVersion();
      return EXIT_DONE;
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
  if (beforeRun) beforeRun();
  // Memory running out is one more failure: the command's pending files are
  // removed as the stack unwinds, and it is reported on one line.
  // A file-system call that throws (every one should take an error_code)
  // is one line naming its path all the same, after the same unwinding.
  try {
    return c->run(parsed);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const fs::filesystem_error& e) {
    return Fail(PathToUtf8(e.path1()) + ": " + e.code().message());
  }
}

}  // namespace wz2
