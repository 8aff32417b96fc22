#include "tools/wz2/json.h"

#include <stdio.h>

namespace wz2 {
namespace {

// The length of the well-formed UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
  unsigned char c = (unsigned char)s[i];
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  uint32_t cp = n == 1 ? c : c & (0x7F >> n);
  for (size_t k = 1; k < n; k++) {
    unsigned char t = (unsigned char)s[i + k];
    if ((t & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (t & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    size_t n = Utf8Length(utf8, i);
    if (n == 0) {
      out += "\\ufffd";
      i++;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
      i++;
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
      i++;
    } else {
      out.append(utf8, i, n);
      i += n;
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::Raw(const char* name, const std::string& json) {
  if (!fields_.empty()) fields_ += ", ";
  fields_ += JsonString(name) + ": " + json;
  return *this;
}

}  // namespace wz2
