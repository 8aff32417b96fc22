// wz2 pack: makes UPDATE.WZ2. Every input is checked before a byte is
// written; the archive is then written to a temporary file entry by entry
// and renamed into place only when it is complete. The layout and the
// store-or-compress rule are those of WriteArchive (pack/archive_writer.h),
// which holds the whole archive in memory; streaming it here keeps one
// file in memory at a time and lets the tool show progress per entry. The
// tests prove both give the same bytes.
#include <algorithm>
#include <string.h>

#include "archive/expand.h"
#include "pack/archive_writer.h"
#include "pack/compress.h"
#include "pack/names.h"
#include "tools/wz2/tool.h"

namespace wz2 {
namespace {

// The largest value a 32-bit size or offset field can hold.
const uint64_t kField32 = 0xFFFFFFFFull;

struct Input {
  fs::path path;
  std::string display;  // UTF-8 file name
  std::string name;     // code page 932 entry name
  uint64_t size;
  FILETIME time;
};

struct PackOptions {
  std::string output;
  CompressLevel level = CompressLevel::Default;
  std::vector<std::string> store;
  bool compressDirectory = false;
  std::vector<std::string> paths;
};

int ParseOptions(const std::vector<std::string>& args, PackOptions* o) {
  bool options = true;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    bool takesValue = a == "-o" || a == "--level" || a == "--store";
    if (options && takesValue && i + 1 >= args.size()) return UsageError(a + " needs a value");
    if (options && a == "--") {
      options = false;
    } else if (options && a == "-o") {
      o->output = args[++i];
    } else if (options && a == "--level") {
      std::string v = args[++i];
      if (v == "fast") o->level = CompressLevel::Fast;
      else if (v == "default") o->level = CompressLevel::Default;
      else if (v == "max") o->level = CompressLevel::Max;
      else return UsageError("--level takes fast, default or max, not '" + v + "'");
    } else if (options && a == "--store") {
      o->store.push_back(args[++i]);
    } else if (options && a == "--compress-directory") {
      o->compressDirectory = true;
    } else if (options && a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option " + a);
    } else {
      o->paths.push_back(a);
    }
  }
  if (o->output.empty()) return UsageError("missing -o ARCHIVE");
  if (o->paths.empty()) return UsageError("no files to pack");
  return EXIT_DONE;
}

bool AddFile(const fs::path& path, std::vector<Input>* inputs, std::string* error) {
  Input in;
  in.path = path;
  in.display = PathToUtf8(path.filename());
  std::error_code ec;
  in.size = fs::file_size(path, ec);
  if (ec) {
    *error = PathToUtf8(path) + ": " + ec.message();
    return false;
  }
  if (!names::Utf8ToCp932(in.display, &in.name)) {
    *error = PathToUtf8(path) + ": name has no code page 932 form";
    return false;
  }
  std::string why;
  if (!SafeFileName(in.display, &why)) {
    *error = PathToUtf8(path) + ": name " + why;
    return false;
  }
  if (in.name.size() > ARCHIVE_NAME_FIELD - 1) {
    *error = in.display + ": name is " + std::to_string(in.name.size()) + " bytes in code page 932; at most 14 fit";
    return false;
  }
  if (in.size > kField32) {
    *error = PathToUtf8(path) + ": file is 4 GiB or larger";
    return false;
  }
  if (!GetModificationTime(path, &in.time, error)) return false;
  inputs->push_back(in);
  return true;
}

bool CollectInputs(const std::vector<std::string>& paths, std::vector<Input>* inputs, std::string* error) {
  for (const std::string& p : paths) {
    fs::path path = PathFromUtf8(p);
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (ec || !fs::exists(st)) {
      *error = p + ": no such file or directory";
      return false;
    }
    if (fs::is_directory(st)) {
      // A folder adds the files directly in it, sorted by name so that the
      // archive does not depend on the order the file system lists them.
      std::vector<fs::path> files;
      for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) files.push_back(it->path());
      if (ec) {
        *error = p + ": " + ec.message();
        return false;
      }
      std::sort(files.begin(), files.end(),
                [](const fs::path& a, const fs::path& b) { return PathToUtf8(a.filename()) < PathToUtf8(b.filename()); });
      for (const fs::path& f : files)
        if (!AddFile(f, inputs, error)) return false;
    } else if (fs::is_regular_file(st)) {
      if (!AddFile(path, inputs, error)) return false;
    } else {
      *error = p + ": not a regular file or directory";
      return false;
    }
  }
  // The updater finds the first entry of a name: a second entry of the same
  // name (by the updater's rule, which ignores more than ASCII case) could
  // never be reached.
  for (size_t i = 0; i < inputs->size(); i++)
    for (size_t j = 0; j < i; j++)
      if (SameEntryName((*inputs)[i].name.c_str(), (*inputs)[j].name.c_str())) {
        *error = "two entries named " + (*inputs)[j].display + " and " + (*inputs)[i].display +
                 " (the updater takes them for one name)";
        return false;
      }
  return true;
}

