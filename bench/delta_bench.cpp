// The benchmark's own patch program, on the code the updater and the tool use:
//   delta_bench make OLD NEW PATCH       makes a patch (as pack --delta-from does)
//   delta_bench compress FILE COPY       makes a compressed copy (as pack --compress does)
//   delta_bench apply OLD PATCH NEW      hashes OLD, applies PATCH to it into NEW while
//                                        hashing NEW (as the updater would), prints both
// Exit code 0 on success; the figures are taken by bench/delta.py.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "base/error.h"
#include "delta/delta.h"
#include "delta/make/make_patch.h"
#include "release/release_list.h"
#include "release/sha256.h"

namespace {

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw base::Error(std::string("cannot open ") + path);
  std::string bytes(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
    throw base::Error(std::string("cannot read ") + path);
  return bytes;
}

void writeFile(const char* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw base::Error(std::string("cannot write ") + path);
}

class FileReader : public delta::Reader {
 public:
  explicit FileReader(const char* path) : file_(std::fopen(path, "rb")) {
    if (!file_) throw base::Error(std::string("cannot open ") + path);
    std::fseek(file_, 0, SEEK_END);
    size_ = static_cast<uint64_t>(std::ftell(file_));
  }
  ~FileReader() override { std::fclose(file_); }
  uint64_t size() const { return size_; }
  void read(uint64_t offset, void* buffer, size_t n) override {
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fread(buffer, 1, n, file_) != n)
      throw base::Error("read failed");
  }

 private:
  std::FILE* file_;
  uint64_t size_ = 0;
};

class HashingWriter : public delta::Writer {
 public:
  explicit HashingWriter(const char* path) : file_(std::fopen(path, "wb")) {
    if (!file_) throw base::Error(std::string("cannot create ") + path);
  }
  ~HashingWriter() override {
    if (file_) std::fclose(file_);
  }
  void write(const void* data, size_t n) override {
    sha256_.update(data, n);
    if (std::fwrite(data, 1, n, file_) != n) throw base::Error("write failed");
  }
  release::Digest finish() {
    if (std::fclose(file_) != 0) throw base::Error("write failed");
    file_ = nullptr;
    return sha256_.finish();
  }

 private:
  std::FILE* file_;
  release::Sha256 sha256_;
};

release::Digest hashFile(FileReader& file) {
  constexpr size_t kPiece = size_t{1} << 20;
  std::unique_ptr<char[]> buffer(new char[kPiece]);
  release::Sha256 sha256;
  for (uint64_t at = 0; at < file.size(); at += kPiece) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, file.size() - at));
    file.read(at, buffer.get(), n);
    sha256.update(buffer.get(), n);
  }
  return sha256.finish();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "make" && argc == 5) {
      writeFile(argv[4], delta::makePatch(readFile(argv[2]), readFile(argv[3])));
    } else if (command == "compress" && argc == 4) {
      writeFile(argv[3], delta::compressFrame(readFile(argv[2])));
    } else if (command == "apply" && argc == 5) {
      FileReader base(argv[2]);
      std::cout << release::hashText(hashFile(base)) << "  " << argv[2] << "\n";
      FileReader patch(argv[3]);
      HashingWriter out(argv[4]);
      delta::applyPatch(base, base.size(), patch, patch.size(), out);
      std::cout << release::hashText(out.finish()) << "  " << argv[4] << "\n";
    } else {
      std::cerr
          << "usage: delta_bench make OLD NEW PATCH | compress FILE COPY | apply OLD PATCH NEW\n";
      return 2;
    }
  } catch (const std::exception& error) {
    std::cerr << "delta_bench: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
