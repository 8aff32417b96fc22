// wz2 check: reads UPDATE.INI from the archive the way the updater does
// (the profile reader's rules over the manifest's bytes in memory, the
// updater's own keys, list walk, number and entry parsers) and reports what
// would go wrong only on a player's machine, or would silently differ from
// what the manifest's author meant.
#include <string.h>

#include <unordered_map>

#include "config/manifest.h"
#include "config/profile.h"
#include "pack/archive_writer.h"
#include "pack/names.h"
#include "platform/profile_rules.h"
#include "tools/wz2/json.h"
#include "tools/wz2/options.h"
#include "tools/wz2/tool.h"

namespace wz2 {
namespace {

#define MANIFEST_NAME "UPDATE.INI"
// Keys are numbered with two digits; 00 to 15 are read, the rest never are.
#define KEY_NUMBERS 100
#define SCAN_BUFFER 65536
#define NO_MODE -1

struct Checker {
  std::vector<Finding> findings;
  const std::string* manifest = nullptr;  // UPDATE.INI's bytes
  const std::string* setup = nullptr;     // SETUP.INI's bytes; none without --setup
  const ArchiveView* view = nullptr;
  int instMode = NO_MODE;
  std::vector<bool> written;  // archive entries some update entry writes
  int entriesForMode = 0;

  void Error(const std::string& key, const std::string& text) { findings.push_back({true, key, text}); }
  void Warning(const std::string& key, const std::string& text) { findings.push_back({false, key, text}); }

  // The value as the updater gets it (cut to capacity - 1), and a warning
  // when the file holds more than that.
  std::string Value(const char* section, const std::string& key, DWORD capacity, const std::string* file) {
    std::vector<char> whole(SCAN_BUFFER, 0);
    DWORD full = ProfileStringFromBytes(file, section, key.c_str(), "", whole.data(), SCAN_BUFFER);
    std::vector<char> cut(capacity, 0);
    DWORD n = ProfileStringFromBytes(file, section, key.c_str(), "", cut.data(), capacity);
    if (full > n)
      Warning(key, "value is " + std::to_string(full) + " bytes; the updater reads only the first " +
                       std::to_string(n));
    return std::string(cut.data(), n);
  }
  static bool Present(const char* section, const std::string& key, const std::string* file) {
    char probe[4] = {0};
    return ProfileStringFromBytes(file, section, key.c_str(), "", probe, sizeof(probe)) != 0;
  }

  void CheckSetupSection() {
    for (int i = 0; i < MANIFEST_SETUP_KEYS; i++) {
      const ManifestKey& key = ManifestSetupKeys[i];
      std::string value = Value(MANIFEST_SECTION_SETUP, key.name, key.capacity, manifest);
      if (value.empty() && i < MANIFEST_REQUIRED_KEYS)
        Error(key.name, "required key of [SETUP] is missing or empty; the updater stops at start");
      if (!value.empty() && strcmp(key.name, "DataFolder") == 0) CheckPath(key.name, value);
    }
  }

  void CheckNumber(const char* key) {
    std::string v = Value(MANIFEST_SECTION_UPDATE, key, FIELD_SLOT, manifest);
    if (!v.empty() && !IsDecimalNumber(v.c_str())) Warning(key, "value '" + v + "' is not a number; it reads as 0");
  }

  // The updater converts RequiredDiskSpace as a signed 32-bit number and
  // compares it as an unsigned byte count: a negative value asks for nearly
  // 4 GiB, and a number past the signed range is cut to 2 GiB.
  void CheckDiskSpace() {
    const char* key = "RequiredDiskSpace";
    std::string v = Value(MANIFEST_SECTION_UPDATE, key, FIELD_SLOT, manifest);
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
      return ProfileStringFromBytes(static_cast<Checker*>(self)->manifest, MANIFEST_SECTION_UPDATE, key, "", dest,
                                    size) != 0;
    };
    auto takeAll = [](void*, int, LPCSTR) -> int { return 1; };
    int length = WalkManifestList(list, read, takeAll, this);
    int gap = length;  // the first absent key, which may lie past the last one read
    while (gap < KEY_NUMBERS && Present(MANIFEST_SECTION_UPDATE, Key(list, gap), manifest)) gap++;
    for (int i = length; i < KEY_NUMBERS; i++) {
      if (!Present(MANIFEST_SECTION_UPDATE, Key(list, i), manifest)) continue;
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
      Error(key, "a field is longer than 259 bytes; the updater refuses the entry");
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
      Error(key, "the entry has no path");
      return;
    }
    CheckPath(key, path);
    std::string name = path.substr((size_t)item.nameOffset);
    if (name.empty()) {
      Error(key, "path '" + Shown(path) + "' ends in '\\' and names no file");
      return;
    }
    int index = FindEntry(*view, name);
    if (index < 0) {
      Error(key, "the archive has no entry named " + Shown(name));
      return;
    }
    written[(size_t)index] = true;
  }

