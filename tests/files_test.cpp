// File and disk helpers: whole-file read and write, path join, free space,
// shell copy.
#include "fs/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "double/scripted_win32.h"
#include "support/temp_drive.h"

namespace {

using wz2test::DriveTest;
using wz2test::FileTimes;
using wz2test::MakeFileTime;
using wz2test::ReadFileTimes;
using wz2test::TempDrive;

const uint64_t kStamp = 0x01D5A1B2C3D4E5F6ull;  // some day in 2019

// Leak checks shared by every case: no handle, block or library reference
// may outlive a helper's call.
void ExpectNothingLeaked() {
  EXPECT_EQ(0, scripted::OpenHandles());
  EXPECT_EQ(0, scripted::LiveAllocations());
  EXPECT_EQ(0, scripted::LoadedLibraryReferences());
}

std::string BlockBytes(const BYTE* block, DWORD size) {
  return std::string(reinterpret_cast<const char*>(block), size);
}

// ---- ReadWholeFile ----------------------------------------------------------

class ReadWholeFileTest : public DriveTest {};

// Every way a read can go: the bytes, or NULL with the size left alone and
// `unread` telling a file that is there but could not be had whole (whose
// bytes nobody may then overwrite) from one that could not be opened.
TEST_F(ReadWholeFileTest, GivesTheWholeFileOrNothingAndSaysWhetherItWasThere) {
  enum Setup { PLAIN, MISSING, SHARED_READER, EXCLUSIVE_WRITER, NO_MEMORY, SHRUNK, EMPTY };
  struct Case {
    const char* name;
    Setup setup;
    bool block;
    int unread;
  } cases[] = {
      {"plain file", PLAIN, true, 0},
      {"empty file", EMPTY, true, 0},
      {"missing file", MISSING, false, 0},
      {"another reader holds it open", SHARED_READER, true, 0},
      {"a writer holds it exclusively", EXCLUSIVE_WRITER, false, 0},
      {"no memory for the block", NO_MEMORY, false, 1},
      {"shrank after its size was taken", SHRUNK, false, 1},
  };
  const std::string bytes("A\0B\xFF\x83\x5C\r\n", 8);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A name of its own per case: the faults are set up by name.
    std::string name = "F" + std::to_string(n++) + ".DAT";
    if (c.setup != MISSING) c_.WriteFile(name, c.setup == EMPTY ? std::string() : bytes);
    std::string path = c_.Path(name);
    HANDLE other = INVALID_HANDLE_VALUE;
    if (c.setup == SHARED_READER)
      other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (c.setup == EXCLUSIVE_WRITER)
      other = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (c.setup == NO_MEMORY) scripted::FailAllocations(0);
    if (c.setup == SHRUNK) scripted::ShortenReadsOf(name, 5);
    DWORD size = 777;
    int unread = -1;
    BYTE* block = ReadWholeFile(path.c_str(), &size, &unread);
    EXPECT_EQ(c.block, block != nullptr);
    EXPECT_EQ(c.unread, unread);
    if (block != nullptr) {
      std::string want = c.setup == EMPTY ? std::string() : bytes;
      EXPECT_EQ(want.size(), size);
      EXPECT_EQ(want, BlockBytes(block, size));
      GlobalFree(block);
    } else {
      EXPECT_EQ(777u, size);
    }
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    ExpectNothingLeaked();
  }
}

TEST_F(ReadWholeFileTest, OutParametersAreOptional) {
  c_.WriteFile("A.DAT", "xyz");
  BYTE* block = ReadWholeFile(c_.Path("A.DAT").c_str(), nullptr, nullptr);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ("xyz", BlockBytes(block, 3));
  GlobalFree(block);
  scripted::ShortenReadsOf("A.DAT", 1);
  EXPECT_EQ(nullptr, ReadWholeFile(c_.Path("A.DAT").c_str(), nullptr, nullptr));
  ExpectNothingLeaked();
}

// ---- WriteWholeFile ---------------------------------------------------------

class WriteWholeFileTest : public DriveTest {
 protected:
  int Write(const std::string& relative, const std::string& bytes, const FILETIME* time) {
    return WriteWholeFile(c_.Path(relative).c_str(), bytes.data(), static_cast<DWORD>(bytes.size()), time);
  }
  // Sets times of an existing file through the platform, as another program
  // would; a zero value leaves that time alone.
  void SetTimes(const std::string& relative, uint64_t creation, uint64_t write) {
    HANDLE h = CreateFileA(c_.Path(relative).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME c = MakeFileTime(creation), w = MakeFileTime(write);
    EXPECT_TRUE(SetFileTime(h, &c, nullptr, &w));
    CloseHandle(h);
  }
  void SetWriteTime(const std::string& relative, uint64_t write) { SetTimes(relative, 0, write); }
  DWORD Attributes(const std::string& relative) { return GetFileAttributesA(c_.Path(relative).c_str()); }
  // Names in a folder that WriteWholeFile's temporary files would have.
  std::vector<std::string> Replacements(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : c_.List(folder))
      if (IsReplacementTempName(name.c_str())) found.push_back(name);
    return found;
  }
};

