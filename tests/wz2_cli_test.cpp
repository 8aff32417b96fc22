// The publisher's tool as its users run it: the wz2 program built next to
// this test, started with arguments, judged by its exit status, its stdout
// and stderr, and the files it leaves (or must not leave) behind.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/pe_fixture.h"
#include "cli/run_tool.h"
#include "support/run_program.h"
#include "support/archive_builder.h"
#include "archive/block_format.h"
#include "archive/entry_name.h"
#include "archive/payload_check.h"
#include "pack/archive_writer.h"
#include "pack/names.h"
#include "pack/pe_resource.h"
#include "pack/version_info.h"

namespace {

using wz2test::RunProgram;
using wz2test::RunResult;
using wz2test::RunTool;
using wz2test::Slurp;

namespace fs = std::filesystem;

fs::path Wz2Program() {
  char self[4096] = {0};
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return "wz2";
  return fs::path(std::string(self, (size_t)n)).parent_path() / "wz2";
}

void Spit(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary);
  f.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string Random(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1664525u + 1013904223u;
    s[i] = (char)(seed >> 24);
  }
  return s;
}

std::string Text(size_t lines) {
  std::ostringstream o;
  for (size_t i = 0; i < lines; i++) o << "line " << i << ": the quick brown fox jumps over the lazy dog\r\n";
  return o.str();
}

// Modification time in 100-ns units since 1970 (what the archive keeps).
int64_t MtimeTicks(const fs::path& p) {
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return -1;
  return (int64_t)st.st_mtim.tv_sec * 10000000 + st.st_mtim.tv_nsec / 100;
}

void SetMtime(const fs::path& p, int64_t seconds, long nanoseconds) {
  struct timespec t[2];
  t[0].tv_sec = (time_t)seconds;
  t[0].tv_nsec = nanoseconds;
  t[1] = t[0];
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), t, 0), 0);
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Blocks until `dir` holds names other than `before` (true) or process
// `pid` ends first (false): the child's own event, not a guess at how long
// it needs. The watch is set before the first look, so no name is missed.
bool WaitForNewName(const fs::path& dir, const std::vector<std::string>& before, pid_t pid) {
  int watch = inotify_init1(IN_CLOEXEC);
  int child = (int)syscall(SYS_pidfd_open, pid, 0);
  bool appeared = false;
  if (watch >= 0 && child >= 0 && inotify_add_watch(watch, dir.c_str(), IN_CREATE | IN_MOVED_TO) >= 0) {
    appeared = Names(dir) != before;
    while (!appeared) {
      struct pollfd fds[2] = {{watch, POLLIN, 0}, {child, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[0].revents & POLLIN) appeared = true;
      else if (fds[1].revents) break;
    }
  }
  if (watch >= 0) close(watch);
  if (child >= 0) close(child);
  return appeared;
}

struct Row {
  std::string name, method;
  uint64_t size, stored, offset;
  std::string time;
};

// Rows of `wz2 list`: the last five columns are fixed; the name is the rest.
std::vector<Row> Rows(const std::string& listing) {
  std::vector<Row> rows;
  std::istringstream in(listing);
  std::string line;
  std::getline(in, line);  // the column titles
  while (std::getline(in, line)) {
    std::vector<std::string> words;
    std::istringstream w(line);
    std::string word;
    while (w >> word) words.push_back(word);
    if (words.size() < 6) continue;
    size_t n = words.size();
    Row r;
    r.time = words[n - 1];
    r.offset = std::stoull(words[n - 2]);
    r.stored = std::stoull(words[n - 3]);
    r.size = std::stoull(words[n - 4]);
    r.method = words[n - 5];
    for (size_t i = 0; i + 5 < n; i++) r.name += (i ? " " : "") + words[i];
    rows.push_back(r);
  }
  return rows;
}

class Wz2 : public ::testing::Test {
 protected:
  fs::path dir;

  void SetUp() override {
    char templ[] = "/tmp/wz2-cli-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
    ASSERT_TRUE(fs::exists(Wz2Program())) << "wz2 is not built next to the test: " << Wz2Program();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  // Runs wz2's command line in this process, in `cwd` when one is given.
  RunResult Run(const std::vector<std::string>& args, const fs::path& cwd = fs::path()) {
    return RunTool(args, dir, cwd);
  }
  // Starts the built wz2, for what only a process shows: its exit status,
  // how it ends by a signal, what a limit set in the child (inChild) does.
  RunResult RunProcess(const std::vector<std::string>& args, const fs::path& cwd = fs::path(),
                       const std::function<void()>& inChild = nullptr) {
    return RunProgram(Wz2Program(), args, dir, cwd, inChild);
  }

  fs::path Make(const std::string& relative, const std::string& bytes) {
    fs::path p = dir / fs::u8path(relative);
    fs::create_directories(p.parent_path());
    Spit(p, bytes);
    return p;
  }

  // A folder of typical update files, one of each kind.
  fs::path Inputs() {
    Make("in/SOUND.PAK", Text(2000));
    Make("in/RANDOM.BIN", Random(5000, 7));
    Make("in/EMPTY.DAT", "");
    Make(u8"in/テスト.TXT", "\x83\x65\x83\x58\x83\x67 kana inside\r\n");
    Make("in/RUNS.DAT", std::string(100000, 'a') + std::string(3000, 'b'));
    SetMtime(dir / "in/SOUND.PAK", 981173106, 500000000);    // 2001-02-03T04:05:06.5Z
    SetMtime(dir / "in/EMPTY.DAT", -86400 * 365, 0);          // before 1970
    return dir / "in";
  }

  void ExpectCleanFailure(const RunResult& r, int status = 1) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.err.rfind("wz2: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
  }

  // The folder holds exactly `expected` (no temporary or partial files).
  void ExpectOnly(const fs::path& folder, std::vector<std::string> expected) {
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(folder), expected);
  }
};

// ---- Round trips -----------------------------------------------------------

class RoundTrip : public Wz2, public ::testing::WithParamInterface<const char*> {};

TEST_P(RoundTrip, ExtractRestoresEveryFileByteForByteWithItsTime) {
  fs::path in = Inputs();
  fs::path archive = dir / "UPDATE.WZ2";
  RunResult p = Run({"pack", "-q", "-o", archive.string(), "--level", GetParam(), in.string()});
  ASSERT_EQ(p.status, 0) << p.err;
  RunResult l = Run({"list", archive.string()});
  ASSERT_EQ(l.status, 0) << l.err;
  std::vector<Row> rows = Rows(l.out);
  ASSERT_EQ(rows.size(), 5u) << l.out;
  fs::create_directory(dir / "out");
  RunResult x = Run({"extract", archive.string(), "-C", (dir / "out").string()});
  ASSERT_EQ(x.status, 0) << x.err;
  for (const auto& e : fs::directory_iterator(in)) {
    fs::path back = dir / "out" / e.path().filename();
    ASSERT_TRUE(fs::exists(back)) << back;
    EXPECT_EQ(Slurp(back), Slurp(e.path())) << back;
    EXPECT_EQ(MtimeTicks(back), MtimeTicks(e.path())) << back;
  }
  ExpectOnly(dir / "out", Names(in));
}

TEST_P(RoundTrip, CompressesWhatShrinksAndStoresTheRest) {
  fs::path in = Inputs();
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), "--level", GetParam(), in.string()}).status, 0);
  std::vector<Row> rows = Rows(Run({"list", archive.string()}).out);
  ASSERT_EQ(rows.size(), 5u);
  for (const Row& r : rows) {
    if (r.name == "SOUND.PAK" || r.name == "RUNS.DAT") {
      EXPECT_EQ(r.method, "compressed") << r.name;
      EXPECT_LT(r.stored, r.size) << r.name;
    } else {
      EXPECT_EQ(r.method, "stored") << r.name;  // random, empty, tiny
      EXPECT_EQ(r.stored, r.size) << r.name;
    }
  }
}

TEST_P(RoundTrip, CompressedDirectoryIsFlaggedAndReadsBack) {
  fs::path in = Inputs();
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), "--level", GetParam(), "--compress-directory", in.string()}).status, 0);
  std::string bytes = Slurp(archive);
  ASSERT_GE(bytes.size(), 16u);
  EXPECT_EQ(bytes[4], 1);  // DIRECTORY_COMPRESSED
  fs::create_directory(dir / "out");
  RunResult x = Run({"extract", archive.string(), "-C", (dir / "out").string()});
  ASSERT_EQ(x.status, 0) << x.err;
  EXPECT_EQ(Slurp(dir / "out/SOUND.PAK"), Text(2000));
  EXPECT_EQ(Slurp(dir / fs::u8path(u8"out/テスト.TXT")), "\x83\x65\x83\x58\x83\x67 kana inside\r\n");
}

TEST_P(RoundTrip, PackWritesTheSameBytesAsTheArchiveWriter) {
  fs::path in = Inputs();
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(in)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<ArchiveInput> inputs;
  for (const fs::path& f : files) {
    ArchiveInput a;
    ASSERT_TRUE(names::Utf8ToCp932(f.filename().string(), &a.name));
    std::string bytes = Slurp(f);
    a.data.assign(bytes.begin(), bytes.end());
    a.fileTime = (uint64_t)(MtimeTicks(f) + 116444736000000000ll);
    inputs.push_back(a);
  }
  for (bool compressDirectory : {false, true}) {
    ArchiveLayoutOptions options;
    std::string level = GetParam();
    options.level = level == "fast" ? CompressLevel::Fast : level == "max" ? CompressLevel::Max : CompressLevel::Default;
    options.compressDirectory = compressDirectory;
    std::vector<uint8_t> expected;
    std::string error;
    ASSERT_TRUE(WriteArchive(inputs, options, expected, &error)) << error;
    std::vector<std::string> args{"pack", "-o", (dir / "A.WZ2").string(), "--level", level, in.string()};
    if (compressDirectory) args.push_back("--compress-directory");
    ASSERT_EQ(Run(args).status, 0);
    EXPECT_EQ(Slurp(dir / "A.WZ2"), std::string(expected.begin(), expected.end())) << compressDirectory;
  }
}

// The compressor's cuts are fixed by the input, so the thread count changes
// nothing in the archive, also for an entry of several cuts.
TEST_P(RoundTrip, EveryThreadCountWritesTheSameArchive) {
  fs::path in = Inputs();
  std::string large;
  for (int part = 0; large.size() < 2500000; ++part) large += part % 3 ? Text(40 + part % 97) : Random(2000, (uint32_t)part);
  Make("in/LARGE.DAT", large);
  std::string one;
  for (const char* threads : {"1", "2", "7"}) {
    fs::path archive = dir / (std::string(threads) + ".WZ2");
    ASSERT_EQ(Run({"pack", "-q", "-j", threads, "-o", archive.string(), "--level", GetParam(), in.string()}).status, 0);
    if (one.empty()) one = Slurp(archive);
    EXPECT_EQ(Slurp(archive), one) << "-j " << threads;
  }
  ExpectCleanFailure(Run({"pack", "-j", "0", "-o", (dir / "0.WZ2").string(), in.string()}), 2);
  ExpectCleanFailure(Run({"pack", "-j", "65", "-o", (dir / "0.WZ2").string(), in.string()}), 2);
}

INSTANTIATE_TEST_SUITE_P(Levels, RoundTrip, ::testing::Values("fast", "default", "max"));

TEST_F(Wz2, ListShowsNamesSizesOffsetsAndUtcTimes) {
  fs::path in = Inputs();
  fs::path archive = dir / "A.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), in.string()}).status, 0);
  std::vector<Row> rows = Rows(Run({"list", archive.string()}).out);
  ASSERT_EQ(rows.size(), 5u);
  // A folder's files come sorted by name; offsets follow the 16-byte padding.
  EXPECT_EQ(rows[0].name, "EMPTY.DAT");
  EXPECT_EQ(rows[1].name, "RANDOM.BIN");
  EXPECT_EQ(rows[2].name, "RUNS.DAT");
  EXPECT_EQ(rows[3].name, "SOUND.PAK");
  EXPECT_EQ(rows[4].name, u8"テスト.TXT");
  uint64_t offset = 16;
  for (const Row& r : rows) {
    EXPECT_EQ(r.offset, offset) << r.name;
    offset += (r.stored + 15) / 16 * 16;
  }
  EXPECT_EQ(rows[3].time, "2001-02-03T04:05:06.5000000Z");
  EXPECT_EQ(rows[0].time, "1969-01-01T00:00:00Z");
}

TEST_F(Wz2, SameInputsGiveTheSameArchive) {
  fs::path in = Inputs();
  ASSERT_EQ(Run({"pack", "-o", (dir / "1.WZ2").string(), in.string()}).status, 0);
  ASSERT_EQ(Run({"pack", "-o", (dir / "2.WZ2").string(), in.string()}).status, 0);
  EXPECT_EQ(Slurp(dir / "1.WZ2"), Slurp(dir / "2.WZ2"));
}

