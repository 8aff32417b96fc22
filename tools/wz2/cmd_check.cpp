// wz2 check: reads UPDATE.INI from the archive the way the updater does
// (the profile reader's rules over the manifest's bytes, read once as they
// are expanded; the updater's own keys, list walk, number and entry
// parsers) and SETUP.INI through the updater's own loader, and reports what
// would go wrong only on a player's machine, or would silently differ from
// what the manifest's author meant. Whatever makes the updater show a box
// or stop is an error; whatever it skips without a word is a warning.
#include <string.h>

#include <unordered_map>

#include "config/manifest.h"
#include "config/profile.h"
#include "config/setup.h"
#include "fs/error_box.h"
#include "pack/archive_writer.h"
#include "pack/names.h"
#include "platform/host/served_profile.h"
#include "platform/profile_rules.h"
#include "tools/wz2/archive_view.h"
#include "tools/wz2/commands.h"
#include "tools/wz2/examine.h"
#include "tools/wz2/files.h"
#include "tools/wz2/json.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/name_rules.h"
#include "tools/wz2/options.h"

#ifdef _WIN32
#include <windows.h>
#else
#endif

namespace wz2 {
namespace {

#define MANIFEST_NAME "UPDATE.INI"
// Keys are numbered with two digits; 00 to 15 are read, the rest never are.
#define KEY_NUMBERS 100
#define NO_MODE -1
// A manifest needs a few KiB; past this the updater's reader still goes
// through every line for every key it reads.
#define MANIFEST_SIZE_NOTED (64u * 1024)

// The updater's own words, as the player sees them.
const char kMissingKey[] = "キーが存在しません";
const char kWriteFailed[] = "ファイルの書き込みに失敗しました";
const char kNothingToDo[] = "アップデートする必要のあるファイルはありません";
const char kCopyFailed[] = "のコピーに失敗しました";

// The keys whose values anything here asks for: the updater's own, and the
// list keys up to 99 so that keys it never reads can be named.
std::vector<std::string> ListKeys(ManifestList list, std::vector<std::string> keys) {
  for (int i = 0; i < KEY_NUMBERS; i++) {
    char key[MANIFEST_KEY_BUFFER];
    ManifestListKey(list, i, key);
    keys.push_back(key);
  }
  return keys;
}

void WantManifestKeys(ProfileStream* manifest) {
  std::vector<std::string> setupKeys;
  for (const ManifestKey& k : ManifestSetupKeys) setupKeys.push_back(k.name);
  manifest->Want(MANIFEST_SECTION_SETUP, setupKeys);
  manifest->Want(MANIFEST_SECTION_UPDATE,
                 ListKeys(MANIFEST_COPY_FILES, ListKeys(MANIFEST_UPDATE_FILES, {"RequiredDiskSpace", "OverwriteOnly"})));
}

struct Checker {
  std::vector<Finding> findings;
  const ProfileStream* manifest = nullptr;  // UPDATE.INI, read once
  bool setupLoaded = false;                 // Setup holds the loaded SETUP.INI (--setup)
  const ArchiveView* view = nullptr;
  int instMode = NO_MODE;
  std::string dataFolder;     // DataFolder of [SETUP], as the updater reads it
  bool overwriteOnly = false;  // OverwriteOnly of [UPDATE] is not 0
  std::vector<bool> written;  // archive entries some update entry writes
  int entriesForMode = 0;

  void Error(const std::string& key, const std::string& text) { findings.push_back({true, key, text}); }
  void Warning(const std::string& key, const std::string& text) { findings.push_back({false, key, text}); }

