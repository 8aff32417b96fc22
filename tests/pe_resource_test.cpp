// Resource reading and rewriting on executables built in code (PE32 and
// PE32+): the archive resource must be found by the reader the updater's
// loader stands for, every other resource and every other byte of the image
// must survive, and the headers must describe the rewritten file.
#include "pack/pe_resource.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "archive/bytes.h"
#include "cli/pe_fixture.h"

namespace {

using pe_fixture::Get16;
using pe_fixture::Get32;
using pe_fixture::Put16;
using pe_fixture::Put32;

const uint32_t kHigh = 0x80000000u;

// A hand-made tree at RVA 0x2000: "UPDATE"/102/1041 holding "old archive"
// and 16/1/1033 (a version resource) holding "version", code page 1252.
std::vector<uint8_t> HandMadeTree() {
  std::vector<uint8_t> t(0xD8, 0);
  Put16(t, 0x0C, 1);  // root: one named, one id entry
  Put16(t, 0x0E, 1);
  Put32(t, 0x10, 0xB0 | kHigh);
  Put32(t, 0x14, 0x20 | kHigh);
  Put32(t, 0x18, 16);
  Put32(t, 0x1C, 0x38 | kHigh);
  Put16(t, 0x2E, 1);  // names of "UPDATE"
  Put32(t, 0x30, 102);
  Put32(t, 0x34, 0x50 | kHigh);
  Put16(t, 0x46, 1);  // names of type 16
  Put32(t, 0x48, 1);
  Put32(t, 0x4C, 0x68 | kHigh);
  Put16(t, 0x5E, 1);  // languages of UPDATE/102
  Put32(t, 0x60, 1041);
  Put32(t, 0x64, 0x80);
  Put16(t, 0x76, 1);  // languages of 16/1
  Put32(t, 0x78, 1033);
  Put32(t, 0x7C, 0x90);
  Put32(t, 0x80, pe_fixture::kResourceRva + 0xC0);
  Put32(t, 0x84, 11);
  Put32(t, 0x90, pe_fixture::kResourceRva + 0xD0);
  Put32(t, 0x94, 7);
  Put32(t, 0x98, 1252);
  Put16(t, 0xB0, 6);
  const char* type = "UPDATE";
  for (int i = 0; i < 6; i++) Put16(t, 0xB2 + 2 * (size_t)i, (uint16_t)type[i]);
  memcpy(&t[0xC0], "old archive", 11);
  memcpy(&t[0xD0], "version", 7);
  return t;
}

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    b[i] = (uint8_t)(seed >> 16);
  }
  return b;
}

pe::Resource ArchiveResource(const std::vector<uint8_t>& data) {
  pe::Resource r;
  r.type = pe::KeyString("UPDATE");
  r.name = pe::KeyId(102);
  r.language = 1041;
  r.data = data;
  return r;
}

std::vector<uint8_t> ArchiveOf(const std::vector<uint8_t>& exe) {
  std::vector<uint8_t> data;
  std::string error;
  EXPECT_TRUE(pe::FindResourceData(exe, pe::KeyString("UPDATE"), pe::KeyId(102), &data, &error)) << error;
  return data;
}

struct Headers {
  uint16_t sections;
  uint32_t sizeOfImage, initializedData, checksum, resourceRva, resourceSize, symbols;
};

Headers Read(const std::vector<uint8_t>& f, bool plus) {
  size_t opt = pe_fixture::OptionalOffset();
  size_t dirs = pe_fixture::DataDirectories(plus);
  return {Get16(f, pe_fixture::kPeOffset + 6), Get32(f, opt + 56), Get32(f, opt + 8), Get32(f, opt + 64),
          Get32(f, dirs + 16), Get32(f, dirs + 20), Get32(f, pe_fixture::kPeOffset + 12)};
}

// The header facts that must hold after any rewrite: SizeOfImage covers the
// last section, every section's file data is inside the file, and the
// checksum is the one the platform computes.
void ExpectConsistent(const std::vector<uint8_t>& f, bool plus) {
  Headers h = Read(f, plus);
  uint32_t end = 0;
  for (uint16_t i = 0; i < h.sections; i++) {
    size_t s = pe_fixture::SectionTable(plus) + 40 * (size_t)i;
    uint32_t vsize = Get32(f, s + 8), va = Get32(f, s + 12), raw = Get32(f, s + 16), ptr = Get32(f, s + 20);
    end = std::max(end, va + pe_fixture::Align(vsize, pe_fixture::kSectionAlign));
    EXPECT_LE((uint64_t)ptr + raw, f.size()) << "section " << i;
    EXPECT_EQ(raw % pe_fixture::kFileAlign, 0u) << "section " << i;
    EXPECT_EQ(ptr % pe_fixture::kFileAlign, 0u) << "section " << i;
  }
  EXPECT_EQ(h.sizeOfImage, end);
  EXPECT_EQ(h.checksum, pe::ImageChecksum(f, pe_fixture::OptionalOffset() + 64));
  EXPECT_NE(h.checksum, 0u);
}

class BothKinds : public ::testing::TestWithParam<bool> {};

TEST_P(BothKinds, AddsTheArchiveAsANewSectionToAnExecutableWithoutResources) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  std::vector<uint8_t> archive = Bytes(5000, 1);
  std::string error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(archive), &out, &error)) << error;
  EXPECT_EQ(ArchiveOf(out), archive);
  Headers before = Read(exe, o.pe32Plus), after = Read(out, o.pe32Plus);
  EXPECT_EQ(after.sections, before.sections + 1);
  EXPECT_EQ(after.resourceRva, 0x2000u);
  EXPECT_EQ(after.initializedData - before.initializedData, pe_fixture::Align(after.resourceSize, 0x200));
  ExpectConsistent(out, o.pe32Plus);
  // The code section's bytes are where they were.
  size_t codeAt = Get32(exe, pe_fixture::SectionTable(o.pe32Plus) + 20);
  EXPECT_TRUE(std::equal(exe.begin() + (ptrdiff_t)codeAt, exe.begin() + (ptrdiff_t)codeAt + 0x200,
                         out.begin() + (ptrdiff_t)codeAt));
}

