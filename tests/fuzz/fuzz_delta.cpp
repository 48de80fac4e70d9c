// Applies the input as a patch to a fixed base (delta_base.h; its size as the
// patch's header says, up to 1 MiB, its bytes repeating the base's), and
// decompresses it as a compressed copy. Whatever the input: the base is never
// read outside its size, nothing is written past the size the patch or the
// caller gives, and the only failure is base::Error.
#include <cstring>
#include <string>

#include "base/error.h"
#include "check.h"
#include "delta/delta.h"
#include "delta_base.h"

namespace {

// A bound on the time an input may take: a few bytes of zstd can stand for
// gigabytes of output.
constexpr uint64_t kMaxOutput = uint64_t{4} << 20;

class Bytes : public delta::Reader {
 public:
  Bytes(const std::string& bytes, uint64_t size) : bytes_(bytes), size_(size) {}
  void read(uint64_t offset, void* buffer, size_t n) override {
    FUZZ_CHECK(offset <= size_ && n <= size_ - offset);
    auto* to = static_cast<char*>(buffer);
    for (size_t i = 0; i < n; ++i) to[i] = bytes_[(offset + i) % bytes_.size()];
  }

 private:
  const std::string& bytes_;
  uint64_t size_;
};

struct Counter : delta::Writer {
  uint64_t limit;
  uint64_t written = 0;
  explicit Counter(uint64_t limit) : limit(limit) {}
  void write(const void*, size_t n) override {
    FUZZ_CHECK(n <= limit - written);
    written += n;
    if (written > kMaxOutput) throw base::Error("enough");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = fuzz_delta::base();
  const std::string input(reinterpret_cast<const char*>(data), size);
  Bytes patch(input, input.size());
  uint64_t baseSize = base.size();
  delta::PatchInfo info{~uint64_t{0}, 0};
  try {
    info = delta::readPatchInfo(patch, input.size());
    if (info.baseSize <= (uint64_t{1} << 20)) baseSize = info.baseSize;
  } catch (const base::Error&) {
  }
  Bytes baseReader(base, baseSize);
  Counter out(info.newSize);
  try {
    delta::applyPatch(baseReader, baseSize, patch, input.size(), out);
    FUZZ_CHECK(out.written == info.newSize);
  } catch (const base::Error&) {
  }

  if (input.empty()) return 0;
  Counter copied(static_cast<uint8_t>(input[0]) * uint64_t{1024});
  try {
    delta::decompressCopy(patch, input.size(), copied.limit, copied);
    FUZZ_CHECK(copied.written == copied.limit);
  } catch (const base::Error&) {
  }
  return 0;
}
