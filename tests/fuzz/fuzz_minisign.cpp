// The signature format's readers on any bytes. Besides running without a
// fault: base64 that is accepted encodes back to the same text (one spelling
// per byte string), a signature that checks out is one the reader accepts with
// the same key id and trusted comment, and a secret key that is accepted signs
// what its public half then accepts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "release/minisign.h"

namespace {

// The public key and message of the seed signatures in corpus/minisign.
constexpr std::string_view kPublicKey = "RWQRi67JM31BTBHOV+Z6Oj1Vam2H+LQ6g3sTty9N2UDo51TZCrkmQbs+";
constexpr std::string_view kMessage = "[Version]\r\nNewVersion=6.3.0.0\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const auto bytes = release::decodeBase64(text))
    FUZZ_CHECK(release::encodeBase64(*bytes) == text);

  static const release::PublicKey key = release::parsePublicKey(kPublicKey).value();
  const auto signature = release::parseSignature(text);
  const release::Verification result = release::verify(kMessage, text, key);
  FUZZ_CHECK((result.verdict == release::Verdict::NotSigned) == text.empty());
  if (signature) {
    FUZZ_CHECK(signature->trustedComment.size() <= release::kMaxTrustedComment);
    FUZZ_CHECK(signature->trustedComment.find('\n') == std::string::npos);
    FUZZ_CHECK((result.verdict == release::Verdict::OtherKey) == (signature->keyId != key.keyId));
  } else {
    FUZZ_CHECK(result.verdict == release::Verdict::Invalid || text.empty());
  }
  if (result.verdict == release::Verdict::Ok) {
    FUZZ_CHECK(signature && signature->keyId == key.keyId);
    FUZZ_CHECK(result.trustedComment == signature->trustedComment);
  } else {
    FUZZ_CHECK(result.trustedComment.empty());
  }

  if (const auto publicKey = release::parsePublicKey(text)) {
    FUZZ_CHECK(text.find(release::encodeBase64(
                   "Ed" + std::string(publicKey->keyId.begin(), publicKey->keyId.end()) +
                   std::string(publicKey->key.begin(), publicKey->key.end()))) !=
               std::string_view::npos);
  }

  if (const auto secret = release::parseSecretKey(text)) {
    release::PublicKey derived;
    derived.keyId = secret->keyId;
    std::copy(secret->key.begin() + 32, secret->key.end(), derived.key.begin());
    const std::string made = release::sign(kMessage, *secret, "fuzz");
    FUZZ_CHECK(release::verify(kMessage, made, derived).verdict == release::Verdict::Ok);
  }
  return 0;
}
