// Making what src/delta applies: patches (suffix sorting with libdivsufsort,
// then approximate matches extended byte-wise, as in Percival's "Naive
// differences of executable code", with the address prediction of
// delta/address_map.h for x86 executables) and compressed copies, both
// compressed with zstd at a high level within the windows the updater accepts.
// The publisher's tool and the tests link this folder; the updater never does
// (zstd's encoder and libdivsufsort stay out of it).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace delta {

struct ZstdOptions {
  int level = 19;
  int windowLog = 23;      // at most kMaxWindowLog
  bool fitTables = false;  // match finder tables no larger than the bytes need
};

// One zstd frame holding the bytes, with their size and a checksum.
std::string compressFrame(std::string_view bytes, const ZstdOptions& options = {});

// Told how many more bytes of the new file have been matched.
using PatchProgress = std::function<void(uint64_t)>;

// The patch that makes `now` from `old`. Takes about five times the old
// file's size in memory besides the two files; compresses its streams on two
// threads. Raises std::runtime_error when it runs out of memory.
std::string makePatch(std::string_view old, std::string_view now,
                      const PatchProgress& progress = {});

}  // namespace delta
