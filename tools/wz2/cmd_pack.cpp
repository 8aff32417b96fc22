// wz2 pack: makes UPDATE.WZ2. Every input is checked before a byte is
// written; the archive is then written to a temporary file entry by entry
// through the archive writer (pack/archive_writer.h), which keeps one file
// in memory at a time and lets the tool show progress per entry, and is
// renamed into place only when it is complete.
#include <algorithm>
#include <string.h>
#include <thread>

#include "pack/archive_writer.h"
#include "pack/compress.h"
#include "pack/names.h"
#include "tools/wz2/commands.h"
#include "tools/wz2/file_time.h"
#include "tools/wz2/files.h"
#include "tools/wz2/manifest_text.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/name_rules.h"
#include "tools/wz2/options.h"
#include "tools/wz2/pending_file.h"
#include "tools/wz2/progress.h"

namespace wz2 {
namespace {

// The largest value a 32-bit size or offset field can hold.
const uint64_t kField32 = 0xFFFFFFFFull;
// More compressor threads than this would only hold more token lists.
const unsigned kMaxThreads = 64;

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
  bool manifestUtf8 = false;
  unsigned threads = 1;
  std::vector<std::string> paths;
};

int ParseOptions(const ParsedArgs& args, PackOptions* o) {
  o->output = args.Value("-o");
  if (args.Has("--level")) {
    std::string v = args.Value("--level");
    if (v == "fast") o->level = CompressLevel::Fast;
    else if (v == "default") o->level = CompressLevel::Default;
    else if (v == "max") o->level = CompressLevel::Max;
    else return UsageError("--level takes fast, default or max, not '" + v + "'");
  }
  // Threads change only the time taken: the compressor's cuts are fixed.
  unsigned cores = std::thread::hardware_concurrency();
  o->threads = std::min(std::max(cores, 1u), kMaxThreads);
  if (args.Has("-j")) {
    std::string v = args.Value("-j");
    unsigned n = 0;
    for (char c : v) n = (c < '0' || c > '9' || n > kMaxThreads) ? kMaxThreads + 1 : n * 10 + (unsigned)(c - '0');
    if (n < 1 || n > kMaxThreads) return UsageError("-j takes a number of threads from 1 to 64, not '" + v + "'");
    o->threads = n;
  }
  o->store = args.Values("--store");
  o->compressDirectory = args.Has("--compress-directory");
  o->manifestUtf8 = args.Has("--manifest-utf8");
  o->paths = args.operands;
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
    if (!fs::exists(st)) {
      *error = p + ": no such file or directory";
      return false;
    }
    if (ec) {  // a link loop, a folder on the way that cannot be searched
      *error = p + ": " + ec.message();
      return false;
    }
    if (fs::is_directory(st)) {
      // A folder adds the files directly in it, sorted by name so that the
      // archive does not depend on the order the file system lists them.
      std::vector<fs::path> files;
      // An entry whose kind cannot be learnt (a link in a loop, a link into
      // a folder that cannot be searched) stops the run with its path; a
      // link to nothing is no file, as before.
      for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        bool regular = it->is_regular_file(kind);
        if (kind && kind != std::errc::no_such_file_or_directory && kind != std::errc::not_a_directory) {
          *error = PathToUtf8(it->path()) + ": " + kind.message();
          return false;
        }
        if (regular) files.push_back(it->path());
      }
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
  names::EntryNameIndex index;
  for (size_t i = 0; i < inputs->size(); i++) {
    long j = index.Insert((*inputs)[i].name, i);
    if (j >= 0) {
      *error = "two entries named " + (*inputs)[(size_t)j].display + " and " + (*inputs)[i].display +
               " (the updater takes them for one name)";
      return false;
    }
  }
  return true;
}

bool Stored(const PackOptions& o, const Input& in) {
  for (const std::string& pattern : o.store)
    if (GlobMatch(pattern, in.display)) return true;
  return false;
}

// The archive writer's output: the pending file, its header rewritten in
// place at the end.
class PendingSink : public ArchiveSink {
 public:
  explicit PendingSink(PendingFile& file) : file_(file) {}
  bool Append(const uint8_t* data, size_t size, std::string* error) override { return file_.Write(data, size, error); }
  bool WriteHeader(const uint8_t header[ARCHIVE_HEADER_SIZE], std::string* error) override {
    return file_.WriteAt(0, header, ARCHIVE_HEADER_SIZE, error);
  }
  bool Truncate(uint64_t size, std::string* error) override { return file_.Truncate(size, error); }

 private:
  PendingFile& file_;
};

}  // namespace

int CommandPack(const ParsedArgs& args) {
  PackOptions o;
  int status = ParseOptions(args, &o);
  if (status != EXIT_DONE) return status;
  status = CheckOutputOption(o.output);
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
  PendingSink sink(out);
  ArchiveLayoutOptions layout;
  layout.level = o.level;
  layout.compressDirectory = o.compressDirectory;
  layout.threads = o.threads;
  ArchiveWriter writer(sink, layout);
  if (!writer.Begin(&error)) return Fail(error);

  Progress progress("packing", total);
  for (const Input& in : inputs) {
    progress.Begin(in.display);
    std::vector<uint8_t> data;
    if (!ReadFile(in.path, &data, &error)) return Fail(error);
    if (data.size() != in.size) return Fail(PathToUtf8(in.path) + ": file changed while packing");
    // The manifest as the updater reads it: written in UTF-8 (said by the
    // option or by a byte order mark), it is stored in code page 932 with
    // CR LF; otherwise its bytes go in as they are.
    if (SameEntryName(in.name.c_str(), "UPDATE.INI") && (o.manifestUtf8 || HasUtf8Bom(data))) {
      std::vector<uint8_t> converted;
      if (!ManifestToCp932(data, &converted, &error)) return Fail(PathToUtf8(in.path) + ": " + error);
      data.swap(converted);
    }
    EntryStorage storage = Stored(o, in) ? EntryStorage::Stored : EntryStorage::Smaller;
    if (!writer.Add(in.name, data.data(), data.size(), FileTimeValue(in.time), storage, &error)) return Fail(error);
    progress.Advance(in.size);
  }
  if (!writer.Finish(&error)) return Fail(error);
  uint64_t archiveSize = out.Size();
  if (!out.Commit(nullptr, &error)) return Fail(error);
  progress.Finish();
  if (!Quiet)
    Result(o.output + ": " + std::to_string(writer.EntryCount()) + " entries, " + std::to_string(total) + " bytes in, " +
           std::to_string(archiveSize) + " bytes written");
  return EXIT_DONE;
}

}  // namespace wz2
