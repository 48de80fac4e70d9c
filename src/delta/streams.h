// The diff stream of a patch (patch_format.h): its writer, which the maker
// uses, and its reader, which the applier uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "delta/zstd_frame.h"

namespace delta {

// A LEB128 varint of at most 64 bits of the stream, which `name` names in errors.
uint64_t varintOf(FrameReader& stream, const char* name);

// The diff stream's bytes, out of its runs of zeros and of bytes as they are.
class DiffBytes {
 public:
  explicit DiffBytes(FrameReader& stream) : stream_(stream) {}

  // Adds the next n bytes to those at `to`.
  void addTo(unsigned char* to, size_t n);

  bool atEnd() { return zeros_ == 0 && literals_ == 0 && stream_.atEnd(); }

 private:
  FrameReader& stream_;
  uint64_t zeros_ = 0;
  uint64_t literals_ = 0;
};

// The diff stream's runs, written as the bytes come.
class DiffRuns {
 public:
  void add(const uint8_t* bytes, size_t n);

  std::string finish();

 private:
  void flush();

  std::string out_;
  std::string literals_;
  uint64_t leadingZeros_ = 0;
  uint64_t pendingZeros_ = 0;
};

}  // namespace delta
