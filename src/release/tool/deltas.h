// Patches and compressed copies as files of a release folder: written under
// DIR/delta/, named by the SHA-256 of their bytes (so that a CDN may keep
// them for ever and two releases never clash), and applied from files to
// check them.
#pragma once

#include <string>

#include "release/tool/files.h"

namespace release::tool {

// The folder of a release that holds its patches and compressed copies; pack
// never lists what is in it.
inline constexpr char kDeltaFolder[] = "delta";

// A patch or compressed copy as update.ini lists it: "delta/<hex>.patch".
struct DeltaFile {
  std::string name;
  FileDigest digest;
};

// Writes the bytes as root/delta/<hex of their SHA-256><ending> (leaving a
// file of that name and size as it is) and returns how it is listed; raises
// std::runtime_error when it cannot.
DeltaFile writeDeltaFile(const fs::path& root, const std::string& bytes, const char* ending);

// The size and SHA-256 of what the patch makes from the base file, or of what
// the compressed copy holds (which must be `size` bytes), computed as they
// come; raises base::Error for a patch or copy that does not apply and
// std::runtime_error for a file that cannot be read.
FileDigest digestOfPatched(const fs::path& base, const fs::path& patch);
FileDigest digestOfCopy(const fs::path& copy, uint64_t size);

}  // namespace release::tool
