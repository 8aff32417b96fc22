// The platform's profile reader over a profile's bytes.
//
// The updater's profiles are written by hand and by old tools, so the reader
// follows the platform's own rules wherever a real file depends on them; each
// rule below was checked against a Win32 implementation with
// tests/peer/profile_peer.cpp:
// - a line ends at CR or LF, so CR LF, LF and CR files all work, and a
//   missing final line end is fine;
// - blanks (tab, LF, VT, FF, CR, space and Ctrl-Z, but not the ideographic
//   space of code page 932) are trimmed around lines, names and values;
// - "[name]" opens a section: the name runs to the last ']' of the line and is
//   trimmed; a '[' line without ']' is ignored;
// - a line holds a key, '=' and a value; a line without '=' is a key without
//   value, which reads as missing; comment lines are nothing special: they
//   are keys nobody asks for;
// - section and key names compare without regard to ASCII case only; the
//   requested names are trimmed too (not by the key-list form);
// - the first section of a name and the first key of a name win;
// - a value wrapped in the same quote (' or ") at both ends loses them;
// - a value longer than the capacity is cut to capacity - 1 bytes, never in
//   the middle of a double-byte character, and that count is returned;
// - code page 932 text passes unchanged; a file that starts with the UTF-8
//   byte order mark is read behind it.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/profile_rules.h"

