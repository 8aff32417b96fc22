// What check finds in an archive: its manifest read as the updater reads it,
// against the archive's entries and, when given, the game's SETUP.INI.
// build-exe asks the same before it builds.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/wz2/archive_view.h"

namespace wz2 {

struct Finding {
  bool error;  // else a warning
  std::string key;
  std::string text;
};
// The installed game's SETUP.INI given to check: its path and its bytes.
struct SetupFile {
  std::filesystem::path path;
  std::string bytes;
};
// Loads SETUP.INI with the updater's own loader. False when the updater
// would refuse it, with the message and caption the player would see (UTF-8),
// or with *error set when the file cannot be given to the loader at all.
bool LoadSetupAsTheUpdater(const SetupFile& file, std::string* caption, std::string* message, std::string* error);
// False with a one-line reason when an entry cannot be read at all.
// instMode is a digit, or -1 for every mode.
bool ExamineArchive(const ArchiveView& view, const SetupFile* setup, int instMode, std::vector<Finding>* findings,
                    std::string* error);

}  // namespace wz2
