// Byte-string helpers of the ANSI API with code page 932 rules: lead bytes,
// the case-blind compare, and wsprintf's subset of formats with its
// 1,024-byte output limit.
#include <iconv.h>

#include <cstring>

#include "platform/win.h"

namespace {

// wsprintfA never writes more than this, terminator included.
const size_t kFormatLimit = 1024;


int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

struct Out {
  char* buffer;
  size_t length;
  void Put(char c) {
    if (length + 1 < kFormatLimit) buffer[length++] = c;
  }
  void Repeat(char c, int count) {
    for (int i = 0; i < count; ++i) Put(c);
  }
};

struct Spec {
  bool left = false;
  bool zero = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;
};

// Writes `body` (with an optional sign or 0x prefix) padded to the width.
// Zero padding is for numbers; texts are padded with blanks whatever the flag.
void Emit(Out* out, Spec spec, const char* prefix, const char* body, size_t bodyLength, bool number) {
  if (!number) spec.zero = false;
  size_t prefixLength = std::strlen(prefix);
  int pad = spec.width - static_cast<int>(prefixLength + bodyLength);
  if (pad < 0) pad = 0;
  if (!spec.left && !spec.zero) out->Repeat(' ', pad);
  for (size_t i = 0; i < prefixLength; ++i) out->Put(prefix[i]);
  if (!spec.left && spec.zero) out->Repeat('0', pad);
  for (size_t i = 0; i < bodyLength; ++i) out->Put(body[i]);
  if (spec.left) out->Repeat(' ', pad);
}

void EmitNumber(Out* out, Spec spec, uint32_t magnitude, bool negative, unsigned base, bool upper) {
  char digits[40];
  size_t n = 0;
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    digits[n++] = set[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0);
  // A precision asks for at least that many digits; zero padding then yields.
  int minimum = spec.precision < 0 ? 1 : spec.precision;
  if (minimum > 32) minimum = 32;
  while (static_cast<int>(n) < minimum) digits[n++] = '0';
  if (spec.precision >= 0) spec.zero = false;
  char body[40];
  for (size_t i = 0; i < n; ++i) body[i] = digits[n - 1 - i];
  const char* prefix = negative ? "-" : "";
  if (spec.alternate && base == 16) prefix = upper ? "0X" : "0x";
  Emit(out, spec, prefix, body, n, true);
}


// ---- The case-blind compare ------------------------------------------------
//
// The platform's lstrcmpiA converts both strings from code page 932 and
// compares them linguistically without regard to case. Two names are equal
// there exactly when their characters are equal one by one under these rules
// (checked for every character of the code page against a Win32
// implementation with tests/peer/profile_peer.cpp):
// - a character is what its code converts to, so the duplicate codes of the
//   NEC and IBM extensions (0xED40 and 0xFA5C, 0x8754 and 0xFA4A) are one;
// - a double-byte code without a character, a lead byte before a byte that
//   cannot follow it, and a lead byte at the end all convert to the default
//   character U+30FB, so they equal each other and 0x8145;
// - letters with a case fold: ASCII, full-width Latin, Greek, Cyrillic and the
//   Roman numerals (U+2170 and U+2160);
// - the half-width sound marks equal the full-width ones (U+FF9E and U+309B,
//   U+FF9F and U+309C), and the prolonged sound mark, the iteration marks and
//   the horizontal bar equal each other. The platform weighs those last ones
//   by the kana before them, so after a kana it may tell two of them apart;
//   here they stay equal everywhere, which errs towards calling two names
//   the same, never towards finding a second file under one name.
// Each character becomes one key; strings compare by their keys in order.

// Unicode of the single bytes that are no ASCII and no half-width kana: the
// code page gives them private characters of their own.
uint32_t SingleByteCharacter(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xA1 && b <= 0xDF) return 0xFF61u + (b - 0xA1u);
  if (b == 0xA0) return 0xF8F0u;
  if (b >= 0xFD) return 0xF8F1u + (b - 0xFDu);
  return b;  // 0x80
}

const uint32_t kDefaultCharacter = 0x30FB;

// Every double-byte code's character, converted once with the C library's
// code page 932 table; 0 marks a code without one.
struct DoubleByteTable {
  uint16_t unicode[0x10000];
  DoubleByteTable() {
    std::memset(unicode, 0, sizeof(unicode));
    iconv_t cd = iconv_open("UTF-32LE", "CP932");
    if (cd == (iconv_t)-1) return;
    for (unsigned code = 0x8100; code <= 0xFCFF; code++) {
      char in[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
      unsigned char out[8];
      char* inPtr = in;
      size_t inLeft = 2;
      char* outPtr = reinterpret_cast<char*>(out);
      size_t outLeft = sizeof(out);
      if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == (size_t)-1 || inLeft != 0 || outLeft != 4) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        continue;
      }
      uint32_t c = out[0] | (out[1] << 8) | (static_cast<uint32_t>(out[2]) << 16);
      if (c <= 0xFFFF) unicode[code] = static_cast<uint16_t>(c);
    }
    iconv_close(cd);
  }
};

uint32_t DoubleByteCharacter(unsigned char lead, unsigned char trail) {
  static const DoubleByteTable* table = new DoubleByteTable();
  uint16_t c = table->unicode[lead << 8 | trail];
  return c != 0 ? c : kDefaultCharacter;
}