namespace {

// One character: a byte, or lead byte << 8 | trail byte.
typedef uint16_t Char;
typedef std::vector<Char> Text;

// Code page 932 lead bytes whatever the system's own code page: profiles are
// always code page 932 text.
bool IsLead(unsigned char c) {
#ifdef _WIN32
  return IsDBCSLeadByteEx(932, c) != 0;
#else
  return IsDBCSLeadByte(c) != 0;
#endif
}

// Splits bytes into characters. A lead byte always takes the byte after it,
// whatever that is, as the platform's conversion does; only a lead byte at the
// very end stands alone.
Text Decode(const std::string& bytes) {
  Text out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); i++) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (IsLead(c) && i + 1 < bytes.size()) {
      out.push_back(static_cast<Char>(c << 8 | static_cast<unsigned char>(bytes[i + 1])));
      i++;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

size_t ByteLength(Char c) { return c > 0xFF ? 2 : 1; }

// The ideographic space of code page 932 (0x8140) is text, not a blank.
bool IsBlank(Char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

// Only ASCII letters fold: full-width, Greek and Cyrillic capitals of code
// page 932 name different sections than their small forms.
Char FoldCase(Char c) { return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c + 32) : c; }

bool EqualNoCase(const Text& a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// Names and values are C strings on the platform: a NUL inside ends them.
Text UpToNul(Text::const_iterator begin, Text::const_iterator end) {
  Text out;
  for (auto it = begin; it != end && *it != 0; ++it) out.push_back(*it);
  return out;
}

// A key line from start to end, cut at its first '=': the name without the
// blanks before the '=', the value without those after it. A line without
// '=' is a name alone. The whole-file reader and the stream both take
// their lines apart here, so they cannot differ on it.
struct KeyLine {
  Text name;
  bool hasValue = false;
  Text value;
};
KeyLine SplitKeyLine(const Text& text, size_t start, size_t end) {
  KeyLine line;
  size_t equals = start;
  while (equals < end && text[equals] != '=') equals++;
  size_t nameEnd = end;
  if (equals < end) {
    nameEnd = equals;
    while (nameEnd > start && IsBlank(text[nameEnd - 1])) nameEnd--;
    size_t valueStart = equals + 1;
    while (valueStart < end && IsBlank(text[valueStart])) valueStart++;
    line.hasValue = true;
    line.value = UpToNul(text.begin() + valueStart, text.begin() + end);
  }
  line.name = UpToNul(text.begin() + start, text.begin() + nameEnd);
  return line;
}

struct Key {
  Text name;
  bool hasValue = false;
  Text value;
};
struct Section {
  Text name;
  std::vector<Key> keys;
};
typedef std::vector<Section> Profile;

// Parses the whole file. Lines before the first section header belong to a
// section with an empty name.
Profile Parse(const Text& text) {
  Profile profile(1);
  size_t next = 0;
  bool lastKeyUnnamed = true;  // no key yet in the current section
  while (next < text.size()) {
    size_t start = next;
    size_t end = start;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') end++;
    next = end < text.size() ? end + 1 : end;
    while (start < end && IsBlank(text[start])) start++;
    while (end > start && IsBlank(text[end - 1])) end--;
    if (start >= end) continue;

    if (text[start] == '[') {
      size_t close = end - 1;
      while (close > start && text[close] != ']') close--;
      if (close > start) {
        size_t nameStart = start + 1;
        while (nameStart < close && IsBlank(text[nameStart])) nameStart++;
        while (close > nameStart && IsBlank(text[close - 1])) close--;
        Section section;
        section.name = UpToNul(text.begin() + nameStart, text.begin() + close);
        profile.push_back(section);
        lastKeyUnnamed = true;
      }
      // A '[' line without ']' opens nothing and is no key either.
      continue;
    }

    KeyLine line = SplitKeyLine(text, start, end);
    Key key;
    key.name = std::move(line.name);
    key.hasValue = line.hasValue;
    key.value = std::move(line.value);
    // A run of lines with an empty name keeps only its first line.
    if (!key.name.empty() || !lastKeyUnnamed || profile.back().keys.empty()) {
      lastKeyUnnamed = key.name.empty();
      profile.back().keys.push_back(key);
    }
  }
  return profile;
}

bool LoadProfile(const std::string* file, Profile* profile) {
  if (file == nullptr) return false;
  std::string bytes = *file;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  *profile = Parse(Decode(bytes));
  return true;
}

Text Trimmed(LPCSTR name) {
  Text t = Decode(name);
  size_t start = 0, end = t.size();
  while (start < end && IsBlank(t[start])) start++;
  while (end > start && IsBlank(t[end - 1])) end--;
  return Text(t.begin() + start, t.begin() + end);
}

const Section* FindSection(const Profile& profile, const Text& name) {
  for (const Section& s : profile) {
    if (EqualNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

// The value as the caller receives it, in characters: matching quotes at both
// ends are dropped when the whole value fits the capacity, and the text is
// cut to capacity - 1 characters.
Text CopyEntry(const Text& value, DWORD capacity) {
  Text v = value;
  bool quoted = v.size() >= 2 && (v[0] == '\'' || v[0] == '"') && v.back() == v[0];
  if (quoted) v.erase(v.begin());
  Text out(v.begin(), v.begin() + std::min<size_t>(v.size(), capacity - 1));
  // A capacity of one byte leaves nothing to drop the closing quote from.
  if (quoted && capacity >= v.size() && !out.empty()) out.pop_back();
  return out;
}

// Writes characters into out (capacity bytes) as the platform does: whole
// characters only, at most capacity - 1 bytes. When they do not all fit, the
// result still counts capacity - 1 bytes and the byte the last character
// could not fill keeps what the caller had there.
DWORD Deliver(const Text& chars, LPSTR out, DWORD capacity) {
  size_t room = capacity - 1;
  size_t used = 0;
  bool overflow = false;
  for (Char c : chars) {
    size_t len = ByteLength(c);
    if (used + len > room) {
      overflow = true;
      break;
    }
    if (len == 2) out[used++] = static_cast<char>(c >> 8);
    out[used++] = static_cast<char>(c & 0xFF);
  }
  DWORD result = overflow ? static_cast<DWORD>(room) : static_cast<DWORD>(used);
  out[result] = 0;
  return result;
}

// Section names, each NUL-terminated: cut as the platform cuts them, the
// last name shortened and the count capacity - 2.
Text SectionNames(const Profile& profile, DWORD capacity) {
  Text out;
  size_t room = capacity - 1;  // characters before the final NUL
  for (const Section& s : profile) {
    if (s.name.empty()) continue;
    if (s.name.size() + 1 >= room) {
      out.insert(out.end(), s.name.begin(), s.name.begin() + (room - 1));
      return out;
    }
    out.insert(out.end(), s.name.begin(), s.name.end());
    out.push_back(0);
    room -= s.name.size() + 1;
  }
  return out;
}

// Key names of a section that have a value, each NUL-terminated; comment
// lines (';') are left out. Cut as the platform cuts them.
Text KeyNames(const Section& section, DWORD capacity) {
  Text out;
  size_t left = capacity;
  for (const Key& k : section.keys) {
    if (left <= 2) break;
    if (!k.hasValue || (!k.name.empty() && k.name[0] == ';')) continue;
    Text name = CopyEntry(k.name, static_cast<DWORD>(left - 1));
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    left -= name.size() + 1;
    if (left < 2) break;
  }
  if (left <= 1) out.resize(capacity - 2);
  return out;
}

Text DefaultText(LPCSTR defaultValue) {
  if (defaultValue == nullptr) return Text();
  Text d = Decode(defaultValue);
  // Trailing spaces of the default are dropped, but never its first character.
  while (d.size() > 1 && d.back() == ' ') d.pop_back();
  return d;
}

}  // namespace

DWORD ProfileStringFromBytes(const std::string* file, LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                             DWORD size) {
  if (out == nullptr || size == 0) return 0;
  Profile profile;
  bool loaded = LoadProfile(file, &profile);
  Text def = DefaultText(defaultValue);

  if (section == nullptr) {
    if (size == 1) {
      out[0] = 0;
      return 0;
    }
    return Deliver(SectionNames(profile, size), out, size);
  }

  if (key == nullptr) {
    // This form looks the section up as given, without trimming.
    const Section* named = loaded ? FindSection(profile, Decode(section)) : nullptr;
    Text names;
    if (named != nullptr && size > 2) names = KeyNames(*named, size);
    if (!names.empty() && names[0] != 0) return Deliver(names, out, size);
    return Deliver(CopyEntry(def, size), out, size);
  }

  const Section* found = loaded ? FindSection(profile, Trimmed(section)) : nullptr;
  Text wanted = Trimmed(key);
  if (found != nullptr) {
    for (const Key& k : found->keys) {
      if (!EqualNoCase(k.name, wanted)) continue;
      if (k.hasValue) return Deliver(CopyEntry(k.value, size), out, size);
      break;
    }
  }
  return Deliver(CopyEntry(def, size), out, size);
}

DWORD ProfileStringFromFile(const std::string& hostPath, LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                            DWORD size) {
  // A folder opens too and reads as empty: a profile without any key.
  FILE* f = hostPath.empty() ? nullptr : std::fopen(hostPath.c_str(), "rb");
  if (f == nullptr) return ProfileStringFromBytes(nullptr, section, key, defaultValue, out, size);
  std::string bytes;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return ProfileStringFromBytes(&bytes, section, key, defaultValue, out, size);
}

// ---- ProfileStream -------------------------------------------------------------

namespace {

std::string Folded(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

// A name's characters as folded bytes, for comparing with wanted names.
std::string FoldedBytes(const Text& name) {
  std::string out;
  for (Char c : name) {
    if (c > 0xFF) {
      out += static_cast<char>(c >> 8);
      out += static_cast<char>(c & 0xFF);
    } else {
      out += static_cast<char>(FoldCase(c));
    }
  }
  return out;
}

}  // namespace

void ProfileStream::Want(const std::string& section, const std::vector<std::string>& keys) {
  Wanted w;
  w.name = Folded(section);
  for (const std::string& k : keys) w.keys.push_back(Folded(k));
  wanted_.push_back(w);
}

void ProfileStream::Feed(const char* bytes, size_t size) {
  const size_t kBomSize = 3;
  for (size_t i = 0; i < size; i++) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    bytes_++;
    if (bom_) {
      // The byte order mark counts only at the very start: hold the first
      // bytes until they are known to be one or not.
      start_ += static_cast<char>(b);
      if (start_.size() < kBomSize && std::string("\xEF\xBB\xBF").compare(0, start_.size(), start_) == 0) continue;
      bom_ = false;
      std::string held;
      held.swap(start_);
      if (held != "\xEF\xBB\xBF") {
        bytes_ -= held.size();
        Feed(held.data(), held.size());
      }
      continue;
    }
    Char c;
    if (lead_ >= 0) {
      // A lead byte takes the byte after it whatever that is, a line end
      // included, as the platform's conversion does.
      c = static_cast<Char>(lead_ << 8 | b);
      lead_ = -1;
    } else if (IsLead(b)) {
      lead_ = b;
      continue;
    } else if (b == '\n' || b == '\r') {
      Line();
      continue;
    } else {
      c = b;
    }
    lineBytes_ += ByteLength(c);
    if (lineBytes_ <= kLineKept) line_.push_back(c);
  }
}

void ProfileStream::Finish() {
  if (bom_) {
    bom_ = false;
    std::string held;
    held.swap(start_);
    if (held != "\xEF\xBB\xBF") {
      bytes_ -= held.size();
      Feed(held.data(), held.size());
    }
  }
  if (lead_ >= 0) {
    // Only a lead byte at the very end stands alone.
    lineBytes_++;
    if (lineBytes_ <= kLineKept) line_.push_back(static_cast<Char>(lead_));
    lead_ = -1;
  }
  Line();
}

// One line by the rules of Parse above; what no reader wants is dropped.
void ProfileStream::Line() {
  if (lineBytes_ > kLineKept) longLines_++;
  Text text;
  text.swap(line_);
  lineBytes_ = 0;
  size_t start = 0, end = text.size();
  while (start < end && IsBlank(text[start])) start++;
  while (end > start && IsBlank(text[end - 1])) end--;
  if (start >= end) return;

  if (text[start] == '[') {
    size_t close = end - 1;
    while (close > start && text[close] != ']') close--;
    if (close <= start) return;
    size_t nameStart = start + 1;
    while (nameStart < close && IsBlank(text[nameStart])) nameStart++;
    while (close > nameStart && IsBlank(text[close - 1])) close--;
    std::string name = FoldedBytes(UpToNul(text.begin() + nameStart, text.begin() + close));
    // The first section of a name wins: a later one is read by nobody.
    current_ = nullptr;
    for (Wanted& w : wanted_)
      if (w.name == name && !w.seen) {
        w.seen = true;
        current_ = &w;
      }
    return;
  }
  if (current_ == nullptr) return;

  KeyLine line = SplitKeyLine(text, start, end);
  Value value;
  if (line.hasValue) {
    value.hasValue = true;
    Text& v = line.value;
    value.chars = v.size();
    for (Char c : v) value.bytes += ByteLength(c);
    value.quoted = v.size() >= 2 && (v[0] == '\'' || v[0] == '"') && v.back() == v[0];
    v.resize(std::min(v.size(), kValueKept));
    value.head.swap(v);
  }
  std::string name = FoldedBytes(line.name);
  bool wanted = false;
  for (const std::string& k : current_->keys) wanted = wanted || k == name;
  if (!wanted) return;
  // The first line of a key wins, with or without a value.
  for (const auto& f : current_->found)
    if (f.first == name) return;
  current_->found.emplace_back(name, std::move(value));
}

DWORD ProfileStream::Get(LPCSTR section, LPCSTR key, LPSTR out, DWORD size, size_t* whole) const {
  if (whole != nullptr) *whole = 0;
  if (out == nullptr || size == 0) return 0;
  std::string s = Folded(section), k = Folded(key);
  for (const Wanted& w : wanted_) {
    if (w.name != s) continue;
    for (const auto& f : w.found) {
      if (f.first != k || !f.second.hasValue) continue;
      const Value& v = f.second;
      // CopyEntry above, on the kept head: a capacity never reaches past it.
      size_t capacity = std::min<size_t>(size, kValueKept - 1);
      size_t skip = v.quoted ? 1 : 0;
      size_t length = v.chars - skip;
      Text text(v.head.begin() + skip, v.head.begin() + skip + std::min(length, capacity - 1));
      if (v.quoted && capacity >= length && !text.empty()) text.pop_back();
      if (whole != nullptr) *whole = v.bytes - (v.quoted ? 2 : 0);
      return Deliver(text, out, size);
    }
  }
  out[0] = 0;
  return 0;
}

bool ProfileStream::HasLine(LPCSTR section, LPCSTR key) const {
  std::string s = Folded(section), k = Folded(key);
  for (const Wanted& w : wanted_) {
    if (w.name != s) continue;
    for (const auto& f : w.found)
      if (f.first == k) return true;
  }
  return false;
}
