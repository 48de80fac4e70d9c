// The fixed file version (VS_FIXEDFILEINFO) out of the version resource of a
// PE32 or PE32+ file, read without any Windows service.
//
// The file is untrusted input: every offset and size is checked before it is
// used, the resource tree is walked a fixed three levels deep, and anything
// damaged or missing is "no version information" (nullopt). Only the parts
// that are needed are read: the headers, the section table, three resource
// directories, one data entry and the start of the version resource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pe {

struct FixedFileVersion {
  uint32_t ms;  // dwFileVersionMS
  uint32_t ls;  // dwFileVersionLS
};

// Random access to the bytes of a file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Exactly size bytes at offset; false when any of them is not there.
  virtual bool read(uint64_t offset, void* out, size_t size) const = 0;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  bool read(uint64_t offset, void* out, size_t size) const override;

 private:
  std::string_view bytes_;
};

std::optional<FixedFileVersion> readFixedFileVersion(const ByteSource& file);
std::optional<FixedFileVersion> readFixedFileVersion(std::string_view bytes);

}  // namespace pe
