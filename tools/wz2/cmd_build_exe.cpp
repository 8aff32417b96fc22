// wz2 build-exe --template updater.exe --archive UPDATE.WZ2 -o UPDATE.EXE:
// the template with the archive as its resource "UPDATE"/102 (Japanese,
// 1041), as if the updater had been linked with it.
#include "pack/pe_resource.h"
#include "tools/wz2/branding.h"
#include "tools/wz2/options.h"
#include "tools/wz2/templates.h"
#include "tools/wz2/tool.h"

namespace wz2 {

#define ARCHIVE_RESOURCE_LANGUAGE 1041

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

  // The archive must be one the updater can open; a damaged one would only
  // show up on the player's machine.
  ArchiveView view;
  if (!LoadArchive(PathFromUtf8(archive), &view, &error)) return Fail(error);
  if (view.fromExecutable) return Fail(archive + ": is an executable; give the archive itself");
  for (const EntryView& e : view.entries) {
    const uint8_t* bytes = nullptr;
    std::vector<uint8_t> expanded;
    if (!EntryBytes(view, e, &bytes, &expanded, &error)) return Fail(archive + ": " + error);
  }
  std::vector<uint8_t> image, built;
  if (!ReadFile(PathFromUtf8(templ), &image, &error)) return Fail(error);
  pe::Resource resource;
  resource.type = pe::KeyString(ARCHIVE_RESOURCE_TYPE);
  resource.name = pe::KeyId(ARCHIVE_RESOURCE_ID);
  resource.language = ARCHIVE_RESOURCE_LANGUAGE;
  resource.data.assign(view.data, view.data + view.size);
  if (!pe::ReplaceResource(image, resource, &built, &error) || !ApplyBranding(branding, &built, &error))
    return Fail(templ + ": " + error);

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
