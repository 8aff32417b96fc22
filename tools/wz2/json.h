// The few pieces of JSON the tool writes for release scripts: strings are
// escaped, text that is not UTF-8 has each bad byte shown as U+FFFD, and
// objects are built as text in the order the fields are given.
#pragma once

#include <stdint.h>

#include <string>

namespace wz2 {

// A quoted JSON string of utf8.
std::string JsonString(const std::string& utf8);

// An object's fields, written in order: {"a": 1, "b": "x"}.
class JsonObject {
 public:
  JsonObject& Add(const char* name, const std::string& utf8) { return Raw(name, JsonString(utf8)); }
  JsonObject& Add(const char* name, const char* utf8) { return Raw(name, JsonString(utf8)); }
  JsonObject& Add(const char* name, uint64_t number) { return Raw(name, std::to_string(number)); }
  JsonObject& Add(const char* name, int number) { return Raw(name, std::to_string(number)); }
  JsonObject& Add(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
  // A value already in JSON (an array or object).
  JsonObject& Raw(const char* name, const std::string& json);
  std::string Text() const { return "{" + fields_ + "}"; }
  // The fields without the braces, for an object written out in pieces.
  const std::string& Fields() const { return fields_; }

 private:
  std::string fields_;
};

}  // namespace wz2
