// wz2 check: reads UPDATE.INI from the archive the way the updater does
// (the platform's profile reader, the updater's own entry parsers) and
// reports what would go wrong only on a player's machine, or would silently
// differ from what the manifest's author meant.
#include <string.h>

#include "config/manifest.h"
#include "config/profile.h"
#include "pack/archive_writer.h"
#include "pack/names.h"
#include "tools/wz2/tool.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/host/host_control.h"
#endif

namespace wz2 {
namespace {

#define MANIFEST_NAME "UPDATE.INI"
#define SETUP_NAME "SETUP.INI"
// Keys are numbered with two digits; 00 to 15 are read, the rest never are.
#define KEY_NUMBERS 100
#define SCAN_BUFFER 65536
#define NO_MODE -1

struct Finding {
  bool error;
  std::string key;
  std::string text;
};

struct Checker {
  std::vector<Finding> findings;
  std::string manifestPath;  // as the profile reader is given it
  std::string setupPath;     // "" without --setup
  const ArchiveView* view = nullptr;
  int instMode = NO_MODE;
  std::vector<bool> written;  // archive entries some update entry writes
  int entriesForMode = 0;

  void Error(const std::string& key, const std::string& text) { findings.push_back({true, key, text}); }
  void Warning(const std::string& key, const std::string& text) { findings.push_back({false, key, text}); }

  // The value as the updater gets it (cut to capacity - 1), and a warning
  // when the file holds more than that.
  std::string Value(const char* section, const std::string& key, DWORD capacity, const std::string& path) {
    std::vector<char> whole(SCAN_BUFFER, 0);
    DWORD full = GetPrivateProfileStringA(section, key.c_str(), "", whole.data(), SCAN_BUFFER, path.c_str());
    std::vector<char> cut(capacity, 0);
    DWORD n = GetPrivateProfileStringA(section, key.c_str(), "", cut.data(), capacity, path.c_str());
    if (full > n)
      Warning(key, "value is " + std::to_string(full) + " bytes; the updater reads only the first " +
                       std::to_string(n));
    return std::string(cut.data(), n);
  }
  bool Present(const char* section, const std::string& key, const std::string& path) {
    char probe[4] = {0};
    return GetPrivateProfileStringA(section, key.c_str(), "", probe, sizeof(probe), path.c_str()) != 0;
  }

  void CheckSetupSection() {
    const char* required[] = {"CompanyName", "GameTitle", "GameClass", "GameDir"};
    for (const char* key : required)
      if (Value(MANIFEST_SECTION_SETUP, key, FIELD_SLOT, manifestPath).empty())
        Error(key, "required key of [SETUP] is missing or empty; the updater stops at start");
    const char* optional[] = {"GameTitleA", "UpdaterVersion", "UpdaterTitle"};
    for (const char* key : optional) Value(MANIFEST_SECTION_SETUP, key, FIELD_SLOT, manifestPath);
    Value(MANIFEST_SECTION_SETUP, "UpdateMessage", UPDATE_VALUE_CAPACITY, manifestPath);
    std::string dataFolder = Value(MANIFEST_SECTION_SETUP, "DataFolder", FIELD_SLOT, manifestPath);
    if (!dataFolder.empty()) CheckPath("DataFolder", dataFolder);
  }

  void CheckNumber(const char* key) {
    std::string v = Value(MANIFEST_SECTION_UPDATE, key, FIELD_SLOT, manifestPath);
    if (v.empty()) return;
    size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) i++;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) i++;
    if (i >= v.size() || v[i] < '0' || v[i] > '9') Warning(key, "value '" + v + "' is not a number; it reads as 0");
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

  // Numbered lists end at the first absent key and hold at most 16
  // entries; keys behind either end are never read.
  int ListLength(const char* format) {
    bool present[KEY_NUMBERS];
    int length = KEY_NUMBERS;
    for (int i = 0; i < KEY_NUMBERS; i++) {
      present[i] = Present(MANIFEST_SECTION_UPDATE, Key(format, i), manifestPath);
      if (!present[i] && length == KEY_NUMBERS) length = i;
    }
    int read = length < MANIFEST_LIST_MAX ? length : MANIFEST_LIST_MAX;
    for (int i = read; i < KEY_NUMBERS; i++) {
      if (!present[i]) continue;
      if (i < length)
        Warning(Key(format, i), "never read: a list holds at most 16 entries");
      else
        Warning(Key(format, i), "never read: the list ends at the missing " + Key(format, length));
    }
    return read;
  }

