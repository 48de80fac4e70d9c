// verify: checks every file DIR/update.ini lists against its size and hash,
// every compressed copy and patch against theirs (each copy also by what it
// decompresses to, each patch by what it makes from its base where
// --delta-from gives the base) and, given a public key, update.ini as an
// updater built with that key takes it.
#include <algorithm>
#include <vector>

#include "base/error.h"
#include "release/list_checks.h"
#include "release/release_list.h"
#include "release/tool/deltas.h"
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

struct DeltaCounts {
  size_t good = 0;
  size_t total = 0;
};

// Why the file cannot be the listed one before its bytes are read: it is
// missing, or it is not of the size listed (where one is); empty otherwise.
std::string sizeProblem(const fs::path& path, const std::optional<uint64_t>& size) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return "(missing)";
  if (const uint64_t actual = fs::file_size(path, error); size && actual != *size) {
    std::string problem = "(";
    problem += std::to_string(actual);
    problem += " bytes, the list says ";
    problem += std::to_string(*size);
    return problem + ")";
  }
  return "";
}

// Why the file's bytes are not the listed ones; empty when they have the SHA-256.
std::string hashProblem(const fs::path& path, const Digest& sha256, Progress& progress) {
  return hashFile(path, progress).sha256 == sha256 ? "" : "(SHA-256 differs)";
}

// Why the file does not have the size and SHA-256; empty when it has them.
std::string digestProblem(const fs::path& path, uint64_t size, const Digest& sha256,
                          Progress& progress) {
  const std::string problem = sizeProblem(path, size);
  return problem.empty() ? hashProblem(path, sha256, progress) : problem;
}

// Why what a patch made or a copy held is not the listed file; empty when it is.
std::string resultProblem(const FileDigest& result, const Expected& expected) {
  if (result.size != expected.size)
    return "(makes " + std::to_string(result.size) + " bytes, the list says " +
           std::to_string(*expected.size) + ")";
  return result.sha256 == expected.sha256 ? "" : "(makes a file whose SHA-256 differs)";
}

// Checks the compressed copy and the patches of every listed file and says
// how each fared.
DeltaCounts verifyDeltas(const ReleaseList& list, const fs::path& root, Encoding encoding,
                         const Invocation& invocation, const Console& console) {
  struct Check {
    std::string line;  // what it is: "client.exe: patch 1 delta/..."
    fs::path path;     // the patch or copy
    const ListedFile* file;
    const Delta* delta;  // the patch or the copy
    fs::path base;       // the patch's base, where --delta-from has it
    std::string problem;
  };
  std::vector<Check> checks;
  uint64_t work = 0;
  std::error_code error;
  for (const ListedFile& file : list.files) {
    const std::optional<std::string> name = toUtf8(file.name, encoding);
    if (!name) continue;  // reported with the files
    auto add = [&](const std::string& what, const Delta& delta) {
      Check check{*name + ": " + what + " " + delta.name, {}, &file, &delta, {}, {}};
      if (const std::optional<std::string> path = toUtf8(delta.name, encoding))
        check.path = pathBelow(root, *path);
      else
        check.problem = std::string("(not a name in ") + encodingName(encoding) + ")";
      work += file.expected.size.value_or(0) + delta.expected.size.value_or(0);
      checks.push_back(std::move(check));
    };
    if (file.copy) add("compressed copy", *file.copy);
    for (size_t i = 0; i < file.patches.size(); ++i)
      add("patch " + std::to_string(i + 1), file.patches[i]);
  }
  if (checks.empty()) return {};
  const std::vector<std::string> olderReleases = invocation.values("--delta-from");
  // Each older release's file that a patch's base may be, hashed once.
  std::vector<std::pair<fs::path, Digest>> bases;
  for (const Check& check : checks) {
    if (!check.delta->base) continue;
    for (const std::string& older : olderReleases) {
      const fs::path base = pathBelow(pathOf(older), *toUtf8(check.file->name, encoding));
      if (fs::is_regular_file(base, error)) work += fs::file_size(base, error);
    }
  }
  Progress progress(console.err, work, "checking patches and copies");
  for (Check& check : checks) {
    if (!check.problem.empty()) continue;
    check.problem = digestProblem(check.path, check.delta->expected.size.value_or(0),
                                  check.delta->expected.sha256.value_or(Digest{}), progress);
    if (!check.problem.empty()) continue;
    try {
      if (!check.delta->base) {
        check.problem = resultProblem(digestOfCopy(check.path, *check.file->expected.size),
                                      check.file->expected);
        progress.add(*check.file->expected.size);
        continue;
      }
      for (const std::string& older : olderReleases) {
        const fs::path base = pathBelow(pathOf(older), *toUtf8(check.file->name, encoding));
        if (!fs::is_regular_file(base, error)) continue;
        auto known = std::find_if(bases.begin(), bases.end(),
                                  [&](const auto& b) { return b.first == base; });
        if (known == bases.end())
          known = bases.insert(bases.end(), {base, hashFile(base, progress).sha256});
        if (known->second != *check.delta->base) continue;
        check.base = base;
        check.problem = resultProblem(digestOfPatched(base, check.path), check.file->expected);
        progress.add(*check.file->expected.size);
        break;
      }
    } catch (const base::Error& damaged) {
      check.problem = "(" + damaged.message() + ")";
    }
  }
  DeltaCounts counts;
  for (const Check& check : checks) {
    ++counts.total;
    if (check.problem.empty()) ++counts.good;
    console.out << lineMark(check.problem.empty()) << check.line;
    if (!check.problem.empty())
      console.out << " " << check.problem;
    else if (!check.base.empty())
      console.out << " (applied to " << utf8Of(check.base) << ")";
    else if (check.delta->base && !olderReleases.empty())
      console.out << " (not applied: no file in the --delta-from folders is its base)";
    console.out << "\n";
  }
  return counts;
}