TEST_F(WriteWholeFileTest, CreatesTheFileWithAllThreeTimesStamped) {
  c_.MakeDirectory("GAME");
  FILETIME stamp = MakeFileTime(kStamp);
  std::string bytes("\x00\x01\x02 data", 8);
  EXPECT_EQ(1, Write("GAME\\A.DAT", bytes, &stamp));
  // Times first: reading the bytes counts as an access on the host.
  FileTimes times;
  ASSERT_TRUE(ReadFileTimes(c_.Path("GAME\\A.DAT"), &times));
  EXPECT_EQ(kStamp, times.creation);
  EXPECT_EQ(kStamp, times.access);
  EXPECT_EQ(kStamp, times.write);
  EXPECT_EQ(bytes, c_.ReadFile("GAME\\A.DAT"));
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, WithoutATimestampThePlatformTimesStand) {
  uint64_t before = wz2test::NowAsFileTime();
  EXPECT_EQ(1, Write("A.DAT", "abc", nullptr));
  FileTimes times;
  ASSERT_TRUE(ReadFileTimes(c_.Path("A.DAT"), &times));
  // Within a minute of the write, either side (clock granularity).
  const uint64_t minute = 60ull * 10000000ull;
  EXPECT_GT(times.write + minute, before);
  EXPECT_LT(times.write, before + minute);
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, ZeroBytesTruncatesAnExistingFile) {
  c_.WriteFile("A.DAT", "old contents");
  EXPECT_EQ(1, Write("A.DAT", "", nullptr));
  EXPECT_TRUE(c_.Exists("A.DAT"));
  EXPECT_EQ("", c_.ReadFile("A.DAT"));
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, ZeroBytesCreatesAnEmptyFile) {
  FILETIME stamp = MakeFileTime(kStamp);
  EXPECT_EQ(1, Write("EMPTY.DAT", "", &stamp));
  EXPECT_TRUE(c_.Exists("EMPTY.DAT"));
  EXPECT_EQ("", c_.ReadFile("EMPTY.DAT"));
}

TEST_F(WriteWholeFileTest, ReplacesALongerFileCompletely) {
  c_.WriteFile("A.DAT", std::string(100, 'x'));
  EXPECT_EQ(1, Write("A.DAT", "new", nullptr));
  EXPECT_EQ("new", c_.ReadFile("A.DAT"));
}

TEST_F(WriteWholeFileTest, ReplacedFileGetsTheNewCreationTime) {
  FILETIME first = MakeFileTime(kStamp);
  FILETIME second = MakeFileTime(kStamp + 12345678);
  ASSERT_EQ(1, Write("A.DAT", "one", &first));
  ASSERT_EQ(1, Write("A.DAT", "two", &second));
  FileTimes times;
  ASSERT_TRUE(ReadFileTimes(c_.Path("A.DAT"), &times));
  EXPECT_EQ(kStamp + 12345678, times.creation);
  EXPECT_EQ(kStamp + 12345678, times.write);
}

TEST_F(WriteWholeFileTest, LeavesNoTemporaryFileBehind) {
  c_.MakeDirectory("GAME");
  c_.WriteFile("GAME\\A.DAT", "old");
  FILETIME stamp = MakeFileTime(kStamp);
  ASSERT_EQ(1, Write("GAME\\A.DAT", "new", &stamp));
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List("GAME"));
}

