// What wz2 shows of archives and updaters it did not make: names and
// version strings that carry control characters reach the terminal as
// escapes, JSON gives every name back exactly and every version string
// however often its key comes, a directory past the entry cap is refused in
// one line, and an executable's archive is read where it lies.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "cli/pe_fixture.h"
#include "pack/compress.h"
#include "support/archive_builder.h"
#include "cli/run_tool.h"
#include "support/run_program.h"

namespace {

using wz2test::RunProgram;
using wz2test::RunResult;
using wz2test::RunTool;

namespace fs = std::filesystem;

fs::path Wz2Program() {
  char self[4096] = {0};
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  return fs::path(std::string(self, n > 0 ? (size_t)n : 0)).parent_path() / "wz2";
}

ArchiveEntry Record(const std::string& name, uint32_t size) {
  ArchiveEntry e;
  memset(&e, 0, sizeof(e));
  memcpy(e.name, name.data(), std::min(name.size(), sizeof(e.name)));
  e.attributes = ENTRY_STORED;
  e.fileSize = size;
  e.storedSize = size;
  return e;
}

// The bytes of a quoted JSON string for text without control characters.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Whether text holds a control character other than the line ends.
bool HasRawControl(const std::string& text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
  return false;
}

class Listing : public ::testing::Test {
 protected:
  fs::path dir;

  void SetUp() override {
    char templ[] = "/tmp/wz2-listing-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
    ASSERT_TRUE(fs::exists(Wz2Program())) << "wz2 is not built next to the test: " << Wz2Program();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // wz2's command line, run in this process.
  RunResult Run(const std::vector<std::string>& args) { return RunTool(args, dir); }
  // The built wz2, for a limit set in the child (inChild) before it starts.
  RunResult RunProcess(const std::vector<std::string>& args, const std::function<void()>& inChild) {
    return RunProgram(Wz2Program(), args, dir, fs::path(), inChild);
  }
  std::string Make(const std::string& name, const std::string& bytes) {
    fs::path p = dir / name;
    std::ofstream f(p, std::ios::binary);
    f.write(bytes.data(), (std::streamsize)bytes.size());
    return p.string();
  }
  std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  std::string Template() {
    std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options());
    return Make("UPDATER.EXE", std::string(image.begin(), image.end()));
  }
  static std::string Manifest() {
    return "[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameClass=Cls\r\nGameDir=Dir\r\n"
           "[UPDATE]\r\nUpdateFile00=SOUND.PAK\r\n";
  }
  void ExpectCleanFailure(const RunResult& r, const std::string& says) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind("wz2: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
  }
};

// Names as an archive may hold them, however it was made: each is shown
// with its control characters escaped and a backslash doubled, so that the
// escapes of one name are never another name's own text, and JSON gives
// its bytes besides.
TEST_F(Listing, EveryEntryNameIsShownEscapedAndGivenBackExactly) {
  struct Case {
    std::string name, shown, hex;
    size_t columns;  // on a terminal
  };
  const Case cases[] = {
      {"A\x1B[2JB", "A\\x1B[2JB", "411B5B324A42", 9},
      {"C\rD", "C\\x0DD", "430D44", 6},
      {"E\aF\x7F", "E\\x07F\\x7F", "4507467F", 10},
      {"A\xFF" "B", "A\\xFFB", "41FF42", 6},
      {"A\\xFFB", "A\\\\xFFB", "415C784646" "42", 7},
      {"\x81\x40X", "\xE3\x80\x80X", "814058", 3},  // a full-width space: two columns
      {"PLAIN.DAT", "PLAIN.DAT", "504C41494E2E444154", 9},
  };
  ArchiveBuilder b;
  b.Stored("UPDATE.INI", Manifest()).Stored("SOUND.PAK", "s");
  for (const Case& c : cases) b.Raw(Record(c.name, 3), "abc");
  std::string archive = Make("NAMES.WZ2", b.BuildString());

  RunResult list = Run({"list", archive}), json = Run({"list", "--json", archive}), check = Run({"check", archive});
  ASSERT_EQ(list.status, 0) << list.err;
  ASSERT_EQ(json.status, 0) << json.err;
  for (const RunResult* r : {&list, &json, &check}) EXPECT_FALSE(HasRawControl(r->out)) << r->out;
  for (const Case& c : cases) {
    // Padded to 14 columns: an escape takes the columns it shows.
    std::string row = c.shown + std::string(14 - c.columns, ' ');
    EXPECT_NE(list.out.find("\n" + row + "  stored"), std::string::npos) << c.shown << "\n" << list.out;
    EXPECT_NE(json.out.find("{\"name\": " + Quoted(c.shown) + ", \"bytes\": \"" + c.hex + "\""), std::string::npos)
        << c.shown << "\n" << json.out;
    // check's findings name the entry too (a warning, or the error that no
    // file can be written under such a name).
    EXPECT_NE(check.out.find(": " + c.shown + ": "), std::string::npos) << c.shown << "\n" << check.out;
  }
}

// The version strings of an executable: control characters escaped in the
// table; in JSON every record in the table's order, so that a key the table
// holds twice is there twice, and one member per key (the first, which
// Windows finds) where two members of one name would leave one to chance.
TEST_F(Listing, VersionStringsAreShownEscapedAndEveryOneIsListed) {
  std::string archive = Make("UPDATE.WZ2", ArchiveBuilder().Stored("UPDATE.INI", Manifest()).Stored("SOUND.PAK", "s").BuildString());
  std::string exe = (dir / "U.EXE").string();
  RunResult built = Run({"build-exe", "-q", "--template", Template(), "--archive", archive, "-o", exe, "--version-info",
                         "FileVersion=1.0", "--version-info", "Comments=red\x1B[31m\rBEL\a\\", "--version-info",
                         "ProductName=Second"});
  ASSERT_EQ(built.status, 0) << built.err;
  // ProductName becomes a second FileVersion: the names are as long.
  std::string bytes = Read(exe);
  const char16_t* from = u"ProductName";
  const char16_t* to = u"FileVersion";
  std::string fromBytes((const char*)from, 22), toBytes((const char*)to, 22);
  size_t at = bytes.find(fromBytes);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, toBytes.size(), toBytes);
  Make("U.EXE", bytes);

