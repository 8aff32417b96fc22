// The version resource (RT_VERSION) of a built updater: what Explorer shows
// under the file's properties and what GetFileVersionInfo reads. It is
// written in Japanese (language 1041, code page 932): one string table
// "041103A4" and the translation 0x0411/932, its strings stored as UTF-16.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace version_info {

#define RT_VERSION_ID 16
#define VERSION_LANGUAGE 1041
#define VERSION_CODE_PAGE 932

// KEY and VALUE pairs, UTF-8, in the order given.
typedef std::vector<std::pair<std::string, std::string>> Strings;

// "1", "1.10" ... "1.10.0.0": up to four numbers of 0..65535, digits only.
// parts[] gets the numbers, the missing ones 0.
bool ParseVersionNumber(const std::string& text, uint16_t parts[4]);

// The resource's bytes for `strings`, whose keys are the standard ones
// (FileVersion is required and, like ProductVersion, a version number; the
// fixed part carries both numbers). False with a one-line reason for an
// unknown or repeated key, an empty or overlong value, a value that is not
// UTF-8 or has no code page 932 form, or a malformed version number.
bool Build(const Strings& strings, std::vector<uint8_t>* out, std::string* error);

// What a version resource says: the fixed file and product versions and
// the strings of its first string table, as UTF-8.
struct Info {
  uint16_t fileVersion[4] = {0, 0, 0, 0};
  uint16_t productVersion[4] = {0, 0, 0, 0};
  std::string table;  // "041103A4"
  Strings strings;
};
// Reads a version resource, every length checked against its parent.
bool Read(const std::vector<uint8_t>& data, Info* out, std::string* error);

}  // namespace version_info
