// Entry names travel in code page 932 inside the archive; the tool's users
// type and see UTF-8 (Linux) or UTF-16 (Windows) names. These convert
// between UTF-8 and code page 932 without guessing: a name that has no exact
// counterpart is refused, never replaced by a look-alike.
#pragma once

#include <string>

namespace names {

// false when the text is not valid UTF-8 or a character has no code page
// 932 form of its own (one that converts back to the same character).
bool Utf8ToCp932(const std::string& utf8, std::string* cp932);
// false when the bytes are not valid code page 932.
bool Cp932ToUtf8(const std::string& cp932, std::string* utf8);

}  // namespace names
