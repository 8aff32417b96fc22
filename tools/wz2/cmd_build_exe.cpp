// wz2 build-exe --template updater.exe --archive UPDATE.WZ2 -o UPDATE.EXE:
// the template with the archive as its resource "UPDATE"/102 (Japanese,
// 1041), as if the updater had been linked with it.
#include <errno.h>
#include <string.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>

#include "archive/bytes.h"
#include "archive/payload_check.h"
#include "pack/pe_resource.h"
#include "tools/wz2/archive_view.h"
#include "tools/wz2/branding.h"
#include "tools/wz2/commands.h"
#include "tools/wz2/examine.h"
#include "tools/wz2/files.h"
#include "tools/wz2/mapped_file.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/options.h"
#include "tools/wz2/pending_file.h"
#include "tools/wz2/progress.h"
#include "tools/wz2/templates.h"

namespace wz2 {

#define ARCHIVE_RESOURCE_LANGUAGE 1041

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(PathFromUtf8(a), PathFromUtf8(b), ec);
}

// A file read from an offset a piece at a time: the archive is copied into
// the executable and compared with it read back through a bounded buffer,
// never held whole.
class PieceReader {
 public:
  ~PieceReader() {
    if (f_) fclose(f_);
  }
  bool Open(const fs::path& path, uint64_t offset) {
    uint64_t size = 0;
    std::string ignored;  // the caller words the failure
    f_ = OpenRegularFile(path, &size, &ignored);
#ifdef _WIN32
    return f_ && _fseeki64(f_, (long long)offset, SEEK_SET) == 0;
#else
    return f_ && fseeko(f_, (off_t)offset, SEEK_SET) == 0;
#endif
  }
#ifndef _WIN32
  // The file open as `descriptor`, read from its start.
  bool OpenDescriptor(int descriptor) {
    int fd = descriptor >= 0 ? dup(descriptor) : -1;
    if (fd >= 0 && !(f_ = fdopen(fd, "rb"))) close(fd);
    return f_ && fseeko(f_, 0, SEEK_SET) == 0;
  }
#endif
  // Exactly size bytes, or false (an error, or the file ends first).
  bool Read(uint8_t* buffer, size_t size) { return fread(buffer, 1, size, f_) == size; }
  bool AtEnd() { return fgetc(f_) == EOF && !ferror(f_); }

 private:
  FILE* f_ = nullptr;
};

const size_t kPiece = (size_t)1 << 20;

// Writes the image with the archive's bytes read from `in` into the span,
// and then the checksum, summed over every piece as it passed.
bool WriteSplit(const pe::SplitImage& image, PieceReader* in, const std::string& archive, PendingFile* out,
                Progress* progress, std::string* error) {
  pe::ImageSum sum(image.checksumOffset);
  const uint8_t* bytes = image.bytes.data();
  size_t tail = image.bytes.size() - image.spanOffset;
  sum.Add(bytes, image.spanOffset, 0);
  sum.Add(bytes + image.spanOffset, tail, image.spanOffset + (uint64_t)image.spanSize);
  if (!out->Write(bytes, image.spanOffset, error)) return false;
  progress->Advance(image.spanOffset);
  std::vector<uint8_t> piece(std::min(kPiece, image.spanSize));
  for (size_t done = 0; done < image.spanSize;) {
    size_t n = std::min(piece.size(), image.spanSize - done);
    if (!in->Read(piece.data(), n)) {
      *error = archive + ": read error, or the file shrank while it was read";
      return false;
    }
    sum.Add(piece.data(), n, image.spanOffset + (uint64_t)done);
    if (!out->Write(piece.data(), n, error)) return false;
    done += n;
    progress->Advance(n);
  }
  if (!out->Write(bytes + image.spanOffset, tail, error)) return false;
  progress->Advance(tail);
  uint32_t checksum = sum.Finish(image.FileSize());
  uint8_t field[4];
  Store32(field, checksum);
  return out->WriteAt(image.checksumOffset, field, sizeof(field), error);
}

