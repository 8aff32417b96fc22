// PE resource reading and rewriting. Every offset read from the file is
// checked against the file before it is used: the tool reads templates and
// updaters that may be damaged or hostile.
#include "pack/pe_resource.h"

#include <algorithm>
#include <unordered_set>
#include <stdio.h>
#include <string.h>

#include "archive/bytes.h"

namespace pe {
namespace {

#define RES_HIGH_BIT 0x80000000u
#define SCN_INITIALIZED_READ 0x40000040u  // IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ
#define PREFERRED_LANGUAGE 1041
#define MAX_FILE_ALIGNMENT 0x10000u
// A damaged or hostile tree can share subdirectories and data, and so name
// the same bytes any number of times; sharing is refused, and these bounds
// keep the work of reading any tree small.
#define MAX_LEAVES 65536u
#define MAX_ENTRIES_VISITED 262144u
#define MAX_NAME_CHARACTERS 4194304u

bool Within(size_t total, uint64_t offset, uint64_t length) { return offset <= total && length <= total - offset; }
uint64_t AlignUp(uint64_t v, uint32_t a) { return (v + a - 1) / a * a; }
bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

struct Section {
  size_t headerOffset;
  uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

std::vector<Section> Sections(const ImageView& image, const Layout& l) {
  std::vector<Section> out;
  for (uint16_t i = 0; i < l.sectionCount; i++) {
    size_t h = l.sectionTableOffset + (size_t)i * SECTION_HEADER_SIZE;
    out.push_back({h, Load32(&image[h + SECTION_VIRTUAL_SIZE]), Load32(&image[h + SECTION_VIRTUAL_ADDRESS]),
                   Load32(&image[h + SECTION_RAW_SIZE]), Load32(&image[h + SECTION_RAW_POINTER])});
  }
  return out;
}

// Data directory i's address and size, for i below l.dataDirectoryCount.
void ReadDirectory(const ImageView& image, const Layout& l, uint32_t i, uint32_t* address, uint32_t* size) {
  size_t d = l.dataDirectoryOffset + (size_t)i * DATA_DIRECTORY_SIZE;
  *address = Load32(&image[d + DATA_DIRECTORY_ADDRESS]);
  *size = Load32(&image[d + DATA_DIRECTORY_LENGTH]);
}

// The file bytes a section really maps: its raw data, cut to its virtual
// size when that is smaller (the loader maps no more).
uint64_t MappedFileSpan(const Section& s) {
  return s.virtualSize != 0 && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize;
}

// The sections ordered by address once, so that each address is placed by
// bisection: reading a tree of n leaves from an image of m sections takes
// n log m steps, where a scan of the table per leaf took n * m (65,535 of
// each made seconds of work from a 3 MB file).
class SectionIndex {
 public:
  SectionIndex(const std::vector<Section>& sections, uint64_t* steps) : sections_(sections), steps_(steps) {
    order_.reserve(sections.size());
    for (size_t i = 0; i < sections.size(); i++) order_.push_back(i);
    // Of sections that start at one address (empty ones beside a full one,
    // say), the one mapping the most file bytes comes first: it holds
    // whatever any of the others holds.
    std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
      if (sections[a].virtualAddress != sections[b].virtualAddress)
        return sections[a].virtualAddress < sections[b].virtualAddress;
      return MappedFileSpan(sections[a]) > MappedFileSpan(sections[b]);
    });
  }
  // The section an address falls in: of those that start highest at or
  // below it, the one mapping the most file bytes (the first in the table
  // of equals). Sections that overlap in memory otherwise (no loader maps
  // such an image) are not searched further.
  const Section* Find(uint32_t rva) const {
    size_t low = 0, high = order_.size();  // the first that starts above rva lies in [low, high]
    while (low < high) {
      size_t mid = low + (high - low) / 2;
      Step();
      if (sections_[order_[mid]].virtualAddress <= rva) low = mid + 1;
      else high = mid;
    }
    if (low == 0) return nullptr;
    uint32_t start = sections_[order_[low - 1]].virtualAddress;
    size_t first = 0;
    high = low - 1;
    while (first < high) {
      size_t mid = first + (high - first) / 2;
      Step();
      if (sections_[order_[mid]].virtualAddress < start) first = mid + 1;
      else high = mid;
    }
    return &sections_[order_[first]];
  }

 private:
  void Step() const {
    if (steps_) ++*steps_;
  }
  const std::vector<Section>& sections_;
  std::vector<size_t> order_;
  uint64_t* steps_;
};

// File offset of `length` bytes at `rva`, or false when they are not all in
// one section's file data.
bool RvaToOffset(const ImageView& image, const SectionIndex& sections, uint32_t rva, uint64_t length,
                 size_t* offset, uint64_t* available) {
  const Section* found = sections.Find(rva);
  if (!found) return false;
  const Section& s = *found;
  uint64_t span = MappedFileSpan(s);
  uint64_t inSection = rva - s.virtualAddress;
  // Empty data may stand at the very end of a section.
  if (inSection > span || (inSection == span && length != 0)) return false;
  if (length > span - inSection) return false;
  uint64_t fileOffset = (uint64_t)s.rawPointer + inSection;
  if (!Within(image.size(), fileOffset, length)) return false;
  *offset = (size_t)fileOffset;
  if (available) *available = std::min<uint64_t>(span - inSection, image.size() - fileOffset);
  return true;
}

struct TreeReader {
  const ImageView& image;
  const SectionIndex& sections;
  size_t base;         // file offset of the root directory
  uint64_t available;  // bytes of the section from the root on
  std::vector<Resource>* out;
  uint64_t totalData = 0;
  std::string error;
  uint64_t entriesVisited = 0, nameCharacters = 0;
  std::unordered_set<uint64_t> directories;  // offsets walked so far
  std::unordered_set<uint32_t> data;         // addresses of data named so far
  // When set, leaves keep their data's place in the image here instead of
  // a copy: finding one resource then costs no copy of every other.
  std::vector<std::pair<size_t, size_t>>* spans = nullptr;
  // When set, gets the file bytes the tree itself takes ([from, to)): its
  // directories, data entries, names and data.
  std::vector<std::pair<uint64_t, uint64_t>>* owned = nullptr;

