// wz2 list ARCHIVE|EXE: one line per entry, in directory order.
#include "pack/icon.h"
#include "pack/version_info.h"
#include "tools/wz2/json.h"
#include "tools/wz2/options.h"
#include "tools/wz2/tool.h"

namespace wz2 {
namespace {

// What an executable says of itself beside its archive: how many icon
// images it carries and its version resource, when it has one.
struct ExecutableFacts {
  size_t icons = 0;
  bool hasVersion = false;
  version_info::Info version;
};

bool ReadExecutableFacts(const fs::path& path, ExecutableFacts* out, std::string* error) {
  std::vector<uint8_t> image;
  std::vector<pe::Resource> resources;
  if (!ReadFile(path, &image, error) || !pe::ReadResources(image, &resources, error)) return false;
  for (const pe::Resource& r : resources) {
    if (r.type.isString) continue;
    if (r.type.id == RT_ICON_ID) out->icons++;
    if (r.type.id == RT_VERSION_ID && !out->hasVersion) {
      if (!version_info::Read(r.data, &out->version, error)) return false;
      out->hasVersion = true;
    }
  }
  return true;
}

std::string VersionText(const uint16_t parts[4]) {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
         std::to_string(parts[3]);
}

std::string Json(const std::string& source, const ArchiveView& view, const ExecutableFacts& facts) {
  std::string entries;
  for (const EntryView& e : view.entries) {
    JsonObject o;
    o.Add("name", e.display).Add("method", e.compressed ? "compressed" : "stored");
    o.Add("size", (uint64_t)e.record.fileSize).Add("stored", (uint64_t)e.record.storedSize);
    o.Add("offset", (uint64_t)e.dataOffset).Add("time", FormatUtc(e.record.fileTime));
    entries += (entries.empty() ? "" : ", ") + o.Text();
  }
  JsonObject top;
  top.Add("source", source).Add("executable", view.fromExecutable).Raw("entries", "[" + entries + "]");
  if (view.fromExecutable) {
    top.Add("icons", (uint64_t)facts.icons);
    if (facts.hasVersion) {
      JsonObject strings;
      for (const auto& s : facts.version.strings) strings.Add(s.first.c_str(), s.second);
      JsonObject v;
      v.Add("fileVersion", VersionText(facts.version.fileVersion));
      v.Add("productVersion", VersionText(facts.version.productVersion));
      v.Add("table", facts.version.table).Raw("strings", strings.Text());
      top.Raw("versionInfo", v.Text());
    } else {
      top.Raw("versionInfo", "null");
    }
  }
  return top.Text();
}

}  // namespace

int CommandList(const ParsedArgs& args) {
  const std::string& source = args.operands[0];
  ArchiveView view;
  std::string error;
  if (!LoadArchive(PathFromUtf8(source), &view, &error)) return Fail(error);
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
  if (view.fromExecutable && !ReadExecutableFacts(PathFromUtf8(source), &facts, &error)) return Fail(source + ": " + error);
  if (args.Has("--json")) {
    Result(Json(source, view, facts));
    return EXIT_DONE;
  }
  char line[512];
  snprintf(line, sizeof(line), "%-14s  %-10s  %10s  %10s  %10s  %s", "NAME", "METHOD", "SIZE", "STORED", "OFFSET",
           "TIME (UTC)");
  Result(line);
  for (const EntryView& e : view.entries) {
    // Pad by the code page 932 length: one byte is one column, a double-byte
    // character two, so the columns line up on a terminal.
    std::string name = e.display;
    if (e.name.size() < 14) name.append(14 - e.name.size(), ' ');
    snprintf(line, sizeof(line), "%s  %-10s  %10u  %10u  %10llu  %s", name.c_str(),
             e.compressed ? "compressed" : "stored", (unsigned)e.record.fileSize, (unsigned)e.record.storedSize,
             (unsigned long long)e.dataOffset, FormatUtc(e.record.fileTime).c_str());
    Result(line);
  }
  // An executable's icon and version follow the entries, so that a listing
  // of an updater without them reads as its archive's listing does.
  if (facts.icons) Result("icon: " + std::to_string(facts.icons) + " image" + (facts.icons == 1 ? "" : "s"));
  if (facts.hasVersion) {
    Result("version: " + VersionText(facts.version.fileVersion) + " (product " +
           VersionText(facts.version.productVersion) + "), strings " + facts.version.table);
    for (const auto& s : facts.version.strings) {
      std::string key = s.first;
      // The longest key the tool writes, OriginalFilename, still leaves
      // two blanks before its value.
      key.append(key.size() < 18 ? 18 - key.size() : 1, ' ');
      Result("  " + key + s.second);
    }
  }
  return EXIT_DONE;
}

}  // namespace wz2