  static std::string Key(const char* format, int i) {
    char key[32];
    snprintf(key, sizeof(key), format, i);
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

  // Which install modes an entry applies to: every one, one digit, or none.
  template <typename Item, typename Parse>
  EntryParse ParseAnyMode(const std::string& value, Parse parse, Item* item, int* mode) {
    EntryParse r = parse(value.c_str(), NO_MODE, item);
    *mode = NO_MODE;
    for (int m = 0; r == ENTRY_SKIPPED && m <= 9; m++) {
      EntryParse t = parse(value.c_str(), m, item);
      if (t != ENTRY_SKIPPED) {
        r = t;
        *mode = m;
      }
    }
    return r;
  }

  bool AppliesToGivenMode(int mode) { return instMode == NO_MODE || mode == NO_MODE || mode == instMode; }

  void CheckUpdateEntry(const std::string& key, const std::string& value) {
    UpdateItem item;
    memset(&item, 0, sizeof(item));
    int mode = NO_MODE;
    EntryParse r = ParseAnyMode(value, ParseUpdateEntry, &item, &mode);
    if (r == ENTRY_INVALID) {
      Error(key, "a field is longer than 259 bytes; the updater refuses the entry");
      return;
    }
    if (r == ENTRY_SKIPPED) return;  // cannot happen: a mode is one digit
    // Entries for other install modes are checked all the same: another
    // installation runs them.
    if (instMode != NO_MODE && AppliesToGivenMode(mode)) entriesForMode++;
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
    int mode = NO_MODE;
    EntryParse r = ParseAnyMode(value, ParseCopyEntry, &item, &mode);
    if (r == ENTRY_INVALID) {
      Error(key, "disk '" + value.substr(value.size() > 1 && value[1] == ',' ? 2 : 0, 1) +
                     "' is not a digit; the updater refuses the entry");
      return;
    }
    if (r == ENTRY_SKIPPED) {
      Warning(key, "install mode '" + value.substr(0, 1) + "' is not a digit: the entry applies to no installation");
      return;
    }
    bool applies = AppliesToGivenMode(mode);
    if (applies && instMode != NO_MODE) entriesForMode++;
    std::string path = item.relativePath;
    if (path.empty()) {
      Error(key, "the entry has no path");
      return;
    }
    CheckPath(key, path);
    if (item.diskNumber != 0) {
      if (!setupPath.empty()) {
        char diskKey[32];
        snprintf(diskKey, sizeof(diskKey), "DiskCheckFile%i", item.diskNumber);
        if (!Present(MANIFEST_SECTION_SETUP, diskKey, setupPath))
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
    CheckNumber("OverwriteOnly");
    int updates = ListLength("UpdateFile%02i");
    int copies = ListLength("CopyFile%02i");
    if (updates == 0 && copies == 0)
      Error("UpdateFile00", "neither UpdateFile00 nor CopyFile00 is present; the updater refuses the update");
    for (int i = 0; i < updates; i++) {
      std::string key = Key("UpdateFile%02i", i);
      CheckUpdateEntry(key, Value(MANIFEST_SECTION_UPDATE, key, UPDATE_VALUE_CAPACITY, manifestPath));
    }
    bool driveKnown = false;
    for (int i = 0; i < copies; i++) {
      std::string key = Key("CopyFile%02i", i);
      CheckCopyEntry(key, Value(MANIFEST_SECTION_UPDATE, key, COPY_VALUE_CAPACITY, manifestPath), &driveKnown);
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

// A private folder for the manifest (and SETUP.INI) while they are read,
// removed on every path.
struct ScratchFolder {
  fs::path path;
  ~ScratchFolder() {
    if (!path.empty()) {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  }
  bool Create(std::string* error) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = ".";
    for (int i = 0; i < 100; i++) {
      fs::path p = base / ("wz2-check-" + std::to_string(ProcessId()) + "-" + std::to_string(i));
      if (fs::create_directory(p, ec)) {
        path = p;
        return true;
      }
    }
    *error = "cannot create a temporary folder";
    return false;
  }
};

bool WriteScratch(const fs::path& path, const std::vector<uint8_t>& bytes, std::string* error) {
  PendingFile f;
  return f.Open(path, error) && f.Write(bytes.data(), bytes.size(), error) && f.Commit(nullptr, error);
}

}  // namespace

int CommandCheck(const std::vector<std::string>& args) {
  std::string source, setup;
  int instMode = NO_MODE;
  bool strict = false;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    if (a == "--setup" || a == "--inst-mode") {
      if (i + 1 >= args.size()) return UsageError(a + " needs a value");
      std::string v = args[++i];
      if (a == "--setup") {
        setup = v;
      } else {
        if (v.size() != 1 || v[0] < '0' || v[0] > '9') return UsageError("--inst-mode takes a digit 0-9");
        instMode = v[0] - '0';
      }
    } else if (a == "--strict") {
      strict = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option " + a);
    } else if (source.empty()) {
      source = a;
    } else {
      return UsageError("takes one archive or executable");
    }
  }
  if (source.empty()) return UsageError("missing ARCHIVE or EXE");

  ArchiveView view;
  std::string error;
  if (!LoadArchive(PathFromUtf8(source), &view, &error)) return Fail(error);
  // A damaged entry is the worst a player can meet: every entry is expanded
  // once before the manifest is looked at, and the manifest's bytes are
  // kept from that pass. A stored entry needs no copy to be checked.
  int manifest = FindEntry(view, MANIFEST_NAME);
  std::vector<uint8_t> manifestBytes;
  for (size_t i = 0; i < view.entries.size(); i++) {
    const EntryView& e = view.entries[i];
    const uint8_t* bytes = nullptr;
    std::vector<uint8_t> expanded;
    if (!EntryBytes(view, e, &bytes, &expanded, &error)) return Fail(error);
    if ((int)i == manifest) manifestBytes.assign(bytes, bytes + e.record.fileSize);
  }
  std::vector<uint8_t> setupBytes;
  if (!setup.empty() && !ReadFile(PathFromUtf8(setup), &setupBytes, &error)) return Fail(error);

  Checker c;
  c.view = &view;
  c.instMode = instMode;
  c.written.assign(view.entries.size(), false);
  if (manifest < 0) {
    c.Error(MANIFEST_NAME, "the archive holds no UPDATE.INI; the updater stops at start");
  } else {
    c.written[(size_t)manifest] = true;
    ScratchFolder scratch;
    if (!scratch.Create(&error) || !WriteScratch(scratch.path / MANIFEST_NAME, manifestBytes, &error)) return Fail(error);
    if (!setup.empty() && !WriteScratch(scratch.path / SETUP_NAME, setupBytes, &error)) return Fail(error);
#ifdef _WIN32
    std::string folder = scratch.path.string();
    c.manifestPath = folder + "\\" MANIFEST_NAME;
    if (!setup.empty()) c.setupPath = folder + "\\" SETUP_NAME;
#else
    // The updater's profile reader takes Windows paths; a drive letter of the
    // host layer stands for the scratch folder.
    host::MapDrive('W', PathToUtf8(scratch.path));
    c.manifestPath = "W:\\" MANIFEST_NAME;
    if (!setup.empty()) c.setupPath = "W:\\" SETUP_NAME;
#endif
    c.CheckSetupSection();
    c.CheckUpdateSection();
  }

  int errors = 0, warnings = 0;
  for (const Finding& f : c.findings) {
    bool isError = f.error || strict;
    (isError ? errors : warnings)++;
    Result(std::string(isError ? "error: " : "warning: ") + f.key + ": " + f.text);
  }
  if (!Quiet)
    fprintf(stderr, "%s: %d error%s, %d warning%s\n", source.c_str(), errors, errors == 1 ? "" : "s", warnings,
            warnings == 1 ? "" : "s");
  return errors ? EXIT_FAILED : EXIT_DONE;
}

}  // namespace wz2
