// pack: writes DIR/update.ini for the files under DIR, refusing every name
// that the updater would refuse or that update.ini could not carry unchanged;
// with --delta-from and --compress it writes patches and compressed copies
// into DIR/delta/ and lists those that save bytes; with --expires it dates
// the list, with --sign it signs it (and dates it 30 days ahead unless
// --expires says otherwise).
#include <algorithm>
#include <fstream>
#include <map>
#include <new>
#include <sstream>
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

}  // namespace

int pack(const Invocation& invocation, const Console& console) {
  const Encoding encoding = encodingOf(invocation);
  const fs::path root = pathOf(invocation.operands[0]);
  const bool since = invocation.options.count("--since") > 0;
  const fs::path oldRoot = pathOf(invocation.option("--since"));
  const bool compress = invocation.options.count("--compress") > 0;
  std::vector<fs::path> olderReleases;
  for (const std::string& folder : invocation.values("--delta-from"))
    olderReleases.push_back(pathOf(folder));
  const std::optional<int64_t> expires =
      expiryOf(invocation, invocation.options.count("--sign") > 0);
  std::error_code error;
  if (!fs::is_directory(root, error))
    return console.fail("pack", quoted(invocation.operands[0]) + " is not a folder");
  // The key is read before anything is written, so that a key that fails
  // leaves no unsigned list behind.
  std::optional<SecretKey> key;
  if (invocation.options.count("--sign")) key = readSecretKey(invocation.option("--sign"));
  if (since && !fs::is_directory(oldRoot, error))
    return console.fail("pack", quoted(invocation.option("--since")) + " is not a folder");
  for (const std::string& folder : invocation.values("--delta-from"))
    if (!fs::is_directory(pathOf(folder), error))
      return console.fail("pack", quoted(folder) + " is not a folder");

  std::vector<std::string> refusals;
  const std::string version = invocation.option("--version");
  std::optional<std::string> listedVersion = fromUtf8(version, encoding);
  if (!listedVersion) {
    refusals.push_back("the version \"" + version + "\" has a character that " +
                       encodingName(encoding) + " cannot hold");
  } else if (std::string problem = valueProblem(*listedVersion); !problem.empty()) {
    refusals.push_back("the version \"" + version + "\" " + problem);
  } else if (key && !isVersion(version)) {
    refusals.push_back("the version \"" + version +
                       "\" is not dotted numbers (like 6.3.0.12), which an updater that checks "
                       "signatures refuses");
  }

  std::vector<fs::path> skipped = olderReleases;
  if (since) skipped.push_back(oldRoot);
  std::vector<Candidate> files = filesUnder(root, skipped);
  if (files.empty())
    return console.fail("pack", quoted(invocation.operands[0]) + " holds no files to release");
  std::map<std::string, std::string> byFoldedName;  // Windows names ignore case
  for (Candidate& file : files) {
    if (std::string problem = nameProblem(file.relative, encoding, file.listed); !problem.empty()) {
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
    return kFailed;
  }

  // Hash every file once; with --since also the old file of the same size.
  uint64_t work = 0;
  for (const Candidate& file : files) {
    work += file.size;
    if (since && isRegularFile(oldRoot / file.relative) &&
        fs::file_size(oldRoot / file.relative, error) == file.size)
      work += file.size;
  }
  std::vector<Candidate*> listed;
  size_t unchanged = 0;
  uint64_t listedBytes = 0;
  {
    Progress progress(console.err, work);
    for (Candidate& file : files) {
      file.digest = hashFile(file.path, progress);
      const fs::path old = oldRoot / file.relative;
      if (since && isRegularFile(old) && fs::file_size(old, error) == file.digest.size &&
          hashFile(old, progress).sha256 == file.digest.sha256) {
        ++unchanged;
        continue;
      }
      listed.push_back(&file);
      listedBytes += file.digest.size;
    }
  }

  // Patches and compressed copies: the matching of each patch, the
  // compression of each copy and the hashing of each older file count.
  uint64_t deltaWork = 0;
  for (const Candidate* file : listed) {
    if (compress) deltaWork += file->digest.size;
    for (const fs::path& older : olderReleases)
      if (isRegularFile(older / file->relative))
        deltaWork += file->digest.size + fs::file_size(older / file->relative, error);
  }
  size_t patchCount = 0, copyCount = 0;
  uint64_t patchBytes = 0, copyBytes = 0;
  if (deltaWork > 0) {
    Progress progress(console.err, deltaWork, "patches and copies");
    for (Candidate* file : listed) {
      writeDeltas(*file, root, compress, olderReleases, progress);
      if (file->copy) {
        ++copyCount;
        copyBytes += file->copy->digest.size;
      }
      for (const auto& patch : file->patches) {
        ++patchCount;
        patchBytes += patch.file.digest.size;
      }
    }
  }

  std::ostringstream ini;
  ini << "[Version]\r\nNewVersion=" << *listedVersion << "\r\n[FileList]\r\nCount=" << listed.size()
      << "\r\n";
  for (size_t i = 0; i < listed.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    ini << "File" << n << "=" << listed[i]->listed << "\r\nSize" << n << "="
        << listed[i]->digest.size << "\r\nHash" << n << "=" << hashText(listed[i]->digest.sha256)
        << "\r\n";
    if (const std::optional<DeltaFile>& copy = listed[i]->copy) {
      ini << "Copy" << n << "=" << copy->name << "\r\nCopySize" << n << "=" << copy->digest.size
          << "\r\nCopyHash" << n << "=" << hashText(copy->digest.sha256) << "\r\n";
    }
    for (size_t p = 0; p < listed[i]->patches.size(); ++p) {
      const auto& patch = listed[i]->patches[p];
      const std::string m = n + "." + std::to_string(p + 1);
      ini << "Patch" << m << "=" << patch.file.name << "\r\nPatchBase" << m << "="
          << hashText(patch.base) << "\r\nPatchSize" << m << "=" << patch.file.digest.size
          << "\r\nPatchHash" << m << "=" << hashText(patch.file.digest.sha256) << "\r\n";
    }
  }
  if (expires) ini << "[Release]\r\nExpires=" << utcTimeText(*expires) << "\r\n";
  const fs::path target = root / "update.ini";
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out << ini.str();
  out.close();
  if (!out) return console.fail("pack", "cannot write \"" + utf8Of(target) + "\"");

  console.out << "wrote " << utf8Of(target) << ": version " << version << ", " << listed.size()
              << (listed.size() == 1 ? " file, " : " files, ") << byteText(listedBytes);
  if (since)
    console.out << "; " << unchanged << " unchanged since " << utf8Of(oldRoot) << " left out";
  console.out << "\n";
  if (!olderReleases.empty())
    console.out << patchCount << (patchCount == 1 ? " patch" : " patches") << " listed ("
                << byteText(patchBytes) << ")\n";
  if (compress)
    console.out << copyCount << (copyCount == 1 ? " compressed copy" : " compressed copies")
                << " listed (" << byteText(copyBytes) << ")\n";
  if (since && listed.empty())
    console.err << "note: no file differs from " << utf8Of(oldRoot) << ": the release lists none\n";
  if (expires) console.out << "the list expires on " << utcTimeText(*expires) << "\n";
  if (key)
    signList(root, *key, console);
  else if (isRegularFile(root / "update.ini.minisig"))
    console.err << "note: update.ini.minisig belongs to the former update.ini; sign again\n";
  return kOk;
}

}  // namespace release::tool
