// pack: writes DIR/update.ini for the files under DIR, refusing every name
// that the updater would refuse or that update.ini could not carry unchanged;
// with --delta-from and --compress it writes patches and compressed copies
// into DIR/delta/ and lists those that save bytes; with --expires it dates
// the list, with --sign it signs it (and dates it 30 days ahead unless
// --expires says otherwise). pack() runs the steps in order: the options
// (packOptions), the refusals (acceptedRelease), hashing (hashRelease), the
// patches and copies (makeDeltas), writing update.ini (writeList), the
// summary (summarize) and the signature.
#include <algorithm>
#include <fstream>
#include <map>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/text.h"
#include "base/windows_case.h"
#include "delta/make/make_patch.h"
#include "delta/make/worker.h"
#include "ini/profile.h"
#include "release/list_checks.h"
#include "release/release_list.h"
#include "release/tool/deltas.h"
#include "release/tool/files.h"

namespace release::tool {

namespace {

struct Candidate {
  std::string name;    // UTF-8, "\" between its parts: what the messages show
  std::string listed;  // the same in the release's encoding: what update.ini holds
  fs::path path;
  fs::path relative;
  uint64_t size = 0;
  FileDigest digest;
  std::optional<DeltaFile> copy;
  struct Patch {
    DeltaFile file;
    Digest base;
  };
  std::vector<Patch> patches;
};

// Names in update.ini have "\" between their parts.
void appendPart(std::string& name, const std::string& part) {
  if (!name.empty()) name += '\\';
  name += part;
}

// The profile reader's blanks, which it removes around every value.
bool isIniBlank(char c) {
  return (c >= '\t' && c <= '\r') || c == '\x1A' || c == ' ';
}

// Why update.ini would not give this value back as written; empty when it would.
std::string valueProblem(const std::string& value) {
  if (value.empty()) return "is empty";
  for (char c : value)
    if (static_cast<unsigned char>(c) < 0x20) return "holds a control character";
  if (isIniBlank(value.front()) || isIniBlank(value.back()))
    return "begins or ends with a blank, which update.ini drops";
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return "is in matching quotes, which update.ini drops";
  if (value.size() > ini::kMaxValueLength)
    return "is longer than the " + std::to_string(ini::kMaxValueLength) + " bytes update.ini keeps";
  return "";
}

// Why the name cannot be listed; empty when it can, with `listed` filled.
std::string nameProblem(const fs::path& relative, Encoding encoding, std::string& listed) {
  for (const fs::path& part : relative) {
    const std::string text = utf8Of(part);
    if (text.find('\\') != std::string::npos) return "has a \"\\\" inside a file or folder name";
    const std::optional<std::string> encoded = fromUtf8(text, encoding);
    if (!encoded)
      return std::string("has a character that ") + encodingName(encoding) + " cannot hold";
    // In code page 936 the second byte of a character may be that of "\",
    // which the updater would take for a folder separator.
    if (encoded->find('\\') != std::string::npos)
      return std::string("has a character whose ") + encodingName(encoding) +
             " bytes hold a \"\\\", which the updater takes for a folder separator";
    appendPart(listed, *encoded);
  }
  if (std::string problem = valueProblem(listed); !problem.empty()) return problem;
  if (isUnsafeName(listed))
    return "is a name the updater refuses (a drive or stream colon, a device name such as CON, "
           "a part ending in a dot or a blank, or the ending \"" +
           std::string(kDownloadSuffix) + "\" or \"" + std::string(kDeltaSuffix) + "\")";
  return {};
}

bool isRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

// The folder's own form, to compare folders by.
fs::path sameFolder(const fs::path& folder) {
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(folder, error);
  return error ? folder : canonical;
}

// The files under root a release lists: all but update.ini, signatures,
// DIR/delta/ (the patches and compressed copies) and the folders of older
// releases that lie inside root.
std::vector<Candidate> filesUnder(const fs::path& root,
                                  const std::vector<fs::path>& olderReleases) {
  std::vector<fs::path> skipped;
  for (const fs::path& older : olderReleases) skipped.push_back(sameFolder(older));
  std::vector<Candidate> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->is_directory()) {
      const fs::path relative = it->path().lexically_relative(root);
      if ((relative == relative.filename() && base::lowerAscii(utf8Of(relative)) == kDeltaFolder) ||
          std::find(skipped.begin(), skipped.end(), sameFolder(it->path())) != skipped.end())
        it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file()) continue;
    Candidate file;
    file.path = it->path();
    file.relative = it->path().lexically_relative(root);
    const std::string last = utf8Of(file.relative.filename());
    if ((base::equalsIgnoringAsciiCase(last, "update.ini") &&
         file.relative == file.relative.filename()) ||
        base::endsWithIgnoringAsciiCase(last, ".minisig"))
      continue;
    for (const fs::path& part : file.relative) appendPart(file.name, utf8Of(part));
    file.size = it->file_size();
    files.push_back(std::move(file));
  }
  std::sort(files.begin(), files.end(),
            [](const Candidate& a, const Candidate& b) { return a.name < b.name; });
  return files;
}

