#include "support/temp_drive.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace wz2test {

namespace {

std::string MakeFolder() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/wz2-drive-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << pattern;
    return std::string();
  }
  return std::string(buffer.data());
}

// Files may have been left without write permission by a test; give them
// back so that removal works for any user.
void RemoveTree(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(folder, error);
}

}  // namespace

TempDrive::TempDrive(char letter, UINT driveType) : letter_(letter), folder_(MakeFolder()) {
  scripted::MapDrive(letter_, folder_, driveType);
}

TempDrive::~TempDrive() { RemoveTree(folder_); }

std::string TempDrive::Root() const { return std::string(1, letter_) + ":"; }

std::string TempDrive::Path(const std::string& relative) const { return Root() + "\\" + relative; }

std::string TempDrive::HostPath(const std::string& relative) const { return scripted::HostPath(Path(relative)); }

void TempDrive::WriteFile(const std::string& relative, const std::string& bytes) const {
  fs::path target(HostPath(relative));
  std::error_code error;
  fs::create_directories(target.parent_path(), error);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << target;
}

std::string TempDrive::ReadFile(const std::string& relative) const {
  std::ifstream in(HostPath(relative), std::ios::binary);
  if (!in) return std::string();
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool TempDrive::Exists(const std::string& relative) const {
  std::error_code error;
  return fs::exists(HostPath(relative), error);
}

bool TempDrive::IsDirectory(const std::string& relative) const {
  std::error_code error;
  return fs::is_directory(HostPath(relative), error);
}

void TempDrive::MakeDirectory(const std::string& relative) const {
  std::error_code error;
  fs::create_directories(HostPath(relative), error);
  if (error) ADD_FAILURE() << "cannot create " << HostPath(relative) << ": " << error.message();
}

std::vector<std::string> TempDrive::List(const std::string& relativeFolder) const {
  std::vector<std::string> names;
  std::string folder = relativeFolder.empty() ? folder_ : HostPath(relativeFolder);
  std::error_code error;
  for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

FILETIME MakeFileTime(uint64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool ReadFileTimes(const std::string& windowsPath, FileTimes* times) {
  HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME creation{}, access{}, write{};
  bool ok = GetFileTime(file, &creation, &access, &write) != FALSE;
  CloseHandle(file);
  if (!ok) return false;
  times->creation = FileTimeValue(creation);
  times->access = FileTimeValue(access);
  times->write = FileTimeValue(write);
  return true;
}

uint64_t NowAsFileTime() {
  // 100-ns intervals between 1601-01-01 and 1970-01-01.
  const uint64_t kUnixEpoch = 116444736000000000ull;
  auto since = std::chrono::system_clock::now().time_since_epoch();
  auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
  return kUnixEpoch + static_cast<uint64_t>(ticks);
}

}  // namespace wz2test
