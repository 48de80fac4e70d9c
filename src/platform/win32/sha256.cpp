// SHA-256 through BCrypt (bcrypt.dll, a part of every Windows since Vista),
// which uses the processor's SHA instructions where present. bcrypt.dll is
// not a KnownDLL: it is loaded from the system directory (system_library.h).
#include "release/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

#include "base/error.h"
#include "platform/win32/system_library.h"

namespace release {

namespace {

// BCrypt's functions, and one provider for the process: opening it is the
// expensive part.
struct BCrypt {
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
  BCRYPT_ALG_HANDLE provider = nullptr;
};

const BCrypt& bcrypt() {
  static const BCrypt functions = [] {
    const HMODULE library = platform::systemLibrary(L"bcrypt.dll");
    const auto open = SYSTEM_FUNCTION(library, BCryptOpenAlgorithmProvider);
    BCrypt loaded{
        SYSTEM_FUNCTION(library, BCryptCreateHash), SYSTEM_FUNCTION(library, BCryptHashData),
        SYSTEM_FUNCTION(library, BCryptFinishHash), SYSTEM_FUNCTION(library, BCryptDestroyHash)};
    if (!open || !loaded.createHash || !loaded.hashData || !loaded.finishHash ||
        !loaded.destroyHash || open(&loaded.provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
      throw base::Error("SHA-256 is not available");
    return loaded;
  }();
  return functions;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) bcrypt().destroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  const BCrypt& functions = bcrypt();
  if (functions.createHash(functions.provider, &state_->hash, nullptr, 0, nullptr, 0, 0) < 0)
    throw base::Error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    bcrypt().hashData(state_->hash, bytes, piece, 0);
    bytes += piece;
    size -= piece;
  }
}

Digest Sha256::finish() {
  Digest digest{};
  bcrypt().finishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  return digest;
}

}  // namespace release