// Whether the file `a` holds, from offset `at`, the same `size` bytes as the
// whole of file `b`, read a piece at a time; *crc is their CRC-32.
bool SameBytes(const fs::path& a, uint64_t at, const fs::path& b, size_t size, uint32_t* crc) {
  PieceReader ra, rb;
  if (!ra.Open(a, at) || !rb.Open(b, 0)) return false;
  std::vector<uint8_t> pa(std::min(kPiece, size)), pb(pa.size());
  *crc = 0;
  for (size_t done = 0; done < size;) {
    size_t n = std::min(pa.size(), size - done);
    if (!ra.Read(pa.data(), n) || !rb.Read(pb.data(), n) || memcmp(pa.data(), pb.data(), n) != 0) return false;
    *crc = Crc32Continue(*crc, pa.data(), n);
    done += n;
  }
  return rb.AtEnd();
}

// The check record "UPDATE"/103 of an archive with that CRC-32: what the
// updater verifies at start-up before it uses a byte of the archive.
pe::Resource CheckResource(size_t archiveSize, uint32_t crc) {
  pe::Resource check;
  check.type = pe::KeyString(ARCHIVE_RESOURCE_TYPE);
  check.name = pe::KeyId(ARCHIVE_CHECK_RESOURCE_ID);
  check.language = ARCHIVE_RESOURCE_LANGUAGE;
  check.data.resize(ARCHIVE_CHECK_SIZE);
  MakeArchiveCheck(check.data.data(), (DWORD)archiveSize, crc);
  return check;
}

// Whether the built executable at `path` carries the archive byte for byte
// and a check record that matches it, read back from the file: mapped, of
// which only the headers and the resource tree are touched, and its archive
// compared a piece at a time.
bool ReadsBack(const fs::path& path, const fs::path& archive, size_t archiveSize, const pe::Resource& check,
               const std::vector<uint8_t>& templ, std::string* error) {
  MappedFile built;
  size_t at = 0, carried = 0, checkAt = 0, checkSize = 0;
  if (!built.Open(path, error)) return false;
  pe::ImageView image(built.Data(), (size_t)built.Size());
  if (!pe::FindResourceSpan(image, check.type, pe::KeyId(ARCHIVE_RESOURCE_ID), &at, &carried, error) ||
      !pe::FindResourceSpan(image, check.type, check.name, &checkAt, &checkSize, error)) {
    *error = "the built executable does not read back: " + *error;
    return false;
  }
  // Every other data directory must find what it found in the template: a
  // rewrite that moved or overwrote the imports would build an executable
  // that cannot start.
  if (!pe::SameDataDirectories(templ, image, error)) {
    *error = "the built executable does not read back: " + *error;
    return false;
  }
  std::vector<uint8_t> record(image.begin() + checkAt, image.begin() + checkAt + checkSize);
  built.Close();
  uint32_t crc = 0;
  if (carried != archiveSize || record != check.data || !SameBytes(path, at, archive, carried, &crc) ||
      CompareArchiveCheck(record.data(), (DWORD)record.size(), (DWORD)carried, crc) != ARCHIVE_CHECK_MATCHES) {
    *error = "the built executable does not carry the archive unchanged";
    return false;
  }
  return true;
}

// The template build-exe starts from: --template, or the installed one of
// --arch. EXIT_DONE, or the status to return.
int ChooseTemplate(const ParsedArgs& args, std::string* templ) {
  *templ = args.Value("--template");
  if (args.Has("--template") && args.Has("--arch")) return UsageError("give --template or --arch, not both");
  if (!templ->empty()) return EXIT_DONE;
  std::string arch = args.Has("--arch") ? args.Value("--arch") : kDefaultArch, error;
  if (!KnownArch(arch)) return UsageError("unknown --arch '" + arch + "' (i686 or x86_64)");
  fs::path found;
  if (!FindTemplate(arch, &found, &error)) return Fail(error);
  *templ = PathToUtf8(found);
  return EXIT_DONE;
}

// The output replaces its file only at the end; were it an input, that
// input would be gone.
int CheckOutputAgainstInputs(const std::string& output, const std::string& archive, const std::string& templ) {
  if (SameFile(output, archive)) return Fail(output + ": the output is the archive given with --archive");
  if (SameFile(output, templ)) return Fail(output + ": the output is the template given with --template");
  return CheckOutputOption(output);
}

