// Writes the fuzz targets' seed inputs, made by the project's own writers:
// executables whose resource trees the resource writer built, archives and
// blocks the archive writer and the compressor made, an icon and a version
// resource as the tool writes them, a manifest in the form the updater
// reads, and entry values of every shape. Each target's seeds go to
// DIR/<target>/; the same bytes on every run, so a replay is the same work.
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli/ico_fixture.h"
#include "cli/pe_fixture.h"
#include "pack/archive_writer.h"
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
  }
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
