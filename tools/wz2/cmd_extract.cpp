// wz2 extract ARCHIVE|EXE [-C DIR] [NAME...]: writes entries as files, each
// stamped with its archive time. Every selected entry is expanded and
// written to a temporary file first; only when all of them succeeded are
// they renamed into place, so a damaged archive leaves no file behind.
#include <unordered_map>
#include <unordered_set>

#include "pack/names.h"
#include "tools/wz2/archive_view.h"
#include "tools/wz2/commands.h"
#include "tools/wz2/files.h"
#include "tools/wz2/messages.h"
#include "tools/wz2/name_rules.h"
#include "tools/wz2/options.h"
#include "tools/wz2/pending_file.h"
#include "tools/wz2/progress.h"

namespace wz2 {

namespace {

// Expanded stretches into the pending file; the first write error stops the
// writing and is the one reported.
struct WriteThrough {
  PendingFile* file;
  std::string* error;
  bool ok;
  static void Take(void* context, const uint8_t* bytes, size_t size) {
    WriteThrough* to = static_cast<WriteThrough*>(context);
    to->ok = to->ok && to->file->Write(bytes, size, to->error);
  }
};

// Which entries: the named ones (looked up as the updater looks names up),
// or all of them, the first of names that differ only in case. EXIT_DONE,
// or the status to return.
int SelectEntries(const ArchiveView& view, const std::string& source, const std::vector<std::string>& wanted,
                  std::vector<size_t>* selected) {
  if (!wanted.empty()) {
    std::unordered_set<size_t> chosen;
    for (const std::string& w : wanted) {
      std::string cp932;
      int index = names::Utf8ToCp932(w, &cp932) ? FindEntry(view, cp932) : -1;
      if (index < 0) return Fail("no entry named " + w + " in " + source);
      if (chosen.insert((size_t)index).second) selected->push_back((size_t)index);
    }
    return EXIT_DONE;
  }
  for (size_t i = 0; i < view.entries.size(); i++) {
    int first = FindEntry(view, view.entries[i].name);
    if (first != (int)i) {
      // Two codes of one character (the NEC and IBM copies) make one file
      // name: which entry that file should hold cannot be told.
      const EntryView& a = view.entries[(size_t)first];
      const EntryView& b = view.entries[i];
      std::string ua, ub;
      if (a.name != b.name && names::Cp932ToUtf8(a.name, &ua) && names::Cp932ToUtf8(b.name, &ub) && ua == ub)
        return Fail("entries " + a.display + " and " + b.display + " are two codes of one file name");
      Warn("skipping " + view.entries[i].display + ": an earlier entry has the same name");
      continue;
    }
    selected->push_back(i);
  }
  return EXIT_DONE;
}

// A folder (or anything but a file) where an entry goes would stop the
// renames half way; it is found before anything is written. So are two
// entries the updater tells apart whose names decode to one file name:
// the second would silently replace the first.
int CheckTargets(const ArchiveView& view, const std::vector<size_t>& selected, const fs::path& dir) {
  std::unordered_map<std::string, size_t> files;
  std::error_code ec;
  for (size_t s : selected) {
    std::string utf8;
    if (!names::Cp932ToUtf8(view.entries[s].name, &utf8)) continue;  // refused when it is written
    auto first = files.emplace(utf8, s);
    if (!first.second)
      return Fail("entries " + view.entries[first.first->second].display + " and " + view.entries[s].display +
                  " decode to the same file name");
    fs::path target = dir / PathFromUtf8(utf8);
    if (fs::exists(fs::symlink_status(target, ec)) && !fs::is_regular_file(fs::symlink_status(target, ec)))
      return Fail(PathToUtf8(target) + ": exists and is not a regular file");
  }
  return EXIT_DONE;
}

// Writes one entry into a pending file in dir, closed but not yet in place.
// Stored entries are written straight from the mapped archive, and a
// compressed one as it expands, through a window: no entry is held whole.
int WriteEntry(const ArchiveView& view, const EntryView& e, const fs::path& dir, PendingFile* file) {
  std::string utf8, why, error;
  if (!names::Cp932ToUtf8(e.name, &utf8)) return Fail("entry " + e.display + ": name is not valid code page 932");
  if (!SafeFileName(utf8, &why)) return Fail("entry " + e.display + ": name " + why);
  file->SetDurable(false);
  if (!file->Open(dir / PathFromUtf8(utf8), &error)) return Fail(error);
  bool written;
  if (e.compressed) {
    WriteThrough to{file, &error, true};
    written = EntryThrough(view, e, WriteThrough::Take, &to, &error) && to.ok;
  } else {
    const uint8_t* bytes = nullptr;
    written = EntryData(view, e, &bytes, &error);
#ifndef _WIN32
    if (written)
      written = file->CopyRange(view.file.Descriptor(), view.base + e.dataOffset, bytes, e.record.fileSize, &error);
    else
#endif
      written = written && file->Write(bytes, e.record.fileSize, &error);
  }
  if (!written || !file->Close(&error)) return Fail(error);
  return EXIT_DONE;
}

}  // namespace

int CommandExtract(const ParsedArgs& args) {
  const std::string& source = args.operands[0];
  std::string directory = args.Has("-C") ? args.Value("-C") : ".";
  std::vector<std::string> wanted(args.operands.begin() + 1, args.operands.end());
  ArchiveView view;
  std::string error;
  if (!LoadArchive(PathFromUtf8(source), &view, &error)) return Fail(error);
  // What the updater would refuse to install is not handed out as files.
  if (view.check == ArchiveView::Check::Damaged) return Fail(DamagedExecutableText(source));

  fs::path dir = PathFromUtf8(directory);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Fail(directory + ": no such directory");

  std::vector<size_t> selected;
  int status = SelectEntries(view, source, wanted, &selected);
  if (status == EXIT_DONE) status = CheckTargets(view, selected, dir);
  if (status != EXIT_DONE) return status;

  uint64_t total = 0;
  for (size_t s : selected) total += view.entries[s].record.fileSize;
  Progress progress("extracting", total);
  std::vector<PendingFile> pending;
  for (size_t s : selected) {
    const EntryView& e = view.entries[s];
    progress.Begin(e.display);
    PendingFile file;
    status = WriteEntry(view, e, dir, &file);
    if (status != EXIT_DONE) return status;
    pending.push_back(std::move(file));
    progress.Advance(e.record.fileSize);
  }
  // Every entry is written and closed: only now does any of them go into place.
  for (size_t i = 0; i < pending.size(); i++) {
    const EntryView& e = view.entries[selected[i]];
    if (!pending[i].Commit(&e.record.fileTime, &error)) return Fail(error);
  }
  progress.Finish();
  if (!Quiet)
    for (size_t s : selected) Result(view.entries[s].display);
  return EXIT_DONE;
}

}  // namespace wz2
