// The publisher's side of wz2 as an installed tool: a copy of the built
// program in an installed layout (bin/wz2, share/wz2/updater-ARCH.exe) finds
// its templates, brands the updater with an icon and version information,
// and gives release scripts JSON with the same facts as its tables.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/ico_fixture.h"
#include "cli/pe_fixture.h"
#include "cli/run_tool.h"
#include "support/run_program.h"
#include "pack/icon.h"
#include "pack/pe_resource.h"
#include "pack/version_info.h"

namespace {

using wz2test::RunProgram;
using wz2test::RunResult;
using wz2test::RunTool;
using wz2test::Slurp;

namespace fs = std::filesystem;

void Spit(const fs::path& p, const std::vector<uint8_t>& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

fs::path BuiltWz2() {
  char self[4096] = {0};
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  return fs::path(std::string(self, n > 0 ? (size_t)n : 0)).parent_path() / "wz2";
}

class Publish : public ::testing::Test {
 protected:
  fs::path dir, wz2;

  void SetUp() override {
    char templ[] = "/tmp/wz2-publish-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir = templ;
    // The installed layout, under a prefix of its own.
    wz2 = dir / "prefix/bin/wz2";
    fs::create_directories(wz2.parent_path());
    fs::copy_file(BuiltWz2(), wz2);
    for (bool plus : {false, true}) {
      pe_fixture::Options o;
      o.pe32Plus = plus;
      std::string name = plus ? "updater-x86_64" : "updater-i686";
      Spit(dir / "prefix/share/wz2" / (name + ".exe"), pe_fixture::Build(o));
      Spit(dir / "prefix/share/wz2" / (name + ".version"), Bytes(plus ? "9.8.7\n" : "9.8.6\n"));
    }
    // MISSING.PAK is named on purpose, for check's findings; build-exe
    // therefore runs with --force throughout.
    Spit(dir / "in/UPDATE.INI",
         Bytes("[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameClass=Cls\r\nGameDir=Dir\r\n"
               "[UPDATE]\r\nUpdateFile00=SOUND.PAK\r\nUpdateFile01=MISSING.PAK\r\n"));
    Spit(dir / "in/SOUND.PAK", std::vector<uint8_t>(5000, 's'));
    Spit(dir / "in/EXTRA.DAT", Bytes("nobody writes this"));
    ASSERT_EQ(Run({"pack", "-q", "-o", Path("UPDATE.WZ2"), Path("in")}).status, 0);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  std::string Path(const std::string& relative) const { return (dir / fs::u8path(relative)).string(); }

  // wz2's command line in this process. The process is not the installed
  // wz2, so a build-exe that names no template or architecture is given the
  // template the installed one finds.
  RunResult Run(std::vector<std::string> args) {
    bool chooses = false;
    for (const std::string& a : args)
      chooses = chooses || a == "--template" || a.rfind("--template=", 0) == 0 || a == "--arch" || a.rfind("--arch=", 0) == 0;
    if (!args.empty() && args[0] == "build-exe" && !chooses)
      args.insert(args.begin() + 1, {"--template", Path("prefix/share/wz2/updater-i686.exe")});
    return RunTool(args, dir);
  }
  // The installed wz2 itself: what it finds from its own folder.
  RunResult RunInstalled(const std::vector<std::string>& args) { return RunProgram(wz2, args, dir); }

  // A failure is one line on stderr and leaves no output file.
  void ExpectRefused(const RunResult& r, int status, const std::string& says, const std::string& output) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / output)) << output;
  }

  std::vector<pe::Resource> Resources(const std::string& relative) {
    std::vector<pe::Resource> all;
    std::string error;
    EXPECT_TRUE(pe::ReadResources(Bytes(Slurp(dir / relative)), &all, &error)) << error;
    return all;
  }

  // Runs a python3 program on a file; its stdout.
  std::string Python(const std::string& program, const std::string& relative) {
    fs::path script = dir / "script.py";
    Spit(script, Bytes(program));
    std::string command = "python3 " + script.string() + " " + Path(relative) + " >" + Path("py.out") + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << Slurp(dir / "py.out");
    return Slurp(dir / "py.out");
  }
};

