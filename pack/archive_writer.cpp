#include "pack/archive_writer.h"

#include <string.h>

namespace {

void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

// A name the updater can look up and write: non-empty, fits its field with
// the terminating NUL, no NUL inside, and no directory part.
bool CheckName(const std::string& name, std::string* error) {
  if (name.empty()) {
    *error = "an entry has an empty name";
    return false;
  }
  if (name.size() > ARCHIVE_NAME_FIELD - 1) {
    *error = "entry name longer than 14 bytes: " + name;
    return false;
  }
  for (char c : name) {
    if (c == '\0' || c == '\\' || c == '/' || c == ':') {
      *error = "entry name is not a bare file name: " + name;
      return false;
    }
  }
  return true;
}

}  // namespace

bool WriteArchive(const std::vector<ArchiveInput>& entries, const ArchiveLayoutOptions& options,
                  std::vector<uint8_t>& out, std::string* error) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!CheckName(entries[i].name, error)) return false;
    for (size_t j = 0; j < i; ++j) {
      if (SameEntryName(entries[i].name.c_str(), entries[j].name.c_str())) {
        *error = "two entries named " + entries[j].name + " and " + entries[i].name;
        return false;
      }
    }
    if (entries[i].data.size() > 0xFFFFFFFFu) {
      *error = "entry of 4 GiB or more: " + entries[i].name;
      return false;
    }
  }
  if (entries.size() > (0xFFFFFFFFu - ARCHIVE_HEADER_SIZE) / ARCHIVE_ENTRY_SIZE) {
    *error = "too many entries";
    return false;
  }

  std::vector<uint8_t> image(ARCHIVE_HEADER_SIZE, 0);
  std::vector<uint8_t> records(entries.size() * ARCHIVE_ENTRY_SIZE, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    const ArchiveInput& e = entries[i];
    std::vector<uint8_t> block;
    bool compress = e.storage != EntryStorage::Stored;
    if (compress) {
      CompressBlock(e.data.data(), e.data.size(), block, options.level);
      if (e.storage == EntryStorage::Smaller && block.size() >= e.data.size()) compress = false;
    }
    const std::vector<uint8_t>& stored = compress ? block : e.data;
    if (stored.size() > 0xFFFFFFFFu || image.size() + PaddedSize((DWORD)stored.size()) > 0xFFFFFFFFu) {
      *error = "archive would pass 32-bit offsets at " + e.name;
      return false;
    }
    image.insert(image.end(), stored.begin(), stored.end());
    image.resize(image.size() + (size_t)(PaddedSize((DWORD)stored.size()) - stored.size()), 0);

    uint8_t* r = &records[i * ARCHIVE_ENTRY_SIZE];
    memcpy(r, e.name.data(), e.name.size());  // the rest of the field stays zero
    r[offsetof(ArchiveEntry, attributes)] = (uint8_t)(compress ? ENTRY_COMPRESSED : ENTRY_STORED);
    Put32(r + offsetof(ArchiveEntry, fileTime), (uint32_t)e.fileTime);
    Put32(r + offsetof(ArchiveEntry, fileTime) + 4, (uint32_t)(e.fileTime >> 32));
    Put32(r + offsetof(ArchiveEntry, fileSize), (uint32_t)e.data.size());
    Put32(r + offsetof(ArchiveEntry, storedSize), (uint32_t)stored.size());
  }

  uint32_t directoryOffset = (uint32_t)image.size();
  std::vector<uint8_t> directory;
  if (options.compressDirectory) {
    CompressBlock(records.data(), records.size(), directory, options.level);
  } else {
    directory.swap(records);
  }
  if (image.size() + directory.size() > 0xFFFFFFFFu) {
    *error = "archive would pass 32-bit offsets at its directory";
    return false;
  }
  image.insert(image.end(), directory.begin(), directory.end());

  memcpy(&image[0], "WZ2", 4);
  Put32(&image[offsetof(ArchiveHeader, flags)], options.compressDirectory ? DIRECTORY_COMPRESSED : 0u);
  Put32(&image[offsetof(ArchiveHeader, directoryOffset)], directoryOffset);
  Put32(&image[offsetof(ArchiveHeader, entryCount)], (uint32_t)entries.size());
  out.insert(out.end(), image.begin(), image.end());
  return true;
}
