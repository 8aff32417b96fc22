// Minimal Windows executables built in code for the tests of the resource
// rewriting: headers, a code section, optionally a resource section (with
// or without a section after it) and bytes behind the last section. They are
// not meant to run; they carry exactly the structures the rewrite touches.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/bytes.h"
#include "pack/pe_format.h"
#include "pack/pe_resource.h"

namespace pe_fixture {

struct Options {
  bool pe32Plus = false;
  // Raw bytes of a resource section (a tree built for RVA kResourceRva), or
  // empty for an executable without resources.
  std::vector<uint8_t> resources;
  uint32_t resourceRawSize = 0x200;  // file room of the resource section
  bool sectionAfterResources = false;  // a .reloc after .rsrc
  std::vector<uint8_t> overlay;        // bytes behind the last section
  uint32_t symbolPointer = 0;          // COFF PointerToSymbolTable
  uint32_t securityOffset = 0, securitySize = 0;
  uint16_t extraHeaderRoom = 0x200;  // bytes of headers behind the section table
};

const uint32_t kFileAlign = 0x200;
const uint32_t kSectionAlign = 0x1000;
const uint32_t kResourceRva = 0x2000;

// Fields of a vector at offset o, in archive/bytes.h's byte order.
inline void Put16(std::vector<uint8_t>& b, size_t o, uint16_t v) { Store16(&b[o], v); }
inline void Put32(std::vector<uint8_t>& b, size_t o, uint32_t v) { Store32(&b[o], v); }
inline uint16_t Get16(const std::vector<uint8_t>& b, size_t o) { return Load16(&b[o]); }
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t o) { return Load32(&b[o]); }
inline uint32_t Align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

const size_t kPeOffset = 0x80;
inline size_t OptionalOffset() { return kPeOffset + PE_SIGNATURE_SIZE + COFF_HEADER_SIZE; }
inline size_t OptionalSize(bool plus) { return plus ? 240 : 224; }
inline size_t SectionTable(bool plus) { return OptionalOffset() + OptionalSize(plus); }
inline size_t DataDirectories(bool plus) {
  return OptionalOffset() + (plus ? OPT_DIRECTORY_COUNT_PE32_PLUS : OPT_DIRECTORY_COUNT_PE32) + 4;
}

struct SectionSpec {
  const char* name;
  uint32_t va, virtualSize, rawSize;
  std::vector<uint8_t> bytes;
  uint32_t flags;
};

