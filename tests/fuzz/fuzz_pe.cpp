// The version-resource reader on any bytes. Besides running without a fault:
// the reader asks for a bounded number of reads (it walks a fixed depth), and
// a version it returns is one that stands in the file behind the fixed-info
// signature.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "check.h"
#include "pe/pe_version.h"

namespace {

// The bytes of a file, counting what is asked of them.
class CountingSource : public pe::ByteSource {
 public:
  explicit CountingSource(std::string_view bytes) : memory_(bytes) {}
  bool read(uint64_t offset, void* out, size_t size) const override {
    ++reads;
    return memory_.read(offset, out, size);
  }
  mutable int reads = 0;

 private:
  pe::MemorySource memory_;
};

void put32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CountingSource source(bytes);
  const auto version = pe::readFixedFileVersion(source);
  // Headers, section table, three directories of two reads each, a data entry
  // and the version resource.
  FUZZ_CHECK(source.reads <= 12);

  const auto again = pe::readFixedFileVersion(bytes);
  FUZZ_CHECK(version.has_value() == again.has_value());
  if (!version) return 0;
  FUZZ_CHECK(version->ms == again->ms && version->ls == again->ls);

  // Signature, struct version, then dwFileVersionMS and dwFileVersionLS.
  uint8_t signature[4], versions[8];
  put32(signature, 0xFEEF04BD);
  put32(versions, version->ms);
  put32(versions + 4, version->ls);
  bool found = false;
  for (size_t at = 0; !found && at + 16 <= size; ++at) {
    found =
        std::memcmp(data + at, signature, 4) == 0 && std::memcmp(data + at + 8, versions, 8) == 0;
  }
  FUZZ_CHECK(found);
  return 0;
}
