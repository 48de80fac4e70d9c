// What a build that pins a release key requires of the release description
// before it reads anything from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "release/release_list.h"

namespace UMain {

// Checks the signature file's text over the exact bytes of "update.ini" with
// the public key the build pinned (PinnedKey; minisign's base64
// line) and raises base::Error with the reason when it does not hold:
// "update.ini is not signed" (an empty text: no signature file), "... is
// signed with another key" or "Invalid signature on update.ini".
void CheckListSignature(const std::string& list, const std::string& signature,
                        std::string_view pinnedKey);

// What a signed list must hold besides its signature, raised as base::Error
// with the reason: not expired at `now` (seconds since 1970, UTC), a version
// not older than the installed one (an unreadable one, 65535..., is not
// compared), and a size and a hash for every file.
void CheckSignedList(const release::ReleaseList& list, const std::string& installedVersion,
                     int64_t now);

}  // namespace UMain
