// Text shown to a person: entry names and version strings come from files
// anyone may have made, and a terminal acts on the control characters in
// what it is given (ESC starts a command, CR returns to the line's start).
// They are shown as escapes instead, and a backslash as two, so that an
// escape read in a listing always means the character it names.
#include <stdio.h>

#include "pack/names.h"
#include "tools/wz2/display.h"

namespace wz2 {
namespace {

void Escape(std::string* out, const char* format, unsigned value) {
  char text[16];
  snprintf(text, sizeof(text), format, value);
  *out += text;
}

// The C1 control characters U+0080 to U+009F are C2 80 to C2 9F in UTF-8;
// some terminals take U+009B as ESC [.
bool IsC1(const std::string& s, size_t i) {
  return (unsigned char)s[i] == 0xC2 && i + 1 < s.size() && (unsigned char)s[i + 1] >= 0x80 &&
         (unsigned char)s[i + 1] <= 0x9F;
}

}  // namespace

std::string ShownText(const std::string& utf8) {
  std::string shown;
  for (size_t i = 0; i < utf8.size(); i++) {
    unsigned char c = (unsigned char)utf8[i];
    if (c == '\\') {
      shown += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      Escape(&shown, "\\x%02X", c);
    } else if (IsC1(utf8, i)) {
      Escape(&shown, "\\u%04X", (unsigned char)utf8[++i]);
    } else {
      shown += (char)c;
    }
  }
  return shown;
}

std::string ShownName(const std::string& cp932) {
  std::string utf8;
  if (names::Cp932ToUtf8(cp932, &utf8)) return ShownText(utf8);
  // Bytes that are no code page 932 text are shown, not guessed at.
  std::string shown;
  for (unsigned char c : cp932) {
    if (c == '\\') shown += "\\\\";
    else if (c >= 0x20 && c < 0x7F) shown += (char)c;
    else Escape(&shown, "\\x%02X", c);
  }
  return shown;
}

size_t ShownColumns(const std::string& shown) {
  size_t columns = 0;
  for (size_t i = 0; i < shown.size();) {
    unsigned char c = (unsigned char)shown[i];
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n && i + k < shown.size(); k++) cp = cp << 6 | ((unsigned char)shown[i + k] & 0x3F);
    // Code page 932 draws its half-width katakana in one column and every
    // other character beyond ASCII in two, as many as its bytes.
    columns += cp < 0x80 || (cp >= 0xFF61 && cp <= 0xFF9F) ? 1 : 2;
    i += n;
  }
  return columns;
}

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

}  // namespace wz2
