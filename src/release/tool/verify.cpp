// verify: checks every file DIR/update.ini lists against its size and hash
// and, given a public key, the signature of update.ini.
#include <vector>

#include "release/release_list.h"
#include "release/tool/files.h"

namespace release::tool {

namespace {

// The listed name as a path below root; empty when it is not text of the encoding.
fs::path pathBelow(const fs::path& root, const std::string& display) {
  std::string relative = display;
  for (char& c : relative)
    if (c == '\\') c = '/';
  return root / pathOf(relative);
}

}  // namespace

int verify(const Invocation& invocation, const Console& console) {
  const Encoding encoding = encodingOf(invocation);
  const fs::path root = pathOf(invocation.operands[0]);
  const std::optional<std::string> bytes = readBytes(root / "update.ini");
  if (!bytes) return console.fail("verify", "cannot read " + quoted(utf8Of(root / "update.ini")));
  // The signature first: a list that fails it says nothing about the files.
  bool signatureHolds = true;
  if (invocation.options.count("--public-key")) {
    const PublicKey key = readPublicKey(invocation.option("--public-key"));
    const Verification verification =
        release::verify(*bytes, readBytes(root / "update.ini.minisig").value_or(""), key);
    signatureHolds = verification.verdict == Verdict::Ok;
    if (signatureHolds)
      console.out << "ok   update.ini is signed by key " << keyIdText(key.keyId)
                  << " (trusted comment: " << verification.trustedComment << ")\n";
    else
      console.out << "FAIL " << listSignatureProblem(verification.verdict) << "\n";
  }
  const ReleaseList list = readReleaseList(*bytes);

  struct Entry {
    std::string name;
    fs::path path;
    const Expected* expected;
    std::string problem;  // empty while it matches
  };
  std::vector<Entry> entries;
  uint64_t work = 0;
  std::error_code error;
  for (const ListedFile& file : list.files) {
    Entry entry{file.name, {}, &file.expected, {}};
    if (std::optional<std::string> name = toUtf8(file.name, encoding)) {
      entry.name = *name;
      entry.path = pathBelow(root, *name);
    } else {
      entry.problem = std::string("(not a name in ") + encodingName(encoding) + ")";
    }
    if (entry.problem.empty() && !file.expected.any()) entry.problem = "(no Size or Hash listed)";
    if (entry.problem.empty() && !fs::is_regular_file(entry.path, error))
      entry.problem = "(missing)";
    if (entry.problem.empty()) {
      const uint64_t size = fs::file_size(entry.path, error);
      if (file.expected.size && size != *file.expected.size)
        entry.problem = "(" + std::to_string(size) + " bytes, the list says " +
                        std::to_string(*file.expected.size) + ")";
      else if (file.expected.sha256)
        work += size;
    }
    entries.push_back(std::move(entry));
  }
  {
    Progress progress(console.err, work);
    for (Entry& entry : entries) {
      if (!entry.problem.empty() || !entry.expected->sha256) continue;
      if (hashFile(entry.path, progress).sha256 != *entry.expected->sha256)
        entry.problem = "(SHA-256 differs)";
    }
  }

  size_t matching = 0;
  for (const Entry& entry : entries) {
    if (entry.problem.empty()) ++matching;
    console.out << (entry.problem.empty() ? "ok   " : "FAIL ") << entry.name
                << (entry.problem.empty() ? "" : " " + entry.problem) << "\n";
  }
  console.out << matching << " of " << entries.size() << " listed files match";
  if (!list.newVersion.empty())
    console.out << " (version " << toUtf8(list.newVersion, encoding).value_or(list.newVersion)
                << ")";
  console.out << "\n";
  return matching == entries.size() && signatureHolds ? kOk : kFailed;
}

}  // namespace release::tool
