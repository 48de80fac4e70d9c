// The control and diff streams of a patch (patch_format.h), each with its
// writer, which the maker uses, and its reader, which the applier uses. The
// map stream's pair is AddressMap::encode and decode (address_map.h); the
// extra stream holds the new file's bytes as they are, with nothing to encode.
// The readers take the stream decompressed as it comes and raise base::Error
// ("Damaged patch: ...") on what their writers never write. The writers are
// inline, so that the updater, which only reads, carries none of their code
// (the Windows linker keeps every function of an object that it links).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "delta/bytes.h"
#include "delta/zstd_frame.h"

namespace delta {

// One triple of the control stream: `add` bytes made from the base, `copy`
// bytes taken from the extra stream, then the old position moved by add + seek.
struct Triple {
  uint64_t add = 0;
  uint64_t copy = 0;
  int64_t seek = 0;
};

inline void appendTriple(std::string& control, const Triple& triple) {
  appendVarint(control, triple.add);
  appendVarint(control, triple.copy);
  appendVarint(control, zigzag(triple.seek));
}

Triple readTriple(FrameReader& control);

// The diff stream's bytes, out of its runs of zeros and of bytes as they are.
class DiffReader {
 public:
  explicit DiffReader(FrameReader& stream) : stream_(stream) {}

  // Adds the next n bytes to those at `to`.
  void addTo(unsigned char* to, size_t n);

  // Whether the stream has given every byte and holds nothing more.
  bool atEnd() { return zeros_ == 0 && literals_ == 0 && stream_.atEnd(); }

 private:
  FrameReader& stream_;
  uint64_t zeros_ = 0;
  uint64_t literals_ = 0;
};

// The diff stream's runs, written as the bytes come.
class DiffWriter {
 public:
  // Takes the next n bytes.
  void add(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (bytes[i] == 0) {
        ++pendingZeros_;
        continue;
      }
      if (literals_.empty()) {
        leadingZeros_ += pendingZeros_;
      } else if (pendingZeros_ < kMinZeroRun) {
        literals_.append(pendingZeros_, '\0');
      } else {
        flush();
        leadingZeros_ = pendingZeros_;
      }
      pendingZeros_ = 0;
      literals_ += static_cast<char>(bytes[i]);
    }
  }

  // The stream of all the bytes taken.
  std::string finish() {
    if (!literals_.empty()) flush();
    leadingZeros_ += pendingZeros_;
    if (leadingZeros_ > 0) {
      appendVarint(out_, leadingZeros_);
      appendVarint(out_, 0);
    }
    return std::move(out_);
  }

 private:
  // Zeros between two differing bytes stay among the bytes given as they are
  // when there are fewer of them than this: a run costs two counts.
  static constexpr size_t kMinZeroRun = 3;

  void flush() {
    appendVarint(out_, leadingZeros_);
    appendVarint(out_, literals_.size());
    out_ += literals_;
    literals_.clear();
    leadingZeros_ = 0;
  }

  std::string out_;
  std::string literals_;
  uint64_t leadingZeros_ = 0;
  uint64_t pendingZeros_ = 0;
};

}  // namespace delta
