// Reads a built updater's icon and version information back the way
// Windows programs do, and checks them against what was put in.
//
//   e2e_resources ico OUT.ico
//       writes the scenario's icon: 16x16 and 32x32 32-bit bitmaps
//   e2e_resources check EXE ICO < EXPECTED
//       EXPECTED (code page 932) holds lines "fixed N.N.N.N" and
//       "KEY=VALUE"; each RT_ICON must equal its image in ICO byte for byte,
//       LoadImage must give a 32x32 icon, GetFileVersionInfoA and
//       VerQueryValueA must give the fixed version, the translation
//       0x0411/932 and each string in table 041103A4 exactly.
// Prints one line per check that fails; exit status 0 when none does.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "pack/bytes_append.h"

namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    printf("FAILED: %s\n", what.c_str());
    g_failures++;
  }
}

std::vector<unsigned char> Bitmap(unsigned size, unsigned seed) {
  std::vector<unsigned char> b;
  Append32(b, 40);
  Append32(b, size);
  Append32(b, size * 2);
  Append16(b, 1);
  Append16(b, 32);
  b.resize(40, 0);
  for (unsigned i = 0; i < size * size; i++) {
    b.push_back((unsigned char)(seed + i));
    b.push_back((unsigned char)(seed * 3 + i));
    b.push_back((unsigned char)(seed * 7));
    b.push_back(0xFF);
  }
  b.resize(b.size() + (size + 31) / 32 * 4 * size, 0);
  return b;
}

bool ReadAll(const char* path, std::vector<unsigned char>* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  unsigned char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) out->insert(out->end(), buffer, buffer + n);
  fclose(f);
  return true;
}

int MakeIco(const char* path) {
  std::vector<unsigned char> images[2] = {Bitmap(16, 5), Bitmap(32, 9)};
  std::vector<unsigned char> f;
  Append16(f, 0);
  Append16(f, 1);
  Append16(f, 2);
  unsigned offset = 6 + 2 * 16;
  for (const auto& image : images) {
    unsigned size = Load32(&image[4]);
    f.push_back((unsigned char)size);
    f.push_back((unsigned char)size);
    f.push_back(0);
    f.push_back(0);
    Append16(f, 1);
    Append16(f, 32);
    Append32(f, (unsigned)image.size());
    Append32(f, offset);
    offset += (unsigned)image.size();
  }
  for (const auto& image : images) f.insert(f.end(), image.begin(), image.end());
  FILE* out = fopen(path, "wb");
  if (!out || fwrite(f.data(), 1, f.size(), out) != f.size() || fclose(out) != 0) return 1;
  return 0;
}

void CheckIcons(const char* exe, const char* ico) {
  std::vector<unsigned char> file;
  Check(ReadAll(ico, &file) && file.size() >= 6, std::string("cannot read ") + ico);
  if (file.size() < 6) return;
  HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  Check(module != nullptr, "LoadLibraryEx cannot open the executable as data");
  if (!module) return;
  unsigned count = Load16(&file[4]);
  for (unsigned i = 0; i < count && 6 + 16 * (i + 1) <= file.size(); i++) {
    unsigned size = Load32(&file[6 + 16 * i + 8]), offset = Load32(&file[6 + 16 * i + 12]);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(i + 1), MAKEINTRESOURCEA(3));
    Check(found != nullptr, "no RT_ICON " + std::to_string(i + 1));
    if (!found) continue;
    const void* data = LockResource(LoadResource(module, found));
    Check(SizeofResource(module, found) == size && offset + size <= file.size() && data &&
              memcmp(data, &file[offset], size) == 0,
          "RT_ICON " + std::to_string(i + 1) + " differs from the .ico's image");
  }
  Check(FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)) != nullptr, "no RT_GROUP_ICON 1");
  HICON icon = (HICON)LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, 32, 32, 0);
  Check(icon != nullptr, "LoadImage cannot load the icon group");
  if (icon) {
    ICONINFO info;
    BITMAP bitmap = {};
    Check(GetIconInfo(icon, &info) && GetObjectA(info.hbmColor, sizeof(bitmap), &bitmap) && bitmap.bmWidth == 32 &&
              bitmap.bmHeight == 32,
          "the loaded icon is not 32x32");
    DestroyIcon(icon);
  }
  FreeLibrary(module);
  Check(ExtractIconExA(exe, -1, nullptr, nullptr, 0) == 1, "ExtractIconEx does not count one icon");
}

void CheckVersion(const char* exe) {
  DWORD handle = 0, size = GetFileVersionInfoSizeA(exe, &handle);
  Check(size > 0, "GetFileVersionInfoSize finds no version information");
  if (!size) return;
  std::vector<char> block(size);
  Check(GetFileVersionInfoA(exe, 0, size, block.data()) != 0, "GetFileVersionInfo failed");
  char line[1024];
  while (fgets(line, sizeof(line), stdin)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) continue;
    void* value = nullptr;
    UINT length = 0;
    if (text.rfind("fixed ", 0) == 0) {
      unsigned v[4] = {0, 0, 0, 0};
      sscanf(text.c_str() + 6, "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]);
      VS_FIXEDFILEINFO* fixed = nullptr;
      Check(VerQueryValueA(block.data(), "\\", (void**)&fixed, &length) && length >= sizeof(*fixed) &&
                fixed->dwSignature == 0xFEEF04BD && fixed->dwFileVersionMS == (v[0] << 16 | v[1]) &&
                fixed->dwFileVersionLS == (v[2] << 16 | v[3]),
            "the fixed file version is not " + text.substr(6));
      continue;
    }
    size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    std::string key = "\\StringFileInfo\\041103A4\\" + text.substr(0, eq), want = text.substr(eq + 1);
    bool found = VerQueryValueA(block.data(), key.c_str(), &value, &length) && value;
    Check(found && std::string((const char*)value) == want, key + " is not the expected code page 932 text");
  }
  void* translation = nullptr;
  UINT length = 0;
  Check(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translation, &length) && length == 4 &&
            ((WORD*)translation)[0] == 0x0411 && ((WORD*)translation)[1] == 932,
        "the translation is not 0x0411 / 932");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "ico") == 0) return MakeIco(argv[2]);
  if (argc != 4 || strcmp(argv[1], "check") != 0) {
    printf("usage: e2e_resources ico OUT.ico | check EXE ICO < EXPECTED\n");
    return 2;
  }
  CheckIcons(argv[2], argv[3]);
  CheckVersion(argv[2]);
  printf("%s\n", g_failures ? "resources differ" : "icon and version information read back");
  return g_failures ? 1 : 0;
}
