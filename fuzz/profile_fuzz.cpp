// The profile reader over arbitrary profile bytes, in every form the updater
// and the tool call it, and the field lists of its values: every answer
// stays inside its buffer, is terminated, and a field list always ends; and
// the stream that check reads a manifest with answers as the whole-file
// reader does, whatever the bytes and however they arrive.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "config/profile.h"
#include "platform/profile_rules.h"

static void Terminated(const char* out, DWORD n, DWORD size) {
  if (size == 0) return;
  if (n >= size || out[n] != '\0') __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  DWORD capacity = 1 + data[0] % 64;  // small buffers reach the cutting rules
  std::string file((const char*)data + 1, size - 1);
  char out[65536];
  DWORD n = ProfileStringFromBytes(&file, "SETUP", "CompanyName", "dflt", out, capacity);
  Terminated(out, n, capacity);
  n = ProfileStringFromBytes(&file, "UPDATE", nullptr, "", out, capacity);  // the key names
  if (n > capacity) __builtin_trap();
  n = ProfileStringFromBytes(&file, nullptr, nullptr, "", out, capacity);  // the section names
  if (n > capacity) __builtin_trap();
  // The whole file as one value's text, split as a field list.
  n = ProfileStringFromBytes(&file, "UPDATE", "UpdateFile00", "", out, sizeof(out));
  Terminated(out, n, sizeof(out));
  LPCSTR cursor = out;
  char field[FIELD_SLOT];
  for (int fields = 0;; fields++) {
    LPCSTR was = cursor;
    FieldResult r = NextField(field, 1 + data[0] % sizeof(field), &cursor);
    if (r == FIELD_NONE) break;
    if (r == FIELD_TOO_LONG) {
      if (cursor != was || field[0] != '\0') __builtin_trap();
      break;
    }
    if (strlen(field) >= sizeof(field) || cursor <= was || cursor > out + n + 1) __builtin_trap();
    if (fields > (int)sizeof(out)) __builtin_trap();  // a list must end
  }

  ProfileStream stream;
  stream.Want("SETUP", {"CompanyName", "GameTitle"});
  stream.Want("UPDATE", {"UpdateFile00", "RequiredDiskSpace"});
  size_t chunk = 1 + data[0] % 7;
  for (size_t at = 0; at < file.size(); at += chunk) stream.Feed(file.data() + at, std::min(chunk, file.size() - at));
  stream.Finish();
  const char* asked[][2] = {{"SETUP", "CompanyName"}, {"setup", "GameTitle"}, {"UPDATE", "UpdateFile00"},
                            {"UPDATE", "RequiredDiskSpace"}};
  for (const auto& key : asked) {
    // Both start zeroed: a value cut inside a double-byte character leaves
    // the byte where its lead byte would go unwritten in either reader,
    // and that byte must not decide the comparison.
    char whole[1024] = {0}, streamed[1024] = {0};
    DWORD a = ProfileStringFromBytes(&file, key[0], key[1], "", whole, capacity);
    DWORD b = stream.Get(key[0], key[1], streamed, capacity);
    if (a != b || memcmp(whole, streamed, a + 1) != 0) __builtin_trap();
  }
  return 0;
}