TEST_F(Wz2, ALargeStoredEntryAtAnUnalignedOffsetExtractsWhole) {
  // A stored entry is copied in windows of the archive file: one that starts
  // between pages and spans several windows must arrive byte for byte,
  // whether it is the only one extracted or one of several.
  Make("in/A.DAT", Random(100, 3));                           // the next entry starts at 128
  Make("in/BIG.DAT", Random((33u << 20) + 12345, 4));         // three windows, the last partial
  fs::path archive = dir / "BIG.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), "--store", "*", (dir / "in").string()}).status, 0);
  std::vector<Row> rows = Rows(Run({"list", archive.string()}).out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].method, "stored");
  EXPECT_EQ(rows[1].offset, 128u);
  fs::create_directory(dir / "one");
  ASSERT_EQ(Run({"extract", archive.string(), "-C", (dir / "one").string(), "BIG.DAT"}).status, 0);
  EXPECT_TRUE(Slurp(dir / "one/BIG.DAT") == Slurp(dir / "in/BIG.DAT"));
  fs::create_directory(dir / "all");
  ASSERT_EQ(Run({"extract", archive.string(), "-C", (dir / "all").string()}).status, 0);
  EXPECT_TRUE(Slurp(dir / "all/A.DAT") == Slurp(dir / "in/A.DAT"));
  EXPECT_TRUE(Slurp(dir / "all/BIG.DAT") == Slurp(dir / "in/BIG.DAT"));
}

TEST_F(Wz2, KanaWhoseTrailBytesDifferOnlyInAsciiCaseAreTwoEntries) {
  // ア is 83 41 and ヂ is 83 61: the updater compares a double-byte
  // character whole, so these are two names, and every command keeps them apart.
  Make(u8"in/ア", "A");
  Make(u8"in/ヂ", "B");
  fs::path archive = dir / "KANA.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string()}).status, 0);
  fs::create_directory(dir / "one");
  ASSERT_EQ(Run({"extract", archive.string(), "-C", (dir / "one").string(), u8"ヂ"}).status, 0);
  EXPECT_EQ(Slurp(dir / "one" / fs::u8path(u8"ヂ")), "B");
  EXPECT_FALSE(fs::exists(dir / "one" / fs::u8path(u8"ア")));
  fs::create_directory(dir / "all");
  ASSERT_EQ(Run({"extract", archive.string(), "-C", (dir / "all").string()}).status, 0);
  EXPECT_EQ(Slurp(dir / "all" / fs::u8path(u8"ア")), "A");
  EXPECT_EQ(Slurp(dir / "all" / fs::u8path(u8"ヂ")), "B");
}

TEST_F(Wz2, StorePatternKeepsMatchingEntriesPlainIgnoringCase) {
  Make("in/MANUAL.TXT", Text(500));
  Make("in/SOUND.PAK", Text(500));
  fs::path archive = dir / "A.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), "--store", "*.txt", (dir / "in").string()}).status, 0);
  std::vector<Row> rows = Rows(Run({"list", archive.string()}).out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "MANUAL.TXT");
  EXPECT_EQ(rows[0].method, "stored");
  EXPECT_EQ(rows[1].method, "compressed");
}

TEST_F(Wz2, FolderAddsItsFilesButNotItsSubfolders) {
  Make("in/A.DAT", "a");
  Make("in/SUB/B.DAT", "b");
  Make("C.DAT", "c");
  fs::path archive = dir / "A.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string(), (dir / "C.DAT").string()}).status, 0);
  std::vector<Row> rows = Rows(Run({"list", archive.string()}).out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "A.DAT");
  EXPECT_EQ(rows[1].name, "C.DAT");
}

TEST_F(Wz2, NamesWhoseSecondByteIsABackslashRoundTrip) {
  // In code page 932 both characters end in 0x5C, the byte of '\'.
  Make(u8"in/表.TXT", "hyou");
  Make(u8"in/ソ.DAT", "so");
  fs::path archive = dir / "A.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string()}).status, 0);
  std::string bytes = Slurp(archive);
  EXPECT_NE(bytes.find("\x95\x5C.TXT"), std::string::npos);  // stored as code page 932
  fs::create_directory(dir / "out");
  ASSERT_EQ(Run({"extract", archive.string(), "-C", (dir / "out").string()}).status, 0);
  ExpectOnly(dir / "out", {u8"ソ.DAT", u8"表.TXT"});
  EXPECT_EQ(Slurp(dir / fs::u8path(u8"out/表.TXT")), "hyou");
}

TEST_F(Wz2, ExtractTakesNamedEntriesWithoutRegardToCase) {
  fs::path in = Inputs();
  fs::path archive = dir / "A.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), in.string()}).status, 0);
  fs::create_directory(dir / "out");
  RunResult x = Run({"extract", archive.string(), "-C", (dir / "out").string(), "sound.pak", u8"テスト.txt"});
  ASSERT_EQ(x.status, 0) << x.err;
  ExpectOnly(dir / "out", {"SOUND.PAK", u8"テスト.TXT"});
}

// ---- Refusals of pack ------------------------------------------------------------

// A file name pack takes as an entry name, or refuses with no output: the
// 14 bytes of the name field counted in code page 932, a name that has its
// own code page 932 form, a name Windows can give a file.
struct NameRow {
  const char* test;
  const char* file;  // UTF-8
  bool taken;
  const char* says;  // in the refusal
};
void PrintTo(const NameRow& row, std::ostream* out) { *out << row.test; }

const NameRow kNameRows[] = {
    {"FourteenBytesAreTaken", "ABCDEFGHIJ.TXT", true, ""},
    {"FifteenBytesAreRefusedByName", "ABCDEFGHIJK.TXT", false, "ABCDEFGHIJK.TXT"},
    // Six kana are 18 bytes of UTF-8 but 12 of code page 932.
    {"SixKanaAndADotAndALetterFit", u8"テストテスト.A", true, ""},
    {"SixKanaAndADotAndTwoLettersAreFifteenBytes", u8"テストテスト.AB", false, ""},
    {"ANameWithoutACodePage932FormIsRefused", u8"한글.TXT", false, "932"},
    // U+00A5 YEN SIGN converts to 0x5C, which the updater reads as '\'.
    {"ANameWhoseCodePage932FormIsAnotherCharacterIsRefused", "\xC2\xA5" "100.TXT", false, ""},
    {"ADeviceNameWithAnExtensionIsRefused", "con.txt", false, ""},
    {"ADeviceNameIsRefused", "NUL", false, ""},
    {"ANumberedDeviceNameInAnyCaseIsRefused", "Com1.DAT", false, ""},
    {"APrinterPortIsRefused", "LPT9", false, ""},
    {"ATrailingDotIsRefused", "DOT.", false, ""},
    {"ATrailingBlankIsRefused", "BLANK ", false, ""},
    {"ANameThatOnlyBeginsLikeADeviceIsTaken", "CONFIG.DAT", true, ""},
    {"APortNumberPastNineIsTaken", "COM10.DAT", true, ""},
};

class PackNames : public Wz2, public ::testing::WithParamInterface<NameRow> {};

TEST_P(PackNames, TakesWhatTheUpdaterCanWriteAndRefusesTheRest) {
  const NameRow& row = GetParam();
  Make(std::string("in/") + row.file, "x");
  RunResult r = Run({"pack", "-o", (dir / "A.WZ2").string(), (dir / "in").string()});
  if (row.taken) {
    EXPECT_EQ(r.status, 0) << r.err;
    return;
  }
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
  ExpectOnly(dir, {"in"});
}

INSTANTIATE_TEST_SUITE_P(Names, PackNames, ::testing::ValuesIn(kNameRows),
                         [](const ::testing::TestParamInfo<NameRow>& i) { return std::string(i.param.test); });

// Every pair of characters the entry-name rule takes for one (the rule the
// peer comparison holds to the platform's lstrcmpiA over all of code page
// 932) that can be two file names: pack refuses each pair.
TEST_F(Wz2, PackRefusesEveryPairOfNamesTheUpdaterTakesForOne) {
  std::vector<std::string> chars;
  for (int b = 1; b < 256; b++)
    if (!IsDBCSLeadByte((BYTE)b)) chars.push_back(std::string(1, (char)b));
  for (int lead = 0x81; lead <= 0xFC; lead++)
    for (int trail = 0x40; trail <= 0xFC; trail++)
      if (IsDBCSLeadByte((BYTE)lead) && trail != 0x7F) chars.push_back(std::string{(char)lead, (char)trail});
  // Sorted by the platform's compare, characters it calls equal stand side by
  // side; each run's first member with a file name pairs with every other.
  std::stable_sort(chars.begin(), chars.end(),
                   [](const std::string& x, const std::string& y) { return lstrcmpiA(x.c_str(), y.c_str()) < 0; });
  std::vector<std::pair<std::string, std::string>> pairs;  // UTF-8 file names
  for (size_t i = 0; i < chars.size();) {
    size_t end = i + 1;
    while (end < chars.size() && SameEntryName(chars[i].c_str(), chars[end].c_str())) end++;
    std::vector<std::string> files;
    for (size_t k = i; k < end; k++) {
      std::string utf8;
      if (names::Cp932ToUtf8(chars[k], &utf8) && std::find(files.begin(), files.end(), utf8) == files.end())
        files.push_back(utf8);
    }
    for (size_t k = 1; k < files.size(); k++) pairs.push_back({files[0], files[k]});
    i = end;
  }
  // ASCII, full-width Latin, Greek and Cyrillic letters, Roman numerals in
  // two code ranges, the sound marks and the group of the prolonged sound
  // mark; the duplicate codes of one character have one file name only.
  ASSERT_EQ(pairs.size(), 26u + 26u + 24u + 33u + 10u + 2u + 7u);
  int refused = 0;
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.first + " " + p.second);
    fs::remove_all(dir / "in");
    Make("in/" + p.first + ".DAT", "1");
    Make("in/" + p.second + ".DAT", "2");
    RunResult r = Run({"pack", "-o", (dir / "A.WZ2").string(), (dir / "in").string()});
    ExpectCleanFailure(r);
    EXPECT_NE(r.err.find("updater takes them for one name"), std::string::npos) << r.err;
    refused += r.status == 1;
  }
  EXPECT_EQ(refused, (int)pairs.size());
  EXPECT_FALSE(fs::exists(dir / "A.WZ2"));
}

TEST_F(Wz2, PackRefusesNamesThatDifferOnlyInCaseAcrossFolders) {
  Make("a/README.TXT", "1");
  Make(u8"b/ｓａｖｅ.DAT", "2");
  Make("c/readme.txt", "3");
  Make(u8"d/ＳＡＶＥ.dat", "4");
  RunResult r = Run({"pack", "-o", (dir / "A.WZ2").string(), (dir / "a").string(), (dir / "b").string(),
                     (dir / "c").string()});
  ExpectCleanFailure(r);
  r = Run({"pack", "-o", (dir / "A.WZ2").string(), (dir / "b").string(), (dir / "d").string()});
  ExpectCleanFailure(r);
  ExpectOnly(dir, {"a", "b", "c", "d"});
}

// An archive written by other means may hold one character under both of
// its codes (0xED40 and 0xFA5C): both give one file name, and which of the
// two it should hold cannot be told, so extracting everything is refused and
// check reports it. A name asked for is looked up as the updater does.
TEST_F(Wz2, TwoCodesOfOneCharacterAreRefusedButTheNamedOneExtracts) {
  ArchiveInput a, b;
  a.name = "\xED\x40.DAT";
  a.data = {'1'};
  b.name = "\xFA\x5D.DAT";  // made the twin below: the writer refuses twins
  b.data = {'2'};
  for (ArchiveInput* in : {&a, &b}) in->storage = EntryStorage::Stored;
  std::vector<uint8_t> image;
  std::string error;
  ASSERT_TRUE(WriteArchive({a, b}, ArchiveLayoutOptions(), image, &error)) << error;
  uint32_t directory = image[8] | image[9] << 8 | image[10] << 16 | (uint32_t)image[11] << 24;
  ASSERT_EQ(image[directory + ARCHIVE_ENTRY_SIZE + 1], 0x5D);
  image[directory + ARCHIVE_ENTRY_SIZE + 1] = 0x5C;
  fs::path archive = Make("TWIN.WZ2", std::string(image.begin(), image.end()));
  std::string kanji;
  ASSERT_TRUE(names::Cp932ToUtf8("\xED\x40.DAT", &kanji));

  fs::create_directory(dir / "all");
  RunResult r = Run({"extract", archive.string(), "-C", (dir / "all").string()});
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("two codes of one file name"), std::string::npos) << r.err;
  ExpectOnly(dir / "all", {});
  RunResult check = Run({"check", archive.string()});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("decodes to the same file name"), std::string::npos) << check.out;

  fs::create_directory(dir / "named");
  r = Run({"extract", archive.string(), "-C", (dir / "named").string(), kanji, kanji});
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectOnly(dir / "named", {kanji});
  EXPECT_EQ(Slurp(dir / "named" / fs::u8path(kanji)), "1");
}

TEST_F(Wz2, PackRefusesAFileOfFourGibibytes) {
  fs::path big = Make("in/BIG.DAT", "");
  fs::resize_file(big, 0x100000000ull);  // sparse: no disk space used
  RunResult r = Run({"pack", "-o", (dir / "A.WZ2").string(), big.string()});
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("4 GiB"), std::string::npos) << r.err;
  ExpectOnly(dir, {"in"});
}

TEST_F(Wz2, PackRefusesAnArchiveThatWouldPassThirtyTwoBitOffsets) {
  fs::resize_file(Make("in/A.DAT", ""), 0x90000000ull);
  fs::resize_file(Make("in/B.DAT", ""), 0x90000000ull);
  RunResult r = Run({"pack", "-o", (dir / "A.WZ2").string(), "--store", "*", (dir / "in").string()});
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("32-bit"), std::string::npos) << r.err;
  ExpectOnly(dir, {"in"});
}

