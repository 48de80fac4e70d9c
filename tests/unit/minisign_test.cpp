// The signature format: files written by Debian's minisign are read and
// checked, our own signatures and keys are read by minisign, and damaged or
// truncated files are refused without ever reading as valid.
#include "release/minisign.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "doubles.h"
#include "base/error.h"
#include "umain/list_signature.h"

namespace {

using release::Verdict;

// Written by minisign 0.11: an unencrypted key pair (-G -W) and signatures of
// kList in both forms (-S and -S -l).
const std::string kList = "[Version]\r\nNewVersion=6.3.0.0\r\n";
const std::string kPub =
    "untrusted comment: minisign public key 4C417D33C9AE8B11\n"
    "RWQRi67JM31BTBHOV+Z6Oj1Vam2H+LQ6g3sTty9N2UDo51TZCrkmQbs+\n";
const std::string kKey =
    "untrusted comment: minisign encrypted secret key\n"
    "RWQAAEIyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAEYuuyTN9QUyHYdc1gN/"
    "G8dH6KtbPEmSKikY2vbNRJfeBg+8dXYlj5RHOV+Z6Oj1Vam2H+LQ6g3sTty9N2UDo51TZCrkmQbs+"
    "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";
const std::string kSigned =
    "untrusted comment: signature from minisign secret key\n"
    "RUQRi67JM31BTPGK4KOXypK2AsgzFhCnoLTfCtpbpqn/"
    "ZAHDegRpX+0aW0ckcw9SrM0fFpgdO5J4fCYGY88zm8IwWUDBbVI+"
    "NQM=\n"
    "trusted comment: timestamp:1765000000 file:update.ini\n"
    "5FeeEtVvTn9hjX0g/6a3WzV27K0BefpiurpOi5/2QimoGqCMboR0lQ2lJOdAamUgxKr/LuM5pqkKK+8RJEqzBA==\n";
const std::string kSignedLegacy =
    "untrusted comment: signature from minisign secret key\n"
    "RWQRi67JM31BTNa0XOQ0XEpI87uGpnZT3anvSdXIUrPIiz3KzjZgtjqEVFpm7Px0gMgKZg9nGiUoPTRIquuqzbdU1aqtX1"
    "M2"
    "gAw=\n"
    "trusted comment: legacy form\n"
    "Zx/M2S/zDmAXgI3HFVlpzNy4vP+jyq9y04kbeK4oHsvs9JZPNaDBLMchjDoQh8Z+Mb0jJRaGOhzRJfLwZVb+DQ==\n";

release::PublicKey minisignKey() {
  auto key = release::parsePublicKey(kPub);
  if (!key) throw std::runtime_error("the fixed public key does not parse");
  return *key;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("no \"" + from + "\" in the text");
  return text.replace(at, from.size(), to);
}

std::string crlf(std::string text) {
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
    text.insert(at, 1, '\r');
  return text;
}

// The text with its base64 line `line` decoded, changed by `change` and encoded again.
template <typename Change>
std::string withBytes(const std::string& text, int line, Change change) {
  size_t start = 0;
  for (int i = 0; i < line; ++i) start = text.find('\n', start) + 1;
  const size_t end = text.find('\n', start);
  std::string bytes = release::decodeBase64(text.substr(start, end - start)).value();
  change(bytes);
  return text.substr(0, start) + release::encodeBase64(bytes) + text.substr(end);
}

TEST(Minisign, ChecksSignaturesMadeByMinisignInBothForms) {
  const auto key = minisignKey();
  EXPECT_EQ(release::keyIdText(key.keyId), "4C417D33C9AE8B11");
  for (const auto& [signature, comment] :
       {std::pair{kSigned, "timestamp:1765000000 file:update.ini"},
        std::pair{kSignedLegacy, "legacy form"}}) {
    const auto result = release::verify(kList, signature, key);
    EXPECT_EQ(result.verdict, Verdict::Ok) << signature;
    EXPECT_EQ(result.trustedComment, comment);
    EXPECT_EQ(release::verify(kList + " ", signature, key).verdict, Verdict::Invalid);
    EXPECT_EQ(release::verify(kList.substr(1), signature, key).verdict, Verdict::Invalid);
  }
}

TEST(Minisign, TellsDamagedSignaturesFromOtherKeysAndNoSignature) {
  const auto key = minisignKey();
  const struct {
    const char* what;
    std::string text;
    Verdict verdict;
  } cases[] = {
      {"empty", "", Verdict::NotSigned},
      {"without the final line break", kSigned.substr(0, kSigned.size() - 1), Verdict::Ok},
      {"CR LF line ends", crlf(kSigned), Verdict::Ok},
      {"another key id", withBytes(kSigned, 1, [](std::string& b) { b[2] ^= 1; }),
       Verdict::OtherKey},
      {"another algorithm", withBytes(kSigned, 1, [](std::string& b) { b[1] = 'x'; }),
       Verdict::Invalid},
      {"legacy form claimed for a hashed signature",
       withBytes(kSigned, 1, [](std::string& b) { b[1] = 'd'; }), Verdict::Invalid},
      {"a changed signature byte", withBytes(kSigned, 1, [](std::string& b) { b[40] ^= 4; }),
       Verdict::Invalid},
      {"a signature byte short", withBytes(kSigned, 1, [](std::string& b) { b.pop_back(); }),
       Verdict::Invalid},
      {"a byte too many", withBytes(kSigned, 1, [](std::string& b) { b += 'x'; }),
       Verdict::Invalid},
      {"a changed trusted comment", replaced(kSigned, "1765000000", "1765000001"),
       Verdict::Invalid},
      {"a changed global signature", withBytes(kSigned, 3, [](std::string& b) { b[0] ^= 1; }),
       Verdict::Invalid},
      {"no untrusted comment prefix", replaced(kSigned, "untrusted comment: ", "comment: "),
       Verdict::Invalid},
      {"no trusted comment prefix", replaced(kSigned, "trusted comment: t", "t"), Verdict::Invalid},
      {"base64 with a line break", replaced(kSigned, "RUQRi67J", "RUQR\ni67J"), Verdict::Invalid},
      {"a zero byte in the trusted comment", replaced(kSigned, "file:", std::string("\0", 1)),
       Verdict::Invalid},
      {"an extra line", kSigned + "\n", Verdict::Invalid},
      {"an untrusted comment line only", "untrusted comment: x\n", Verdict::Invalid},
      {"a public key instead", kPub, Verdict::Invalid},
      {"an overlong trusted comment",
       replaced(kSigned, "file:", std::string(release::kMaxTrustedComment, 'x')), Verdict::Invalid},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(release::verify(kList, c.text, key).verdict, c.verdict) << c.what;
  }
  // Every truncation short of the last line break is refused.
  for (size_t size = 1; size + 1 < kSigned.size(); ++size)
    ASSERT_EQ(release::verify(kList, kSigned.substr(0, size), key).verdict, Verdict::Invalid)
        << size;
}

TEST(Minisign, ReadsPublicKeysStrictly) {
  const std::string line = "RWQRi67JM31BTBHOV+Z6Oj1Vam2H+LQ6g3sTty9N2UDo51TZCrkmQbs+";
  const auto key = minisignKey();
  for (const std::string& text : {line, line + "\n", crlf(kPub), kPub}) {
    const auto parsed = release::parsePublicKey(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_EQ(parsed->keyId, key.keyId);
    EXPECT_EQ(parsed->key, key.key);
  }
  for (const std::string& text :
       {std::string(), line.substr(0, 52), line + "AAAA", line + " ", "\n" + line,
        "comment\n" + line, kPub + "x\n", replaced(line, "RWQ", "RUQ"), kSigned}) {
    EXPECT_FALSE(release::parsePublicKey(text).has_value()) << text;
  }
}

TEST(Minisign, Base64IsStrict) {
  const struct {
    const char* text;
    std::optional<std::string> bytes;
  } cases[] = {
      {"QUJD", "ABC"},        {"QUI=", "AB"},           {"QQ==", "A"},
      {"", std::nullopt},     {"QQ=", std::nullopt},    {"Q===", std::nullopt},
      {"QR==", std::nullopt}, {"QUJ=", std::nullopt},   {"QQ==QUJD", std::nullopt},
      {"QU=D", std::nullopt}, {"QUJD\n", std::nullopt}, {"QU-_", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(release::decodeBase64(c.text), c.bytes) << c.text;
  std::string bytes;
  for (char c : {'\xF0', '\x00', '\xFF', 'a', '\x80'}) {
    bytes += c;
    EXPECT_EQ(release::decodeBase64(release::encodeBase64(bytes)), bytes);
  }
}

TEST(Minisign, SecretKeysOfBothToolsAreReadAndDamageIsRefused) {
  // minisign leaves the checksum of an unencrypted key zero; ours carries it.
  const auto theirs = release::parseSecretKey(kKey);
  ASSERT_TRUE(theirs.has_value());
  EXPECT_EQ(theirs->keyId, minisignKey().keyId);

  const release::KeyFiles ours = release::generateKeyPair();
  ASSERT_TRUE(release::parseSecretKey(ours.secretKey).has_value());
  ASSERT_TRUE(release::parsePublicKey(ours.publicKey).has_value());

  const std::string damaged[] = {
      withBytes(kKey, 1, [](std::string& b) { b[70] ^= 1; }),   // seed: no longer its public half
      withBytes(kKey, 1, [](std::string& b) { b[100] ^= 1; }),  // public half
      withBytes(ours.secretKey, 1, [](std::string& b) { b[157] ^= 1; }),            // checksum
      withBytes(ours.secretKey, 1, [](std::string& b) { b[60] ^= 1; }),             // key id
      withBytes(ours.secretKey, 1, [](std::string& b) { b.replace(2, 2, "Sc"); }),  // encrypted
      withBytes(ours.secretKey, 1, [](std::string& b) { b.pop_back(); }),
      ours.publicKey,
      replaced(ours.secretKey, "untrusted comment: ", ""),
  };
  for (const std::string& text : damaged)
    EXPECT_FALSE(release::parseSecretKey(text).has_value()) << text;
}

TEST(Minisign, SignsInTheHashedFormWithTheTrustedComment) {
  const release::KeyFiles files = release::generateKeyPair();
  const auto secret = release::parseSecretKey(files.secretKey).value();
  const auto key = release::parsePublicKey(files.publicKey).value();
  const std::string comment = release::releaseTrustedComment(1765000000, "update.ini");
  EXPECT_EQ(comment, "timestamp:1765000000 file:update.ini");
  const std::string signature = release::sign(kList, secret, comment);
  ASSERT_EQ(release::parseSignature(signature).value().prehashed, true);

  const auto result = release::verify(kList, signature, key);
  EXPECT_EQ(result.verdict, Verdict::Ok);
  EXPECT_EQ(result.trustedComment, comment);
  EXPECT_EQ(release::verify(kList + "x", signature, key).verdict, Verdict::Invalid);
  EXPECT_EQ(release::verify(kList, signature, minisignKey()).verdict, Verdict::OtherKey);
  // minisign's own key signs through the same path.
  const auto theirs = release::parseSecretKey(kKey).value();
  EXPECT_EQ(release::verify(kList, release::sign(kList, theirs, "x"), minisignKey()).verdict,
            Verdict::Ok);
  for (const std::string& bad :
       {std::string("two\nlines"), std::string("cr\r"), std::string("zero\0", 5),
        std::string(release::kMaxTrustedComment + 1, 'x')})
    EXPECT_THROW(release::sign(kList, secret, bad), base::Error);
}

TEST(Minisign, ListSignatureFailuresCarryTheirMessages) {
  const std::string pinned = "RWQRi67JM31BTBHOV+Z6Oj1Vam2H+LQ6g3sTty9N2UDo51TZCrkmQbs+";
  EXPECT_NO_THROW(UMain::CheckListSignature(kList, kSigned, pinned));
  const struct {
    std::string list, signature, key, message;
  } cases[] = {
      {kList, "", pinned, "update.ini is not signed"},
      {kList, withBytes(kSigned, 1, [](std::string& b) { b[9] ^= 1; }), pinned,
       "update.ini is signed with another key"},
      {kList + "\r\n", kSigned, pinned, "Invalid signature on update.ini"},
      {kList, kSigned.substr(1), pinned, "Invalid signature on update.ini"},
      {kList, kSigned, pinned.substr(1), "Invalid signature on update.ini"},
  };
  for (const auto& c : cases) {
    try {
      UMain::CheckListSignature(c.list, c.signature, c.key);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const base::Error& e) {
      EXPECT_EQ(e.message(), c.message);
    }
  }
}

// Debian's minisign, where it is installed, reads our keys and signatures and
// its signatures of a new key pair pass our check.
TEST(Minisign, AgreesWithTheMinisignProgram) {
#ifdef _WIN32
  GTEST_SKIP() << "the minisign program runs on the Linux build";
#else
  if (std::system("minisign -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "minisign not installed";
  testing_doubles::TempWorkDir dir;
  const release::KeyFiles ours = release::generateKeyPair();
  testing_doubles::writeAll("ours.pub", ours.publicKey);
  testing_doubles::writeAll("ours.key", ours.secretKey);
  testing_doubles::writeAll("update.ini", kList);
  const auto secret = release::parseSecretKey(ours.secretKey).value();
  testing_doubles::writeAll("update.ini.minisig",
                            release::sign(kList, secret, release::releaseTrustedComment(1, "x")));
  EXPECT_EQ(std::system("minisign -V -q -p ours.pub -m update.ini"), 0);
  testing_doubles::writeAll("update.ini", kList + "x");
  EXPECT_NE(std::system("minisign -V -q -p ours.pub -m update.ini 2>/dev/null"), 0);

  // Our secret key signs with minisign, in both forms.
  testing_doubles::writeAll("update.ini", kList);
  const auto key = release::parsePublicKey(ours.publicKey).value();
  for (const std::string& legacy : {std::string(), std::string(" -l")}) {
    ASSERT_EQ(std::system(("minisign -S -s ours.key -t 'made by minisign' -m update.ini -x out" +
                           legacy + " >/dev/null 2>&1")
                              .c_str()),
              0)
        << legacy;
    const std::string signature = testing_doubles::readAll("out");
    EXPECT_EQ(release::parseSignature(signature).value().prehashed, legacy.empty());
    const auto result = release::verify(kList, signature, key);
    EXPECT_EQ(result.verdict, Verdict::Ok) << signature;
    EXPECT_EQ(result.trustedComment, "made by minisign");
  }
#endif
}

}  // namespace