TEST_P(BothKinds, ReplacesTheArchiveAndKeepsEveryOtherResource) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.resources = HandMadeTree();
  o.sectionAfterResources = true;
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  EXPECT_EQ(ArchiveOf(exe), std::vector<uint8_t>({'o', 'l', 'd', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'}));
  std::vector<uint8_t> archive = Bytes(300, 2);
  std::string error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(archive), &out, &error)) << error;
  std::vector<pe::Resource> all;
  ASSERT_TRUE(pe::ReadResources(out, &all, &error)) << error;
  ASSERT_EQ(all.size(), 2u);
  // Named types come before numbered ones.
  EXPECT_TRUE(pe::SameKey(all[0].type, pe::KeyString("UPDATE")));
  EXPECT_EQ(all[0].language, 1041);
  EXPECT_EQ(all[0].data, archive);
  EXPECT_TRUE(pe::SameKey(all[1].type, pe::KeyId(16)));
  EXPECT_EQ(all[1].language, 1033);
  EXPECT_EQ(all[1].codePage, 1252u);
  EXPECT_EQ(std::string(all[1].data.begin(), all[1].data.end()), "version");
  ExpectConsistent(out, o.pe32Plus);
}

TEST_P(BothKinds, RebuildsInPlaceWhenTheTreeFitsTheOldSection) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.resources = HandMadeTree();
  o.resourceRawSize = 0x1000;
  o.sectionAfterResources = true;
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  std::string error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(Bytes(1000, 3)), &out, &error)) << error;
  Headers before = Read(exe, o.pe32Plus), after = Read(out, o.pe32Plus);
  EXPECT_EQ(after.sections, before.sections);
  EXPECT_EQ(after.resourceRva, pe_fixture::kResourceRva);
  EXPECT_EQ(out.size(), exe.size());
  EXPECT_EQ(after.initializedData, before.initializedData);
  EXPECT_EQ(ArchiveOf(out), Bytes(1000, 3));
  ExpectConsistent(out, o.pe32Plus);
}

TEST_P(BothKinds, AddsASectionWhenTheOldOneCannotGrowBeforeTheNext) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.resources = HandMadeTree();
  o.sectionAfterResources = true;
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  std::string error;
  std::vector<uint8_t> archive = Bytes(70000, 4);
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(archive), &out, &error)) << error;
  Headers before = Read(exe, o.pe32Plus), after = Read(out, o.pe32Plus);
  EXPECT_EQ(after.sections, before.sections + 1);
  EXPECT_GT(after.resourceRva, 0x3000u);  // behind .reloc
  EXPECT_EQ(ArchiveOf(out), archive);
  // .reloc is untouched, in memory and in the file.
  size_t reloc = pe_fixture::SectionTable(o.pe32Plus) + 2 * 40;
  EXPECT_TRUE(std::equal(exe.begin() + (ptrdiff_t)reloc, exe.begin() + (ptrdiff_t)reloc + 40, out.begin() + (ptrdiff_t)reloc));
  ExpectConsistent(out, o.pe32Plus);
}

TEST_P(BothKinds, GrowsALastResourceSectionAndKeepsTheBytesBehindIt) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.resources = HandMadeTree();
  o.overlay = Bytes(100, 5);
  uint32_t overlayAt = 0;
  {
    std::vector<uint8_t> probe = pe_fixture::Build(o);
    overlayAt = (uint32_t)(probe.size() - o.overlay.size());
  }
  o.symbolPointer = overlayAt;  // a symbol table behind the sections
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  std::string error;
  std::vector<uint8_t> archive = Bytes(20000, 6);
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(archive), &out, &error)) << error;
  Headers after = Read(out, o.pe32Plus);
  EXPECT_EQ(after.sections, 2);
  EXPECT_EQ(after.resourceRva, pe_fixture::kResourceRva);
  ASSERT_GE(out.size(), o.overlay.size());
  EXPECT_TRUE(std::equal(o.overlay.begin(), o.overlay.end(), out.end() - (ptrdiff_t)o.overlay.size()));
  EXPECT_EQ(after.symbols, out.size() - o.overlay.size());
  EXPECT_EQ(ArchiveOf(out), archive);
  ExpectConsistent(out, o.pe32Plus);
}

TEST_P(BothKinds, RefusesASignedTemplateAndSaysToSignAfterwards) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.overlay = Bytes(64, 7);
  o.securityOffset = 0x600;
  o.securitySize = 64;
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  std::string error;
  EXPECT_FALSE(pe::ReplaceResource(exe, ArchiveResource(Bytes(10, 8)), &out, &error));
  EXPECT_NE(error.find("sign"), std::string::npos) << error;
  EXPECT_TRUE(out.empty());
}

TEST_P(BothKinds, RewritingTwiceGivesTheSameBytes) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.resources = HandMadeTree();
  std::vector<uint8_t> exe = pe_fixture::Build(o), once, twice;
  std::string error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(Bytes(3000, 9)), &once, &error)) << error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(Bytes(3000, 9)), &twice, &error)) << error;
  EXPECT_EQ(once, twice);
  // Replacing the archive of a built executable again leaves one archive.
  std::vector<uint8_t> again;
  ASSERT_TRUE(pe::ReplaceResource(once, ArchiveResource(Bytes(10, 10)), &again, &error)) << error;
  std::vector<pe::Resource> all;
  ASSERT_TRUE(pe::ReadResources(again, &all, &error)) << error;
  EXPECT_EQ(all.size(), 2u);
  EXPECT_EQ(ArchiveOf(again), Bytes(10, 10));
}