  void Own(uint64_t from, uint64_t length) {
    if (owned && length != 0) owned->emplace_back(from, from + length);
  }
  bool Fail(const char* why) {
    error = why;
    return false;
  }
  bool ReadKey(uint32_t field, ResourceKey* key) {
    if (!(field & RES_HIGH_BIT)) {
      *key = KeyId((uint16_t)field);
      return true;
    }
    uint64_t at = field & ~RES_HIGH_BIT;
    if (!Within(available, at, 2)) return Fail("resource name lies outside the resource section");
    uint16_t length = Load16(&image[base + at]);
    nameCharacters += length;
    if (nameCharacters > MAX_NAME_CHARACTERS) return Fail("resource tree has too many name characters");
    if (!Within(available, at + 2, (uint64_t)length * 2)) return Fail("resource name lies outside the resource section");
    Own(base + at, 2 + (uint64_t)length * 2);
    key->isString = true;
    key->id = 0;
    key->text.clear();
    for (uint16_t i = 0; i < length; i++) key->text.push_back((char16_t)Load16(&image[base + at + 2 + 2 * (size_t)i]));
    return true;
  }
  bool ReadLeaf(uint64_t at, const ResourceKey& type, const ResourceKey& name, uint16_t language) {
    if (!Within(available, at, RES_DATA_ENTRY_SIZE)) return Fail("resource data entry lies outside the resource section");
    uint32_t rva = Load32(&image[base + at + RES_DATA_ADDRESS]);
    uint32_t size = Load32(&image[base + at + RES_DATA_LENGTH]);
    size_t offset = 0;
    if (out->size() >= MAX_LEAVES) return Fail("resource tree has too many entries");
    // Data that does not overlap fits the file; more than that is shared.
    if (size > image.size() - totalData) return Fail("resource tree names more data than the file holds");
    if (!RvaToOffset(image, sections, rva, size, &offset, nullptr)) return Fail("resource data lies outside the file");
    if (size != 0 && !data.insert(rva).second) return Fail("resource tree shares data between entries");
    totalData += size;
    Resource r;
    r.type = type;
    r.name = name;
    r.language = language;
    r.codePage = Load32(&image[base + at + RES_DATA_CODE_PAGE]);
    Own(base + at, RES_DATA_ENTRY_SIZE);
    Own(offset, size);
    if (spans) spans->emplace_back(offset, (size_t)size);
    else r.data.assign(image.begin() + offset, image.begin() + offset + size);
    out->push_back(std::move(r));
    return true;
  }
  // level 0: types, 1: names, 2: languages (leaves).
  bool Walk(int level, uint64_t at, ResourceKey* keys) {
    if (!Within(available, at, RES_DIRECTORY_SIZE)) return Fail("resource directory lies outside the resource section");
    if (!directories.insert(at).second) return Fail("resource tree shares a subdirectory");
    uint32_t count = (uint32_t)Load16(&image[base + at + RES_DIRECTORY_NAMED_COUNT]) + Load16(&image[base + at + RES_DIRECTORY_ID_COUNT]);
    entriesVisited += count;
    if (entriesVisited > MAX_ENTRIES_VISITED) return Fail("resource tree has too many entries");
    if (!Within(available, at + RES_DIRECTORY_SIZE, (uint64_t)count * RES_ENTRY_SIZE))
      return Fail("resource directory lies outside the resource section");
    Own(base + at, RES_DIRECTORY_SIZE + (uint64_t)count * RES_ENTRY_SIZE);
    for (uint32_t i = 0; i < count; i++) {
      size_t e = base + (size_t)at + RES_DIRECTORY_SIZE + (size_t)i * RES_ENTRY_SIZE;
      uint32_t nameField = Load32(&image[e + RES_ENTRY_NAME]);
      uint32_t target = Load32(&image[e + RES_ENTRY_TARGET]);
      if (!ReadKey(nameField, &keys[level])) return false;
      bool subdirectory = (target & RES_HIGH_BIT) != 0;
      if (subdirectory != (level < 2)) return Fail("resource tree is not three levels deep");
      bool ok = level < 2 ? Walk(level + 1, target & ~RES_HIGH_BIT, keys)
                          : ReadLeaf(target, keys[0], keys[1], keys[2].isString ? 0 : keys[2].id);
      if (!ok) return false;
    }
    return true;
  }
};

// The resource tree to be written, one node per type, name and language.
struct TreeNode {
  ResourceKey key;
  std::vector<TreeNode> children;
  const Resource* leaf = nullptr;
  // Where the writer placed this node (its directory's offset, or its leaf's
  // index) and its name's string: kept on the node, not in a map keyed by
  // its address, so that the writer's work never depends on where the heap
  // put the tree.
  mutable size_t place = 0, namePlace = 0;
};

bool KeyLess(const ResourceKey& a, const ResourceKey& b) {
  // Named entries come first, sorted by their text; then ids ascending. The
  // loader searches both groups by bisection, so this order is required.
  if (a.isString != b.isString) return a.isString;
  if (a.isString) return a.text < b.text;
  return a.id < b.id;
}

// The tree of `resources` with every level in the loader's order, built in
// one pass over them sorted. False when two resources share type, name and
// language: a tree holds one leaf per path, so one of them would be dropped
// without a word (callers replacing a resource remove the old one first).
bool BuildTree(const std::vector<Resource>& resources, TreeNode* root) {
  std::vector<const Resource*> sorted;
  sorted.reserve(resources.size());
  for (const Resource& r : resources) sorted.push_back(&r);
  std::stable_sort(sorted.begin(), sorted.end(), [](const Resource* a, const Resource* b) {
    if (!SameKey(a->type, b->type)) return KeyLess(a->type, b->type);
    if (!SameKey(a->name, b->name)) return KeyLess(a->name, b->name);
    return a->language < b->language;
  });
  auto child = [](TreeNode* parent, const ResourceKey& key) {
    if (parent->children.empty() || !SameKey(parent->children.back().key, key))
      parent->children.push_back(TreeNode{key, {}, nullptr});
    return &parent->children.back();
  };
  for (const Resource* r : sorted) {
    TreeNode* leaf = child(child(child(root, r->type), r->name), KeyId(r->language));
    if (leaf->leaf) return false;
    leaf->leaf = r;
  }
  return true;
}

// Lays out the .rsrc bytes for a sorted tree, to be mapped at `sectionRva`,
// and writes them straight into the image being built: a large archive is
// then never held once more as a separate section. The data of `deferred`
// is not held at all: its room is a hole the caller fills, and the bytes
// behind it are written that much earlier.
struct TreeWriter {
  uint32_t sectionRva = 0;
  const Resource* deferred = nullptr;
  size_t deferredSize = 0;
  uint64_t total = 0;  // 64 bits: a deferred size near 4 GiB must not wrap before it is refused
  std::vector<uint64_t> dataAt;
  // Placement, computed before anything is written.
  std::vector<const TreeNode*> directories;  // breadth first
  std::vector<const TreeNode*> leaves;
  std::vector<const TreeNode*> strings;  // the nodes with a string name
  size_t directoriesEnd = 0, entriesEnd = 0, stringsEnd = 0;
  uint64_t holeAt = 0, holeSize = 0;  // the deferred data's place in the section, once planned

