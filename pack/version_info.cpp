// The version resource is a tree of records, each
//   WORD wLength, wValueLength, wType; WCHAR key[] NUL; pad to 4; value; pad
//   to 4; children
// where wLength covers the record and its children and wValueLength counts
// bytes for binary values and UTF-16 units (with the NUL) for text ones.
#include "pack/version_info.h"

#include <string.h>

#include "pack/bytes_append.h"
#include "pack/names.h"

namespace version_info {
namespace {

#define FIXED_INFO_SIZE 52
#define FIXED_SIGNATURE 0xFEEF04BDu
#define FIXED_STRUCT_VERSION 0x00010000u
#define FIXED_FLAGS_MASK 0x3Fu
#define FIXED_OS_NT_WINDOWS32 0x00040004u
#define FIXED_TYPE_APP 1u
// A value longer than this is no version text; it also keeps every record's
// 16-bit length far from overflowing.
#define MAX_VALUE_UNITS 512
#define TYPE_BINARY 0
#define TYPE_TEXT 1

const char* const kKeys[] = {"Comments",       "CompanyName",     "FileDescription", "FileVersion",
                             "InternalName",   "LegalCopyright",  "LegalTrademarks", "OriginalFilename",
                             "PrivateBuild",   "ProductName",     "ProductVersion",  "SpecialBuild"};
const char kTable[] = "041103A4";

bool Refuse(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

// UTF-8 (already known to be valid) as UTF-16.
std::u16string Utf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n && i + k < utf8.size(); k++) cp = cp << 6 | ((unsigned char)utf8[i + k] & 0x3F);
    if (cp >= 0x10000) {
      out.push_back((char16_t)(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back((char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back((char16_t)cp);
    }
    i += n;
  }
  return out;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (cp >= 0xD800 && cp < 0xE000)
      cp = 0xFFFD;
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | cp >> 6);
      out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += (char)(0xE0 | cp >> 12);
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xF0 | cp >> 18);
      out += (char)(0x80 | ((cp >> 12) & 0x3F));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

void Pad4(std::vector<uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}

// One record: its header and key are written by Open, its length by Close
// once the value and the children are in.
size_t Open(std::vector<uint8_t>& b, const char* key, uint16_t valueLength, uint16_t type) {
  Pad4(b);
  size_t at = b.size();
  Append16(b, 0);
  Append16(b, valueLength);
  Append16(b, type);
  for (const char* p = key; *p; p++) Append16(b, (uint16_t)(unsigned char)*p);
  Append16(b, 0);
  Pad4(b);
  return at;
}
void Close(std::vector<uint8_t>& b, size_t at) {
  size_t length = b.size() - at;
  Store16(&b[at], (uint16_t)length);
}

bool IsKnownKey(const std::string& key) {
  for (const char* k : kKeys)
    if (key == k) return true;
  return false;
}

// A record as read: where its value and its children lie.
struct Record {
  size_t end = 0;           // one past its last byte
  std::u16string key;
  uint16_t valueLength = 0;
  uint16_t type = 0;
  size_t value = 0;         // where the value starts
  size_t valueBytes = 0;    // its length in bytes, inside the record
  size_t children = 0;      // where the first child starts
};

bool ReadRecord(const std::vector<uint8_t>& b, size_t at, size_t limit, Record* r) {
  if (at % 4 || limit > b.size() || at > limit || limit - at < 6) return false;
  uint16_t length = Load16(&b[at]);
  if (length < 6 || length > limit - at) return false;
  r->end = at + length;
  r->valueLength = Load16(&b[at + 2]);
  r->type = Load16(&b[at + 4]);
  r->key.clear();
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > r->end) return false;
    uint16_t c = Load16(&b[p]);
    if (c == 0) break;
    r->key.push_back((char16_t)c);
  }
  p += 2;
  r->value = (p + 3) / 4 * 4;
  r->valueBytes = r->type == TYPE_TEXT ? (size_t)r->valueLength * 2 : r->valueLength;
  if (r->value > r->end || r->valueBytes > r->end - r->value) return false;
  r->children = (r->value + r->valueBytes + 3) / 4 * 4;
  if (r->children > r->end) r->children = r->end;
  return true;
}

bool KeyIs(const Record& r, const char* ascii) { return Utf8(r.key) == ascii; }

}  // namespace

bool ParseVersionNumber(const std::string& text, uint16_t parts[4]) {
  for (int i = 0; i < 4; i++) parts[i] = 0;
  size_t i = 0;
  for (int part = 0; part < 4; part++) {
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++, digits++) {
      value = value * 10 + (uint32_t)(text[i] - '0');
      if (digits >= 5 || value > 0xFFFF) return false;
    }
    if (digits == 0) return false;
    parts[part] = (uint16_t)value;
    if (i == text.size()) return true;
    if (text[i] != '.') return false;
    i++;
  }
  return false;  // a fifth number, or a trailing dot
}