bool Stored(const PackOptions& o, const Input& in) {
  for (const std::string& pattern : o.store)
    if (GlobMatch(pattern, in.display)) return true;
  return false;
}

// Compresses and proves the block expands back to the same bytes: an
// archive that the updater would refuse must never be written.
bool CompressVerified(const std::vector<uint8_t>& data, CompressLevel level, std::vector<uint8_t>* block,
                      std::string* error) {
  block->clear();
  CompressBlock(data.data(), data.size(), *block, level);
  std::vector<uint8_t> back(data.size());
  if (ExpandBlock(back.data(), back.size(), block->data(), block->size()) != EXPAND_OK || back != data) {
    *error = "internal error: a compressed block does not expand to its input";
    return false;
  }
  return true;
}

}  // namespace

int CommandPack(const std::vector<std::string>& args) {
  PackOptions o;
  int status = ParseOptions(args, &o);
  if (status != EXIT_DONE) return status;
  std::vector<Input> inputs;
  std::string error;
  if (!CollectInputs(o.paths, &inputs, &error)) return Fail(error);

  // An earlier archive among the inputs would be packed into its successor.
  std::error_code same;
  for (const Input& in : inputs)
    if (fs::equivalent(in.path, PathFromUtf8(o.output), same))
      return Fail(PathToUtf8(in.path) + ": the output archive is among the inputs");

  // Entries that --store names take exactly their size: when they alone
  // pass the 32-bit offsets, refuse before reading gigabytes.
  uint64_t total = 0, storedAtLeast = ARCHIVE_HEADER_SIZE;
  for (const Input& in : inputs) {
    total += in.size;
    if (Stored(o, in)) storedAtLeast += PaddedSize((DWORD)in.size);
  }
  if (storedAtLeast > kField32) return Fail("the archive would pass 4 GiB (32-bit offsets)");
  PendingFile out;
  if (!out.Open(PathFromUtf8(o.output), &error)) return Fail(error);
  // The header is written last, once the directory offset is known.
  uint8_t header[ARCHIVE_HEADER_SIZE] = {0};
  if (!out.Write(header, sizeof(header), &error)) return Fail(error);

  Progress progress("packing", total);
  std::vector<ArchiveEntry> records;
  uint64_t offset = ARCHIVE_HEADER_SIZE;
  for (const Input& in : inputs) {
    progress.Begin(in.display);
    std::vector<uint8_t> data, block;
    if (!ReadFile(in.path, &data, &error)) return Fail(error);
    if (data.size() != in.size) return Fail(PathToUtf8(in.path) + ": file changed while packing");
    bool compressed = false;
    if (!Stored(o, in)) {
      if (!CompressVerified(data, o.level, &block, &error)) return Fail(error);
      compressed = block.size() < data.size();
    }
    const std::vector<uint8_t>& bytes = compressed ? block : data;
    uint64_t padded = PaddedSize((DWORD)bytes.size());
    if (offset + padded > kField32) return Fail("the archive would pass 4 GiB (32-bit offsets)");
    static const uint8_t zeros[ARCHIVE_DATA_ALIGN] = {0};
    if (!out.Write(bytes.data(), bytes.size(), &error) ||
        !out.Write(zeros, (size_t)(padded - bytes.size()), &error))
      return Fail(error);
    ArchiveEntry e;
    memset(&e, 0, sizeof(e));
    memcpy(e.name, in.name.data(), in.name.size());
    e.attributes = compressed ? ENTRY_COMPRESSED : ENTRY_STORED;
    e.fileTime = in.time;
    e.fileSize = (DWORD)data.size();
    e.storedSize = (DWORD)bytes.size();
    records.push_back(e);
    offset += padded;
    progress.Advance(data.size());
  }

  std::vector<uint8_t> directory(records.size() * ARCHIVE_ENTRY_SIZE);
  if (!records.empty()) memcpy(directory.data(), records.data(), directory.size());
  uint32_t flags = 0;
  if (o.compressDirectory) {
    std::vector<uint8_t> block;
    if (!CompressVerified(directory, o.level, &block, &error)) return Fail(error);
    directory = block;
    flags |= DIRECTORY_COMPRESSED;
  }
  if (offset + directory.size() > kField32) return Fail("the archive would pass 4 GiB (32-bit offsets)");
  if (!out.Write(directory.data(), directory.size(), &error)) return Fail(error);
  ArchiveHeader h;
  memcpy(h.magic, "WZ2\0", 4);
  h.flags = flags;
  h.directoryOffset = (DWORD)offset;
  h.entryCount = (DWORD)records.size();
  if (!out.WriteAt(0, &h, sizeof(h), &error)) return Fail(error);
  uint64_t archiveSize = out.Size();
  if (!out.Commit(nullptr, &error)) return Fail(error);
  progress.Finish();
  if (!Quiet)
    Result(o.output + ": " + std::to_string(records.size()) + " entries, " + std::to_string(total) + " bytes in, " +
           std::to_string(archiveSize) + " bytes written");
  return EXIT_DONE;
}

}  // namespace wz2