  RunResult list = Run({"list", exe}), json = Run({"list", "--json", exe});
  ASSERT_EQ(list.status, 0) << list.err;
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_FALSE(HasRawControl(list.out)) << list.out;
  EXPECT_FALSE(HasRawControl(json.out)) << json.out;
  EXPECT_NE(list.out.find("\n  Comments          red\\x1B[31m\\x0DBEL\\x07\\\\\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\n  FileVersion       1.0\n  Comments  "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\n  FileVersion       Second\n"), std::string::npos) << list.out;
  EXPECT_NE(json.out.find("\"strings\": {\"FileVersion\": \"1.0\", "
                          "\"Comments\": \"red\\u001b[31m\\u000dBEL\\u0007\\\\\"}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"records\": [{\"key\": \"FileVersion\", \"value\": \"1.0\"}, "
                          "{\"key\": \"Comments\", \"value\": \"red\\u001b[31m\\u000dBEL\\u0007\\\\\"}, "
                          "{\"key\": \"FileVersion\", \"value\": \"Second\"}]"),
            std::string::npos)
      << json.out;
}

// An archive of more records than the cap is refused in one line by every
// command, plain or compressed, though it is small and well formed; at the
// cap it lists.
TEST_F(Listing, ADirectoryPastTheEntryCapIsRefusedInOneLine) {
  for (uint32_t count : {ARCHIVE_MAX_ENTRIES, ARCHIVE_MAX_ENTRIES + 1}) {
    std::string records((size_t)count * ARCHIVE_ENTRY_SIZE, '\0');
    for (uint32_t i = 0; i < count; i++) {
      ArchiveEntry e = Record("F" + std::to_string(1000000 + i).substr(1) + ".DAT", 0);
      memcpy(&records[(size_t)i * ARCHIVE_ENTRY_SIZE], &e, sizeof(e));
    }
    for (bool compressed : {false, true}) {
      std::vector<uint8_t> image(ARCHIVE_HEADER_SIZE, 0);
      memcpy(image.data(), ARCHIVE_MAGIC, sizeof(ARCHIVE_MAGIC));
      WriteLe32(image, 4, compressed ? DIRECTORY_COMPRESSED : 0);
      WriteLe32(image, 8, ARCHIVE_HEADER_SIZE);
      WriteLe32(image, 12, count);
      if (compressed) CompressBlock((const uint8_t*)records.data(), records.size(), image, CompressLevel::Fast);
      else image.insert(image.end(), records.begin(), records.end());
      std::string archive = Make("MANY.WZ2", std::string(image.begin(), image.end()));
      std::string what = std::to_string(count) + (compressed ? " compressed" : " plain");
      if (count <= ARCHIVE_MAX_ENTRIES) {
        RunResult r = Run({"list", "-q", archive});
        EXPECT_EQ(r.status, 0) << what << ": " << r.err;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), (long)count + 1) << what;
        continue;
      }
      fs::create_directory(dir / "out");
      for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
               {"list", archive}, {"list", "--json", archive}, {"check", archive},
               {"extract", archive, "-C", (dir / "out").string()}}) {
        RunResult r = Run(args);
        ExpectCleanFailure(r, "65,536");
        EXPECT_EQ(r.out, "") << what << " " << args[0];
      }
      EXPECT_TRUE(fs::is_empty(dir / "out"));
    }
  }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define WZ2_DATA_LIMIT_WORKS 1
