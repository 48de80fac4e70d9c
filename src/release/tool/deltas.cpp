#include "release/tool/deltas.h"

#include <fstream>
#include <stdexcept>

#include "delta/delta.h"
#include "release/release_list.h"

namespace release::tool {

namespace {

std::string hexOf(const Digest& digest) {
  return hashText(digest).substr(7);  // without "sha256:"
}

class FileReader : public delta::Reader {
 public:
  explicit FileReader(const fs::path& path) : path_(path), in_(path, std::ios::binary) {
    std::error_code error;
    size_ = fs::file_size(path, error);
    if (!in_ || error) throw std::runtime_error("cannot open \"" + utf8Of(path) + "\"");
  }
  uint64_t size() const { return size_; }
  void read(uint64_t offset, void* buffer, size_t n) override {
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
    if (static_cast<size_t>(in_.gcount()) != n)
      throw std::runtime_error("cannot read \"" + utf8Of(path_) + "\"");
  }

 private:
  fs::path path_;
  std::ifstream in_;
  uint64_t size_ = 0;
};

class DigestWriter : public delta::Writer {
 public:
  void write(const void* data, size_t n) override {
    sha256_.update(data, n);
    size_ += n;
  }
  FileDigest finish() { return {size_, sha256_.finish()}; }

 private:
  Sha256 sha256_;
  uint64_t size_ = 0;
};

}  // namespace

DeltaFile writeDeltaFile(const fs::path& root, const std::string& bytes, const char* ending) {
  Sha256 sha256;
  sha256.update(bytes.data(), bytes.size());
  const FileDigest digest{bytes.size(), sha256.finish()};
  const std::string name = hexOf(digest.sha256) + ending;
  const fs::path folder = root / kDeltaFolder;
  const fs::path path = folder / name;
  std::error_code error;
  fs::create_directories(folder, error);
  // The name says what the bytes are: a file of that name and size holds them.
  if (!fs::is_regular_file(path, error) || fs::file_size(path, error) != bytes.size()) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) throw std::runtime_error("cannot write \"" + utf8Of(path) + "\"");
  }
  return {std::string(kDeltaFolder) + "/" + name, digest};
}

FileDigest digestOfPatched(const fs::path& base, const fs::path& patch) {
  FileReader baseReader(base), patchReader(patch);
  DigestWriter out;
  delta::applyPatch(baseReader, baseReader.size(), patchReader, patchReader.size(), out);
  return out.finish();
}

FileDigest digestOfCopy(const fs::path& copy, uint64_t size) {
  FileReader reader(copy);
  DigestWriter out;
  delta::decompressCopy(reader, reader.size(), size, out);
  return out.finish();
}

}  // namespace release::tool