bool Build(const Strings& strings, std::vector<uint8_t>* out, std::string* error) {
  uint16_t file[4], product[4];
  bool haveFile = false, haveProduct = false;
  std::vector<std::u16string> values;
  for (size_t i = 0; i < strings.size(); i++) {
    const std::string& key = strings[i].first;
    const std::string& value = strings[i].second;
    if (!IsKnownKey(key))
      return Refuse(error, "unknown version key '" + key +
                               "' (Comments, CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, "
                               "LegalTrademarks, OriginalFilename, PrivateBuild, ProductName, ProductVersion, SpecialBuild)");
    for (size_t j = 0; j < i; j++)
      if (strings[j].first == key) return Refuse(error, "version key " + key + " given twice");
    std::string cp932;
    if (value.empty()) return Refuse(error, "version key " + key + " has no value");
    if (!names::Utf8ToCp932(value, &cp932))
      return Refuse(error, "version key " + key + ": " + names::Cp932Refusal(value));
    std::u16string wide = Utf16(value);
    if (wide.size() > MAX_VALUE_UNITS) return Refuse(error, "version key " + key + ": the value is over 512 characters");
    if (key == "FileVersion" || key == "ProductVersion") {
      uint16_t* parts = key == "FileVersion" ? file : product;
      if (!ParseVersionNumber(value, parts))
        return Refuse(error, key + "=" + value + ": not a version number (1 to 4 numbers of 0 to 65535, as 1.10.0.0)");
      (key == "FileVersion" ? haveFile : haveProduct) = true;
    }
    values.push_back(wide);
  }
  if (!haveFile) return Refuse(error, "--version-info needs FileVersion (1 to 4 numbers of 0 to 65535, as 1.10.0.0)");
  if (!haveProduct) memcpy(product, file, sizeof(file));

  std::vector<uint8_t> b;
  size_t root = Open(b, "VS_VERSION_INFO", FIXED_INFO_SIZE, TYPE_BINARY);
  Append32(b, FIXED_SIGNATURE);
  Append32(b, FIXED_STRUCT_VERSION);
  Append32(b, (uint32_t)file[0] << 16 | file[1]);
  Append32(b, (uint32_t)file[2] << 16 | file[3]);
  Append32(b, (uint32_t)product[0] << 16 | product[1]);
  Append32(b, (uint32_t)product[2] << 16 | product[3]);
  Append32(b, FIXED_FLAGS_MASK);
  Append32(b, 0);  // no debug, pre-release or patched build flags
  Append32(b, FIXED_OS_NT_WINDOWS32);
  Append32(b, FIXED_TYPE_APP);
  for (int i = 0; i < 3; i++) Append32(b, 0);  // subtype and date: unused
  size_t stringInfo = Open(b, "StringFileInfo", 0, TYPE_TEXT);
  size_t table = Open(b, kTable, 0, TYPE_TEXT);
  for (size_t i = 0; i < strings.size(); i++) {
    size_t s = Open(b, strings[i].first.c_str(), (uint16_t)(values[i].size() + 1), TYPE_TEXT);
    for (char16_t c : values[i]) Append16(b, (uint16_t)c);
    Append16(b, 0);
    Close(b, s);
  }
  Close(b, table);
  Close(b, stringInfo);
  size_t varInfo = Open(b, "VarFileInfo", 0, TYPE_TEXT);
  size_t translation = Open(b, "Translation", 4, TYPE_BINARY);
  Append16(b, VERSION_LANGUAGE);
  Append16(b, VERSION_CODE_PAGE);
  Close(b, translation);
  Close(b, varInfo);
  Close(b, root);
  *out = std::move(b);
  return true;
}

bool Read(const std::vector<uint8_t>& data, Info* out, std::string* error) {
  *out = Info();
  Record root;
  if (!ReadRecord(data, 0, data.size(), &root) || !KeyIs(root, "VS_VERSION_INFO"))
    return Refuse(error, "damaged version resource");
  if (root.valueBytes >= FIXED_INFO_SIZE && Load32(&data[root.value]) == FIXED_SIGNATURE) {
    uint32_t words[4];
    for (int i = 0; i < 4; i++) words[i] = Load32(&data[root.value + 8 + 4 * (size_t)i]);
    for (int i = 0; i < 2; i++) {
      out->fileVersion[2 * i] = (uint16_t)(words[i] >> 16);
      out->fileVersion[2 * i + 1] = (uint16_t)words[i];
      out->productVersion[2 * i] = (uint16_t)(words[2 + i] >> 16);
      out->productVersion[2 * i + 1] = (uint16_t)words[2 + i];
    }
  }
  // Every record is at least 8 bytes and lies inside its parent, so the
  // walk ends after at most data.size() / 8 records.
  for (size_t at = root.children; at + 6 <= root.end;) {
    Record info;
    if (!ReadRecord(data, at, root.end, &info)) return Refuse(error, "damaged version resource");
    if (KeyIs(info, "StringFileInfo") && out->table.empty()) {
      Record table;
      if (info.children + 6 <= info.end) {
        if (!ReadRecord(data, info.children, info.end, &table)) return Refuse(error, "damaged version resource");
        out->table = Utf8(table.key);
        for (size_t s = table.children; s + 6 <= table.end;) {
          Record str;
          if (!ReadRecord(data, s, table.end, &str)) return Refuse(error, "damaged version resource");
          // The value is read as text whatever its type says, but only as
          // far as its length in bytes goes: a binary record counts bytes,
          // not characters, and taken as characters it would run on into
          // the next record and past the resource.
          std::u16string value;
          for (size_t k = 0; k < str.valueBytes / 2; k++) {
            uint16_t c = Load16(&data[str.value + 2 * k]);
            if (c == 0) break;
            value.push_back((char16_t)c);
          }
          out->strings.push_back({Utf8(str.key), Utf8(value)});
          s = (str.end + 3) / 4 * 4;
        }
      }
    }
    at = (info.end + 3) / 4 * 4;
  }
  return true;
}

}  // namespace version_info