// The resource section of a template that holds more than the tree (an
// import table behind it, reached by its directory and by code at its
// address): the rewrite keeps that section byte for byte and puts the tree
// into a new one, whether the old section could have been rebuilt in place
// or grown, and whether the directory, the bytes or both give it away.
TEST_P(BothKinds, DataBehindTheTreeInItsSectionKeepsItsBytesAndAddress) {
  struct Case {
    const char* what;
    bool directory, bytes, sectionAfter;
  };
  const Case cases[] = {
      {"an import table behind the tree, section last", true, true, false},
      {"an import table behind the tree, a section after it", true, true, true},
      {"bytes no directory names", false, true, false},
      {"a directory into zero bytes", true, false, true},
  };
  const uint32_t kImportAt = 0x100, kImportSize = 0x40;
  for (const Case& c : cases) {
    pe_fixture::Options o;
    o.pe32Plus = GetParam();
    o.resources = HandMadeTree();
    o.resources.resize(kImportAt + kImportSize, 0);
    if (c.bytes) std::fill(o.resources.begin() + kImportAt, o.resources.end(), 0x5A);
    o.sectionAfterResources = c.sectionAfter;
    std::vector<uint8_t> exe = pe_fixture::Build(o), out;
    size_t directories = pe_fixture::DataDirectories(o.pe32Plus);
    if (c.directory) {
      Put32(exe, directories + 8, pe_fixture::kResourceRva + kImportAt);
      Put32(exe, directories + 12, kImportSize);
    }
    std::string error;
    ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(Bytes(100, 11)), &out, &error)) << c.what << ": " << error;
    EXPECT_EQ(ArchiveOf(out), Bytes(100, 11)) << c.what;
    EXPECT_NE(Read(out, o.pe32Plus).resourceRva, pe_fixture::kResourceRva) << c.what << ": the tree moved";
    // The old section, its header and its file data, is as it was.
    size_t header = pe_fixture::SectionTable(o.pe32Plus) + 40;
    ASSERT_TRUE(std::equal(exe.begin() + (ptrdiff_t)header, exe.begin() + (ptrdiff_t)header + 40,
                           out.begin() + (ptrdiff_t)header))
        << c.what;
    uint32_t raw = Get32(exe, header + 20), rawSize = Get32(exe, header + 16);
    EXPECT_TRUE(std::equal(exe.begin() + raw, exe.begin() + raw + rawSize, out.begin() + raw)) << c.what;
    EXPECT_TRUE(pe::SameDataDirectories(exe, out, &error)) << c.what << ": " << error;
    ExpectConsistent(out, o.pe32Plus);
  }
}

// Without room for another section header such a template is refused, and
// the reason names what the section holds.
TEST_P(BothKinds, DataBehindTheTreeWithoutRoomForANewSectionIsRefusedByName) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.resources = HandMadeTree();
  o.resources.resize(0x140, 0);
  o.sectionAfterResources = true;  // three section headers fill the headers' last 0x200
  o.extraHeaderRoom = 0;
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  Put32(exe, pe_fixture::DataDirectories(o.pe32Plus) + 8, pe_fixture::kResourceRva + 0x100);
  Put32(exe, pe_fixture::DataDirectories(o.pe32Plus) + 12, 0x40);
  std::string error;
  EXPECT_FALSE(pe::ReplaceResource(exe, ArchiveResource(Bytes(100, 12)), &out, &error));
  EXPECT_NE(error.find("import table"), std::string::npos) << error;
  EXPECT_TRUE(out.empty());
}

// The read-back's comparison: a directory moved, or its bytes changed, in
// what a rewrite made is found and named.
TEST_P(BothKinds, TheReadBackFindsEveryDataDirectoryMovedOrChanged) {
  pe_fixture::Options o;
  o.pe32Plus = GetParam();
  o.resources = HandMadeTree();
  o.sectionAfterResources = true;  // .reloc, its bytes 0xAB, at 0x3000
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  size_t relocations = pe_fixture::DataDirectories(o.pe32Plus) + 5 * 8;
  Put32(exe, relocations, 0x3000);
  Put32(exe, relocations + 4, 0x80);
  std::string error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(Bytes(100, 13)), &out, &error)) << error;
  ASSERT_TRUE(pe::SameDataDirectories(exe, out, &error)) << error;
  std::vector<uint8_t> moved = out, changed = out;
  Put32(moved, relocations, 0x3004);
  uint32_t relocRaw = Get32(out, pe_fixture::SectionTable(o.pe32Plus) + 2 * 40 + 20);
  changed[relocRaw + 0x7F] ^= 1;
  for (const std::vector<uint8_t>* bad : {&moved, &changed}) {
    EXPECT_FALSE(pe::SameDataDirectories(exe, *bad, &error));
    EXPECT_NE(error.find("base relocations"), std::string::npos) << error;
  }
}

