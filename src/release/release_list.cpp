#include "release/release_list.h"

#include <algorithm>
#include <limits>

#include "base/error.h"
#include "base/text.h"
#include "ini/profile.h"

namespace release {

namespace {

constexpr std::string_view kHashPrefix = "sha256:";

using PairEntries = std::vector<ini::Profile::PairEntry>;

// The value of the entry with those numbers, or null; entries are in number order.
const std::string* entryOf(const PairEntries& entries, int32_t number, int32_t sub) {
  auto at =
      std::lower_bound(entries.begin(), entries.end(), std::make_pair(number, sub),
                       [](const ini::Profile::PairEntry& entry, std::pair<int32_t, int32_t> n) {
                         return std::make_pair(entry.number, entry.sub) < n;
                       });
  return at != entries.end() && at->number == number && at->sub == sub ? &at->value : nullptr;
}

template <typename T>
T required(const std::string* text, std::optional<T> (*parse)(std::string_view),
           const std::string& key) {
  std::optional<T> value;
  if (!text || !(value = parse(*text))) throw base::Error("Invalid " + key + " in update.ini");
  return *value;
}

// The value of the entry with that number, or null; entries are in number order.
const std::string* entryOf(const std::vector<std::pair<int32_t, std::string>>& entries,
                           int32_t number) {
  auto at = std::lower_bound(entries.begin(), entries.end(), number,
                             [](const auto& entry, int32_t n) { return entry.first < n; });
  return at != entries.end() && at->first == number ? &at->second : nullptr;
}

// Whether Windows opens a device for a path segment of this name, with or
// without an extension: CON, NUL, AUX, PRN, COM1-COM9, LPT1-LPT9, CONIN$,
// CONOUT$, in any case.
bool isDeviceName(std::string_view segment) {
  std::string_view stem = base::trimRight(segment.substr(0, segment.find('.')));
  for (std::string_view device : {"CON", "NUL", "AUX", "PRN", "CONIN$", "CONOUT$"})
    if (base::equalsIgnoringAsciiCase(stem, device)) return true;
  return stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9' &&
         (base::equalsIgnoringAsciiCase(stem.substr(0, 3), "COM") ||
          base::equalsIgnoringAsciiCase(stem.substr(0, 3), "LPT"));
}

}  // namespace

bool isUnsafeName(std::string_view name) {
  if (name.empty()) return false;
  if (name.front() == '\\' || name.front() == '/' || name.find(':') != std::string_view::npos)
    return true;
  if (base::endsWithIgnoringAsciiCase(name, kDownloadSuffix) ||
      base::endsWithIgnoringAsciiCase(name, kDeltaSuffix))
    return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view segment = name.substr(start, end - start);
    // Windows drops a segment's trailing dots and blanks ("x.dll." opens
    // x.dll), so such a name would reach another file than it says.
    if (segment == ".." || isDeviceName(segment) ||
        (!segment.empty() && (segment.back() == '.' || segment.back() == ' ')))
      return true;
    start = end + 1;
  }
  return false;
}

std::optional<uint64_t> parseSize(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t size = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (size > (uint64_t{std::numeric_limits<int64_t>::max()} - (c - '0')) / 10)
      return std::nullopt;
    size = size * 10 + static_cast<uint64_t>(c - '0');
  }
  return size;
}

std::optional<Digest> parseHash(std::string_view text) {
  Digest digest{};
  if (text.size() != kHashPrefix.size() + 2 * digest.size()) return std::nullopt;
  for (size_t i = 0; i < kHashPrefix.size(); ++i)
    if (base::lowerAscii(text[i]) != kHashPrefix[i]) return std::nullopt;
  text.remove_prefix(kHashPrefix.size());
  for (size_t i = 0; i < digest.size(); ++i) {
    const int high = base::hexDigitValue(text[2 * i]);
    const int low = base::hexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return digest;
}

std::string hashText(const Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(kHashPrefix);
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

ReleaseList readReleaseList(const std::string& bytes) {
  const ini::Profile profile(bytes);
  const int32_t count = ini::profileInteger(profile.readString("FileList", "Count", ""));
  auto entries = [&](std::string_view prefix) {
    return profile.numberedEntries("FileList", prefix, count);
  };
  auto pairEntries = [&](std::string_view prefix) {
    return profile.numberedPairEntries("FileList", prefix, count);
  };
  const auto sizes = entries("Size");
  const auto hashes = entries("Hash");
  const auto copies = entries("Copy");
  const auto copySizes = entries("CopySize");
  const auto copyHashes = entries("CopyHash");
  const auto patches = pairEntries("Patch");
  const auto patchBases = pairEntries("PatchBase");
  const auto patchSizes = pairEntries("PatchSize");
  const auto patchHashes = pairEntries("PatchHash");
  auto names = entries("File");
  for (const auto& [number, name] : names) {
    if (isUnsafeName(name)) throw base::Error("Unsafe file name \"" + name + "\"");
  }
  ReleaseList list;
  for (auto& [number, name] : names) {
    ListedFile file;
    file.name = std::move(name);
    if (const std::string* size = entryOf(sizes, number)) {
      if (!(file.expected.size = parseSize(*size)))
        throw base::Error("Invalid Size" + std::to_string(number) + " in update.ini");
    }
    if (const std::string* hash = entryOf(hashes, number)) {
      if (!(file.expected.sha256 = parseHash(*hash)))
        throw base::Error("Invalid Hash" + std::to_string(number) + " in update.ini");
    }
    const std::string n = std::to_string(number);
    // A copy's or patch's name, which the updater fetches like a listed file.
    auto checkedName = [&](const std::string& text, const std::string& key) {
      if (isUnsafeName(text)) throw base::Error("Unsafe file name \"" + text + "\"");
      if (!file.expected.size || !file.expected.sha256)
        throw base::Error(key + " in update.ini without Size" + n + " and Hash" + n);
      return text;
    };
    if (const std::string* copy = entryOf(copies, number)) {
      file.copy = Delta{checkedName(*copy, "Copy" + n),
                        {required(entryOf(copySizes, number), parseSize, "CopySize" + n),
                         required(entryOf(copyHashes, number), parseHash, "CopyHash" + n)},
                        std::nullopt};
    }
    for (int32_t sub = 1; const std::string* patch = entryOf(patches, number, sub); ++sub) {
      const std::string m = n + "." + std::to_string(sub);
      file.patches.push_back(
          Delta{checkedName(*patch, "Patch" + m),
                {required(entryOf(patchSizes, number, sub), parseSize, "PatchSize" + m),
                 required(entryOf(patchHashes, number, sub), parseHash, "PatchHash" + m)},
                required(entryOf(patchBases, number, sub), parseHash, "PatchBase" + m)});
      if (sub == std::numeric_limits<int32_t>::max()) break;
    }
    list.files.push_back(std::move(file));
  }
  list.newVersion = profile.readString("Version", "NewVersion", "");
  list.expires = profile.readString("Release", "Expires", "");
  list.describesRelease = profile.hasSection("FileList") || profile.hasSection("Version");
  return list;
}

}  // namespace release
