// The tool's read-only file mapping.
#include "tools/wz2/mapped_file.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class MappedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mapped_file_test." + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const char* name, const std::vector<uint8_t>& bytes) {
    fs::path p = dir_ / name;
    FILE* f = fopen(p.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      if (!bytes.empty()) {
        EXPECT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      }
      fclose(f);
    }
    return p;
  }

  fs::path dir_;
};

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (uint8_t)(i * 131 + 7);
  return v;
}

// ---- Contents ----------------------------------------------------------------

TEST_F(MappedFileTest, MapsEveryByteOfTheFile) {
  // Not a multiple of the page size, so the last page is partly the file's.
  std::vector<uint8_t> bytes = Pattern(3 * 4096 + 123);
  wz2::MappedFile m;
  std::string error;
  ASSERT_TRUE(m.Open(Write("a.bin", bytes), &error)) << error;
  ASSERT_EQ(m.Size(), bytes.size());
  ASSERT_NE(m.Data(), nullptr);
  EXPECT_EQ(std::vector<uint8_t>(m.Data(), m.Data() + m.Size()), bytes);
}

TEST_F(MappedFileTest, EmptyFileOpensWithNoBytesAndNoMapping) {
  wz2::MappedFile m;
  std::string error;
  ASSERT_TRUE(m.Open(Write("empty.bin", {}), &error)) << error;
  EXPECT_EQ(m.Size(), 0u);
  EXPECT_EQ(m.Data(), nullptr);
}

// ---- Failures ----------------------------------------------------------------

TEST_F(MappedFileTest, MissingFileFailsNamingThePath) {
  wz2::MappedFile m;
  std::string error;
  EXPECT_FALSE(m.Open(dir_ / "missing.bin", &error));
  EXPECT_NE(error.find("missing.bin"), std::string::npos) << error;
  EXPECT_EQ(m.Data(), nullptr);
  EXPECT_EQ(m.Size(), 0u);
}

TEST_F(MappedFileTest, DirectoryIsRefused) {
  wz2::MappedFile m;
  std::string error;
  EXPECT_FALSE(m.Open(dir_, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(m.Data(), nullptr);
}

TEST_F(MappedFileTest, FailedOpenReleasesTheEarlierMapping) {
  wz2::MappedFile m;
  std::string error;
  ASSERT_TRUE(m.Open(Write("a.bin", Pattern(100)), &error));
  EXPECT_FALSE(m.Open(dir_ / "missing.bin", &error));
  EXPECT_EQ(m.Data(), nullptr);
  EXPECT_EQ(m.Size(), 0u);
}

// ---- Ownership ---------------------------------------------------------------

TEST_F(MappedFileTest, MoveHandsTheMappingOverAndEmptiesTheSource) {
  std::vector<uint8_t> bytes = Pattern(5000);
  wz2::MappedFile a;
  std::string error;
  ASSERT_TRUE(a.Open(Write("a.bin", bytes), &error));
  const uint8_t* data = a.Data();
  wz2::MappedFile b(std::move(a));
  EXPECT_EQ(a.Data(), nullptr);
  EXPECT_EQ(a.Size(), 0u);
  EXPECT_EQ(b.Data(), data);
  EXPECT_EQ(std::vector<uint8_t>(b.Data(), b.Data() + b.Size()), bytes);
}

TEST_F(MappedFileTest, MoveAssignmentReplacesTheTargetsMapping) {
  std::vector<uint8_t> first = Pattern(100), second = Pattern(7000);
  wz2::MappedFile a, b;
  std::string error;
  ASSERT_TRUE(a.Open(Write("a.bin", first), &error));
  ASSERT_TRUE(b.Open(Write("b.bin", second), &error));
  a = std::move(b);
  EXPECT_EQ(b.Data(), nullptr);
  ASSERT_EQ(a.Size(), second.size());
  EXPECT_EQ(std::vector<uint8_t>(a.Data(), a.Data() + a.Size()), second);
}

TEST_F(MappedFileTest, MappingOutlivesTheFileBeingRemoved) {
  // The descriptor is closed after mapping; the mapping alone keeps the
  // bytes readable, as a tool run that is still writing entries needs.
  std::vector<uint8_t> bytes = Pattern(9000);
  fs::path p = Write("a.bin", bytes);
  wz2::MappedFile m;
  std::string error;
  ASSERT_TRUE(m.Open(p, &error));
  fs::remove(p);
  EXPECT_EQ(std::vector<uint8_t>(m.Data(), m.Data() + m.Size()), bytes);
}

TEST_F(MappedFileTest, CloseEmptiesAndAllowsReopening) {
  wz2::MappedFile m;
  std::string error;
  ASSERT_TRUE(m.Open(Write("a.bin", Pattern(10)), &error));
  m.Close();
  EXPECT_EQ(m.Data(), nullptr);
  EXPECT_EQ(m.Size(), 0u);
  m.Close();  // a second close does nothing
  std::vector<uint8_t> bytes = Pattern(20);
  ASSERT_TRUE(m.Open(Write("b.bin", bytes), &error));
  EXPECT_EQ(std::vector<uint8_t>(m.Data(), m.Data() + m.Size()), bytes);
}

}  // namespace
