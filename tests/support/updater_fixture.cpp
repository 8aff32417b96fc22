#include "support/updater_fixture.h"

#include "app/state.h"
#include "archive/payload_check.h"
#include "support/archive_builder.h"

namespace wz2test {

namespace {

// The record the publisher's tool puts beside an archive.
std::vector<uint8_t> CheckRecordFor(const std::vector<uint8_t>& archive) {
  Crc32Tables tables;
  BuildCrc32Tables(&tables);
  std::vector<uint8_t> record(ARCHIVE_CHECK_SIZE);
  MakeArchiveCheck(record.data(), (DWORD)archive.size(), Crc32Update(&tables, 0, archive.data(), archive.size()));
  return record;
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
  scripted::SetTempPath("C:\\TEMP\\");
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
  ArchiveBuilder builder;
  if (includeManifest) builder.Stored("UPDATE.INI", ManifestText(), kPayloadTime);
  for (const PayloadFile& f : payload) {
    if (f.compressed) {
      builder.Compressed(f.name, f.bytes, f.fileTime);
    } else {
      builder.Stored(f.name, f.bytes, f.fileTime);
    }
  }
  builder.CompressDirectory(compressDirectory);
  return builder.Build();
}

int UpdaterFixture::Run() {
  if (installResource) {
    std::vector<uint8_t> archive = ArchiveBytes();
    std::vector<uint8_t> record;
    if (carryCheck) record = CheckRecordFor(archive);
    if (damage) damage(&archive, &record);
    scripted::SetResource(102, "UPDATE", archive.data(), archive.size());
    if (carryCheck) scripted::SetResource(103, "UPDATE", record.data(), record.size());
  }
  if (setupIni) c_.WriteFile("GAME\\SETUP.INI", *setupIni);
  if (record.writeKey) {
    std::string key = "Software\\" + record.company + "\\" + record.gameDir;
    if (record.instPath) scripted::SetRegistryString(HKEY_CURRENT_USER, key, "InstPath", *record.instPath);
    if (record.dataPath) scripted::SetRegistryString(HKEY_CURRENT_USER, key, "DataPath", *record.dataPath);
    if (record.instMode) scripted::SetRegistryDword(HKEY_CURRENT_USER, key, "InstMode", *record.instMode);
    if (record.instAdd) scripted::SetRegistryDword(HKEY_CURRENT_USER, key, "InstAdd", *record.instAdd);
  }
  ResetProcessState();
  char commandLine[] = "";
  return WinMain(GetModuleHandleA(nullptr), nullptr, commandLine, SW_SHOWNORMAL);
}

void UpdaterFixture::ScriptClickNextThrough() {
  Script([](HWND dialog) {
    scripted::Click(dialog, IDOK);  // start -> confirm
    scripted::Click(dialog, IDOK);  // confirm -> update run
    scripted::Click(dialog, IDOK);  // finished -> close with 0
  });
}

std::vector<std::string> UpdaterFixture::BoxTexts() const {
  std::vector<std::string> texts;
  for (const scripted::MessageBoxRecord& box : scripted::MessageBoxes()) texts.push_back(box.text);
  return texts;
}

}  // namespace wz2test
