// GetPrivateProfileStringA of the double: the file is found through the
// mapped drives, and read by the platform's rules over its bytes.
#include <cstdio>

#include "double/internal.h"
#include "platform/profile_rules.h"

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out, DWORD size,
                               LPCSTR path) {
  std::string hostPath = path != nullptr ? host::HostPath(path) : std::string();
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
