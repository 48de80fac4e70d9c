// Decompressing a compressed copy: one zstd frame, written as it comes.
#include "base/error.h"
#include "delta/delta.h"
#include "delta/zstd_frame.h"

namespace delta {

void decompressCopy(Reader& copy, uint64_t copySize, uint64_t newSize, Writer& out) {
  FrameReader frame(copy, 0, copySize, kMaxWindowLog, "compressed copy");
  uint64_t left = newSize;
  const unsigned char* data;
  while (size_t got = frame.next(data, size_t{1} << 20)) {
    if (got > left)
      throw base::Error("Damaged compressed copy: it holds more than " + std::to_string(newSize) +
                        " bytes");
    out.write(data, got);
    left -= got;
  }
  if (left > 0)
    throw base::Error("Damaged compressed copy: it holds " + std::to_string(newSize - left) +
                      " bytes, not " + std::to_string(newSize));
  if (!frame.atEnd()) throw base::Error("Damaged compressed copy: it has bytes after its end");
}

}  // namespace delta
