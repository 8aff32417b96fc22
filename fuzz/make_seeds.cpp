// Writes the fuzz targets' seed inputs, made by the project's own writers:
// executables whose resource trees the resource writer built, archives and
// blocks the archive writer and the compressor made, an icon and a version
// resource as the tool writes them, a manifest in the form the updater
// reads, entry values of every shape, and by hand the shapes readers once
// missed (many sections, data behind the tree in its section, a binary
// version string at the resource's end). Each target's seeds go to
// DIR/<target>/; the same bytes on every run, so a replay is the same work.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli/ico_fixture.h"
#include "cli/pe_fixture.h"
#include "pack/archive_writer.h"
#include "support/archive_image.h"
#include "pack/compress.h"
#include "pack/pe_resource.h"
#include "pack/version_info.h"

namespace {

std::string dir;
bool ok = true;

void Write(const std::string& target, int n, const std::vector<uint8_t>& bytes) {
  std::string folder = dir + "/" + target;
  mkdir(folder.c_str(), 0755);
  std::string path = folder + "/seed" + std::to_string(n);
  FILE* f = fopen(path.c_str(), "wb");
  bool written = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && fclose(f) != 0) written = false;
  if (!written) {
    fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
    ok = false;
  }
}

// An executable of many sections within the targets' 4 KiB inputs: 79
// without file data, listed in falling address order, and last the
// resource section, whose tree has a leaf in each of eight of them and one
// with data of its own. Reading it exercises placing addresses among many
// sections.
static std::vector<uint8_t> ManySections() {
  const uint32_t kSections = 80, kTable = 0x178, kHeaders = 0xE00, kTree = 0x200, kHigh = 0x80000000u;
  std::vector<uint8_t> f(kHeaders + kTree, 0);
  f[0] = 'M';
  f[1] = 'Z';
  pe_fixture::Put32(f, 0x3C, 0x80);
  memcpy(&f[0x80], "PE\0\0", 4);
  pe_fixture::Put16(f, 0x84, 0x14C);
  pe_fixture::Put16(f, 0x86, (uint16_t)kSections);
  pe_fixture::Put16(f, 0x94, 224);
  pe_fixture::Put16(f, 0x98, 0x10B);
  pe_fixture::Put32(f, 0x98 + 32, 0x1000);
  pe_fixture::Put32(f, 0x98 + 36, 0x200);
  pe_fixture::Put32(f, 0x98 + 60, kHeaders);
  pe_fixture::Put32(f, 0x98 + 92, 16);
  uint32_t resourceRva = kSections * 0x1000;
  pe_fixture::Put32(f, 0x98 + 96 + 16, resourceRva);
  pe_fixture::Put32(f, 0x98 + 96 + 20, kTree);
  for (uint32_t i = 0; i < kSections; i++) {
    size_t h = kTable + (size_t)i * 40;
    bool last = i == kSections - 1;
    pe_fixture::Put32(f, h + 8, last ? kTree : 0x1000);
    pe_fixture::Put32(f, h + 12, last ? resourceRva : 0x1000 * (kSections - 1 - i));
    pe_fixture::Put32(f, h + 16, last ? kTree : 0);
    pe_fixture::Put32(f, h + 20, last ? kHeaders : 0);
    pe_fixture::Put32(f, h + 36, 0x40000040u);
  }
  const size_t t = kHeaders, languages = 48, leaves = 9, entries = languages + 16 + leaves * 8;
  pe_fixture::Put16(f, t + 14, 1);
  pe_fixture::Put32(f, t + 16, 10);
  pe_fixture::Put32(f, t + 20, 24 | kHigh);
  pe_fixture::Put16(f, t + 24 + 14, 1);
  pe_fixture::Put32(f, t + 24 + 16, 1);
  pe_fixture::Put32(f, t + 24 + 20, (uint32_t)languages | kHigh);
  pe_fixture::Put16(f, t + languages + 14, (uint16_t)leaves);
  for (size_t k = 0; k < leaves; k++) {
    pe_fixture::Put32(f, t + languages + 16 + 8 * k, (uint32_t)k);
    pe_fixture::Put32(f, t + languages + 20 + 8 * k, (uint32_t)(entries + 16 * k));
    bool own = k == leaves - 1;
    size_t data = entries + 16 * leaves;
    pe_fixture::Put32(f, t + entries + 16 * k, own ? resourceRva + (uint32_t)data : 0x1000 * (1 + 9 * (uint32_t)k));
    pe_fixture::Put32(f, t + entries + 16 * k + 4, own ? 8 : 0);
    if (own) memcpy(&f[t + data], "resource", 8);
  }
  return f;
}