  // The value as the updater gets it (cut to capacity - 1), and a warning
  // when the file holds more than that.
  std::string Value(const char* section, const std::string& key, DWORD capacity) {
    std::vector<char> cut(capacity, 0);
    size_t full = 0;
    DWORD n = manifest->Get(section, key.c_str(), cut.data(), capacity, &full);
    if (full > n)
      Warning(key, "value is " + std::to_string(full) + " bytes; the updater reads only the first " +
                       std::to_string(n));
    return std::string(cut.data(), n);
  }
  bool Present(const char* section, const std::string& key) const {
    char probe[4] = {0};
    return manifest->Get(section, key.c_str(), probe, sizeof(probe)) != 0;
  }

  // What the updater reads of a manifest is bounded by its buffers; the
  // rest costs it time on every key and is reported here, never kept.
  void CheckSize() {
    if (manifest->LongLines() != 0)
      Warning(MANIFEST_NAME, std::to_string(manifest->LongLines()) + " line(s) longer than " +
                                 std::to_string(ProfileStream::kLineKept) +
                                 " bytes; check reads each only that far, and no value the updater reads is longer "
                                 "than 1023 bytes");
    if (manifest->Bytes() > MANIFEST_SIZE_NOTED)
      Warning(MANIFEST_NAME, "the manifest is " + std::to_string(manifest->Bytes()) +
                                 " bytes; the updater reads only a few keys of it, going through the whole file "
                                 "for each");
  }

  void CheckSetupSection() {
    for (int i = 0; i < MANIFEST_SETUP_KEYS; i++) {
      const ManifestKey& key = ManifestSetupKeys[i];
      std::string value = Value(MANIFEST_SECTION_SETUP, key.name, key.capacity);
      if (value.empty() && i < MANIFEST_REQUIRED_KEYS)
        Error(key.name, std::string("required key of [SETUP] is missing or empty; the updater stops at start with \"SETUP : ") +
                            key.name + " " + kMissingKey + "\" (TORVANEK)");
      if (!value.empty() && strcmp(key.name, "DataFolder") == 0) {
        CheckPath(key.name, value);
        dataFolder = value;
      }
    }
  }

  void CheckNumber(const char* key) {
    std::string v = Value(MANIFEST_SECTION_UPDATE, key, FIELD_SLOT);
    if (!v.empty() && !IsDecimalNumber(v.c_str())) Warning(key, "value '" + v + "' is not a number; it reads as 0");
  }

  // The updater converts RequiredDiskSpace as a signed 32-bit number and
  // compares it as an unsigned byte count: a negative value asks for nearly
  // 4 GiB, and a number past the signed range is cut to 2 GiB.
  void CheckDiskSpace() {
    const char* key = "RequiredDiskSpace";
    std::string v = Value(MANIFEST_SECTION_UPDATE, key, FIELD_SLOT);
    if (v.empty() || !IsDecimalNumber(v.c_str())) return;
    int n = ParseDecimalInt(v.c_str());
    if (n < 0) {
      Warning(key, "value '" + v + "' is negative; the updater asks for " + std::to_string((uint32_t)n) +
                       " free bytes and stops on any drive with less");
      return;
    }
    if (std::to_string(n) != Digits(v))
      Warning(key, "value '" + v + "' is past 2147483647; the updater reads it as 2147483647 bytes");
  }

  // The digits of a number as the updater reads it, without blanks, sign or
  // leading zeros ("  +007x" gives "7").
  static std::string Digits(const std::string& v) {
    size_t i = v.find_first_of("0123456789");
    std::string d;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; i++)
      if (!d.empty() || v[i] != '0') d += v[i];
    return d.empty() ? "0" : d;
  }

