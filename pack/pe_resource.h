// Reading and rewriting the resources of a Windows executable (PE32 and
// PE32+), so that the publisher's tool can stamp an archive into a prebuilt
// updater and read it back without a Windows toolchain.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

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

#define PE_RESOURCE_DIRECTORY 2
#define PE_SECURITY_DIRECTORY 4
#define PE_CHECKSUM_FIELD 64  // offset of CheckSum in both optional headers

// Each returns false with a one-line reason in *error.
bool ParseLayout(const std::vector<uint8_t>& image, Layout* layout, std::string* error);
// Every leaf of the resource tree, in tree order.
bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>* out, std::string* error);
// The bytes of type/name in any language (1041 preferred, else the first).
bool FindResourceData(const std::vector<uint8_t>& image, const ResourceKey& type, const ResourceKey& name,
                      std::vector<uint8_t>* out, std::string* error);
// Where those bytes stand in image, without copying any resource.
bool FindResourceSpan(const std::vector<uint8_t>& image, const ResourceKey& type, const ResourceKey& name,
                      size_t* offset, size_t* size, std::string* error);
// A copy of image whose resource tree is exactly `resources` (the section is
// rebuilt in place when it fits, otherwise as a new last section), with
// SizeOfImage, SizeOfInitializedData and the checksum made consistent.
// Refuses an image that carries an Authenticode signature.
bool WriteResources(const std::vector<uint8_t>& image, const std::vector<Resource>& resources,
                    std::vector<uint8_t>* out, std::string* error);
// Adds type/name/language to the tree, replacing every language of
// type/name that is there, and writes the image as WriteResources does.
bool ReplaceResource(const std::vector<uint8_t>& image, const Resource& resource, std::vector<uint8_t>* out,
                     std::string* error);
// The same, taking the resource's bytes instead of copying them.
bool ReplaceResource(const std::vector<uint8_t>& image, Resource&& resource, std::vector<uint8_t>* out,
                     std::string* error);
// The PE image checksum over the whole file, the field itself taken as 0.
uint32_t ImageChecksum(const std::vector<uint8_t>& file, size_t checksumOffset);

}  // namespace pe
