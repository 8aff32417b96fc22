// Writes the fuzz targets' seed inputs, made by the project's own writers:
// executables whose resource trees the resource writer built, a manifest
// in the form the updater reads, and entry values of every shape.
#include <stdio.h>

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
    for (const std::vector<uint8_t>* image : {&plain, &built})
      ok = ok && Write(dir + "/resource_fuzz/seed" + std::to_string(n++), std::string(image->begin(), image->end()));
  }
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
