// Reading installed and staged files from their first byte, a large piece at
// a time: for the hash of a file already installed and of the bytes a
// download kept from an earlier attempt.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "release/sha256.h"

namespace UMain {

// Hands the first `bytes` bytes of the file to consume, in order; false when
// they cannot all be read.
bool ReadFromStart(platform::Platform& platform, const std::string& path, uint64_t bytes,
                   const std::function<void(const char* data, size_t size)>& consume);
// The same through a file open already.
bool ReadFromStart(platform::InputFile& in, uint64_t bytes,
                   const std::function<void(const char* data, size_t size)>& consume);

// The SHA-256 of the file's first `bytes` bytes (its whole when that is its
// size); nullopt when they cannot be read.
std::optional<release::Digest> HashFile(platform::Platform& platform, const std::string& path,
                                        uint64_t bytes);

}  // namespace UMain
