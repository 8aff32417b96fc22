// A fresh host folder mapped as a Windows drive for one test.
//
// Each TempDrive makes its own empty folder, maps it with scripted::MapDrive and
// removes it again when it goes out of scope, so tests never see each other's
// files. Relative names use '\' or '/' as the updater does; the helpers go
// through scripted::HostPath so that names in code page 932 land where the host
// platform looks for them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "double/scripted_win32.h"

namespace wz2test {

class TempDrive {
 public:
  explicit TempDrive(char letter = 'C', UINT driveType = DRIVE_FIXED);
  ~TempDrive();
  TempDrive(const TempDrive&) = delete;
  TempDrive& operator=(const TempDrive&) = delete;

  char Letter() const { return letter_; }
  // "C:" and "C:\".
  std::string Root() const;
  // The Windows path of a name below the root: Path("GAME\\A.DAT") is
  // "C:\GAME\A.DAT"; Path("") is "C:\".
  std::string Path(const std::string& relative) const;
  // The host folder that holds the drive, and a name's host path.
  const std::string& HostFolder() const { return folder_; }
  std::string HostPath(const std::string& relative) const;

  // Writes bytes to a file, creating missing folders on the way.
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  // The file's bytes; "" when it is missing (use Exists to tell the two apart).
  std::string ReadFile(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  bool IsDirectory(const std::string& relative) const;
  void MakeDirectory(const std::string& relative) const;
  // Names in a folder of the drive, sorted; leftovers show up here.
  std::vector<std::string> List(const std::string& relativeFolder = "") const;

 private:
  char letter_;
  std::string folder_;
};

// Base for tests that work on drive C.
class DriveTest : public ::testing::Test {
 protected:
  TempDrive c_{'C'};
};

// FILETIME helpers shared by file tests.
FILETIME MakeFileTime(uint64_t value);
uint64_t FileTimeValue(const FILETIME& time);
// The three times of a file read through the Win32 calls (the double in tests); false when the
// file can't be opened.
struct FileTimes {
  uint64_t creation = 0;
  uint64_t access = 0;
  uint64_t write = 0;
};
bool ReadFileTimes(const std::string& windowsPath, FileTimes* times);
// Now as a FILETIME value, from the host clock.
uint64_t NowAsFileTime();

}  // namespace wz2test
