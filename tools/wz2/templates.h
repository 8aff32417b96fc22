// Where build-exe finds the updater templates when no --template is given.
#pragma once

#include <string>
#include <vector>

#include "tools/wz2/files.h"

namespace wz2 {

// The architecture build-exe uses by default: the updater players run.
extern const char* const kDefaultArch;
bool KnownArch(const std::string& name);
std::vector<std::string> ArchNames();
// The template for arch ("i686" or "x86_64"): installed beside the tool
// (../share/wz2/updater-ARCH.exe) or built beside its build tree. False with
// a one-line reason naming the places looked at.
bool FindTemplate(const std::string& arch, fs::path* out, std::string* error);
// The version written beside the template, or "" when there is none.
std::string TemplateVersion(const fs::path& templ);

}  // namespace wz2
