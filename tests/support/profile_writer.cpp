#include "profile_writer.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "double/scripted_win32.h"

ProfileFolder::ProfileFolder(char drive) : drive_(drive) {
  char pattern[] = "/tmp/wz2profileXXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  hostRoot_ = pattern;
  scripted::MapDrive(drive_, hostRoot_);
}

ProfileFolder::~ProfileFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(hostRoot_, ignored);
}

std::string ProfileFolder::WindowsPath(const std::string& name) const {
  return std::string(1, drive_) + ":\\" + name;
}

std::string ProfileFolder::Write(const std::string& name, const std::string& bytes) {
  std::string hostPath = hostRoot_ + "/" + name;
  FILE* f = std::fopen(hostPath.c_str(), "wb");
  if (f == nullptr) {
    std::perror(hostPath.c_str());
    std::abort();
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return WindowsPath(name);
}

std::string IniText(std::initializer_list<std::string> lines, const std::string& eol, bool finalNewline) {
  std::string out;
  size_t i = 0;
  for (const std::string& line : lines) {
    out += line;
    if (++i < lines.size() || finalNewline) out += eol;
  }
  return out;
}