// Bound imports stand right behind the section table, in the headers: a
// rewrite in place keeps them, and one that needs a new section header
// there is refused rather than writing the header over them.
TEST_P(BothKinds, BoundImportsBehindTheSectionTableAreKeptOrTheRewriteRefused) {
  struct Case {
    size_t archive;
    bool builds;
  };
  for (const Case& c : {Case{1000, true}, Case{70000, false}}) {
    pe_fixture::Options o;
    o.pe32Plus = GetParam();
    o.resources = HandMadeTree();
    o.resourceRawSize = 0x1000;
    o.sectionAfterResources = true;
    std::vector<uint8_t> exe = pe_fixture::Build(o), out;
    uint32_t bound = (uint32_t)(pe_fixture::SectionTable(o.pe32Plus) + 3 * 40);
    std::fill(exe.begin() + bound, exe.begin() + bound + 0x20, 0x77);
    Put32(exe, pe_fixture::DataDirectories(o.pe32Plus) + 11 * 8, bound);
    Put32(exe, pe_fixture::DataDirectories(o.pe32Plus) + 11 * 8 + 4, 0x20);
    std::string error;
    EXPECT_EQ(pe::ReplaceResource(exe, ArchiveResource(Bytes(c.archive, 15)), &out, &error), c.builds) << c.archive;
    if (c.builds) {
      EXPECT_TRUE(pe::SameDataDirectories(exe, out, &error)) << error;
      EXPECT_EQ(ArchiveOf(out), Bytes(c.archive, 15));
    } else {
      EXPECT_NE(error.find("bound imports"), std::string::npos) << error;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Pe, BothKinds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Pe32Plus" : "Pe32"; });

TEST(ResourceTree, NamedEntriesPrecedeIdsAndEachGroupIsSorted) {
  pe_fixture::Options o;
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  std::vector<pe::Resource> in;
  const char* names[] = {"ZED", "ALPHA", "UPDATE"};
  for (const char* n : names) {
    pe::Resource r;
    r.type = pe::KeyString(n);
    r.name = pe::KeyId(1);
    r.data = {1};
    in.push_back(r);
  }
  for (uint16_t id : {24, 3, 16}) {
    pe::Resource r;
    r.type = pe::KeyId(id);
    r.name = pe::KeyId(1);
    r.data = {2};
    in.push_back(r);
  }
  std::string error;
  ASSERT_TRUE(pe::WriteResources(exe, in, &out, &error)) << error;
  std::vector<pe::Resource> back;
  ASSERT_TRUE(pe::ReadResources(out, &back, &error)) << error;
  ASSERT_EQ(back.size(), 6u);
  EXPECT_TRUE(pe::SameKey(back[0].type, pe::KeyString("ALPHA")));
  EXPECT_TRUE(pe::SameKey(back[1].type, pe::KeyString("UPDATE")));
  EXPECT_TRUE(pe::SameKey(back[2].type, pe::KeyString("ZED")));
  EXPECT_EQ(back[3].type.id, 3);
  EXPECT_EQ(back[4].type.id, 16);
  EXPECT_EQ(back[5].type.id, 24);
  // The root directory counts them as the loader expects: 3 named, 3 ids.
  Headers h = Read(out, false);
  size_t root = 0;
  for (uint16_t i = 0; i < h.sections; i++) {
    size_t s = pe_fixture::SectionTable(false) + 40 * (size_t)i;
    if (Get32(out, s + 12) == h.resourceRva) root = Get32(out, s + 20);
  }
  ASSERT_NE(root, 0u);
  EXPECT_EQ(Get16(out, root + 12), 3);
  EXPECT_EQ(Get16(out, root + 14), 3);
}

TEST(ResourceTree, PrefersTheJapaneseLanguageWhenSeveralAreThere) {
  pe_fixture::Options o;
  std::vector<uint8_t> exe = pe_fixture::Build(o), out;
  std::vector<pe::Resource> in{ArchiveResource({1, 1}), ArchiveResource({2, 2})};
  in[0].language = 1033;
  std::string error;
  ASSERT_TRUE(pe::WriteResources(exe, in, &out, &error)) << error;
  EXPECT_EQ(ArchiveOf(out), std::vector<uint8_t>({2, 2}));
}

TEST(ResourceReading, ReportsAnExecutableWithoutTheArchive) {
  pe_fixture::Options o;
  o.resources = HandMadeTree();
  std::vector<uint8_t> exe = pe_fixture::Build(o), data;
  // Rename the type so that only the version resource matches nothing.
  Put16(exe, 0x400 + 0x200 + 0xB2, 'X');
  std::string error;
  EXPECT_FALSE(pe::FindResourceData(exe, pe::KeyString("UPDATE"), pe::KeyId(102), &data, &error));
  EXPECT_NE(error.find("UPDATE"), std::string::npos) << error;
}

// An image of 65,535 sections, listed in the table in falling address order
// with the resource section last, and a tree of 65,535 empty leaves spread
// over all of them: a scan of the table per leaf made 4 billion steps of
// it. Each leaf is placed by bisection, and into the right section.
TEST(ResourceReading, PlacingEachLeafTakesLogarithmicStepsInTheSections) {
  const uint32_t kSections = 65535, kLeaves = 65535, kTable = 0x178;
  const size_t kLanguages = 48, kDataEntries = kLanguages + 16 + (size_t)kLeaves * 8;
  size_t treeSize = kDataEntries + (size_t)kLeaves * 16;
  uint32_t headers = pe_fixture::Align(kTable + kSections * 40, 0x200);
  std::vector<uint8_t> f(headers + pe_fixture::Align((uint32_t)treeSize, 0x200), 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, 0x80);
  memcpy(&f[0x80], "PE\0\0", 4);
  Put16(f, 0x84, 0x14C);
  Put16(f, 0x86, (uint16_t)kSections);
  Put16(f, 0x94, 224);
  size_t opt = 0x98;
  Put16(f, opt, 0x10B);
  Put32(f, opt + 32, 0x1000);
  Put32(f, opt + 36, 0x200);
  Put32(f, opt + 60, headers);
  Put32(f, opt + 92, 16);
  uint32_t resourceRva = kSections * 0x1000;
  Put32(f, opt + 96 + 16, resourceRva);
  Put32(f, opt + 96 + 20, (uint32_t)treeSize);
  // Section i (but the last) at 0x1000 * (kSections - 1 - i), with no file
  // data and a raw pointer of its own, i, to tell where a leaf landed.
  for (uint32_t i = 0; i < kSections; i++) {
    size_t h = kTable + (size_t)i * 40;
    bool last = i == kSections - 1;
    Put32(f, h + 8, last ? (uint32_t)(f.size() - headers) : 0x1000);
    Put32(f, h + 12, last ? resourceRva : 0x1000 * (kSections - 1 - i));
    Put32(f, h + 16, last ? (uint32_t)(f.size() - headers) : 0);
    Put32(f, h + 20, last ? headers : i);
  }
  size_t t = headers;
  Put16(f, t + 14, 1);  // root: type 10
  Put32(f, t + 16, 10);
  Put32(f, t + 20, 24 | kHigh);
  Put16(f, t + 24 + 14, 1);  // name 1
  Put32(f, t + 24 + 16, 1);
  Put32(f, t + 24 + 20, (uint32_t)kLanguages | kHigh);
  Put16(f, t + kLanguages + 14, (uint16_t)kLeaves);
  for (uint32_t k = 0; k < kLeaves; k++) {
    Put32(f, t + kLanguages + 16 + 8 * (size_t)k, k);
    Put32(f, t + kLanguages + 20 + 8 * (size_t)k, (uint32_t)(kDataEntries + 16 * (size_t)k));
    // Empty data at the start of section k % (kSections - 1), which has no
    // file data: it stands at that section's very end.
    Put32(f, t + kDataEntries + 16 * (size_t)k, 0x1000 * (1 + k % (kSections - 1)));
  }
  std::vector<pe::Resource> leaves;
  std::vector<std::pair<size_t, size_t>> spans;
  pe::ReadWork work;
  std::string error;
  ASSERT_TRUE(pe::ReadResourceSpans(f, &leaves, &spans, &error, &work)) << error;
  ASSERT_EQ(leaves.size(), kLeaves);
  for (uint32_t k = 0; k < kLeaves; k++) {
    uint32_t index = kSections - 2 - k % (kSections - 1);  // the table index of the section at that address
    ASSERT_EQ(spans[k].first, index) << "leaf " << k;
    ASSERT_EQ(spans[k].second, 0u);
  }
  // Two bisections of at most 17 steps for each address placed.
  EXPECT_GT(work.sectionSteps, 0u);
  EXPECT_LE(work.sectionSteps, (uint64_t)(kLeaves + 1) * 2 * 17);
}

// A section that maps nothing, at the address where the rewrite puts the
// new resource section: the address is placed in the section that holds
// bytes there, not in the empty one listed first.
TEST(ResourceReading, AnEmptySectionAtTheSameAddressDoesNotHideTheTree) {
  std::vector<uint8_t> exe = pe_fixture::Build(pe_fixture::Options()), out;
  size_t text = pe_fixture::SectionTable(false);
  for (size_t field : {8, 16, 20}) Put32(exe, text + field, 0);
  Put32(exe, text + 12, 0x20000);
  std::string error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(Bytes(30, 14)), &out, &error)) << error;
  ASSERT_EQ(Read(out, false).resourceRva, 0x20000u);
  EXPECT_EQ(ArchiveOf(out), Bytes(30, 14));
}

TEST(ResourceReading, RefusesFilesThatAreNoExecutable) {
  std::vector<pe::Resource> all;
  std::string error;
  EXPECT_FALSE(pe::ReadResources(std::vector<uint8_t>(10, 'M'), &all, &error));
  std::vector<uint8_t> mzOnly(200, 0);
  mzOnly[0] = 'M';
  mzOnly[1] = 'Z';
  Put32(mzOnly, 0x3C, 0xFFFFFFF0u);  // e_lfanew far beyond the file
  EXPECT_FALSE(pe::ReadResources(mzOnly, &all, &error));
  EXPECT_FALSE(error.empty());
}

TEST(ResourceReading, ALoopingTreeIsRefusedNotFollowed) {
  pe_fixture::Options o;
  o.resources = HandMadeTree();
  std::vector<uint8_t> exe = pe_fixture::Build(o);
  size_t rsrc = 0x400 + 0x200;
  // The UPDATE name directory points back at the root: a fourth level.
  Put32(exe, rsrc + 0x34, 0x00 | kHigh);
  std::vector<pe::Resource> all;
  std::string error;
  EXPECT_FALSE(pe::ReadResources(exe, &all, &error));
  EXPECT_TRUE(all.empty());
}

TEST(ResourceReading, DataOutsideTheFileIsRefused) {
  pe_fixture::Options o;
  o.resources = HandMadeTree();
  std::vector<uint8_t> exe = pe_fixture::Build(o);
  size_t rsrc = 0x400 + 0x200;
  Put32(exe, rsrc + 0x84, 0x7FFFFFF0u);  // size of the archive's data
  std::vector<pe::Resource> all;
  std::string error;
  EXPECT_FALSE(pe::ReadResources(exe, &all, &error));
  Put32(exe, rsrc + 0x84, 11);
  Put32(exe, rsrc + 0x80, 0x90000);  // an RVA no section maps
  EXPECT_FALSE(pe::ReadResources(exe, &all, &error));
}

TEST(ResourceReading, EveryTruncationOfABuiltExecutableFailsCleanly) {
  pe_fixture::Options o;
  o.pe32Plus = true;
  o.resources = HandMadeTree();
  std::vector<uint8_t> exe = pe_fixture::Build(o), built;
  std::string error;
  ASSERT_TRUE(pe::ReplaceResource(exe, ArchiveResource(Bytes(600, 11)), &built, &error)) << error;
  for (size_t n = 0; n < built.size(); n += 7) {
    std::vector<uint8_t> cut(built.begin(), built.begin() + (ptrdiff_t)n), data, out;
    // Either refused or, where the cut spares the tree, read correctly.
    if (pe::FindResourceData(cut, pe::KeyString("UPDATE"), pe::KeyId(102), &data, &error)) {
      EXPECT_EQ(data, Bytes(600, 11)) << n;
    }
    pe::ReplaceResource(cut, ArchiveResource({1}), &out, &error);
  }
}

TEST(ResourceReading, EveryByteFlippedInTheTreeNeverCrashes) {
  pe_fixture::Options o;
  o.resources = HandMadeTree();
  std::vector<uint8_t> exe = pe_fixture::Build(o);
  size_t rsrc = 0x400 + 0x200;
  int read = 0;
  for (size_t i = 0; i < 0xD8; i++) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> bad = exe;
      bad[rsrc + i] ^= flip;
      std::vector<pe::Resource> all;
      std::string error;
      if (pe::ReadResources(bad, &all, &error)) read++;
    }
  }
  EXPECT_GT(read, 0);  // flips in data bytes and padding still read
}