TEST_F(Wz2, PackRefusesMissingInputs) {
  ExpectCleanFailure(Run({"pack", "-o", (dir / "A.WZ2").string(), (dir / "nothing").string()}));
  ExpectOnly(dir, {});
}

// ---- Bad input to every reading command ---------------------------------------

class BadInput : public Wz2 {
 protected:
  fs::path good, missing, text, truncated, corruptBlock, corruptDirectory, exe;
  void SetUp() override {
    Wz2::SetUp();
    Make("in/SOUND.PAK", Text(300));
    Make("in/UPDATE.INI", "[SETUP]\r\n");
    good = dir / "GOOD.WZ2";
    ASSERT_EQ(Run({"pack", "-o", good.string(), (dir / "in/SOUND.PAK").string(), (dir / "in/UPDATE.INI").string()}).status, 0);
    std::string bytes = Slurp(good);
    missing = dir / "MISSING.WZ2";
    text = Make("TEXT.WZ2", "this is not an archive\n");
    truncated = Make("TRUNC.WZ2", bytes.substr(0, bytes.size() / 2));
    std::string bad = bytes;
    for (size_t i = 40; i < 60; i++) bad[i] = (char)0xFF;  // inside SOUND.PAK's block
    corruptBlock = Make("BLOCK.WZ2", bad);
    ASSERT_EQ(Run({"pack", "-o", (dir / "CD.WZ2").string(), "--compress-directory", (dir / "in").string()}).status, 0);
    std::string cd = Slurp(dir / "CD.WZ2");
    uint32_t directory = (uint8_t)cd[8] | (uint8_t)cd[9] << 8 | (uint8_t)cd[10] << 16 | (uint32_t)(uint8_t)cd[11] << 24;
    cd.resize(directory + 3);  // the directory block cut short
    corruptDirectory = Make("DIR.WZ2", cd);
    fs::create_directory(dir / "out");
  }
  std::vector<fs::path> Bad() { return {missing, text, truncated, corruptBlock, corruptDirectory}; }
  std::vector<std::string> Listing() { return Names(dir); }
};

TEST_F(BadInput, ListFailsWithOneLine) {
  for (const fs::path& p : Bad()) ExpectCleanFailure(Run({"list", p.string()}));
  EXPECT_EQ(Run({"list", good.string()}).status, 0);
}

TEST_F(BadInput, ExtractFailsAndWritesNothing) {
  for (const fs::path& p : Bad()) {
    ExpectCleanFailure(Run({"extract", p.string(), "-C", (dir / "out").string()}));
    ExpectOnly(dir / "out", {});
  }
  ExpectCleanFailure(Run({"extract", good.string(), "-C", (dir / "out").string(), "NOSUCH.DAT"}));
  ExpectCleanFailure(Run({"extract", good.string(), "-C", (dir / "out").string(), "SOUND.PAK", "NOSUCH.DAT"}));
  ExpectOnly(dir / "out", {});
  ExpectCleanFailure(Run({"extract", good.string(), "-C", (dir / "nowhere").string()}));
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST_F(BadInput, ExtractOverAnExistingFileKeepsItWhenTheArchiveIsDamaged) {
  Make("out/SOUND.PAK", "installed");
  ExpectCleanFailure(Run({"extract", corruptBlock.string(), "-C", (dir / "out").string()}));
  EXPECT_EQ(Slurp(dir / "out/SOUND.PAK"), "installed");
  ExpectOnly(dir / "out", {"SOUND.PAK"});
}

TEST_F(BadInput, CheckFailsWithOneLine) {
  for (const fs::path& p : Bad()) ExpectCleanFailure(Run({"check", p.string()}));
}

TEST_F(BadInput, BuildExeFailsAndWritesNoExecutable) {
  pe_fixture::Options o;
  Make("UPDATER.EXE", std::string());
  std::vector<uint8_t> image = pe_fixture::Build(o);
  Spit(dir / "UPDATER.EXE", std::string(image.begin(), image.end()));
  std::vector<std::string> before = Listing();
  for (const fs::path& p : Bad()) {
    ExpectCleanFailure(Run({"build-exe", "--force", "--template", (dir / "UPDATER.EXE").string(), "--archive", p.string(), "-o",
                            (dir / "UPDATE.EXE").string()}));
    EXPECT_EQ(Listing(), before);
  }
  // A template that is no executable, or is missing.
  ExpectCleanFailure(Run({"build-exe", "--force", "--template", text.string(), "--archive", good.string(), "-o",
                          (dir / "UPDATE.EXE").string()}));
  ExpectCleanFailure(Run({"build-exe", "--force", "--template", missing.string(), "--archive", good.string(), "-o",
                          (dir / "UPDATE.EXE").string()}));
  EXPECT_EQ(Listing(), before);
}

// Each kind of damage an archive's fields can suffer, a row each, read by
// list and extract: refused in one line naming why, and nothing written; or,
// where the updater itself would read the archive, listed. Damage of every
// other byte is open_archive_fuzz's, which runs the updater's reader over
// arbitrary images.
TEST_F(BadInput, EachKindOfDamageIsRefusedInOneLineOrListedAsTheUpdaterReadsIt) {
  const std::string plain = Slurp(good), packed = Slurp(dir / "CD.WZ2");
  auto get32 = [](const std::string& b, size_t at) {
    return (uint32_t)(uint8_t)b[at] | (uint32_t)(uint8_t)b[at + 1] << 8 | (uint32_t)(uint8_t)b[at + 2] << 16 |
           (uint32_t)(uint8_t)b[at + 3] << 24;
  };
  auto put32 = [](std::string b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; k++) b[at + (size_t)k] = (char)(v >> (8 * k));
    return b;
  };
  // The plain directory's records: SOUND.PAK (compressed), then UPDATE.INI (stored).
  const size_t records = get32(plain, 8), sound = records, ini = records + ARCHIVE_ENTRY_SIZE;
  const size_t fileSize = offsetof(ArchiveEntry, fileSize), storedSize = offsetof(ArchiveEntry, storedSize);
  ASSERT_EQ(plain.compare(sound, 9, "SOUND.PAK"), 0);
  ASSERT_EQ(plain[sound + offsetof(ArchiveEntry, attributes)], (char)ENTRY_COMPRESSED);
  ASSERT_EQ(plain.compare(ini, 10, "UPDATE.INI"), 0);
  const uint32_t soundSize = get32(plain, sound + fileSize), soundStored = get32(plain, sound + storedSize);
  auto with = [](std::string b, size_t at, char c) {
    b[at] = c;
    return b;
  };
  const struct {
    const char* what;
    std::string bytes;
    int status;
    const char* says;  // in the one line of a refusal, or in the listing
  } rows[] = {
      {"the signature", with(plain, 1, 'X'), 1, "not a WZ2 archive"},
      {"cut inside the header", plain.substr(0, ARCHIVE_HEADER_SIZE - 1), 1, "not a WZ2 archive"},
      {"an entry count past the cap", put32(plain, 12, ARCHIVE_MAX_ENTRIES + 1), 1, "an archive holds at most 65,536"},
      {"an entry count past the directory", put32(plain, 12, 3), 1, "damaged archive"},
      {"the directory's offset past the end", put32(plain, 8, (uint32_t)plain.size() + 1), 1, "damaged archive"},
      {"the directory cut short", plain.substr(0, plain.size() - 1), 1, "damaged archive"},
      {"the compressed directory cut short", packed.substr(0, packed.size() - 3), 1, "damaged archive"},
      {"the compressed directory read as plain records", put32(packed, 4, 0), 1, "damaged archive"},
      {"a stored entry's size past the end", put32(plain, ini + fileSize, 0x10000), 1,
       "UPDATE.INI: data lies outside the archive"},
      {"a compressed entry's block past the end", put32(plain, sound + storedSize, 0x10000), 1,
       "SOUND.PAK: data lies outside the archive"},
      {"a size claim past what the block can hold", put32(plain, sound + fileSize, soundStored * BLOCK_MAX_EXPANSION + 1),
       1, "SOUND.PAK: claims more bytes than its compressed block can hold"},
      {"a size one byte over what the block expands to", put32(plain, sound + fileSize, soundSize + 1), 1,
       "SOUND.PAK: expands to fewer bytes than its size"},
      {"a size one byte under what the block expands to", put32(plain, sound + fileSize, soundSize - 1), 1,
       "SOUND.PAK: expands to more bytes than its size"},
      {"the compressed block's bytes", Slurp(corruptBlock), 1, "SOUND.PAK: has a corrupt compressed block"},
      {"a control character in a name", with(plain, ini, '\x1B'), 0, "\\x1BPDATE.INI"},
      {"a name without its NUL", plain.substr(0, ini + 10) + "XXXXX" + plain.substr(ini + ARCHIVE_NAME_FIELD), 0,
       "UPDATE.INIXXXXX"},
      {"a time", with(plain, ini + offsetof(ArchiveEntry, fileTime) + 7, '\x7F'), 0, "UPDATE.INI"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::path bad = Make("BAD.WZ2", row.bytes);
    RunResult list = Run({"list", bad.string()});
    if (row.status != 0) {
      ExpectCleanFailure(list);
      EXPECT_NE(list.err.find(row.says), std::string::npos) << list.err;
      ExpectCleanFailure(Run({"extract", bad.string(), "-C", (dir / "out").string()}));
      ExpectOnly(dir / "out", {});
    } else {
      EXPECT_EQ(list.status, 0) << list.err;
      EXPECT_NE(list.out.find(row.says), std::string::npos) << list.out;
    }
  }
}

TEST_F(BadInput, AnExecutableWithoutTheArchiveIsReported) {
  std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options());
  Spit(dir / "PLAIN.EXE", std::string(image.begin(), image.end()));
  RunResult r = Run({"list", (dir / "PLAIN.EXE").string()});
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("UPDATE/102"), std::string::npos) << r.err;
  ExpectCleanFailure(Run({"extract", (dir / "PLAIN.EXE").string(), "-C", (dir / "out").string()}));
  ExpectOnly(dir / "out", {});
}

TEST_F(BadInput, AFolderInTheWayStopsExtractBeforeAnyFileIsWritten) {
  fs::create_directories(dir / "out/UPDATE.INI");
  ExpectCleanFailure(Run({"extract", good.string(), "-C", (dir / "out").string()}));
  ExpectOnly(dir / "out", {"UPDATE.INI"});
  EXPECT_TRUE(fs::is_directory(dir / "out/UPDATE.INI"));
}

TEST_F(BadInput, PackRefusesToPackItsOwnOutput) {
  RunResult first = Run({"pack", "-o", (dir / "in/OLD.WZ2").string(), (dir / "in").string()});
  ASSERT_EQ(first.status, 0) << first.err;
  std::string before = Slurp(dir / "in/OLD.WZ2");
  ExpectCleanFailure(Run({"pack", "-o", (dir / "in/OLD.WZ2").string(), (dir / "in").string()}));
  EXPECT_EQ(Slurp(dir / "in/OLD.WZ2"), before);
}

// ---- The command-line grammar ----------------------------------------------------

// Every command parses through one grammar: each row is a misuse, the one
// line it must give, and no file may appear. "A" stands for a good archive,
// "IN" for a folder of inputs, "T" for a template, "O" for an output path.
TEST_F(BadInput, EveryMisuseOfTheGrammarIsOneUsageLineAndWritesNothing) {
  struct Row {
    std::vector<std::string> args;
    const char* says;
  };
  const Row rows[] = {
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--bogus", "list", "A"}, "unknown option --bogus"},
      // A value missing at the end, empty after '=', or empty on its own.
      {{"pack", "IN", "-o"}, "-o needs a value"},
      {{"pack", "-o", "O", "--level=", "IN"}, "--level needs a value"},
      {{"pack", "-o", "O", "--store", "", "IN"}, "--store needs a value"},
      {{"extract", "A", "-C"}, "-C needs a value"},
      {{"check", "A", "--setup"}, "--setup needs a value"},
      {{"check", "A", "--inst-mode="}, "--inst-mode needs a value"},
      {{"build-exe", "--archive", "A", "-o", "O", "--template"}, "--template needs a value"},
      // A single-value option given twice.
      {{"pack", "-o", "O", "-o", "O", "IN"}, "-o is given more than once"},
      {{"pack", "-o", "O", "--level", "max", "--level=fast", "IN"}, "--level is given more than once"},
      {{"extract", "A", "-C", "IN", "-C", "IN"}, "-C is given more than once"},
      {{"check", "A", "--inst-mode", "1", "--inst-mode=2"}, "--inst-mode is given more than once"},
      {{"build-exe", "--force", "--template", "T", "--template", "T", "--archive", "A", "-o", "O"},
       "--template is given more than once"},
      // Unknown options and values given to flags.
      {{"list", "--bogus", "A"}, "unknown option --bogus"},
      {{"extract", "A", "--bogus=1"}, "unknown option --bogus"},
      {{"check", "A", "-x"}, "unknown option -x"},
      {{"pack", "-o=O", "IN"}, "unknown option -o=O"},
      {{"check", "A", "--strict=yes"}, "--strict takes no value"},
      {{"pack", "-o", "O", "--compress-directory=1", "IN"}, "--compress-directory takes no value"},
      // Required options and operands.
      {{"pack", "IN"}, "missing -o FILE"},
      {{"pack", "-o", "O"}, "missing PATH"},
      {{"build-exe", "--force", "--template", "T", "-o", "O"}, "missing --archive FILE"},
      {{"list"}, "missing ARCHIVE|EXE"},
      {{"extract", "-C", "IN"}, "missing ARCHIVE|EXE"},
      {{"check"}, "missing ARCHIVE|EXE"},
      {{"list", "A", "A"}, "unexpected argument"},
      {{"check", "A", "A"}, "unexpected argument"},
      {{"build-exe", "--force", "--template", "T", "--archive", "A", "-o", "O", "extra"}, "unexpected argument extra"},
      {{"list", "-A"}, "unknown option -A"},
      // Values each command checks itself.
      {{"pack", "-o", "O", "--level", "best", "IN"}, "--level takes fast, default or max"},
      {{"check", "A", "--inst-mode", "12"}, "--inst-mode takes a digit"},
  };
  std::vector<uint8_t> exe = pe_fixture::Build(pe_fixture::Options());
  Spit(dir / "T.EXE", std::string(exe.begin(), exe.end()));
  std::vector<std::string> before = Listing();
  for (const Row& row : rows) {
    std::vector<std::string> args;
    for (const std::string& a : row.args) {
      args.push_back(a == "A" ? good.string() : a == "IN" ? (dir / "in").string() : a == "T" ? (dir / "T.EXE").string()
                     : a == "O" ? (dir / "O.OUT").string() : a);
    }
    RunResult r = RunProcess(args);
    std::string what = ::testing::PrintToString(row.args);
    ExpectCleanFailure(r, 2);
    EXPECT_NE(r.err.find(row.says), std::string::npos) << what << ": " << r.err;
    EXPECT_EQ(Listing(), before) << what;
  }
}

