// SHA-256 through libcrypto's EVP interface, which picks the processor's SHA
// or vector instructions at run time.
#include "release/sha256.h"

#include <openssl/evp.h>

#include "base/error.h"

namespace release {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1)
    throw base::Error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
  EVP_DigestUpdate(state_->context, data, size);
}

Digest Sha256::finish() {
  Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->context, digest.data(), &length);
  return digest;
}

}  // namespace release
