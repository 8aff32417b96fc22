// wz2 list ARCHIVE|EXE: one line per entry, in directory order.
#include "tools/wz2/options.h"
#include "tools/wz2/tool.h"

namespace wz2 {

int CommandList(const ParsedArgs& args) {
  const std::string& source = args.operands[0];
  ArchiveView view;
  std::string error;
  if (!LoadArchive(PathFromUtf8(source), &view, &error)) return Fail(error);
  // Every entry is expanded once before anything is listed, so that a
  // listing is also a proof that the updater can read each entry. A stored
  // entry is checked in place, without a copy.
  uint64_t total = 0;
  for (const EntryView& e : view.entries) total += e.record.fileSize;
  Progress progress("verifying", total);
  for (const EntryView& e : view.entries) {
    progress.Begin(e.display);
    const uint8_t* bytes = nullptr;
    std::vector<uint8_t> expanded;
    if (!EntryBytes(view, e, &bytes, &expanded, &error)) return Fail(error);
    progress.Advance(e.record.fileSize);
  }
  progress.Finish();
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
  return EXIT_DONE;
}

}  // namespace wz2
