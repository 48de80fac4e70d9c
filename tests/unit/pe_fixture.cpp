#include "pe_fixture.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace pe_fixture {

namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kHeadersSize = 0x200;
constexpr uint32_t kResourceRva = 0x1000;
constexpr uint32_t kHighBit = 0x80000000;

uint32_t alignUp(uint32_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void put16(std::string& bytes, size_t at, uint16_t value) {
  if (bytes.size() < at + 2) bytes.resize(at + 2);
  bytes[at] = static_cast<char>(value);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void put32At(std::string& bytes, size_t at, uint32_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  put32(bytes, at, value);
}

void put64(std::string& bytes, size_t at, uint64_t value) {
  put32At(bytes, at, static_cast<uint32_t>(value));
  put32At(bytes, at + 4, static_cast<uint32_t>(value >> 32));
}

struct Node {
  uint32_t id = 0;
  std::u16string name;  // a named entry when not empty
  std::vector<Node> children;
  std::string data;
  bool leaf = false;
};

Node leaf(uint32_t id, std::string data) {
  return {id, {}, {}, std::move(data), true};
}
Node directory(uint32_t id, std::vector<Node> children, std::u16string name = {}) {
  return {id, std::move(name), std::move(children), {}, false};
}

// VS_VERSIONINFO holding only its VS_FIXEDFILEINFO.
std::string versionInfo(uint32_t ms, uint32_t ls) {
  std::string b(92, '\0');
  put16(b, 0, 92);  // wLength
  put16(b, 2, 52);  // wValueLength
  const char16_t key[] = u"VS_VERSION_INFO";
  for (size_t i = 0; key[i]; ++i) put16(b, 6 + 2 * i, key[i]);
  put32(b, 40, 0xFEEF04BD);  // dwSignature
  put32(b, 44, 0x00010000);  // dwStrucVersion
  put32(b, 48, ms);          // dwFileVersionMS
  put32(b, 52, ls);          // dwFileVersionLS
  put32(b, 56, ms);          // dwProductVersionMS
  put32(b, 60, ls);          // dwProductVersionLS
  put32(b, 64, 0x3F);        // dwFileFlagsMask
  put32(b, 72, 0x00040004);  // dwFileOS: VOS_NT_WINDOWS32
  put32(b, 76, 1);           // dwFileType: VFT_APP
  return b;
}

struct Resources {
  std::string section;  // the resource section
  std::string ownData;  // the data section, when the data has one
  size_t versionTypeEntry = 0;
  size_t versionDataEntry = 0;
  size_t versionData = 0;  // within section, or within ownData
};

// Directories first (breadth first), then data entries, names and data, the
// way resource compilers lay them out.
Resources layOut(const Node& root, const Node* version, uint32_t ownDataRva) {
  std::vector<const Node*> directories{&root}, leaves;
  std::vector<const Node*> named;
  for (size_t i = 0; i < directories.size(); ++i)
    for (const Node& child : directories[i]->children) {
      (child.leaf ? leaves : directories).push_back(&child);
      if (!child.name.empty()) named.push_back(&child);
    }
  std::map<const Node*, uint32_t> at;
  uint32_t end = 0;
  for (const Node* d : directories) at[d] = std::exchange(end, end + 16 + 8 * d->children.size());
  for (const Node* l : leaves) at[l] = std::exchange(end, end + 16);
  std::map<const Node*, uint32_t> nameAt;
  for (const Node* n : named) nameAt[n] = std::exchange(end, end + 2 + 2 * n->name.size());

  Resources r;
  std::map<const Node*, uint32_t> dataRva;
  for (const Node* l : leaves) {
    std::string& to = ownDataRva ? r.ownData : r.section;
    const uint32_t base = ownDataRva ? 0 : alignUp(end, 8);
    const uint32_t offset = alignUp(std::max<uint32_t>(base, to.size()), 8);
    to.resize(offset);
    to += l->data;
    if (!ownDataRva) end = static_cast<uint32_t>(to.size());
    dataRva[l] = (ownDataRva ? ownDataRva : kResourceRva) + offset;
    if (l == version) r.versionData = offset;
  }
  if (r.section.size() < end) r.section.resize(end);

  for (const Node* d : directories) {
    size_t namedCount = 0;
    for (const Node& c : d->children) namedCount += !c.name.empty();
    put16(r.section, at[d] + 12, static_cast<uint16_t>(namedCount));
    put16(r.section, at[d] + 14, static_cast<uint16_t>(d->children.size() - namedCount));
    size_t entry = at[d] + 16;
    for (const Node& c : d->children) {
      put32At(r.section, entry, c.name.empty() ? c.id : kHighBit | nameAt[&c]);
      put32At(r.section, entry + 4, c.leaf ? at[&c] : kHighBit | at[&c]);
      if (d == &root && c.id == 16 && c.name.empty()) r.versionTypeEntry = entry;
      entry += 8;
    }
  }
  for (const Node* l : leaves) {
    put32At(r.section, at[l], dataRva[l]);
    put32At(r.section, at[l] + 4, static_cast<uint32_t>(l->data.size()));
    if (l == version) r.versionDataEntry = at[l];
  }
  for (const Node* n : named) {
    put16(r.section, nameAt[n], static_cast<uint16_t>(n->name.size()));
    for (size_t i = 0; i < n->name.size(); ++i) put16(r.section, nameAt[n] + 2 + 2 * i, n->name[i]);
  }
  return r;
}

void putSection(std::string& image, size_t header, const char* name, uint32_t rva,
                uint32_t virtualSize, uint32_t rawOffset) {
  for (size_t i = 0; i < 8 && name[i]; ++i) image[header + i] = name[i];
  put32(image, header + 8, virtualSize);
  put32(image, header + 12, rva);
  put32(image, header + 16, alignUp(virtualSize, kFileAlignment));
  put32(image, header + 20, rawOffset);
  put32(image, header + 36, 0x40000040);  // initialised data, readable
}

}  // namespace

Image build(const Options& options) {
  std::vector<Node> types;
  if (options.otherResources) {
    types.push_back(directory(0, {directory(1, {leaf(0, "decoy")})}, u"DECOY"));
    types.push_back(directory(3, {directory(1, {leaf(0x409, std::string(40, 'i'))})}));
  }
  std::vector<Node> languages{leaf(0x409, versionInfo(options.ms, options.ls))};
  if (options.otherResources) languages.push_back(leaf(0x804, versionInfo(1, 1)));
  types.push_back(directory(16, {directory(options.versionNameId, std::move(languages))}));
  const Node root = directory(0, std::move(types));
  const Node* version = &root.children.back().children.front().children.front();

  // The data section follows the resource section, whose size does not
  // depend on where the data goes.
  const uint32_t dataRva =
      kResourceRva + alignUp(layOut(root, version, 0x1000).section.size(), kSectionAlignment);
  Resources r = layOut(root, version, options.dataInOwnSection ? dataRva : 0);

  const bool plus = options.pe32plus;
  const uint16_t optionalSize = plus ? 240 : 224;
  const uint16_t sectionCount = options.dataInOwnSection ? 2 : 1;
  const uint32_t resourceRaw = kHeadersSize;
  const uint32_t dataRaw = resourceRaw + alignUp(r.section.size(), kFileAlignment);
  const uint32_t imageEnd = options.dataInOwnSection
                                ? dataRva + alignUp(r.ownData.size(), kSectionAlignment)
                                : kResourceRva + alignUp(r.section.size(), kSectionAlignment);

  Image out;
  std::string& b = out.bytes;
  b.assign(kHeadersSize, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  const size_t pe = 0x40;
  put32(b, 0x3C, pe);
  b.replace(pe, 4, std::string("PE\0\0", 4));
  put16(b, pe + 4, plus ? 0x8664 : 0x14C);    // Machine
  put16(b, pe + 6, sectionCount);             // NumberOfSections
  put16(b, pe + 20, optionalSize);            // SizeOfOptionalHeader
  put16(b, pe + 22, plus ? 0x0022 : 0x0102);  // executable image; 32-bit or large addresses
  const size_t opt = pe + 24;
  put16(b, opt, plus ? 0x20B : 0x10B);
  b[opt + 2] = 2;                            // linker version
  put32(b, opt + 8, dataRaw - resourceRaw);  // SizeOfInitializedData
  if (plus) {
    put64(b, opt + 24, 0x140000000);  // ImageBase
  } else {
    put32(b, opt + 28, 0x400000);
  }
  put32(b, opt + 32, kSectionAlignment);
  put32(b, opt + 36, kFileAlignment);
  put16(b, opt + 40, 6);         // operating system version
  put16(b, opt + 48, 6);         // subsystem version
  put32(b, opt + 56, imageEnd);  // SizeOfImage
  put32(b, opt + 60, kHeadersSize);
  put16(b, opt + 68, 2);          // Subsystem: GUI
  const size_t sizes = opt + 72;  // stack and heap, reserve and commit
  for (int i = 0; i < 4; ++i) {
    const uint32_t size = i % 2 ? 0x1000 : 0x100000;
    if (plus)
      put64(b, sizes + 8 * i, size);
    else
      put32(b, sizes + 4 * i, size);
  }
  const size_t directories = opt + (plus ? 112 : 96);
  put32(b, directories - 4, 16);  // NumberOfRvaAndSizes
  out.resourceDirectory = directories + 2 * 8;
  put32(b, out.resourceDirectory, kResourceRva);
  put32(b, out.resourceDirectory + 4, static_cast<uint32_t>(r.section.size()));

  const size_t table = opt + optionalSize;
  putSection(b, table, ".rsrc", kResourceRva, r.section.size(), resourceRaw);
  b.resize(resourceRaw);
  b += r.section;
  b.resize(dataRaw);
  if (options.dataInOwnSection) {
    putSection(b, table + 40, ".rdata", dataRva, r.ownData.size(), dataRaw);
    b += r.ownData;
    b.resize(dataRaw + alignUp(r.ownData.size(), kFileAlignment));
  }

  out.resourceSection = resourceRaw;
  out.versionTypeEntry = resourceRaw + r.versionTypeEntry;
  out.versionDataEntry = resourceRaw + r.versionDataEntry;
  out.fixedInfo = (options.dataInOwnSection ? dataRaw : resourceRaw) + r.versionData + 40;
  return out;
}

}  // namespace pe_fixture