  size_t DataSize(const Resource* r) const { return r == deferred ? deferredSize : r->data.size(); }
  void Collect(const TreeNode& root) {
    std::vector<const TreeNode*> level{&root};
    for (int depth = 0; depth < 3; depth++) {
      std::vector<const TreeNode*> next;
      for (const TreeNode* n : level) {
        directories.push_back(n);
        for (const TreeNode& c : n->children) {
          if (c.key.isString) strings.push_back(&c);
          if (depth < 2) next.push_back(&c);
          else leaves.push_back(&c);
        }
      }
      level = next;
    }
  }
  // Where each piece goes, computed once in Build.
  size_t DirectoryOffset(const TreeNode* n) const { return n->place; }
  size_t LeafIndex(const TreeNode* n) const { return n->place; }
  size_t StringOffset(const TreeNode* n) const { return n->namePlace; }
  void Place() {
    size_t at = 0;
    for (const TreeNode* d : directories) {
      d->place = at;
      at += RES_DIRECTORY_SIZE + d->children.size() * RES_ENTRY_SIZE;
    }
    directoriesEnd = at;
    for (size_t i = 0; i < leaves.size(); i++) leaves[i]->place = i;
    entriesEnd = directoriesEnd + leaves.size() * RES_DATA_ENTRY_SIZE;
    at = entriesEnd;
    for (const TreeNode* s : strings) {
      s->namePlace = at;
      at += 2 + s->key.text.size() * 2;
    }
    stringsEnd = (size_t)AlignUp(at, 8);
  }
  // The section's size in bytes, the hole included.
  uint64_t Plan(const TreeNode& root) {
    Collect(root);
    Place();
    total = stringsEnd;
    for (const TreeNode* l : leaves) {
      dataAt.push_back(total);
      if (l->leaf == deferred) {
        holeAt = total;
        holeSize = deferredSize;
      }
      // Empty data gets room of its own too: at the section's very end its
      // address would lie outside the section.
      total = AlignUp(total + std::max<uint64_t>(DataSize(l->leaf), 1), 8);
    }
    return total;
  }
  // Where section offset o lands in the written bytes, which lack the hole.
  // Nothing written straddles it: the tree comes before all data.
  size_t At(uint64_t o) const { return (size_t)(o < holeAt ? o : o - holeSize); }
  // Writes the planned section into out[0..total - holeSize), which holds
  // zeros.
  void WriteTo(uint8_t* out) const {
    auto Put16 = [this, out](uint64_t o, uint16_t v) { Store16(out + At(o), v); };
    auto Put32 = [this, out](uint64_t o, uint32_t v) { Store32(out + At(o), v); };
    for (const TreeNode* d : directories) {
      size_t at = DirectoryOffset(d);
      uint16_t named = 0;
      for (const TreeNode& c : d->children) named = (uint16_t)(named + (c.key.isString ? 1 : 0));
      Put16(at + RES_DIRECTORY_NAMED_COUNT, named);
      Put16(at + RES_DIRECTORY_ID_COUNT, (uint16_t)(d->children.size() - named));
      size_t e = at + RES_DIRECTORY_SIZE;
      for (const TreeNode& c : d->children) {
        Put32(e + RES_ENTRY_NAME, c.key.isString ? (uint32_t)StringOffset(&c) | RES_HIGH_BIT : c.key.id);
        Put32(e + RES_ENTRY_TARGET,
             c.leaf ? (uint32_t)(directoriesEnd + LeafIndex(&c) * RES_DATA_ENTRY_SIZE)
                    : (uint32_t)DirectoryOffset(&c) | RES_HIGH_BIT);
        e += RES_ENTRY_SIZE;
      }
    }
    for (size_t i = 0; i < leaves.size(); i++) {
      const Resource* r = leaves[i]->leaf;
      size_t e = directoriesEnd + i * RES_DATA_ENTRY_SIZE;
      Put32(e + RES_DATA_ADDRESS, sectionRva + (uint32_t)dataAt[i]);
      Put32(e + RES_DATA_LENGTH, (uint32_t)DataSize(r));
      Put32(e + RES_DATA_CODE_PAGE, r->codePage);
      if (r != deferred && !r->data.empty()) memcpy(out + At(dataAt[i]), r->data.data(), r->data.size());
    }
    for (const TreeNode* s : strings) {
      size_t at = StringOffset(s);
      Put16(at, (uint16_t)s->key.text.size());
      for (size_t i = 0; i < s->key.text.size(); i++) Put16(at + 2 + 2 * i, (uint16_t)s->key.text[i]);
    }
  }
};

bool Refuse(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

}  // namespace

ResourceKey KeyId(uint16_t id) {
  ResourceKey k;
  k.id = id;
  return k;
}

ResourceKey KeyString(const char* ascii) {
  ResourceKey k;
  k.isString = true;
  for (const char* p = ascii; *p; p++) k.text.push_back((char16_t)(unsigned char)*p);
  return k;
}

bool SameKey(const ResourceKey& a, const ResourceKey& b) {
  return a.isString == b.isString && (a.isString ? a.text == b.text : a.id == b.id);
}

bool ParseLayout(const ImageView& image, Layout* l, std::string* error) {
  *l = Layout();
  if (image.size() < DOS_HEADER_SIZE || image[0] != 'M' || image[1] != 'Z')
    return Refuse(error, "not a Windows executable (no MZ header)");
  uint32_t peOffset = Load32(&image[DOS_PE_OFFSET]);
  if (!Within(image.size(), peOffset, PE_SIGNATURE_SIZE + COFF_HEADER_SIZE) ||
      memcmp(&image[peOffset], "PE\0\0", PE_SIGNATURE_SIZE) != 0)
    return Refuse(error, "not a Windows executable (no PE header)");
  size_t coff = peOffset + PE_SIGNATURE_SIZE;
  l->peOffset = peOffset;
  l->sectionCount = Load16(&image[coff + COFF_SECTION_COUNT]);
  uint16_t optionalSize = Load16(&image[coff + COFF_OPTIONAL_SIZE]);
  l->optionalOffset = coff + COFF_HEADER_SIZE;
  if (!Within(image.size(), l->optionalOffset, optionalSize) || optionalSize < 2)
    return Refuse(error, "truncated PE optional header");
  uint16_t magic = Load16(&image[l->optionalOffset + OPT_MAGIC]);
  size_t countField = 0;
  if (magic == OPT_MAGIC_PE32) {
    countField = OPT_DIRECTORY_COUNT_PE32;
  } else if (magic == OPT_MAGIC_PE32_PLUS) {
    l->pe32Plus = true;
    countField = OPT_DIRECTORY_COUNT_PE32_PLUS;
  } else {
    return Refuse(error, "unknown PE optional header kind");
  }
  if (optionalSize < countField + 4) return Refuse(error, "truncated PE optional header");
  size_t o = l->optionalOffset;
  l->sectionAlignment = Load32(&image[o + OPT_SECTION_ALIGNMENT]);
  l->fileAlignment = Load32(&image[o + OPT_FILE_ALIGNMENT]);
  l->sizeOfHeaders = Load32(&image[o + OPT_SIZE_OF_HEADERS]);
  if (!PowerOfTwo(l->sectionAlignment) || !PowerOfTwo(l->fileAlignment))
    return Refuse(error, "PE section or file alignment is not a power of two");
  l->dataDirectoryOffset = o + countField + 4;
  uint32_t room = (uint32_t)(optionalSize - countField - 4) / DATA_DIRECTORY_SIZE;
  l->dataDirectoryCount =
      std::min<uint32_t>(std::min<uint32_t>(Load32(&image[o + countField]), room), PE_MAX_DIRECTORIES);
  l->sectionTableOffset = l->optionalOffset + optionalSize;
  if (!Within(image.size(), l->sectionTableOffset, (uint64_t)l->sectionCount * SECTION_HEADER_SIZE))
    return Refuse(error, "truncated PE section table");
  if (l->dataDirectoryCount > PE_RESOURCE_DIRECTORY)
    ReadDirectory(image, *l, PE_RESOURCE_DIRECTORY, &l->resourceRva, &l->resourceSize);
  if (l->dataDirectoryCount > PE_SECURITY_DIRECTORY)
    ReadDirectory(image, *l, PE_SECURITY_DIRECTORY, &l->securityOffset, &l->securitySize);
  return true;
}

namespace {

bool ReadTree(const ImageView& image, std::vector<Resource>* out,
              std::vector<std::pair<size_t, size_t>>* spans, ReadWork* work, std::string* error,
              std::vector<std::pair<uint64_t, uint64_t>>* owned = nullptr) {
  out->clear();
  Layout l;
  if (!ParseLayout(image, &l, error)) return false;
  if (l.resourceRva == 0) return true;  // no resources at all
  std::vector<Section> sections = Sections(image, l);
  SectionIndex index(sections, work ? &work->sectionSteps : nullptr);
  size_t base = 0;
  uint64_t available = 0;
  if (!RvaToOffset(image, index, l.resourceRva, RES_DIRECTORY_SIZE, &base, &available))
    return Refuse(error, "resource directory lies outside the file");
  TreeReader reader{image, index, base, available, out, 0, std::string(), 0, 0, {}, {}, spans, owned};
  ResourceKey keys[3];
  if (!reader.Walk(0, 0, keys)) {
    out->clear();
    return Refuse(error, reader.error);
  }
  return true;
}

const char* const kDirectoryNames[16] = {
    "export table",     "import table",         "resource tree",   "exception table",
    "certificate table", "base relocations",    "debug data",      "architecture data",
    "global pointer",   "TLS table",            "load configuration", "bound imports",
    "import address table", "delay-load imports", "CLR header",    "reserved directory"};

// Whether a data directory other than the resource tree's (and the
// certificate table's, whose address is a file offset) reaches into the
// addresses [from, to); *which names the first that does.
bool DirectoryIn(const ImageView& image, const Layout& l, uint64_t from, uint64_t to, std::string* which) {
  for (uint32_t i = 0; i < l.dataDirectoryCount; i++) {
    if (i == PE_RESOURCE_DIRECTORY || i == PE_SECURITY_DIRECTORY) continue;
    uint32_t rva = 0, size = 0;
    ReadDirectory(image, l, i, &rva, &size);
    if (rva == 0) continue;  // no table there, whatever its size says
    if (rva < to && (uint64_t)rva + std::max<uint32_t>(size, 1) > from) {
      *which = std::string("its ") + kDirectoryNames[i];
      return true;
    }
  }
  return false;
}

// Whether section s, which the resource tree starts, holds the tree alone:
// no other data directory (imports, say) points into the memory it may be
// rewritten in, up to memoryEnd, and every byte of its file data that the
// tree does not take is zero padding. Code and directories reach what else
// is there by address, so a rewrite that lays a new tree over the section
// would lose it (*what then says what). False only when the tree cannot be
// read.
bool TreeAloneIn(const ImageView& image, const Layout& l, const Section& s, uint64_t memoryEnd, bool* alone,
                 std::string* what, std::string* error) {
  *alone = false;
  if (DirectoryIn(image, l, s.virtualAddress, memoryEnd, what)) return true;
  std::vector<Resource> leaves;
  std::vector<std::pair<size_t, size_t>> spans;
  std::vector<std::pair<uint64_t, uint64_t>> owned;
  if (!ReadTree(image, &leaves, &spans, nullptr, error, &owned)) return false;
  std::sort(owned.begin(), owned.end());
  uint64_t at = s.rawPointer, end = std::min<uint64_t>((uint64_t)s.rawPointer + s.rawSize, image.size());
  auto zeros = [&](uint64_t from, uint64_t to) {
    for (; from < to; from++)
      if (image[(size_t)from] != 0) {
        char where[64];
        snprintf(where, sizeof(where), "bytes at file offset 0x%llX", (unsigned long long)from);
        *what = where;
        return false;
      }
    return true;
  };
  for (const auto& o : owned) {
    if (at >= end) break;
    if (!zeros(at, std::min(o.first, end))) return true;
    at = std::max(at, o.second);
  }
  if (!zeros(at, end)) return true;
  *alone = true;
  return true;
}

}  // namespace

bool ReadResources(const ImageView& image, std::vector<Resource>* out, std::string* error) {
  return ReadTree(image, out, nullptr, nullptr, error);
}

bool ReadResourceSpans(const ImageView& image, std::vector<Resource>* out,
                       std::vector<std::pair<size_t, size_t>>* spans, std::string* error, ReadWork* work) {
  spans->clear();
  return ReadTree(image, out, spans, work, error);
}

// A key as a message names it: "102", or the string's ASCII.
static std::string KeyText(const ResourceKey& key) {
  if (!key.isString) return std::to_string(key.id);
  std::string text;
  for (char16_t c : key.text) text += c < 0x80 ? (char)c : '?';
  return text;
}

bool FindOptionalResourceSpan(const ImageView& image, const ResourceKey& type, const ResourceKey& name,
                              bool* present, size_t* offset, size_t* size, std::string* error) {
  std::vector<Resource> all;
  std::vector<std::pair<size_t, size_t>> spans;
  if (!ReadTree(image, &all, &spans, nullptr, error)) return false;
  size_t found = all.size();
  for (size_t i = 0; i < all.size(); i++) {
    const Resource& r = all[i];
    if (!SameKey(r.type, type) || !SameKey(r.name, name)) continue;
    if (found == all.size() || (r.language == PREFERRED_LANGUAGE && all[found].language != PREFERRED_LANGUAGE))
      found = i;
  }
  *present = found != all.size();
  if (*present) {
    *offset = spans[found].first;
    *size = spans[found].second;
  }
  return true;
}

bool FindResourceSpan(const ImageView& image, const ResourceKey& type, const ResourceKey& name,
                      size_t* offset, size_t* size, std::string* error) {
  bool present = false;
  if (!FindOptionalResourceSpan(image, type, name, &present, offset, size, error)) return false;
  if (!present) return Refuse(error, "the executable carries no " + KeyText(type) + "/" + KeyText(name) + " resource");
  return true;
}

bool SameDataDirectories(const ImageView& before, const ImageView& after, std::string* error) {
  Layout a, b;
  if (!ParseLayout(before, &a, error) || !ParseLayout(after, &b, error)) return false;
  if (a.dataDirectoryCount != b.dataDirectoryCount) return Refuse(error, "the rewrite changed the number of data directories");
  std::vector<Section> sa = Sections(before, a), sb = Sections(after, b);
  SectionIndex ia(sa, nullptr), ib(sb, nullptr);
  // The headers are mapped at address 0, and a directory may lie in them.
  auto place = [](const ImageView& image, const Layout& l, const SectionIndex& index, uint32_t rva, uint32_t size,
                  size_t* at) {
    if ((uint64_t)rva + size <= l.sizeOfHeaders && (uint64_t)rva + size <= image.size()) {
      *at = rva;
      return true;
    }
    return RvaToOffset(image, index, rva, size, at, nullptr);
  };
  for (uint32_t i = 0; i < a.dataDirectoryCount; i++) {
    if (i == PE_RESOURCE_DIRECTORY) continue;
    uint32_t rva = 0, size = 0, rvaAfter = 0, sizeAfter = 0;
    ReadDirectory(before, a, i, &rva, &size);
    ReadDirectory(after, b, i, &rvaAfter, &sizeAfter);
    if (rvaAfter != rva || sizeAfter != size)
      return Refuse(error, std::string("the rewrite moved the ") + kDirectoryNames[i]);
    // The certificate table's address is a file offset; a signed image is
    // never rewritten. Address 0 names no table.
    if (i == PE_SECURITY_DIRECTORY || rva == 0 || size == 0) continue;
    size_t oa = 0, ob = 0;
    bool ma = place(before, a, ia, rva, size, &oa), mb = place(after, b, ib, rva, size, &ob);
    if (ma != mb || (ma && memcmp(before.data + oa, after.data + ob, size) != 0))
      return Refuse(error, std::string("the rewrite changed the bytes of the ") + kDirectoryNames[i]);
  }
  return true;
}

// The checksum adds the file as little-endian 16-bit words with the carry
// folded back in. A word starting at an even offset inside the field's four
// bytes is left out; were the field at an odd offset, that is the four bytes
// from the next even one, and the sum has always been taken so.
ImageSum::ImageSum(size_t checksumOffset) : skip_(((uint64_t)checksumOffset + 1) & ~(uint64_t)1) {}

void ImageSum::Add(const uint8_t* bytes, size_t size, uint64_t at) {
  uint64_t end = at + size;
  if (at < skip_) AddRun(bytes, at, std::min(end, skip_));
  uint64_t resume = std::max(at, skip_ + 4);
  if (resume < end) AddRun(bytes + (resume - at), resume, end);
}

// Folding is addition modulo 0xFFFF (with 0xFFFF standing for a non-zero
// multiple of it), so the words may be added in any order and folded once.
void ImageSum::AddRun(const uint8_t* p, uint64_t from, uint64_t to) {
  if (from >= to) return;
  if (from & 1) {
    sum_ += (uint64_t)*p++ << 8;
    from++;
  }
  for (; from + 1 < to; from += 2, p += 2) sum_ += Load16(p);
  if (from < to) sum_ += *p;
}

uint32_t ImageSum::Finish(uint64_t fileSize) const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)(sum + fileSize);
}

