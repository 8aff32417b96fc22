// Name conversion. Linux uses iconv's CP932 table; Windows its own code page
// 932 conversion, with best-fit mapping off so that a character without an
// exact CP932 form is refused rather than silently changed.
#include "pack/names.h"

#include <stdio.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <iconv.h>
#endif

namespace names {
namespace {

#ifdef _WIN32
bool ToWide(UINT codePage, const std::string& in, std::wstring* out) {
  out->clear();
  if (in.empty()) return true;
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), (int)in.size(), nullptr, 0);
  if (n <= 0) return false;
  out->resize((size_t)n);
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), (int)in.size(), &(*out)[0], n) == n;
}

bool FromWide(UINT codePage, const std::wstring& in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  BOOL usedDefault = FALSE;
  DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* defaultFlag = codePage == CP_UTF8 ? nullptr : &usedDefault;
  int n = WideCharToMultiByte(codePage, flags, in.data(), (int)in.size(), nullptr, 0, nullptr, defaultFlag);
  if (n <= 0 || usedDefault) return false;
  out->resize((size_t)n);
  return WideCharToMultiByte(codePage, flags, in.data(), (int)in.size(), &(*out)[0], n, nullptr, defaultFlag) == n &&
         !usedDefault;
}

bool Convert(const char* from, const char* to, const std::string& in, std::string* out) {
  UINT fromCp = from[0] == 'U' ? CP_UTF8 : 932;
  UINT toCp = to[0] == 'U' ? CP_UTF8 : 932;
  std::wstring wide;
  if (!ToWide(fromCp, in, &wide) || !FromWide(toCp, wide, out)) return false;
  // Round trip: Windows maps a few CP932 byte pairs to the same character;
  // only a name that comes back as it went in is taken.
  std::wstring back;
  return ToWide(toCp, *out, &back) && back == wide;
}
#else
bool Convert(const char* from, const char* to, const std::string& in, std::string* out) {
  out->clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  std::string buffer(in.size() * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outPtr = &buffer[0];
  size_t outLeft = buffer.size();
  size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  // Flush any shift state; CP932 and UTF-8 have none, but iconv asks for it.
  bool ok = result != (size_t)-1 && inLeft == 0 && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != (size_t)-1;
  iconv_close(cd);
  if (!ok) return false;
  out->assign(buffer.data(), buffer.size() - outLeft);
  return true;
}
#endif

}  // namespace

namespace {

// One whole UTF-8 sequence: no stray or missing continuation byte, no
// overlong form, no surrogate, nothing past U+10FFFF.
bool IsUtf8Sequence(const std::string& one) {
  unsigned char lead = (unsigned char)one[0];
  if (one.size() == 1) return lead < 0x80;
  if (lead < 0xC2 || lead > 0xF4) return false;
  for (size_t i = 1; i < one.size(); i++)
    if (((unsigned char)one[i] & 0xC0) != 0x80) return false;
  unsigned char second = (unsigned char)one[1];
  return !((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
           (lead == 0xF4 && second > 0x8F));
}

}  // namespace

std::string Cp932Refusal(const std::string& utf8) {
  std::string unused;
  if (Utf8ToCp932(utf8, &unused)) return "";
  // One character at a time, so that the first refused one is named.
  for (size_t at = 0; at < utf8.size();) {
    unsigned char lead = (unsigned char)utf8[at];
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    std::string one = length && at + length <= utf8.size() ? utf8.substr(at, length) : std::string();
    char text[64];
    if (one.empty() || !IsUtf8Sequence(one)) {
      snprintf(text, sizeof(text), "byte 0x%02X is not UTF-8 text", lead);
      return text;
    }
    if (!Utf8ToCp932(one, &unused)) {
      uint32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
      for (size_t i = 1; i < length; i++) c = c << 6 | ((unsigned char)one[i] & 0x3F);
      snprintf(text, sizeof(text), " (U+%04X) has no code page 932 form", (unsigned)c);
      return "the character " + one + text;
    }
    at += length;
  }
  return "the text has no code page 932 form";
}

bool Utf8ToCp932(const std::string& utf8, std::string* cp932) {
  // iconv with "CP932" refuses unmappable characters (no //TRANSLIT), but
  // maps some look-alikes one way only: U+00A5 YEN SIGN becomes 0x5C, which
  // the updater reads as '\', U+203E becomes '~', U+301C the full-width
  // tilde. Only a name that converts back to itself is taken.
  std::string back;
  if (!Convert("UTF-8", "CP932", utf8, cp932) || !Convert("CP932", "UTF-8", *cp932, &back) || back != utf8) {
    cp932->clear();
    return false;
  }
  return true;
}

bool Cp932ToUtf8(const std::string& cp932, std::string* utf8) { return Convert("CP932", "UTF-8", cp932, utf8); }

}  // namespace names

#include "archive/entry_name.h"

namespace names {

std::string EntryNameKey(const std::string& cp932) {
  std::string key;
  const char* p = cp932.c_str();  // the compare stops at the first NUL
  while (*p) {
    unsigned char c = (unsigned char)*p;
    if (IsDBCSLeadByte(c)) {
      p += p[1] != '\0' ? 2 : 1;
      key += '\x80';
    } else if (c >= 0x80) {
      p++;
      key += '\x80';
    } else {
      p++;
      key += c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : (char)c;
    }
  }
  return key;
}

bool EntryNameIndex::CompareOrder::operator()(const std::string& a, const std::string& b) const {
  return lstrcmpiA(a.c_str(), b.c_str()) < 0;
}

long EntryNameIndex::Find(const std::string& cp932) const {
  auto bucket = buckets_.find(EntryNameKey(cp932));
  if (bucket == buckets_.end()) return -1;
  auto named = bucket->second.find(cp932);
  return named == bucket->second.end() ? -1 : (long)named->second;
}

long EntryNameIndex::Insert(const std::string& cp932, size_t position) {
  auto added = buckets_[EntryNameKey(cp932)].emplace(cp932, position);
  return added.second ? -1 : (long)added.first->second;
}

}  // namespace names