  // Paths below the target directory: ".." would leave it, a leading "\"
  // starts over at the drive's root on Windows. '/' separates there too.
  void CheckPath(const std::string& key, const std::string& path) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < path.size(); i++) {
      unsigned char c = (unsigned char)path[i];
      if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
        parts.back() += path.substr(i, 2);
        i++;
      } else if (c == '\\' || c == '/') {
        parts.emplace_back();
      } else {
        parts.back() += (char)c;
      }
    }
    for (const std::string& p : parts)
      if (p == "..") {
        Error(key, "path '" + Shown(path) + "' contains '..' and would leave the game's directory");
        return;
      }
    if (path[0] == '\\' || path[0] == '/')
      Warning(key, "path '" + Shown(path) + "' starts with '\\'");
    if (path.size() >= 2 && path[1] == ':' && !IsDBCSLeadByte((BYTE)path[0]))
      Warning(key, "path '" + Shown(path) + "' names a drive");
  }

  static std::string Shown(const std::string& cp932) {
    std::string utf8;
    return names::Cp932ToUtf8(cp932, &utf8) ? utf8 : cp932;
  }

  // How many entries of a list the updater reads, by its own walk; every
  // key behind the walk's end is reported as never read, with the reason.
  int ListLength(ManifestList list) {
    auto read = [](void* self, LPCSTR key, LPSTR dest, DWORD size) -> int {
      return static_cast<Checker*>(self)->manifest->Get(MANIFEST_SECTION_UPDATE, key, dest, size) != 0;
    };
    auto takeAll = [](void*, int, LPCSTR) -> int { return 1; };
    int length = WalkManifestList(list, read, takeAll, this);
    int gap = length;  // the first absent key, which may lie past the last one read
    while (gap < KEY_NUMBERS && Present(MANIFEST_SECTION_UPDATE, Key(list, gap))) gap++;
    for (int i = length; i < KEY_NUMBERS; i++) {
      if (!Present(MANIFEST_SECTION_UPDATE, Key(list, i))) continue;
      if (i < gap)
        Warning(Key(list, i), "never read: a list holds at most 16 entries");
      else
        Warning(Key(list, i), "never read: the list ends at the missing " + Key(list, gap));
    }
    return length;
  }

  static std::string Key(ManifestList list, int i) {
    char key[MANIFEST_KEY_BUFFER];
    ManifestListKey(list, i, key);
    return key;
  }

  // Any field of an update entry that carries a two-byte prefix such as D:
  // loses it to the field rules. NextField reports it by setting the disk
  // number, which is watched here.
  bool DropsPrefix(const std::string& value) {
    LPCSTR cursor = value.c_str();
    char slot[FIELD_SLOT];
    int saved = FieldDiskNumber;
    bool dropped = false;
    for (int k = 0; k < 3; k++) {
      FieldDiskNumber = -1;
      if (NextField(slot, sizeof(slot), &cursor) != FIELD_TAKEN) break;
      if (FieldDiskNumber != -1) dropped = true;
    }
    FieldDiskNumber = saved;
    return dropped;
  }

  // The whole entry as an installation of its own install mode reads it:
  // the parser names the mode of an entry it skips.
  template <typename Item, typename Parse>
  static EntryParse ParseForItsMode(const std::string& value, Parse parse, Item* item) {
    EntryParse r = parse(value.c_str(), NO_INSTALL_MODE, item);
    if (r == ENTRY_SKIPPED) r = parse(value.c_str(), item->installMode, item);
    return r;
  }

  bool AppliesToGivenMode(int mode) { return instMode == NO_MODE || mode == NO_INSTALL_MODE || mode == instMode; }

  void CheckUpdateEntry(const std::string& key, const std::string& value) {
    UpdateItem item;
    memset(&item, 0, sizeof(item));
    EntryParse r = ParseForItsMode(value, ParseUpdateEntry, &item);
    if (r == ENTRY_INVALID) {
      Error(key, std::string("a field is longer than 259 bytes; the updater stops before writing anything, with \"") +
                     kWriteFailed + "\"");
      return;
    }
    // Entries for other install modes are checked all the same: another
    // installation runs them.
    if (instMode != NO_MODE && AppliesToGivenMode(item.installMode)) entriesForMode++;
    if (DropsPrefix(value))
      Warning(key, "a field starts with a drive or disk prefix ('X:'), which the updater drops");
    std::string path = item.relativePath;
    std::string trimmed = path;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
    if (trimmed.size() == 1 && trimmed != path && strchr("udoUDO", trimmed[0]))
      Warning(key, "operation letter '" + trimmed + "' is followed by a blank: the entry is path-only and its path is '" +
                       path + "'");
    if (path.empty()) {
      Error(key, std::string("the entry has no path; the updater stops with \"") + kWriteFailed + "\"");
      return;
    }
    CheckPath(key, path);
    std::string name = path.substr((size_t)item.nameOffset);
    if (name.empty()) {
      Error(key, "path '" + Shown(path) + "' ends in '\\' and names no file; the updater stops with \"" + kWriteFailed +
                     "\"");
      return;
    }
    int index = FindEntry(*view, name);
    if (index < 0) {
      Error(key, "the archive has no entry named " + Shown(name) + "; the updater stops with \"" + kWriteFailed + "\"");
      return;
    }
    written[(size_t)index] = true;
    CheckFolders(key, item, path.substr(0, (size_t)item.nameOffset));
  }

  // The updater makes one folder, DataFolder's last level, below the target
  // directory; any other level of the target's path has to be there on the
  // player's machine. An item that writes only over an existing file is
  // skipped without a word when its folder is missing, as its file is; the
  // others stop the run with the write failure.
  void CheckFolders(const std::string& key, const UpdateItem& item, std::string folder) {
    if (overwriteOnly || item.operationCode == OP_OVERWRITE_ONLY) return;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    std::string above = ParentFolder(dataFolder);
    std::string base = item.operationCode == OP_DATA_IF_MISSING ? "data folder" : "installation folder";
    std::string made = dataFolder.empty() ? "none" : Shown(dataFolder);
    if (!above.empty())
      Warning(key, "folder " + Shown(above) + " below the " + base + " must already exist on the player's machine " +
                       "(the updater creates only " + made + "); else the updater stops with \"" + kWriteFailed + "\"");
    if (!folder.empty()) {
      std::string named = dataFolder.empty() ? folder : dataFolder + "\\" + folder;
      Warning(key, "folder " + Shown(named) + " below the " + base + " must already exist on the player's machine " +
                       "(the updater creates only " + made + "); else the updater stops with \"" + kWriteFailed + "\"");
    }
  }

  // Everything before the last separator of a folder path ("" for one level).
  static std::string ParentFolder(const std::string& folder) {
    size_t cut = std::string::npos;
    for (size_t i = 0; i < folder.size(); i++) {
      if (IsDBCSLeadByte((BYTE)folder[i]) && i + 1 < folder.size()) {
        i++;
      } else if (folder[i] == '\\' && i + 1 < folder.size()) {
        cut = i;
      }
    }
    return cut == std::string::npos ? "" : folder.substr(0, cut);
  }

  void CheckCopyEntry(const std::string& key, const std::string& value, bool* driveKnown) {
    CopyItem item;
    memset(&item, 0, sizeof(item));
    EntryParse r = ParseForItsMode(value, ParseCopyEntry, &item);
    if (r == ENTRY_INVALID) {
      Error(key, "disk '" + value.substr(value.size() > 1 && value[1] == ',' ? 2 : 0, 1) +
                     "' is not a digit; the updater stops before writing anything, with \"" + kWriteFailed + "\"");
      return;
    }
    if (item.installMode != NO_INSTALL_MODE && (item.installMode < 0 || item.installMode > 9)) {
      Warning(key, "install mode '" + value.substr(0, 1) + "' is not a digit: the entry applies to no installation");
      return;
    }
    bool applies = AppliesToGivenMode(item.installMode);
    if (applies && instMode != NO_MODE) entriesForMode++;
    std::string path = item.relativePath;
    if (path.empty()) {
      Error(key, "the entry has no path");
      return;
    }
    CheckPath(key, path);
    if (item.diskNumber != 0) {
      if (setupLoaded && Setup.DiskCheckFile[item.diskNumber][0] == 0)
        Error(key, "disk " + std::to_string(item.diskNumber) + " has no DiskCheckFile" +
                       std::to_string(item.diskNumber) +
                       " in SETUP.INI; the updater takes any CD-ROM drive holding a disk for it");
      if (applies) *driveKnown = true;
    } else if (applies && !*driveKnown) {
      Error(key, "names no disk and no earlier copy entry finds one; the updater stops with \"SETUP.INI : \"" +
                     Shown(path) + "\" " + kCopyFailed + "\"");
    }
  }

  void CheckUpdateSection() {
    CheckNumber("RequiredDiskSpace");
    CheckDiskSpace();
    CheckNumber("OverwriteOnly");
    overwriteOnly = ParseDecimalInt(Value(MANIFEST_SECTION_UPDATE, "OverwriteOnly", FIELD_SLOT).c_str()) != 0;
    int updates = ListLength(MANIFEST_UPDATE_FILES);
    int copies = ListLength(MANIFEST_COPY_FILES);
    if (updates == 0 && copies == 0)
      Error(Key(MANIFEST_UPDATE_FILES, 0),
            "neither UpdateFile00 nor CopyFile00 is present: the manifest lists no files, and the updater stops with "
            "\"No 'UpdateFileXX' and 'CopyFileXX'\"");
    for (int i = 0; i < updates; i++) {
      std::string key = Key(MANIFEST_UPDATE_FILES, i);
      CheckUpdateEntry(key, Value(MANIFEST_SECTION_UPDATE, key, ManifestListCapacity(MANIFEST_UPDATE_FILES)));
    }
    bool driveKnown = false;
    for (int i = 0; i < copies; i++) {
      std::string key = Key(MANIFEST_COPY_FILES, i);
      CheckCopyEntry(key, Value(MANIFEST_SECTION_UPDATE, key, ManifestListCapacity(MANIFEST_COPY_FILES)),
                     &driveKnown);
    }
    for (size_t i = 0; i < view->entries.size(); i++) {
      if (written[i] || SameEntryName(view->entries[i].name.c_str(), MANIFEST_NAME)) continue;
      if (FindEntry(*view, view->entries[i].name) != (int)i)
        Warning(view->entries[i].display, "a second entry of this name; the updater never reads it");
      else
        Warning(view->entries[i].display, "no update entry writes this archive entry");
    }
    if (instMode != NO_MODE && entriesForMode == 0 && (updates != 0 || copies != 0))
      Error("InstMode", "no entry applies to install mode " + std::to_string(instMode) + "; the updater shows \"" +
                            kNothingToDo + "\"");
  }
};

}  // namespace

