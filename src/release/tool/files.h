// What the tool's commands share: paths from UTF-8 names, the --encoding
// option, hashing files with a progress line, and the usage error a command
// raises for an option it cannot use.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>

#include "release/codepage.h"
#include "release/sha256.h"
#include "release/tool/tool.h"

namespace release::tool {

namespace fs = std::filesystem;

// Raised by a command for arguments it cannot use; reported with its usage.
struct UsageError {
  std::string message;
};

fs::path pathOf(const std::string& utf8);
std::string utf8Of(const fs::path& path);

// --encoding: gbk (the default) or utf-8.
Encoding encodingOf(const Invocation& invocation);
const char* encodingName(Encoding encoding);

// "1.5 GiB", "12 bytes"
std::string byteText(uint64_t bytes);

// A line on the error stream while long work goes on: shown only once the
// work has taken a second, then redrawn at most a few times a second, and
// ended when the object goes.
class Progress {
 public:
  Progress(std::ostream& err, uint64_t total);
  ~Progress();
  void add(uint64_t bytes);

 private:
  std::ostream& err_;
  uint64_t total_;
  uint64_t done_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point shownAt_;
  bool shown_ = false;
};

// The file's SHA-256 and its length, read once; raises std::runtime_error
// when it cannot be read.
struct FileDigest {
  uint64_t size = 0;
  Digest sha256{};
};
FileDigest hashFile(const fs::path& path, Progress& progress);

}  // namespace release::tool
