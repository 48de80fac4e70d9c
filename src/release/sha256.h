// SHA-256 from the system's own implementation (BCrypt on Windows, libcrypto
// elsewhere), both of which use the processor's SHA instructions where present.
// Fed piece by piece as bytes arrive, so a file is never read a second time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace release {

using Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* data, size_t size);
  // The digest of everything fed so far; the object is then spent.
  Digest finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace release
