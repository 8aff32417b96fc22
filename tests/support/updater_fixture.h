// A whole installed game on the host platform, and an updater to run on it.
//
// Each test gets a fresh drive C: with the installation C:\GAME (its
// SETUP.INI), the data folder C:\DATA and the temporary folder C:\TEMP; the
// install record under HKCU\Software\Maker\Title; and an archive resource
// "UPDATE"/102 holding UPDATE.INI and whatever payload the test adds. Tests
// change the public members before Run(), which writes everything to the
// host platform, resets the updater's process-wide state and calls WinMain.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "double/scripted_win32.h"
#include "support/temp_drive.h"

namespace wz2test {

// One file of the archive besides UPDATE.INI.
struct PayloadFile {
  std::string name;  // entry name, code page 932, at most 14 bytes
  std::string bytes;
  uint64_t fileTime = 0;
  bool compressed = false;
};

// The InstallRecord as the fixture writes it; an unset value is not written.
struct RecordSetup {
  bool writeKey = true;
  std::string company = "Maker";
  std::string gameDir = "Title";
  std::optional<std::string> instPath = std::string("C:\\GAME");
  std::optional<std::string> dataPath = std::string("C:\\DATA");
  std::optional<DWORD> instMode = 1u;
  std::optional<DWORD> instAdd = 0u;
};

// The file time the fixture stamps on payload entries unless told otherwise:
// 2020-01-01 00:00:00 UTC.
constexpr uint64_t kPayloadTime = 132223104000000000ull;

class UpdaterFixture : public ::testing::Test {
 protected:
  void SetUp() override;

  // ---- The run's inputs (change before Run) --------------------------------
  // Key lines of the manifest's sections, "Key=Value\r\n" each.
  std::string manifestSetup;
  std::string manifestUpdate;
  // Any text after the two sections, or the whole manifest when set.
  std::optional<std::string> manifestOverride;
  bool includeManifest = true;   // put UPDATE.INI into the archive
  bool installResource = true;   // give the executable its archive resource
  bool compressDirectory = false;
  // Give the executable the archive's check record "UPDATE"/103 as the
  // publisher's tool makes it.
  bool carryCheck = false;
  // Applied to the archive and the record after the record is made: a
  // download damaged on the way.
  std::function<void(std::vector<uint8_t>* archive, std::vector<uint8_t>* record)> damage;
  std::vector<PayloadFile> payload;
  // The installed SETUP.INI; unset: no file is written.
  std::optional<std::string> setupIni;
  RecordSetup record;

  // Adds a payload file with the default time.
  void AddFile(const std::string& name, const std::string& bytes, uint64_t fileTime = kPayloadTime,
               bool compressed = false);
  // Appends "key=value\r\n" to a section.
  void SetupKey(const std::string& key, const std::string& value);
  void UpdateKey(const std::string& key, const std::string& value);

  // The manifest text as the archive will hold it.
  std::string ManifestText() const;
  // The archive bytes as the resource will hold them.
  std::vector<uint8_t> ArchiveBytes() const;

  // Writes everything, runs WinMain once and returns its exit code.
  int Run();

  // ---- Dialog scripts ------------------------------------------------------
  // Presses next on each page: start -> confirm -> update -> (finished) close.
  void ScriptClickNextThrough();
  void Script(std::function<void(HWND)> script) { scripted::SetDialogScript(std::move(script)); }

  // ---- What the run did ------------------------------------------------------
  const std::vector<scripted::MessageBoxRecord>& Boxes() const { return scripted::MessageBoxes(); }
  std::vector<std::string> BoxTexts() const;
  // Names left in C:\TEMP (the run's own folder must be gone).
  std::vector<std::string> TempLeftovers() const { return c_.List("TEMP"); }
  // Whether the fixture's installation has a file (relative to C:\).
  bool Exists(const std::string& relative) const { return c_.Exists(relative); }
  std::string Read(const std::string& relative) const { return c_.ReadFile(relative); }

  TempDrive c_{'C'};
};

// Texts of the installed profile and manifest used by default.
std::string DefaultSetupIni();
std::string DefaultManifestSetup();

// Windows path of the installation and what it holds.
inline const char* kInstPath = "C:\\GAME";

}  // namespace wz2test
