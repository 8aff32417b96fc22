#include "tools/wz2/branding.h"

#include <algorithm>
#include <fstream>

#include "pack/version_info.h"
#include "tools/wz2/files.h"
#include "tools/wz2/options.h"

namespace wz2 {
namespace {

// Reads at most limit bytes and one more: a larger file is refused without
// being read further, however it grows while it is read.
bool ReadSmallFile(const fs::path& path, size_t limit, std::vector<uint8_t>* out, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *error = PathToUtf8(path) + ": " + (ec ? ec.message() : std::string("not a file"));
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  char buffer[1 << 16];
  while (in && out->size() <= limit) {
    in.read(buffer, sizeof(buffer));
    out->insert(out->end(), buffer, buffer + in.gcount());
  }
  if (in.bad() || (!in.eof() && out->size() <= limit)) {
    *error = PathToUtf8(path) + ": read error";
    return false;
  }
  if (out->size() > limit) {
    *error = PathToUtf8(path) + ": not a usable icon: larger than 16 MiB";
    return false;
  }
  return true;
}

}  // namespace

bool LoadBranding(const ParsedArgs& args, Branding* out, std::string* error) {
  *out = Branding();
  if (args.Has("--icon")) {
    fs::path path = PathFromUtf8(args.Value("--icon"));
    std::vector<uint8_t> file;
    if (!ReadSmallFile(path, MAX_ICO_FILE_BYTES, &file, error)) return false;
    if (!icon::ParseIco(file, &out->icons, error)) {
      *error = PathToUtf8(path) + ": " + *error;
      return false;
    }
  }
  std::vector<std::string> pairs = args.Values("--version-info");
  if (pairs.empty()) return true;
  version_info::Strings strings;
  for (const std::string& pair : pairs) {
    size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "--version-info " + pair + ": give KEY=VALUE";
      return false;
    }
    strings.push_back({pair.substr(0, eq), pair.substr(eq + 1)});
  }
  return version_info::Build(strings, &out->versionResource, error);
}

void BrandResources(const Branding& branding, std::vector<pe::Resource>* resources) {
  if (!branding.icons.empty()) icon::ReplaceIcons(resources, branding.icons, VERSION_LANGUAGE);
  if (branding.versionResource.empty()) return;
  // One version resource: the template's, in any language, gives way.
  resources->erase(std::remove_if(resources->begin(), resources->end(),
                                  [](const pe::Resource& r) { return !r.type.isString && r.type.id == RT_VERSION_ID; }),
                   resources->end());
  pe::Resource version;
  version.type = pe::KeyId(RT_VERSION_ID);
  version.name = pe::KeyId(1);
  version.language = VERSION_LANGUAGE;
  version.data = branding.versionResource;
  resources->push_back(std::move(version));
}

bool ApplyBranding(const Branding& branding, std::vector<uint8_t>* image, std::string* error) {
  if (branding.icons.empty() && branding.versionResource.empty()) return true;
  std::vector<pe::Resource> resources;
  if (!pe::ReadResources(*image, &resources, error)) return false;
  BrandResources(branding, &resources);
  std::vector<uint8_t> branded;
  if (!pe::WriteResources(*image, resources, &branded, error)) return false;
  *image = std::move(branded);
  return true;
}

}  // namespace wz2
