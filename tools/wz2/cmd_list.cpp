// wz2 list ARCHIVE|EXE: one line per entry, in directory order.
#include <unordered_set>

#include "pack/icon.h"
#include "pack/version_info.h"
#include "tools/wz2/archive_view.h"
#include "tools/wz2/commands.h"
#include "tools/wz2/display.h"
#include "tools/wz2/file_time.h"
#include "tools/wz2/files.h"
#include "tools/wz2/json.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/options.h"
#include "tools/wz2/progress.h"

namespace wz2 {
namespace {

// What an executable says of itself beside its archive: how many icon
// images it carries and its version resource, when it has one.
struct ExecutableFacts {
  size_t icons = 0;
  bool hasVersion = false;
  version_info::Info version;
};

// Read from the executable the view has mapped: the resource tree is walked
// without copying any resource, and only the version resource's bytes are
// taken out (the archive among the others stays where it is).
bool ReadExecutableFacts(const ArchiveView& view, ExecutableFacts* out, std::string* error) {
  pe::ImageView image(view.file.Data(), (size_t)view.file.Size());
  std::vector<pe::Resource> resources;
  std::vector<std::pair<size_t, size_t>> spans;
  if (!pe::ReadResourceSpans(image, &resources, &spans, error)) return false;
  for (size_t i = 0; i < resources.size(); i++) {
    const pe::Resource& r = resources[i];
    if (r.type.isString) continue;
    if (r.type.id == RT_ICON_ID) out->icons++;
    if (r.type.id == RT_VERSION_ID && !out->hasVersion) {
      const uint8_t* at = image.begin() + spans[i].first;
      if (!version_info::Read(std::vector<uint8_t>(at, at + spans[i].second), &out->version, error)) return false;
      out->hasVersion = true;
    }
  }
  return true;
}

std::string VersionText(const uint16_t parts[4]) {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
         std::to_string(parts[3]);
}

std::string CrcText(uint32_t crc) {
  char hex[16];
  snprintf(hex, sizeof(hex), "%08X", (unsigned)crc);
  return hex;
}

// The listing is written an entry at a time, never built whole: a directory
// of tens of thousands of records makes megabytes of it.
void PrintJson(const std::string& source, const ArchiveView& view, const ExecutableFacts& facts) {
  Print(stdout, "{" + JsonObject().Add("source", source).Add("executable", view.fromExecutable).Fields() +
                    ", \"entries\": [");
  bool first = true;
  for (const EntryView& e : view.entries) {
    JsonObject o;
    // The name as the listing shows it, and its bytes: two names never
    // share both, and scripts get the name back exactly from the second.
    o.Add("name", e.display).Add("bytes", HexBytes(e.name)).Add("method", e.compressed ? "compressed" : "stored");
    o.Add("size", (uint64_t)e.record.fileSize).Add("stored", (uint64_t)e.record.storedSize);
    o.Add("offset", (uint64_t)e.dataOffset).Add("time", FormatUtc(e.record.fileTime));
    Print(stdout, (first ? "" : ", ") + o.Text());
    first = false;
  }
  JsonObject tail;
  if (view.fromExecutable) {
    // Only a matching record gets this far: list refuses a damaged one.
    if (view.check == ArchiveView::Check::Matches) {
      tail.Raw("archiveCheck",
               JsonObject().Add("method", "crc32").Add("value", CrcText(view.crc)).Add("matches", true).Text());
    } else {
      tail.Raw("archiveCheck", "null");
    }
    tail.Add("icons", (uint64_t)facts.icons);
    if (facts.hasVersion) {
      // strings has one member per key, the first of its name, which is the
      // one Windows finds; records is every string in the table's order, so
      // that a key a table holds twice shows twice (two members of one name
      // would leave all but one to the reader's choice).
      JsonObject strings;
      std::string records;
      std::unordered_set<std::string> keys;
      for (const auto& s : facts.version.strings) {
        if (keys.insert(s.first).second) strings.Add(s.first.c_str(), s.second);
        records += (records.empty() ? "" : ", ") + JsonObject().Add("key", s.first).Add("value", s.second).Text();
      }
      JsonObject v;
      v.Add("fileVersion", VersionText(facts.version.fileVersion));
      v.Add("productVersion", VersionText(facts.version.productVersion));
      v.Add("table", facts.version.table).Raw("strings", strings.Text()).Raw("records", "[" + records + "]");
      tail.Raw("versionInfo", v.Text());
    } else {
      tail.Raw("versionInfo", "null");
    }
  }
  Print(stdout, "]" + (tail.Fields().empty() ? "" : ", " + tail.Fields()) + "}\n");
}

void PrintTable(const ArchiveView& view, const ExecutableFacts& facts) {
  char line[512];
  snprintf(line, sizeof(line), "%-14s  %-10s  %10s  %10s  %10s  %s", "NAME", "METHOD", "SIZE", "STORED", "OFFSET",
           "TIME (UTC)");
  Result(line);
  for (const EntryView& e : view.entries) {
    // Padded by the columns the name takes on a terminal, so that the
    // columns line up.
    std::string name = e.display;
    size_t columns = ShownColumns(name);
    if (columns < 14) name.append(14 - columns, ' ');
    snprintf(line, sizeof(line), "%s  %-10s  %10u  %10u  %10llu  %s", name.c_str(),
             e.compressed ? "compressed" : "stored", (unsigned)e.record.fileSize, (unsigned)e.record.storedSize,
             (unsigned long long)e.dataOffset, FormatUtc(e.record.fileTime).c_str());
    Result(line);
  }
  // An executable's icon and version follow the entries, so that a listing
  // of an updater without them reads as its archive's listing does.
  if (view.check == ArchiveView::Check::Matches) Result("check: CRC-32 " + CrcText(view.crc) + ", matches the archive");
  if (facts.icons) Result("icon: " + std::to_string(facts.icons) + " image" + (facts.icons == 1 ? "" : "s"));
  if (facts.hasVersion) {
    Result("version: " + VersionText(facts.version.fileVersion) + " (product " +
           VersionText(facts.version.productVersion) + "), strings " + ShownText(facts.version.table));
    for (const auto& s : facts.version.strings) {
      std::string key = ShownText(s.first);
      // The longest key the tool writes, OriginalFilename, still leaves two
      // blanks before its value.
      size_t columns = ShownColumns(key);
      key.append(columns < 18 ? 18 - columns : 1, ' ');
      Result("  " + key + ShownText(s.second));
    }
  }
}

}  // namespace

int CommandList(const ParsedArgs& args) {
  const std::string& source = args.operands[0];
  ArchiveView view;
  std::string error;
  if (!LoadArchive(PathFromUtf8(source), &view, &error)) return Fail(error);
  if (view.check == ArchiveView::Check::Damaged) return Fail(DamagedExecutableText(source));
  // Every entry is expanded once before anything is listed, so that a
  // listing is also a proof that the updater can read each entry. A stored
  // entry is checked in place, a compressed one through a window of 1 MiB.
  uint64_t total = 0;
  for (const EntryView& e : view.entries) total += e.record.fileSize;
  Progress progress("verifying", total);
  for (const EntryView& e : view.entries) {
    progress.Begin(e.display);
    if (!EntryThrough(view, e, nullptr, nullptr, &error)) return Fail(error);
    progress.Advance(e.record.fileSize);
  }
  progress.Finish();
  ExecutableFacts facts;
  if (view.fromExecutable && !ReadExecutableFacts(view, &facts, &error)) return Fail(source + ": " + error);
  if (args.Has("--json")) PrintJson(source, view, facts);
  else PrintTable(view, facts);
  return EXIT_DONE;
}

}  // namespace wz2
