#include "delta/patch_format.h"

#include "base/error.h"
#include "delta/address_map.h"
#include "delta/bytes.h"

namespace delta {

std::string encodeHeader(const PatchHeader& header) {
  std::string out(kPatchMagic);
  appendLittle(out, kPatchVersion, 4);
  appendLittle(out, header.rules, 4);
  for (uint64_t field : {header.newSize, header.baseSize, header.mapSize, header.controlSize,
                         header.diffSize, header.extraSize})
    appendLittle(out, field, 8);
  return out;
}

PatchHeader decodeHeader(const unsigned char* bytes, uint64_t patchSize) {
  if (std::string_view(reinterpret_cast<const char*>(bytes), kPatchMagic.size()) != kPatchMagic)
    throw base::Error("Not a patch");
  if (const uint64_t version = little(bytes + 8, 4); version != kPatchVersion)
    throw base::Error("Patch format version " + std::to_string(version) + " is not supported");
  PatchHeader header;
  header.rules = static_cast<uint32_t>(little(bytes + 12, 4));
  if (header.rules & ~kAllRules) throw base::Error("Patch has unknown flags");
  header.newSize = little(bytes + 16, 8);
  header.baseSize = little(bytes + 24, 8);
  header.mapSize = little(bytes + 32, 8);
  header.controlSize = little(bytes + 40, 8);
  header.diffSize = little(bytes + 48, 8);
  header.extraSize = little(bytes + 56, 8);
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

void damagedPatch(const std::string& why) {
  throw base::Error("Damaged patch: " + why);
}

}  // namespace delta
