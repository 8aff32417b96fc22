// Shared pieces of the publisher's tool: messages, files written atomically,
// file times, progress, and the archive read exactly as the updater reads it.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the SDK macros
#endif
#endif

#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/expand.h"
#include "pack/names.h"
#include "tools/wz2/mapped_file.h"

namespace wz2 {

namespace fs = std::filesystem;

// Exit statuses: 0 done, 1 failed (or check found errors), 2 bad usage.
#define EXIT_DONE 0
#define EXIT_FAILED 1
#define EXIT_USAGE 2

// Set by the command line: no progress, no summaries.
extern bool Quiet;
extern const char* CommandName;

// "wz2: <command>: <text>" on stderr, one line. Returns EXIT_FAILED or
// EXIT_USAGE so callers can `return Fail(...)`.
int Fail(const std::string& text);
int UsageError(const std::string& text);
void Warn(const std::string& text);
// Prints a line on stdout (a result).
void Result(const std::string& text);
// Writes UTF-8 text to stdout or stderr: on a Windows console as UTF-16,
// elsewhere (a terminal, a file, a pipe) as the UTF-8 bytes.
void Print(FILE* stream, const std::string& utf8);

// Paths given on the command line are UTF-8 on every host.
fs::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const fs::path& path);

// This process's id: part of the names of temporary files and folders, so
// that two runs side by side never pick the same one.
unsigned long ProcessId();

// fopen for a path of any host's characters (_wfopen on Windows).
FILE* OpenPath(const fs::path& path, const char* mode);
// The system's text for an errno value.
std::string SystemError(int code);

// Opens a regular file for reading, with its size at that moment; refuses
// anything else (a folder, a device, a FIFO, which is never waited on).
FILE* OpenRegularFile(const fs::path& path, uint64_t* size, std::string* error);
// Reads a whole regular file, exactly the size it had when opened; false
// with a reason, also when it changed while it was read.
bool ReadFile(const fs::path& path, std::vector<uint8_t>* out, std::string* error);

// Whether an output may go to target: nothing there, or a regular file. A
// device, FIFO, socket, folder or link (Windows: reparse point) is never
// replaced; it is looked at without following links.
bool ReplaceableTarget(const fs::path& target, std::string* error);
// -o as pack and build-exe take it, checked before any work: "-" is refused
// (an output is renamed into place and read back, which standard output
// cannot be), and so is a target ReplaceableTarget refuses. EXIT_DONE, or
// the status to return.
int CheckOutputOption(const std::string& output);

// Removes pending temporary files when the tool is interrupted (SIGINT,
// SIGTERM, SIGHUP on POSIX hosts), then ends as the signal would.
void InstallInterruptCleanup();

// A file written next to its final place and renamed over it at the end, so
// that a failure never leaves a partial or damaged file behind.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();  // removes the temporary file unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  PendingFile(PendingFile&& other) noexcept;
  bool Open(const fs::path& target, std::string* error);
  bool Write(const void* data, size_t size, std::string* error);
  // Appends size bytes that stand at offset in the open file source and, the
  // same bytes, at mapped in memory. On Linux they are written from bounded,
  // pre-faulted windows of source; elsewhere, or where that cannot be had,
  // from the mapping the caller holds.
  bool CopyRange(int source, uint64_t offset, const void* mapped, size_t size, std::string* error);
  bool WriteAt(uint64_t offset, const void* data, size_t size, std::string* error);
  // Cuts the file back to its first size bytes; writing goes on from there.
  bool Truncate(uint64_t size, std::string* error);
  uint64_t Size() const { return size_; }
  // Whether Close forces the bytes to disk before the rename (default yes).
  // An archive is the artifact a release ships, so it is synced; extracted
  // files can always be made again from their archive, and like cp they are
  // left to the kernel's write-back, which more than triples their speed.
  void SetDurable(bool durable) { durable_ = durable; }
  // Flushes and closes the temporary file (it stays pending); Commit does
  // this itself when it was not done.
  bool Close(std::string* error);
  // Stamps the time (when given) and renames the file into place.
  bool Commit(const FILETIME* modified, std::string* error);
  void Discard();
  const fs::path& Target() const { return target_; }
  // The temporary file's path: what was written is read back from it after
  // Close and before Commit.
  const fs::path& TempPath() const { return temp_; }

 private:
  fs::path target_, temp_;
  FILE* file_ = nullptr;
  uint64_t size_ = 0;
  bool durable_ = true;
  struct TempNode* node_ = nullptr;  // this file's place in the interrupt list
};

// FILETIME (100 ns since 1601, UTC) as a 64-bit number and back.
uint64_t FileTimeValue(const FILETIME& t);
FILETIME FileTimeFrom(uint64_t value);
// "YYYY-MM-DDTHH:MM:SSZ", with ".fffffff" when the time has a fraction.
std::string FormatUtc(const FILETIME& t);
bool GetModificationTime(const fs::path& path, FILETIME* out, std::string* error);
bool SetModificationTime(const fs::path& path, const FILETIME& t, std::string* error);

// Progress on a terminal: bytes done of total and the rate, redrawn in
// place at most a few times a second. Silent with --quiet or when stderr is
// not a terminal.
class Progress {
 public:
  Progress(const std::string& label, uint64_t total);
  ~Progress();
  // Names the item now being worked on (shown until the next one), so that
  // one long file does not leave the line standing still.
  void Begin(const std::string& item);
  void Advance(uint64_t bytes);
  void Finish();

 private:
  void Draw(bool force);
  std::string label_, item_;
  size_t lastLength_ = 0;
  uint64_t total_, done_ = 0;
  double start_ = 0, lastDraw_ = 0;
  bool active_ = false, drawn_ = false;
};