// The archive must be one the updater can open and use; a damaged one, or
// one check finds errors in, would only show up on the player's machine.
int LoadCheckedArchive(const std::string& archive, bool force, ArchiveView* view) {
  std::string error;
  if (!LoadArchive(PathFromUtf8(archive), view, &error)) return Fail(error);
  if (view->fromExecutable) return Fail(archive + ": is an executable; give the archive itself");
  std::vector<Finding> findings;
  if (!ExamineArchive(*view, nullptr, -1, &findings, &error)) return Fail(archive + ": " + error);
  if (force) return EXIT_DONE;
  size_t errors = 0;
  const Finding* first = nullptr;
  for (const Finding& f : findings)
    if (f.error && errors++ == 0) first = &f;
  if (first)
    return Fail(archive + ": check finds " + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") +
                " (first: " + first->key + ": " + first->text + "); --force builds anyway");
  return EXIT_DONE;
}

// The executable to write, laid out one of two ways: whole, in memory, or
// split around the archive's span, whose bytes are copied from source as
// they are written.
struct BuiltImage {
  std::vector<uint8_t> whole;  // empty when split
  pe::SplitImage split;
  PieceReader source;
  uint64_t Size() const { return whole.empty() ? split.FileSize() : whole.size(); }
};

// Branding has always been a second rewrite of the image the archive went
// into. One rewrite with both makes the same bytes except where the first
// could leave traces the second keeps: an archive small enough to go into
// the template's own resource section (which stays behind when the second
// needs a new one), or a checksum field at an odd offset (whose first
// byte enters the second sum). Those are built as before, in memory; an
// archive that small costs no more than the template.
bool BuildsInMemory(const Branding& branding, const std::vector<uint8_t>& image, size_t archiveSize) {
  pe::Layout layout;
  bool oddChecksumField =
      pe::ParseLayout(image, &layout, nullptr) && (layout.optionalOffset + PE_CHECKSUM_FIELD) % 2 != 0;
  bool branded = !branding.icons.empty() || !branding.versionResource.empty();
  return branded && (archiveSize <= image.size() || oddChecksumField);
}

// The two rewrites of old, the archive's bytes held in memory.
bool LayOutInMemory(const std::vector<uint8_t>& image, pe::Resource resource, const pe::Resource& check,
                    const Branding& branding, ArchiveView* view, BuiltImage* out, std::string* error) {
  resource.data.assign(view->data, view->data + view->size);
  view->file.Close();
  view->data = nullptr;
  std::vector<uint8_t> carrying;
  return pe::ReplaceResource(image, std::move(resource), &carrying, error) &&
         pe::ReplaceResource(carrying, check, &out->whole, error) && ApplyBranding(branding, &out->whole, error);
}

// Only the archive's size is needed to lay the image out; its bytes are
// copied as they are written, from the file that was examined rather than
// whatever its path names by then: through the mapping's own descriptor, or
// on Windows opened while the mapping still bars renaming the file. The
// mapping is let go: its pages would otherwise count towards the tool's
// memory. EXIT_DONE, or the status to return.
int LayOutSplit(const std::vector<uint8_t>& image, pe::Resource resource, const pe::Resource& check,
                const Branding& branding, const std::string& archive, const std::string& templ, ArchiveView* view,
                BuiltImage* out) {
  size_t archiveSize = view->size;
#ifdef _WIN32
  bool opened = out->source.Open(PathFromUtf8(archive), 0);
#else
  bool opened = out->source.OpenDescriptor(view->file.Descriptor());
#endif
  if (!opened) return Fail(archive + ": cannot read it again: " + SystemError(errno));
  view->file.Close();
  view->data = nullptr;
  std::vector<pe::Resource> resources;
  std::string error;
  if (!pe::ReadResources(image, &resources, &error)) return Fail(templ + ": " + error);
  resources.erase(std::remove_if(resources.begin(), resources.end(),
                                 [&](const pe::Resource& r) {
                                   return pe::SameKey(r.type, resource.type) &&
                                          (pe::SameKey(r.name, resource.name) || pe::SameKey(r.name, check.name));
                                 }),
                  resources.end());
  BrandResources(branding, &resources);
  resources.push_back(check);
  resources.push_back(std::move(resource));
  if (!pe::WriteResourcesSplit(image, resources, resources.size() - 1, archiveSize, &out->split, &error))
    return Fail(templ + ": " + error);
  return EXIT_DONE;
}

