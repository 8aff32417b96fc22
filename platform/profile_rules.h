// The platform's profile (INI) reader, GetPrivateProfileStringA, over a
// profile's bytes in memory: the rules the updater's profiles are read by,
// for hosts without that reader and for the publisher's tool, which checks a
// manifest without writing it to a file first.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/win.h"

// What GetPrivateProfileStringA(section, key, defaultValue, out, size, path)
// gives when the file at path holds *file; file NULL stands for a file that
// does not exist. Every form is served: section NULL lists the section names,
// key NULL the key names of a section.
DWORD ProfileStringFromBytes(const std::string* file, LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                             DWORD size);
// The same for the profile in the host file hostPath, read whole; a file
// that cannot be opened is one that does not exist.
DWORD ProfileStringFromFile(const std::string& hostPath, LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                            DWORD size);

// The same rules over a profile read once, as a stream, for a reader that
// looks many keys up in a file it does not trust (the publisher's tool
// checking a manifest of any size). Work is linear in the file's size and
// memory bounded whatever the file holds: only the first section of each
// wanted name and the first line of each wanted key are kept, a value's
// characters are kept up to kValueKept (past any capacity a reader passes),
// and a line longer than kLineKept bytes is read up to there only and
// counted in LongLines().
class ProfileStream {
 public:
  static constexpr size_t kValueKept = 4096;
  static constexpr size_t kLineKept = 65536;
  // The keys of a section a reader will ask for, by name (ASCII case
  // ignored); every other key and section is dropped as it is read.
  void Want(const std::string& section, const std::vector<std::string>& keys);
  void Feed(const char* bytes, size_t size);
  void Finish();
  // As ProfileStringFromBytes(file, section, key, "", out, size) for a
  // wanted section and key; *whole (when given) gets the value's length in
  // bytes as a reader without a capacity limit would receive it.
  DWORD Get(LPCSTR section, LPCSTR key, LPSTR out, DWORD size, size_t* whole = nullptr) const;
  // Whether the key has a line of its own in the section (with or without a
  // value).
  bool HasLine(LPCSTR section, LPCSTR key) const;
  uint64_t Bytes() const { return bytes_; }
  size_t LongLines() const { return longLines_; }

 private:
  struct Value {
    bool hasValue = false;
    std::vector<uint16_t> head;  // the first kValueKept characters
    size_t chars = 0;            // all of them
    size_t bytes = 0;
    bool quoted = false;         // the same quote at both ends
  };
  struct Wanted {
    std::string name;  // folded
    std::vector<std::string> keys;
    bool seen = false;
    std::vector<std::pair<std::string, Value>> found;  // folded key name, first line
  };
  void Line();
  std::vector<Wanted> wanted_;
  Wanted* current_ = nullptr;
  std::vector<uint16_t> line_;
  size_t lineBytes_ = 0;
  int lead_ = -1;     // a lead byte waiting for its trail byte
  bool bom_ = true;   // still at the start, where a byte order mark may be
  std::string start_;
  uint64_t bytes_ = 0;
  size_t longLines_ = 0;
};
