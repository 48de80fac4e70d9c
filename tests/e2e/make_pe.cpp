// Writes a small PE image with a version resource: the client.exe of the
// Linux end-to-end tests and of the demo. Usage: make_pe FILE A.B.C.D
#include <cstdio>

#include "pe_fixture.h"

int main(int argc, char** argv) {
  unsigned a, b, c, d;
  if (argc != 3 || std::sscanf(argv[2], "%u.%u.%u.%u", &a, &b, &c, &d) != 4) {
    std::fprintf(stderr, "usage: make_pe FILE A.B.C.D\n");
    return 2;
  }
  pe_fixture::Options options;
  options.ms = a << 16 | (b & 0xFFFF);
  options.ls = c << 16 | (d & 0xFFFF);
  const std::string bytes = pe_fixture::build(options).bytes;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out))
    return 1;
  return 0;
}
