// Writes the seeds of the patch fuzz target: real patches from its base to
// changed versions of it, and compressed copies.
// Usage: make_delta_seeds DIRECTORY
#include <cstdio>
#include <string>

#include "delta_base.h"
#include "delta/make/make_patch.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_delta_seeds DIRECTORY\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  bool ok = true;
  auto save = [&](const char* name, const std::string& bytes) {
    std::FILE* out = std::fopen((dir + name).c_str(), "wb");
    ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
         std::fclose(out) == 0 && ok;
  };
  using delta::compressFrame;
  using delta::makePatch;
  const std::string base = fuzz_delta::base();
  std::string edited = base;
  edited.replace(3000, 40, "a few bytes of new code and data");
  save("patch_code_moved", makePatch(base, fuzz_delta::base(48, 24)));
  save("patch_edited", makePatch(base, edited));
  save("patch_grown", makePatch(base, base + base.substr(100, 2000) + "tail"));
  save("patch_cut", makePatch(base, base.substr(500, 4000)));
  save("patch_to_nothing", makePatch(base, ""));
  save("patch_identical", makePatch(base, base));
  save("copy_text", compressFrame(std::string(300, 'x') + "the copy's text"));
  save("copy_base", compressFrame(base));
  return ok ? 0 : 1;
}
