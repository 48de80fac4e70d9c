#include "delta/streams.h"

#include <algorithm>

#include "delta/bytes.h"
#include "delta/patch_format.h"

namespace delta {

namespace {

// A LEB128 varint of at most 64 bits of the stream, which `name` names in errors.
uint64_t varintOf(FrameReader& stream, const char* name) {
  uint64_t value;
  if (!readVarint([&] { return stream.byte(); }, value))
    damagedPatch(std::string("a number in its ") + name + " stream is too long");
  return value;
}

}  // namespace

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

}  // namespace delta
