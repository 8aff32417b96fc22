// UPDATE.INI as text: a manifest written in UTF-8 is stored as the updater
// reads it, code page 932 with CR LF.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace wz2 {

// Whether the bytes start with the UTF-8 byte order mark.
bool HasUtf8Bom(const std::vector<uint8_t>& bytes);
// A manifest written in UTF-8 (any line ends, with or without the byte
// order mark) as code page 932 with CR LF. False, naming the line, the
// column and the character, when one has no code page 932 form of its own,
// or the bytes are not UTF-8.
bool ManifestToCp932(const std::vector<uint8_t>& utf8, std::vector<uint8_t>* cp932, std::string* error);

}  // namespace wz2