namespace {

// Entry names a file cannot be made of, and pairs of names that are one
// file once decoded although the updater tells them apart: extract would
// write both to one file.
void CheckEntryNames(Checker* c, const ArchiveView& view) {
  std::unordered_map<std::string, size_t> files;
  for (size_t i = 0; i < view.entries.size(); i++) {
    const EntryView& e = view.entries[i];
    std::string utf8, why;
    if (!names::Cp932ToUtf8(e.name, &utf8)) {
      c->Error(e.display, "the name is not valid code page 932; no file can be written under it");
      continue;
    }
    if (!SafeFileName(utf8, &why)) {
      c->Error(e.display, "the name " + why + "; no file can be written under it");
      continue;
    }
    auto first = files.emplace(utf8, i);
    if (!first.second && view.entries[first.first->second].name != e.name)
      c->Error(e.display, "decodes to the same file name as entry " + std::to_string(first.first->second) +
                              "; extract refuses the archive");
  }
}

}  // namespace

namespace {

#ifndef _WIN32
// Every key the loader of SETUP.INI reads, so that the file can be read
// once and served to it from memory.
void WantSetupKeys(ProfileStream* setup) {
  std::vector<std::string> keys{"CompanyName",     "GameTitle",      "GameDir",          "GameExe",
                                "UninstExe",       "SetupBmp",       "InstallSelects",   "Shortcuts",
                                "GameClass",       "DefaultSelect",  "ExecApp",          "InstallDirectX",
                                "InstallDXMessage", "SelectSetupMessage", "AdditionalUninstallFiles"};
  for (int i = 0; i < INSTALL_SELECTS_MAX; i++)
    for (const char* stem : {"InstallTitle", "InstallFiles", "InstallSize"}) keys.push_back(stem + std::to_string(i));
  for (int i = 0; i < SHORTCUTS_MAX; i++) keys.push_back("Shortcut" + std::to_string(i));
  for (int i = 0; i < DISK_CHECK_FILES; i++) keys.push_back("DiskCheckFile" + std::to_string(i));
  setup->Want(SETUP_SECTION, keys);
}
#endif

// The loader's error box, caught instead of shown: the first complaint and
// its caption, in code page 932.
std::string g_boxText, g_boxCaption;
int CatchBox(LPCSTR text, LPCSTR caption) {
  if (g_boxText.empty()) {
    g_boxText = text != nullptr ? text : "";
    g_boxCaption = caption != nullptr ? caption : "";
  }
  return 1;  // IDOK
}

}  // namespace