TEST_F(Publish, VersionNamesTheToolAndEachTemplateFound) {
  RunResult r = RunInstalled({"--version"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("wz2 1.", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("i686 template: " + Path("prefix/share/wz2/updater-i686.exe") + " (9.8.6)"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("x86_64 template: " + Path("prefix/share/wz2/updater-x86_64.exe") + " (9.8.7)"),
            std::string::npos) << r.out;
  fs::remove(dir / "prefix/share/wz2/updater-x86_64.exe");
  EXPECT_NE(RunInstalled({"--version"}).out.find("x86_64 template: not found"), std::string::npos);
}

TEST_F(Publish, BuildExeUsesTheInstalledTemplateOfItsArchitecture) {
  struct Case {
    std::vector<std::string> arch;
    bool pe32Plus;
  };
  for (const Case& c : {Case{{}, false}, Case{{"--arch", "i686"}, false}, Case{{"--arch=x86_64"}, true}}) {
    std::vector<std::string> args{"build-exe", "--force", "-q", "--archive", Path("UPDATE.WZ2"), "-o", Path("UPDATE.EXE")};
    args.insert(args.end(), c.arch.begin(), c.arch.end());
    RunResult r = RunInstalled(args);
    ASSERT_EQ(r.status, 0) << r.err;
    pe::Layout layout;
    std::string error;
    std::vector<uint8_t> built = Bytes(Slurp(dir / "UPDATE.EXE")), archive;
    ASSERT_TRUE(pe::ParseLayout(built, &layout, &error)) << error;
    EXPECT_EQ(layout.pe32Plus, c.pe32Plus);
    ASSERT_TRUE(pe::FindResourceData(built, pe::KeyString("UPDATE"), pe::KeyId(102), &archive, &error)) << error;
    EXPECT_EQ(archive, Bytes(Slurp(dir / "UPDATE.WZ2")));
  }
}

TEST_F(Publish, BuildExeWithoutATemplateToFindSaysWhereItLookedAndWritesNothing) {
  std::vector<std::string> base{"build-exe", "--force", "--archive", Path("UPDATE.WZ2"), "-o", Path("UPDATE.EXE")};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  ExpectRefused(RunInstalled(with({"--arch", "arm64"})), 2, "unknown --arch 'arm64'", "UPDATE.EXE");
  ExpectRefused(RunInstalled(with({"--arch", "i686", "--template", Path("prefix/share/wz2/updater-i686.exe")})), 2,
                "not both", "UPDATE.EXE");
  fs::remove(dir / "prefix/share/wz2/updater-i686.exe");
  ExpectRefused(RunInstalled(base), 1, "share/wz2/updater-i686.exe", "UPDATE.EXE");
  EXPECT_NE(RunInstalled(base).err.find("give --template FILE"), std::string::npos);
}

TEST_F(Publish, IconAndVersionInformationGoInAndReplaceTheTemplates) {
  std::vector<ico_fixture::Image> three = {ico_fixture::BitmapImage(16, 1), ico_fixture::BitmapImage(32, 2),
                                           {0, 0, 0, 0, ico_fixture::PngLike(700)}};
  Spit(dir / "GAME.ico", ico_fixture::Ico(three));
  RunResult r = Run({"build-exe", "--force", "--archive", Path("UPDATE.WZ2"), "-o", Path("FIRST.EXE"), "--icon", Path("GAME.ico"),
                     "--version-info", "FileVersion=1.10.0.0", "--version-info", u8"ProductName=竜の表示ソフト",
                     u8"--version-info=CompanyName=株式会社サンプル", "--version-info", "FileDescription=Updater"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Built again from the branded executable with another icon and version:
  // the first ones are gone, not merged.
  Spit(dir / "SMALL.ico", ico_fixture::Ico({ico_fixture::BitmapImage(48, 9)}));
  r = Run({"build-exe", "--force", "--template", Path("FIRST.EXE"), "--archive", Path("UPDATE.WZ2"), "-o", Path("UPDATE.EXE"),
           "--icon", Path("SMALL.ico"), "--version-info", "FileVersion=2.0", "--version-info",
           u8"ProductName=ソフト表"});
  ASSERT_EQ(r.status, 0) << r.err;

  for (const char* exe : {"FIRST.EXE", "UPDATE.EXE"}) {
    bool first = std::string(exe) == "FIRST.EXE";
    std::vector<std::vector<uint8_t>> icons, groups, versions;
    for (const pe::Resource& res : Resources(exe)) {
      if (res.type.isString) continue;
      if (res.type.id == RT_ICON_ID) icons.push_back(res.data);
      if (res.type.id == RT_GROUP_ICON_ID) groups.push_back(res.data);
      if (res.type.id == RT_VERSION_ID) versions.push_back(res.data);
      if (res.type.id == RT_ICON_ID || res.type.id == RT_VERSION_ID) {
        EXPECT_EQ(res.language, 1041);
      }
    }
    ASSERT_EQ(icons.size(), first ? 3u : 1u) << exe;
    EXPECT_EQ(groups.size(), 1u) << exe;
    ASSERT_EQ(versions.size(), 1u) << exe;
    EXPECT_EQ(icons[0], first ? three[0].data : ico_fixture::Bitmap(48, 9)) << exe;
    version_info::Info info;
    std::string error;
    ASSERT_TRUE(version_info::Read(versions[0], &info, &error)) << error;
    EXPECT_EQ(info.fileVersion[0], first ? 1 : 2) << exe;
    EXPECT_EQ(info.fileVersion[1], first ? 10 : 0) << exe;
    EXPECT_EQ(info.strings.size(), first ? 4u : 2u) << exe;
  }
  RunResult list = Run({"list", Path("FIRST.EXE")});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("icon: 3 images\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("version: 1.10.0.0 (product 1.10.0.0), strings 041103A4\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find(u8"  ProductName       竜の表示ソフト\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find(u8"  CompanyName       株式会社サンプル\n"), std::string::npos) << list.out;
}

TEST_F(Publish, AMalformedIconOrVersionIsOneLineAndNoExecutable) {
  std::vector<uint8_t> broken = ico_fixture::Ico({ico_fixture::BitmapImage(16, 1)});
  broken.resize(broken.size() - 1);
  Spit(dir / "CUT.ico", broken);
  Spit(dir / "BIG.ico", std::vector<uint8_t>(MAX_ICO_FILE_BYTES + 1, 0));
  std::vector<std::string> base{"build-exe", "--force", "--archive", Path("UPDATE.WZ2"), "-o", Path("UPDATE.EXE")};
  struct Case {
    std::vector<std::string> extra;
    const char* says;
  };
  const Case cases[] = {
      {{"--icon", Path("CUT.ico")}, "CUT.ico: not a usable icon: image 1 lies outside the file"},
      {{"--icon", Path("BIG.ico")}, "larger than 16 MiB"},
      {{"--icon", Path("NONE.ico")}, "NONE.ico"},
      {{"--version-info", "FileVersion=1.2.3.4.5"}, "not a version number"},
      {{"--version-info", "FileVersion=1.0", "--version-info", "ProductVersion=1.x"}, "not a version number"},
      {{"--version-info", "FileVersion"}, "give KEY=VALUE"},
      {{"--version-info", "ProductName=x"}, "needs FileVersion"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = base;
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ExpectRefused(Run(args), 1, c.says, "UPDATE.EXE");
  }
}

TEST_F(Publish, ListJsonHoldsTheTableFacts) {
  Spit(dir / "GAME.ico", ico_fixture::Ico({ico_fixture::BitmapImage(16, 1)}));
  ASSERT_EQ(Run({"build-exe", "--force", "-q", "--archive", Path("UPDATE.WZ2"), "-o", Path("UPDATE.EXE"), "--icon",
                 Path("GAME.ico"), "--version-info", "FileVersion=3.1", "--version-info", u8"ProductName=製品",
                 "--version-info", "OriginalFilename=UPDATE.EXE"})
                .status,
            0);
  // The longest key still leaves two blanks before its value.
  EXPECT_NE(Run({"list", Path("UPDATE.EXE")}).out.find("\n  OriginalFilename  UPDATE.EXE\n"), std::string::npos);
  for (const char* source : {"UPDATE.WZ2", "UPDATE.EXE"}) {
    RunResult table = Run({"list", Path(source)}), json = Run({"list", "--json", Path(source)});
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_EQ(table.status, 0) << table.err;
    Spit(dir / "list.json", Bytes(json.out));
    // The table's lines, written again from the JSON alone.
    std::string rebuilt = Python(
        "import json, sys\n"
        "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
        "print('%-14s  %-10s  %10s  %10s  %10s  %s' % ('NAME', 'METHOD', 'SIZE', 'STORED', 'OFFSET', 'TIME (UTC)'))\n"
        "for e in d['entries']:\n"
        "    print('%-14s  %-10s  %10d  %10d  %10d  %s' % (e['name'], e['method'], e['size'], e['stored'],"
        " e['offset'], e['time']))\n"
        "if d['executable']:\n"
        "    print('check: CRC-32 %s, matches the archive' % d['archiveCheck']['value'])\n"
        "    print('icon: %d image%s' % (d['icons'], '' if d['icons'] == 1 else 's'))\n"
        "    v = d['versionInfo']\n"
        "    print('version: %s (product %s), strings %s' % (v['fileVersion'], v['productVersion'], v['table']))\n"
        "    for s in v['records']:\n"
        "        print('  %-16s  %s' % (s['key'], s['value']))\n",
        "list.json");
    EXPECT_EQ(rebuilt, table.out) << source;
  }
}

TEST_F(Publish, CheckJsonHoldsTheSameFindingsAndStatus) {
  for (bool strict : {false, true}) {
    std::vector<std::string> args{"check", "-q", Path("UPDATE.WZ2")};
    if (strict) args.push_back("--strict");
    RunResult table = Run(args);
    args.push_back("--json");
    RunResult json = Run(args);
    EXPECT_EQ(json.status, table.status);
    EXPECT_EQ(table.status, 1);  // the missing entry is an error
    Spit(dir / "check.json", Bytes(json.out));
    std::string rebuilt = Python(
        "import json, sys\n"
        "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
        "for f in d['findings']:\n"
        "    print('%s: %s: %s' % (f['severity'], f['key'], f['text']))\n"
        "kinds = [f['severity'] for f in d['findings']]\n"
        "assert d['errors'] == kinds.count('error') and d['warnings'] == kinds.count('warning')\n"
        "print('strict' if d['strict'] else 'lenient')\n",
        "check.json");
    EXPECT_EQ(rebuilt, table.out + (strict ? "strict\n" : "lenient\n")) << strict;
    EXPECT_NE(table.out.find("UpdateFile01"), std::string::npos) << table.out;
  }
}

// ---- The archive's check record ----------------------------------------------

// The archive's check record as build-exe and check-value write it, verified
// by an independent CRC-32 (Python's zlib) against the archive the
// executable carries; list and check say whether it matches.
TEST_F(Publish, BuildExeRecordsTheArchivesCrcWhereAnyToolCanVerifyIt) {
  Spit(dir / "GAME.ico", ico_fixture::Ico({ico_fixture::BitmapImage(16, 1)}));
  struct Case {
    const char* what;
    std::vector<std::string> extra;
  };
  // Plain: the archive's bytes streamed in; branded with a small archive:
  // built in memory.
  for (const Case& c : {Case{"plain", {}}, Case{"branded", {"--icon", Path("GAME.ico")}}}) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args{"build-exe", "--force", "-q", "--archive", Path("UPDATE.WZ2"), "-o", Path("UPDATE.EXE")};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(Run(args).status, 0);
    std::vector<uint8_t> built = Bytes(Slurp(dir / "UPDATE.EXE")), record;
    std::string error;
    ASSERT_TRUE(pe::FindResourceData(built, pe::KeyString("UPDATE"), pe::KeyId(103), &record, &error)) << error;
    Spit(dir / "record.bin", record);
    std::string verdict = Python(
        "import struct, sys, zlib\n"
        "rec = open(sys.argv[1], 'rb').read()\n"
        "arc = open(sys.argv[1].replace('record.bin', 'UPDATE.WZ2'), 'rb').read()\n"
        "magic, method, length, crc = struct.unpack('<4sIII', rec)\n"
        "print(magic == b'WZ2C', method, length == len(arc), crc == zlib.crc32(arc), len(rec))\n",
        "record.bin");
    EXPECT_EQ(verdict, "True 1 True True 16\n");
    EXPECT_EQ(Run({"check-value", "-o", Path("UPDATE.CHK"), Path("UPDATE.WZ2")}).status, 0);
    EXPECT_EQ(Bytes(Slurp(dir / "UPDATE.CHK")), record);
    fs::remove(dir / "UPDATE.CHK");
    RunResult list = Run({"list", Path("UPDATE.EXE")});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find(", matches the archive\n"), std::string::npos) << list.out;
    RunResult check = Run({"check", "--json", Path("UPDATE.EXE")});
    EXPECT_NE(check.out.find("\"archiveCheck\": \"matches\""), std::string::npos) << check.out;
  }
}

// One changed byte anywhere in the archive or its record: list refuses the
// executable, check reports it as an error (in JSON too), extract of the
// archive inside it is refused by the same rule.
TEST_F(Publish, ListAndCheckRefuseAnExecutableWhoseArchiveNoLongerMatches) {
  ASSERT_EQ(Run({"build-exe", "--force", "-q", "--archive", Path("UPDATE.WZ2"), "-o", Path("GOOD.EXE")}).status, 0);
  std::vector<uint8_t> good = Bytes(Slurp(dir / "GOOD.EXE"));
  size_t archiveAt = 0, archiveSize = 0, recordAt = 0, recordSize = 0;
  std::string error;
  ASSERT_TRUE(pe::FindResourceSpan(good, pe::KeyString("UPDATE"), pe::KeyId(102), &archiveAt, &archiveSize, &error));
  ASSERT_TRUE(pe::FindResourceSpan(good, pe::KeyString("UPDATE"), pe::KeyId(103), &recordAt, &recordSize, &error));
  struct Case {
    const char* what;
    size_t at;
  };
  // SOUND.PAK's bytes are stored in the middle of the archive: a change
  // there leaves the archive well-formed.
  for (const Case& c : {Case{"an entry's byte", archiveAt + archiveSize / 2}, Case{"the record's CRC", recordAt + 13}}) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bad = good;
    bad[c.at] ^= 0x04;
    Spit(dir / "BAD.EXE", bad);
    RunResult list = Run({"list", Path("BAD.EXE")});
    ExpectRefused(list, 1, "damaged: the archive does not match the CRC-32", "NONE");
    fs::create_directories(dir / "out");
    ExpectRefused(Run({"extract", "-C", Path("out"), Path("BAD.EXE")}), 1, "damaged", "out/SOUND.PAK");
    RunResult check = Run({"check", "--json", Path("BAD.EXE")});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("\"archiveCheck\": \"damaged\""), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("\"key\": \"UPDATE/103\""), std::string::npos) << check.out;
  }
  // Without the record (an updater made before it existed) nothing is
  // verified and nothing is refused.
  std::vector<pe::Resource> all;
  ASSERT_TRUE(pe::ReadResources(good, &all, &error)) << error;
  all.erase(std::remove_if(all.begin(), all.end(), [](const pe::Resource& r) { return !r.name.isString && r.name.id == 103; }),
            all.end());
  std::vector<uint8_t> old;
  ASSERT_TRUE(pe::WriteResources(good, all, &old, &error)) << error;
  Spit(dir / "OLD.EXE", old);
  RunResult list = Run({"list", "--json", Path("OLD.EXE")});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("\"archiveCheck\": null"), std::string::npos) << list.out;
  EXPECT_NE(Run({"check", "--json", Path("OLD.EXE")}).out.find("\"archiveCheck\": \"absent\""), std::string::npos);
}

}  // namespace