// A publisher's clock this far ahead of ours is taken for the same time.
constexpr int64_t kClockSlack = 3600;
// Less than this before the list expires, verify says to publish it again.
constexpr int64_t kRenewBefore = 7 * 86400;

// What an updater built with the key requires of the list it read, whatever
// it has installed (signedListProblem), and the signing time it remembers.
void checkSignedList(const ReleaseList& list, const Verification& signature, const Console& console,
                     const ListReport& report) {
  const int64_t now = unixNow();
  if (const std::string problem = signedListProblem(list, now); !problem.empty()) {
    report(false, problem);
  } else {
    const int64_t left = *parseUtcTime(list.expires) - now;
    const int64_t days = (left + 43200) / 86400;  // to the nearest day
    report(true, "update.ini expires on " + list.expires + ", in " + std::to_string(days) +
                     (days == 1 ? " day" : " days"));
    if (left < kRenewBefore)
      console.err << "note: publish the release again before " << list.expires
                  << " (pack --sign dates it anew); after that every updater that checks "
                     "signatures refuses this list\n";
  }
  if (signature.verdict != Verdict::Ok) return;
  // The updater remembers the signing time of the list it installs and
  // refuses every list signed before it (and one that gives no time).
  const std::optional<int64_t> signedAt = trustedTimestamp(signature.trustedComment);
  if (!signedAt)
    report(false,
           "The trusted comment has no timestamp: an updater that has installed a signed list "
           "refuses it");
  else if (*signedAt > now + kClockSlack)
    report(false, "The trusted comment's timestamp is still to come (" + utcTimeText(*signedAt) +
                      "): an updater that installs the list refuses every list signed before then");
}

}  // namespace

const char kNoSignatureChecked[] =
    "no signature was checked (-p PUBKEY checks update.ini as an updater built with that key "
    "does)\n";

bool checksSignature(const Invocation& invocation) {
  return invocation.options.count("--public-key") > 0;
}

bool checkListAsTheUpdater(const std::string& bytes, const std::string& signatureBytes,
                           const Invocation& invocation, const Console& console,
                           const ListReport& report, ReleaseList& list) {
  // With a key, the list is checked as an updater built with that key checks
  // it, in its order and with its texts: the signature over the bytes, then
  // what the bytes say.
  std::optional<Verification> signature;
  if (checksSignature(invocation)) {
    const PublicKey key = readPublicKey(invocation.option("--public-key"));
    signature = release::verify(bytes, signatureBytes, key);
    if (signature->verdict == Verdict::Ok)
      report(true, "update.ini is signed by key " + keyIdText(key.keyId) +
                       " (trusted comment: " + signature->trustedComment + ")");
    else
      report(false, listSignatureProblem(signature->verdict));
  }
  if (const std::string problem = readAsTheUpdater(bytes, list); !problem.empty()) {
    report(false, problem);
    return false;
  }
  if (signature) checkSignedList(list, *signature, console, report);
  return true;
}

int verify(const Invocation& invocation, const Console& console) {
  const Encoding encoding = encodingOf(invocation);
  const fs::path root = pathOf(invocation.operands[0]);
  const std::optional<std::string> bytes = readBytes(root / "update.ini");
  if (!bytes) return console.fail("verify", "cannot read " + quoted(utf8Of(root / "update.ini")));
  bool listHolds = true;
  auto report = [&](bool holds, const std::string& what) {
    console.out << lineMark(holds) << what << "\n";
    listHolds = listHolds && holds;
  };
  // The files are checked whatever the signature, for a whole report.
  ReleaseList list;
  const std::string signature = checksSignature(invocation)
                                    ? readBytes(root / "update.ini.minisig").value_or("")
                                    : std::string();
  if (!checkListAsTheUpdater(*bytes, signature, invocation, console, report, list)) return kFailed;
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
    if (entry.problem.empty()) entry.problem = sizeProblem(entry.path, file.expected.size);
    if (entry.problem.empty() && file.expected.sha256) work += fs::file_size(entry.path, error);
    entries.push_back(std::move(entry));
  }
  {
    // Every file's size is checked before any is hashed, so that the
    // progress counts only the bytes that are hashed.
    Progress progress(console.err, work);
    for (Entry& entry : entries) {
      if (!entry.problem.empty() || !entry.expected->sha256) continue;
      entry.problem = hashProblem(entry.path, *entry.expected->sha256, progress);
    }
  }

  size_t matching = 0;
  for (const Entry& entry : entries) {
    if (entry.problem.empty()) ++matching;
    console.out << lineMark(entry.problem.empty()) << entry.name
                << (entry.problem.empty() ? "" : " " + entry.problem) << "\n";
  }
  const DeltaCounts deltas = verifyDeltas(list, root, encoding, invocation, console);
  console.out << matching << " of " << entries.size() << " listed files match";
  if (!list.newVersion.empty())
    console.out << " (version " << toUtf8(list.newVersion, encoding).value_or(list.newVersion)
                << ")";
  console.out << "\n";
  if (deltas.total > 0)
    console.out << deltas.good << " of " << deltas.total
                << " patches and compressed copies check out\n";
  if (!checksSignature(invocation)) console.out << kNoSignatureChecked;
  return matching == entries.size() && deltas.good == deltas.total && listHolds ? kOk : kFailed;
}

}  // namespace release::tool