// A compressed copy saves bytes when it is at least this much smaller (1/10).
constexpr uint64_t kCopySavingDivisor = 10;

// The compressed copy and the patches of one file, as --compress and
// --delta-from ask: the copy where it saves a tenth of the file, a patch from
// each older release's file of the same name that differs (and from no base
// twice) where it is smaller than what the updater would fetch otherwise.
// The copy is compressed on a thread of its own while the patches are made.
void writeDeltas(Candidate& file, const fs::path& root, bool compress,
                 const std::vector<fs::path>& olderReleases, Progress& progress) {
  std::vector<std::pair<fs::path, FileDigest>> bases;
  for (const fs::path& older : olderReleases) {
    const fs::path base = older / file.relative;
    std::error_code error;
    if (!fs::is_regular_file(base, error)) continue;
    const FileDigest digest = hashFile(base, progress);
    const bool seen = std::any_of(bases.begin(), bases.end(), [&](const auto& other) {
      return other.second.sha256 == digest.sha256;
    });
    if (digest.sha256 != file.digest.sha256 && !seen)
      bases.emplace_back(base, digest);
    else
      progress.add(file.digest.size);  // no patch to match
  }
  if (!compress && bases.empty()) return;
  const std::optional<std::string> bytes = readBytes(file.path);
  if (!bytes) throw std::runtime_error("cannot read " + quoted(utf8Of(file.path)));

  std::string copy;
  std::optional<delta::Worker> copier;
  if (compress) copier.emplace([&] { copy = delta::compressFrame(*bytes); });
  std::vector<std::pair<std::string, Digest>> patches;
  for (const auto& [base, digest] : bases) {
    const std::optional<std::string> old = readBytes(base);
    if (!old) throw std::runtime_error("cannot read " + quoted(utf8Of(base)));
    try {
      patches.emplace_back(
          delta::makePatch(*old, *bytes, [&](uint64_t done) { progress.add(done); }),
          digest.sha256);
    } catch (const std::bad_alloc&) {
      throw std::runtime_error("not enough memory to make a patch of " + tool::quoted(file.name) +
                               " (it takes about six times the older file's size)");
    }
  }
  if (copier) copier->join();
  if (compress) progress.add(bytes->size());

  uint64_t cheapest = bytes->size();
  if (compress && copy.size() <= bytes->size() - bytes->size() / kCopySavingDivisor) {
    file.copy = writeDeltaFile(root, copy, ".zst");
    cheapest = copy.size();
  }
  for (const auto& [patch, base] : patches)
    if (patch.size() < cheapest)
      file.patches.push_back({writeDeltaFile(root, patch, ".patch"), base});
}

// The longest life --expires gives a list, in days.
constexpr uint64_t kMaxExpiryDays = 36500;
// The life of a signed list packed without --expires, in days.
constexpr int64_t kSignedExpiryDays = 30;

// The time the list expires, as --expires DAYS asks, or kSignedExpiryDays
// from now for a signed list; nullopt for an unsigned list without the option
// and for "--expires never", which a signed list cannot have.
std::optional<int64_t> expiryOf(const Invocation& invocation, bool signing) {
  const std::string days = invocation.option("--expires");
  if (!invocation.options.count("--expires"))
    return signing ? std::optional<int64_t>(unixNow() + kSignedExpiryDays * 86400) : std::nullopt;
  if (days == "never") {
    if (signing)
      throw UsageError{
          "--expires never cannot go with --sign: an updater that checks signatures "
          "refuses a signed list without Expires, so no client could install it"};
    return std::nullopt;
  }
  const std::optional<uint64_t> count = parseSize(days);
  if (!count || *count == 0 || *count > kMaxExpiryDays)
    throw UsageError{"--expires takes a number of days from 1 to " +
                     std::to_string(kMaxExpiryDays) + " or never, not \"" + days + "\""};
  return unixNow() + static_cast<int64_t>(*count) * 86400;
}

// What the command line asks of pack, checked before anything is read.
struct PackOptions {
  std::string folder;  // DIR as given, as messages show it
  fs::path root;
  Encoding encoding = Encoding::Gbk;
  std::string version;  // as given, in UTF-8
  bool since = false;
  fs::path oldRoot;  // --since OLD_DIR
  bool compress = false;
  std::vector<fs::path> olderReleases;  // --delta-from, in order
  std::optional<int64_t> expires;
  std::optional<SecretKey> key;  // --sign
};

