// The release description "update.ini" as the updater reads it and the
// publisher's tool writes it (readReleaseList, writeReleaseList): [Version] NewVersion and, in
// [FileList], Count and File<n>, each name optionally with Size<n> (a decimal byte count) and
// Hash<n> ("sha256:" and 64 hexadecimal digits), and then with cheaper ways to
// the same bytes: a compressed copy (Copy<n>, CopySize<n>, CopyHash<n>) and
// patches from older files (Patch<n>.<m>, PatchBase<n>.<m>, PatchSize<n>.<m>,
// PatchHash<n>.<m>, m from 1 up to the first number missing). Updaters that
// know nothing of these keys ignore them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "release/sha256.h"

namespace release {

// What the release says a file must be; either part may be missing.
struct Expected {
  std::optional<uint64_t> size;
  std::optional<Digest> sha256;
  bool any() const { return size.has_value() || sha256.has_value(); }
  bool operator==(const Expected&) const = default;
};

// A cheaper way to a listed file's bytes: its compressed copy (one zstd
// frame), or a patch that makes it from an older file. `name` is relative
// to the update URL; the list always gives its size and hash.
struct Delta {
  std::string name;
  Expected expected;
  // A patch's: the SHA-256 of the older file it applies to; none for the copy.
  std::optional<Digest> base;
  bool operator==(const Delta&) const = default;
};

struct ListedFile {
  std::string name;  // as listed
  Expected expected;
  std::optional<Delta> copy;
  std::vector<Delta> patches;  // in the list's order
  bool operator==(const ListedFile&) const = default;
};

// An update list takes a few kilobytes; the updater (and the tool, as a
// client) reads a list or its signature into memory up to this size, so that
// a server that sends without end (or a huge file in its place) ends the GET
// instead of taking all the memory there is.
inline constexpr size_t kMaxListBytes = size_t{16} << 20;

struct ReleaseList {
  std::vector<ListedFile> files;
  std::string newVersion;
  // [Release] Expires as written ("YYYY-MM-DDTHH:MM:SSZ"); empty when missing.
  std::string expires;
  // Whether the text has a [FileList] or a [Version] section at all: an error
  // page or other text the server sent instead of the list has neither.
  bool describesRelease = false;
  bool operator==(const ReleaseList&) const = default;
};

// Reads the description's bytes. Raises base::Error for a name that
// would leave the installation directory ("Unsafe file name "..."") and for a
// Size<n> or Hash<n> of a listed name that is present but malformed
// ("Invalid Size<n> in update.ini"). A copy or patch of a listed name must
// have all of its keys, well-formed, and a name the updater accepts (the same
// texts: "Invalid CopyHash3 in update.ini", "Invalid PatchBase3.1 in
// update.ini", "Unsafe file name ..."); the file must then have its Size<n>
// and Hash<n>, which every way to it ends in checking ("Copy3 in update.ini
// without Size3 and Hash3").
ReleaseList readReleaseList(const std::string& bytes);

// The description's bytes as the publisher's tool writes them (in
// release_list_write.cpp, which the updater does not link), which
// readReleaseList gives back as `list`: [Version] NewVersion, [FileList] Count
// and each file's keys in the order above (Size<n> and Hash<n> where the file
// has them), then [Release] Expires unless it is empty; every line ends in CR
// LF. It holds for names and values that the profile reader keeps as they are,
// which the caller checks: no control character, no blank at either end, not
// in matching quotes, at most ini::kMaxValueLength bytes, and names that
// isUnsafeName accepts; a copy or patch needs its file's Size<n> and Hash<n>.
// The text always has both sections that describesRelease looks for.
std::string writeReleaseList(const ReleaseList& list);

// The updater downloads each file beside its target, under the target's name
// with this ending, and renames it over the target once the whole release has
// arrived; no listed name may end in it (in any case), or it could clash.
inline constexpr std::string_view kDownloadSuffix = ".update-part";
// A patch or compressed copy is downloaded beside the target under its name
// with this ending, before it is turned into the file; the same rule holds.
inline constexpr std::string_view kDeltaSuffix = ".update-delta";

// A name the updater refuses: one that would leave the directory it is
// relative to (absolute, with a drive or stream colon, or with a ".."
// segment), one that Windows resolves to another file or a device (a segment
// ending in a dot or a blank; CON, NUL, AUX, PRN, COM1-9, LPT1-9, CONIN$ or
// CONOUT$ as a segment, with or without an extension), or one that ends in
// kDownloadSuffix or kDeltaSuffix.
bool isUnsafeName(std::string_view name);

// "123" -> 123: decimal digits only, at most 2^63 - 1.
std::optional<uint64_t> parseSize(std::string_view text);
// "sha256:" (any case) and 64 hexadecimal digits (either case).
std::optional<Digest> parseHash(std::string_view text);
// "sha256:" and 64 lower-case hexadecimal digits.
std::string hashText(const Digest& digest);

}  // namespace release
