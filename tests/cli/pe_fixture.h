// Minimal Windows executables built in code for the tests of the resource
// rewriting: headers, a code section, optionally a resource section (with
// or without a section after it) and bytes behind the last section. They are
// not meant to run; they carry exactly the structures the rewrite touches.
#pragma once

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

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

inline void Put16(std::vector<uint8_t>& b, size_t o, uint16_t v) {
  b[o] = (uint8_t)v;
  b[o + 1] = (uint8_t)(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t o, uint32_t v) {
  for (int i = 0; i < 4; i++) b[o + i] = (uint8_t)(v >> (8 * i));
}
inline uint16_t Get16(const std::vector<uint8_t>& b, size_t o) { return (uint16_t)(b[o] | b[o + 1] << 8); }
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t o) {
  return (uint32_t)b[o] | (uint32_t)b[o + 1] << 8 | (uint32_t)b[o + 2] << 16 | (uint32_t)b[o + 3] << 24;
}
inline uint32_t Align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

const size_t kPeOffset = 0x80;
inline size_t OptionalOffset() { return kPeOffset + 24; }
inline size_t OptionalSize(bool plus) { return plus ? 240 : 224; }
inline size_t SectionTable(bool plus) { return OptionalOffset() + OptionalSize(plus); }
inline size_t DataDirectories(bool plus) { return OptionalOffset() + (plus ? 112 : 96); }

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
  uint32_t headers = Align((uint32_t)(SectionTable(plus) + sections.size() * 40 + o.extraHeaderRoom), kFileAlign);
  std::vector<uint8_t> f(headers, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, (uint32_t)kPeOffset);
  memcpy(&f[kPeOffset], "PE\0\0", 4);
  size_t coff = kPeOffset + 4;
  Put16(f, coff, plus ? 0x8664 : 0x14C);
  Put16(f, coff + 2, (uint16_t)sections.size());
  Put32(f, coff + 8, o.symbolPointer);
  Put16(f, coff + 16, (uint16_t)OptionalSize(plus));
  Put16(f, coff + 18, plus ? 0x0022 : 0x0102);
  size_t opt = OptionalOffset();
  Put16(f, opt, plus ? 0x20B : 0x10B);
  Put32(f, opt + 16, 0x1000);  // entry point
  Put32(f, opt + 32, kSectionAlign);
  Put32(f, opt + 36, kFileAlign);
  Put16(f, opt + 48, 4);  // subsystem version
  Put32(f, opt + 60, headers);
  Put16(f, opt + 68, 2);  // GUI
  Put32(f, opt + (plus ? 108 : 92), 16);
  uint32_t initialized = 0;
  uint32_t raw = headers;
  uint32_t imageEnd = 0;
  for (size_t i = 0; i < sections.size(); i++) {
    SectionSpec& s = sections[i];
    size_t h = SectionTable(plus) + i * 40;
    memcpy(&f[h], s.name, strlen(s.name));
    Put32(f, h + 8, s.virtualSize);
    Put32(f, h + 12, s.va);
    Put32(f, h + 16, s.rawSize);
    Put32(f, h + 20, raw);
    Put32(f, h + 36, s.flags);
    s.bytes.resize(s.rawSize, 0);
    f.insert(f.end(), s.bytes.begin(), s.bytes.end());
    raw += s.rawSize;
    if (s.flags & 0x40) initialized += s.rawSize;
    imageEnd = s.va + Align(s.virtualSize, kSectionAlign);
  }
  Put32(f, opt + 8, initialized);
  Put32(f, opt + 56, imageEnd);
  size_t dirs = DataDirectories(plus);
  if (!o.resources.empty()) {
    Put32(f, dirs + 2 * 8, kResourceRva);
    Put32(f, dirs + 2 * 8 + 4, (uint32_t)o.resources.size());
  }
  Put32(f, dirs + 4 * 8, o.securityOffset);
  Put32(f, dirs + 4 * 8 + 4, o.securitySize);
  f.insert(f.end(), o.overlay.begin(), o.overlay.end());
  return f;
}

}  // namespace pe_fixture