// --name=VALUE and --name VALUE are the same; list options take a value
// each time; help and quiet stand anywhere before "--".
TEST_F(Wz2, ValuesFollowAnEqualsSignOrStandApartAlike) {
  fs::path in = Inputs();
  ASSERT_EQ(RunProcess({"pack", "-o", (dir / "A.WZ2").string(), "--level", "max", "--store", "*.BIN", "--store",
                 "*.PAK", in.string()}).status, 0);
  ASSERT_EQ(RunProcess({"--quiet", "pack", in.string(), "--store=*.BIN", "--level=max", "--store=*.PAK", "-o",
                 (dir / "B.WZ2").string()}).status, 0);
  EXPECT_EQ(Slurp(dir / "A.WZ2"), Slurp(dir / "B.WZ2"));
  std::vector<Row> rows = Rows(RunProcess({"list", (dir / "A.WZ2").string()}).out);
  ASSERT_FALSE(rows.empty());
  for (const Row& r : rows) {
    bool named = r.name == "SOUND.PAK" || r.name == "RANDOM.BIN";
    EXPECT_EQ(r.method, named ? "stored" : r.method) << r.name;
  }
  RunResult apart = RunProcess({"check", (dir / "A.WZ2").string(), "--inst-mode", "1"});
  RunResult joined = RunProcess({"check", "--inst-mode=1", (dir / "A.WZ2").string()});
  EXPECT_EQ(apart.status, joined.status);
  EXPECT_EQ(apart.out, joined.out);
  RunResult help = RunProcess({"pack", "-o", "x", "--level", "best", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, RunProcess({"help", "pack"}).out);
}

// After "--" every argument is an operand, even one that begins with '-',
// and for every command.
TEST_F(Wz2, DoubleDashEndsTheOptionsOfEveryCommand) {
  Make("-X.DAT", "dash");
  Make("UPDATE.INI", "[SETUP]\r\n");
  fs::create_directory(dir / "out");
  ASSERT_EQ(RunProcess({"pack", "-q", "-o", "-A.WZ2", "--", "-X.DAT", "UPDATE.INI"}, dir).status, 0);
  ExpectCleanFailure(RunProcess({"list", "-A.WZ2"}, dir), 2);
  RunResult list = RunProcess({"list", "--", "-A.WZ2"}, dir);
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("-X.DAT"), std::string::npos);
  RunResult x = RunProcess({"extract", "-q", "-C", "out", "--", "-A.WZ2", "-X.DAT"}, dir);
  ASSERT_EQ(x.status, 0) << x.err;
  ExpectOnly(dir / "out", {"-X.DAT"});
  EXPECT_EQ(Slurp(dir / "out/-X.DAT"), "dash");
  // check reads the archive (and reports the manifest's findings, status 1).
  RunResult check = RunProcess({"check", "--", "-A.WZ2"}, dir);
  EXPECT_EQ(check.status, 1) << check.err;
  EXPECT_NE(check.out.find("CompanyName"), std::string::npos) << check.out;
  std::vector<uint8_t> exe = pe_fixture::Build(pe_fixture::Options());
  Spit(dir / "T.EXE", std::string(exe.begin(), exe.end()));
  RunResult b = RunProcess({"build-exe", "--force", "--template", "T.EXE", "--archive", "-A.WZ2", "-o", "-B.EXE", "--"}, dir);
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(RunProcess({"list", "--", "-B.EXE"}, dir).status, 0);
}

// ---- build-exe ------------------------------------------------------------------

class BuildExe : public Wz2, public ::testing::WithParamInterface<bool> {};

TEST_P(BuildExe, TheArchiveReadsBackFromTheBuiltExecutable) {
  fs::path in = Inputs();
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), in.string()}).status, 0);
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  std::vector<uint8_t> image = pe_fixture::Build(o);
  Spit(dir / "UPDATER.EXE", std::string(image.begin(), image.end()));
  RunResult b = Run({"build-exe", "--force", "--template", (dir / "UPDATER.EXE").string(), "--archive", archive.string(), "-o",
                     (dir / "UPDATE.EXE").string()});
  ASSERT_EQ(b.status, 0) << b.err;
  std::string built = Slurp(dir / "UPDATE.EXE");
  std::vector<uint8_t> bytes(built.begin(), built.end()), data;
  std::string error;
  ASSERT_TRUE(pe::FindResourceData(bytes, pe::KeyString("UPDATE"), pe::KeyId(102), &data, &error)) << error;
  EXPECT_EQ(std::string(data.begin(), data.end()), Slurp(archive));
  // list and extract read the executable as they read the archive.
  EXPECT_EQ(Run({"list", (dir / "UPDATE.EXE").string()}).out.rfind(Run({"list", archive.string()}).out + "check: CRC-32 ", 0),
            0u);
  fs::create_directory(dir / "out");
  ASSERT_EQ(Run({"extract", (dir / "UPDATE.EXE").string(), "-C", (dir / "out").string(), "SOUND.PAK"}).status, 0);
  EXPECT_EQ(Slurp(dir / "out/SOUND.PAK"), Text(2000));
  // Building again over the output replaces it.
  ASSERT_EQ(Run({"build-exe", "--force", "--template", (dir / "UPDATER.EXE").string(), "--archive", archive.string(), "-o",
                 (dir / "UPDATE.EXE").string()}).status, 0);
  EXPECT_EQ(Slurp(dir / "UPDATE.EXE"), built);
}

TEST_P(BuildExe, RefusesASignedTemplate) {
  Make("in/UPDATE.INI", "[SETUP]\r\n");
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string()}).status, 0);
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.overlay = std::vector<uint8_t>(64, 'S');
  o.securityOffset = 0x600;
  o.securitySize = 64;
  std::vector<uint8_t> image = pe_fixture::Build(o);
  Spit(dir / "SIGNED.EXE", std::string(image.begin(), image.end()));
  RunResult r = Run({"build-exe", "--force", "--template", (dir / "SIGNED.EXE").string(), "--archive", archive.string(), "-o",
                     (dir / "UPDATE.EXE").string()});
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("sign the result afterwards"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "UPDATE.EXE"));
}

// Publishing: the built executable is signed afterwards with a throwaway
// self-signed certificate; the signature verifies, the archive still reads,
// and the signed file is refused as a template.
TEST_P(BuildExe, ABuiltExecutableSignsVerifiesAndStillLists) {
  ASSERT_EQ(system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null"), 0)
      << "osslsigncode and openssl are needed (scripts/install-deps installs them)";
  Make("in/UPDATE.INI", "[SETUP]\r\n");
  Make("in/SOUND.PAK", Text(100));
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string()}).status, 0);
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  std::vector<uint8_t> image = pe_fixture::Build(o);
  Spit(dir / "UPDATER.EXE", std::string(image.begin(), image.end()));
  ASSERT_EQ(Run({"build-exe", "--force", "--template", (dir / "UPDATER.EXE").string(), "--archive", archive.string(), "-o",
                 (dir / "UPDATE.EXE").string()}).status, 0);
  std::string d = dir.string();
  std::string quiet = " >" + d + "/sign.log 2>&1";
  ASSERT_EQ(system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=wz2-test -addext "
                    "extendedKeyUsage=codeSigning -keyout " + d + "/key.pem -out " + d + "/cert.pem" + quiet).c_str()),
            0) << Slurp(dir / "sign.log");
  ASSERT_EQ(system(("osslsigncode sign -certs " + d + "/cert.pem -key " + d + "/key.pem -h sha256 -in " + d +
                    "/UPDATE.EXE -out " + d + "/SIGNED.EXE" + quiet).c_str()),
            0) << Slurp(dir / "sign.log");
  EXPECT_EQ(system(("osslsigncode verify -CAfile " + d + "/cert.pem -in " + d + "/SIGNED.EXE" + quiet).c_str()), 0)
      << Slurp(dir / "sign.log");
  RunResult l = Run({"list", (dir / "SIGNED.EXE").string()});
  EXPECT_EQ(l.status, 0) << l.err;
  EXPECT_EQ(l.out.rfind(Run({"list", archive.string()}).out + "check: CRC-32 ", 0), 0u) << l.out;
  RunResult again = Run({"build-exe", "--force", "--template", (dir / "SIGNED.EXE").string(), "--archive", archive.string(), "-o",
                         (dir / "RESIGNED.EXE").string()});
  ExpectCleanFailure(again);
  EXPECT_FALSE(fs::exists(dir / "RESIGNED.EXE"));
}

INSTANTIATE_TEST_SUITE_P(Pe, BuildExe, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Pe32Plus" : "Pe32"; });

// The archive goes into the executable from its file a piece at a time; the
// bytes written must be those of the in-memory rewrite (and, with branding,
// of the second rewrite it has always been), on each path the writer takes.
class BuildExeBytes : public Wz2 {
 protected:
  // The template with its PE headers one byte on: the checksum field then
  // stands at an odd offset.
  static std::vector<uint8_t> OddChecksumField(std::vector<uint8_t> image, bool plus) {
    size_t end = pe_fixture::SectionTable(plus) + 40 * (size_t)pe_fixture::Get16(image, pe_fixture::kPeOffset + 6);
    std::vector<uint8_t> headers(image.begin() + (ptrdiff_t)pe_fixture::kPeOffset, image.begin() + (ptrdiff_t)end);
    std::copy(headers.begin(), headers.end(), image.begin() + (ptrdiff_t)pe_fixture::kPeOffset + 1);
    image[pe_fixture::kPeOffset] = 0;
    pe_fixture::Put32(image, 0x3C, (uint32_t)pe_fixture::kPeOffset + 1);
    return image;
  }
  // What the rewrite in memory makes: the archive, then the version resource.
  static std::vector<uint8_t> Reference(const std::vector<uint8_t>& templ, const std::string& archive, bool branded) {
    pe::Resource r;
    r.type = pe::KeyString("UPDATE");
    r.name = pe::KeyId(102);
    r.language = 1041;
    r.data.assign(archive.begin(), archive.end());
    pe::Resource check = r;
    check.name = pe::KeyId(ARCHIVE_CHECK_RESOURCE_ID);
    check.data.resize(ARCHIVE_CHECK_SIZE);
    Crc32Tables tables;
    BuildCrc32Tables(&tables);
    MakeArchiveCheck(check.data.data(), (DWORD)archive.size(),
                     Crc32Update(&tables, 0, (const BYTE*)archive.data(), archive.size()));
    std::vector<uint8_t> carrying, built, branded2;
    std::string error;
    EXPECT_TRUE(pe::ReplaceResource(templ, r, &carrying, &error)) << error;
    EXPECT_TRUE(pe::ReplaceResource(carrying, check, &built, &error)) << error;
    if (!branded) return built;
    std::vector<pe::Resource> all;
    EXPECT_TRUE(pe::ReadResources(built, &all, &error)) << error;
    pe::Resource version;
    version.type = pe::KeyId(RT_VERSION_ID);
    version.name = pe::KeyId(1);
    version.language = VERSION_LANGUAGE;
    EXPECT_TRUE(version_info::Build({{"FileVersion", "1.2.3.4"}}, &version.data, &error)) << error;
    all.push_back(version);
    EXPECT_TRUE(pe::WriteResources(built, all, &branded2, &error)) << error;
    return branded2;
  }
};

TEST_F(BuildExeBytes, AnArchiveOfManyPiecesGoesInAsTheRewriteInMemoryPutsIt) {
  auto options = [](bool plus, bool after, uint32_t room) {
    pe_fixture::Options o;
    o.pe32Plus = plus;
    o.resources = std::vector<uint8_t>(16, 0);  // an empty tree
    o.sectionAfterResources = after;
    o.resourceRawSize = room;
    o.overlay = std::vector<uint8_t>(33, 'O');
    return o;
  };
  const struct {
    const char* what;
    std::vector<uint8_t> templ;
    bool branded;
  } rows[] = {
      {"no resources", pe_fixture::Build(pe_fixture::Options()), false},
      {"a last section grown", pe_fixture::Build(options(false, false, 0x200)), false},
      {"a new section behind a .reloc", pe_fixture::Build(options(true, true, 0x200)), false},
      {"branded, a last section grown", pe_fixture::Build(options(true, false, 0x200)), true},
      {"branded, a new section", pe_fixture::Build(options(false, true, 0x200)), true},
      {"branded, the checksum at an odd offset", OddChecksumField(pe_fixture::Build(options(false, true, 0x200)), false),
       true},
  };
  // Stored, and of an odd length: more than two of the pieces it is copied
  // in, the last one short.
  Make("in/UPDATE.INI", "[SETUP]\r\n");
  Make("in/BIG.DAT", Random((5u << 19) + 3, 11));
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), "--store", "*", (dir / "in").string()}).status, 0);
  std::string archiveBytes = Slurp(archive);
  for (const auto& row : rows) {
    fs::path templ = Make("T.EXE", std::string(row.templ.begin(), row.templ.end())), out = dir / "U.EXE";
    std::vector<std::string> args = {"build-exe", "--force", "--template", templ.string(), "--archive", archive.string(),
                                     "-o", out.string()};
    if (row.branded) args.insert(args.end(), {"--version-info", "FileVersion=1.2.3.4"});
    RunResult r = Run(args);
    ASSERT_EQ(r.status, 0) << row.what << ": " << r.err;
    std::vector<uint8_t> expected = Reference(row.templ, archiveBytes, row.branded);
    std::string built = Slurp(out);
    EXPECT_TRUE(std::vector<uint8_t>(built.begin(), built.end()) == expected) << row.what;
    // list reads the archive back (and its check record, and for a branded
    // one then its version).
    EXPECT_EQ(Run({"list", out.string()}).out.rfind(Run({"list", archive.string()}).out + "check: CRC-32 ", 0), 0u)
        << row.what;
  }
}

