// The archive as the updater sees it: the updater's own OpenArchive (memory
// mode, the way start-up opens the resource) and ExpandBlock, so that the
// tool accepts exactly what the updater can read and shows what it would do.
#include <string.h>

#include <algorithm>

#include "archive/block_format.h"
#include "archive/expand.h"
#include "archive/payload_check.h"
#include "pack/archive_writer.h"
#include "pack/names.h"
#include "pack/pe_resource.h"
#include "tools/wz2/archive_view.h"
#include "tools/wz2/display.h"
#include "tools/wz2/files.h"

namespace wz2 {

// Takes the size as 64 bits so that the test also compiles (and means
// something) where size_t has 32.
static bool PastThirtyTwoBits(uint64_t size) { return size > 0xFFFFFFFFull; }

uint32_t Crc32Continue(uint32_t crc, const uint8_t* data, size_t size) {
  static const Crc32Tables tables = [] {
    Crc32Tables t;
    BuildCrc32Tables(&t);
    return t;
  }();
  return Crc32Update(&tables, crc, data, size);
}

std::string DamagedExecutableText(const std::string& where) {
  return where + ": damaged: the archive does not match the CRC-32 its executable records (the updater refuses to "
                 "start; get a new copy)";
}

// The record "UPDATE"/103 beside the archive, compared as the updater
// compares it at start-up.
static bool ReadArchiveCheck(const pe::ImageView& exe, ArchiveView* view, std::string* error) {
  bool present = false;
  size_t at = 0, length = 0;
  if (!pe::FindOptionalResourceSpan(exe, pe::KeyString(ARCHIVE_RESOURCE_TYPE), pe::KeyId(ARCHIVE_CHECK_RESOURCE_ID),
                                    &present, &at, &length, error))
    return false;
  if (!present) return true;
  view->crc = Crc32Continue(0, view->data, view->size);
  bool matches = length <= 0xFFFFFFFFu &&
                 CompareArchiveCheck(exe.data + at, (DWORD)length, (DWORD)view->size, view->crc) == ARCHIVE_CHECK_MATCHES;
  view->check = matches ? ArchiveView::Check::Matches : ArchiveView::Check::Damaged;
  return true;
}

bool LoadArchive(const fs::path& path, ArchiveView* view, std::string* error) {
  *view = ArchiveView();
  if (!view->file.Open(path, error)) return false;
  std::string where = PathToUtf8(path);
  const uint8_t* file = view->file.Data();
  size_t fileSize = (size_t)view->file.Size();
  if (fileSize >= 2 && file[0] == 'M' && file[1] == 'Z') {
    // The archive is read where it stands in the mapped executable, as a
    // .WZ2 is: only the headers and the resource tree are touched to find
    // it, and a copy would hold the whole archive in memory once more.
    std::string why;
    size_t at = 0, length = 0;
    if (!pe::FindResourceSpan(pe::ImageView(file, fileSize), pe::KeyString(ARCHIVE_RESOURCE_TYPE),
                              pe::KeyId(ARCHIVE_RESOURCE_ID), &at, &length, &why)) {
      *error = where + ": " + why;
      return false;
    }
    view->fromExecutable = true;
    view->data = file + at;
    view->size = length;
    view->base = at;
    if (!ReadArchiveCheck(pe::ImageView(file, fileSize), view, &why)) {
      *error = where + ": " + why;
      return false;
    }
  } else {
    view->data = file;
    view->size = fileSize;
  }
  if (view->size < ARCHIVE_HEADER_SIZE || memcmp(view->data, ARCHIVE_MAGIC, sizeof(ARCHIVE_MAGIC)) != 0) {
    *error = where + ": not a WZ2 archive";
    return false;
  }
  if (PastThirtyTwoBits(view->size)) {
    *error = where + ": archive is 4 GiB or larger";
    return false;
  }
  // The cap is OpenArchive's own rule; it is named here so that the one
  // line says why such an archive is refused.
  static_assert(ARCHIVE_MAX_ENTRIES == 65536u, "the message gives the cap");
  ArchiveHeader claimed;
  memcpy(&claimed, view->data, ARCHIVE_HEADER_SIZE);
  if (claimed.entryCount > ARCHIVE_MAX_ENTRIES) {
    *error = where + ": the directory claims " + std::to_string(claimed.entryCount) +
             " entries; an archive holds at most 65,536";
    return false;
  }
  BYTE* directory = OpenArchive(view->data, (DWORD)view->size);
  if (!directory) {
    *error = where + ": damaged archive (truncated, or its directory is corrupt)";
    return false;
  }
  memcpy(&view->header, directory, ARCHIVE_HEADER_SIZE);
  const ArchiveEntry* records = DirectoryEntries(directory);
  uint64_t offset = ARCHIVE_HEADER_SIZE;
  view->entries.reserve(view->header.entryCount);  // at most ARCHIVE_MAX_ENTRIES, as OpenArchive bounds it
  for (DWORD i = 0; i < view->header.entryCount; i++) {
    EntryView e;
    e.record = records[i];
    // A name that fills its field without a NUL ends at the field's end, as
    // the updater reads it.
    e.name.assign(e.record.name, strnlen(e.record.name, ARCHIVE_NAME_FIELD));
    e.display = ShownName(e.name);
    e.dataOffset = offset;
    e.compressed = (e.record.attributes & ENTRY_COMPRESSED) != 0;
    offset += PaddedSize(e.record.storedSize);
    view->index.Insert(e.name, view->entries.size());
    view->entries.push_back(std::move(e));
  }
  GlobalFree(directory);
  return true;
}

// The updater's own lookup order and name rule: the first entry whose name
// is the same entry name.
int FindEntry(const ArchiveView& view, const std::string& cp932Name) { return (int)view.index.Find(cp932Name); }

// The same extent checks the updater makes before it reads: a stored entry
// is fileSize bytes in place, a compressed one storedSize bytes of block,
// which cannot expand past BLOCK_MAX_EXPANSION times its length (a larger
// size claim is refused before anything is allocated for it).
bool EntryData(const ArchiveView& view, const EntryView& entry, const uint8_t** data, std::string* error) {
  uint64_t extent = entry.compressed ? entry.record.storedSize : entry.record.fileSize;
  if (entry.dataOffset > view.size || extent > view.size - entry.dataOffset) {
    *error = entry.display + ": data lies outside the archive (truncated or corrupt)";
    return false;
  }
  if (entry.compressed && (uint64_t)entry.record.fileSize > (uint64_t)entry.record.storedSize * BLOCK_MAX_EXPANSION) {
    *error = entry.display + ": claims more bytes than its compressed block can hold";
    return false;
  }
  *data = view.data + entry.dataOffset;
  return true;
}

namespace {

bool Expanded(const EntryView& entry, ExpandResult r, std::string* error) {
  if (r == EXPAND_OK) return true;
  const char* why = r == EXPAND_SHORT_OUTPUT ? "expands to fewer bytes than its size"
                    : r == EXPAND_NO_ROOM    ? "expands to more bytes than its size"
                                             : "has a corrupt compressed block";
  *error = entry.display + ": " + why;
  return false;
}

// Windows of at most this much: a compressed entry of any size is then read
// with this much memory beside the archive.
const size_t kWindowBytes = (size_t)1 << 20;

}  // namespace

bool EntryThrough(const ArchiveView& view, const EntryView& entry, ExpandTake take, void* context, std::string* error) {
  const uint8_t* data = nullptr;
  if (!EntryData(view, entry, &data, error)) return false;
  if (!entry.compressed) {
    if (take && entry.record.fileSize != 0) take(context, data, entry.record.fileSize);
    return true;
  }
  size_t size = std::min<size_t>(std::max<size_t>(entry.record.fileSize, EXPAND_WINDOW_MIN_BYTES), kWindowBytes);
  std::vector<uint8_t> window(size);
  return Expanded(entry, ExpandBlockThrough(entry.record.fileSize, data, entry.record.storedSize, window.data(),
                                            window.size(), take, context),
                  error);
}

}  // namespace wz2
