// The Win32 calls of platform/host/ as the publisher's tool runs the updater's
// lower layers with them: host paths, the C library's memory, and files
// opened for reading only. Linked without the test double.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/archive.h"
#include "config/profile.h"
#include "pack/archive_writer.h"
#include "support/archive_image.h"

namespace {

class ToolPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/wz2-tool-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    for (const std::string& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    files_.push_back(path);
    return path;
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(ToolPlatform, TheArchiveReaderOpensAnArchiveFileByItsHostPath) {
  for (bool compressed : {false, true}) {
    std::vector<ArchiveInput> inputs(2);
    inputs[0].name = "UPDATE.INI";
    inputs[0].data.assign(100, 'u');
    inputs[1].name = "\x83\x41.DAT";
    inputs[1].data.assign(70000, 'a');
    ArchiveLayoutOptions options;
    options.compressDirectory = compressed;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(WriteArchive(inputs, options, image, &error)) << error;
    std::string path = Write(compressed ? "C.WZ2" : "P.WZ2", std::string(image.begin(), image.end()));
    BYTE* directory = OpenArchive(path.c_str(), 0);
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(DirectoryHeader(directory)->entryCount, 2u);
    EXPECT_STREQ(DirectoryEntries(directory)[1].name, "\x83\x41.DAT");
    EXPECT_EQ(DirectoryEntries(directory)[1].fileSize, 70000u);
    GlobalFree(directory);
  }
  EXPECT_EQ(OpenArchive((dir_ + "/MISSING.WZ2").c_str(), 0), nullptr);
  EXPECT_EQ(OpenArchive(dir_.c_str(), 0), nullptr) << "a folder is no archive";
  std::string truncated = Write("T.WZ2", std::string("WZ2\0\0\0\0\0\xFF\xFF\0\0\1\0\0\0", 16));
  EXPECT_EQ(OpenArchive(truncated.c_str(), 0), nullptr);
}

// The tool writes its files itself; through this layer nothing is created,
// truncated or opened for writing.
TEST_F(ToolPlatform, FilesOpenForReadingExistingFilesOnly) {
  std::string path = Write("A.DAT", "abc");
  struct {
    DWORD access, disposition;
  } refused[] = {{GENERIC_WRITE, OPEN_EXISTING},
                 {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING},
                 {GENERIC_READ, OPEN_ALWAYS},
                 {GENERIC_READ, CREATE_ALWAYS},
                 {GENERIC_READ, TRUNCATE_EXISTING}};
  for (const auto& r : refused) {
    SetLastError(0);
    EXPECT_EQ(CreateFileA(path.c_str(), r.access, 0, nullptr, r.disposition, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(CreateFileA((dir_ + "/NONE").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);

  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 3u);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_BEGIN), 1u);
  char buffer[8] = {0};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 2u) << "a short read at the end succeeds";
  EXPECT_STREQ(buffer, "bc");
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(ToolPlatform, ProfilesAreReadByTheirHostPath) {
  std::string path = Write("SETUP.INI", "[SETUP]\r\nGameExe = game.exe \r\n");
  char value[32];
  EXPECT_EQ(ReadProfileValue("SETUP", "GameExe", value, sizeof value, path.c_str()), 1);
  EXPECT_STREQ(value, "game.exe");
  EXPECT_EQ(GetPrivateProfileStringA("SETUP", "GameExe", "none", value, sizeof value, (dir_ + "/NO.INI").c_str()), 4u);
  EXPECT_STREQ(value, "none");
}

}  // namespace