// The options, with every folder they name checked and the signing key read;
// nullopt once it has said which folder is none. Raises UsageError for an
// option it cannot use, std::runtime_error for a key it cannot read.
std::optional<PackOptions> packOptions(const Invocation& invocation, const Console& console) {
  PackOptions options;
  options.encoding = encodingOf(invocation);
  options.folder = invocation.operands[0];
  options.root = pathOf(options.folder);
  options.version = invocation.option("--version");
  options.since = invocation.options.count("--since") > 0;
  options.oldRoot = pathOf(invocation.option("--since"));
  options.compress = invocation.options.count("--compress") > 0;
  for (const std::string& folder : invocation.values("--delta-from"))
    options.olderReleases.push_back(pathOf(folder));
  options.expires = expiryOf(invocation, invocation.options.count("--sign") > 0);
  std::error_code error;
  auto none = [&](const std::string& folder) {
    console.fail("pack", quoted(folder) + " is not a folder");
    return std::nullopt;
  };
  if (!fs::is_directory(options.root, error)) return none(options.folder);
  // The key is read before anything is written, so that a key that fails
  // leaves no unsigned list behind.
  if (invocation.options.count("--sign")) options.key = readSecretKey(invocation.option("--sign"));
  if (options.since && !fs::is_directory(options.oldRoot, error))
    return none(invocation.option("--since"));
  for (const std::string& folder : invocation.values("--delta-from"))
    if (!fs::is_directory(pathOf(folder), error)) return none(folder);
  return options;
}

// A release as pack makes it up: its version and its files as update.ini
// lists them.
struct Release {
  std::string version;           // in the release's encoding
  std::vector<Candidate> files;  // by name; after hashRelease, those it lists
};

// The release's version and the files under DIR, each with its listed name;
// nullopt once it has said why it refuses them: a folder without files, or,
// a line each, every version or name that the updater would refuse or that
// update.ini could not carry unchanged.
std::optional<Release> acceptedRelease(const PackOptions& options, const Console& console) {
  std::vector<std::string> refusals;
  const std::string& version = options.version;
  std::optional<std::string> listedVersion = fromUtf8(version, options.encoding);
  if (!listedVersion) {
    refusals.push_back("the version \"" + version + "\" has a character that " +
                       encodingName(options.encoding) + " cannot hold");
  } else if (std::string problem = valueProblem(*listedVersion); !problem.empty()) {
    refusals.push_back("the version \"" + version + "\" " + problem);
  } else if (options.key && !isVersion(version)) {
    refusals.push_back("the version \"" + version +
                       "\" is not dotted numbers (like 6.3.0.12), which an updater that checks "
                       "signatures refuses");
  }

  std::vector<fs::path> skipped = options.olderReleases;
  if (options.since) skipped.push_back(options.oldRoot);
  std::vector<Candidate> files = filesUnder(options.root, skipped);
  if (files.empty()) {
    console.fail("pack", quoted(options.folder) + " holds no files to release");
    return std::nullopt;
  }
  std::map<std::string, std::string> byFoldedName;  // Windows names ignore case
  for (Candidate& file : files) {
    if (std::string problem = nameProblem(file.relative, options.encoding, file.listed);
        !problem.empty()) {
      refusals.push_back("\"" + file.name + "\" " + problem);
      continue;
    }
    auto [other, fresh] = byFoldedName.emplace(base::foldedAsWindows(file.name), file.name);
    if (!fresh)
      refusals.push_back("\"" + file.name + "\" and \"" + other->second +
                         "\" are one file for the Windows updater");
  }
  if (!refusals.empty()) {
    for (const std::string& refusal : refusals) console.fail("pack", "refused: " + refusal);
    return std::nullopt;
  }
  return Release{std::move(*listedVersion), std::move(files)};
}

// Hashes every file once (with --since also the old file of the same name
// where it has the same size) and keeps in the release only the files that
// --since does not leave out: those without an old file of the same bytes.
// Returns how many it left out.
size_t hashRelease(const PackOptions& options, Release& release, const Console& console) {
  std::error_code error;
  uint64_t work = 0;
  for (const Candidate& file : release.files) {
    work += file.size;
    if (options.since && isRegularFile(options.oldRoot / file.relative) &&
        fs::file_size(options.oldRoot / file.relative, error) == file.size)
      work += file.size;
  }
  std::vector<Candidate> listed;
  size_t unchanged = 0;
  Progress progress(console.err, work);
  for (Candidate& file : release.files) {
    file.digest = hashFile(file.path, progress);
    const fs::path old = options.oldRoot / file.relative;
    if (options.since && isRegularFile(old) && fs::file_size(old, error) == file.digest.size &&
        hashFile(old, progress).sha256 == file.digest.sha256) {
      ++unchanged;
      continue;
    }
    listed.push_back(std::move(file));
  }
  release.files = std::move(listed);
  return unchanged;
}

