#include "delta/streams.h"

#include <algorithm>

#include "delta/bytes.h"
#include "delta/patch_format.h"

namespace delta {

namespace {

// Zeros between two differing bytes stay among the bytes given as they are
// when there are fewer of them than this: a run costs two counts.
constexpr size_t kMinZeroRun = 3;

// A LEB128 varint of at most 64 bits of the stream, which `name` names in errors.
uint64_t varintOf(FrameReader& stream, const char* name) {
  uint64_t value;
  if (!readVarint([&] { return stream.byte(); }, value))
    damagedPatch(std::string("a number in its ") + name + " stream is too long");
  return value;
}

}  // namespace

void appendTriple(std::string& control, const Triple& triple) {
  appendVarint(control, triple.add);
  appendVarint(control, triple.copy);
  appendVarint(control, zigzag(triple.seek));
}

Triple readTriple(FrameReader& control) {
  Triple triple;
  triple.add = varintOf(control, "control");
  triple.copy = varintOf(control, "control");
  triple.seek = unzigzag(varintOf(control, "control"));
  return triple;
}

void DiffReader::addTo(unsigned char* to, size_t n) {
  while (n > 0) {
    if (zeros_ == 0 && literals_ == 0) {
      zeros_ = varintOf(stream_, "diff");
      literals_ = varintOf(stream_, "diff");
      if (zeros_ == 0 && literals_ == 0) damagedPatch("its diff stream holds an empty run");
    }
    if (zeros_ > 0) {
      const size_t skip = static_cast<size_t>(std::min<uint64_t>(zeros_, n));
      zeros_ -= skip;
      to += skip;
      n -= skip;
      continue;
    }
    const unsigned char* bytes;
    const size_t got = stream_.next(bytes, static_cast<size_t>(std::min<uint64_t>(literals_, n)));
    if (got == 0) damagedPatch("its diff stream ends early");
    for (size_t i = 0; i < got; ++i) to[i] = static_cast<unsigned char>(to[i] + bytes[i]);
    literals_ -= got;
    to += got;
    n -= got;
  }
}

void DiffWriter::add(const uint8_t* bytes, size_t n) {
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

std::string DiffWriter::finish() {
  if (!literals_.empty()) flush();
  leadingZeros_ += pendingZeros_;
  if (leadingZeros_ > 0) {
    appendVarint(out_, leadingZeros_);
    appendVarint(out_, 0);
  }
  return std::move(out_);
}

void DiffWriter::flush() {
  appendVarint(out_, leadingZeros_);
  appendVarint(out_, literals_.size());
  out_ += literals_;
  literals_.clear();
  leadingZeros_ = 0;
}

}  // namespace delta