bool LoadSetupAsTheUpdater(const SetupFile& file, std::string* caption, std::string* message, std::string* error) {
  error->clear();
  ResetConfigState();
  g_boxText.clear();
  g_boxCaption.clear();
#ifdef _WIN32
  // The platform's own reader, as on the player's machine; it takes an ANSI
  // path, and a relative one would be looked for in the Windows folder.
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(file.path.c_str(), MAX_PATH, full, nullptr);
  BOOL lossy = FALSE;
  int bytes = n == 0 || n >= MAX_PATH ? 0
                                      : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, full, -1, SetupIniPath,
                                                            sizeof(SetupIniPath), nullptr, &lossy);
  if (bytes == 0 || lossy) {
    *error = PathToUtf8(file.path) + ": --setup needs a path of at most 259 characters of the system's code page";
    return false;
  }
#else
  ProfileStream profile;
  WantSetupKeys(&profile);
  profile.Feed(file.bytes.data(), file.bytes.size());
  profile.Finish();
  lstrcpyA(SetupIniPath, "SETUP.INI");
  ServeProfile(SetupIniPath, &profile);
#endif
  SetErrorBox(CatchBox);
  int loaded = LoadSetupProfile();
  SetErrorBox(nullptr);
#ifndef _WIN32
  ServeProfile(nullptr, nullptr);
