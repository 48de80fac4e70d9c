#include "delta/zstd_frame.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>

#include "base/error.h"

namespace delta {

namespace {

// Decompressed bytes handed out at a time.
constexpr size_t kOutSize = size_t{128} << 10;

// The first bytes of a zstd frame (RFC 8878), little-endian 0xFD2FB528.
constexpr unsigned char kStandardMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};

}  // namespace

FrameReader::FrameReader(Reader& source, uint64_t begin, uint64_t size, int windowLog,
                         std::string what)
    : source_(source),
      next_(begin),
      left_(size),
      windowLog_(windowLog),
      what_(std::move(what)),
      context_(ZSTD_createDCtx()),
      inSize_(ZSTD_DStreamInSize()),
      outSize_(kOutSize) {
  if (!context_) throw base::Error("Out of memory");
  ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, windowLog_);
  in_.reset(new unsigned char[inSize_]);
  out_.reset(new unsigned char[outSize_]);
}

FrameReader::~FrameReader() {
  ZSTD_freeDCtx(context_);
}

void FrameReader::fail(const std::string& why) const {
  throw base::Error("Damaged " + what_ + ": " + why);
}

bool FrameReader::decompressMore() {
  pos_ = end_ = 0;
  while (!frameDone_) {
    if (inPos_ == inEnd_ && left_ > 0) {
      const bool first = !started_;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left_, inSize_));
      source_.read(next_, in_.get(), n);
      next_ += n;
      left_ -= n;
      inPos_ = 0;
      inEnd_ = n;
      started_ = true;
      // Only the standard frame: a library built with the legacy formats
      // decodes those through a path that ignores the window limit, and a
      // skippable frame holds nothing.
      if (first && (n < 4 || std::memcmp(in_.get(), kStandardMagic, 4) != 0))
        fail("it is not a zstd frame");
    }
    ZSTD_inBuffer in{in_.get(), inEnd_, inPos_};
    ZSTD_outBuffer out{out_.get(), outSize_, 0};
    const size_t result = ZSTD_decompressStream(context_, &out, &in);
    if (ZSTD_isError(result)) {
      if (ZSTD_getErrorCode(result) == ZSTD_error_frameParameter_windowTooLarge)
        fail("it needs more memory than " + std::to_string(1u << (windowLog_ - 20)) + " MiB");
      fail(ZSTD_getErrorName(result));
    }
    const bool progressed = in.pos != inPos_ || out.pos > 0;
    inPos_ = in.pos;
    end_ = out.pos;
    if (result == 0) frameDone_ = true;
    if (end_ > 0) return true;
    // No input left, and the decoder wants more: the frame is cut short.
    if (inPos_ == inEnd_ && left_ == 0 && !frameDone_) fail("it is cut short");
    if (!progressed && inPos_ != inEnd_) fail("the decoder is stuck");
  }
  return false;
}

void FrameReader::fill() {
  if (!decompressMore()) fail("it ends early");
}

size_t FrameReader::next(const unsigned char*& data, size_t n) {
  if (pos_ == end_ && !decompressMore()) return 0;
  n = std::min(n, end_ - pos_);
  data = out_.get() + pos_;
  pos_ += n;
  return n;
}

bool FrameReader::atEnd() {
  if (pos_ != end_) return false;
  if (!frameDone_ && decompressMore()) return false;
  return frameDone_ && inPos_ == inEnd_ && left_ == 0;
}

}  // namespace delta
