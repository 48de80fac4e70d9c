// SHA-256 through libcrypto's own SHA-256 functions, which pick the
// processor's SHA or vector instructions at run time. The program links them
// statically: the digest alone, without libcrypto's provider machinery.
#define OPENSSL_API_COMPAT 0x10100000L
#include <openssl/sha.h>

#include "release/sha256.h"

namespace release {

struct Sha256::State {
  SHA256_CTX context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  SHA256_Init(&state_->context);
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
  SHA256_Update(&state_->context, data, size);
}

Digest Sha256::finish() {
  Digest digest{};
  SHA256_Final(digest.data(), &state_->context);
  return digest;
}

}  // namespace release
