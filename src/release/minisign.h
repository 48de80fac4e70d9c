// Ed25519 signatures in minisign's file formats: the publisher signs the
// release description, and the updater checks it against a public key pinned
// at build time. The formats are parsed here; every cryptographic operation
// is libsodium's.
//
// Public key (.pub), two lines, or the second line alone:
//   untrusted comment: <text>
//   base64("Ed" | key id (8) | Ed25519 public key (32))
// Secret key (.key), unencrypted form, two lines:
//   untrusted comment: <text>
//   base64("Ed" | kdf "\0\0" | "B2" | salt (32) | opslimit (8) | memlimit (8) |
//          key id (8) | Ed25519 secret key (64) | checksum (32))
//   the checksum is BLAKE2b-256 of "Ed" | key id | secret key.
// Signature (.minisig), four lines:
//   untrusted comment: <text>
//   base64(algorithm (2) | key id (8) | Ed25519 signature (64))
//   trusted comment: <text>
//   base64(Ed25519 signature (64) of the signature above | the trusted comment)
// The algorithm "ED" signs BLAKE2b-512 of the message, the older "Ed" the
// message itself; both are read, and signing writes "ED".
//
// Every input is untrusted: lines end at LF (a CR before it is dropped), a
// text may end with one line break, base64 is the standard alphabet with its
// padding and nothing else, and each decoded part must have its exact length.
#pragma once

#include "base/base64.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <span>
#include <string_view>

namespace release {

using KeyId = std::array<uint8_t, 8>;

struct PublicKey {
  KeyId keyId;
  std::array<uint8_t, 32> key;
};

struct SecretKey {
  KeyId keyId;
  std::array<uint8_t, 64> key;  // libsodium's form: seed | public key
};

struct Signature {
  bool prehashed;  // "ED": the message's BLAKE2b-512 is signed
  KeyId keyId;
  std::array<uint8_t, 64> signature;
  std::string trustedComment;
  std::array<uint8_t, 64> globalSignature;
};

// The longest trusted comment read or written.
inline constexpr size_t kMaxTrustedComment = 8192;

// The keys' and signatures' encoding.
using base::decodeBase64;
using base::encodeBase64;

// The key id as minisign prints it: 16 hexadecimal digits, last byte first.
std::string keyIdText(const KeyId& id);

// A .pub file, or its base64 line alone.
std::optional<PublicKey> parsePublicKey(std::string_view text);
std::optional<Signature> parseSignature(std::string_view text);
// An unencrypted .key file whose checksum and key halves agree. Keys that a
// password protects are refused (nullopt): the tool keeps its key unencrypted,
// offline.
std::optional<SecretKey> parseSecretKey(std::string_view text);

enum class Verdict {
  NotSigned,  // no signature at all (an empty text)
  OtherKey,   // a signature, by a key with another id
  Invalid,    // damaged, of an unknown kind, or not matching the message
  Ok,
};

struct Verification {
  Verdict verdict;
  std::string trustedComment;  // only when Ok
};

// Checks the signature file's text over the message with the key.
Verification verify(std::string_view message, std::string_view signatureText, const PublicKey& key);

// Why a signature of update.ini is refused, as the updater and the tool say
// it: "update.ini is not signed", "update.ini is signed with another key" or
// "Invalid signature on update.ini"; empty for Ok.
std::string listSignatureProblem(Verdict verdict);

struct KeyFiles {
  std::string publicKey;  // .pub text
  std::string secretKey;  // .key text, unencrypted
};
KeyFiles generateKeyPair();

// "timestamp:<seconds since 1970> file:<name>", the trusted comment of a release signature.
std::string releaseTrustedComment(int64_t unixTime, std::string_view fileName);
// The time a trusted comment gives: the number of its "timestamp:" field (the
// first field, or one after a blank or a tab); nullopt when it gives none.
std::optional<int64_t> trustedTimestamp(std::string_view trustedComment);

// The .minisig text of the message in the "ED" form. Raises base::Error
// for a trusted comment that is not one line of at most kMaxTrustedComment bytes.
std::string sign(std::string_view message, const SecretKey& key, std::string_view trustedComment);

namespace detail {
// Fills `lines` with the text's lines when it has exactly that many (see
// above), none holding a zero byte; false otherwise.
bool splitLines(std::string_view text, std::span<std::string_view> lines);
// The untrusted comment line's text after its prefix, or nullopt.
std::optional<std::string_view> untrustedComment(std::string_view line);
}  // namespace detail

}  // namespace release