TEST(Checksum, FoldsCarriesAndAddsTheFileLength) {
  std::vector<uint8_t> f = {0x01, 0x00, 0x02, 0x00};
  EXPECT_EQ(pe::ImageChecksum(f, 100), 3u + 4u);
  std::vector<uint8_t> carry = {0xFF, 0xFF, 0x02, 0x00};
  EXPECT_EQ(pe::ImageChecksum(carry, 100), 0x0002u + 4u);  // 0x10001 folds to 2
  // The checksum field itself is left out of the sum.
  std::vector<uint8_t> withField = {0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0x00};
  EXPECT_EQ(pe::ImageChecksum(withField, 2), 3u + 8u);
  // An odd last byte counts as a word with a zero high byte.
  std::vector<uint8_t> odd = {0x01, 0x00, 0x05};
  EXPECT_EQ(pe::ImageChecksum(odd, 100), 6u + 3u);
}

// The checksum as it was first written here: a word at a time over the
// whole file, folding after every word. The piecewise sum must agree with it
// byte for byte, an odd checksum offset included.
uint32_t WordByWordChecksum(const std::vector<uint8_t>& file, size_t checksumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    if (i >= checksumOffset && i < checksumOffset + 4) continue;
    sum += i + 1 < file.size() ? Load16(&file[i]) : file[i];  // a last odd byte is a word of its own
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return (uint32_t)(sum + file.size());
}

