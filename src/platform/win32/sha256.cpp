// SHA-256 through BCrypt (bcrypt.dll, a part of every Windows since Vista),
// which uses the processor's SHA instructions where present.
#include "release/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

#include "base/error.h"

namespace release {

namespace {

// One provider for the process: opening it is the expensive part.
BCRYPT_ALG_HANDLE provider() {
  static BCRYPT_ALG_HANDLE handle = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
      throw base::Error("SHA-256 is not available");
    return opened;
  }();
  return handle;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (BCryptCreateHash(provider(), &state_->hash, nullptr, 0, nullptr, 0, 0) < 0)
    throw base::Error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    BCryptHashData(state_->hash, bytes, piece, 0);
    bytes += piece;
    size -= piece;
  }
}

Digest Sha256::finish() {
  Digest digest{};
  BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  return digest;
}

}  // namespace release
