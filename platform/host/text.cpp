// Byte-string helpers of the ANSI API with code page 932 rules: lead bytes,
// case folding of ASCII letters only, and wsprintf's subset of formats with
// its 1,024-byte output limit.
#include <cstring>

#include "platform/host/internal.h"

namespace {

// wsprintfA never writes more than this, terminator included.
const size_t kFormatLimit = 1024;

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

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


// Upper-case form of the trail byte of a double-byte letter: code page 932
// has full-width Latin, Greek and Cyrillic letters in both cases, and the
// platform's case-blind compare treats the pairs as equal.
unsigned char FoldWideTrail(unsigned char lead, unsigned char trail) {
  if (lead == 0x82 && trail >= 0x81 && trail <= 0x9A) return static_cast<unsigned char>(trail - 0x21);  // ａ-ｚ
  if (lead == 0x83 && trail >= 0xBF && trail <= 0xD6) return static_cast<unsigned char>(trail - 0x20);  // α-ω
  if (lead == 0x84 && trail >= 0x70 && trail <= 0x91 && trail != 0x7F) {                              // а-я
    int index = trail - 0x70 - (trail > 0x7F ? 1 : 0);
    return static_cast<unsigned char>(0x40 + index);
  }
  return trail;
}

}  // namespace

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
  // Walks characters, not bytes: the second byte of a double-byte character
  // may look like an ASCII letter (0x83 0x41) and must not be folded as one.
  for (;;) {
    bool wideX = IsDBCSLeadByte(*x) && x[1] != 0;
    bool wideY = IsDBCSLeadByte(*y) && y[1] != 0;
    if (wideX && wideY && *x == *y) {
      int d = static_cast<int>(FoldWideTrail(x[0], x[1])) - static_cast<int>(FoldWideTrail(y[0], y[1]));
      if (d != 0) return Sign(d);
      x += 2;
      y += 2;
      continue;
    }
    int d = static_cast<int>(FoldAscii(*x)) - static_cast<int>(FoldAscii(*y));
    if (d != 0 || *x == 0) return Sign(d);
    ++x;
    ++y;
  }
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
