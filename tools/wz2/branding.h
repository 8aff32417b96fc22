// The game's own face on a built updater: its icon (--icon) and version
// information (--version-info), added to the executable's resources after
// the archive.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/icon.h"
#include "pack/pe_resource.h"

namespace wz2 {

class ParsedArgs;

struct Branding {
  std::vector<icon::Image> icons;        // none: the template's icons stay
  std::vector<uint8_t> versionResource;  // empty: the template's stays
};

// Reads --icon and --version-info; false with a one-line reason for an
// unreadable or malformed icon, a pair without '=', or bad version strings.
bool LoadBranding(const ParsedArgs& args, Branding* out, std::string* error);
// Puts the branding into the executable image (nothing when there is none).
bool ApplyBranding(const Branding& branding, std::vector<uint8_t>* image, std::string* error);
// The same on resources about to be written: what ApplyBranding does to the
// resources it reads from the image.
void BrandResources(const Branding& branding, std::vector<pe::Resource>* resources);

}  // namespace wz2
