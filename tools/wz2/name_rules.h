// The tool's own rules for names given on the command line or written as
// files; the rules of entry names themselves (code page 932, the updater's
// compare, the 14-byte field) are pack/names.h's.
#pragma once

#include <string>

namespace wz2 {

// Glob on an entry name: '*', '?', '[set]' / '[!set]'; ASCII letters match
// either case, as the updater compares names.
bool GlobMatch(const std::string& pattern, const std::string& name);
// A name a file may carry on every host: not empty, no path separators or
// characters Windows forbids, not "." or "..".
bool SafeFileName(const std::string& utf8, std::string* why);

}  // namespace wz2
