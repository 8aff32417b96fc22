// UPDATE.INI as a publisher edits it on Linux (UTF-8, LF) turned into what
// the updater reads (code page 932, CR LF), refusing what has no form there
// rather than replacing it with a look-alike or a question mark.
#include <stdio.h>
#include <string.h>

#include "pack/names.h"
#include "tools/wz2/manifest_text.h"

namespace wz2 {
namespace {

const char kBom[] = "\xEF\xBB\xBF";
#define BOM_SIZE 3

// The length of the UTF-8 sequence that starts with lead, 0 when no
// sequence starts with it.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether a whole UTF-8 sequence of length bytes stands at at: no
// truncation, no overlong form, no surrogate, nothing past U+10FFFF.
bool WellFormed(const std::vector<uint8_t>& bytes, size_t at, size_t length) {
  if (length < 2 || at + length > bytes.size()) return false;
  for (size_t i = 1; i < length; i++)
    if ((bytes[at + i] & 0xC0) != 0x80) return false;
  unsigned char lead = bytes[at], second = bytes[at + 1];
  if (lead == 0xE0 && second < 0xA0) return false;
  if (lead == 0xED && second > 0x9F) return false;
  if (lead == 0xF0 && second < 0x90) return false;
  if (lead == 0xF4 && second > 0x8F) return false;
  return true;
}

std::string Where(size_t line, size_t column) {
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string CodePoint(const std::string& utf8) {
  uint32_t c = (unsigned char)utf8[0];
  static const uint32_t kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  c &= kLeadMask[utf8.size()];
  for (size_t i = 1; i < utf8.size(); i++) c = c << 6 | ((unsigned char)utf8[i] & 0x3F);
  char text[16];
  snprintf(text, sizeof(text), "U+%04X", (unsigned)c);
  return text;
}

}  // namespace

bool HasUtf8Bom(const std::vector<uint8_t>& bytes) {
  return bytes.size() >= BOM_SIZE && memcmp(bytes.data(), kBom, BOM_SIZE) == 0;
}

bool ManifestToCp932(const std::vector<uint8_t>& utf8, std::vector<uint8_t>* cp932, std::string* error) {
  size_t at = HasUtf8Bom(utf8) ? BOM_SIZE : 0;
  size_t line = 1, column = 1;
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 16);
  // Characters are converted one at a time, so that a refusal names the
  // first that has no form; ASCII, the bulk of a manifest, passes directly.
  while (at < utf8.size()) {
    unsigned char c = utf8[at];
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      at += (c == '\r' && at + 1 < utf8.size() && utf8[at + 1] == '\n') ? 2 : 1;
      line++;
      column = 1;
      continue;
    }
    size_t length = SequenceLength(c);
    if (length == 1) {
      out += (char)c;
      at++;
      column++;
      continue;
    }
    std::string character;
    if (WellFormed(utf8, at, length)) character.assign(utf8.begin() + at, utf8.begin() + at + length);
    std::string converted;
    if (character.empty()) {
      char byte[8];
      snprintf(byte, sizeof(byte), "0x%02X", c);
      *error = Where(line, column) + ": byte " + byte + " is not UTF-8 text";
      return false;
    }
    if (!names::Utf8ToCp932(character, &converted)) {
      *error = Where(line, column) + ": the character " + character + " (" + CodePoint(character) +
               ") has no code page 932 form";
      return false;
    }
    out += converted;
    at += length;
    column++;
  }
  cp932->assign(out.begin(), out.end());
  return true;
}

}  // namespace wz2
