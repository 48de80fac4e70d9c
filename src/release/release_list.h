// The release description "update.ini" as the updater reads it and the
// publisher's tool writes it: [Version] NewVersion and, in [FileList], Count
// and File<n>, each name optionally with Size<n> (a decimal byte count) and
// Hash<n> ("sha256:" and 64 hexadecimal digits). Updaters that know nothing
// of Size<n> and Hash<n> ignore them.
#pragma once

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
};

struct ListedFile {
  std::string name;  // as listed
  Expected expected;
};

struct ReleaseList {
  std::vector<ListedFile> files;
  std::string newVersion;
  // [Release] Expires as written ("YYYY-MM-DDTHH:MM:SSZ"); empty when missing.
  std::string expires;
  // Whether the text has a [FileList] or a [Version] section at all: an error
  // page or other text the server sent instead of the list has neither.
  bool describesRelease = false;
};

// Reads the description's bytes. Raises base::Error for a name that
// would leave the installation directory ("Unsafe file name "..."") and for a
// Size<n> or Hash<n> of a listed name that is present but malformed
// ("Invalid Size<n> in update.ini").
ReleaseList readReleaseList(const std::string& bytes);

// The updater downloads each file beside its target, under the target's name
// with this ending, and renames it over the target once the whole release has
// arrived; no listed name may end in it (in any case), or it could clash.
inline constexpr std::string_view kDownloadSuffix = ".update-part";

// A name the updater refuses: one that would leave the directory it is
// relative to (absolute, with a drive or stream colon, or with a ".."
// segment), or one that ends in kDownloadSuffix.
bool isUnsafeName(std::string_view name);

// "123" -> 123: decimal digits only, at most 2^63 - 1.
std::optional<uint64_t> parseSize(std::string_view text);
// "sha256:" (any case) and 64 hexadecimal digits (either case).
std::optional<Digest> parseHash(std::string_view text);
// "sha256:" and 64 lower-case hexadecimal digits.
std::string hashText(const Digest& digest);

}  // namespace release
