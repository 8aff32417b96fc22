// The updater templates build-exe uses when no --template is given. An
// installed wz2 finds them in ../share/wz2 from its own folder; a wz2 run
// from a build tree (build/<preset>/bin) finds the Windows trees' updaters
// beside that tree. Each template has a .version file beside it, written by
// the tree that built it, so that --version can say what it is.
#include "tools/wz2/templates.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace wz2 {
namespace {

struct Arch {
  const char* name;  // as --arch takes it and as the installed file is named
  const char* tree;  // the preset that builds it
};
const Arch kArches[] = {{"i686", "win32"}, {"x86_64", "win64"}};

// The running executable's path, or an empty path when the system will not
// say (the templates are then not found, and --template is needed).
fs::path SelfPath() {
#ifdef _WIN32
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 6; attempt++) {
    DWORD n = GetModuleFileNameW(nullptr, &buffer[0], (DWORD)buffer.size());
    if (n == 0) return fs::path();
    if (n < buffer.size()) return fs::path(buffer.substr(0, n));
    buffer.resize(buffer.size() * 2);
  }
  return fs::path();
#else
  std::string buffer(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
  if (n <= 0 || (size_t)n >= buffer.size()) return fs::path();
  return fs::path(buffer.substr(0, (size_t)n));
#endif
}

const Arch* FindArch(const std::string& name) {
  for (const Arch& a : kArches)
    if (name == a.name) return &a;
  return nullptr;
}

std::vector<fs::path> Candidates(const Arch& arch) {
  std::vector<fs::path> out;
  fs::path self = SelfPath();
  if (self.empty()) return out;
  fs::path bin = self.parent_path();
  out.push_back(bin / ".." / "share" / "wz2" / (std::string("updater-") + arch.name + ".exe"));
  out.push_back(bin / ".." / ".." / arch.tree / "bin" / "updater-noarchive.exe");
  return out;
}

}  // namespace

const char* const kDefaultArch = "i686";

bool KnownArch(const std::string& name) { return FindArch(name) != nullptr; }

std::vector<std::string> ArchNames() {
  std::vector<std::string> out;
  for (const Arch& a : kArches) out.push_back(a.name);
  return out;
}

bool FindTemplate(const std::string& arch, fs::path* out, std::string* error) {
  const Arch* a = FindArch(arch);
  if (!a) {
    *error = "unknown architecture '" + arch + "' (i686 or x86_64)";
    return false;
  }
  std::string looked;
  for (const fs::path& p : Candidates(*a)) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) {
      *out = p.lexically_normal();
      return true;
    }
    looked += (looked.empty() ? "" : ", ") + PathToUtf8(p.lexically_normal());
  }
  *error = std::string("no ") + arch + " updater template (looked for " + (looked.empty() ? "none" : looked) +
           "); give --template FILE";
  return false;
}

std::string TemplateVersion(const fs::path& templ) {
  fs::path file = templ;
  file.replace_extension(".version");
  std::error_code ec;
  // A version is one short line; anything longer is not one of ours.
  if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > 64 || ec) return "";
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadFile(file, &bytes, &error)) return "";
  std::string text;
  for (uint8_t c : bytes) {
    if (c == '\n' || c == '\r') break;
    if (c < 0x20 || c > 0x7E) return "";
    text += (char)c;
  }
  return text;
}

}  // namespace wz2