// The read-back stands between the rewrite and the file: a template whose
// rewrite holds more resources than the reader takes is refused there.
TEST_F(BuildExeBytes, AnExecutableThatDoesNotReadBackIsRefusedAndNothingIsWritten) {
  std::vector<uint8_t> plain = pe_fixture::Build(pe_fixture::Options()), full;
  std::vector<pe::Resource> many(65536);
  for (size_t i = 0; i < many.size(); i++) {
    many[i].type = pe::KeyId((uint16_t)(i >> 8) + 1);
    many[i].name = pe::KeyId((uint16_t)(i & 0xFF) + 1);
  }
  std::string error;
  ASSERT_TRUE(pe::WriteResources(plain, many, &full, &error)) << error;
  Make("in/UPDATE.INI", "[SETUP]\r\n");
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string()}).status, 0);
  fs::create_directory(dir / "out");
  fs::path templ = Make("T.EXE", std::string(full.begin(), full.end()));
  RunResult r = Run({"build-exe", "--force", "--template", templ.string(), "--archive", archive.string(), "-o",
                     (dir / "out/U.EXE").string()});
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("does not read back: resource tree has too many entries"), std::string::npos) << r.err;
  ExpectOnly(dir / "out", {});
}

// The real updaters of the Windows builds (make test builds them before the
// host tests run): the archive goes in as UPDATE/102 in Japanese, every other
// resource (dialog, manifest) stays, and the headers stay consistent enough
// for the platform's own tools to read the result.
class ShippedTemplate : public Wz2, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShippedTemplate, TakesTheArchiveAndKeepsItsOwnResources) {
  std::string preset = GetParam();
  fs::path templ = Wz2Program().parent_path() / ".." / ".." / preset / "bin" / "updater-noarchive.exe";
  if (!fs::exists(templ)) GTEST_SKIP() << templ << " is not built (the " << preset << " preset builds it)";
  fs::path in = Inputs();
  fs::path archive = dir / "UPDATE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), in.string()}).status, 0);
  fs::path out = dir / "UPDATE.EXE";
  RunResult b = Run({"build-exe", "--force", "--template", templ.string(), "--archive", archive.string(), "-o", out.string()});
  ASSERT_EQ(b.status, 0) << b.err;

  std::string t = Slurp(templ), o = Slurp(out);
  std::vector<uint8_t> before(t.begin(), t.end()), after(o.begin(), o.end());
  std::vector<pe::Resource> old, now;
  std::string error;
  ASSERT_TRUE(pe::ReadResources(before, &old, &error)) << error;
  ASSERT_TRUE(pe::ReadResources(after, &now, &error)) << error;
  // The archive and its check record come in; nothing goes.
  ASSERT_EQ(now.size(), old.size() + 2);
  for (const pe::Resource& r : old) {
    bool kept = false;
    for (const pe::Resource& n : now)
      kept = kept || (pe::SameKey(n.type, r.type) && pe::SameKey(n.name, r.name) && n.language == r.language &&
                      n.data == r.data);
    EXPECT_TRUE(kept) << "a resource of the template was lost or changed";
  }
  bool stamped = false;
  for (const pe::Resource& n : now)
    stamped = stamped || (pe::SameKey(n.type, pe::KeyString("UPDATE")) && pe::SameKey(n.name, pe::KeyId(102)) &&
                          n.language == 1041 && std::string(n.data.begin(), n.data.end()) == Slurp(archive));
  EXPECT_TRUE(stamped) << "no UPDATE/102 resource in language 1041 with the archive's bytes";

  pe::Layout layout;
  ASSERT_TRUE(pe::ParseLayout(after, &layout, &error)) << error;
  uint32_t stored;
  std::memcpy(&stored, after.data() + layout.optionalOffset + PE_CHECKSUM_FIELD, 4);
  EXPECT_EQ(stored, pe::ImageChecksum(after, layout.optionalOffset + PE_CHECKSUM_FIELD));
  // The archive's listing, then its check record's line.
  std::string listed = Run({"list", out.string()}).out, entries = Run({"list", archive.string()}).out;
  EXPECT_EQ(listed.rfind(entries + "check: CRC-32 ", 0), 0u) << listed;
  EXPECT_EQ(listed.find('\n', entries.size()), listed.size() - 1) << listed;

  std::string objdump = preset == "win32" ? "i686-w64-mingw32-objdump" : "x86_64-w64-mingw32-objdump";
  if (std::system(("command -v " + objdump + " >/dev/null").c_str()) == 0) {
    EXPECT_EQ(std::system((objdump + " -p " + out.string() + " >/dev/null 2>&1").c_str()), 0)
        << objdump << " cannot read the built updater";
  }
}

INSTANTIATE_TEST_SUITE_P(Updater, ShippedTemplate, ::testing::Values("win32", "win64"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return std::string(i.param); });

// ---- check ---------------------------------------------------------------------

// A SETUP.INI the updater's loader takes.
std::string ValidSetupIni() {
  return "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameDir=Dir\r\nGameExe=G.EXE\r\nUninstExe=U.EXE\r\n"
         "SetupBmp=S.BMP\r\nInstallSelects=1\r\nInstallTitle0=Full\r\nInstallFiles0=G.EXE\r\nShortcuts=0\r\n";
}
// A manifest's [SETUP] with every key the updater requires.
std::string SetupSection() { return "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameClass=Cls\r\nGameDir=Dir\r\n"; }

class Check : public Wz2 {
 protected:
  // Packs UPDATE.INI with `manifest` (code page 932 bytes) and the named
  // files, then runs check with `extra` arguments.
  RunResult CheckManifest(const std::string& manifest, const std::vector<std::string>& files,
                          const std::vector<std::string>& extra = {}) {
    fs::create_directories(dir / "in");
    Make("in/UPDATE.INI", manifest);
    for (const std::string& f : files) Make("in/" + f, "data of " + f);
    fs::path archive = dir / "UPDATE.WZ2";
    fs::remove(archive);
    EXPECT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string()}).status, 0);
    std::vector<std::string> args{"check", "-q", archive.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args);
  }
  static bool Has(const RunResult& r, const std::string& kind, const std::string& key) {
    return r.out.find(kind + ": " + key + ": ") != std::string::npos;
  }
};

// What check must report of one manifest, a row each. A finding is named by
// its severity and key; `present` false means it must not be reported.
struct Seen {
  const char* kind;  // "error" or "warning"
  const char* key;
  bool present;
};
struct CheckRow {
  const char* name;
  std::string manifest;  // UPDATE.INI, code page 932
  std::vector<std::string> files;
  std::string setupIni;  // given with --setup when not empty
  const char* instMode;  // given with --inst-mode when not null
  int status;            // -1 where the row is not about the status
  std::vector<Seen> seen;
  std::vector<std::string> says;  // text the report holds
  bool silent;                    // nothing at all is reported
};
void PrintTo(const CheckRow& row, std::ostream* out) { *out << row.name; }

// The list keys CopyFile01 to CopyFile16 after UpdateFile00 and a gap.
std::string ListWithAGapAndSixteenCopies() {
  std::string m = SetupSection() + "[UPDATE]\r\nUpdateFile00=A.DAT\r\nUpdateFile02=A.DAT\r\nCopyFile00=1:MOVIE\r\n";
  for (int i = 1; i <= 16; i++) m += "CopyFile" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "=X" + std::to_string(i) + "\r\n";
  return m;
}

// The updater compares RequiredDiskSpace as an unsigned 32-bit count of a
// signed conversion: negative values and values past the signed range are
// warned about with what the updater will really ask for.
CheckRow DiskSpace(const char* name, const char* value, const char* said) {
  CheckRow row{name, SetupSection() + "[UPDATE]\r\nRequiredDiskSpace=" + value + "\r\nUpdateFile00=A.DAT\r\n",
               {"A.DAT"}, "", nullptr, 0, {{"warning", "RequiredDiskSpace", said != nullptr}}, {}, false};
  if (said) row.says.push_back(said);
  return row;
}

const std::string kInstallModes = SetupSection() + "[UPDATE]\r\nUpdateFile00=1,A.DAT\r\nUpdateFile01=2,u,B.DAT\r\n";

