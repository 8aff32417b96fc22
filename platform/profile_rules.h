// The platform's profile (INI) reader, GetPrivateProfileStringA, over a
// profile's bytes in memory: the rules the updater's profiles are read by,
// for hosts without that reader and for the publisher's tool, which checks a
// manifest without writing it to a file first.
#pragma once

#include <string>

#include "platform/win.h"

// What GetPrivateProfileStringA(section, key, defaultValue, out, size, path)
// gives when the file at path holds *file; file NULL stands for a file that
// does not exist. Every form is served: section NULL lists the section names,
// key NULL the key names of a section.
DWORD ProfileStringFromBytes(const std::string* file, LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                             DWORD size);
// The same for the profile in the host file hostPath, read whole; a file
// that cannot be opened is one that does not exist.
DWORD ProfileStringFromFile(const std::string& hostPath, LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out,
                            DWORD size);
