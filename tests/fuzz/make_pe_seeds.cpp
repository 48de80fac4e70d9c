// Writes the seed images of the version reader's fuzz target: the fixture's
// images in their variants, and some with one field broken.
// Usage: make_pe_seeds DIRECTORY
#include <cstdio>
#include <string>

#include "pe_fixture.h"

namespace {

bool writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  return out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
         std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_pe_seeds DIRECTORY\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  bool ok = true;
  auto save = [&](const char* name, const std::string& bytes) {
    ok = writeFile(dir + name, bytes) && ok;
  };

  pe_fixture::Options plain;
  save("pe32", pe_fixture::build(plain).bytes);
  pe_fixture::Options plus;
  plus.pe32plus = true;
  save("pe32plus", pe_fixture::build(plus).bytes);
  pe_fixture::Options other;
  other.otherResources = true;
  other.versionNameId = 7;
  save("other_resources", pe_fixture::build(other).bytes);
  pe_fixture::Options own;
  own.dataInOwnSection = true;
  own.pe32plus = true;
  save("data_in_own_section", pe_fixture::build(own).bytes);

  // Damaged images: each points one offset somewhere it should not.
  pe_fixture::Image image = pe_fixture::build(plain);
  std::string bytes = image.bytes;
  pe_fixture::put32(bytes, image.versionDataEntry, 0xFFFFFFF0);
  save("data_rva_outside", bytes);
  bytes = image.bytes;
  pe_fixture::put32(bytes, image.versionTypeEntry + 4, 0x80000000);  // a loop to the root
  save("type_points_to_root", bytes);
  bytes = image.bytes;
  pe_fixture::put32(bytes, image.resourceDirectory, 0x7FFFFFFF);
  save("resource_rva_outside", bytes);
  bytes = image.bytes;
  pe_fixture::put32(bytes, image.versionDataEntry + 4, 8);  // too small for the fixed info
  save("data_too_small", bytes);
  save("truncated", image.bytes.substr(0, image.fixedInfo + 20));
  return ok ? 0 : 1;
}
