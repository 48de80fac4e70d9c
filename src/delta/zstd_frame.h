// One zstd frame lying at a range of a Reader, decompressed as it is read,
// with a limited window. Internal to src/delta.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "delta/delta.h"

typedef struct ZSTD_DCtx_s ZSTD_DCtx;

namespace delta {

class FrameReader {
 public:
  // The frame at [begin, begin + size) of source, whose window may be at most
  // 2^windowLog bytes; `what` names it in errors ("patch", "compressed copy").
  FrameReader(Reader& source, uint64_t begin, uint64_t size, int windowLog, std::string what);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Up to n decompressed bytes, at least one unless the frame has ended;
  // points into the reader's own buffer, valid until the next call.
  size_t next(const unsigned char*& data, size_t n);
  // The next byte, which must exist.
  unsigned char byte() {
    if (pos_ == end_) fill();
    return out_[pos_++];
  }
  // Whether every decompressed byte has been taken and the frame has ended
  // exactly at the end of its range.
  bool atEnd();

 private:
  // Decompresses more; raises base::Error at the end of the frame or on damage.
  void fill();
  // Decompresses at least one more byte into the buffer; false at the end.
  bool decompressMore();
  [[noreturn]] void fail(const std::string& why) const;

  Reader& source_;
  uint64_t next_;  // where the compressed bytes not yet read start
  uint64_t left_;  // compressed bytes not yet read
  int windowLog_;
  std::string what_;
  ZSTD_DCtx* context_;
  std::unique_ptr<unsigned char[]> in_;
  size_t inSize_;
  size_t inPos_ = 0;
  size_t inEnd_ = 0;
  std::unique_ptr<unsigned char[]> out_;
  size_t outSize_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool frameDone_ = false;
  bool started_ = false;  // whether the first compressed bytes were read
};

}  // namespace delta
