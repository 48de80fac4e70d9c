// Applying a binary patch to a base file, and decompressing a compressed copy:
// the two cheaper ways to a listed file besides downloading it whole. Both work
// as streams: the inputs are read at offsets through a Reader, the result goes
// out in order through a Writer, and the memory they take does not grow with
// the files (see kMaxWindowLog). Inputs are untrusted: whatever their bytes,
// a result that cannot be made raises base::Error, and nothing is ever written
// past the size the patch (or the caller, for a copy) gives.
//
// The patch format is described in README.md, "Patches and compressed copies".
#pragma once

#include <cstddef>
#include <cstdint>

namespace delta {

// Compressed streams are zstd frames whose window is at most 2^kMaxWindowLog
// bytes (8 MiB); a frame asking for more is refused. Applying a patch reads
// three streams side by side whose windows take at most 16 MiB together, so
// it stays under about 18 MiB of memory whatever the size of the files.
inline constexpr int kMaxWindowLog = 23;

// Bytes of a file (or of memory) at offsets.
class Reader {
 public:
  virtual ~Reader() = default;
  // Fills buffer with the n bytes at offset, all of which lie within the size
  // the caller gave with the reader; raises base::Error when it cannot.
  virtual void read(uint64_t offset, void* buffer, size_t n) = 0;
};

// Where the result goes, in order.
class Writer {
 public:
  virtual ~Writer() = default;
  // Takes the next n bytes of the result; raises base::Error when it cannot.
  virtual void write(const void* data, size_t n) = 0;
};

// What a patch's header says.
struct PatchInfo {
  uint64_t newSize = 0;   // the size of the file the patch makes
  uint64_t baseSize = 0;  // the size of the file it applies to
};

// Reads and checks the header of the patch of patchSize bytes.
PatchInfo readPatchInfo(Reader& patch, uint64_t patchSize);

// Writes the file that the patch (patchSize bytes) makes from base (baseSize
// bytes): exactly the header's new size, or less when it raises base::Error
// (a patch that is damaged, cut short, made for another base, or that reads
// outside the base). Whether the result is the expected file is for the
// caller to check (its size and SHA-256).
void applyPatch(Reader& base, uint64_t baseSize, Reader& patch, uint64_t patchSize, Writer& out);

// Writes the file that the compressed copy (copySize bytes, one zstd frame)
// holds, which must be exactly newSize bytes; raises base::Error otherwise,
// having written at most newSize bytes.
void decompressCopy(Reader& copy, uint64_t copySize, uint64_t newSize, Writer& out);

}  // namespace delta