const CheckRow kCheckRows[] = {
    {"ACleanManifestHasNoFindings",
     SetupSection() + "UpdaterVersion=1.01\r\n[UPDATE]\r\nRequiredDiskSpace=50000000\r\nUpdateFile00=SETUP.INI\r\n"
                      "UpdateFile01=u,SOUND.PAK\r\nUpdateFile02=o,VOICE\\VOICE1.PAK\r\nUpdateFile03=2,d,USER.DAT\r\n",
     {"SETUP.INI", "SOUND.PAK", "VOICE1.PAK", "USER.DAT"}, "", nullptr, 0, {}, {}, true},
    // An empty value counts as missing.
    {"EachMissingRequiredKeyIsAnError", "[SETUP]\r\nCompanyName=Maker\r\nGameClass=\r\n[UPDATE]\r\nUpdateFile00=A.DAT\r\n",
     {"A.DAT"}, "", nullptr, 1,
     {{"error", "CompanyName", false}, {"error", "GameTitle", true}, {"error", "GameClass", true}, {"error", "GameDir", true}},
     {}, false},
    {"AnEntryNamingNoArchiveEntryIsAnError",
     SetupSection() + "[UPDATE]\r\nUpdateFile00=u,SUB\\MISSING.DAT\r\nUpdateFile01=A.DAT\r\n", {"A.DAT"}, "", nullptr, 1,
     {{"error", "UpdateFile00", true}, {"error", "UpdateFile01", false}}, {"MISSING.DAT"}, false},
    {"NoListAtAllIsAnError", SetupSection() + "[UPDATE]\r\nRequiredDiskSpace=1\r\n", {}, "", nullptr, 1,
     {{"error", "UpdateFile00", true}}, {}, false},
    // Warnings only.
    {"KeysAfterAGapAndBeyondFifteenAreNeverRead", ListWithAGapAndSixteenCopies(), {"A.DAT"}, "", nullptr, 0,
     {{"warning", "UpdateFile02", true}, {"warning", "CopyFile16", true}, {"warning", "CopyFile15", false}}, {}, false},
    // A path field over 259 bytes makes the updater refuse the entry.
    {"ValuesOverTheirCapacityAreReported",
     SetupSection() + "UpdaterTitle=" + std::string(300, 'T') + "\r\n[UPDATE]\r\nUpdateFile00=" + std::string(300, 'P') +
         "\r\nUpdateFile01=A.DAT\r\n",
     {"A.DAT"}, "", nullptr, 1, {{"warning", "UpdaterTitle", true}, {"error", "UpdateFile00", true}}, {}, false},
    DiskSpace("RequiredDiskSpaceInRangeIsTaken", "50000000", nullptr),
    DiskSpace("RequiredDiskSpaceAtTheSignedMaximumIsTaken", "2147483647", nullptr),
    DiskSpace("RequiredDiskSpaceWithBlanksSignAndZerosIsTaken", " +0007", nullptr),
    DiskSpace("RequiredDiskSpaceMinusOneAsksForFourGibibytes", "-1", "4294967295"),
    DiskSpace("RequiredDiskSpaceBelowZeroWrapsAround", "-1001", "4294966295"),
    DiskSpace("RequiredDiskSpacePastTheSignedRangeStopsAtItsMaximum", "2147483648", "2147483647"),
    DiskSpace("RequiredDiskSpaceOfTwentyDigitsStopsAtTheSignedMaximum", "99999999999999999999", "2147483647"),
    {"AnOperationLetterFollowedByABlankIsReported",
     SetupSection() + "[UPDATE]\r\nUpdateFile00=u ,A.DAT\r\nUpdateFile01=A.DAT\r\n", {"A.DAT"}, "", nullptr, -1,
     {{"warning", "UpdateFile00", true}}, {"path-only"}, false},
    // D: is dropped; '/' separates on Windows.
    {"PathsThatLeaveOrRestartTheGameDirectoryAreReported",
     SetupSection() + "[UPDATE]\r\nUpdateFile00=..\\A.DAT\r\nUpdateFile01=\\B.DAT\r\nUpdateFile02=u,D:\\C.DAT\r\n"
                      "UpdateFile03=SUB/../D.DAT\r\n",
     {"A.DAT", "B.DAT", "C.DAT", "D.DAT"}, "", nullptr, 1,
     {{"error", "UpdateFile00", true}, {"warning", "UpdateFile01", true}, {"warning", "UpdateFile02", true},
      {"error", "UpdateFile03", true}},
     {}, false},
    // CopyFile02 has no disk of its own: an earlier entry found the disk.
    {"ACopyDiskWithoutItsCheckFileIsAnError",
     SetupSection() + "[UPDATE]\r\nCopyFile00=1:MOVIE\r\nCopyFile01=2:VOICE\r\nCopyFile02=EXTRA\r\n", {},
     ValidSetupIni() + "DiskCheckFile1=DISK1.TAG\r\n", nullptr, 1,
     {{"error", "CopyFile00", false}, {"error", "CopyFile01", true}, {"error", "CopyFile02", false}}, {}, false},
    {"ACopyEntryWithoutAnyDiskSoFarIsAnError", SetupSection() + "[UPDATE]\r\nCopyFile00=MOVIE\r\n", {}, "", nullptr, -1,
     {{"error", "CopyFile00", true}}, {}, false},
    {"ArchiveEntriesNoEntryWritesAreWarnings", SetupSection() + "[UPDATE]\r\nUpdateFile00=A.DAT\r\n", {"A.DAT", "B.DAT"},
     "", nullptr, 0, {{"warning", "B.DAT", true}, {"warning", "A.DAT", false}, {"warning", "UPDATE.INI", false}}, {},
     false},
    // The updater shows "nothing needs updating" in an error box for an
    // installation without entries, so check calls it an error.
    {"AnInstallModeWithEntriesHasNoFindings", kInstallModes, {"A.DAT", "B.DAT"}, "", "1", 0, {}, {}, true},
    {"AnInstallModeWithoutEntriesIsAnError", kInstallModes, {"A.DAT", "B.DAT"}, "", "3", 1,
     {{"error", "InstMode", true}}, {}, false},
};

class CheckRows : public Check, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(CheckRows, ReportsWhatTheUpdaterWouldMeet) {
  const CheckRow& row = GetParam();
  std::vector<std::string> extra;
  if (!row.setupIni.empty()) extra = {"--setup", Make("SETUP.INI", row.setupIni).string()};
  if (row.instMode) extra.insert(extra.end(), {"--inst-mode", row.instMode});
  RunResult r = CheckManifest(row.manifest, row.files, extra);
  if (row.status >= 0) {
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
  }
  for (const Seen& s : row.seen) EXPECT_EQ(Has(r, s.kind, s.key), s.present) << s.kind << " " << s.key << ": " << r.out;
  for (const std::string& text : row.says) EXPECT_NE(r.out.find(text), std::string::npos) << text << ": " << r.out;
  if (row.silent) {
    EXPECT_EQ(r.out, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Manifests, CheckRows, ::testing::ValuesIn(kCheckRows),
                         [](const ::testing::TestParamInfo<CheckRow>& i) { return std::string(i.param.name); });


// The demo's manifest and profile, stored in UTF-8 with LF in the
// repository, as the updater reads them: code page 932 with CR LF.
std::string DemoFile(const std::string& relative) {
  fs::path repo = WZ2_SOURCE_DIR;
  std::string utf8 = Slurp(repo / "examples/demo" / relative), crlf, cp932;
  for (char c : utf8) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  EXPECT_TRUE(names::Utf8ToCp932(crlf, &cp932)) << relative;
  return cp932;
}

TEST_F(Check, TheDemoManifestHasNoFindings) {
  std::string manifest = DemoFile("update/UPDATE.INI");
  ASSERT_FALSE(manifest.empty());
  Make("SETUP.INI", DemoFile("game/SETUP.INI"));
  RunResult r = CheckManifest(manifest,
                              {"README.TXT", "SOUND.PAK", "SCENARIO.DAT", "VOICE1.PAK", "VOICE2.PAK", "CONFIG.DAT",
                               "RECORDS.DAT", "PATCH.DAT", "HIRES.PAK"},
                              {"--setup", (dir / "SETUP.INI").string(), "--inst-mode", "1", "--strict"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(Check, AnArchiveWithoutTheManifestIsAnError) {
  Make("in/A.DAT", "a");
  ASSERT_EQ(Run({"pack", "-o", (dir / "A.WZ2").string(), (dir / "in").string()}).status, 0);
  RunResult r = Run({"check", (dir / "A.WZ2").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r, "error", "UPDATE.INI")) << r.out;
}

// A manifest of megabytes is read once, as it is expanded: the keys the
// updater reads behind a hundred thousand others and a line of a megabyte
// are still found, and the size and the long line are reported.
TEST_F(Check, AHugeManifestIsReadOnceAndItsSizeIsAWarning) {
  std::string m = SetupSection() + "Junk=" + std::string(1 << 20, 'j') + "\r\n";
  for (int i = 0; i < 100000; i++) m += "Other" + std::to_string(i) + "=x\r\n";
  m += "[UPDATE]\r\nUpdateFile00=A.DAT\r\n";
  RunResult r = CheckManifest(m, {"A.DAT"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("warning: UPDATE.INI: 1 line(s) longer than 65536 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("warning: UPDATE.INI: the manifest is " + std::to_string(m.size()) + " bytes"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
}

TEST_F(Check, ReadsTheManifestOutOfABuiltExecutable) {
  Make("in/UPDATE.INI", SetupSection() + "[UPDATE]\r\nUpdateFile00=NOPE.DAT\r\n");
  ASSERT_EQ(Run({"pack", "-o", (dir / "A.WZ2").string(), (dir / "in").string()}).status, 0);
  std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options());
  Spit(dir / "T.EXE", std::string(image.begin(), image.end()));
  ASSERT_EQ(Run({"build-exe", "--force", "--template", (dir / "T.EXE").string(), "--archive", (dir / "A.WZ2").string(), "-o",
                 (dir / "U.EXE").string()}).status, 0);
  RunResult r = Run({"check", (dir / "U.EXE").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r, "error", "UpdateFile00")) << r.out;
}

// ---- help ----------------------------------------------------------------------

TEST_F(Wz2, HelpDocumentsEveryCommandAndOption) {
  RunResult overview = Run({"--help"});
  EXPECT_EQ(overview.status, 0);
  for (const char* c : {"pack", "list", "extract", "check", "build-exe", "--quiet", "--version"})
    EXPECT_NE(overview.out.find(c), std::string::npos) << c;
  struct {
    const char* command;
    std::vector<const char*> options;
  } expected[] = {
      {"pack", {"-o", "--level", "fast", "default", "max", "--store", "--compress-directory"}},
      {"list", {"ARCHIVE|EXE", "--json"}},
      {"extract", {"-C", "NAME"}},
      {"check", {"--setup", "--inst-mode", "--strict", "--json"}},
      {"build-exe", {"--template", "--arch", "--archive", "-o", "--icon", "--version-info"}},
  };
  for (const auto& e : expected) {
    RunResult h = Run({"help", e.command});
    EXPECT_EQ(h.status, 0) << e.command;
    for (const char* o : e.options) EXPECT_NE(h.out.find(o), std::string::npos) << e.command << " " << o;
    EXPECT_EQ(Run({e.command, "--help"}).out, h.out);
    // Every option the help lists is one the command takes: given alone it
    // may lack its value or the command's operands, but is never unknown.
    std::istringstream lines(h.out);
    std::string line;
    int listed = 0;
    while (std::getline(lines, line)) {
      if (line.rfind("  -", 0) != 0) continue;
      std::string option = line.substr(2, line.find(' ', 2) - 2);
      RunResult r = Run({e.command, option});
      EXPECT_EQ(r.status, 2) << e.command << " " << option;
      EXPECT_EQ(r.err.find("unknown option"), std::string::npos) << e.command << " " << option << ": " << r.err;
      listed++;
    }
    EXPECT_GT(listed, 0) << e.command;
  }
  ExpectCleanFailure(Run({"help", "nothing"}), 2);
}

// Words from a small vocabulary: compressible, but slow to parse at "max".
std::string Words(size_t bytes) {
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "epsilon ", "zeta ", "eta ", "theta "};
  std::string s;
  uint32_t seed = 1;
  while (s.size() < bytes) {
    seed = seed * 1664525u + 1013904223u;
    s += words[seed >> 29];
  }
  return s;
}

TEST_F(Wz2, AnInterruptedPackLeavesNoFileBehind) {
  Make("in/BIG.DAT", Words(8 << 20));
  std::vector<std::string> before = Names(dir / "in");
  std::string program = Wz2Program().string(), out = (dir / "in/A.WZ2").string(), in = (dir / "in/BIG.DAT").string();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(program.c_str(), program.c_str(), "pack", "--level", "max", "-o", out.c_str(), in.c_str(), (char*)nullptr);
    _exit(127);
  }
  // Interrupted once its temporary file exists, with seconds of work left.
  bool writing = WaitForNewName(dir / "in", before, pid);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(writing) << "pack ended before it made its temporary file";
  ASSERT_TRUE(WIFSIGNALED(status)) << "pack ended before the interrupt; make the input larger";
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(Names(dir / "in"), before);
}

TEST_F(Wz2, ATerminalShowsProgressWithBytesAndRate) {
  Make("in/BIG.DAT", Words(2 << 20));
  std::string program = Wz2Program().string(), out = (dir / "A.WZ2").string(), in = (dir / "in/BIG.DAT").string();
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(program.c_str(), program.c_str(), "pack", "--level", "max", "-o", out.c_str(), in.c_str(), (char*)nullptr);
    _exit(127);
  }
  std::string screen;
  char buffer[4096];
  ssize_t n;
  while ((n = read(master, buffer, sizeof(buffer))) > 0) screen.append(buffer, (size_t)n);
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
  // The first line appears as the file starts, before its bytes are done.
  EXPECT_NE(screen.find("packing: 0 B / 2.0 MiB  0 B/s  BIG.DAT"), std::string::npos) << screen;
  EXPECT_NE(screen.find("packing: 2.0 MiB / 2.0 MiB  "), std::string::npos) << screen;
  EXPECT_NE(screen.find("B/s"), std::string::npos) << screen;
}

TEST_F(Wz2, QuietAndNonTerminalRunsPrintNoProgress) {
  fs::path in = Inputs();
  RunResult r = RunProcess({"pack", "-o", (dir / "A.WZ2").string(), in.string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");  // stderr is a file here: no progress
  RunResult q = RunProcess({"--quiet", "pack", "-o", (dir / "B.WZ2").string(), in.string()});
  EXPECT_EQ(q.out, "");
  EXPECT_EQ(q.err, "");
}

}  // namespace

// ---- Hostile and huge inputs -------------------------------------------------------

class Hostile : public Wz2 {
 protected:
  fs::path Template(std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options())) {
    return Make("UPDATER.EXE", std::string(image.begin(), image.end()));
  }
  std::string CleanManifest() {
    return "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameClass=Cls\r\nGameDir=Dir\r\n"
           "[UPDATE]\r\nUpdateFile00=SOUND.PAK\r\n";
  }
  fs::path CleanArchive() {
    Make("in/UPDATE.INI", CleanManifest());
    Make("in/SOUND.PAK", Text(50));
    fs::path archive = dir / "UPDATE.WZ2";
    EXPECT_EQ(Run({"pack", "-o", archive.string(), (dir / "in").string()}).status, 0);
    return archive;
  }
  static ArchiveEntry Record(const char* name, uint8_t attributes, uint32_t fileSize, uint32_t storedSize) {
    ArchiveEntry e;
    memset(&e, 0, sizeof(e));
    memcpy(e.name, name, strlen(name));
    e.attributes = attributes;
    e.fileSize = fileSize;
    e.storedSize = storedSize;
    return e;
  }
};

TEST_F(Hostile, ASizeClaimPastWhatItsBlockCanHoldIsRefusedByEveryReader) {
  // 64 bytes of archive whose one compressed entry claims 4 GiB.
  std::string archive = ArchiveBuilder()
                            .Stored("UPDATE.INI", CleanManifest())
                            .Raw(Record("SOUND.PAK", ENTRY_COMPRESSED, 0xFFFFFFFFu, 16), std::string(16, '\0'))
                            .BuildString();
  fs::path a = Make("CLAIM.WZ2", archive);
  fs::path t = Template();
  fs::create_directory(dir / "out");
  const std::vector<std::vector<std::string>> runs = {
      {"list", a.string()},
      {"extract", a.string(), "-C", (dir / "out").string()},
      {"check", a.string()},
      {"build-exe", "--force", "--template", t.string(), "--archive", a.string(), "-o", (dir / "U.EXE").string()},
  };
  for (const auto& args : runs) {
    // Refused by the claim, before any of the 4 GiB is made: a run that
    // wrote a mebibyte of it would end by SIGXFSZ, not in one line.
    RunResult r = RunProcess(args, fs::path(), [] {
      struct rlimit limit = {1u << 20, 1u << 20};
      setrlimit(RLIMIT_FSIZE, &limit);
    });
    ExpectCleanFailure(r);
    EXPECT_NE(r.err.find("claims more bytes than its compressed block can hold"), std::string::npos) << r.err;
  }
  ExpectOnly(dir / "out", {});
  EXPECT_FALSE(fs::exists(dir / "U.EXE"));
}

// The names a temporary file once had (".<name>.wz2tmp-<pid>-<n>") were
// known before the run; links planted under every such name must be neither
// followed nor become the output.
TEST_F(Hostile, TemporaryFilesNeverFollowALinkPlantedUnderTheirName) {
  fs::path archive = CleanArchive();
  fs::path t = Template();
  fs::create_directory(dir / "out");
  struct Row {
    std::vector<std::string> args;
    fs::path output;
  };
  const Row rows[] = {
      {{"pack", "-o", (dir / "out/NEW.WZ2").string(), (dir / "in").string()}, dir / "out/NEW.WZ2"},
      {{"extract", archive.string(), "-C", (dir / "out").string(), "SOUND.PAK"}, dir / "out/SOUND.PAK"},
      {{"build-exe", "--template", t.string(), "--archive", archive.string(), "-o", (dir / "out/U.EXE").string()},
       dir / "out/U.EXE"},
  };
  fs::path victim = dir / "victim";
  for (const Row& row : rows) {
    // The run is this process: its temporary names carry this pid.
    std::string plant = row.output.filename().string();
    for (int n = 0; n < 8; n++) {
      std::string link = (dir / "out" / ("." + plant + ".wz2tmp-" + std::to_string(getpid()) + "-" + std::to_string(n))).string();
      ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0) << link;
    }
    RunResult r = Run(row.args);
    EXPECT_EQ(r.status, 0) << row.args[0] << ": " << r.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(victim))) << row.args[0] << " wrote through a planted link";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(row.output))) << row.args[0];
  }
}