// Glob on an entry name: '*', '?', '[set]' / '[!set]'; ASCII letters match
// either case, as the updater compares names.
bool GlobMatch(const std::string& pattern, const std::string& name);

// ---- Text shown to a person ------------------------------------------------
// utf8 with every control character escaped (C0 and DEL as \xNN, C1 as
// \uNNNN) and a backslash doubled: a listing cannot be rewritten on the
// terminal by what it lists, and an escape is never a name's own text.
std::string ShownText(const std::string& utf8);
// An entry name (code page 932 bytes) as ShownText shows it decoded; bytes
// that are no code page 932 text as \xNN each (printable ASCII as itself).
std::string ShownName(const std::string& cp932);
// The terminal columns shown text takes: code page 932's widths (one for
// ASCII and half-width katakana, two for the rest).
size_t ShownColumns(const std::string& shown);
// Bytes as upper-case hex digits, two a byte: a name exactly, for scripts.
std::string HexBytes(const std::string& bytes);

// ---- The archive, read as the updater reads it ---------------------------
struct EntryView {
  ArchiveEntry record;
  std::string name;      // code page 932 bytes, up to the NUL
  std::string display;   // ShownName(name), for messages and listings
  uint64_t dataOffset;   // computed as the updater computes it
  bool compressed;
};

struct ArchiveView {
  MappedFile file;                // the file, mapped read-only
  const uint8_t* data = nullptr;  // the archive bytes, in the mapping (an executable's resource in place)
  size_t size = 0;
  uint64_t base = 0;              // where data stands in the file: 0, or the resource's offset
  bool fromExecutable = false;
  // An executable's check record "UPDATE"/103 and what it says of the
  // archive (always None for a .WZ2).
  enum class Check { None, Matches, Damaged } check = Check::None;
  uint32_t crc = 0;  // the archive's CRC-32, when the executable carries a record
  ArchiveHeader header{};
  std::vector<EntryView> entries;
  names::EntryNameIndex index;  // the first entry of each name
};

// The CRC-32 of the archive check record, continued from crc (0 at first).
uint32_t Crc32Continue(uint32_t crc, const uint8_t* data, size_t size);
// What list and check say of an executable whose record does not match.
std::string DamagedExecutableText(const std::string& where);

// Reads ARCHIVE or EXE (by its MZ signature); refuses anything the updater
// would not open, with a one-line reason. An executable's check record is
// verified and the verdict kept in view->check.
bool LoadArchive(const fs::path& path, ArchiveView* view, std::string* error);
// The index of the first entry whose name is the same entry name as
// cp932Name (SameEntryName, as the updater looks names up), or -1.
int FindEntry(const ArchiveView& view, const std::string& cp932Name);
// The entry's data as it lies in the archive (a stored entry's fileSize
// bytes, a compressed one's block), living as long as the view. False when
// it lies outside the archive or, compressed, claims more bytes than its
// block can hold.
bool EntryData(const ArchiveView& view, const EntryView& entry, const uint8_t** data, std::string* error);
// The entry's bytes without holding them: handed to take (when not null) a
// stretch at a time, a compressed entry through a window of at most 1 MiB,
// a stored one in place. Checks as EntryData does, and that the block
// expands to the entry's size; the stretches are the entry only when it
// returns true.
bool EntryThrough(const ArchiveView& view, const EntryView& entry, ExpandTake take, void* context, std::string* error);
// A name a file may carry on every host: not empty, no path separators or
// characters Windows forbids, not "." or "..".
bool SafeFileName(const std::string& utf8, std::string* why);

// What check finds in an archive: its manifest read as the updater reads it,
// against the archive's entries and, when given, the game's SETUP.INI.
struct Finding {
  bool error;  // else a warning
  std::string key;
  std::string text;
};
// The installed game's SETUP.INI given to check: its path and its bytes.
struct SetupFile {
  fs::path path;
  std::string bytes;
};
// Loads SETUP.INI with the updater's own loader. False when the updater
// would refuse it, with the message and caption the player would see (UTF-8),
// or with *error set when the file cannot be given to the loader at all.
bool LoadSetupAsTheUpdater(const SetupFile& file, std::string* caption, std::string* message, std::string* error);
// False with a one-line reason when an entry cannot be read at all.
// instMode is a digit, or -1 for every mode.
bool ExamineArchive(const ArchiveView& view, const SetupFile* setup, int instMode, std::vector<Finding>* findings,
                    std::string* error);

// ---- UPDATE.INI as text ------------------------------------------------------
// Whether the bytes start with the UTF-8 byte order mark.
bool HasUtf8Bom(const std::vector<uint8_t>& bytes);
// A manifest written in UTF-8 (any line ends, with or without the byte
// order mark) as code page 932 with CR LF. False, naming the line, the
// column and the character, when one has no code page 932 form of its own,
// or the bytes are not UTF-8.
bool ManifestToCp932(const std::vector<uint8_t>& utf8, std::vector<uint8_t>* cp932, std::string* error);

// ---- Commands ----------------------------------------------------------------
// Each takes its arguments parsed by its table in main.cpp (options.h).
class ParsedArgs;
int CommandList(const ParsedArgs& args);
int CommandExtract(const ParsedArgs& args);
int CommandPack(const ParsedArgs& args);
int CommandCheck(const ParsedArgs& args);
int CommandBuildExe(const ParsedArgs& args);
int CommandCheckValue(const ParsedArgs& args);
int CommandInit(const ParsedArgs& args);
// Help for one command ("" for the overview); false when unknown.
bool PrintHelp(const std::string& command);

}  // namespace wz2
