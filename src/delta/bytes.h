// The numbers of the patch format as bytes, written and read in one place:
// little-endian numbers of a fixed width (the patch's header, and the fields
// of a base that the address prediction reads) and LEB128 varints, signed
// ones zigzag-encoded (0, -1, 1, -2, ... as 0, 1, 2, 3, ...), inside the
// streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace delta {

inline void appendLittle(std::string& out, uint64_t value, unsigned width) {
  for (unsigned i = 0; i < width; ++i) out += static_cast<char>(value >> (8 * i));
}

// The number of `width` bytes (at most 8) at bytes.
inline uint64_t little(const unsigned char* bytes, unsigned width) {
  uint64_t value = 0;
  for (unsigned i = width; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

// The number of `width` bytes at offset `at` of bytes, which holds them.
inline uint64_t little(std::string_view bytes, uint64_t at, unsigned width) {
  return little(reinterpret_cast<const unsigned char*>(bytes.data()) + at, width);
}

// The most bytes a varint of 64 bits takes.
inline constexpr size_t kMaxVarintSize = 10;

inline void appendVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

// Reads a varint whose bytes nextByte() gives one by one (raising where there
// are no more); false when it does not fit in 64 bits.
template <typename NextByte>
bool readVarint(NextByte&& nextByte, uint64_t& value) {
  value = 0;
  for (size_t i = 0; i < kMaxVarintSize; ++i) {
    const auto byte = static_cast<unsigned char>(nextByte());
    if (i == kMaxVarintSize - 1 && byte > 1) return false;
    value |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
    if (!(byte & 0x80)) return true;
  }
  return false;
}

inline uint64_t zigzag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

inline int64_t unzigzag(uint64_t value) {
  return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

}  // namespace delta