// The key of one character: small letters for capitals, one member for each
// group of characters the compare does not tell apart.
uint32_t FoldCharacter(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;           // Ａ-Ｚ
  if (c >= 0x0391 && c <= 0x03A9) return c + 0x20;           // Α-Ω
  if (c >= 0x0410 && c <= 0x042F) return c + 0x20;           // А-Я
  if (c == 0x0401) return 0x0451;                            // Ё
  if (c >= 0x2160 && c <= 0x216F) return c + 0x10;           // Ⅰ-Ⅿ
  if (c == 0xFF9E) return 0x309B;
  if (c == 0xFF9F) return 0x309C;
  switch (c) {
    case 0xFF70: case 0x30FD: case 0x30FE: case 0x309D: case 0x309E: case 0x3005: case 0x2015:
      return 0x30FC;
    default:
      return c;
  }
}

// Key of the character at *p, moving *p past it.
uint32_t NextKey(const unsigned char** p) {
  const unsigned char* s = *p;
  if (IsDBCSLeadByte(s[0])) {
    if (s[1] == 0) {
      *p = s + 1;
      return FoldCharacter(kDefaultCharacter);
    }
    *p = s + 2;
    return FoldCharacter(DoubleByteCharacter(s[0], s[1]));
  }
  *p = s + 1;
  return FoldCharacter(SingleByteCharacter(s[0]));
}

}  // namespace

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
  while (*x != 0 && *y != 0) {
    uint32_t kx = NextKey(&x);
    uint32_t ky = NextKey(&y);
    if (kx != ky) return kx < ky ? -1 : 1;
  }
  return Sign(static_cast<int>(*x != 0) - static_cast<int>(*y != 0));
}

// Windows compares by word sort: letters first without regard to case, and
// only strings equal in that light are ordered by case, lower case first.
// Punctuation weights are not modelled; the updater compares names only.
int lstrcmpA(LPCSTR a, LPCSTR b) {
  int folded = lstrcmpiA(a, b);
  if (folded != 0) return folded;
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (; *x; ++x, ++y) {
    if (*x != *y) return (*x >= 'a' && *x <= 'z') ? -1 : 1;
  }
  return 0;
}

LPSTR lstrcpyA(LPSTR dst, LPCSTR src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  std::memmove(dst, src, std::strlen(src) + 1);
  return dst;
}

LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max) {
  if (dst == nullptr || src == nullptr) return nullptr;
  if (max <= 0) return dst;
  int i = 0;
  for (; i < max - 1 && src[i] != 0; ++i) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

LPSTR lstrcatA(LPSTR dst, LPCSTR src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  std::memmove(dst + std::strlen(dst), src, std::strlen(src) + 1);
  return dst;
}

int lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

int wsprintfA(LPSTR out, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = wvsprintfA(out, format, args);
  va_end(args);
  return n;
}

int wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
  Out out{buffer, 0};
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    ++p;
    Spec spec;
    for (;; ++p) {
      if (*p == '-')
        spec.left = true;
      else if (*p == '0')
        spec.zero = true;
      else if (*p == '#')
        spec.alternate = true;
      else
        break;
    }
    if (spec.left) spec.zero = false;
    while (*p >= '0' && *p <= '9') spec.width = spec.width * 10 + (*p++ - '0');
    if (*p == '.') {
      ++p;
      spec.precision = 0;
      while (*p >= '0' && *p <= '9') spec.precision = spec.precision * 10 + (*p++ - '0');
    }
    // 'l' and 'h' change nothing for the 32-bit conversions: LONG is 32 bits
    // on Windows, so "%lu" of a DWORD reads one 32-bit argument.
    while (*p == 'l' || *p == 'h') ++p;
    switch (*p) {
      case 0:
        --p;  // a lone '%' at the end prints nothing
        break;
      case 'c': {
        char c = static_cast<char>(va_arg(args, int));
        Emit(&out, spec, "", &c, 1, false);
        break;
      }
      case 's': {
        const char* s = va_arg(args, const char*);
        if (s == nullptr) s = "(null)";
        size_t n = std::strlen(s);
        if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < n) n = static_cast<size_t>(spec.precision);
        Emit(&out, spec, "", s, n, false);
        break;
      }
      case 'd':
      case 'i': {
        int v = va_arg(args, int);
        uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        EmitNumber(&out, spec, magnitude, v < 0, 10, false);
        break;
      }
      case 'u':
        EmitNumber(&out, spec, va_arg(args, unsigned int), false, 10, false);
        break;
      case 'x':
        EmitNumber(&out, spec, va_arg(args, unsigned int), false, 16, false);
        break;
      case 'X':
        EmitNumber(&out, spec, va_arg(args, unsigned int), false, 16, true);
        break;
      default:  // "%%" and unknown conversions print the character itself
        out.Put(*p);
        break;
    }
  }
  buffer[out.length] = 0;
  // An output that reaches the limit reports the whole buffer, terminator
  // included, as the platform's formatter does (the bytes are the same).
  if (out.length + 1 >= kFormatLimit) return static_cast<int>(kFormatLimit);
  return static_cast<int>(out.length);
}

BOOL IsDBCSLeadByte(BYTE b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

LPSTR CharNextA(LPCSTR p) {
  if (*p == 0) return const_cast<LPSTR>(p);
  // A lead byte before the terminator is a broken character: step one byte
  // so the caller still stops at the NUL.
  if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != 0) return const_cast<LPSTR>(p + 2);
  return const_cast<LPSTR>(p + 1);
}

UINT GetACP(void) { return 932; }
