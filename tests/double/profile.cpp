// GetPrivateProfileStringA of the double: the file is found through the
// mapped drives, and read by the platform's rules over its bytes.
#include "double/internal.h"
#include "platform/profile_rules.h"

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out, DWORD size,
                               LPCSTR path) {
  // Windows paths name files on the double's mapped drives.
  return ProfileStringFromFile(path != nullptr ? scripted::HostPath(path) : std::string(), section, key, defaultValue,
                               out, size);
}