// Writes the built image into a pending file and checks it: what the
// player's updater will find, the executable as written must carry the
// archive byte for byte, or nothing is written at all.
int WriteAndReadBack(BuiltImage* built, const std::string& output, const std::string& archive,
                     const std::string& templ, size_t archiveSize, const pe::Resource& check,
                     const std::vector<uint8_t>& image) {
  std::string error;
  PendingFile out;
  uint64_t total = built->Size();
  Progress progress("writing", total);
  if (!out.Open(PathFromUtf8(output), &error)) return Fail(error);
  if (built->whole.empty() ? !WriteSplit(built->split, &built->source, archive, &out, &progress, &error)
                           : !out.Write(built->whole.data(), built->whole.size(), &error))
    return Fail(error);
  progress.Advance(built->whole.size());
  if (!out.Close(&error)) return Fail(error);
  std::vector<uint8_t>().swap(built->whole);
  if (!ReadsBack(out.TempPath(), PathFromUtf8(archive), archiveSize, check, image, &error)) return Fail(templ + ": " + error);
  if (!out.Commit(nullptr, &error)) return Fail(error);
  progress.Finish();
  if (!Quiet) Result(output + ": " + std::to_string(total) + " bytes, archive " + std::to_string(archiveSize) + " bytes");
  return EXIT_DONE;
}

}  // namespace

int CommandBuildExe(const ParsedArgs& args) {
  std::string templ, archive = args.Value("--archive"), output = args.Value("-o"), error;
  int status = ChooseTemplate(args, &templ);
  if (status != EXIT_DONE) return status;
  Branding branding;
  if (!LoadBranding(args, &branding, &error)) return Fail(error);
  status = CheckOutputAgainstInputs(output, archive, templ);
  if (status != EXIT_DONE) return status;
  ArchiveView view;
  status = LoadCheckedArchive(archive, args.Has("--force"), &view);
  if (status != EXIT_DONE) return status;

  // Taken from the bytes just examined; the read-back proves that the bytes
  // the executable carries are the ones it records.
  pe::Resource check = CheckResource(view.size, Crc32Continue(0, view.data, view.size));
  std::vector<uint8_t> image;
  if (!ReadFile(PathFromUtf8(templ), &image, &error)) return Fail(error);
  pe::Resource resource;
  resource.type = pe::KeyString(ARCHIVE_RESOURCE_TYPE);
  resource.name = pe::KeyId(ARCHIVE_RESOURCE_ID);
  resource.language = ARCHIVE_RESOURCE_LANGUAGE;
  size_t archiveSize = view.size;
  BuiltImage built;
  if (BuildsInMemory(branding, image, archiveSize)) {
    if (!LayOutInMemory(image, std::move(resource), check, branding, &view, &built, &error))
      return Fail(templ + ": " + error);
  } else {
    status = LayOutSplit(image, std::move(resource), check, branding, archive, templ, &view, &built);
    if (status != EXIT_DONE) return status;
  }
  return WriteAndReadBack(&built, output, archive, templ, archiveSize, check, image);
}

int CommandCheckValue(const ParsedArgs& args) {
  const std::string& archive = args.operands[0];
  std::string output = args.Value("-o"), error;
  if (SameFile(output, archive)) return Fail(output + ": the output is the archive");
  ArchiveView view;
  if (!LoadArchive(PathFromUtf8(archive), &view, &error)) return Fail(error);
  if (view.fromExecutable) return Fail(archive + ": is an executable; give the archive itself");
  pe::Resource check = CheckResource(view.size, Crc32Continue(0, view.data, view.size));
  PendingFile out;
  if (!out.Open(PathFromUtf8(output), &error) || !out.Write(check.data.data(), check.data.size(), &error) ||
      !out.Commit(nullptr, &error))
    return Fail(error);
  return EXIT_DONE;
}

}  // namespace wz2
