// The archive, read as the updater reads it: a .WZ2 file or the resource of
// an updater executable, mapped in place, with every entry's name, data
// offset and storage as the updater computes them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/expand.h"
#include "pack/names.h"
#include "tools/wz2/mapped_file.h"

namespace wz2 {

struct EntryView {
  ArchiveEntry record;
  std::string name;      // code page 932 bytes, up to the NUL
  std::string display;   // ShownName(name), for messages and listings
  uint64_t dataOffset;   // computed as the updater computes it
  bool compressed;
};

struct ArchiveView {
  MappedFile file;                // the file, mapped read-only
  const uint8_t* data = nullptr;  // the archive bytes, in the mapping (an executable's resource in place)
  size_t size = 0;
  uint64_t base = 0;              // where data stands in the file: 0, or the resource's offset
  bool fromExecutable = false;
  // An executable's check record "UPDATE"/103 and what it says of the
  // archive (always None for a .WZ2).
  enum class Check { None, Matches, Damaged } check = Check::None;
  uint32_t crc = 0;  // the archive's CRC-32, when the executable carries a record
  ArchiveHeader header{};
  std::vector<EntryView> entries;
  names::EntryNameIndex index;  // the first entry of each name
};

// The CRC-32 of the archive check record, continued from crc (0 at first).
uint32_t Crc32Continue(uint32_t crc, const uint8_t* data, size_t size);
// What list and check say of an executable whose record does not match.
std::string DamagedExecutableText(const std::string& where);

// Reads ARCHIVE or EXE (by its MZ signature); refuses anything the updater
// would not open, with a one-line reason. An executable's check record is
// verified and the verdict kept in view->check.
bool LoadArchive(const std::filesystem::path& path, ArchiveView* view, std::string* error);
// The index of the first entry whose name is the same entry name as
// cp932Name (SameEntryName, as the updater looks names up), or -1.
int FindEntry(const ArchiveView& view, const std::string& cp932Name);
// The entry's data as it lies in the archive (a stored entry's fileSize
// bytes, a compressed one's block), living as long as the view. False when
// it lies outside the archive or, compressed, claims more bytes than its
// block can hold.
bool EntryData(const ArchiveView& view, const EntryView& entry, const uint8_t** data, std::string* error);
// The entry's bytes without holding them: handed to take (when not null) a
// stretch at a time, a compressed entry through a window of at most 1 MiB,
// a stored one in place. Checks as EntryData does, and that the block
// expands to the entry's size; the stretches are the entry only when it
// returns true.
bool EntryThrough(const ArchiveView& view, const EntryView& entry, ExpandTake take, void* context, std::string* error);

}  // namespace wz2
