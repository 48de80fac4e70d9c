// Making keys and signatures: the publisher's side of the format.
#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "release/minisign.h"

namespace release {

namespace {

// "Ed" | kdf | checksum algorithm | salt | opslimit | memlimit | key id | key | checksum
constexpr size_t kKdfAt = 2, kChecksumAlgorithmAt = 4, kKeyIdAt = 54, kKeyAt = 62,
                 kChecksumAt = 126, kSecretKeyBytes = 158;

const unsigned char* bytesOf(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::string_view viewOf(const auto& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// BLAKE2b-256 of "Ed" | key id | secret key, which the secret key file carries.
std::array<unsigned char, 32> secretKeyChecksum(const SecretKey& key) {
  std::string input = "Ed";
  input += viewOf(key.keyId);
  input += viewOf(key.key);
  std::array<unsigned char, 32> checksum;
  crypto_generichash(checksum.data(), checksum.size(), bytesOf(input), input.size(), nullptr, 0);
  sodium_memzero(input.data(), input.size());
  return checksum;
}

void startSodium() {
  if (sodium_init() < 0) throw base::Error("The cryptography library cannot start");
}

}  // namespace

std::string keyIdText(const KeyId& id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
    text.push_back(kHex[*byte >> 4]);
    text.push_back(kHex[*byte & 15]);
  }
  return text;
}

std::optional<SecretKey> parseSecretKey(std::string_view text) {
  std::array<std::string_view, 2> lines;
  if (!detail::splitLines(text, lines) || !detail::untrustedComment(lines[0])) return std::nullopt;
  auto bytes = decodeBase64(lines[1]);
  if (!bytes) return std::nullopt;
  const std::string_view b = *bytes;
  std::optional<SecretKey> key;
  // Only an unencrypted key ("\0\0" as its key derivation) with a BLAKE2b checksum.
  if (b.size() == kSecretKeyBytes && b.starts_with("Ed") &&
      b.substr(kKdfAt, 2) == std::string_view("\0\0", 2) &&
      b.substr(kChecksumAlgorithmAt, 2) == "B2") {
    key.emplace();
    std::memcpy(key->keyId.data(), b.data() + kKeyIdAt, key->keyId.size());
    std::memcpy(key->key.data(), b.data() + kKeyAt, key->key.size());
    // Some versions of minisign leave the checksum of an unencrypted key zero;
    // any other value must match. Either way the key's public half must be the
    // one its seed gives, which a damaged key fails.
    const std::string_view stored = b.substr(kChecksumAt, 32);
    const bool unchecked = std::all_of(stored.begin(), stored.end(), [](char c) { return !c; });
    std::array<unsigned char, 32> publicHalf;
    std::array<unsigned char, 64> derived;
    if (!unchecked && stored != viewOf(secretKeyChecksum(*key))) {
      key.reset();
    } else if (crypto_sign_seed_keypair(publicHalf.data(), derived.data(), key->key.data()) != 0 ||
               std::memcmp(derived.data(), key->key.data(), derived.size()) != 0) {
      key.reset();
    }
    sodium_memzero(derived.data(), derived.size());
  }
  sodium_memzero(bytes->data(), bytes->size());
  return key;
}

KeyFiles generateKeyPair() {
  startSodium();
  SecretKey secret;
  std::array<unsigned char, 32> publicKey;
  randombytes_buf(secret.keyId.data(), secret.keyId.size());
  crypto_sign_keypair(publicKey.data(), secret.key.data());
  const std::string id = keyIdText(secret.keyId);

  KeyFiles files;
  files.publicKey =
      "untrusted comment: release public key " + id + "\n" +
      encodeBase64("Ed" + std::string(viewOf(secret.keyId)) + std::string(viewOf(publicKey))) +
      "\n";

  std::string bytes("Ed\0\0B2", 6);
  bytes.append(32 + 8 + 8, '\0');  // no salt, no key derivation limits
  bytes += viewOf(secret.keyId);
  bytes += viewOf(secret.key);
  bytes += viewOf(secretKeyChecksum(secret));
  files.secretKey = "untrusted comment: release secret key " + id + ", unencrypted\n" +
                    encodeBase64(bytes) + "\n";
  sodium_memzero(bytes.data(), bytes.size());
  sodium_memzero(secret.key.data(), secret.key.size());
  return files;
}

std::string releaseTrustedComment(int64_t unixTime, std::string_view fileName) {
  return "timestamp:" + std::to_string(unixTime) + " file:" + std::string(fileName);
}

std::string sign(std::string_view message, const SecretKey& key, std::string_view trustedComment) {
  if (trustedComment.size() > kMaxTrustedComment ||
      trustedComment.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
    throw base::Error("A trusted comment must be one line of at most " +
                      std::to_string(kMaxTrustedComment) + " bytes");
  startSodium();
  std::array<unsigned char, crypto_generichash_BYTES_MAX> hash;
  crypto_generichash(hash.data(), hash.size(), bytesOf(message), message.size(), nullptr, 0);
  std::array<unsigned char, crypto_sign_BYTES> signature;
  crypto_sign_detached(signature.data(), nullptr, hash.data(), hash.size(), key.key.data());

  std::string signedComment(viewOf(signature));
  signedComment += trustedComment;
  std::array<unsigned char, crypto_sign_BYTES> globalSignature;
  crypto_sign_detached(globalSignature.data(), nullptr, bytesOf(signedComment),
                       signedComment.size(), key.key.data());

  return "untrusted comment: signature from release secret key " + keyIdText(key.keyId) + "\n" +
         encodeBase64("ED" + std::string(viewOf(key.keyId)) + std::string(viewOf(signature))) +
         "\ntrusted comment: " + std::string(trustedComment) + "\n" +
         encodeBase64(viewOf(globalSignature)) + "\n";
}

}  // namespace release
