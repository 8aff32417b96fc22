// Entry names travel in code page 932 inside the archive; the tool's users
// type and see UTF-8 (Linux) or UTF-16 (Windows) names. These convert
// between UTF-8 and code page 932 without guessing: a name that has no exact
// counterpart is refused, never replaced by a look-alike.
#pragma once

#include <stddef.h>

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace names {

// false when the text is not valid UTF-8 or a character has no code page
// 932 form of its own (one that converts back to the same character).
bool Utf8ToCp932(const std::string& utf8, std::string* cp932);
// false when the bytes are not valid code page 932.
bool Cp932ToUtf8(const std::string& cp932, std::string* utf8);
// Why Utf8ToCp932 refuses utf8, for a message: "the character © (U+00A9)
// has no code page 932 form" or "byte 0xFF is not UTF-8 text"; "" when it
// does not refuse it.
std::string Cp932Refusal(const std::string& utf8);

}  // namespace names

// Entry names found by the updater's rule (SameEntryName) without comparing
// each with every other: 160,000 entries would otherwise take minutes.
namespace names {

// A key that names the updater calls the same always share: the name cut at
// its NUL, one byte per character, ASCII letters in capitals and every other
// character (double-byte, kana, or a byte the code page leaves undefined)
// as one marker. The compare tells characters apart only one by one and
// never equates ASCII with anything else, so equal names have equal keys;
// names with equal keys are told apart by the compare itself.
std::string EntryNameKey(const std::string& cp932);

class EntryNameIndex {
 public:
  // The position given with the first name added that is the same entry
  // name as cp932, or -1.
  long Find(const std::string& cp932) const;
  // Adds cp932 at position unless an equal name is there; returns that
  // earlier name's position, or -1 when cp932 was added.
  long Insert(const std::string& cp932, size_t position);

 private:
  // Names that share a key are kept in the compare's own order, whose
  // equality is SameEntryName: a key shared by every name (all kana, say)
  // then costs a few compares a look-up, not one per name.
  struct CompareOrder {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::unordered_map<std::string, std::map<std::string, size_t, CompareOrder>> buckets_;
};

}  // namespace names
