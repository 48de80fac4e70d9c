// The patch's layout, shared by the applier (apply.cpp) and the maker
// (make/make_patch.cpp, the publisher's tool's alone). Each part is written
// and read in one place, side by side: the header here, the numbers in
// bytes.h, the control and diff streams in streams.h, the map stream in
// address_map.h. All numbers of the header are little-endian.
//
//   offset  size  field
//   0       8     magic "DLTPATCH"
//   8       4     format version, 1
//   12      4     flags: the address rules of address_map.h (0 for none);
//                 any other bit is refused
//   16      8     new size: bytes of the file the patch makes
//   24      8     base size: bytes of the file it applies to
//   32      8     map stream: compressed bytes (0 when the flags are 0)
//   40      8     control stream: compressed bytes
//   48      8     diff stream: compressed bytes
//   56      8     extra stream: compressed bytes
//   64            the four streams, in that order, each one zstd frame (the
//                 map stream only when its size is not 0); the patch ends
//                 with the extra stream
//
// Numbers inside the streams are LEB128 varints; signed ones zigzag-encoded
// (0, -1, 1, -2, ... as 0, 1, 2, 3, ...).
//
// The control stream is a list of triples (add, copy, seek). Starting at old
// position 0, each triple makes `add` bytes of the new file as the base's
// bytes at the old position, plus the prediction of the address map, plus the
// next `add` bytes of the diff stream (byte-wise, modulo 256); then `copy`
// bytes taken as they are from the extra stream; then it moves the old
// position by add + seek. Only the first triple may make no byte; the triples
// end once the new size is made.
//
// The diff stream holds those bytes as runs: a varint count of zero bytes,
// a varint count of bytes that follow as they are, those bytes, and again,
// never two counts of 0 in a row, until every triple has its bytes.
//
// The extra stream holds the bytes that the triples take as they are, in
// order.
//
// The map stream is the AddressMap (address_map.h): a varint count of
// segments (at most 128), each as offset, file size, address, memory size,
// code (0 or 1) and extra shift (signed); then a varint count of breakpoints
// (at most 65536), each as the distance of its start from the previous one
// (from 0 for the first; 0 only for the first) and its shift (signed).
//
// Each frame's window is limited (kMapWindowLog and the others below; a frame
// asking for more is refused), so that the three streams read side by side
// take at most 16 MiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace delta {

inline constexpr std::string_view kPatchMagic = "DLTPATCH";
inline constexpr uint32_t kPatchVersion = 1;
inline constexpr size_t kPatchHeaderSize = 64;

// Window limits (as powers of 2) of each stream's frame.
inline constexpr int kMapWindowLog = 23;      // read whole before the others
inline constexpr int kControlWindowLog = 22;  // then these three side by side
inline constexpr int kDiffWindowLog = 22;
inline constexpr int kExtraWindowLog = 23;

struct PatchHeader {
  uint32_t rules = 0;
  uint64_t newSize = 0;
  uint64_t baseSize = 0;
  uint64_t mapSize = 0;
  uint64_t controlSize = 0;
  uint64_t diffSize = 0;
  uint64_t extraSize = 0;
};

std::string encodeHeader(const PatchHeader& header);
// The header of a patch of patchSize bytes whose first kPatchHeaderSize bytes
// are given; raises base::Error when it is not a patch of this format or when
// its streams do not fill the patch exactly.
PatchHeader decodeHeader(const unsigned char* bytes, uint64_t patchSize);

// Raises base::Error "Damaged patch: <why>".
[[noreturn]] void damagedPatch(const std::string& why);

}  // namespace delta
