// Profile files for tests, written byte for byte so that line ends, a missing
// final newline and code page 932 bytes are exactly what a test asks for.
#pragma once

#include <initializer_list>
#include <string>

// A fresh host folder mapped as a Windows drive (C: unless told otherwise).
// The scripted double forgets drive mappings before every test, so create one per
// test (a member of the fixture does that).
class ProfileFolder {
 public:
  explicit ProfileFolder(char drive = 'C');
  ~ProfileFolder();
  ProfileFolder(const ProfileFolder&) = delete;
  ProfileFolder& operator=(const ProfileFolder&) = delete;

  // Writes the bytes to name below the folder; returns the Windows path
  // ("C:\name").
  std::string Write(const std::string& name, const std::string& bytes);
  // Windows path of name below the folder, whether it exists or not.
  std::string WindowsPath(const std::string& name) const;
  const std::string& HostRoot() const { return hostRoot_; }

 private:
  char drive_;
  std::string hostRoot_;
};

// Joins lines with eol, and puts eol after the last line too unless
// finalNewline is false.
std::string IniText(std::initializer_list<std::string> lines, const std::string& eol = "\r\n",
                    bool finalNewline = true);
