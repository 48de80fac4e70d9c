#include "pe/pe_version.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pe {

namespace {

constexpr uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr uint32_t kVersionResourceId = 1;     // VS_VERSION_INFO
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;  // sizeof(VS_FIXEDFILEINFO)
constexpr uint32_t kHighBit = 0x80000000;

// "VS_VERSION_INFO" in UTF-16LE with its terminating NUL.
constexpr char kVersionKey[] = "V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0";
constexpr size_t kVersionKeySize = sizeof kVersionKey - 1;  // 32 bytes
// wLength, wValueLength, wType, the key, then padding to a 4-byte boundary.
constexpr size_t kFixedInfoOffset = (6 + kVersionKeySize + 3) & ~size_t{3};

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct Section {
  uint32_t virtualAddress;
  uint32_t size;  // the part of the section the file holds
  uint32_t rawOffset;
};

struct DirectoryEntry {
  uint32_t name;    // an id, or (high bit set) the offset of a name
  uint32_t target;  // a data entry, or (high bit set) a subdirectory
  bool isId() const { return (name & kHighBit) == 0; }
  bool isDirectory() const { return (target & kHighBit) != 0; }
  uint32_t offset() const { return target & ~kHighBit; }
};

class Image {
 public:
  explicit Image(const ByteSource& file) : file_(file) {}

  // Headers and section table; false when they are not those of a PE file.
  bool load() {
    uint8_t dos[64];
    if (!file_.read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint64_t peHeader = le32(dos + 0x3C);

    uint8_t coff[24];
    if (!file_.read(peHeader, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0)
      return false;
    const uint16_t sectionCount = le16(coff + 6);
    const uint16_t optionalSize = le16(coff + 20);

    // The resource directory's entry in the optional header's data directories.
    uint8_t optional[240] = {};
    const size_t optionalRead = std::min<size_t>(optionalSize, sizeof optional);
    if (optionalRead < 2 || !file_.read(peHeader + 24, optional, optionalRead)) return false;
    size_t countAt, directoriesAt;
    switch (le16(optional)) {
      case 0x10B:  // PE32
        countAt = 92;
        directoriesAt = 96;
        break;
      case 0x20B:  // PE32+
        countAt = 108;
        directoriesAt = 112;
        break;
      default:
        return false;
    }
    const size_t resourceEntryAt = directoriesAt + 2 * 8;
    if (optionalRead < resourceEntryAt + 8 || le32(optional + countAt) < 3) return false;
    resourceRva_ = le32(optional + resourceEntryAt);
    if (resourceRva_ == 0) return false;

    std::vector<uint8_t> table(size_t{sectionCount} * 40);
    if (!file_.read(peHeader + 24 + optionalSize, table.data(), table.size())) return false;
    sections_.reserve(sectionCount);
    for (size_t i = 0; i < sectionCount; ++i) {
      const uint8_t* s = table.data() + i * 40;
      const uint32_t virtualSize = le32(s + 8);
      const uint32_t rawSize = le32(s + 16);
      // The file holds the raw data, of which the loaded image keeps at most
      // the virtual size (zero in some old linkers' output: all of it).
      const uint32_t size = virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
      sections_.push_back({le32(s + 12), size, le32(s + 20)});
    }
    return true;
  }

  // Reads size bytes at an address of the loaded image, all within one section.
  bool readRva(uint64_t rva, void* out, size_t size) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      const uint64_t into = rva - s.virtualAddress;
      if (into >= s.size || size > s.size - into) continue;
      return file_.read(uint64_t{s.rawOffset} + into, out, size);
    }
    return false;
  }

  // The entries of the resource directory at an offset from the resource root.
  bool readDirectory(uint32_t offset, std::vector<DirectoryEntry>& entries) const {
    uint8_t header[16];
    if (!readRva(uint64_t{resourceRva_} + offset, header, sizeof header)) return false;
    const size_t count = size_t{le16(header + 12)} + le16(header + 14);
    std::vector<uint8_t> raw(count * 8);
    if (!readRva(uint64_t{resourceRva_} + offset + 16, raw.data(), raw.size())) return false;
    entries.clear();
    for (size_t i = 0; i < count; ++i)
      entries.push_back({le32(&raw[i * 8]), le32(&raw[i * 8 + 4])});
    return true;
  }

  // The fixed file version from the version resource: type, then name, then language.
  std::optional<FixedFileVersion> versionResource() const {
    std::vector<DirectoryEntry> entries;
    // Types: RT_VERSION.
    if (!readDirectory(0, entries)) return std::nullopt;
    auto type = std::find_if(entries.begin(), entries.end(), [](const DirectoryEntry& e) {
      return e.isId() && e.name == kResourceTypeVersion;
    });
    if (type == entries.end() || !type->isDirectory()) return std::nullopt;

    // Names: VS_VERSION_INFO, or else the first one.
    if (!readDirectory(type->offset(), entries) || entries.empty()) return std::nullopt;
    auto name = std::find_if(entries.begin(), entries.end(), [](const DirectoryEntry& e) {
      return e.isId() && e.name == kVersionResourceId;
    });
    if (name == entries.end()) name = entries.begin();
    if (!name->isDirectory()) return std::nullopt;

    // Languages: the first one.
    if (!readDirectory(name->offset(), entries) || entries.empty()) return std::nullopt;
    if (entries.front().isDirectory()) return std::nullopt;

    uint8_t dataEntry[16];
    if (!readRva(uint64_t{resourceRva_} + entries.front().offset(), dataEntry, sizeof dataEntry))
      return std::nullopt;
    const uint32_t dataRva = le32(dataEntry);
    const uint32_t dataSize = le32(dataEntry + 4);
    return parseVersionInfo(dataRva, dataSize);
  }

 private:
  // VS_VERSIONINFO: wLength, wValueLength, wType, "VS_VERSION_INFO", padding,
  // then VS_FIXEDFILEINFO as its value.
  std::optional<FixedFileVersion> parseVersionInfo(uint32_t rva, uint32_t size) const {
    constexpr size_t kNeeded = kFixedInfoOffset + kFixedInfoSize;
    uint8_t info[kNeeded];
    if (size < kNeeded || !readRva(rva, info, sizeof info)) return std::nullopt;
    const uint16_t length = le16(info);
    const uint16_t valueLength = le16(info + 2);
    if (length < kNeeded || valueLength < kFixedInfoSize) return std::nullopt;
    if (std::memcmp(info + 6, kVersionKey, kVersionKeySize) != 0) return std::nullopt;
    const uint8_t* fixed = info + kFixedInfoOffset;
    if (le32(fixed) != kFixedInfoSignature) return std::nullopt;
    return FixedFileVersion{le32(fixed + 8), le32(fixed + 12)};
  }

  const ByteSource& file_;
  uint32_t resourceRva_ = 0;
  std::vector<Section> sections_;
};

}  // namespace

bool MemorySource::read(uint64_t offset, void* out, size_t size) const {
  if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
  if (size != 0) std::memcpy(out, bytes_.data() + offset, size);
  return true;
}

std::optional<FixedFileVersion> readFixedFileVersion(const ByteSource& file) {
  Image image(file);
  if (!image.load()) return std::nullopt;
  return image.versionResource();
}

std::optional<FixedFileVersion> readFixedFileVersion(std::string_view bytes) {
  return readFixedFileVersion(MemorySource(bytes));
}

}  // namespace pe