// A version resource whose last record is a String of type 0 (binary),
// its value counted in bytes and without a NUL: read as characters, it
// runs past the resource.
static std::string BinaryStringLast() {
  std::vector<uint8_t> b;
  auto put16 = [&](uint16_t v) {
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
  };
  auto open = [&](const char* key, uint16_t valueLength, uint16_t type) {
    while (b.size() % 4) b.push_back(0);
    size_t at = b.size();
    put16(0);
    put16(valueLength);
    put16(type);
    for (const char* p = key; *p; p++) put16((uint16_t)(unsigned char)*p);
    put16(0);
    while (b.size() % 4) b.push_back(0);
    return at;
  };
  auto close = [&](size_t at) {
    b[at] = (uint8_t)(b.size() - at);
    b[at + 1] = (uint8_t)((b.size() - at) >> 8);
  };
  size_t root = open("VS_VERSION_INFO", 0, 0);
  size_t info = open("StringFileInfo", 0, 1);
  size_t table = open("041103A4", 0, 1);
  size_t text = open("Comments", 8, 0);
  for (const char* p = "ABCD"; *p; p++) put16((uint16_t)*p);
  close(text);
  close(table);
  close(info);
  close(root);
  return std::string(b.begin(), b.end());
}

// A template whose resource section holds more than its tree: an import
// table behind it, which a rewrite in place would lose.
static std::vector<uint8_t> ImportsBehindTheTree(std::vector<uint8_t> image) {
  pe::Layout l;
  if (!pe::ParseLayout(image, &l, nullptr) || l.sectionCount == 0) return image;
  size_t h = l.sectionTableOffset + (size_t)(l.sectionCount - 1) * 40;
  uint32_t va = pe_fixture::Get32(image, h + 12), raw = pe_fixture::Get32(image, h + 16);
  uint32_t at = pe_fixture::Get32(image, h + 20);
  if (raw < 64 || (size_t)at + raw > image.size()) return image;
  for (uint32_t i = raw - 32; i < raw; i++) image[at + i] = 0x5A;
  pe_fixture::Put32(image, l.dataDirectoryOffset + 8, va + raw - 32);
  pe_fixture::Put32(image, l.dataDirectoryOffset + 12, 32);
  // The section's virtual size covers them.
  pe_fixture::Put32(image, h + 8, raw);
  return image;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Text that compresses: numbered lines, as a game's data often is.
std::string Lines(int count) {
  std::string s;
  for (int i = 0; i < count; i++) s += "line " + std::to_string(i) + " of the update\r\n";
  return s;
}

void ResourceSeeds() {
  int n = 0;
  for (bool plus : {false, true}) {
    pe_fixture::Options o;
    o.pe32Plus = plus;
    std::vector<uint8_t> plain = pe_fixture::Build(o), built;
    std::vector<pe::Resource> resources(2);
    resources[0].type = pe::KeyString("UPDATE");
    resources[0].name = pe::KeyId(102);
    resources[0].language = 1041;
    resources[0].data.assign(64, 'W');
    resources[1].type = pe::KeyId(16);
    resources[1].name = pe::KeyId(1);
    resources[1].language = 1033;
    resources[1].data.assign(16, 'v');
    std::string error;
    ok = ok && pe::WriteResources(plain, resources, &built, &error);
    Write("resource_fuzz", n++, plain);
    Write("resource_fuzz", n++, built);
    Write("resource_fuzz", n++, ImportsBehindTheTree(built));
  }
  Write("resource_fuzz", n++, ManySections());
}

void ArchiveSeeds() {
  std::string text = Lines(40);
  std::vector<ArchiveInput> entries(3);
  entries[0].name = "UPDATE.INI";
  entries[0].data = Bytes("[SETUP]\r\nGameTitle=T\r\n[UPDATE]\r\nUpdateFile00=A.TXT\r\n");
  entries[0].storage = EntryStorage::Stored;
  entries[1].name = "A.TXT";
  entries[1].data = Bytes(text);
  entries[1].storage = EntryStorage::Compressed;
  entries[2].name = "\x83\x5C\x83\x89.DAT";  // ソラ: a trail byte 0x5C
  entries[2].data = Bytes("data");
  int n = 0;
  for (bool compressDirectory : {false, true}) {
    ArchiveLayoutOptions options;
    options.compressDirectory = compressDirectory;
    std::vector<uint8_t> archive;
    std::string error;
    ok = ok && WriteArchive(entries, options, archive, &error);
    Write("open_archive_fuzz", n++, archive);
  }
  // Blocks at every level, led by the two bytes of room the target reads.
  n = 0;
  for (CompressLevel level : {CompressLevel::Fast, CompressLevel::Default, CompressLevel::Max}) {
    std::vector<uint8_t> block = {(uint8_t)text.size(), (uint8_t)(text.size() >> 8)};
    CompressBlock((const uint8_t*)text.data(), text.size(), block, level);
    Write("expand_fuzz", n++, block);
  }
  // The compressor's: level and room byte, cut byte, then the input.
  n = 0;
  for (uint8_t control : {0, 4, 23}) {
    std::vector<uint8_t> input = {control, (uint8_t)(n * 40 + 3)};
    std::string body = Lines(8 + n * 8);
    input.insert(input.end(), body.begin(), body.end());
    Write("compress_fuzz", n++, input);
  }
}

void BrandingSeeds() {
  Write("branding_fuzz", 0,
        ico_fixture::Ico({ico_fixture::BitmapImage(8, 1), ico_fixture::BitmapImage(16, 2),
                          {0, 0, 1, 32, ico_fixture::PngLike(64)}}));
  std::vector<uint8_t> version;
  std::string error;
  ok = ok && version_info::Build({{"FileVersion", "1.2.3.4"}, {"ProductVersion", "1.2"},
                                  {"CompanyName", "Maker"}, {"FileDescription", "\xE6\x9B\xB4\xE6\x96\xB0"}},
                                 &version, &error);
  Write("branding_fuzz", 1, version);
  Write("branding_fuzz", 2, Bytes(BinaryStringLast()));
}

void ManifestSeeds() {
  const char manifest[] =
      "\x20[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameClass=Cls\r\nGameDir=Dir\r\n"
      "[UPDATE]\r\nUpdateFile00=1,u,DATA\\SOUND.PAK\r\nUpdateFile01=d,SAVE.DAT\r\nCopyFile00=2:MOVIE\\OP.MPG\r\n";
  Write("profile_fuzz", 0, Bytes(manifest));
  const char* values[] = {"\x02" "SOUND.PAK", "\x02u,DATA\\SOUND.PAK", "\x03" "2,o,VOICE\\V1.PAK", "\x02" "3:MOVIE\\OP.MPG",
                          "\x04" "3,1:DATA", "\x02\x83\x5C\x83\x74\x83\x67\\A.DAT"};
  int n = 0;
  for (const char* v : values) Write("manifest_fuzz", n++, Bytes(v));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  dir = argv[1];
  mkdir(dir.c_str(), 0755);
  ResourceSeeds();
  ArchiveSeeds();
  BrandingSeeds();
  ManifestSeeds();
  if (!ok) fprintf(stderr, "make_seeds: a writer refused its seed\n");
  return ok ? 0 : 1;
}
