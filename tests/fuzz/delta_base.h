// The base that the patch fuzz target applies its inputs to, and that its
// seed patches were made from: a small x86-64 ELF image whose code calls
// functions (so that its patches carry an address map), the same bytes
// wherever it is built (its own generator, no library distribution).
#pragma once

#include <cstdint>
#include <string>

namespace fuzz_delta {

inline std::string base(size_t functions = 48, size_t inserted = 0) {
  uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
  std::string code;
  std::string calls;  // 4 bytes of offset and 4 of callee per call
  const size_t header = 128;
  std::string starts;
  auto put = [](std::string& to, size_t at, uint64_t value, int width) {
    if (to.size() < at + width) to.resize(at + width);
    for (int i = 0; i < width; ++i) to[at + i] = static_cast<char>(value >> (8 * i));
  };
  size_t count = 0;
  for (size_t f = 0; f < functions; ++f) {
    put(starts, 4 * f, header + code.size(), 4);
    if (f == functions / 2) code.append(inserted, '\x90');
    const size_t end = code.size() + 160;
    while (code.size() + 5 <= end) {
      if (next() % 16 == 0) {
        put(calls, 8 * count, header + code.size(), 4);
        put(calls, 8 * count + 4, next() % functions, 4);
        ++count;
        code.append(5, '\xE8');
      } else {
        code += static_cast<char>(next() % 0xE0);
      }
    }
    code.resize(end, '\xC3');
  }
  std::string image(header, '\0');
  image += code;
  auto get = [](const std::string& from, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(from[at + i]);
    return value;
  };
  for (size_t c = 0; c < count; ++c) {
    const uint32_t at = get(calls, 8 * c), callee = get(starts, 4 * get(calls, 8 * c + 4));
    put(image, at + 1, callee - (at + 5), 4);
  }
  image.replace(0, 6,
                "\x7F"
                "ELF\x02\x01");
  put(image, 18, 62, 2);  // x86-64
  put(image, 32, 64, 8);  // one program header at 64
  put(image, 54, 56, 2);
  put(image, 56, 1, 2);
  put(image, 64, 1, 4);  // PT_LOAD, readable and executable
  put(image, 68, 5, 4);
  put(image, 80, 0x400000, 8);
  put(image, 96, image.size(), 8);
  put(image, 104, image.size(), 8);
  return image;
}

}  // namespace fuzz_delta