TEST_F(WriteWholeFileTest, FailedWriteKeepsThePreviousTargetIntact) {
  c_.MakeDirectory("GAME");
  c_.WriteFile("GAME\\A.DAT", "previous contents");
  FILETIME stamp = MakeFileTime(kStamp);
  scripted::FailWritesTo("", 3);  // a disk that fills after three bytes
  EXPECT_EQ(0, Write("GAME\\A.DAT", "replacement bytes", &stamp));
  EXPECT_EQ("previous contents", c_.ReadFile("GAME\\A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List("GAME"));
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, FailedWriteOfANewFileLeavesNothing) {
  c_.MakeDirectory("GAME");
  scripted::FailWritesTo("", 0);
  EXPECT_EQ(0, Write("GAME\\NEW.DAT", "bytes", nullptr));
  EXPECT_TRUE(c_.List("GAME").empty());
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, ReadOnlyTargetMayNotBeReplaced) {
  c_.WriteFile("A.DAT", "protected");
  ASSERT_TRUE(SetFileAttributesA(c_.Path("A.DAT").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(0, Write("A.DAT", "intruder", nullptr));
  EXPECT_EQ("protected", c_.ReadFile("A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List());
  SetFileAttributesA(c_.Path("A.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, MissingFolderFails) {
  EXPECT_EQ(0, Write("NOFOLDER\\A.DAT", "x", nullptr));
  EXPECT_FALSE(c_.Exists("NOFOLDER"));
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, DirectoryAtTheTargetIsNotReplaced) {
  c_.MakeDirectory("GAME\\A.DAT");
  EXPECT_EQ(0, Write("GAME\\A.DAT", "x", nullptr));
  EXPECT_TRUE(c_.IsDirectory("GAME\\A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List("GAME"));
}

TEST_F(WriteWholeFileTest, PathLongerThanAPathBufferFails) {
  std::string path = c_.Path(std::string(300, 'A'));
  EXPECT_EQ(0, WriteWholeFile(path.c_str(), "x", 1, nullptr));
  EXPECT_TRUE(c_.List().empty());
  ExpectNothingLeaked();
}

TEST_F(WriteWholeFileTest, NameWithA5CTrailByteStaysInItsFolder) {
  // ソ (0x83 0x5C) inside the file name: its second byte is no separator, so
  // the temporary file goes to C:\GAME and not to a folder "C:\GAME\<0x83>".
  c_.MakeDirectory("GAME");
  const std::string name = "GAME\\\x83\x5C" "A.DAT";
  EXPECT_EQ(1, Write(name, "katakana", nullptr));
  EXPECT_EQ("katakana", c_.ReadFile(name));
  EXPECT_EQ(1u, c_.List("GAME").size());
}

// A folder longer than MAX_PATH - 14 has no room for a temporary name, yet
// targets of up to 259 bytes in it are valid: they are written in place.
TEST_F(WriteWholeFileTest, FolderTooLongForATemporaryNameIsWrittenInPlace) {
  const std::string folder(MAX_PATH - 14 - 3, 'F');  // "C:\" + folder: one byte over the limit
  c_.MakeDirectory(folder);
  c_.WriteFile(folder + "\\A.DAT", "old bytes, longer");
  FILETIME stamp = MakeFileTime(kStamp);
  ASSERT_EQ(1, Write(folder + "\\A.DAT", "new", &stamp));
  ASSERT_EQ(1, Write(folder + "\\B.DAT", "fresh", nullptr));
  FileTimes times;
  ASSERT_TRUE(ReadFileTimes(c_.Path(folder + "\\A.DAT"), &times));
  EXPECT_EQ(kStamp, times.write);
  EXPECT_EQ("new", c_.ReadFile(folder + "\\A.DAT"));
  EXPECT_EQ("fresh", c_.ReadFile(folder + "\\B.DAT"));
  EXPECT_EQ((std::vector<std::string>{"A.DAT", "B.DAT"}), c_.List(folder));
  ExpectNothingLeaked();
}

// What an updater ended by force leaves beside a target is recognised by
// name and, once untouched for over an hour, removed by the next write into
// that folder; other names, younger ones (another updater may be writing
// them right now) and folders stay.
TEST_F(WriteWholeFileTest, LeftoverReplacementsOverAnHourOldInTheFolderAreRemoved) {
  const uint64_t now = kStamp;
  const uint64_t hour = 3600ull * 10000000ull;
  const uint64_t old = now - 2 * hour;
  struct {
    const char* name;
    uint64_t written;
    bool removed;
  } files[] = {
      {"~UP1.TMP", old, true},
      {"~UP1A2B.TMP", old, true},
      {"~UPbeef.tmp", old, true},
      {"~UP2.TMP", now - hour - 1, true},
      {"~UP3.TMP", now - hour, false},
      {"~UP4.TMP", now - hour + 1, false},
      {"~UP5.TMP", now, false},
      {"~UP6.TMP", now + 2 * hour, false},  // ahead of the clock: no sign of age
      {"~UP12345.TMP", old, false},
      {"~UP.TMP", old, false},
      {"~UPDATE.TMP", old, false},
      {"~UPX1.TMP", old, false},
      {"UP1.TMP", old, false},
      {"~UP1.TMP.BAK", old, false},
      {"SAVE.DAT", old, false},
  };
  c_.MakeDirectory("GAME");
  c_.MakeDirectory("OTHER");
  std::vector<std::string> kept = {"A.DAT"};
  for (const auto& f : files) {
    for (const char* folder : {"GAME\\", "OTHER\\"}) {
      c_.WriteFile(folder + std::string(f.name), "x");
      SetWriteTime(folder + std::string(f.name), f.written);
    }
    if (!f.removed) kept.push_back(f.name);
  }
  c_.MakeDirectory("GAME\\~UP7.TMP");  // a folder of that name is not ours
  kept.push_back("~UP7.TMP");
  scripted::SetSystemTime(now);
  ASSERT_EQ(1, Write("GAME\\A.DAT", "new", nullptr));
  std::sort(kept.begin(), kept.end());
  std::vector<std::string> listed = c_.List("GAME");
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(kept, listed);
  EXPECT_EQ(sizeof(files) / sizeof(files[0]), c_.List("OTHER").size());  // other folders are left alone
  ExpectNothingLeaked();
}

// An existing target keeps what the player or the game gave it: its
// attributes (the archive flag set, as any new content sets it), owner,
// security descriptor and named streams. Windows refuses to create over a
// hidden or system file unless asked for the same attributes, so the write in
// place (a folder too long for a temporary name) names them too.
TEST_F(WriteWholeFileTest, ExistingTargetKeepsItsAttributesOwnerSecurityAndStreams) {
  const std::string longFolder(MAX_PATH - 14 - 3, 'F');  // no room for a temporary name
  const scripted::FileMetadata theirs{"S-1-5-21-player", "D:(A;;FA;;;BU)", "Zone.Identifier;thumbnail"};
  struct Case {
    DWORD before;
    DWORD after;
  } cases[] = {
      {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
      {FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
      {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
      {FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE},
      {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_ARCHIVE},
  };
  c_.MakeDirectory("GAME");
  c_.MakeDirectory(longFolder);
  FILETIME stamp = MakeFileTime(kStamp);
  for (const Case& c : cases) {
    for (const std::string& folder : {std::string("GAME"), longFolder}) {
      bool inPlace = folder != "GAME";
      SCOPED_TRACE(std::to_string(c.before) + (inPlace ? " in place" : " through a replacement"));
      const std::string target = folder + "\\SAVE.DAT";
      c_.WriteFile(target, "the player's old bytes");
      ASSERT_TRUE(SetFileAttributesA(c_.Path(target).c_str(), c.before));
      scripted::SetFileMetadata(c_.Path(target), theirs);
      ASSERT_EQ(1, Write(target, "new", &stamp));
      EXPECT_EQ(c.after, Attributes(target));
      if (!inPlace) {
        EXPECT_EQ(theirs, scripted::FileMetadataOf(c_.Path(target)));
      }
      FileTimes times;
      ASSERT_TRUE(ReadFileTimes(c_.Path(target), &times));
      EXPECT_EQ(kStamp, times.creation);
      EXPECT_EQ(kStamp, times.write);
      EXPECT_EQ("new", c_.ReadFile(target));
      EXPECT_EQ(std::vector<std::string>{"SAVE.DAT"}, c_.List(folder));
      SetFileAttributesA(c_.Path(target).c_str(), FILE_ATTRIBUTE_NORMAL);
      ExpectNothingLeaked();
    }
  }
}

// Rewritten without a time (the player's own data put back), a file keeps
// its creation time: only the content and the write time are new.
TEST_F(WriteWholeFileTest, WithoutATimestampTheCreationTimeIsKept) {
  c_.WriteFile("USER.DAT", "save");
  SetTimes("USER.DAT", kStamp, kStamp);
  ASSERT_EQ(1, Write("USER.DAT", "save", nullptr));
  FileTimes times;
  ASSERT_TRUE(ReadFileTimes(c_.Path("USER.DAT"), &times));
  EXPECT_EQ(kStamp, times.creation);
  EXPECT_NE(kStamp, times.write);
}

// The replacement is asked for with full paths (some implementations refuse
// relative ones), the temporary file beside the target.
TEST_F(WriteWholeFileTest, ReplacesWithFullPathsFromARelativeName) {
  c_.MakeDirectory("GAME");
  c_.WriteFile("GAME\\A.DAT", "old");
  scripted::SetCurrentDirectory("C:\\GAME");
  ASSERT_EQ(1, WriteWholeFile(".\\SUB\\..\\A.DAT", "here", 4, nullptr));
  EXPECT_EQ("here", c_.ReadFile("GAME\\A.DAT"));
  ASSERT_EQ(1u, scripted::Replacements().size());
  EXPECT_EQ("C:\\GAME\\A.DAT", scripted::Replacements()[0].first);
  const std::string temp = scripted::Replacements()[0].second;
  ASSERT_EQ(0u, temp.find("C:\\GAME\\"));
  EXPECT_TRUE(IsReplacementTempName(temp.c_str() + 8)) << temp;
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List("GAME"));
}

// A scanner or an indexer that holds the file for a moment does not fail the
// write: each step (writing the replacement, putting it in place, stamping
// the target) is tried again after 100 ms while a sharing or lock conflict
// lasts, 20 waits at most over the whole write. Once the target holds the new
// bytes nothing reports a failure; before, nothing reports success. Where
// ReplaceFileA leaves the target's name free (the old file deleted or moved
// aside, as documented), a rename completes the write.
TEST_F(WriteWholeFileTest, PassingConflictsAreWaitedOutWithinTwentyWaits) {
  using scripted::FileCall;
  struct Failure {
    FileCall call;
    const char* suffix;
    int times;
    DWORD error;
    int skip = 0;  // matching calls that go through first
  };
  enum Ends { NEW_BYTES, OLD_BYTES, NO_FILE };
  struct Case {
    const char* name;
    bool exists;
    std::vector<Failure> failures;
    int result;
    size_t waits;
    Ends ends;
    std::vector<std::string> listing;  // besides A.DAT, when it is there
  } cases[] = {
      {"replacement held while written", true, {{FileCall::Create, ".TMP", 3, ERROR_SHARING_VIOLATION}}, 1, 3, NEW_BYTES, {}},
      {"target held", true, {{FileCall::Replace, "A.DAT", 5, ERROR_SHARING_VIOLATION}}, 1, 5, NEW_BYTES, {}},
      {"target locked", true, {{FileCall::Replace, "A.DAT", 5, ERROR_LOCK_VIOLATION}}, 1, 5, NEW_BYTES, {}},
      {"target not removable", true, {{FileCall::Replace, "A.DAT", 2, ERROR_UNABLE_TO_REMOVE_REPLACED}}, 1, 2, NEW_BYTES, {}},
      {"held for the whole budget", true, {{FileCall::Replace, "A.DAT", 20, ERROR_SHARING_VIOLATION}}, 1, 20, NEW_BYTES, {}},
      {"held past the budget", true, {{FileCall::Replace, "A.DAT", 21, ERROR_SHARING_VIOLATION}}, 0, 20, OLD_BYTES, {}},
      {"budget shared by the steps", true,
       {{FileCall::Create, ".TMP", 10, ERROR_SHARING_VIOLATION}, {FileCall::Replace, "A.DAT", 11, ERROR_SHARING_VIOLATION}},
       0, 20, OLD_BYTES, {}},
      {"access denied is no passing conflict", true, {{FileCall::Replace, "A.DAT", 1, ERROR_ACCESS_DENIED}}, 0, 0, OLD_BYTES, {}},
      {"target held before the replacement", true, {{FileCall::Create, "A.DAT", 4, ERROR_SHARING_VIOLATION}}, 1, 4, NEW_BYTES, {}},
      // The first open of the target is the check before the replacement.
      {"target held while stamped", true, {{FileCall::Create, "A.DAT", 3, ERROR_SHARING_VIOLATION, 1}}, 1, 3, NEW_BYTES, {}},
      {"target held after the replacement", true, {{FileCall::Create, "A.DAT", 21, ERROR_SHARING_VIOLATION, 1}}, 1, 20, NEW_BYTES, {}},
      {"new target held while renamed", false, {{FileCall::Move, "A.DAT", 4, ERROR_SHARING_VIOLATION}}, 1, 4, NEW_BYTES, {}},
      {"new target held past the budget", false, {{FileCall::Move, "A.DAT", 21, ERROR_SHARING_VIOLATION}}, 0, 20, NO_FILE, {}},
      {"old file deleted, replacement not moved", true,
       {{FileCall::Replace, "A.DAT", 1, ERROR_UNABLE_TO_MOVE_REPLACEMENT}}, 1, 0, NEW_BYTES, {}},
      {"old file moved aside, replacement not moved", true,
       {{FileCall::Replace, "A.DAT", 1, ERROR_UNABLE_TO_MOVE_REPLACEMENT_2}}, 1, 0, NEW_BYTES, {"A.DAT.~RF"}},
      {"replacement not moved and then held", true,
       {{FileCall::Replace, "A.DAT", 1, ERROR_UNABLE_TO_MOVE_REPLACEMENT}, {FileCall::Move, "A.DAT", 3, ERROR_SHARING_VIOLATION}},
       1, 3, NEW_BYTES, {}},
      {"replacement not moved and held past the budget", true,
       {{FileCall::Replace, "A.DAT", 1, ERROR_UNABLE_TO_MOVE_REPLACEMENT}, {FileCall::Move, "A.DAT", 21, ERROR_SHARING_VIOLATION}},
       0, 20, NO_FILE, {}},
  };
  c_.MakeDirectory("GAME");
  FILETIME stamp = MakeFileTime(kStamp);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scripted::Reset();
    scripted::MapDrive('C', c_.HostFolder());
    for (const std::string& name : c_.List("GAME")) std::remove(c_.HostPath("GAME\\" + name).c_str());
    if (c.exists) {
      c_.WriteFile("GAME\\A.DAT", "old bytes");
      ASSERT_TRUE(SetFileAttributesA(c_.Path("GAME\\A.DAT").c_str(), FILE_ATTRIBUTE_HIDDEN));
      SetTimes("GAME\\A.DAT", kStamp - 1, kStamp - 1);
    }
    for (const Failure& f : c.failures) scripted::FailFileCalls(f.call, f.suffix, f.times, f.error, f.skip);
    EXPECT_EQ(c.result, Write("GAME\\A.DAT", "new bytes", &stamp));
    EXPECT_EQ(std::vector<DWORD>(c.waits, 100u), scripted::Sleeps());
    std::vector<std::string> listing = c.listing;
    if (c.ends != NO_FILE) listing.push_back("A.DAT");
    std::sort(listing.begin(), listing.end());
    EXPECT_EQ(listing, c_.List("GAME"));
    EXPECT_TRUE(Replacements("GAME").empty());
    if (c.ends == NEW_BYTES) {
      EXPECT_EQ("new bytes", c_.ReadFile("GAME\\A.DAT"));
      FileTimes times;
      ASSERT_TRUE(ReadFileTimes(c_.Path("GAME\\A.DAT"), &times));
      EXPECT_EQ(kStamp, times.write);
      if (c.exists) {
        EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, Attributes("GAME\\A.DAT"));
      }
    } else if (c.ends == OLD_BYTES) {
      EXPECT_EQ("old bytes", c_.ReadFile("GAME\\A.DAT"));
      EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, Attributes("GAME\\A.DAT"));
    }
    ExpectNothingLeaked();
  }
}

// A program that really holds the target open without letting it be
// deleted: the write waits it out for 20 waits, then fails with the old file
// intact and no replacement left behind. A target that cannot be opened as
// ReplaceFileA opens it is never handed to ReplaceFileA, which on some
// implementations leaves a file of its own beside such a target.
TEST_F(WriteWholeFileTest, TargetHeldOpenBeyondTheWaitsFailsCleanly) {
  c_.WriteFile("A.DAT", "old");
  HANDLE reader = CreateFileA(c_.Path("A.DAT").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  EXPECT_EQ(0, Write("A.DAT", "new", nullptr));
  EXPECT_EQ(0, scripted::FileCallCount(scripted::FileCall::Replace));
  EXPECT_EQ(20u, scripted::Sleeps().size());
  CloseHandle(reader);
  EXPECT_EQ("old", c_.ReadFile("A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List());
  ExpectNothingLeaked();
}

TEST(ReplacementTempName, RecognisesOnlyTheNamesTheWriterMakes) {
  struct {
    const char* name;
    bool ours;
  } names[] = {
      {"~UP1.TMP", true},       {"~UP1A2B.TMP", true}, {"~UPbeef.tmp", true}, {"~UP12345.TMP", false},
      {"~UP.TMP", false},       {"~UPDATE.TMP", false}, {"~UPX1.TMP", false}, {"UP1.TMP", false},
      {"~UP1.TMP.BAK", false},
  };
  for (const auto& n : names) EXPECT_EQ(n.ours, IsReplacementTempName(n.name) != 0) << n.name;
}

TEST_F(WriteWholeFileTest, FileInTheCurrentFolderOfTheDrive) {
  c_.MakeDirectory("GAME");
  scripted::SetCurrentDirectory("C:\\GAME");
  EXPECT_EQ(1, WriteWholeFile("A.DAT", "here", 4, nullptr));
  EXPECT_EQ("here", c_.ReadFile("GAME\\A.DAT"));
  EXPECT_EQ(std::vector<std::string>{"A.DAT"}, c_.List("GAME"));
}

// ---- AppendPathComponent ----------------------------------------------------

// Buffer with a marker byte after the room handed to the call, so that a
// write past the room shows.
struct PathBuffer {
  explicit PathBuffer(const std::string& start, size_t room = PATH_BUFFER) : room(room) {
    memset(bytes, '#', sizeof bytes);
    memcpy(bytes, start.c_str(), start.size() + 1);
  }
  int Append(const char* component) { return AppendPathComponent(bytes, room, component); }
  std::string Text() const { return std::string(bytes); }
  size_t room;
  char bytes[PATH_BUFFER + 8];
};

// Every call either joins and ends the result in two NULs, writing nothing
// behind them, or refuses and leaves the buffer as it was.
TEST(AppendPathComponentTest, JoinsWithOneSeparatorWithinTheRoomOrRefuses) {
  const std::string long257(257, 'a'), long259(259, 'a');
  struct Case {
    std::string start;
    size_t room;
    const char* component;
    int result;
    std::string text;
  } cases[] = {
      {"", PATH_BUFFER, "GAME", 1, "GAME"},
      {"C:\\GAME", PATH_BUFFER, "DATA", 1, "C:\\GAME\\DATA"},
      {"C:\\", PATH_BUFFER, "GAME", 1, "C:\\GAME"},
      {"C:/GAME/", PATH_BUFFER, "A.DAT", 1, "C:/GAME/A.DAT"},
      {"C:\\GAME", PATH_BUFFER, "", 1, "C:\\GAME\\"},
      {"C:\\GAME\\", PATH_BUFFER, "", 1, "C:\\GAME\\"},
      // ソ is 0x83 0x5C: its last byte is a backslash byte, taken as one.
      {"C:\\\x83\x5C", PATH_BUFFER, "A.DAT", 1, "C:\\\x83\x5C" "A.DAT"},
      // "AB" + "\" + "CD" + two NULs = 7 bytes; the separator counts.
      {"AB", 7, "CD", 1, "AB\\CD"},
      {"AB", 6, "CD", 0, "AB"},
      {"AB\\", 7, "CD", 1, "AB\\CD"},
      {long259, PATH_BUFFER, "", 0, long259},
      {long257, PATH_BUFFER, "", 1, long257 + "\\"},
      {"", 0, "", 0, ""},
      {"", 1, "", 0, ""},
      {"", 2, "", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start.substr(0, 12) + " + " + c.component + " in " + std::to_string(c.room));
    PathBuffer path(c.start, c.room);
    EXPECT_EQ(c.result, path.Append(c.component));
    EXPECT_EQ(c.text, path.Text());
    size_t length = c.text.size();
    if (c.result) {
      EXPECT_EQ('\0', path.bytes[length + 1]);
      EXPECT_EQ('#', path.bytes[length + 2]);
    } else {
      EXPECT_EQ('#', path.bytes[length + 1]);
      if (c.room > length) {
        EXPECT_EQ('#', path.bytes[c.room]);
      }
    }
  }
}

// ---- QueryDiskFreeSpace -----------------------------------------------------

class QueryDiskFreeSpaceTest : public DriveTest {
 protected:
  void SetUp() override { ResetDiskFreeSpaceCache(); }
};

const uint64_t kGiB = 1024ull * 1024 * 1024;

TEST_F(QueryDiskFreeSpaceTest, ReportsTheThreeFiguresOfTheDrive) {
  scripted::SetFreeSpace('C', 5 * kGiB + 4096, 64 * kGiB, 7 * kGiB);
  uint64_t available = 0, total = 0, totalFree = 0;
  EXPECT_NE(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  EXPECT_EQ(5 * kGiB + 4096, available);
  EXPECT_EQ(64 * kGiB, total);
  EXPECT_EQ(7 * kGiB, totalFree);
  ExpectNothingLeaked();
}

TEST_F(QueryDiskFreeSpaceTest, ThirdOutputIsOptional) {
  scripted::SetFreeSpace('C', 8192, 65536, 16384);
  uint64_t available = 0, total = 0;
  EXPECT_NE(0, QueryDiskFreeSpace("C:", &available, &total, nullptr));
  EXPECT_EQ(8192u, available);
  EXPECT_EQ(65536u, total);
}

TEST_F(QueryDiskFreeSpaceTest, FallbackGivesFullProductsAndThirdEqualToFirst) {
  scripted::SetDiskFreeSpaceExAvailable(false);
  // Past 4 GiB, so that a 32-bit product would wrap.
  scripted::SetFreeSpace('C', 6 * kGiB, 40 * kGiB, 9 * kGiB);
  uint64_t available = 0, total = 0, totalFree = 0;
  EXPECT_NE(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  EXPECT_EQ(6 * kGiB, available);
  EXPECT_EQ(40 * kGiB, total);
  EXPECT_EQ(available, totalFree);
  ExpectNothingLeaked();
}

TEST_F(QueryDiskFreeSpaceTest, FailureLeavesTheOutputsUntouched) {
  scripted::FailFreeSpace('C');
  uint64_t available = 11, total = 22, totalFree = 33;
  EXPECT_EQ(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  EXPECT_EQ(11u, available);
  EXPECT_EQ(22u, total);
  EXPECT_EQ(33u, totalFree);
  ExpectNothingLeaked();
}

TEST_F(QueryDiskFreeSpaceTest, FallbackFailureAlsoLeavesTheOutputsUntouched) {
  scripted::SetDiskFreeSpaceExAvailable(false);
  scripted::FailFreeSpace('C');
  uint64_t available = 11, total = 22, totalFree = 33;
  EXPECT_EQ(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  EXPECT_EQ(11u, available);
  EXPECT_EQ(22u, total);
  EXPECT_EQ(33u, totalFree);
}

TEST_F(QueryDiskFreeSpaceTest, EntryPointFoundOnceStaysInUse) {
  scripted::SetFreeSpace('C', 4096, 65536, 8192);
  uint64_t available = 0, total = 0, totalFree = 0;
  ASSERT_NE(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  // The lookup would now find nothing; the cached entry point still answers
  // (the fallback would give a third output equal to the first).
  scripted::SetDiskFreeSpaceExAvailable(false);
  totalFree = 0;
  ASSERT_NE(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  EXPECT_EQ(8192u, totalFree);
  ExpectNothingLeaked();
}

TEST_F(QueryDiskFreeSpaceTest, LookupThatFindsNothingIsRepeatedNextTime) {
  scripted::SetFreeSpace('C', 4096, 65536, 8192);
  scripted::SetDiskFreeSpaceExAvailable(false);
  uint64_t available = 0, total = 0, totalFree = 0;
  ASSERT_NE(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  EXPECT_EQ(4096u, totalFree);
  scripted::SetDiskFreeSpaceExAvailable(true);
  ASSERT_NE(0, QueryDiskFreeSpace("C:", &available, &total, &totalFree));
  EXPECT_EQ(8192u, totalFree);
  ExpectNothingLeaked();
}

TEST_F(QueryDiskFreeSpaceTest, EachDriveReportsItsOwnFigures) {
  TempDrive d('D');
  scripted::SetFreeSpace('C', 4096, 65536, 4096);
  scripted::SetFreeSpace('D', 2 * kGiB, 3 * kGiB, 2 * kGiB);
  uint64_t available = 0, total = 0;
  ASSERT_NE(0, QueryDiskFreeSpace("D:", &available, &total, nullptr));
  EXPECT_EQ(2 * kGiB, available);
  EXPECT_EQ(3 * kGiB, total);
}

// ---- ShellCopy --------------------------------------------------------------

class ShellCopyTest : public DriveTest {
 protected:
  // A path as the update run builds it: ending in two NULs.
  static std::string List(const std::string& path) { return path + std::string(1, '\0'); }
  void MakeReadOnly(const std::string& windowsPath) {
    ASSERT_TRUE(SetFileAttributesA(windowsPath.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  TempDrive cd_{'Q', DRIVE_CDROM};
};

TEST_F(ShellCopyTest, FileCopyAsksTheShellWithFileFlags) {
  cd_.WriteFile("DATA\\A.DAT", "from cd");
  c_.MakeDirectory("GAME");
  HWND owner = reinterpret_cast<HWND>(0x1234);
  std::string from = List(cd_.Path("DATA\\A.DAT"));
  std::string to = List(c_.Path("GAME\\A.DAT"));
  EXPECT_EQ(SHELLCOPY_DONE, ShellCopy(owner, from.c_str(), to.c_str(), 0));
  ASSERT_EQ(1u, scripted::ShellCopies().size());
  const scripted::ShellCopyRecord& op = scripted::ShellCopies()[0];
  EXPECT_EQ(owner, op.owner);
  EXPECT_EQ(static_cast<UINT>(FO_COPY), op.func);
  EXPECT_EQ(0x0210, op.flags);
  EXPECT_EQ(std::vector<std::string>{cd_.Path("DATA\\A.DAT")}, op.from);
  EXPECT_EQ(std::vector<std::string>{c_.Path("GAME\\A.DAT")}, op.to);
  EXPECT_EQ("from cd", c_.ReadFile("GAME\\A.DAT"));
}

TEST_F(ShellCopyTest, DirectoryCopyAlsoSilencesTheShellsErrors) {
  cd_.WriteFile("DATA\\A.DAT", "a");
  c_.MakeDirectory("GAME");
  std::string from = List(cd_.Path("DATA"));
  std::string to = List(c_.Path("GAME"));
  EXPECT_EQ(SHELLCOPY_DONE, ShellCopy(nullptr, from.c_str(), to.c_str(), 1));
  ASSERT_EQ(1u, scripted::ShellCopies().size());
  EXPECT_EQ(0x0610, scripted::ShellCopies()[0].flags);
}

TEST_F(ShellCopyTest, CopiedReadOnlyFileEndsWithNormalAttributes) {
  cd_.WriteFile("A.DAT", "cd bytes");
  MakeReadOnly(cd_.Path("A.DAT"));
  std::string from = List(cd_.Path("A.DAT"));
  std::string to = List(c_.Path("A.DAT"));
  ASSERT_EQ(SHELLCOPY_DONE, ShellCopy(nullptr, from.c_str(), to.c_str(), 0));
  EXPECT_EQ("cd bytes", c_.ReadFile("A.DAT"));
  EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, GetFileAttributesA(c_.Path("A.DAT").c_str()));
  SetFileAttributesA(cd_.Path("A.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ShellCopyTest, CancelReturnsAbortedAndLeavesTheDestinationAlone) {
  c_.WriteFile("A.DAT", "kept");
  MakeReadOnly(c_.Path("A.DAT"));
  cd_.WriteFile("A.DAT", "new");
  scripted::ScriptShellOutcomes({scripted::ShellOutcome::Cancel});
  std::string from = List(cd_.Path("A.DAT"));
  std::string to = List(c_.Path("A.DAT"));
  EXPECT_EQ(SHELLCOPY_ABORTED, ShellCopy(nullptr, from.c_str(), to.c_str(), 0));
  DWORD attributes = GetFileAttributesA(c_.Path("A.DAT").c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(c_.Path("A.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ShellCopyTest, CancelWinsOverTheCallsOwnFailureResult) {
  // The shell may report a cancelled copy with a nonzero result as well;
  // the user's cancel is what the caller must hear of.
  cd_.WriteFile("A.DAT", "new");
  scripted::SetShellResults(1223, 1223);
  scripted::ScriptShellOutcomes({scripted::ShellOutcome::Cancel});
  std::string from = List(cd_.Path("A.DAT"));
  std::string to = List(c_.Path("A.DAT"));
  EXPECT_EQ(SHELLCOPY_ABORTED, ShellCopy(nullptr, from.c_str(), to.c_str(), 0));
}

TEST_F(ShellCopyTest, AnyNonzeroResultIsAFailure) {
  cd_.WriteFile("A.DAT", "new");
  scripted::SetShellResults(0x7C, 0);
  scripted::ScriptShellOutcomes({scripted::ShellOutcome::Fail});
  std::string from = List(cd_.Path("A.DAT"));
  std::string to = List(c_.Path("A.DAT"));
  EXPECT_EQ(SHELLCOPY_FAILED, ShellCopy(nullptr, from.c_str(), to.c_str(), 0));
  EXPECT_FALSE(c_.Exists("A.DAT"));
}

TEST_F(ShellCopyTest, FailureReturnsFailedAndLeavesTheDestinationAlone) {
  c_.WriteFile("A.DAT", "kept");
  MakeReadOnly(c_.Path("A.DAT"));
  cd_.WriteFile("A.DAT", "new");
  scripted::ScriptShellOutcomes({scripted::ShellOutcome::Fail});
  std::string from = List(cd_.Path("A.DAT"));
  std::string to = List(c_.Path("A.DAT"));
  EXPECT_EQ(SHELLCOPY_FAILED, ShellCopy(nullptr, from.c_str(), to.c_str(), 0));
  EXPECT_EQ("kept", c_.ReadFile("A.DAT"));
  EXPECT_NE(0u, GetFileAttributesA(c_.Path("A.DAT").c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(c_.Path("A.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ShellCopyTest, MissingSourceIsAFailure) {
  std::string from = List(cd_.Path("NOPE.DAT"));
  std::string to = List(c_.Path("NOPE.DAT"));
  EXPECT_EQ(SHELLCOPY_FAILED, ShellCopy(nullptr, from.c_str(), to.c_str(), 0));
  EXPECT_FALSE(c_.Exists("NOPE.DAT"));
}

TEST_F(ShellCopyTest, DirectoryCopyResetsOnlyTheDestinationDirectory) {
  cd_.WriteFile("DATA\\A.DAT", "a");
  MakeReadOnly(cd_.Path("DATA\\A.DAT"));
  c_.MakeDirectory("GAME");
  MakeReadOnly(c_.Path("GAME"));
  std::string from = List(cd_.Path("DATA"));
  std::string to = List(c_.Path("GAME"));
  ASSERT_EQ(SHELLCOPY_DONE, ShellCopy(nullptr, from.c_str(), to.c_str(), 1));
  // The destination's own attributes go back to normal; for a directory
  // that leaves just the directory bit.
  DWORD game = GetFileAttributesA(c_.Path("GAME").c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, game);
  EXPECT_EQ(0u, game & FILE_ATTRIBUTE_READONLY);
  EXPECT_NE(0u, game & FILE_ATTRIBUTE_DIRECTORY);
  // What was copied into it keeps what the shell gave it.
  DWORD copied = GetFileAttributesA(c_.Path("GAME\\DATA\\A.DAT").c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, copied);
  EXPECT_NE(0u, copied & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(c_.Path("GAME\\DATA\\A.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(cd_.Path("DATA\\A.DAT").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
