// Small but complete PE32 and PE32+ images with a version resource, built
// byte by byte, so that the version reader and both providers can be tested
// on every system without a resource compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pe_fixture {

struct Options {
  bool pe32plus = false;
  uint32_t ms = 0x0002000A;  // 2.10
  uint32_t ls = 0x00000007;  // 0.7
  // A named type and an icon type before the version, and a second language.
  bool otherResources = false;
  uint32_t versionNameId = 1;
  // The version resource's bytes in a section of their own.
  bool dataInOwnSection = false;
};

struct Image {
  std::string bytes;
  size_t fixedInfo = 0;          // file offset of VS_FIXEDFILEINFO
  size_t resourceSection = 0;    // file offset of the resource root directory
  size_t versionTypeEntry = 0;   // file offset of the root's entry for the version type
  size_t versionDataEntry = 0;   // file offset of the version's data entry
  size_t resourceDirectory = 0;  // file offset of the optional header's resource directory entry
};

Image build(const Options& options = {});

inline uint32_t get32(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
         static_cast<uint8_t>(bytes[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

inline void put32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace pe_fixture