  void CheckCopyEntry(const std::string& key, const std::string& value, bool* driveKnown) {
    CopyItem item;
    memset(&item, 0, sizeof(item));
    EntryParse r = ParseForItsMode(value, ParseCopyEntry, &item);
    if (r == ENTRY_INVALID) {
      Error(key, "disk '" + value.substr(value.size() > 1 && value[1] == ',' ? 2 : 0, 1) +
                     "' is not a digit; the updater refuses the entry");
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
      if (setup != nullptr) {
        char diskKey[32];
        snprintf(diskKey, sizeof(diskKey), "DiskCheckFile%i", item.diskNumber);
        if (!Present(MANIFEST_SECTION_SETUP, diskKey, setup))
          Error(key, "disk " + std::to_string(item.diskNumber) + " has no " + diskKey +
                         " in SETUP.INI; the updater would wait for it forever");
      }
      if (applies) *driveKnown = true;
    } else if (applies && !*driveKnown) {
      Error(key, "names no disk and no earlier copy entry finds one; the copy fails");
    }
  }

  void CheckUpdateSection() {
    CheckNumber("RequiredDiskSpace");
    CheckDiskSpace();
    CheckNumber("OverwriteOnly");
    int updates = ListLength(MANIFEST_UPDATE_FILES);
    int copies = ListLength(MANIFEST_COPY_FILES);
    if (updates == 0 && copies == 0)
      Error(Key(MANIFEST_UPDATE_FILES, 0), "neither UpdateFile00 nor CopyFile00 is present; the updater refuses the update");
    for (int i = 0; i < updates; i++) {
      std::string key = Key(MANIFEST_UPDATE_FILES, i);
      CheckUpdateEntry(key, Value(MANIFEST_SECTION_UPDATE, key, ManifestListCapacity(MANIFEST_UPDATE_FILES), manifest));
    }
    bool driveKnown = false;
    for (int i = 0; i < copies; i++) {
      std::string key = Key(MANIFEST_COPY_FILES, i);
      CheckCopyEntry(key, Value(MANIFEST_SECTION_UPDATE, key, ManifestListCapacity(MANIFEST_COPY_FILES), manifest),
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
      Warning("InstMode", "no entry applies to install mode " + std::to_string(instMode) +
                              "; the updater reports that nothing needs updating");
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

bool ExamineArchive(const ArchiveView& view, const std::string* setupBytes, int instMode,
                    std::vector<Finding>* findings, std::string* error) {
  // A damaged entry is the worst a player can meet: every entry is expanded
  // once before the manifest is looked at, through a window, so that an
  // entry of gigabytes costs no more memory than a small one; the
  // manifest's bytes are kept from that pass.
  int manifest = FindEntry(view, MANIFEST_NAME);
  std::string manifestBytes;
  for (size_t i = 0; i < view.entries.size(); i++) {
    ExpandTake keep = nullptr;
    if ((int)i == manifest)
      keep = [](void* context, const uint8_t* bytes, size_t size) { static_cast<std::string*>(context)->append((const char*)bytes, size); };
    if (!EntryThrough(view, view.entries[i], keep, &manifestBytes, error)) return false;
  }
  Checker c;
  c.view = &view;
  c.instMode = instMode;
  c.written.assign(view.entries.size(), false);
  CheckEntryNames(&c, view);
  if (manifest < 0) {
    c.Error(MANIFEST_NAME, "the archive holds no UPDATE.INI; the updater stops at start");
  } else {
    c.written[(size_t)manifest] = true;
    c.manifest = &manifestBytes;
    c.setup = setupBytes;
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
  std::vector<uint8_t> setupFile;
  if (!setup.empty() && !ReadFile(PathFromUtf8(setup), &setupFile, &error)) return Fail(error);
  std::string setupBytes(setupFile.begin(), setupFile.end());
  std::vector<Finding> findings;
  // A damaged executable's archive is not what was checked when it was
  // built, and nothing else matters to a player whose updater refuses to
  // start: that is the one finding.
  if (view.check == ArchiveView::Check::Damaged) {
    findings.push_back(Finding{true, "UPDATE/103",
                               "the archive does not match the CRC-32 the executable records; the updater refuses to "
                               "start (the file is damaged: build or copy it again)"});
  } else if (!ExamineArchive(view, setup.empty() ? nullptr : &setupBytes, instMode, &findings, &error)) {
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
