#include "delta/patch_format.h"

#include "base/error.h"
#include "delta/address_map.h"

namespace delta {

namespace {

void putLittle(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

uint64_t getLittle(const unsigned char* bytes, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

std::string encodeHeader(const PatchHeader& header) {
  std::string out(kPatchMagic);
  putLittle(out, kPatchVersion, 4);
  putLittle(out, header.rules, 4);
  for (uint64_t field : {header.newSize, header.baseSize, header.mapSize, header.controlSize,
                         header.diffSize, header.extraSize})
    putLittle(out, field, 8);
  return out;
}

PatchHeader decodeHeader(const unsigned char* bytes, uint64_t patchSize) {
  if (std::string_view(reinterpret_cast<const char*>(bytes), kPatchMagic.size()) != kPatchMagic)
    throw base::Error("Not a patch");
  if (const uint64_t version = getLittle(bytes + 8, 4); version != kPatchVersion)
    throw base::Error("Patch format version " + std::to_string(version) + " is not supported");
  PatchHeader header;
  header.rules = static_cast<uint32_t>(getLittle(bytes + 12, 4));
  if (header.rules & ~kAllRules) throw base::Error("Patch has unknown flags");
  header.newSize = getLittle(bytes + 16, 8);
  header.baseSize = getLittle(bytes + 24, 8);
  header.mapSize = getLittle(bytes + 32, 8);
  header.controlSize = getLittle(bytes + 40, 8);
  header.diffSize = getLittle(bytes + 48, 8);
  header.extraSize = getLittle(bytes + 56, 8);
  if ((header.rules == 0) != (header.mapSize == 0))
    throw base::Error("Patch has an address map without rules or rules without one");
  // Each stream must lie within the patch; summed one by one so that no
  // field's value can wrap the total around.
  uint64_t room = patchSize - kPatchHeaderSize;
  for (uint64_t size : {header.mapSize, header.controlSize, header.diffSize, header.extraSize}) {
    if (size > room) throw base::Error("Patch is cut short");
    room -= size;
  }
  if (room != 0) throw base::Error("Patch has bytes after its end");
  return header;
}

}  // namespace delta