uint32_t ImageChecksum(const std::vector<uint8_t>& file, size_t checksumOffset) {
  ImageSum sum(checksumOffset);
  sum.Add(file.data(), file.size(), 0);
  return sum.Finish(file.size());
}

bool WriteResources(const ImageView& image, const std::vector<Resource>& resources, std::vector<uint8_t>* out,
                    std::string* error) {
  SplitImage split;
  if (!WriteResourcesSplit(image, resources, resources.size(), 0, &split, error)) return false;
  Store32(&split.bytes[split.checksumOffset], ImageChecksum(split.bytes, split.checksumOffset));
  *out = std::move(split.bytes);
  return true;
}

namespace {

// The addresses a section takes once mapped, from its start: its virtual
// size (its raw size where that is 0) rounded up to SectionAlignment.
uint64_t MappedEnd(const Section& s, uint32_t sectionAlignment) {
  return s.virtualAddress + AlignUp(s.virtualSize ? s.virtualSize : s.rawSize, sectionAlignment);
}

// One past the section table, the last header byte the rewrite may change.
uint64_t SectionTableEnd(const Layout& l) {
  return l.sectionTableOffset + (uint64_t)l.sectionCount * SECTION_HEADER_SIZE;
}

// What the rewrite refuses to start from, whatever it would write: a
// signed image, no resource directory slot, a hostile alignment, or a
// directory among the headers the rewrite changes.
bool CheckTemplate(const ImageView& image, const Layout& l, std::string* error) {
  if (l.securityOffset != 0 || l.securitySize != 0)
    return Refuse(error, "the template carries an Authenticode signature; build from the unsigned updater and sign the result afterwards");
  if (l.dataDirectoryCount <= PE_RESOURCE_DIRECTORY) return Refuse(error, "the executable has no resource directory slot");
  // The rewrite pads the tree and a new section's start to FileAlignment
  // with zeros. The format caps it at 64 KiB; a hostile 2 GiB would make
  // the padding alone 2 GiB.
  if (l.fileAlignment > MAX_FILE_ALIGNMENT) return Refuse(error, "the executable's file alignment is above 64 KiB");
  // The rewrite changes fields from the PE signature to the end of the
  // section table; a directory there would be changed with them. (The slot
  // behind the table is checked only when a new section's header goes
  // there.)
  std::string which;
  if (DirectoryIn(image, l, l.peOffset, SectionTableEnd(l), &which))
    return Refuse(error, "the executable keeps " + which + " among its PE headers, which the rewrite changes");
  return true;
}

// Whether any of the spans [first, second) starts below `floor` or inside
// another.
bool Overlapping(std::vector<std::pair<uint64_t, uint64_t>> spans, uint64_t floor) {
  std::sort(spans.begin(), spans.end());
  for (size_t i = 0; i < spans.size(); i++)
    if (spans[i].first < floor || (i > 0 && spans[i].first < spans[i - 1].second)) return true;
  return false;
}

// Where the sections end, in the file and in memory, and where the first
// one's file data starts. Bytes behind the last section's file data (a
// symbol table, for instance) are kept behind the rewritten section.
struct SectionsEnd {
  uint64_t file = 0, memory = 0;
  size_t firstRaw = 0;
};

// The sections' ends; refuses sections past the end of the file, and
// sections whose file data or addresses overlap the headers or each other,
// which the rewrite of either would write over.
bool MeasureSections(const ImageView& image, const Layout& l, const std::vector<Section>& sections, SectionsEnd* end,
                     std::string* error) {
  // The headers are mapped at address 0: without sections, a new one still
  // goes behind them.
  end->file = l.sizeOfHeaders;
  end->memory = AlignUp(std::max<uint32_t>(l.sizeOfHeaders, 1), l.sectionAlignment);
  end->firstRaw = image.size();
  std::vector<std::pair<uint64_t, uint64_t>> inFile, inMemory;
  for (const Section& s : sections) {
    if (s.rawSize) {
      end->file = std::max<uint64_t>(end->file, (uint64_t)s.rawPointer + s.rawSize);
      end->firstRaw = std::min<size_t>(end->firstRaw, s.rawPointer);
      inFile.emplace_back(s.rawPointer, (uint64_t)s.rawPointer + s.rawSize);
    }
    end->memory = std::max<uint64_t>(end->memory, MappedEnd(s, l.sectionAlignment));
    inMemory.emplace_back(s.virtualAddress, MappedEnd(s, l.sectionAlignment));
  }
  if (end->file > image.size()) return Refuse(error, "the executable is truncated (a section lies past its end)");
  if (Overlapping(inFile, std::max<uint64_t>(l.sizeOfHeaders, SectionTableEnd(l))))
    return Refuse(error, "the executable's sections overlap its headers or each other");
  // An address two sections claim could be read back from the other one.
  if (Overlapping(inMemory, l.sizeOfHeaders))
    return Refuse(error, "the executable's sections overlap its headers or each other in memory");
  return true;
}

// The address of the section that follows s in memory, or UINT64_MAX for
// the last one, which may grow without end.
uint64_t NextSectionAddress(const std::vector<Section>& sections, const Section& s) {
  uint64_t next = UINT64_MAX;
  for (const Section& t : sections)
    if (t.virtualAddress > s.virtualAddress) next = std::min<uint64_t>(next, t.virtualAddress);
  return next;
}

// How the tree goes in: the new image is the old one up to keptTo, zeros
// up to rawPointer, the tree in raw bytes of room, and the old one again
// from resumeAt on.
struct Rewrite {
  enum How { kGrow, kInPlace, kNewSection } how = kNewSection;
  uint64_t keptTo = 0, rawPointer = 0, raw = 0, resumeAt = 0;
  uint64_t size = 0;  // the tree's section, the hole included
  size_t header = 0;  // the section header that describes it
  TreeWriter writer;