// With --compress and --delta-from, writes the compressed copies and the
// patches of the release's files into DIR/delta/ and keeps on each file
// those that save bytes (writeDeltas). The progress counts the matching of
// each patch, the compression of each copy and the hashing of each older file.
void makeDeltas(const PackOptions& options, Release& release, const Console& console) {
  std::error_code error;
  uint64_t work = 0;
  for (const Candidate& file : release.files) {
    if (options.compress) work += file.digest.size;
    for (const fs::path& older : options.olderReleases)
      if (isRegularFile(older / file.relative))
        work += file.digest.size + fs::file_size(older / file.relative, error);
  }
  if (work == 0) return;
  Progress progress(console.err, work, "patches and copies");
  for (Candidate& file : release.files)
    writeDeltas(file, options.root, options.compress, options.olderReleases, progress);
}

// Writes DIR/update.ini: the version, each file with its size, hash,
// compressed copy and patches, and the time it expires where it has one;
// false once it has said that the file cannot be written.
bool writeList(const PackOptions& options, const Release& release, const Console& console) {
  ReleaseList list;
  list.newVersion = release.version;
  if (options.expires) list.expires = utcTimeText(*options.expires);
  for (const Candidate& file : release.files) {
    ListedFile& entry = list.files.emplace_back();
    entry.name = file.listed;
    entry.expected = {file.digest.size, file.digest.sha256};
    if (file.copy)
      entry.copy = Delta{file.copy->name, {file.copy->digest.size, file.copy->digest.sha256}, {}};
    for (const Candidate::Patch& patch : file.patches)
      entry.patches.push_back(
          {patch.file.name, {patch.file.digest.size, patch.file.digest.sha256}, patch.base});
  }
  const fs::path target = options.root / "update.ini";
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out << writeReleaseList(list);
  out.close();
  if (out) return true;
  console.fail("pack", "cannot write \"" + utf8Of(target) + "\"");
  return false;
}

// Says what the list holds: its files and their bytes, how many --since left
// out, the patches and copies listed and their bytes, and when it expires.
void summarize(const PackOptions& options, const Release& release, size_t unchanged,
               const Console& console) {
  const std::vector<Candidate>& listed = release.files;
  uint64_t listedBytes = 0;
  size_t patchCount = 0, copyCount = 0;
  uint64_t patchBytes = 0, copyBytes = 0;
  for (const Candidate& file : listed) {
    listedBytes += file.digest.size;
    if (file.copy) {
      ++copyCount;
      copyBytes += file.copy->digest.size;
    }
    for (const auto& patch : file.patches) {
      ++patchCount;
      patchBytes += patch.file.digest.size;
    }
  }
  console.out << "wrote " << utf8Of(options.root / "update.ini") << ": version " << options.version
              << ", " << listed.size() << (listed.size() == 1 ? " file, " : " files, ")
              << byteText(listedBytes);
  if (options.since)
    console.out << "; " << unchanged << " unchanged since " << utf8Of(options.oldRoot)
                << " left out";
  console.out << "\n";
  if (!options.olderReleases.empty())
    console.out << patchCount << (patchCount == 1 ? " patch" : " patches") << " listed ("
                << byteText(patchBytes) << ")\n";
  if (options.compress)
    console.out << copyCount << (copyCount == 1 ? " compressed copy" : " compressed copies")
                << " listed (" << byteText(copyBytes) << ")\n";
  if (options.since && listed.empty())
    console.err << "note: no file differs from " << utf8Of(options.oldRoot)
                << ": the release lists none\n";
  if (options.expires)
    console.out << "the list expires on " << utcTimeText(*options.expires) << "\n";
}

}  // namespace

int pack(const Invocation& invocation, const Console& console) {
  const std::optional<PackOptions> options = packOptions(invocation, console);
  if (!options) return kFailed;
  std::optional<Release> release = acceptedRelease(*options, console);
  if (!release) return kFailed;
  const size_t unchanged = hashRelease(*options, *release, console);
  makeDeltas(*options, *release, console);
  if (!writeList(*options, *release, console)) return kFailed;
  summarize(*options, *release, unchanged, console);
  // A signature of the former list does not fit the new one.
  if (options->key)
    signList(options->root, *options->key, console);
  else if (isRegularFile(options->root / "update.ini.minisig"))
    console.err << "note: update.ini.minisig belongs to the former update.ini; sign again\n";
  return kOk;
}

}  // namespace release::tool
