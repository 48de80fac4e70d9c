// keygen and sign: the publisher's key pair and the signature of update.ini,
// both in minisign's formats so that either tool can make or check them.
#include <array>
#include <fstream>
#include <stdexcept>

#include "base/error.h"
#include "release/list_checks.h"
#include "release/new_file.h"
#include "release/tool/files.h"

namespace release::tool {

namespace {

// Whether the text is a minisign secret key that a password protects.
bool isPasswordProtected(std::string_view text) {
  std::array<std::string_view, 2> lines;
  if (!detail::splitLines(text, lines)) return false;
  const std::optional<std::string> bytes = decodeBase64(lines[1]);
  return bytes && bytes->size() > 4 && bytes->substr(2, 2) == "Sc";
}

}  // namespace

SecretKey readSecretKey(const std::string& file) {
  const std::optional<std::string> text = readBytes(pathOf(file));
  if (!text) throw std::runtime_error("cannot read the secret key " + quoted(file));
  if (std::optional<SecretKey> key = parseSecretKey(*text)) return *key;
  if (isPasswordProtected(*text))
    throw std::runtime_error(quoted(file) +
                             " is protected by a password; updater-release signs with unencrypted "
                             "keys only (sign with minisign -S instead)");
  throw std::runtime_error(quoted(file) + " is not a minisign secret key");
}

PublicKey readPublicKey(const std::string& fileOrLine) {
  const std::optional<std::string> text = readBytes(pathOf(fileOrLine));
  if (std::optional<PublicKey> key = parsePublicKey(text.value_or(fileOrLine))) return *key;
  if (!text) throw std::runtime_error("cannot read the public key " + quoted(fileOrLine));
  throw std::runtime_error(quoted(fileOrLine) + " is not a minisign public key");
}

std::string readAsTheUpdater(const std::string& bytes, ReleaseList& list) {
  try {
    list = readReleaseList(bytes);
  } catch (const base::Error& refused) {
    return refused.message();
  }
  // The updater's own words for text that describes no release.
  if (!list.describesRelease) return "No [FileList] or [Version] section";
  return "";
}

void signList(const fs::path& root, const SecretKey& key, const Console& console) {
  const fs::path list = root / "update.ini", target = root / "update.ini.minisig";
  const std::optional<std::string> bytes = readBytes(list);
  if (!bytes) throw std::runtime_error("cannot read " + quoted(utf8Of(list)));
  // A signature on a list that no updater checking signatures takes would
  // only publish a release that none of them installs.
  ReleaseList read;
  std::string problem = readAsTheUpdater(*bytes, read);
  if (problem.empty()) problem = signedListProblem(read, unixNow());
  if (!problem.empty())
    throw std::runtime_error("refused to sign " + quoted(utf8Of(list)) +
                             ", which an updater that checks signatures refuses: " + problem);
  const std::string signature =
      release::sign(*bytes, key, releaseTrustedComment(unixNow(), "update.ini"));
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out << signature;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + quoted(utf8Of(target)));
  console.out << "wrote " << utf8Of(target) << ": signed with key " << keyIdText(key.keyId) << "\n";
}

int keygen(const Invocation& invocation, const Console& console) {
  const std::string name = invocation.option("--out", "release");
  const std::string publicName = name + ".pub", secretName = name + ".key";
  auto exists = [&](const std::string& file) {
    return console.fail("keygen", quoted(file) +
                                      " exists already; keygen never replaces a key (move it "
                                      "away or choose another --out)");
  };
  std::error_code error;
  for (const std::string& file : {publicName, secretName})
    if (fs::exists(pathOf(file), error)) return exists(file);
  const KeyFiles keys = generateKeyPair();
  // The secret key first: a public key without it would be of no use.
  switch (writeNewFile(pathOf(secretName), keys.secretKey, true, error)) {
    case NewFile::Written:
      break;
    case NewFile::Exists:
      return exists(secretName);
    case NewFile::Failed:
      return console.fail("keygen", "cannot write " + quoted(secretName) + ": " + error.message());
  }
  if (const NewFile written = writeNewFile(pathOf(publicName), keys.publicKey, false, error);
      written != NewFile::Written) {
    const std::string why = error.message();
    fs::remove(pathOf(secretName), error);
    return written == NewFile::Exists
               ? exists(publicName)
               : console.fail("keygen", "cannot write " + quoted(publicName) + ": " + why);
  }

  std::string line = keys.publicKey.substr(keys.publicKey.find('\n') + 1);
  line.pop_back();  // its line break
  console.out << "wrote " << publicName << " (the public key) and " << secretName
              << " (the secret key, key " << keyIdText(parsePublicKey(line)->keyId) << ")\n"
              << "public key: " << line << "\n"
              << "Pin it in the updater's build, for example:\n"
              << "  cmake --preset win32 -DUPDATER_RELEASE_KEY=" << line << "\n";
  console.err << "warning: " << secretName
              << " is not protected by a password: whoever has it can publish releases that "
                 "every client installs. Keep it offline and make a backup.\n";
  return kOk;
}

int sign(const Invocation& invocation, const Console& console) {
  const fs::path root = pathOf(invocation.operands[0]);
  const SecretKey key = readSecretKey(invocation.option("--secret-key"));
  if (std::error_code error; !fs::is_regular_file(root / "update.ini", error))
    return console.fail(
        "sign", quoted(utf8Of(root / "update.ini")) + " does not exist; write it with pack first");
  signList(root, key, console);
  return kOk;
}

}  // namespace release::tool
