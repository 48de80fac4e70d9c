// The public key that this build requires releases to be signed with, as the
// build configuration pinned it (UPDATER_RELEASE_KEY, checked there to be the
// base64 line of a minisign .pub file); empty when releases are not signed.
#pragma once

#include <string_view>

namespace release {

#ifdef UPDATER_RELEASE_KEY
inline constexpr std::string_view kPinnedKey = UPDATER_RELEASE_KEY;
#else
inline constexpr std::string_view kPinnedKey;
#endif

}  // namespace release