#endif
  std::string utf8;
  *message = names::Cp932ToUtf8(g_boxText, &utf8) ? utf8 : g_boxText;
  *caption = g_boxCaption;
  if (!loaded && message->empty()) *message = "the updater refuses SETUP.INI";
  return loaded != 0;
}

bool ExamineArchive(const ArchiveView& view, const SetupFile* setup, int instMode, std::vector<Finding>* findings,
                    std::string* error) {
  // A damaged entry is the worst a player can meet: every entry is expanded
  // once before the manifest is looked at, through a window, so that an
  // entry of gigabytes costs no more memory than a small one. The manifest
  // is read as it is expanded, keeping only what the updater can ask for.
  int manifest = FindEntry(view, MANIFEST_NAME);
  ProfileStream manifestProfile;
  WantManifestKeys(&manifestProfile);
  for (size_t i = 0; i < view.entries.size(); i++) {
    ExpandTake keep = nullptr;
    if ((int)i == manifest)
      keep = [](void* context, const uint8_t* bytes, size_t size) {
        static_cast<ProfileStream*>(context)->Feed((const char*)bytes, size);
      };
    if (!EntryThrough(view, view.entries[i], keep, &manifestProfile, error)) return false;
  }
  manifestProfile.Finish();
  Checker c;
  c.view = &view;
  c.instMode = instMode;
  c.written.assign(view.entries.size(), false);
  CheckEntryNames(&c, view);
  if (setup != nullptr) {
    std::string caption, message;
    c.setupLoaded = LoadSetupAsTheUpdater(*setup, &caption, &message, error);
    if (!c.setupLoaded && !error->empty()) return false;
    if (!c.setupLoaded)
      c.Error("SETUP.INI", "the updater stops at start with \"" + message + "\" (" + caption + ")");
  }
  if (manifest < 0) {
    c.Error(MANIFEST_NAME, "the archive holds no UPDATE.INI; the updater stops at start with \"UPDATE.INI not found "
                           "at UPDATE.WZ2\"");
  } else {
    c.written[(size_t)manifest] = true;
    c.manifest = &manifestProfile;
    c.CheckSize();
    c.CheckSetupSection();
    c.CheckUpdateSection();
  }
  *findings = std::move(c.findings);
  return true;
}