  // Whether the written file, or the addresses its tree's section takes,
  // pass what the 32-bit fields of the headers hold.
  bool Passes4GiB(size_t imageSize, uint32_t sectionAlignment) const {
    return rawPointer + raw + (imageSize - resumeAt) > 0xFFFFFFFFull ||
           writer.sectionRva + AlignUp(size, sectionAlignment) > 0xFFFFFFFFull;
  }
};

// The tree rewritten in the section that holds the old one (rsrc), when
// that section holds nothing else: grown when it is the last section in
// the file and in memory, in place when the tree fits its room. Otherwise
// the rewrite stays kNewSection, and *foreign says what else the section
// holds, if anything. False only when the old tree cannot be read.
bool PlanInTreeSection(const ImageView& image, const Layout& l, const std::vector<Section>& sections, const Section& s,
                       const SectionsEnd& end, const TreeNode& root, Rewrite* w, std::string* foreign,
                       std::string* error) {
  // The section may be rewritten up to the next one in memory. (Laying the
  // new tree around foreign bytes would mean keeping them at their
  // addresses, which code and directories use, inside a tree that moves.)
  uint64_t next = NextSectionAddress(sections, s);
  bool treeAlone = false;
  if (!TreeAloneIn(image, l, s, next, &treeAlone, foreign, error)) return false;
  if (!treeAlone) return true;
  w->writer.sectionRva = s.virtualAddress;
  w->size = w->writer.Plan(root);
  bool lastInFile = (uint64_t)s.rawPointer + s.rawSize == end.file;
  bool lastInMemory = MappedEnd(s, l.sectionAlignment) == end.memory;
  uint64_t roomInMemory = next == UINT64_MAX ? UINT64_MAX : next - s.virtualAddress;
  if (lastInFile && lastInMemory) {
    // Grows freely: the file is cut at the section and continued behind it.
    w->how = Rewrite::kGrow;
    w->keptTo = w->rawPointer = s.rawPointer;
    w->raw = AlignUp(w->size, l.fileAlignment);
    w->resumeAt = end.file;
  } else if (w->size <= s.rawSize && w->size <= roomInMemory) {
    w->how = Rewrite::kInPlace;
    w->keptTo = w->rawPointer = s.rawPointer;
    w->raw = s.rawSize;
    w->resumeAt = (uint64_t)s.rawPointer + s.rawSize;
  }
  return true;
}

// The tree in a new last section, behind every other in the file and in
// memory. Its header needs room between the section table and the first
// section's data, and its bytes and addresses must be ones no directory
// uses (bound imports often stand right behind the section table, in the
// headers, which are mapped at address 0).
bool PlanNewSection(const ImageView& image, const Layout& l, const SectionsEnd& end, const TreeNode& root,
                    const std::string& foreign, Rewrite* w, std::string* error) {
  size_t header = (size_t)SectionTableEnd(l);
  if (header + SECTION_HEADER_SIZE > l.sizeOfHeaders || header + SECTION_HEADER_SIZE > end.firstRaw)
    return Refuse(error, foreign.empty() ? "the executable's headers have no room for another section"
                                         : "the executable's resource section also holds " + foreign +
                                               ", which a new resource tree there would lose, and its headers have no "
                                               "room for another section");
  // Checked once aligned: the new section's address must fit 32 bits.
  uint64_t address = AlignUp(end.memory, l.sectionAlignment);
  if (address > 0xFFFFFFFFull) return Refuse(error, "the executable's image is too large");
  TreeWriter fresh;
  fresh.deferred = w->writer.deferred;
  fresh.deferredSize = w->writer.deferredSize;
  w->writer = std::move(fresh);
  w->writer.sectionRva = (uint32_t)address;
  w->size = w->writer.Plan(root);
  w->how = Rewrite::kNewSection;
  w->header = header;
  w->keptTo = end.file;
  w->rawPointer = AlignUp(end.file, l.fileAlignment);
  w->raw = AlignUp(w->size, l.fileAlignment);
  w->resumeAt = end.file;
  std::string which;
  if (DirectoryIn(image, l, header, header + SECTION_HEADER_SIZE, &which) ||
      DirectoryIn(image, l, address, address + AlignUp(std::max<uint64_t>(w->size, 1), l.sectionAlignment), &which))
    return Refuse(error, "the executable keeps " + which + " where a new resource section would go");
  return true;
}

// The new image's bytes: what it keeps of the old one around the tree,
// the deferred data's hole left out. The whole size is reserved up front:
// growing by doubling would hold the image twice.
std::vector<uint8_t> Assemble(const ImageView& image, const Rewrite& w) {
  std::vector<uint8_t> result;
  result.reserve((size_t)(w.rawPointer + w.raw - w.writer.holeSize + (image.size() - w.resumeAt)));
  result.assign(image.begin(), image.begin() + (size_t)w.keptTo);
  result.resize((size_t)(w.rawPointer + w.raw - w.writer.holeSize), 0);
  w.writer.WriteTo(&result[(size_t)w.rawPointer]);
  result.insert(result.end(), image.begin() + (size_t)w.resumeAt, image.end());
  return result;
}

// The headers made to describe the rewritten tree: its section's header
// (a new one, or the tree section's own), the section count, a symbol
// table that moved, and the resource directory entry. Returns how much
// initialized data the image gained.
int64_t DescribeTree(std::vector<uint8_t>& result, const Layout& l, const Section* treeSection, const SectionsEnd& end,
                     const Rewrite& w) {
  size_t coff = l.peOffset + PE_SIGNATURE_SIZE;
  if (w.how != Rewrite::kInPlace) {
    uint32_t symbols = Load32(&result[coff + COFF_SYMBOL_POINTER]);
    if (symbols != 0 && symbols >= end.file)
      Store32(&result[coff + COFF_SYMBOL_POINTER], (uint32_t)(symbols + w.rawPointer + w.raw - end.file));
  }
  int64_t initializedDelta = 0;
  size_t header = w.header;
  if (w.how == Rewrite::kNewSection) {
    std::fill(result.begin() + (ptrdiff_t)header, result.begin() + (ptrdiff_t)(header + SECTION_HEADER_SIZE), 0);
    memcpy(&result[header + SECTION_NAME], ".rsrc2\0\0", SECTION_NAME_SIZE);
    Store32(&result[header + SECTION_VIRTUAL_ADDRESS], w.writer.sectionRva);
    Store32(&result[header + SECTION_RAW_POINTER], (uint32_t)w.rawPointer);
    Store32(&result[header + SECTION_CHARACTERISTICS], SCN_INITIALIZED_READ);
    Store16(&result[coff + COFF_SECTION_COUNT], (uint16_t)(l.sectionCount + 1));
    initializedDelta = (int64_t)w.raw;
  } else {
    header = treeSection->headerOffset;
    if (w.how == Rewrite::kGrow) initializedDelta = (int64_t)w.raw - (int64_t)treeSection->rawSize;
  }
  Store32(&result[header + SECTION_VIRTUAL_SIZE], (uint32_t)w.size);
  if (w.how != Rewrite::kInPlace) Store32(&result[header + SECTION_RAW_SIZE], (uint32_t)w.raw);
  size_t resourceEntry = l.dataDirectoryOffset + PE_RESOURCE_DIRECTORY * DATA_DIRECTORY_SIZE;
  Store32(&result[resourceEntry + DATA_DIRECTORY_ADDRESS], w.writer.sectionRva);
  Store32(&result[resourceEntry + DATA_DIRECTORY_LENGTH], (uint32_t)w.size);
  return initializedDelta;
}

// SizeOfImage, to cover every section, now including a grown or new one,
// and SizeOfInitializedData, changed by what the tree's section gained.
bool UpdateImageSizes(std::vector<uint8_t>& result, const Layout& l, int64_t initializedDelta, std::string* error) {
  Layout after;
  if (!ParseLayout(result, &after, error)) return false;
  uint64_t imageEnd = 0;
  for (const Section& s : Sections(result, after)) imageEnd = std::max<uint64_t>(imageEnd, MappedEnd(s, l.sectionAlignment));
  size_t o = l.optionalOffset;
  Store32(&result[o + OPT_SIZE_OF_IMAGE], (uint32_t)AlignUp(imageEnd, l.sectionAlignment));
  Store32(&result[o + OPT_SIZE_OF_INIT_DATA], (uint32_t)((int64_t)Load32(&result[o + OPT_SIZE_OF_INIT_DATA]) + initializedDelta));
  return true;
}

}  // namespace