TEST_F(Hostile, TemporariesOfKilledRunsAreRemovedByTheNextRunIntoTheirFolder) {
  Make("in/A.DAT", "a");
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  std::string dead = std::to_string(gone), alive = std::to_string(getpid());
  fs::path out = dir / "out";
  // Untouched for an hour: abandoned. Written a moment ago: perhaps a run
  // elsewhere that shares the folder, so it stays.
  fs::path abandoned = Make("out/.OLD.WZ2.wz2tmp-" + dead + "-0123456789abcdef", "left by a killed run");
  SetMtime(abandoned, time(nullptr) - 3600, 0);
  Make("out/.NEW.WZ2.wz2tmp-" + dead + "-0123456789abcdef", "written a moment ago");
  SetMtime(Make("out/.OLD.WZ2.wz2tmp-" + alive + "-0123456789abcdef", "a run still writing"), time(nullptr) - 3600, 0);
  fs::create_symlink(dir / "in/A.DAT", out / (".LINK.wz2tmp-" + dead + "-0123456789abcdef"));
  Make("out/KEEP.wz2tmp-" + dead + "-1", "not hidden: not ours");
  ASSERT_EQ(Run({"pack", "-o", (out / "NEW.WZ2").string(), (dir / "in").string()}).status, 0);
  ExpectOnly(out, {".LINK.wz2tmp-" + dead + "-0123456789abcdef", ".NEW.WZ2.wz2tmp-" + dead + "-0123456789abcdef",
                   ".OLD.WZ2.wz2tmp-" + alive + "-0123456789abcdef",
                   "KEEP.wz2tmp-" + dead + "-1", "NEW.WZ2"});
  EXPECT_EQ(Slurp(dir / "in/A.DAT"), "a");
}

TEST_F(Hostile, BuildExeRefusesToWriteOverItsArchiveOrTemplate) {
  fs::path archive = CleanArchive();
  fs::path t = Template();
  std::string archiveBefore = Slurp(archive), templateBefore = Slurp(t);
  fs::create_hard_link(t, dir / "ALIAS.EXE");
  const std::vector<std::string> outputs = {archive.string(), t.string(), (dir / "ALIAS.EXE").string(),
                                            (dir / "in/../UPDATE.WZ2").string()};
  for (const std::string& o : outputs) {
    RunResult r = Run({"build-exe", "--template", t.string(), "--archive", archive.string(), "-o", o});
    ExpectCleanFailure(r);
    EXPECT_NE(r.err.find("the output is the"), std::string::npos) << o << ": " << r.err;
  }
  EXPECT_EQ(Slurp(archive), archiveBefore);
  EXPECT_EQ(Slurp(t), templateBefore);
}

TEST_F(Hostile, BuildExeRefusesWhatCheckRejectsUnlessForced) {
  Make("bare/SOUND.PAK", Text(10));  // no UPDATE.INI
  fs::path bare = dir / "BARE.WZ2";
  ASSERT_EQ(Run({"pack", "-o", bare.string(), (dir / "bare").string()}).status, 0);
  fs::path t = Template();
  RunResult r = Run({"build-exe", "--template", t.string(), "--archive", bare.string(), "-o", (dir / "U.EXE").string()});
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("UPDATE.INI"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "U.EXE"));
  r = Run({"build-exe", "--force", "--template", t.string(), "--archive", bare.string(), "-o", (dir / "U.EXE").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  // A clean archive needs no force.
  fs::path clean = CleanArchive();
  r = Run({"build-exe", "--template", t.string(), "--archive", clean.string(), "-o", (dir / "V.EXE").string()});
  EXPECT_EQ(r.status, 0) << r.err;
}

// Templates the rewrite once turned into executables that do not read back;
// each built executable must now list exactly as its archive.
TEST_F(Hostile, BuildExeOutputAlwaysReadsBackItsArchive) {
  fs::path archive = CleanArchive();
  std::vector<uint8_t> plain = pe_fixture::Build(pe_fixture::Options());
  std::vector<uint8_t> withEmpty, noSections = plain;
  std::vector<pe::Resource> empty(1);
  empty[0].type = pe::KeyString("ZERO");  // after UPDATE: the last data in the section
  empty[0].name = pe::KeyId(1);
  std::string error;
  ASSERT_TRUE(pe::WriteResources(plain, empty, &withEmpty, &error)) << error;
  pe_fixture::Put16(noSections, pe_fixture::kPeOffset + 4 + 2, 0);
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> templates = {
      {"a zero-length resource", withEmpty}, {"no sections", noSections}};
  for (const auto& t : templates) {
    fs::path templ = Template(t.second), built = dir / "U.EXE";
    RunResult r = Run({"build-exe", "--template", templ.string(), "--archive", archive.string(), "-o", built.string()});
    ASSERT_EQ(r.status, 0) << t.first << ": " << r.err;
    RunResult l = Run({"list", built.string()});
    EXPECT_EQ(l.status, 0) << t.first << ": " << l.err;
    EXPECT_EQ(l.out.rfind(Run({"list", archive.string()}).out + "check: CRC-32 ", 0), 0u) << t.first;
    EXPECT_EQ(std::count(l.out.begin(), l.out.end(), '\n'), 4) << t.first << ": " << l.out;
    std::string exe = Slurp(built);
    std::vector<uint8_t> bytes(exe.begin(), exe.end());
    pe::Layout layout;
    ASSERT_TRUE(pe::ParseLayout(bytes, &layout, &error)) << error;
    for (uint16_t s = 0; s < layout.sectionCount; s++)
      EXPECT_GE(pe_fixture::Get32(bytes, layout.sectionTableOffset + 40 * (size_t)s + 12), layout.sizeOfHeaders)
          << t.first << ": a section overlaps the headers";
  }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define WZ2_ADDRESS_LIMIT_WORKS 1
#elif !defined(__SANITIZE_ADDRESS__) && defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define WZ2_ADDRESS_LIMIT_WORKS 1
#endif
#endif

TEST_F(Hostile, RunningOutOfMemoryIsOneLineAndLeavesNoTemporaryFile) {
#ifndef WZ2_ADDRESS_LIMIT_WORKS
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
  fs::resize_file(Make("in/BIG.DAT", ""), 400u << 20);  // sparse
  fs::create_directory(dir / "out");
  RunResult r = RunProcess({"pack", "-o", (dir / "out/A.WZ2").string(), (dir / "in").string()}, fs::path(), [] {
    struct rlimit limit = {256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &limit);
  });
  ExpectCleanFailure(r);
  EXPECT_NE(r.err.find("out of memory"), std::string::npos) << r.err;
  ExpectOnly(dir / "out", {});
#endif
}

// Every entry looked up by name: once a linear scan per entry, minutes for
// as many entries as an archive may hold. The look-up's compares are counted
// in names_test; here every entry must be looked up and found.
TEST_F(Hostile, CheckAndExtractFindEachOfTheMostEntriesAnArchiveHolds) {
  ArchiveBuilder b;
  b.Stored("UPDATE.INI", CleanManifest()).Stored("SOUND.PAK", "s");
  const int unwritten = (int)ARCHIVE_MAX_ENTRIES - 2;
  char name[24];  // room for any int, as -O1 cannot bound i
  for (int i = 0; i < unwritten; i++) {
    snprintf(name, sizeof(name), "F%06d.DAT", i);
    b.Stored(name, "");
  }
  fs::path archive = Make("MANY.WZ2", b.BuildString());
  RunResult c = Run({"check", archive.string()});
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(std::count(c.out.begin(), c.out.end(), '\n'), unwritten) << "one warning per unwritten entry";
  snprintf(name, sizeof(name), "F%06d.DAT", unwritten - 1);
  RunResult x = Run({"extract", archive.string(), "-C", dir.string(), name, "f000000.dat"});
  EXPECT_EQ(x.status, 0) << x.err;
  EXPECT_TRUE(fs::exists(dir / name));
}

// A mapped input cut short faults on its missing pages (SIGBUS): the run
// ends in one line and removes its pending files. The signal is sent here,
// as the kernel would send it, while extract writes.
TEST_F(Hostile, AnInputCutShortUnderAMappingEndsInOneLineAndLeavesNothing) {
  for (int i = 0; i < 64; i++) Make("in/F" + std::to_string(i) + ".DAT", Words(1 << 20));
  fs::path archive = dir / "BIG.WZ2";
  ASSERT_EQ(Run({"pack", "-o", archive.string(), "--level", "fast", (dir / "in").string()}).status, 0);
  fs::create_directory(dir / "out");
  std::string program = Wz2Program().string(), errFile = (dir / "err").string();
  pid_t pid = fork();
  if (pid == 0) {
    int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(e, 2);
    execl(program.c_str(), program.c_str(), "extract", "-q", archive.c_str(), "-C", (dir / "out").c_str(), (char*)nullptr);
    _exit(127);
  }
  // Wait for the first pending file, then fault the run.
  bool writing = WaitForNewName(dir / "out", {}, pid);
  kill(pid, SIGBUS);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(writing) << "extract ended before it made a file";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::string err = Slurp(errFile);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("truncated while it was read"), std::string::npos) << err;
  ExpectOnly(dir / "out", {});
}

// ---- What is not a regular file -----------------------------------------------

namespace {

// The kind of node at p, its links not followed; "" when there is none.
std::string NodeKind(const fs::path& p) {
  struct stat st;
  if (lstat(p.c_str(), &st) != 0) return "";
  if (S_ISREG(st.st_mode)) return "file";
  if (S_ISLNK(st.st_mode)) return "link";
  if (S_ISDIR(st.st_mode)) return "folder";
  if (S_ISFIFO(st.st_mode)) return "fifo";
  if (S_ISSOCK(st.st_mode)) return "socket";
  if (S_ISCHR(st.st_mode)) return "device";
  return "other";
}

// Makes a node of `kind` at p; false when this machine does not let the
// test make it (a device node without the right to make one).
bool MakeNode(const std::string& kind, const fs::path& p, const fs::path& victim) {
  if (kind == "link") return symlink(victim.c_str(), p.c_str()) == 0;
  if (kind == "dangling link") return symlink((p.string() + ".nowhere").c_str(), p.c_str()) == 0;
  if (kind == "fifo") return mkfifo(p.c_str(), 0644) == 0;
  if (kind == "folder") return mkdir(p.c_str(), 0755) == 0;
  if (kind == "device") return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // as /dev/null
  if (kind == "socket") {
    struct sockaddr_un a;
    memset(&a, 0, sizeof(a));
    a.sun_family = AF_UNIX;
    if (p.string().size() >= sizeof(a.sun_path)) return false;
    memcpy(a.sun_path, p.c_str(), p.string().size());
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    if (s < 0) return false;
    bool made = bind(s, (struct sockaddr*)&a, sizeof(a)) == 0;
    close(s);
    return made;
  }
  return false;
}

}  // namespace

// The rename at the end of a write replaces whatever node stands at the
// output: as root, -o /dev/null once left a regular file there holding the
// archive. Every writing command refuses such an output in one line and
// leaves it, and what it points to, as they were.
TEST_F(Hostile, AnOutputThatIsNotARegularFileIsRefusedAndLeftAsItIs) {
  fs::path archive = CleanArchive();
  fs::path t = Template();
  fs::path victim = Make("VICTIM.DAT", "not to be replaced");
  const char* const kinds[] = {"link", "dangling link", "fifo", "socket", "folder", "device"};
  for (const char* kind : kinds) {
    for (const std::string& command : {std::string("pack"), std::string("build-exe")}) {
      fs::path out = dir / "out";
      fs::remove_all(out);
      fs::create_directory(out);
      fs::path target = out / "T";
      if (!MakeNode(kind, target, victim)) {
        EXPECT_STREQ(kind, "device") << "cannot make a " << kind;
        continue;
      }
      std::string before = NodeKind(target);
      std::vector<std::string> args =
          command == "pack" ? std::vector<std::string>{"pack", "-o", target.string(), (dir / "in").string()}
                            : std::vector<std::string>{"build-exe", "--template", t.string(), "--archive",
                                                       archive.string(), "-o", target.string()};
      RunResult r = Run(args);
      std::string what = command + " -o " + kind;
      ExpectCleanFailure(r);
      EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << what << ": " << r.err;
      EXPECT_EQ(NodeKind(target), before) << what;
      ExpectOnly(out, {"T"});
    }
  }
  EXPECT_EQ(Slurp(victim), "not to be replaced");
  // "-" is no file here and not standard output either: refused as usage.
  const std::vector<std::vector<std::string>> dashes = {
      {"pack", "-o", "-", (dir / "in").string()},
      {"build-exe", "--template", t.string(), "--archive", archive.string(), "-o", "-"},
  };
  for (const auto& args : dashes) {
    RunResult r = Run(args, dir);
    ExpectCleanFailure(r, 2);
    EXPECT_TRUE(r.out.empty()) << args[0];
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "-"))) << args[0];
  }
}

