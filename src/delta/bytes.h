// LEB128 varints, signed ones zigzag-encoded (0, -1, 1, -2, ... as 0, 1, 2,
// 3, ...): the numbers inside the patch's streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace delta {

// The most bytes a varint of 64 bits takes.
inline constexpr size_t kMaxVarintSize = 10;

inline void appendVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

inline uint64_t zigzag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

inline int64_t unzigzag(uint64_t value) {
  return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

}  // namespace delta
