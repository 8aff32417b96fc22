#include "support/updater_fixture.h"

#include <algorithm>
#include <cstring>

#include "app/state.h"
#include "pack/compress.h"

namespace wz2test {

namespace {

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::string DefaultSetupIni() {
  return "[SETUP]\r\n"
         "CompanyName=Maker\r\n"
         "GameTitle=Title\r\n"
         "GameDir=Title\r\n"
         "GameExe=GAME.EXE\r\n"
         "UninstExe=UNINST.EXE\r\n"
         "SetupBmp=SETUP.BMP\r\n"
         "InstallSelects=1\r\n"
         "InstallTitle0=Full\r\n"
         "InstallFiles0=GAME.EXE\r\n"
         "Shortcuts=0\r\n"
         "GameClass=TitleWindow\r\n"
         "DiskCheckFile1=DISK1.CHK\r\n"
         "DiskCheckFile2=DISK2.CHK\r\n";
}

std::string DefaultManifestSetup() {
  return "CompanyName=Maker\r\n"
         "GameTitle=Title\r\n"
         "GameClass=TitleWindow\r\n"
         "GameDir=Title\r\n"
         "UpdaterVersion=1.01\r\n";
}

void UpdaterFixture::SetUp() {
  ResetProcessState();
  manifestSetup = DefaultManifestSetup();
  manifestUpdate.clear();
  setupIni = DefaultSetupIni();
  c_.MakeDirectory("GAME");
  c_.MakeDirectory("DATA");
  c_.MakeDirectory("TEMP");
  host::SetTempPath("C:\\TEMP\\");
}

void UpdaterFixture::AddFile(const std::string& name, const std::string& bytes, uint64_t fileTime,
                             bool compressed) {
  payload.push_back(PayloadFile{name, bytes, fileTime, compressed});
}

void UpdaterFixture::SetupKey(const std::string& key, const std::string& value) {
  manifestSetup += key + "=" + value + "\r\n";
}

void UpdaterFixture::UpdateKey(const std::string& key, const std::string& value) {
  manifestUpdate += key + "=" + value + "\r\n";
}

std::string UpdaterFixture::ManifestText() const {
  if (manifestOverride) return *manifestOverride;
  return "[SETUP]\r\n" + manifestSetup + "[UPDATE]\r\n" + manifestUpdate;
}

std::vector<uint8_t> UpdaterFixture::ArchiveBytes() const {
  std::vector<PayloadFile> files;
  if (includeManifest) files.push_back(PayloadFile{"UPDATE.INI", ManifestText(), kPayloadTime, false});
  files.insert(files.end(), payload.begin(), payload.end());
  // Header, stored data padded to 16 bytes, plain directory.
  std::vector<uint8_t> out(16, 0);
  std::memcpy(out.data(), "WZ2", 4);
  std::vector<uint8_t> directory;
  for (const PayloadFile& f : files) {
    std::vector<uint8_t> stored(f.bytes.begin(), f.bytes.end());
    if (f.compressed) {
      stored.clear();
      CompressBlock(reinterpret_cast<const uint8_t*>(f.bytes.data()), f.bytes.size(), stored, CompressLevel::Default);
    }
    out.insert(out.end(), stored.begin(), stored.end());
    while (out.size() % 16) out.push_back(0);
    std::vector<uint8_t> record(32, 0);
    std::memcpy(record.data(), f.name.data(), std::min<size_t>(f.name.size(), 14));
    record[15] = f.compressed ? 0x02 : 0x01;
    PutU32(record, 16, static_cast<uint32_t>(f.fileTime));
    PutU32(record, 20, static_cast<uint32_t>(f.fileTime >> 32));
    PutU32(record, 24, static_cast<uint32_t>(f.bytes.size()));
    PutU32(record, 28, static_cast<uint32_t>(stored.size()));
    directory.insert(directory.end(), record.begin(), record.end());
  }
  PutU32(out, 8, static_cast<uint32_t>(out.size()));
  PutU32(out, 12, static_cast<uint32_t>(files.size()));
  out.insert(out.end(), directory.begin(), directory.end());
  return out;
}

int UpdaterFixture::Run() {
  if (installResource) {
    std::vector<uint8_t> archive = ArchiveBytes();
    host::SetResource(102, "UPDATE", archive.data(), archive.size());
  }
  if (setupIni) c_.WriteFile("GAME\\SETUP.INI", *setupIni);
  if (record.writeKey) {
    std::string key = "Software\\" + record.company + "\\" + record.gameDir;
    if (record.instPath) host::SetRegistryString(HKEY_CURRENT_USER, key, "InstPath", *record.instPath);
    if (record.dataPath) host::SetRegistryString(HKEY_CURRENT_USER, key, "DataPath", *record.dataPath);
    if (record.instMode) host::SetRegistryDword(HKEY_CURRENT_USER, key, "InstMode", *record.instMode);
    if (record.instAdd) host::SetRegistryDword(HKEY_CURRENT_USER, key, "InstAdd", *record.instAdd);
  }
  ResetProcessState();
  char commandLine[] = "";
  return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}

void UpdaterFixture::ScriptClickNextThrough() {
  Script([](HWND dialog) {
    host::Click(dialog, IDOK);  // start -> confirm
    host::Click(dialog, IDOK);  // confirm -> update run
    host::Click(dialog, IDOK);  // finished -> close with 0
  });
}

std::vector<std::string> UpdaterFixture::BoxTexts() const {
  std::vector<std::string> texts;
  for (const host::MessageBoxRecord& box : host::MessageBoxes()) texts.push_back(box.text);
  return texts;
}

}  // namespace wz2test
