// Names given on the command line (--store patterns) and names written as
// files (extract): the tool's rules beside the entry-name rules of
// pack/names.h, with ASCII case folded as the updater folds it.
#include "tools/wz2/name_rules.h"

#include <string.h>

namespace wz2 {

static char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

static bool GlobFrom(const char* p, const char* n) {
  for (; *p; p++) {
    if (*p == '*') {
      while (p[1] == '*') p++;
      for (const char* rest = n;; rest++) {
        if (GlobFrom(p + 1, rest)) return true;
        if (!*rest) return false;
      }
    }
    if (!*n) return false;
    if (*p == '?') {
      n++;
      continue;
    }
    if (*p == '[') {
      const char* q = p + 1;
      bool negate = *q == '!' || *q == '^';
      if (negate) q++;
      bool matched = false;
      const char* start = q;
      while (*q && (*q != ']' || q == start)) {
        if (q[1] == '-' && q[2] && q[2] != ']') {
          if (FoldAscii(*n) >= FoldAscii(q[0]) && FoldAscii(*n) <= FoldAscii(q[2])) matched = true;
          q += 3;
        } else {
          if (FoldAscii(*q) == FoldAscii(*n)) matched = true;
          q++;
        }
      }
      if (!*q) {  // no closing bracket: the '[' is an ordinary character
        if (*n != '[') return false;
        n++;
        continue;
      }
      if (matched == negate) return false;
      p = q;
      n++;
      continue;
    }
    if (FoldAscii(*p) != FoldAscii(*n)) return false;
    n++;
  }
  return *n == 0;
}

bool GlobMatch(const std::string& pattern, const std::string& name) { return GlobFrom(pattern.c_str(), name.c_str()); }

bool SafeFileName(const std::string& utf8, std::string* why) {
  if (utf8.empty() || utf8 == "." || utf8 == "..") {
    *why = "is not a file name";
    return false;
  }
  for (unsigned char c : utf8) {
    if (c < 0x20 || strchr("/\\:*?\"<>|", c) != nullptr) {
      *why = "contains a character no file name may hold";
      return false;
    }
  }
  // Windows drops a trailing dot or blank, and opens a device instead of a
  // file for the reserved names (with any extension): the updater could not
  // write such an entry, and extracting one there would not make a file.
  if (utf8.back() == '.' || utf8.back() == ' ') {
    *why = "ends in a dot or a blank";
    return false;
  }
  std::string stem;
  for (char c : utf8.substr(0, utf8.find('.'))) stem += FoldAscii(c);
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  bool device = false;
  for (const char* d : kDevices) device = device || stem == d;
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
      stem[3] <= '9')
    device = true;
  if (device) {
    *why = "is a device name on Windows";
    return false;
  }
  return true;
}

}  // namespace wz2
