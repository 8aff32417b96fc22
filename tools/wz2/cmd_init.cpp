// wz2 init: a commented UPDATE.INI to start from, in the updater's own
// form (code page 932, CR LF). The game's identity comes from its installed
// SETUP.INI where one is given; every entry form is shown once, commented
// out, so that an untouched skeleton lists no files and check refuses it
// for exactly that.
#include "config/manifest.h"
#include "platform/profile_rules.h"
#include "tools/wz2/commands.h"
#include "tools/wz2/files.h"
#include "config/profile.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/options.h"
#include "tools/wz2/pending_file.h"

namespace wz2 {
namespace {

// The identity keys of SETUP.INI the manifest repeats, as raw code page 932
// bytes; empty where SETUP.INI has none. GameClass defaults to GameTitle,
// as the updater's loader does it.
struct Identity {
  std::string companyName, gameTitle, gameClass, gameDir;
};

std::string SetupValue(const ProfileStream& setup, const char* key) {
  char value[FIELD_SLOT];  // as the updater's loader reads a key
  DWORD n = setup.Get("SETUP", key, value, sizeof(value));
  return std::string(value, n);
}

bool ReadIdentity(const fs::path& path, Identity* id, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadFile(path, &bytes, error)) return false;
  ProfileStream setup;
  setup.Want("SETUP", {"CompanyName", "GameTitle", "GameClass", "GameDir"});
  setup.Feed((const char*)bytes.data(), bytes.size());
  setup.Finish();
  id->companyName = SetupValue(setup, "CompanyName");
  id->gameTitle = SetupValue(setup, "GameTitle");
  id->gameClass = SetupValue(setup, "GameClass");
  if (id->gameClass.empty()) id->gameClass = id->gameTitle;
  id->gameDir = SetupValue(setup, "GameDir");
  return true;
}

// The skeleton's lines (ASCII, LF); the identity values are put in as they
// are, already code page 932.
std::string Skeleton(const Identity& id) {
  return "; UPDATE.INI: the manifest of one update, read by the updater from the\n"
         "; archive. Code page 932 with CR LF, as wz2 init wrote it; a copy edited\n"
         "; in UTF-8 is packed with 'wz2 pack --manifest-utf8'. Lines starting with\n"
         "; ';' are comments. Check the result with 'wz2 check --setup SETUP.INI'.\n"
         "[SETUP]\n"
         "; Required. The first two name the registry key Software\\<CompanyName>\\\n"
         "; <GameDir> that marks the game as installed; GameTitle appears in the\n"
         "; updater's messages; GameClass is the game's window class.\n"
         "CompanyName=" + id.companyName + "\n"
         "GameTitle=" + id.gameTitle + "\n"
         "GameClass=" + id.gameClass + "\n"
         "GameDir=" + id.gameDir + "\n"
         "; Optional. The version in the window title \"<GameTitle> \x83\x41\x83\x62\x83\x76\x83\x66\x81\x5b\x83\x5e <UpdaterVersion>\",\n"
         "; or the whole title instead; a second window title of the running game.\n"
         ";UpdaterVersion=1.01\n"
         ";UpdaterTitle=\n"
         ";GameTitleA=\n"
         "; Optional. A folder below the target folder of every update entry; the\n"
         "; updater creates this one level, and no other: any folder inside an\n"
         "; entry's path must already exist on the player's machine.\n"
         ";DataFolder=DATA\n"
         "; Optional. Shown once at start; \\n is a line break.\n"
         ";UpdateMessage=\n"
         "[UPDATE]\n"
         "; Optional. Bytes that must be free on the installation's drive, and\n"
         "; 1 to write every entry only over a file that is already there.\n"
         ";RequiredDiskSpace=10000000\n"
         ";OverwriteOnly=0\n"
         "; Update entries UpdateFile00 to UpdateFile15, numbered without gaps (the\n"
         "; list ends at the first missing number). Each names an archive entry,\n"
         "; the name after the last '\\' of its path. One line per form:\n"
         ";   path only: always written into the installation folder\n"
         ";UpdateFile00=README.TXT\n"
         ";   u: written unless the installed file is newer\n"
         ";UpdateFile01=u,SOUND.PAK\n"
         ";   o: written only over a file that is already installed\n"
         ";UpdateFile02=o,VOICE\\VOICE1.PAK\n"
         ";   d: into the data folder, only where no readable file is there\n"
         ";UpdateFile03=d,CONFIG.DAT\n"
         ";   an install mode first (one digit): only for installations of that mode\n"
         ";UpdateFile04=2,PATCH.DAT\n"
         ";UpdateFile05=2,u,HIRES.PAK\n"
         "; Copy entries CopyFile00 to CopyFile15: a file or folder copied from the\n"
         "; game's CD-ROM into the installation folder; 'N:' names the disk whose\n"
         "; DiskCheckFileN of SETUP.INI is looked for, 'M,' an install mode.\n"
         ";CopyFile00=1:MOVIE\n"
         ";CopyFile01=2,1:BONUS.TXT\n";
}

std::string CrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

int CommandInit(const ParsedArgs& args) {
  fs::path output = PathFromUtf8(args.Value("-o"));
  std::string error;
  Identity id;
  if (args.Has("--setup") && !ReadIdentity(PathFromUtf8(args.Value("--setup")), &id, &error)) return Fail(error);
  // A manifest is a publisher's own work: never written over.
  std::error_code ec;
  if (fs::symlink_status(output, ec).type() != fs::file_type::not_found)
    return Fail(PathToUtf8(output) + ": already exists; init writes only a new file");
  std::string text = CrLf(Skeleton(id));
  PendingFile out;
  if (!out.Open(output, &error) || !out.Write(text.data(), text.size(), &error) || !out.Commit(nullptr, &error))
    return Fail(error);
  if (!Quiet)
    Print(stderr, PathToUtf8(output) + ": written; list the update's files as UpdateFile00, UpdateFile01, ...\n");
  return EXIT_DONE;
}

}  // namespace wz2