// A folder entry whose kind cannot be learnt once threw out of pack
// (SIGABRT, a core dump). It is one line naming the entry, and no output.
TEST_F(Hostile, PackStopsAtAFolderEntryItCannotLookAtWithOneLineNamingIt) {
  struct Row {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links;  // name, what it names
    bool unprivileged;  // root searches every folder
  };
  const Row rows[] = {
      {"a link to itself", {{"LOOP.DAT", "LOOP.DAT"}}, false},
      {"two links naming each other", {{"LOOP.DAT", "BACK.DAT"}, {"BACK.DAT", "LOOP.DAT"}}, false},
      {"a link into a folder that cannot be searched", {{"LOOP.DAT", "../shut/A.DAT"}}, true},
  };
  for (const Row& row : rows) {
    if (row.unprivileged && geteuid() == 0) continue;
    fs::remove_all(dir / "in");
    fs::remove_all(dir / "out");
    fs::remove_all(dir / "shut");
    Make("in/A.DAT", "a");
    Make("shut/A.DAT", "a");
    fs::permissions(dir / "shut", fs::perms::none);
    fs::create_directory(dir / "out");
    for (const auto& link : row.links) fs::create_symlink(link.second, dir / "in" / link.first);
    RunResult r = Run({"pack", "-o", (dir / "out/A.WZ2").string(), (dir / "in").string()});
    fs::permissions(dir / "shut", fs::perms::owner_all);
    ExpectCleanFailure(r);
    // Whichever of the links the folder lists first is named.
    bool named = false;
    for (const auto& link : row.links) named = named || r.err.find((dir / "in" / link.first).string()) != std::string::npos;
    EXPECT_TRUE(named) << row.what << ": " << r.err;
    ExpectOnly(dir / "out", {});
  }
}

// Inputs read whole and archives must be regular files: a FIFO once made
// each of these wait for a writer for ever, and /dev/zero was read until
// memory ran out.
TEST_F(Hostile, InputsThatAreNotRegularFilesAreRefusedInOneLine) {
  fs::path archive = CleanArchive();
  fs::path t = Template();
  ASSERT_EQ(mkfifo((dir / "FIFO").c_str(), 0644), 0);
  fs::create_directory(dir / "out");
  for (const std::string& node : {(dir / "FIFO").string(), std::string("/dev/zero")}) {
    const std::vector<std::vector<std::string>> runs = {
        {"check", archive.string(), "--setup", node},
        {"build-exe", "--template", node, "--archive", archive.string(), "-o", (dir / "out/U.EXE").string()},
        {"build-exe", "--template", t.string(), "--archive", node, "-o", (dir / "out/U.EXE").string()},
        {"list", node},
        {"check", node},
        {"extract", node, "-C", (dir / "out").string()},
        {"pack", "-o", (dir / "out/A.WZ2").string(), node},
    };
    for (const auto& args : runs) {
      RunResult r = RunProcess(args, fs::path(), [] {
#ifdef WZ2_ADDRESS_LIMIT_WORKS
        // Reading /dev/zero whole must not take the machine's memory.
        struct rlimit limit = {1u << 30, 1u << 30};
        setrlimit(RLIMIT_AS, &limit);
#endif
      });
      std::string what;
      for (const std::string& a : args) what += a + " ";
      ExpectCleanFailure(r);
      EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << what << ": " << r.err;
      ExpectOnly(dir / "out", {});
    }
  }
}

// Only names exactly as the tool makes them (".NAME.wz2tmp-PID-" and
// sixteen hex digits) are its own: a user's file that merely looks alike,
// however old and whatever pid it names, stays.
TEST_F(Hostile, TheCleanUpRemovesOnlyTheToolsOwnTemporaryNames) {
  Make("in/A.DAT", "a");
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  std::string dead = std::to_string(gone);
  const std::string kept[] = {
      ".notes.wz2tmp-" + dead + "-draft",
      ".X.wz2tmp-" + dead + "-0123456789abcde",    // fifteen digits
      ".X.wz2tmp-" + dead + "-0123456789abcdef0",  // seventeen
      ".X.wz2tmp-" + dead + "-0123456789abcdeg",   // not hex
      ".X.wz2tmp-" + dead + "-0123456789ABCDEF",   // the tool writes lower case
      ".X.wz2tmp-" + dead + "-0123456789abcdef.bak",
      ".X.wz2tmp-+" + dead + "-0123456789abcdef",
      ".X.wz2tmp- " + dead + "-0123456789abcdef",
      ".X.wz2tmp--0123456789abcdef",           // no pid
      ".wz2tmp-" + dead + "-0123456789abcdef",  // no name before the marker
  };
  for (const std::string& name : kept) SetMtime(Make("out/" + name, "a user's file"), time(nullptr) - 3600, 0);
  SetMtime(Make("out/.X.wz2tmp-" + dead + "-0123456789abcdef", "left by a killed run"), time(nullptr) - 3600, 0);
  ASSERT_EQ(Run({"pack", "-o", (dir / "out/NEW.WZ2").string(), (dir / "in").string()}).status, 0);
  std::vector<std::string> expected(std::begin(kept), std::end(kept));
  expected.push_back("NEW.WZ2");
  ExpectOnly(dir / "out", expected);
}

namespace {

// ---- wz2 init and UTF-8 manifests ------------------------------------------------

class Publisher : public Wz2 {
 protected:
  // What pack stored as UPDATE.INI, extracted again.
  std::string Stored(const fs::path& archive) {
    fs::create_directories(dir / "out");
    RunResult r = Run({"extract", "-C", (dir / "out").string(), archive.string(), "UPDATE.INI"});
    EXPECT_EQ(r.status, 0) << r.err;
    return Slurp(dir / "out/UPDATE.INI");
  }
};

TEST_F(Publisher, AnUntouchedSkeletonTakesTheGamesIdentityAndCheckRefusesItForListingNoFiles) {
  // SETUP.INI in code page 932 without GameClass: the class is the title,
  // as the updater's loader makes it.
  Make("SETUP.INI", "[SETUP]\r\nCompanyName=Sakuragi\r\nGameTitle=\x83\x5c\x83\x89\r\nGameDir=Sorano\r\n");
  fs::create_directories(dir / "in");
  RunResult r = Run({"init", "--setup", (dir / "SETUP.INI").string(), "-o", (dir / "in/UPDATE.INI").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text = Slurp(dir / "in/UPDATE.INI");
  for (const char* line : {"CompanyName=Sakuragi\r\n", "GameTitle=\x83\x5c\x83\x89\r\n", "GameClass=\x83\x5c\x83\x89\r\n",
                           "GameDir=Sorano\r\n", ";UpdateFile00=README.TXT\r\n", ";UpdateFile01=u,SOUND.PAK\r\n",
                           ";UpdateFile02=o,VOICE\\VOICE1.PAK\r\n", ";UpdateFile03=d,CONFIG.DAT\r\n",
                           ";UpdateFile04=2,PATCH.DAT\r\n", ";CopyFile00=1:MOVIE\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "a bare LF at byte " << i;
    }
  }
  std::string utf8;
  EXPECT_TRUE(names::Cp932ToUtf8(text, &utf8)) << "not code page 932 text";

  ASSERT_EQ(Run({"pack", "-o", (dir / "U.WZ2").string(), (dir / "in").string()}).status, 0);
  r = Run({"check", "-q", (dir / "U.WZ2").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "error: UpdateFile00: neither UpdateFile00 nor CopyFile00 is present: the manifest lists no files, "
                   "and the updater stops with \"No 'UpdateFileXX' and 'CopyFileXX'\"\n");
}

TEST_F(Publisher, InitNeverWritesOverAnExistingFile) {
  Make("UPDATE.INI", "mine");
  RunResult r = Run({"init", "-o", (dir / "UPDATE.INI").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(dir / "UPDATE.INI"), "mine");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"UPDATE.INI"});
}

TEST_F(Publisher, AUtf8ManifestIsStoredInCodePage932WithCrLfOrRefusedByLineAndColumn) {
  struct Case {
    const char* name;
    std::string given;
    bool flag;
    std::string stored;  // empty: refused
    std::string says;
  };
  const std::string bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"flag", u8"[SETUP]\nGameTitle=ソラ\r\nA=1\rB=2", true, "[SETUP]\r\nGameTitle=\x83\x5c\x83\x89\r\nA=1\r\nB=2", ""},
      {"byte order mark", bom + u8"GameTitle=ソラ\n", false, "GameTitle=\x83\x5c\x83\x89\r\n", ""},
      {"neither: bytes as given", u8"GameTitle=ソラ\n", false, u8"GameTitle=ソラ\n", ""},
      {"no form", u8"A=1\nLegalCopyright=a©b\n", true, "",
       u8"line 2, column 17: the character © (U+00A9) has no code page 932 form"},
      {"not UTF-8", "A=1\n\xFF\n", true, "", "line 2, column 1: byte 0xFF is not UTF-8 text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir / "in");
    fs::remove(dir / "U.WZ2");
    Make("in/UPDATE.INI", c.given);
    std::vector<std::string> args{"pack", "-o", (dir / "U.WZ2").string(), (dir / "in").string()};
    if (c.flag) args.push_back("--manifest-utf8");
    RunResult r = Run(args);
    if (c.stored.empty()) {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
      EXPECT_FALSE(fs::exists(dir / "U.WZ2"));
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Stored(dir / "U.WZ2"), c.stored);
  }
}

}  // namespace

namespace {

// Columns a line takes on a terminal: wide (East Asian) characters two.
size_t Columns(const std::string& utf8) {
  size_t columns = 0;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    uint32_t cp = length == 1 ? c : c & (0xFF >> (length + 1));
    for (size_t k = 1; k < length && i + k < utf8.size(); k++) cp = cp << 6 | ((unsigned char)utf8[i + k] & 0x3F);
    columns += cp >= 0x1100 ? 2 : 1;
    i += length;
  }
  return columns;
}

// Every line of every command's help fits 80 columns, and every option's
// text starts in the one column, a long option name standing on its own line.
TEST_F(Wz2, EveryHelpLineFitsItsColumns) {
  for (const char* command : {"init", "pack", "list", "extract", "check", "build-exe"}) {
    RunResult r = Run({"help", command});
    ASSERT_EQ(r.status, 0) << command;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
      EXPECT_LE(Columns(line), 80u) << command << ": " << line;
      if (line.rfind("  -", 0) != 0) continue;
      size_t gap = line.find("  ", 2);
      if (gap == std::string::npos) continue;  // a name on its own line
      EXPECT_LE(gap, 22u) << command << ": " << line;
      EXPECT_TRUE(line.size() > 24 && line[23] == ' ' && line[24] != ' ') << command << ": " << line;
    }
  }
  RunResult r = Run({"help", "build-exe"});
  EXPECT_NE(r.out.find("\n  --version-info KEY=VALUE\n                        a version resource string"),
            std::string::npos)
      << r.out;
}

}  // namespace
