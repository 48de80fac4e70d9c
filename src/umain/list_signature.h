// What a build that pins a release key requires of the release description
// before it reads anything from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "release/release_list.h"

namespace UMain {

// Checks the signature file's text over the exact bytes of "update.ini" with
// the public key the build pinned (PinnedKey; minisign's base64
// line) and raises base::Error with the reason when it does not hold:
// "update.ini is not signed" (an empty text: no signature file), "... is
// signed with another key" or "Invalid signature on update.ini". Returns
// the signature's trusted comment.
std::string CheckListSignature(const std::string& list, const std::string& signature,
                               std::string_view pinnedKey);

// What a signed list must hold besides its signature, raised as base::Error
// with the reason: what release::signedListProblem asks at `now` (seconds
// since 1970, UTC), and a version not older than the installed one (an
// unreadable one, 65535..., is not compared).
void CheckSignedList(const release::ReleaseList& list, const std::string& installedVersion,
                     int64_t now);

// A list signed before the one installed is a replay, even of the same
// version (a fix that changed only some files, say): raised as base::Error
// when the installation remembers a signing time (installedSignedAt) and the
// list's trusted comment gives an earlier one, or none.
void CheckNotReplayed(std::optional<int64_t> signedAt, std::optional<int64_t> installedSignedAt);

}  // namespace UMain