bool WriteResourcesSplit(const ImageView& image, const std::vector<Resource>& resources, size_t deferred,
                         size_t deferredSize, SplitImage* out, std::string* error) {
  Layout l;
  if (!ParseLayout(image, &l, error) || !CheckTemplate(image, l, error)) return false;
  std::vector<Section> sections = Sections(image, l);
  TreeNode root;
  if (!BuildTree(resources, &root))
    return Refuse(error, "the executable holds two resources of one type, name and language");
  SectionsEnd end;
  if (!MeasureSections(image, l, sections, &end, error)) return false;

  Rewrite w;
  w.writer.deferred = deferred < resources.size() ? &resources[deferred] : nullptr;
  w.writer.deferredSize = deferredSize;
  // The section that holds the resource tree, when the tree starts it.
  const Section* treeSection = nullptr;
  for (const Section& s : sections)
    if (l.resourceRva != 0 && s.virtualAddress == l.resourceRva) treeSection = &s;
  std::string foreign;
  if (treeSection && !PlanInTreeSection(image, l, sections, *treeSection, end, root, &w, &foreign, error)) return false;
  if (w.how == Rewrite::kNewSection && !PlanNewSection(image, l, end, root, foreign, &w, error)) return false;
  // A grown or new section's sizes, its addresses and SizeOfImage are 32-bit
  // fields: a deferred span near 4 GiB would wrap them (and, on a 32-bit
  // host, the sizes below). The addresses pass 4 GiB before the file does
  // when the section lies higher in memory than in the file.
  if (w.how != Rewrite::kInPlace && w.Passes4GiB(image.size(), l.sectionAlignment))
    return Refuse(error, "the executable would pass 4 GiB");

  std::vector<uint8_t> result = Assemble(image, w);
  int64_t initializedDelta = DescribeTree(result, l, treeSection, end, w);
  if (!UpdateImageSizes(result, l, initializedDelta, error)) return false;
  out->bytes = std::move(result);
  out->spanOffset = (size_t)(w.rawPointer + w.writer.holeAt);
  out->spanSize = (size_t)w.writer.holeSize;
  out->checksumOffset = l.optionalOffset + PE_CHECKSUM_FIELD;
  return true;
}

bool ReplaceResource(const std::vector<uint8_t>& image, const Resource& resource, std::vector<uint8_t>* out,
                     std::string* error) {
  return ReplaceResource(image, Resource(resource), out, error);
}

bool ReplaceResource(const std::vector<uint8_t>& image, Resource&& resource, std::vector<uint8_t>* out,
                     std::string* error) {
  std::vector<Resource> all;
  if (!ReadResources(image, &all, error)) return false;
  all.erase(std::remove_if(all.begin(), all.end(),
                           [&](const Resource& r) { return SameKey(r.type, resource.type) && SameKey(r.name, resource.name); }),
            all.end());
  all.push_back(std::move(resource));
  return WriteResources(image, all, out, error);
}

}  // namespace pe