TEST(Checksum, TakenInPiecesAtOddOffsetsAndInAnyOrderItEqualsTheWholeFilesChecksum) {
  const struct {
    size_t size, checksumOffset;
    std::vector<size_t> cuts;  // where the file is cut into pieces
  } rows[] = {
      {4096, 216, {1, 217, 218, 1001, 4095}},  // cuts inside the field, odd ones
      {4097, 217, {3, 216, 219, 220, 221}},    // an odd field offset and an odd length
      {1000001, 88, {500001}},                 // large pieces, the last byte alone
      {64, 62, {7}},                           // the field runs past the end
      {5, 100, {}},                            // the field lies beyond the file
      {0x20000, 300, {0x10001}},               // enough 0xFFFF words to carry many times
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> file = Bytes(row.size, (uint32_t)row.size);
    if (row.size == 0x20000) std::fill(file.begin(), file.end(), 0xFF);
    uint32_t whole = WordByWordChecksum(file, row.checksumOffset);
    EXPECT_EQ(pe::ImageChecksum(file, row.checksumOffset), whole) << row.size;
    std::vector<size_t> bounds = {0};
    bounds.insert(bounds.end(), row.cuts.begin(), row.cuts.end());
    bounds.push_back(file.size());
    pe::ImageSum sum(row.checksumOffset);
    for (size_t i = bounds.size() - 1; i-- > 0;)  // last piece first
      sum.Add(file.data() + bounds[i], bounds[i + 1] - bounds[i], bounds[i]);
    EXPECT_EQ(sum.Finish(file.size()), whole) << row.size;
  }
}

// A split write must be the held write with the deferred bytes cut out, on
// every path the writer takes: a grown last section, a section rebuilt in
// place, a new section, bytes and a symbol table behind the last section.
TEST(SplitWrite, IsTheHeldWriteWithTheDeferredBytesCutOut) {
  auto options = [](bool plus, bool after, uint32_t room, size_t overlay) {
    pe_fixture::Options o;
    o.pe32Plus = plus;
    o.resources = HandMadeTree();
    o.sectionAfterResources = after;
    o.resourceRawSize = room;
    o.overlay = std::vector<uint8_t>(overlay, 'O');
    if (overlay) o.symbolPointer = 0x1000;
    return o;
  };
  const struct {
    const char* what;
    pe_fixture::Options options;
    size_t size;
  } rows[] = {
      {"no resources yet", pe_fixture::Options(), 5001},
      {"a last section grown", options(false, false, 0x200, 0), (3u << 20) + 1},
      {"a section rebuilt in place", options(true, true, 0x4000, 0), 3001},
      {"a new section behind a .reloc", options(true, true, 0x200, 0), 70001},
      {"bytes and symbols behind the section", options(false, false, 0x200, 33), 12345},
      {"an empty resource", options(false, false, 0x200, 0), 0},
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> image = pe_fixture::Build(row.options), held;
    std::vector<uint8_t> data = Bytes(row.size, 7);
    std::vector<pe::Resource> resources;
    std::string error;
    ASSERT_TRUE(pe::ReadResources(image, &resources, &error)) << row.what << ": " << error;
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const pe::Resource& r) { return pe::SameKey(r.type, pe::KeyString("UPDATE")); }),
                    resources.end());
    resources.push_back(ArchiveResource(data));
    pe::Resource after = ArchiveResource({'v'});  // laid out behind the deferred data
    after.type = pe::KeyId(24);
    resources.push_back(after);
    ASSERT_TRUE(pe::WriteResources(image, resources, &held, &error)) << row.what << ": " << error;
    resources[resources.size() - 2].data.clear();
    pe::SplitImage split;
    ASSERT_TRUE(pe::WriteResourcesSplit(image, resources, resources.size() - 2, data.size(), &split, &error))
        << row.what << ": " << error;
    ASSERT_EQ(split.spanSize, data.size()) << row.what;
    ASSERT_EQ(split.FileSize(), held.size()) << row.what;
    std::vector<uint8_t> joined(split.bytes.begin(), split.bytes.begin() + (ptrdiff_t)split.spanOffset);
    joined.insert(joined.end(), data.begin(), data.end());
    joined.insert(joined.end(), split.bytes.begin() + (ptrdiff_t)split.spanOffset, split.bytes.end());
    pe::ImageSum sum(split.checksumOffset);
    sum.Add(split.bytes.data(), split.spanOffset, 0);
    sum.Add(data.data(), data.size(), split.spanOffset);
    sum.Add(split.bytes.data() + split.spanOffset, split.bytes.size() - split.spanOffset,
            split.spanOffset + data.size());
    Put32(joined, split.checksumOffset, sum.Finish(split.FileSize()));
    EXPECT_TRUE(joined == held) << row.what;
  }
}

