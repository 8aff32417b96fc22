// Reading and rewriting the resources of a Windows executable (PE32 and
// PE32+), so that the publisher's tool can stamp an archive into a prebuilt
// updater and read it back without a Windows toolchain.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pack/pe_format.h"

namespace pe {

// A resource type, name or language: an integer id or a UTF-16 string.
struct ResourceKey {
  bool isString = false;
  uint16_t id = 0;
  std::u16string text;  // only when isString
};
ResourceKey KeyId(uint16_t id);
ResourceKey KeyString(const char* ascii);
bool SameKey(const ResourceKey& a, const ResourceKey& b);

// One leaf of the resource tree: type / name / language and its bytes.
struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// The bytes of an image, read in place: a vector, or a file mapped whole of
// which only the pages read are loaded (a built updater read back).
struct ImageView {
  const uint8_t* data = nullptr;
  size_t length = 0;
  ImageView(const std::vector<uint8_t>& bytes) : data(bytes.data()), length(bytes.size()) {}
  ImageView(const uint8_t* bytes, size_t size) : data(bytes), length(size) {}
  size_t size() const { return length; }
  const uint8_t& operator[](size_t i) const { return data[i]; }
  const uint8_t* begin() const { return data; }
  const uint8_t* end() const { return data + length; }
};

// The headers of an executable that the rewrite needs, as parsed.
struct Layout {
  bool pe32Plus = false;
  size_t peOffset = 0;            // "PE\0\0"
  size_t optionalOffset = 0;      // optional header
  size_t sectionTableOffset = 0;  // first section header
  uint16_t sectionCount = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t dataDirectoryCount = 0;
  size_t dataDirectoryOffset = 0;  // first data directory entry
  uint32_t resourceRva = 0, resourceSize = 0;
  uint32_t securityOffset = 0, securitySize = 0;  // a file offset, not an RVA
};


// Each returns false with a one-line reason in *error.
bool ParseLayout(const ImageView& image, Layout* layout, std::string* error);
// Every leaf of the resource tree, in tree order.
bool ReadResources(const ImageView& image, std::vector<Resource>* out, std::string* error);
// What reading a tree cost, counted, so that tests bound it by work done
// rather than by time.
struct ReadWork {
  uint64_t sectionSteps = 0;  // section headers compared to place an address
};
// The same leaves without copying their bytes (each Resource's data stays
// empty): (*spans)[i] is the offset and size of (*out)[i]'s bytes in image.
bool ReadResourceSpans(const ImageView& image, std::vector<Resource>* out,
                       std::vector<std::pair<size_t, size_t>>* spans, std::string* error, ReadWork* work = nullptr);
// Where the bytes of type/name in any language (1041 preferred, else the
// first) stand in image, without copying any resource.
bool FindResourceSpan(const ImageView& image, const ResourceKey& type, const ResourceKey& name,
                      size_t* offset, size_t* size, std::string* error);
// The same for a resource that may be absent: *present says whether it is
// there; false only for an image whose resource tree cannot be read.
bool FindOptionalResourceSpan(const ImageView& image, const ResourceKey& type, const ResourceKey& name,
                              bool* present, size_t* offset, size_t* size, std::string* error);
// Whether every data directory of `after` but the resource tree's is the
// one of `before` and, where it lies in file data, holds the same bytes:
// what a rewrite of the resources must leave as it was. False with the
// first that differs.
bool SameDataDirectories(const ImageView& before, const ImageView& after, std::string* error);
// A copy of image whose resource tree is exactly `resources` (the section is
// rebuilt in place when it fits, otherwise as a new last section), with
// SizeOfImage, SizeOfInitializedData and the checksum made consistent. A
// section that holds anything besides the tree (data a directory points
// at, or any byte the tree does not take that is not zero) is kept exactly
// and the tree goes into a new section; such an image is refused when its
// headers have no room for one.
// Refuses an image that carries an Authenticode signature or a FileAlignment
// above 64 KiB, and resources naming one type, name and language twice.
bool WriteResources(const ImageView& image, const std::vector<Resource>& resources, std::vector<uint8_t>* out,
                    std::string* error);

// An image written with the bytes of one resource left out: `bytes` is the
// image without them, and they belong at spanOffset, spanSize long (so the
// file is bytes[0, spanOffset), the span, bytes[spanOffset, end)). The
// checksum field is left as the template had it: the checksum covers the
// span too, and only the caller, who has its bytes, can finish it (ImageSum).
struct SplitImage {
  std::vector<uint8_t> bytes;
  size_t spanOffset = 0, spanSize = 0;
  size_t checksumOffset = 0;
  uint64_t FileSize() const { return (uint64_t)bytes.size() + spanSize; }
};
// WriteResources for data too large to hold: resources[deferred] carries
// no bytes and stands for deferredSize of them, laid out exactly as held
// ones would be.
bool WriteResourcesSplit(const ImageView& image, const std::vector<Resource>& resources, size_t deferred,
                         size_t deferredSize, SplitImage* out, std::string* error);
// Adds type/name/language to the tree, replacing every language of
// type/name that is there, and writes the image as WriteResources does.
bool ReplaceResource(const std::vector<uint8_t>& image, const Resource& resource, std::vector<uint8_t>* out,
                     std::string* error);
// The same, taking the resource's bytes instead of copying them.
bool ReplaceResource(const std::vector<uint8_t>& image, Resource&& resource, std::vector<uint8_t>* out,
                     std::string* error);
// The PE image checksum over the whole file, the field itself taken as 0.
uint32_t ImageChecksum(const std::vector<uint8_t>& file, size_t checksumOffset);

// The same checksum taken a piece at a time, for a file never held whole:
// pieces may come in any order and start at any offset, odd ones included
// (a byte at an odd offset is the high half of its word).
class ImageSum {
 public:
  explicit ImageSum(size_t checksumOffset);
  // size bytes that stand at offset `at` in the file.
  void Add(const uint8_t* bytes, size_t size, uint64_t at);
  uint32_t Finish(uint64_t fileSize) const;

 private:
  void AddRun(const uint8_t* bytes, uint64_t from, uint64_t to);
  uint64_t skip_;     // the four bytes taken as 0
  uint64_t sum_ = 0;  // unfolded: a byte adds below 2^16, so it cannot overflow
};

}  // namespace pe