int CommandCheck(const ParsedArgs& args) {
  const std::string& source = args.operands[0];
  std::string setup = args.Value("--setup");
  int instMode = NO_MODE;
  if (args.Has("--inst-mode")) {
    std::string v = args.Value("--inst-mode");
    if (v.size() != 1 || v[0] < '0' || v[0] > '9') return UsageError("--inst-mode takes a digit 0-9");
    instMode = v[0] - '0';
  }
  bool strict = args.Has("--strict");

  ArchiveView view;
  std::string error;
  if (!LoadArchive(PathFromUtf8(source), &view, &error)) return Fail(error);
  SetupFile setupFile;
  std::vector<uint8_t> setupBytes;
  if (!setup.empty()) {
    setupFile.path = PathFromUtf8(setup);
    if (!ReadFile(setupFile.path, &setupBytes, &error)) return Fail(error);
    setupFile.bytes.assign(setupBytes.begin(), setupBytes.end());
    std::vector<uint8_t>().swap(setupBytes);
  }
  std::vector<Finding> findings;
  // A damaged executable's archive is not what was checked when it was
  // built, and nothing else matters to a player whose updater refuses to
  // start: that is the one finding.
  if (view.check == ArchiveView::Check::Damaged) {
    findings.push_back(Finding{true, "UPDATE/103",
                               "the archive does not match the CRC-32 the executable records; the updater refuses to "
                               "start (the file is damaged: build or copy it again)"});
  } else if (!ExamineArchive(view, setup.empty() ? nullptr : &setupFile, instMode, &findings, &error)) {
    return Fail(error);
  }
  const char* archiveCheck = !view.fromExecutable                              ? "none"
                             : view.check == ArchiveView::Check::None         ? "absent"
                             : view.check == ArchiveView::Check::Matches      ? "matches"
                                                                              : "damaged";

  int errors = 0, warnings = 0;
  std::string json;
  for (const Finding& f : findings) {
    bool isError = f.error || strict;
    (isError ? errors : warnings)++;
    const char* severity = isError ? "error" : "warning";
    if (args.Has("--json")) {
      json += (json.empty() ? "" : ", ") + JsonObject().Add("severity", severity).Add("key", f.key).Add("text", f.text).Text();
    } else {
      Result(std::string(severity) + ": " + f.key + ": " + f.text);
    }
  }
  if (args.Has("--json"))
    Result(JsonObject().Add("source", source).Add("errors", errors).Add("warnings", warnings)
               .Add("strict", strict).Add("archiveCheck", archiveCheck).Raw("findings", "[" + json + "]").Text());
  if (!Quiet && view.check == ArchiveView::Check::Matches)
    Print(stderr, source + ": the archive matches the CRC-32 the executable records\n");
  if (!Quiet)
    Print(stderr, source + ": " + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") + ", " +
                      std::to_string(warnings) + " warning" + (warnings == 1 ? "" : "s") + "\n");
  return errors ? EXIT_FAILED : EXIT_DONE;
}

}  // namespace wz2