// A deferred span near 4 GiB is never held, so nothing but the headers'
// 32-bit fields bounds it: a grown or new section is refused once the file
// or its addresses would pass them. The tree's section lies higher in
// memory (0x2000) than in the file, so its addresses pass 4 GiB first; a
// grown section that took them past had its SizeOfImage wrap to a few pages.
TEST(SplitWrite, ADeferredSpanIsRefusedOnceTheFileOrItsAddressesWouldPass4GiB) {
  pe_fixture::Options last;  // the tree's section grows
  last.resources = HandMadeTree();
  pe_fixture::Options behindReloc = last;  // the tree goes into a new section
  behindReloc.sectionAfterResources = true;
  const struct {
    const char* what;
    const pe_fixture::Options* options;
    size_t deferredSize;
    bool refused;
  } rows[] = {
      {"grown, file and addresses fit", &last, 0xF0000000u, false},
      {"grown, the addresses pass 4 GiB", &last, 0xFFFFE000u, true},
      {"grown, the file passes 4 GiB", &last, 0xFFFFFF00u, true},
      {"new section, file and addresses fit", &behindReloc, 0xF0000000u, false},
      {"new section, the addresses pass 4 GiB", &behindReloc, 0xFFFFE000u, true},
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> image = pe_fixture::Build(*row.options);
    std::vector<pe::Resource> resources = {ArchiveResource({})};
    pe::SplitImage split;
    std::string error;
    bool written = pe::WriteResourcesSplit(image, resources, 0, row.deferredSize, &split, &error);
    EXPECT_EQ(written, !row.refused) << row.what << ": " << error;
    if (row.refused) {
      EXPECT_EQ(error, "the executable would pass 4 GiB") << row.what;
      continue;
    }
    // The image's extent covers the span, unwrapped.
    pe::Layout l;
    ASSERT_TRUE(pe::ParseLayout(split.bytes, &l, &error)) << row.what << ": " << error;
    EXPECT_GT(Get32(split.bytes, l.optionalOffset + OPT_SIZE_OF_IMAGE), row.deferredSize) << row.what;
    EXPECT_EQ(split.spanSize, row.deferredSize) << row.what;
  }
}

}  // namespace

// ---- Hostile trees: the work of reading any tree is bounded ----------------

namespace {

using namespace pe;

// A tree of `fanOut` entries per directory on both upper levels; `share`
// makes them all point at one subdirectory and one leaf (a few kilobytes
// that name fanOut squared resources), otherwise each gets its own.
std::vector<uint8_t> FanOutTree(uint16_t fanOut, bool shareDirectories, bool shareData, uint16_t nameLength) {
  const size_t dir = 16 + (size_t)fanOut * 8;
  const size_t leafDir = 16 + 8;
  size_t names = 0;
  const size_t subdirs = shareDirectories ? 1 : fanOut;
  const size_t leafDirs = shareDirectories ? 1 : (size_t)fanOut * fanOut;
  size_t at = dir + subdirs * dir;                // root, then the name levels
  size_t leafDirsAt = at;
  at += leafDirs * leafDir;
  size_t dataEntries = at;
  at += leafDirs * 16;
  names = at;
  at += 2 + 2 * (size_t)nameLength;
  size_t dataAt = (at + 15) / 16 * 16;
  std::vector<uint8_t> t(dataAt + 16 * leafDirs, 'd');
  std::fill(t.begin(), t.begin() + (ptrdiff_t)dataAt, 0);
  Put16(t, names, nameLength);
  for (uint16_t i = 0; i < nameLength; i++) Put16(t, names + 2 + 2 * i, 'N');
  auto directory = [&](size_t where, uint16_t count, auto target) {
    Put16(t, where + 12, nameLength ? count : 0);
    Put16(t, where + 14, nameLength ? 0 : count);
    for (uint16_t i = 0; i < count; i++) {
      Put32(t, where + 16 + 8 * (size_t)i, nameLength ? (uint32_t)names | kHigh : i);
      Put32(t, where + 20 + 8 * (size_t)i, target(i));
    }
  };
  directory(0, fanOut, [&](uint16_t i) { return (uint32_t)(dir + (shareDirectories ? 0 : i) * dir) | kHigh; });
  for (size_t s = 0; s < subdirs; s++)
    directory(dir + s * dir, fanOut, [&](uint16_t i) {
      return (uint32_t)(leafDirsAt + (shareDirectories ? 0 : s * fanOut + i) * leafDir) | kHigh;
    });
  for (size_t l = 0; l < leafDirs; l++) {
    Put16(t, leafDirsAt + l * leafDir + 14, 1);
    Put32(t, leafDirsAt + l * leafDir + 16, 1041);
    Put32(t, leafDirsAt + l * leafDir + 20, (uint32_t)(dataEntries + l * 16));
    Put32(t, dataEntries + l * 16, pe_fixture::kResourceRva + (uint32_t)(dataAt + (shareData ? 0 : l * 16)));
    Put32(t, dataEntries + l * 16 + 4, 16);
  }
  return t;
}

std::vector<uint8_t> WithTree(const std::vector<uint8_t>& tree) {
  pe_fixture::Options o;
  o.resources = tree;
  return pe_fixture::Build(o);
}

TEST(ResourceReading, SharedSubdirectoriesAndSharedDataAreRefusedAtOnce) {
  struct Row {
    const char* what;
    uint16_t fanOut, nameLength;
    bool shareDirectories, shareData;
    const char* says;
  };
  const Row rows[] = {
      // 65,535 x 65,535 named entries with no leaf of their own.
      {"shared subdirectories", 65535, 200, true, true, "shares a subdirectory"},
      // A few hundred leaves each naming the same data.
      {"shared data", 200, 0, false, true, "shares data"},
  };
  for (const Row& r : rows) {
    std::vector<Resource> out;
    std::string error;
    // The refusal names the first shared directory or datum: the reader
    // stopped there, not after walking every path through it.
    EXPECT_FALSE(ReadResources(WithTree(FanOutTree(r.fanOut, r.shareDirectories, r.shareData, r.nameLength)), &out, &error))
        << r.what;
    EXPECT_NE(error.find(r.says), std::string::npos) << r.what << ": " << error;
    EXPECT_TRUE(out.empty()) << r.what;
  }
  // The same shapes without sharing read whole.
  std::vector<Resource> out;
  std::string error;
  ASSERT_TRUE(ReadResources(WithTree(FanOutTree(60, false, false, 0)), &out, &error)) << error;
  EXPECT_EQ(out.size(), 3600u);
}

TEST(ResourceReading, LongNamesAreBoundedInCharactersRead) {
  // 255 x 255 distinct directories whose every entry names one string of
  // 32,767 characters: two billion characters if each were read. The
  // refusal is the reader's count of characters reaching its cap.
  std::vector<Resource> out;
  std::string error;
  EXPECT_FALSE(ReadResources(WithTree(FanOutTree(255, false, false, 32767)), &out, &error));
  EXPECT_NE(error.find("too many name characters"), std::string::npos) << error;
}

TEST(ResourceTree, ZeroLengthDataReadsBackWhereverItLands) {
  std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options()), built;
  std::vector<Resource> in(2);
  in[0].type = KeyString("UPDATE");  // sorts before ZERO, so the empty one is last
  in[0].name = KeyId(102);
  in[0].data = {1, 2, 3};
  in[1].type = KeyString("ZERO");
  in[1].name = KeyId(1);
  std::string error;
  ASSERT_TRUE(WriteResources(image, in, &built, &error)) << error;
  std::vector<Resource> out;
  ASSERT_TRUE(ReadResources(built, &out, &error)) << error;
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[1].data.empty());
}

