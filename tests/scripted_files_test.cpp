// The Windows file, drive, module, memory and resource behaviours that the
// updater relies on, as the scripted Win32 double reproduces them.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "double/scripted_win32.h"

namespace {

namespace fs = std::filesystem;

// Drive C mapped to a fresh folder under /tmp for each test.
class ScriptedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/scripted-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    scripted::MapDrive('C', root_);
  }
  void TearDown() override {
    scripted::Reset();  // closes handles left by a failed test
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root_);
  }
  void Put(const std::string& rel, const std::string& bytes) {
    fs::create_directories(fs::path(root_ + "/" + rel).parent_path());
    std::ofstream(root_ + "/" + rel, std::ios::binary) << bytes;
  }
  std::string Get(const std::string& rel) {
    std::ifstream in(root_ + "/" + rel, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& rel) { return fs::exists(root_ + "/" + rel); }

  std::string root_;
};

HANDLE OpenRead(const char* name, DWORD share = FILE_SHARE_READ) {
  return CreateFileA(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenWrite(const char* name, DWORD disposition, DWORD share = 0) {
  return CreateFileA(name, GENERIC_WRITE, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteText(HANDLE h, const std::string& s) {
  DWORD written = 0;
  return WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &written, nullptr) && written == s.size();
}

FILETIME Ft(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

uint64_t V(const FILETIME& ft) { return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

// ---- Creating, reading and writing ------------------------------------------

TEST_F(ScriptedFiles, WrittenBytesReadBackThroughAHandleThatRefusesWrites) {
  HANDLE h = OpenWrite("C:\\A.DAT", CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WriteText(h, std::string("ab\0cd", 5)));
  EXPECT_TRUE(CloseHandle(h));
  h = OpenRead("C:\\A.DAT");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 5u);
  EXPECT_EQ(high, 0u);
  char buf[16] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &read, nullptr));  // short read at the end is success
  EXPECT_EQ(read, 5u);
  EXPECT_EQ(std::string(buf, 5), std::string("ab\0cd", 5));
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &read, nullptr));
  EXPECT_EQ(read, 0u);
  DWORD written = 9;
  EXPECT_FALSE(WriteFile(h, "y", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Get("A.DAT"), std::string("ab\0cd", 5));
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

// What CreateFileA makes of each disposition and what the name holds. The
// hidden row is a refusal Windows documents and Wine lacks: overwriting a
// hidden file must ask for the hidden attribute.
TEST_F(ScriptedFiles, OpenFollowsTheDispositionAndWhatTheNameHolds) {
  enum Holds { NOTHING, OLD_FILE, HIDDEN_FILE, FOLDER };
  struct Case {
    const char* name;
    Holds holds;
    const char* path;
    DWORD access;
    DWORD disposition;
    bool opens;
    DWORD error;
    const char* after;  // A.DAT's bytes afterwards, nullptr when it is no file
  } cases[] = {
      {"CREATE_NEW over a file", OLD_FILE, "C:\\A.DAT", GENERIC_WRITE, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
      {"CREATE_ALWAYS over a file", OLD_FILE, "C:\\A.DAT", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
      {"CREATE_ALWAYS of a new name", NOTHING, "C:\\A.DAT", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_SUCCESS, ""},
      {"OPEN_ALWAYS over a file", OLD_FILE, "C:\\A.DAT", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, true,
       ERROR_ALREADY_EXISTS, "old"},
      {"OPEN_EXISTING of a missing file", NOTHING, "C:\\A.DAT", GENERIC_READ, OPEN_EXISTING, false,
       ERROR_FILE_NOT_FOUND, nullptr},
      {"OPEN_EXISTING in a missing folder", NOTHING, "C:\\NODIR\\A.DAT", GENERIC_READ, OPEN_EXISTING, false,
       ERROR_PATH_NOT_FOUND, nullptr},
      {"CREATE_ALWAYS in a missing folder", NOTHING, "C:\\NODIR\\A.DAT", GENERIC_WRITE, CREATE_ALWAYS, false,
       ERROR_PATH_NOT_FOUND, nullptr},
      {"CREATE_ALWAYS over a folder", FOLDER, "C:\\A.DAT", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_ACCESS_DENIED,
       nullptr},
      {"CREATE_ALWAYS over a hidden file", HIDDEN_FILE, "C:\\A.DAT", GENERIC_WRITE, CREATE_ALWAYS, false,
       ERROR_ACCESS_DENIED, "old"},
      {"a reserved character", NOTHING, "C:\\A?.DAT", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_INVALID_NAME, nullptr},
      {"an unmapped drive", NOTHING, "Q:\\A.DAT", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_PATH_NOT_FOUND, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.holds == FOLDER) fs::create_directory(root_ + "/A.DAT");
    if (c.holds == OLD_FILE || c.holds == HIDDEN_FILE) Put("A.DAT", "old");
    if (c.holds == HIDDEN_FILE) {
      ASSERT_TRUE(SetFileAttributesA("C:\\A.DAT", FILE_ATTRIBUTE_HIDDEN));
    }
    HANDLE h = CreateFileA(c.path, c.access, 0, nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    EXPECT_EQ(GetLastError(), c.error);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (c.after != nullptr) {
      EXPECT_EQ(Get("A.DAT"), c.after);
    } else {
      EXPECT_FALSE(fs::is_regular_file(root_ + "/A.DAT"));
    }
    if (c.holds == FOLDER) {
      EXPECT_TRUE(fs::is_directory(root_ + "/A.DAT"));
    }
    SetFileAttributesA("C:\\A.DAT", FILE_ATTRIBUTE_NORMAL);
    fs::remove(root_ + "/A.DAT");
  }
}

TEST_F(ScriptedFiles, ClosingAHandleTwiceFails) {
  HANDLE h = OpenWrite("C:\\A.DAT", CREATE_ALWAYS);
  EXPECT_EQ(scripted::OpenHandles(), 1);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(ScriptedFiles, FilePointerMovesAndRefusesNegativePositions) {
  Put("A.DAT", "0123456789");
  HANDLE h = OpenRead("C:\\A.DAT");
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  char c[2] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, c, 2, &read, nullptr));  // the failed move left the position alone
  EXPECT_EQ(std::string(c, 2), "89");
  LONG high = 1;  // 4 GiB + 1: the high half is honoured
  EXPECT_EQ(SetFilePointer(h, 1, &high, FILE_BEGIN), 1u);
  EXPECT_EQ(high, 1);
  CloseHandle(h);
}

TEST_F(ScriptedFiles, InjectedDiskFullWritesOnlyThePermittedBytes) {
  scripted::FailWritesTo("\\BIG.DAT", 3);
  HANDLE h = OpenWrite("C:\\BIG.DAT", CREATE_ALWAYS);
  DWORD written = 0;
  EXPECT_FALSE(WriteFile(h, "abcdef", 6, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(written, 3u);
  CloseHandle(h);
  EXPECT_EQ(Get("BIG.DAT"), "abc");
  h = OpenWrite("C:\\OTHER.DAT", CREATE_ALWAYS);
  EXPECT_TRUE(WriteText(h, "abcdef"));  // other files are not affected
  CloseHandle(h);
}

TEST_F(ScriptedFiles, InjectedShortReadEndsOnlyItsFileEarly) {
  Put("SHORT.DAT", "abcdef");
  Put("WHOLE.DAT", "abcdef");
  scripted::ShortenReadsOf("\\SHORT.DAT", 4);
  for (const char* name : {"C:\\SHORT.DAT", "C:\\WHOLE.DAT"}) {
    SCOPED_TRACE(name);
    HANDLE h = OpenRead(name);
    char buf[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, buf, 3, &read, nullptr));
    EXPECT_EQ(read, 3u);
    EXPECT_TRUE(ReadFile(h, buf + 3, 5, &read, nullptr));  // as at the end of a shrunk file: success
    EXPECT_EQ(std::string(buf), std::string(name).find("SHORT") != std::string::npos ? "abcd" : "abcdef");
    CloseHandle(h);
  }
}

// ---- Sharing ------------------------------------------------------------------

// An open must share what every open handle holds, and every open handle
// must share what it asks for; a refused open changes nothing and goes
// through once the first handle is closed.
TEST_F(ScriptedFiles, SecondOpenMustShareWithTheFirstBothWays) {
  struct Open {
    DWORD access;
    DWORD share;
    DWORD disposition;
  };
  struct Case {
    const char* name;
    Open first;
    Open second;
    bool opens;
  } cases[] = {
      {"a reader sharing nothing, then a sharing reader", {GENERIC_READ, 0, OPEN_EXISTING},
       {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING}, false},
      {"two readers sharing reading", {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING},
       {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING}, true},
      {"a sharing reader, then a writer", {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING},
       {GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING}, false},
      {"a sharing reader, then a truncating create", {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING},
       {GENERIC_WRITE, 0, CREATE_ALWAYS}, false},
      {"a sharing reader, then a reader sharing nothing", {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING},
       {GENERIC_READ, 0, OPEN_EXISTING}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Put("A.DAT", "x");
    auto open = [](const Open& o) {
      return CreateFileA("C:\\A.DAT", o.access, o.share, nullptr, o.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE first = open(c.first);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = open(c.second);
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.opens);
    if (second == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(Get("A.DAT"), "x");
    CloseHandle(first);
    if (second == INVALID_HANDLE_VALUE) second = open(c.second);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    EXPECT_EQ(scripted::OpenHandles(), 0);
  }
}

TEST_F(ScriptedFiles, OpenFileCannotBeDeletedOrMovedAway) {
  Put("A.DAT", "x");
  HANDLE a = OpenRead("C:\\A.DAT", FILE_SHARE_READ);
  EXPECT_FALSE(DeleteFileA("C:\\A.DAT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExA("C:\\A.DAT", "C:\\B.DAT", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(a);
  EXPECT_TRUE(DeleteFileA("C:\\A.DAT"));
  EXPECT_FALSE(Exists("A.DAT"));
}

// ---- Attributes and the read-only flag ------------------------------------------

TEST_F(ScriptedFiles, AttributesOfFilesDirectoriesAndMissingNames) {
  Put("DIR/A.DAT", "x");
  EXPECT_EQ(GetFileAttributesA("C:\\DIR"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("C:\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA("C:\\DIR\\A.DAT"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesA("C:\\DIR\\NONE"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\NODIR\\NONE"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(scripted::HostPath("Q:\\A.DAT"), "");  // an unmapped drive is a missing path
  EXPECT_EQ(GetFileAttributesA("Q:\\A.DAT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(SetFileAttributesA("C:\\DIR\\A.DAT", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\DIR\\A.DAT"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(SetFileAttributesA("C:\\DIR\\A.DAT", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\DIR\\A.DAT"), FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ScriptedFiles, ReadOnlyFileRefusesWritingReplacingAndDeletingEvenForRoot) {
  Put("A.DAT", "protected");
  Put("B.DAT", "other");
  ASSERT_TRUE(SetFileAttributesA("C:\\A.DAT", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA("C:\\A.DAT"), FILE_ATTRIBUTE_READONLY);
  struct stat st;
  ASSERT_EQ(stat((root_ + "/A.DAT").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);  // mirrored into the host permissions

  EXPECT_EQ(OpenWrite("C:\\A.DAT", CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenWrite("C:\\A.DAT", OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("C:\\A.DAT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(MoveFileExA("C:\\B.DAT", "C:\\A.DAT", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Get("A.DAT"), "protected");
  EXPECT_TRUE(Exists("B.DAT"));

  HANDLE r = OpenRead("C:\\A.DAT");  // reading stays possible
  EXPECT_NE(r, INVALID_HANDLE_VALUE);
  CloseHandle(r);

  ASSERT_TRUE(SetFileAttributesA("C:\\A.DAT", FILE_ATTRIBUTE_NORMAL));
  HANDLE w = OpenWrite("C:\\A.DAT", CREATE_ALWAYS);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WriteText(w, "new"));
  CloseHandle(w);
  EXPECT_EQ(Get("A.DAT"), "new");
}

TEST_F(ScriptedFiles, FileWithoutHostWritePermissionCountsAsReadOnly) {
  Put("A.DAT", "x");
  fs::permissions(root_ + "/A.DAT", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(GetFileAttributesA("C:\\A.DAT"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(OpenWrite("C:\\A.DAT", CREATE_ALWAYS), INVALID_HANDLE_VALUE);
}

TEST_F(ScriptedFiles, NewFileTakesRequestedAttributesPlusArchive) {
  HANDLE h = CreateFileA("C:\\RO.DAT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(WriteText(h, "still writable through this handle"));
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesA("C:\\RO.DAT"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

// Linux keeps no creation time and the double keeps it itself; access and
// write times go to the host file to the 100 ns, before 1970 too.
TEST_F(ScriptedFiles, AllThreeTimesRoundTripToTheHundredNanosecond) {
  struct Case {
    const char* name;
    uint64_t creation, access, write;
    int64_t hostSeconds;  // the write time as the host file holds it
    long hostNanoseconds;
  } cases[] = {
      {"odd 100 ns digits", 132000000000000001ull, 132100000000000123ull, 132200000000004567ull, 1575526400, 456700},
      {"1917", 100000000000000007ull, 100000000000000007ull, 100000000000000007ull, -1644473600, 700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE h = OpenWrite("C:\\T.DAT", CREATE_ALWAYS);
    ASSERT_TRUE(WriteText(h, "data"));
    FILETIME ct = Ft(c.creation), at = Ft(c.access), wt = Ft(c.write);
    ASSERT_TRUE(SetFileTime(h, &ct, &at, &wt));
    CloseHandle(h);

    h = OpenRead("C:\\T.DAT");
    char buf[8];
    DWORD read = 0;
    ReadFile(h, buf, sizeof buf, &read, nullptr);  // reading must not move the access time
    FILETIME gc{}, ga{}, gw{};
    ASSERT_TRUE(GetFileTime(h, &gc, &ga, &gw));
    CloseHandle(h);
    EXPECT_EQ(V(gc), c.creation);
    EXPECT_EQ(V(ga), c.access);
    EXPECT_EQ(V(gw), c.write);

    struct stat st;
    ASSERT_EQ(stat((root_ + "/T.DAT").c_str(), &st), 0);
    EXPECT_EQ(static_cast<int64_t>(st.st_mtim.tv_sec), c.hostSeconds);
    EXPECT_EQ(st.st_mtim.tv_nsec, c.hostNanoseconds);
  }
}

TEST_F(ScriptedFiles, NullOrZeroTimesAreLeftAlone) {
  HANDLE h = OpenWrite("C:\\T.DAT", CREATE_ALWAYS);
  FILETIME t = Ft(131000000000000000ull);
  ASSERT_TRUE(SetFileTime(h, &t, &t, &t));
  FILETIME zero = Ft(0), later = Ft(131500000000000000ull);
  ASSERT_TRUE(SetFileTime(h, nullptr, &zero, &later));
  FILETIME gc{}, ga{}, gw{};
  ASSERT_TRUE(GetFileTime(h, &gc, &ga, &gw));
  CloseHandle(h);
  EXPECT_EQ(V(gc), 131000000000000000ull);
  EXPECT_EQ(V(ga), 131000000000000000ull);
  EXPECT_EQ(V(gw), 131500000000000000ull);
}

TEST_F(ScriptedFiles, SettingTimesNeedsAWritableHandle) {
  Put("A.DAT", "x");
  HANDLE h = OpenRead("C:\\A.DAT");
  FILETIME t = Ft(131000000000000000ull);
  EXPECT_FALSE(SetFileTime(h, &t, &t, &t));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(h);
}

TEST_F(ScriptedFiles, CreationTimeSurvivesRenameAndOverwrite) {
  HANDLE h = OpenWrite("C:\\A.DAT", CREATE_ALWAYS);
  FILETIME c = Ft(125000000000000000ull);
  ASSERT_TRUE(SetFileTime(h, &c, nullptr, nullptr));
  CloseHandle(h);
  ASSERT_TRUE(MoveFileExA("C:\\A.DAT", "C:\\B.DAT", 0));
  h = OpenWrite("C:\\B.DAT", CREATE_ALWAYS);  // overwriting keeps the file's creation time
  FILETIME gc{};
  ASSERT_TRUE(GetFileTime(h, &gc, nullptr, nullptr));
  CloseHandle(h);
  EXPECT_EQ(V(gc), 125000000000000000ull);
}

TEST_F(ScriptedFiles, DeletedAndRecreatedFileGetsAFreshCreationTime) {
  HANDLE h = OpenWrite("C:\\A.DAT", CREATE_ALWAYS);
  FILETIME c = Ft(125000000000000000ull);
  ASSERT_TRUE(SetFileTime(h, &c, nullptr, nullptr));
  CloseHandle(h);
  ASSERT_TRUE(DeleteFileA("C:\\A.DAT"));
  h = OpenWrite("C:\\A.DAT", CREATE_NEW);
  FILETIME gc{};
  ASSERT_TRUE(GetFileTime(h, &gc, nullptr, nullptr));
  CloseHandle(h);
  EXPECT_GT(V(gc), 130000000000000000ull);  // now, not 1997
}

// ---- Directories, deleting and moving ----------------------------------------------------

TEST_F(ScriptedFiles, CreateDirectoryReportsExistingAndMissingParent) {
  EXPECT_TRUE(CreateDirectoryA("C:\\NEW", nullptr));
  EXPECT_TRUE(fs::is_directory(root_ + "/NEW"));
  EXPECT_FALSE(CreateDirectoryA("C:\\NEW", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  Put("FILE", "x");
  EXPECT_FALSE(CreateDirectoryA("C:\\FILE", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA("C:\\NO\\DEEPER", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(CreateDirectoryA("C:\\NEW\\", nullptr));  // a trailing separator names the same folder
}

TEST_F(ScriptedFiles, CreateDirectoryKeepsRoomForAShortNameInside) {
  std::string name = "C:\\" + std::string(246, 'D');  // 249 characters
  EXPECT_FALSE(CreateDirectoryA(name.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  name.pop_back();  // 248
  EXPECT_TRUE(CreateDirectoryA(name.c_str(), nullptr));
}

TEST_F(ScriptedFiles, OverlongPathsAreRefused) {
  std::string name = "C:\\" + std::string(257, 'F');  // MAX_PATH bytes: no room for the NUL
  EXPECT_EQ(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(ScriptedFiles, RemoveDirectoryRefusesNonEmptyFolders) {
  Put("DIR/A.DAT", "x");
  EXPECT_FALSE(RemoveDirectoryA("C:\\DIR"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(RemoveDirectoryA("C:\\DIR\\A.DAT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(DeleteFileA("C:\\DIR"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DeleteFileA("C:\\DIR\\A.DAT"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\DIR"));
  EXPECT_FALSE(Exists("DIR"));
  EXPECT_FALSE(DeleteFileA("C:\\DIR\\A.DAT"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// MoveFileExA of A.DAT ("new") where B.DAT ("old") exists. A read-only
// file may be renamed and keeps its attributes; a refused move leaves both.
TEST_F(ScriptedFiles, MoveReplacesOnlyWhenAskedAndNeverATargetInUse) {
  enum Setup { PLAIN, TARGET_OPEN, SOURCE_READ_ONLY, NO_SOURCE };
  struct Case {
    const char* name;
    Setup setup;
    const char* to;
    DWORD flags;
    DWORD error;  // ERROR_SUCCESS when the move goes through
  } cases[] = {
      {"onto a file without replacing", PLAIN, "C:\\B.DAT", 0, ERROR_ALREADY_EXISTS},
      {"onto a file, replacing", PLAIN, "C:\\B.DAT", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, ERROR_SUCCESS},
      {"onto a file held open", TARGET_OPEN, "C:\\B.DAT", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {"from a missing name", NO_SOURCE, "C:\\C.DAT", 0, ERROR_FILE_NOT_FOUND},
      {"into a missing folder", PLAIN, "C:\\NODIR\\C.DAT", 0, ERROR_PATH_NOT_FOUND},
      {"a read-only file to a new name", SOURCE_READ_ONLY, "C:\\C.DAT", 0, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.setup != NO_SOURCE) Put("A.DAT", "new");
    Put("B.DAT", "old");
    if (c.setup == SOURCE_READ_ONLY) {
      ASSERT_TRUE(SetFileAttributesA("C:\\A.DAT", FILE_ATTRIBUTE_READONLY));
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.setup == TARGET_OPEN)
      held = OpenRead("C:\\B.DAT", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    BOOL moved = MoveFileExA("C:\\A.DAT", c.to, c.flags);
    EXPECT_EQ(moved != FALSE, c.error == ERROR_SUCCESS);
    if (!moved) {
      EXPECT_EQ(GetLastError(), c.error);
      if (c.setup != NO_SOURCE) {
        EXPECT_EQ(Get("A.DAT"), "new");
      }
    } else {
      EXPECT_FALSE(Exists("A.DAT"));
      EXPECT_EQ(Get(std::string(c.to).substr(3)), "new");
      if (c.setup == SOURCE_READ_ONLY) {
        EXPECT_EQ(GetFileAttributesA(c.to), FILE_ATTRIBUTE_READONLY);
      }
    }
    if (std::string(c.to) != "C:\\B.DAT" || !moved) {
      EXPECT_EQ(Get("B.DAT"), "old");
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    for (const char* name : {"C:\\A.DAT", "C:\\B.DAT", "C:\\C.DAT"}) {
      SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(name);
    }
  }
}

// The documented contract: the result has the replacement's content and
// write time, and the replaced file's attributes, creation time, owner and
// security; named streams are the replacement's own when it has any, else
// the replaced file's. The replacement's name is gone.
TEST_F(ScriptedFiles, ReplaceKeepsWhatTheReplacedFileHad) {
  struct Case {
    const char* name;
    std::string replacementStreams;
    std::string resultStreams;
  } cases[] = {{"replacement without streams", "", "thumbnail"}, {"replacement with its own", "own", "own"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Put("OLD.DAT", "old");
    Put("NEW.TMP", "new");
    HANDLE h = OpenWrite("C:\\OLD.DAT", OPEN_EXISTING);
    FILETIME oldTimes = Ft(130000000000000000ull);
    ASSERT_TRUE(SetFileTime(h, &oldTimes, &oldTimes, &oldTimes));
    CloseHandle(h);
    h = OpenWrite("C:\\NEW.TMP", OPEN_EXISTING);
    FILETIME newTimes = Ft(132000000000000000ull);
    ASSERT_TRUE(SetFileTime(h, &newTimes, &newTimes, &newTimes));
    CloseHandle(h);
    ASSERT_TRUE(SetFileAttributesA("C:\\OLD.DAT", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    scripted::SetFileMetadata("C:\\OLD.DAT", {"player", "D:(A;;FA;;;BU)", "thumbnail"});
    scripted::SetFileMetadata("C:\\NEW.TMP", {"admin", "D:inherited", c.replacementStreams});

    ASSERT_TRUE(ReplaceFileA("C:\\OLD.DAT", "C:\\NEW.TMP", nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr));
    EXPECT_FALSE(Exists("NEW.TMP"));
    EXPECT_EQ(GetFileAttributesA("C:\\OLD.DAT"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(scripted::FileMetadataOf("C:\\OLD.DAT"), (scripted::FileMetadata{"player", "D:(A;;FA;;;BU)", c.resultStreams}));
    h = OpenRead("C:\\OLD.DAT");
    FILETIME creation, write;
    ASSERT_TRUE(GetFileTime(h, &creation, nullptr, &write));
    CloseHandle(h);
    EXPECT_EQ(V(creation), 130000000000000000ull);
    EXPECT_EQ(V(write), 132000000000000000ull);
    EXPECT_EQ(Get("OLD.DAT"), "new");
    ASSERT_TRUE(SetFileAttributesA("C:\\OLD.DAT", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(DeleteFileA("C:\\OLD.DAT"));
  }
}

// What makes a replacement fail, with both files left as they were.
TEST_F(ScriptedFiles, ReplaceRefusesMissingReadOnlyAndHeldFiles) {
  enum Setup { MISSING_REPLACED, MISSING_REPLACEMENT, READ_ONLY, READER_WITHOUT_DELETE, REPLACEMENT_OPEN, BACKUP };
  struct Case {
    const char* name;
    Setup setup;
    DWORD error;
  } cases[] = {
      {"no replaced file", MISSING_REPLACED, ERROR_FILE_NOT_FOUND},
      {"no replacement", MISSING_REPLACEMENT, ERROR_FILE_NOT_FOUND},
      {"read-only replaced file", READ_ONLY, ERROR_ACCESS_DENIED},
      {"replaced file open without delete sharing", READER_WITHOUT_DELETE, ERROR_SHARING_VIOLATION},
      {"replacement open", REPLACEMENT_OPEN, ERROR_SHARING_VIOLATION},
      {"a backup asked for", BACKUP, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.setup != MISSING_REPLACED) Put("OLD.DAT", "old");
    if (c.setup != MISSING_REPLACEMENT) Put("NEW.TMP", "new");
    if (c.setup == READ_ONLY) {
      ASSERT_TRUE(SetFileAttributesA("C:\\OLD.DAT", FILE_ATTRIBUTE_READONLY));
    }
    HANDLE h = INVALID_HANDLE_VALUE;
    if (c.setup == READER_WITHOUT_DELETE) h = OpenRead("C:\\OLD.DAT", FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (c.setup == REPLACEMENT_OPEN) h = OpenRead("C:\\NEW.TMP", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    const char* backup = c.setup == BACKUP ? "C:\\OLD.BAK" : nullptr;
    EXPECT_FALSE(ReplaceFileA("C:\\OLD.DAT", "C:\\NEW.TMP", backup, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(Get("OLD.DAT"), c.setup == MISSING_REPLACED ? "" : "old");
    EXPECT_EQ(Get("NEW.TMP"), c.setup == MISSING_REPLACEMENT ? "" : "new");
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    SetFileAttributesA("C:\\OLD.DAT", FILE_ATTRIBUTE_NORMAL);
    DeleteFileA("C:\\OLD.DAT");
    DeleteFileA("C:\\NEW.TMP");
  }
}

// Scripted failures: counted per call, spent one a call, and for
// ReplaceFileA with the names left as documented for the code.
TEST_F(ScriptedFiles, ScriptedReplaceFailuresLeaveTheDocumentedNames) {
  struct Case {
    DWORD error;
    std::string oldName;  // where the replaced file's bytes are, "" when gone
  } cases[] = {
      {ERROR_SHARING_VIOLATION, "OLD.DAT"},
      {ERROR_UNABLE_TO_REMOVE_REPLACED, "OLD.DAT"},
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT, ""},
      {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, "OLD.DAT.~RF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    scripted::Reset();
    scripted::MapDrive('C', root_);
    Put("OLD.DAT", "old");
    Put("NEW.TMP", "new");
    ASSERT_TRUE(SetFileAttributesA("C:\\OLD.DAT", FILE_ATTRIBUTE_HIDDEN));
    scripted::FailFileCalls(scripted::FileCall::Replace, "old.dat", 1, c.error);
    EXPECT_FALSE(ReplaceFileA("C:\\OLD.DAT", "C:\\NEW.TMP", nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(Get("NEW.TMP"), "new");
    if (c.oldName.empty()) {
      EXPECT_FALSE(Exists("OLD.DAT"));
    } else {
      EXPECT_EQ(Get(c.oldName), "old");
    }
    // Only the last code hands the replacement the replaced file's attributes.
    DWORD inherited = c.error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_ARCHIVE;
    EXPECT_EQ(GetFileAttributesA("C:\\NEW.TMP"), inherited);
    EXPECT_EQ(scripted::FileCallCount(scripted::FileCall::Replace), 1);
    if (c.oldName == "OLD.DAT") {
      // The script is spent: the next call goes through.
      EXPECT_TRUE(ReplaceFileA("C:\\OLD.DAT", "C:\\NEW.TMP", nullptr, 0, nullptr, nullptr));
      EXPECT_EQ(Get("OLD.DAT"), "new");
    }
    for (const char* name : {"OLD.DAT", "NEW.TMP", "OLD.DAT.~RF"}) fs::remove(root_ + "/" + name);
  }
}

TEST_F(ScriptedFiles, ScriptedConflictsHitOnlyExistingFilesOfTheirCall) {
  Put("A.DAT", "a");
  scripted::FailFileCalls(scripted::FileCall::Create, "A.DAT", 2, ERROR_LOCK_VIOLATION);
  scripted::FailFileCalls(scripted::FileCall::Move, "C.DAT", 1);
  // A new file is no conflict, and another call is not affected.
  HANDLE h = OpenWrite("C:\\B.DAT", CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(MoveFileExA("C:\\B.DAT", "C:\\B2.DAT", 0));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(OpenRead("C:\\A.DAT"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  }
  h = OpenRead("C:\\A.DAT");
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_FALSE(MoveFileExA("C:\\B2.DAT", "C:\\C.DAT", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(MoveFileExA("C:\\B2.DAT", "C:\\C.DAT", 0));
  EXPECT_EQ(scripted::FileCallCount(scripted::FileCall::Create), 4);
  EXPECT_EQ(scripted::FileCallCount(scripted::FileCall::Move), 3);
}

// ---- Time ---------------------------------------------------------------------------

TEST_F(ScriptedFiles, SleepNeverWaitsAndMovesASetClockOn) {
  scripted::SetSystemTime(132000000000000000ull);
  Sleep(100);
  Sleep(250);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  EXPECT_EQ(V(now), 132000000000000000ull + 350ull * 10000ull);
  EXPECT_EQ(scripted::Sleeps(), (std::vector<DWORD>{100, 250}));
}

// ---- Paths ----------------------------------------------------------------------

TEST_F(ScriptedFiles, NamesMatchExistingEntriesWithoutRegardToCase) {
  Put("GAME/Data/A.DAT", "x");
  EXPECT_EQ(scripted::HostPath("c:\\game\\DATA\\a.dat"), root_ + "/GAME/Data/A.DAT");
  HANDLE h = OpenRead("c:/game/data/A.dat");
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

TEST_F(ScriptedFiles, RelativeAndDotPathsResolveAgainstTheCurrentDirectory) {
  Put("GAME/A.DAT", "x");
  scripted::SetCurrentDirectory("C:\\GAME");
  EXPECT_EQ(scripted::HostPath("A.DAT"), root_ + "/GAME/A.DAT");
  EXPECT_EQ(scripted::HostPath("C:A.DAT"), root_ + "/GAME/A.DAT");
  EXPECT_EQ(scripted::HostPath("\\GAME\\.\\X\\..\\A.DAT"), root_ + "/GAME/A.DAT");
  EXPECT_EQ(scripted::HostPath("C:\\..\\..\\A.DAT"), root_ + "/A.DAT");  // cannot climb above the root
  EXPECT_EQ(scripted::HostPath("C:\\GAME\\A.DAT. "), root_ + "/GAME/A.DAT");  // trailing dots and spaces go
  EXPECT_EQ(GetFileAttributesA("A.DAT"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(ScriptedFiles, FullPathNamesAreMadeFromTheTextAlone) {
  scripted::SetCurrentDirectory("C:\\GAME");
  struct Case {
    const char* name;
    const char* full;
    int nameAt;  // offset of the name in the result, -1 when none
  } cases[] = {
      {"A.DAT", "C:\\GAME\\A.DAT", 8},
      {".\\SUB\\..\\A.DAT. ", "C:\\GAME\\A.DAT", 8},
      {"\\X/Y.DAT", "C:\\X\\Y.DAT", 5},
      {"D:\\NOT\\MAPPED.DAT", "D:\\NOT\\MAPPED.DAT", 7},
      {"C:\\GAME\\", "C:\\GAME\\", -1},
      {"C:\\GAME\\\x83\x5C", "C:\\GAME\\\x83\x5C", 8},  // its 0x5C belongs to the character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char out[MAX_PATH];
    LPSTR nameStart = out;  // any value the call must overwrite
    EXPECT_EQ(GetFullPathNameA(c.name, sizeof out, out, &nameStart), std::strlen(c.full));
    EXPECT_STREQ(out, c.full);
    EXPECT_EQ(nameStart, c.nameAt < 0 ? nullptr : out + c.nameAt);
  }
  char small[5];
  EXPECT_EQ(GetFullPathNameA("A.DAT", sizeof small, small, nullptr), 14u);  // the size needed, NUL included
}

TEST_F(ScriptedFiles, CaseFoldingSparesTheSecondByteOfADoubleByteCharacter) {
  // 0x83 0x41 and 0x83 0x61 are different katakana, not one name in two cases.
  Put("\x83\x41.DAT", "x");
  EXPECT_EQ(GetFileAttributesA("C:\\\x83\x61.DAT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA("C:\\\x83\x41.dat"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(ScriptedFiles, TempPathDefaultsAndReportsTheNeededSize) {
  char buf[MAX_PATH];
  EXPECT_EQ(GetTempPathA(MAX_PATH, buf), 8u);
  EXPECT_STREQ(buf, "C:\\TEMP\\");
  char small[4] = {'k', 'e', 'e', 'p'};
  EXPECT_EQ(GetTempPathA(sizeof small, small), 9u);  // needed size, terminator included
  EXPECT_EQ(std::string(small, 4), "keep");
  char noRoomForTheNul[8];
  std::memset(noRoomForTheNul, 'k', sizeof noRoomForTheNul);
  EXPECT_EQ(GetTempPathA(sizeof noRoomForTheNul, noRoomForTheNul), 9u);
  EXPECT_EQ(std::string(noRoomForTheNul, 8), "kkkkkkkk");
  scripted::SetTempPath("");
  EXPECT_EQ(GetTempPathA(MAX_PATH, buf), 0u);
}

TEST_F(ScriptedFiles, TempFileNameCreatesADistinctFileEachTime) {
  fs::create_directory(root_ + "/TEMP");
  char a[MAX_PATH], b[MAX_PATH];
  UINT ua = GetTempFileNameA("C:\\TEMP", "UPDATE", 0, a);
  UINT ub = GetTempFileNameA("C:\\TEMP\\", "UPD", 0, b);
  ASSERT_NE(ua, 0u);
  ASSERT_NE(ub, 0u);
  EXPECT_STRNE(a, b);
  char expected[MAX_PATH];
  wsprintfA(expected, "C:\\TEMP\\UPD%X.TMP", ua);
  EXPECT_STREQ(a, expected);
  EXPECT_NE(GetFileAttributesA(a), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(b), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(scripted::OpenHandles(), 0);
}

TEST_F(ScriptedFiles, TempFileNameWithAGivenNumberOnlyFormsTheName) {
  char out[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA("C:\\X", "AB", 0x1A2B, out), 0x1A2Bu);
  EXPECT_STREQ(out, "C:\\X\\AB1A2B.TMP");
  EXPECT_FALSE(Exists("X"));
  EXPECT_EQ(GetTempFileNameA("C:\\NODIR", "AB", 0, out), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ScriptedFiles, TempFileNameRefusesAFolderWithoutRoomForTheName) {
  // Windows' rule: the folder may be MAX_PATH - 14 bytes long, no more.
  const std::string fits = "C:\\" + std::string(MAX_PATH - 14 - 3, 'F');
  const std::string over = fits + "G";
  fs::create_directory(root_ + "/" + fits.substr(3));
  fs::create_directory(root_ + "/" + over.substr(3));
  char out[MAX_PATH];
  EXPECT_NE(GetTempFileNameA(fits.c_str(), "~UP", 0, out), 0u);
  EXPECT_EQ(GetTempFileNameA(over.c_str(), "~UP", 0, out), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_TRUE(fs::is_empty(root_ + "/" + over.substr(3)));
}

TEST_F(ScriptedFiles, FindFirstFileMatchesWildcardsWithoutAsciiCase) {
  fs::create_directories(root_ + "/D\x83\x5C/SUB");  // ソ: trail byte 0x5C in the folder name
  for (const char* name : {"~UP1.TMP", "~up2.tmp", "~UPX.DAT", "A.TMP"}) Put("D\x83\x5C/" + std::string(name), "x");
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("C:\\D\x83\x5C\\~UP?.TMP", &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::string> names = {found.cFileName};
  while (FindNextFileA(search, &found)) names.push_back(found.cFileName);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"~UP1.TMP", "~up2.tmp"}));
  EXPECT_EQ(FindFirstFileA("C:\\D\x83\x5C\\*.NONE", &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_NE(search = FindFirstFileA("C:\\D\x83\x5C\\S*", &found), INVALID_HANDLE_VALUE);
  EXPECT_STREQ(found.cFileName, "SUB");
  EXPECT_TRUE(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(search);
  EXPECT_EQ(FindFirstFileA("C:\\NOWHERE\\*", &found), INVALID_HANDLE_VALUE);
}

// ---- Drives and free space --------------------------------------------------------

TEST_F(ScriptedFiles, DriveTypesFollowTheMappings) {
  scripted::MapDrive('q', root_, DRIVE_CDROM);
  EXPECT_EQ(GetDriveTypeA("C:"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("q:"), static_cast<UINT>(DRIVE_CDROM));
  EXPECT_EQ(GetDriveTypeA("Z:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetDriveTypeA("C:\\GAME"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetDriveTypeA(nullptr), static_cast<UINT>(DRIVE_FIXED));
}

// Scripted byte counts become the old call's cluster figures: clusters times
// their size give the bytes back exactly, and counts beyond 32 bits are capped.
TEST_F(ScriptedFiles, ClusterFiguresMultiplyBackToTheConfiguredBytes) {
  struct Case {
    const char* name;
    uint64_t freeBytes, totalBytes;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  } cases[] = {
      {"odd counts: one-byte clusters", 1000003, 5000015, 1, 1, 1000003, 5000015},
      {"4 KiB clusters", 40960, 409600, 8, 512, 10, 100},
      {"capped at 32 bits", 1ull << 50, 1ull << 51, 8, 512, 0xFFFFFFFFu, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scripted::SetFreeSpace('C', c.freeBytes, c.totalBytes, c.freeBytes);
    DWORD spc = 0, bps = 0, fc = 0, tc = 0;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &spc, &bps, &fc, &tc));
    EXPECT_EQ(spc, c.sectorsPerCluster);
    EXPECT_EQ(bps, c.bytesPerSector);
    EXPECT_EQ(fc, c.freeClusters);
    EXPECT_EQ(tc, c.totalClusters);
  }
}

TEST_F(ScriptedFiles, FailedDriveFailsBothQueriesAndLeavesOutputs) {
  scripted::FailFreeSpace('C');
  ULARGE_INTEGER f;
  f.QuadPart = 77;
  EXPECT_FALSE(GetDiskFreeSpaceExA("C:", &f, nullptr, nullptr));
  EXPECT_EQ(f.QuadPart, 77u);
  DWORD spc = 5, bps = 5, fc = 5, tc = 5;
  EXPECT_FALSE(GetDiskFreeSpaceA("C:", &spc, &bps, &fc, &tc));
  EXPECT_EQ(spc + bps + fc + tc, 20u);
  EXPECT_FALSE(GetDiskFreeSpaceExA("R:", &f, nullptr, nullptr));  // unmapped
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// ---- Modules ------------------------------------------------------------------------

TEST_F(ScriptedFiles, Kernel32OffersTheExtendedFreeSpaceQueryUntilDisabled) {
  scripted::SetFreeSpace('C', 123, 456, 789);
  HMODULE k = LoadLibraryA("KERNEL32.DLL");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(scripted::LoadedLibraryReferences(), 1);
  typedef BOOL (*FreeSpaceEx)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  FARPROC p = GetProcAddress(k, "GetDiskFreeSpaceExA");
  ASSERT_NE(p, nullptr);
  FreeSpaceEx call = reinterpret_cast<FreeSpaceEx>(reinterpret_cast<void (*)(void)>(p));
  ULARGE_INTEGER f;
  ASSERT_TRUE(call("C:", &f, nullptr, nullptr));
  EXPECT_EQ(f.QuadPart, 123u);
  EXPECT_EQ(GetProcAddress(k, "SetDefaultDllDirectories"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  scripted::SetDiskFreeSpaceExAvailable(false);
  EXPECT_EQ(GetProcAddress(k, "GetDiskFreeSpaceExA"), nullptr);
  EXPECT_TRUE(FreeLibrary(k));
  EXPECT_EQ(scripted::LoadedLibraryReferences(), 0);
  ASSERT_EQ(scripted::ProcLookups().size(), 3u);
  EXPECT_EQ(scripted::ProcLookups()[1], "SetDefaultDllDirectories");
}

TEST_F(ScriptedFiles, OnlyKernel32CanBeLoaded) {
  EXPECT_EQ(LoadLibraryA("user32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(scripted::LoadedLibraryReferences(), 0);
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), LoadLibraryA("kernel32"));
  EXPECT_EQ(scripted::LoadedLibraryReferences(), 1);  // GetModuleHandleA takes no reference
  EXPECT_TRUE(SetDllDirectoryA(""));
  ASSERT_EQ(scripted::DllDirectoryCalls().size(), 1u);
  EXPECT_EQ(scripted::DllDirectoryCalls()[0], "");
}

// ---- Memory and resources ------------------------------------------------------------

TEST_F(ScriptedFiles, AllocationFailuresFollowTheScript) {
  scripted::FailAllocations(1, 2);
  HGLOBAL a = GlobalAlloc(GMEM_FIXED, 16);
  HGLOBAL b = GlobalAlloc(GMEM_FIXED, 16);
  HGLOBAL c = GlobalAlloc(GPTR, 16);
  HGLOBAL d = GlobalAlloc(GPTR, 16);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(static_cast<char*>(d)[15], 0);  // GPTR zeroes the block
  EXPECT_EQ(scripted::LiveAllocations(), 2);
  EXPECT_EQ(GlobalFree(a), nullptr);
  EXPECT_EQ(GlobalFree(d), nullptr);
  EXPECT_EQ(scripted::LiveAllocations(), 0);
  EXPECT_EQ(GlobalFree(a), a);  // a second release is refused
}

TEST_F(ScriptedFiles, ResourcesAreFoundByNumberAndTypeAndServeTheirBytes) {
  const char bytes[] = "WZ2 payload";
  scripted::SetResource(102, "UPDATE", bytes, sizeof bytes);
  HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(102), "update");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(FindResourceA(nullptr, "#102", "UPDATE"), r);
  EXPECT_EQ(SizeofResource(nullptr, r), sizeof bytes);
  const void* p = LockResource(LoadResource(nullptr, r));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::memcmp(p, bytes, sizeof bytes), 0);
  EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(103), "UPDATE"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(102), "OTHER"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

// No folder fixture here: the death test's child would leave its folder behind.
TEST(ScriptedResources, ResourceMemoryIsReadOnly) {
  const char bytes[] = "abc";
  scripted::SetResource(102, "UPDATE", bytes, sizeof bytes);
  char* p = static_cast<char*>(LockResource(LoadResource(nullptr, FindResourceA(nullptr, MAKEINTRESOURCEA(102), "UPDATE"))));
  ASSERT_NE(p, nullptr);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH({ *static_cast<volatile char*>(p) = 'x'; }, "");
}

// ---- Message boxes ---------------------------------------------------------------------

TEST_F(ScriptedFiles, MessageBoxesAreRecordedAndAnsweredFromTheScript) {
  scripted::ScriptMessageBoxAnswers({IDCANCEL});
  HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(MessageBoxA(owner, "text", "caption", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "second", "caption", MB_OK | MB_ICONERROR), IDOK);  // script used up
  ASSERT_EQ(scripted::MessageBoxes().size(), 2u);
  EXPECT_EQ(scripted::MessageBoxes()[0].owner, owner);
  EXPECT_EQ(scripted::MessageBoxes()[0].text, "text");
  EXPECT_EQ(scripted::MessageBoxes()[0].caption, "caption");
  EXPECT_EQ(scripted::MessageBoxes()[0].flags, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_EQ(scripted::MessageBoxes()[1].flags, static_cast<UINT>(MB_ICONERROR));
}

TEST_F(ScriptedFiles, MessageBoxHandlerAnswersFirstAndMayDeferToTheScript) {
  scripted::ScriptMessageBoxAnswers({IDNO});
  int seen = 0;
  scripted::SetMessageBoxHandler([&](const scripted::MessageBoxRecord& box) {
    ++seen;
    return box.text == "ask" ? IDYES : 0;
  });
  EXPECT_EQ(MessageBoxA(nullptr, "ask", "c", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "other", "c", MB_YESNO), IDNO);
  EXPECT_EQ(seen, 2);
}

}  // namespace
