// wz2 build-exe --template updater.exe --archive UPDATE.WZ2 -o UPDATE.EXE:
// the template with the archive as its resource "UPDATE"/102 (Japanese,
// 1041), as if the updater had been linked with it.
#include <string.h>

#include "pack/pe_resource.h"
#include "tools/wz2/branding.h"
#include "tools/wz2/options.h"
#include "tools/wz2/templates.h"
#include "tools/wz2/tool.h"

namespace wz2 {

#define ARCHIVE_RESOURCE_LANGUAGE 1041

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(PathFromUtf8(a), PathFromUtf8(b), ec);
}

// Whether the file holds exactly size bytes equal to bytes, read a piece at
// a time.
bool SameAsFile(const fs::path& path, const uint8_t* bytes, size_t size) {
  FILE* f = nullptr;
#ifdef _WIN32
  f = _wfopen(path.c_str(), L"rb");
#else
  f = fopen(path.c_str(), "rb");
#endif
  if (!f) return false;
  uint8_t buffer[1 << 16];
  size_t done = 0, n;
  bool same = true;
  while (same && (n = fread(buffer, 1, sizeof(buffer), f)) > 0) {
    same = n <= size - done && memcmp(buffer, bytes + done, n) == 0;
    done += n;
  }
  same = same && !ferror(f) && done == size;
  fclose(f);
  return same;
}

}  // namespace

int CommandBuildExe(const ParsedArgs& args) {
  std::string templ = args.Value("--template"), archive = args.Value("--archive"), output = args.Value("-o");
  std::string error;
  if (args.Has("--template") && args.Has("--arch")) return UsageError("give --template or --arch, not both");
  if (templ.empty()) {
    std::string arch = args.Has("--arch") ? args.Value("--arch") : kDefaultArch;
    if (!KnownArch(arch)) return UsageError("unknown --arch '" + arch + "' (i686 or x86_64)");
    fs::path found;
    if (!FindTemplate(arch, &found, &error)) return Fail(error);
    templ = PathToUtf8(found);
  }
  Branding branding;
  if (!LoadBranding(args, &branding, &error)) return Fail(error);
  // The output replaces its file only at the end; were it an input, that
  // input would be gone.
  if (SameFile(output, archive)) return Fail(output + ": the output is the archive given with --archive");
  if (SameFile(output, templ)) return Fail(output + ": the output is the template given with --template");

  // The archive must be one the updater can open and use; a damaged one, or
  // one check finds errors in, would only show up on the player's machine.
  ArchiveView view;
  if (!LoadArchive(PathFromUtf8(archive), &view, &error)) return Fail(error);
  if (view.fromExecutable) return Fail(archive + ": is an executable; give the archive itself");
  std::vector<Finding> findings;
  if (!ExamineArchive(view, nullptr, -1, &findings, &error)) return Fail(archive + ": " + error);
  if (!args.Has("--force")) {
    size_t errors = 0;
    const Finding* first = nullptr;
    for (const Finding& f : findings)
      if (f.error && errors++ == 0) first = &f;
    if (first)
      return Fail(archive + ": check finds " + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") +
                  " (first: " + first->key + ": " + first->text + "); --force builds anyway");
  }

  std::vector<uint8_t> image, built;
  if (!ReadFile(PathFromUtf8(templ), &image, &error)) return Fail(error);
  {
    pe::Resource resource;
    resource.type = pe::KeyString(ARCHIVE_RESOURCE_TYPE);
    resource.name = pe::KeyId(ARCHIVE_RESOURCE_ID);
    resource.language = ARCHIVE_RESOURCE_LANGUAGE;
    resource.data.assign(view.data, view.data + view.size);
    // The mapping is let go once the archive is copied: its pages would
    // otherwise stay in memory beside the copy and the new image.
    view.file.Close();
    view.data = nullptr;
    if (!pe::ReplaceResource(image, std::move(resource), &built, &error) || !ApplyBranding(branding, &built, &error))
      return Fail(templ + ": " + error);
  }
  std::vector<uint8_t>().swap(image);

  // What the player's updater will find: the executable as written must
  // carry the archive byte for byte, or nothing is written at all.
  size_t at = 0, carried = 0;
  if (!pe::FindResourceSpan(built, pe::KeyString(ARCHIVE_RESOURCE_TYPE), pe::KeyId(ARCHIVE_RESOURCE_ID), &at, &carried,
                            &error))
    return Fail(templ + ": the built executable does not read back: " + error);
  if (carried != view.size || !SameAsFile(PathFromUtf8(archive), &built[at], carried))
    return Fail(templ + ": the built executable does not carry the archive unchanged");

  PendingFile out;
  Progress progress("writing", built.size());
  if (!out.Open(PathFromUtf8(output), &error) || !out.Write(built.data(), built.size(), &error)) return Fail(error);
  progress.Advance(built.size());
  if (!out.Commit(nullptr, &error)) return Fail(error);
  progress.Finish();
  if (!Quiet) Result(output + ": " + std::to_string(built.size()) + " bytes, archive " + std::to_string(view.size) + " bytes");
  return EXIT_DONE;
}

}  // namespace wz2