TEST(ResourceTree, ANewSectionInAnImageWithoutSectionsGoesBehindTheHeaders) {
  std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options()), built;
  Put16(image, pe_fixture::kPeOffset + 4 + 2, 0);  // no sections at all
  Resource r;
  r.type = KeyString("UPDATE");
  r.name = KeyId(102);
  r.data = {'a', 'r', 'c'};
  std::string error;
  ASSERT_TRUE(ReplaceResource(image, r, &built, &error)) << error;
  Layout l;
  ASSERT_TRUE(ParseLayout(built, &l, &error)) << error;
  ASSERT_EQ(l.sectionCount, 1);
  EXPECT_GE(Get32(built, l.sectionTableOffset + 12), l.sizeOfHeaders);  // its VirtualAddress
  std::vector<uint8_t> data;
  ASSERT_TRUE(FindResourceData(built, r.type, r.name, &data, &error)) << error;
  EXPECT_EQ(data, r.data);
}

// A tree holds one leaf per type, name and language: a template naming one
// twice cannot be rewritten without dropping one of them, so it is refused.
TEST(ResourceTree, ATemplateNamingOneResourceTwiceIsRefusedNotHalved) {
  std::vector<uint8_t> tree = HandMadeTree();
  Put16(tree, 0x0C, 0);  // root: two id entries, both type 16
  Put16(tree, 0x0E, 2);
  Put32(tree, 0x10, 16);
  Put32(tree, 0x30, 1);     // the first one's name 1 ...
  Put32(tree, 0x60, 1033);  // ... and language 1033, as the second's
  pe_fixture::Options o;
  o.resources = tree;
  std::vector<uint8_t> image = pe_fixture::Build(o), built;
  std::vector<Resource> read;
  std::string error;
  ASSERT_TRUE(ReadResources(image, &read, &error)) << error;
  ASSERT_EQ(read.size(), 2u);
  Resource r;
  r.type = KeyString("UPDATE");
  r.name = KeyId(102);
  r.data = {'a'};
  EXPECT_FALSE(ReplaceResource(image, r, &built, &error));
  EXPECT_NE(error.find("two resources"), std::string::npos) << error;
}

// The rewrite pads to FileAlignment with zeros: the format's 64 KiB is
// written, anything above is refused before the padding is allocated (the
// fuzzer's 2 GiB made a 2 GiB buffer for a kilobyte image).
TEST(ResourceTree, FileAlignmentAboveTheFormatsCapIsRefusedBeforeAnyPadding) {
  for (uint32_t alignment : {0x10000u, 0x20000u, 0x80000000u}) {
    pe_fixture::Options o;
    o.resources = HandMadeTree();  // the last section, so it grows in place
    std::vector<uint8_t> image = pe_fixture::Build(o), built;
    Put32(image, pe_fixture::OptionalOffset() + 36, alignment);
    std::string error;
    bool written = ReplaceResource(image, ArchiveResource({'a'}), &built, &error);
    if (alignment <= 0x10000u) {
      ASSERT_TRUE(written) << error;
      size_t last = pe_fixture::SectionTable(false) + 40 * (size_t)(Get16(built, pe_fixture::kPeOffset + 6) - 1);
      EXPECT_EQ(Get32(built, last + 16) % alignment, 0u);  // its SizeOfRawData
      EXPECT_EQ(ArchiveOf(built), std::vector<uint8_t>{'a'});
    } else {
      EXPECT_FALSE(written) << alignment;
      EXPECT_NE(error.find("alignment"), std::string::npos) << error;
    }
  }
}

// Layouts the fuzzer found, where a rewrite would land where it could not be
// read back: the image is refused instead.
TEST(ResourceTree, ImagesWhoseRewriteCouldNotReadBackAreRefused) {
  const size_t text = pe_fixture::SectionTable(false);  // the .text header
  const struct {
    const char* what;
    size_t field;
    uint32_t value;
  } rows[] = {
      {"file data inside the headers", text + 20, 0x100},
      {"a section mapped over the headers", text + 12, 0},
      {"no 32-bit address left for a new section", text + 12, 0xFFFFEFF6},
  };
  Resource r;
  r.type = KeyString("UPDATE");
  r.name = KeyId(102);
  r.data = {'a'};
  for (const auto& row : rows) {
    std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options()), built;
    Put32(image, row.field, row.value);
    std::string error;
    EXPECT_FALSE(ReplaceResource(image, r, &built, &error)) << row.what;
    EXPECT_FALSE(error.empty()) << row.what;
  }
}

TEST(ResourceTree, WritingSixtyFiveThousandResourcesTakesLinearSpaceAndReadsBack) {
  std::vector<uint8_t> image = pe_fixture::Build(pe_fixture::Options()), built;
  std::vector<Resource> in(65536);
  for (size_t i = 0; i < in.size(); i++) {
    in[i].type = KeyId((uint16_t)(i >> 8) + 1);
    in[i].name = KeyId((uint16_t)(i & 0xFF) + 1);
    in[i].data = {(uint8_t)i};
  }
  std::string error;
  ASSERT_TRUE(WriteResources(image, in, &built, &error)) << error;
  std::vector<Resource> out;
  ASSERT_TRUE(ReadResources(built, &out, &error)) << error;
  // The tree is linear in the resources: per leaf one entry at each of
  // three levels, one language directory, one data entry and its datum
  // padded to 8 (80 bytes), with the type directories and the file
  // alignment beside them.
  EXPECT_LT(built.size() - image.size(), in.size() * 80 + 256 * 24 + 65536);
  ASSERT_EQ(out.size(), in.size());
  EXPECT_EQ(out[4660].data, std::vector<uint8_t>{(uint8_t)4660});
}

}  // namespace
