// Text shown to a person: entry names and version strings come from files
// anyone may have made, and a terminal acts on the control characters in
// what it is given. They are shown escaped instead.
#pragma once

#include <stddef.h>

#include <string>

namespace wz2 {

// utf8 with every control character escaped (C0 and DEL as \xNN, C1 as
// \uNNNN) and a backslash doubled: a listing cannot be rewritten on the
// terminal by what it lists, and an escape is never a name's own text.
std::string ShownText(const std::string& utf8);
// An entry name (code page 932 bytes) as ShownText shows it decoded; bytes
// that are no code page 932 text as \xNN each (printable ASCII as itself).
std::string ShownName(const std::string& cp932);
// The terminal columns shown text takes: code page 932's widths (one for
// ASCII and half-width katakana, two for the rest).
size_t ShownColumns(const std::string& shown);
// Bytes as upper-case hex digits, two a byte: a name exactly, for scripts.
std::string HexBytes(const std::string& bytes);

}  // namespace wz2
