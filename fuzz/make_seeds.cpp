// Writes the fuzz targets' seed inputs, made by the project's own writers:
// executables whose resource trees the resource writer built, a manifest
// in the form the updater reads, and entry values of every shape; and, by
// hand, the shapes readers once missed (many sections, data behind the
// tree in its section, a binary version string at the resource's end).
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "cli/pe_fixture.h"
#include "pack/pe_resource.h"

static bool Write(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
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

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string dir = argv[1];
  bool ok = true;
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
    std::vector<uint8_t> imports = ImportsBehindTheTree(built);
    for (const std::vector<uint8_t>* image : {&plain, &built, &imports})
      ok = ok && Write(dir + "/resource_fuzz/seed" + std::to_string(n++), std::string(image->begin(), image->end()));
  }
  std::vector<uint8_t> many = ManySections();
  ok = ok && Write(dir + "/resource_fuzz/seed" + std::to_string(n++), std::string(many.begin(), many.end()));
  ok = ok && Write(dir + "/branding_fuzz/seed0", BinaryStringLast());
  const char manifest[] =
      "\x20[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Title\r\nGameClass=Cls\r\nGameDir=Dir\r\n"
      "[UPDATE]\r\nUpdateFile00=1,u,DATA\\SOUND.PAK\r\nUpdateFile01=d,SAVE.DAT\r\nCopyFile00=2:MOVIE\\OP.MPG\r\n";
  ok = ok && Write(dir + "/profile_fuzz/seed0", manifest);
  const char* values[] = {"\x02" "SOUND.PAK", "\x02u,DATA\\SOUND.PAK", "\x03" "2,o,VOICE\\V1.PAK", "\x02" "3:MOVIE\\OP.MPG",
                          "\x04" "3,1:DATA", "\x02\x83\x5C\x83\x74\x83\x67\\A.DAT"};
  n = 0;
  for (const char* v : values) ok = ok && Write(dir + "/manifest_fuzz/seed" + std::to_string(n++), v);
  return ok ? 0 : 1;
}