#elif !defined(__SANITIZE_ADDRESS__) && defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define WZ2_DATA_LIMIT_WORKS 1
#endif
#endif

// The archive inside an executable is read in place from the mapped file,
// as a .WZ2 is: with the heap held to half the archive's size, list, check
// and extract of an updater carrying 64 MiB still run (a copy of the
// archive, or of the executable, cannot be made). A read-only mapping is no
// data segment: the limit leaves it alone.
TEST_F(Listing, AnExecutablesArchiveIsReadWhereItLies) {
#ifndef WZ2_DATA_LIMIT_WORKS
  GTEST_SKIP() << "the sanitizers' shadow memory counts against the limit";
#else
  const size_t kBig = (size_t)64 << 20;
  fs::create_directory(dir / "in");
  Make("in/UPDATE.INI", Manifest());
  fs::resize_file(Make("in/SOUND.PAK", ""), kBig);  // sparse zeros, stored
  std::string archive = (dir / "UPDATE.WZ2").string(), exe = (dir / "U.EXE").string();
  ASSERT_EQ(Run({"pack", "-q", "--store", "*", "-o", archive, (dir / "in").string()}).status, 0);
  ASSERT_EQ(Run({"build-exe", "-q", "--template", Template(), "--archive", archive, "-o", exe}).status, 0);
  fs::remove(archive);
  fs::create_directory(dir / "out");
  auto halfTheArchive = [] {
    struct rlimit limit = {32u << 20, 32u << 20};
    setrlimit(RLIMIT_DATA, &limit);
  };
  RunResult list = RunProcess({"list", exe}, halfTheArchive);
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("SOUND.PAK"), std::string::npos) << list.out;
  RunResult check = RunProcess({"check", exe}, halfTheArchive);
  EXPECT_EQ(check.status, 0) << check.err;
  RunResult extract = RunProcess({"extract", exe, "-C", (dir / "out").string()}, halfTheArchive);
  EXPECT_EQ(extract.status, 0) << extract.err;
  std::error_code ec;
  EXPECT_EQ(fs::file_size(dir / "out/SOUND.PAK", ec), kBig) << ec.message();
  EXPECT_EQ(Read((dir / "out/UPDATE.INI").string()), Manifest());
#endif
}

}  // namespace
