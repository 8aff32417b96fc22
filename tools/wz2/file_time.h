// File times as the archive keeps them: FILETIME, 100 ns since 1601 (UTC),
// read from and stamped on the host's files to the host's precision.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>

#include "platform/win.h"

namespace wz2 {

// FILETIME as a 64-bit number and back.
uint64_t FileTimeValue(const FILETIME& t);
FILETIME FileTimeFrom(uint64_t value);
// "YYYY-MM-DDTHH:MM:SSZ", with ".fffffff" when the time has a fraction.
std::string FormatUtc(const FILETIME& t);
bool GetModificationTime(const std::filesystem::path& path, FILETIME* out, std::string* error);
bool SetModificationTime(const std::filesystem::path& path, const FILETIME& t, std::string* error);

}  // namespace wz2
