// Reading public keys and signatures, and checking a signature: the part of
// the format the updater needs. Signing and secret keys are in minisign_sign.cpp,
// so that the updater does not carry them.
#include "release/minisign.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace release {

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
// Comfortably above the four lines of the longest signature minisign writes.
constexpr size_t kMaxFileBytes = 2 * kMaxTrustedComment;

// Decodes the base64 text into `out`; false unless it is exactly N bytes.
template <size_t N>
bool decodeExact(std::string_view text, std::array<uint8_t, N>& out) {
  const auto bytes = decodeBase64(text);
  if (!bytes || bytes->size() != N) return false;
  std::memcpy(out.data(), bytes->data(), N);
  return true;
}

const unsigned char* bytesOf(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

namespace detail {

bool splitLines(std::string_view text, std::span<std::string_view> lines) {
  if (text.size() > kMaxFileBytes || text.find('\0') != std::string_view::npos) return false;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines[i] = line;
    // The last line must end the text, and every other one a line break.
    if ((end == text.size()) != (i + 1 == lines.size())) return false;
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return true;
}

std::optional<std::string_view> untrustedComment(std::string_view line) {
  if (!line.starts_with(kUntrustedPrefix)) return std::nullopt;
  return line.substr(kUntrustedPrefix.size());
}

}  // namespace detail

std::optional<PublicKey> parsePublicKey(std::string_view text) {
  std::array<std::string_view, 2> lines;
  std::string_view line;
  if (detail::splitLines(text, lines)) {
    if (!detail::untrustedComment(lines[0])) return std::nullopt;
    line = lines[1];
  } else if (!detail::splitLines(text, {&line, 1})) {
    return std::nullopt;
  }
  std::array<uint8_t, 2 + 8 + 32> bytes;
  if (!decodeExact(line, bytes) || bytes[0] != 'E' || bytes[1] != 'd') return std::nullopt;
  PublicKey key;
  std::copy_n(bytes.begin() + 2, 8, key.keyId.begin());
  std::copy_n(bytes.begin() + 10, 32, key.key.begin());
  return key;
}

std::optional<Signature> parseSignature(std::string_view text) {
  std::array<std::string_view, 4> lines;
  if (!detail::splitLines(text, lines) || !detail::untrustedComment(lines[0]) ||
      !lines[2].starts_with(kTrustedPrefix))
    return std::nullopt;
  std::array<uint8_t, 2 + 8 + 64> bytes;
  if (!decodeExact(lines[1], bytes) || bytes[0] != 'E' || (bytes[1] != 'D' && bytes[1] != 'd'))
    return std::nullopt;
  Signature signature;
  signature.prehashed = bytes[1] == 'D';
  std::copy_n(bytes.begin() + 2, 8, signature.keyId.begin());
  std::copy_n(bytes.begin() + 10, 64, signature.signature.begin());
  const std::string_view comment = lines[2].substr(kTrustedPrefix.size());
  if (comment.size() > kMaxTrustedComment) return std::nullopt;
  signature.trustedComment = comment;
  if (!decodeExact(lines[3], signature.globalSignature)) return std::nullopt;
  return signature;
}

Verification verify(std::string_view message, std::string_view signatureText,
                    const PublicKey& key) {
  if (signatureText.empty()) return {Verdict::NotSigned, {}};
  const auto signature = parseSignature(signatureText);
  if (!signature) return {Verdict::Invalid, {}};
  if (signature->keyId != key.keyId) return {Verdict::OtherKey, {}};
  // The library picks its implementations once, before its first use; one
  // that cannot start verifies nothing.
  static const bool ready = sodium_init() >= 0;
  if (!ready) return {Verdict::Invalid, {}};

  std::array<unsigned char, crypto_generichash_BYTES_MAX> hash;
  if (signature->prehashed) {
    crypto_generichash(hash.data(), hash.size(), bytesOf(message), message.size(), nullptr, 0);
    message = std::string_view(reinterpret_cast<const char*>(hash.data()), hash.size());
  }
  if (crypto_sign_verify_detached(signature->signature.data(), bytesOf(message), message.size(),
                                  key.key.data()) != 0)
    return {Verdict::Invalid, {}};

  std::string signedComment(signature->signature.begin(), signature->signature.end());
  signedComment += signature->trustedComment;
  if (crypto_sign_verify_detached(signature->globalSignature.data(), bytesOf(signedComment),
                                  signedComment.size(), key.key.data()) != 0)
    return {Verdict::Invalid, {}};
  return {Verdict::Ok, signature->trustedComment};
}

std::optional<int64_t> trustedTimestamp(std::string_view comment) {
  constexpr std::string_view kField = "timestamp:";
  for (size_t at = 0; at < comment.size(); ++at) {
    if (at > 0 && comment[at - 1] != ' ' && comment[at - 1] != '\t') continue;
    if (comment.substr(at, kField.size()) != kField) continue;
    const std::string_view digits = comment.substr(at + kField.size());
    int64_t value = 0;
    size_t n = 0;
    for (; n < digits.size() && digits[n] >= '0' && digits[n] <= '9'; ++n) {
      if (n == 18) return std::nullopt;  // beyond any time a key will sign at
      value = value * 10 + (digits[n] - '0');
    }
    if (n == 0 || (n < digits.size() && digits[n] != ' ' && digits[n] != '\t')) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::string listSignatureProblem(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok:
      return "";
    case Verdict::NotSigned:
      return "update.ini is not signed";
    case Verdict::OtherKey:
      return "update.ini is signed with another key";
    case Verdict::Invalid:
      break;
  }
  return "Invalid signature on update.ini";
}

}  // namespace release
