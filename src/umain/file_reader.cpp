#include "umain/file_reader.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace UMain {

namespace {

// Large reads: a system call costs much here, and a release may hold
// thousands of small files (one read each) or a few large ones.
constexpr size_t kReadSize = size_t{1} << 20;

}  // namespace

bool ReadFromStart(platform::Platform& platform, const std::string& path, uint64_t bytes,
                   const std::function<void(const char* data, size_t size)>& consume) {
  std::unique_ptr<platform::InputFile> in;
  return platform.openFile(path, in) == 0 && ReadFromStart(*in, bytes, consume);
}

bool ReadFromStart(platform::InputFile& in, uint64_t bytes,
                   const std::function<void(const char* data, size_t size)>& consume) {
  std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(bytes, kReadSize)));
  for (uint64_t at = 0; at < bytes;) {
    size_t got = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), bytes - at));
    if (in.read(at, buffer.data(), want, got) || got == 0) return false;
    consume(buffer.data(), got);
    at += got;
  }
  return true;
}

std::optional<release::Digest> HashFile(platform::Platform& platform, const std::string& path,
                                        uint64_t bytes) {
  release::Sha256 sha;
  if (!ReadFromStart(platform, path, bytes,
                     [&](const char* data, size_t size) { sha.update(data, size); }))
    return std::nullopt;
  return sha.finish();
}

}  // namespace UMain
