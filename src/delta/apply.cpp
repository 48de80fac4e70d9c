// Applying a patch: the address map read whole, then the control, diff and
// extra streams read side by side, the base read at the old position, the
// result written in pieces of kPiece bytes.
#include <algorithm>
#include <cstring>
#include <memory>

#include "base/error.h"
#include "delta/address_map.h"
#include "delta/delta.h"
#include "delta/patch_format.h"
#include "delta/streams.h"
#include "delta/zstd_frame.h"

namespace delta {

namespace {

constexpr size_t kPiece = size_t{256} << 10;
// More than an address map of kMaxSegments and kMaxBreakpoints can take.
constexpr size_t kMaxMapBytes = size_t{2} << 20;

PatchHeader readHeader(Reader& patch, uint64_t patchSize) {
  if (patchSize < kPatchHeaderSize) throw base::Error("Patch is cut short");
  unsigned char bytes[kPatchHeaderSize];
  patch.read(0, bytes, sizeof bytes);
  return decodeHeader(bytes, patchSize);
}

AddressMap readMap(Reader& patch, const PatchHeader& header) {
  if (header.rules == 0) return AddressMap();
  FrameReader stream(patch, kPatchHeaderSize, header.mapSize, kMapWindowLog, "patch");
  std::string bytes;
  const unsigned char* data;
  while (const size_t got = stream.next(data, kPiece)) {
    if (got > kMaxMapBytes - bytes.size()) damagedPatch("its address map is too large");
    bytes.append(reinterpret_cast<const char*>(data), got);
  }
  if (!stream.atEnd()) damagedPatch("its address map has bytes after its end");
  return AddressMap::decode(header.rules, bytes);
}

}  // namespace

PatchInfo readPatchInfo(Reader& patch, uint64_t patchSize) {
  const PatchHeader header = readHeader(patch, patchSize);
  return {header.newSize, header.baseSize};
}

void applyPatch(Reader& base, uint64_t baseSize, Reader& patch, uint64_t patchSize, Writer& out) {
  const PatchHeader header = readHeader(patch, patchSize);
  if (header.baseSize != baseSize)
    throw base::Error("The patch is for a file of " + std::to_string(header.baseSize) +
                      " bytes, not " + std::to_string(baseSize));
  const AddressMap map = readMap(patch, header);
  uint64_t at = kPatchHeaderSize + header.mapSize;
  FrameReader control(patch, at, header.controlSize, kControlWindowLog, "patch");
  FrameReader diffStream(patch, at += header.controlSize, header.diffSize, kDiffWindowLog, "patch");
  FrameReader extra(patch, at += header.diffSize, header.extraSize, kExtraWindowLog, "patch");
  DiffReader diff(diffStream);

  const size_t windowSize = kPiece + kContextBefore + kContextAfter;
  std::unique_ptr<unsigned char[]> piece(new unsigned char[kPiece]);
  std::unique_ptr<unsigned char[]> window(map.rules() ? new unsigned char[windowSize] : nullptr);
  uint64_t made = 0;  // bytes written
  uint64_t old = 0;   // the old position, always within [0, baseSize]
  bool first = true;
  while (made < header.newSize) {
    const auto [add, copy, seek] = readTriple(control);
    const uint64_t left = header.newSize - made;
    if (add > left || copy > left - add)
      damagedPatch("it makes more than its " + std::to_string(header.newSize) + " bytes");
    if (add > baseSize - old) damagedPatch("it reads past the base's end");
    if (add + copy == 0 && !first) damagedPatch("a step makes nothing");
    first = false;

    // Where the new bytes lie against the old ones; wraps around like the
    // prediction's arithmetic.
    const auto shift = static_cast<int64_t>(made - old);
    for (uint64_t done = 0; done < add;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(add - done, kPiece));
      const uint64_t begin = old + done;
      if (map.rules()) {
        const uint64_t windowBegin = begin >= kContextBefore ? begin - kContextBefore : 0;
        const uint64_t windowEnd = std::min(baseSize, begin + n + kContextAfter);
        base.read(windowBegin, window.get(), static_cast<size_t>(windowEnd - windowBegin));
        std::memcpy(piece.get(), window.get() + (begin - windowBegin), n);
        map.predict({window.get(), windowBegin}, {old, old + add, shift}, begin, begin + n,
                    piece.get());
      } else {
        base.read(begin, piece.get(), n);
      }
      diff.addTo(piece.get(), n);
      out.write(piece.get(), n);
      done += n;
    }
    for (uint64_t done = 0; done < copy;) {
      const unsigned char* bytes;
      const size_t got =
          extra.next(bytes, static_cast<size_t>(std::min<uint64_t>(copy - done, kPiece)));
      if (got == 0) damagedPatch("its extra stream ends early");
      out.write(bytes, got);
      done += got;
    }
    made += add + copy;

    // The new old position, old + add + seek, must stay within the base.
    old += add;
    const uint64_t back = seek < 0 ? static_cast<uint64_t>(-(seek + 1)) + 1 : 0;
    if (seek < 0 ? back > old : static_cast<uint64_t>(seek) > baseSize - old)
      damagedPatch("it seeks outside the base");
    old = seek < 0 ? old - back : old + static_cast<uint64_t>(seek);
  }
  if (!control.atEnd() || !diff.atEnd() || !extra.atEnd())
    damagedPatch("it holds more than its " + std::to_string(header.newSize) + " bytes");
}

}  // namespace delta