inline std::vector<uint8_t> Build(const Options& o) {
  std::vector<SectionSpec> sections;
  std::vector<uint8_t> code(0x200);
  for (size_t i = 0; i < code.size(); i++) code[i] = (uint8_t)(i * 7 + 3);
  sections.push_back({".text", 0x1000, 0x180, 0x200, code, 0x60000020u});
  uint32_t nextVa = 0x2000;
  if (!o.resources.empty()) {
    uint32_t raw = Align(std::max<uint32_t>(o.resourceRawSize, (uint32_t)o.resources.size()), kFileAlign);
    sections.push_back({".rsrc", kResourceRva, (uint32_t)o.resources.size(), raw, o.resources, 0x40000040u});
    nextVa = kResourceRva + Align((uint32_t)o.resources.size(), kSectionAlign);
  }
  if (o.sectionAfterResources) {
    std::vector<uint8_t> reloc(0x200, 0xAB);
    sections.push_back({".reloc", nextVa, 0x100, 0x200, reloc, 0x42000040u});
  }
  bool plus = o.pe32Plus;
  uint32_t headers = Align((uint32_t)(SectionTable(plus) + sections.size() * SECTION_HEADER_SIZE + o.extraHeaderRoom), kFileAlign);
  std::vector<uint8_t> f(headers, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, DOS_PE_OFFSET, (uint32_t)kPeOffset);
  memcpy(&f[kPeOffset], "PE\0\0", PE_SIGNATURE_SIZE);
  size_t coff = kPeOffset + PE_SIGNATURE_SIZE;
  Put16(f, coff + COFF_MACHINE, plus ? 0x8664 : 0x14C);
  Put16(f, coff + COFF_SECTION_COUNT, (uint16_t)sections.size());
  Put32(f, coff + COFF_SYMBOL_POINTER, o.symbolPointer);
  Put16(f, coff + COFF_OPTIONAL_SIZE, (uint16_t)OptionalSize(plus));
  Put16(f, coff + COFF_CHARACTERISTICS, plus ? 0x0022 : 0x0102);
  size_t opt = OptionalOffset();
  Put16(f, opt + OPT_MAGIC, plus ? OPT_MAGIC_PE32_PLUS : OPT_MAGIC_PE32);
  Put32(f, opt + OPT_ENTRY_POINT, 0x1000);
  Put32(f, opt + OPT_SECTION_ALIGNMENT, kSectionAlign);
  Put32(f, opt + OPT_FILE_ALIGNMENT, kFileAlign);
  Put16(f, opt + OPT_SUBSYSTEM_VERSION, 4);
  Put32(f, opt + OPT_SIZE_OF_HEADERS, headers);
  Put16(f, opt + OPT_SUBSYSTEM, 2);  // GUI
  Put32(f, opt + (plus ? OPT_DIRECTORY_COUNT_PE32_PLUS : OPT_DIRECTORY_COUNT_PE32), PE_MAX_DIRECTORIES);
  uint32_t initialized = 0;
  uint32_t raw = headers;
  uint32_t imageEnd = 0;
  for (size_t i = 0; i < sections.size(); i++) {
    SectionSpec& s = sections[i];
    size_t h = SectionTable(plus) + i * SECTION_HEADER_SIZE;
    memcpy(&f[h + SECTION_NAME], s.name, strlen(s.name));
    Put32(f, h + SECTION_VIRTUAL_SIZE, s.virtualSize);
    Put32(f, h + SECTION_VIRTUAL_ADDRESS, s.va);
    Put32(f, h + SECTION_RAW_SIZE, s.rawSize);
    Put32(f, h + SECTION_RAW_POINTER, raw);
    Put32(f, h + SECTION_CHARACTERISTICS, s.flags);
    s.bytes.resize(s.rawSize, 0);
    f.insert(f.end(), s.bytes.begin(), s.bytes.end());
    raw += s.rawSize;
    if (s.flags & 0x40) initialized += s.rawSize;
    imageEnd = s.va + Align(s.virtualSize, kSectionAlign);
  }
  Put32(f, opt + OPT_SIZE_OF_INIT_DATA, initialized);
  Put32(f, opt + OPT_SIZE_OF_IMAGE, imageEnd);
  size_t dirs = DataDirectories(plus);
  if (!o.resources.empty()) {
    size_t d = dirs + PE_RESOURCE_DIRECTORY * DATA_DIRECTORY_SIZE;
    Put32(f, d + DATA_DIRECTORY_ADDRESS, kResourceRva);
    Put32(f, d + DATA_DIRECTORY_LENGTH, (uint32_t)o.resources.size());
  }
  size_t security = dirs + PE_SECURITY_DIRECTORY * DATA_DIRECTORY_SIZE;
  Put32(f, security + DATA_DIRECTORY_ADDRESS, o.securityOffset);
  Put32(f, security + DATA_DIRECTORY_LENGTH, o.securitySize);
  f.insert(f.end(), o.overlay.begin(), o.overlay.end());
  return f;
}

}  // namespace pe_fixture

namespace pe {

// The bytes of type/name in any language (1041 preferred, else the first):
// a copy of what FindResourceSpan places, for tests that compare them.
inline bool FindResourceData(const ImageView& image, const ResourceKey& type, const ResourceKey& name,
                             std::vector<uint8_t>* out, std::string* error) {
  size_t offset = 0, size = 0;
  if (!FindResourceSpan(image, type, name, &offset, &size, error)) return false;
  out->assign(image.begin() + offset, image.begin() + offset + size);
  return true;
}

}  // namespace pe
