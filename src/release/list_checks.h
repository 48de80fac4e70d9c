// The checks that a signed release description adds beyond its signature:
// its new version against the installed one, and the time its list expires.
// The updater and the publisher's tool apply the same rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "release/release_list.h"

namespace release {

// Whether the text is a version of dotted decimal numbers ("6.3.0.12"): not
// empty, no empty number, no sign, no blank. Numbers may have any length.
bool isVersion(std::string_view text);

// Negative, zero or positive as version a is older than, the same as or newer
// than version b (both as isVersion accepts), number by number; a missing
// number counts as 0 ("6.3" is "6.3.0.0").
int compareVersions(std::string_view a, std::string_view b);

// "YYYY-MM-DDTHH:MM:SSZ", a time in UTC, as seconds since 1970-01-01T00:00:00Z;
// nullopt for any other text and for a date or time that does not exist.
std::optional<int64_t> parseUtcTime(std::string_view text);
// The same time written in that form, for times from year 0 to 9999.
std::string utcTimeText(int64_t seconds);

// Why a keyed updater refuses the signed list at `now` (seconds since 1970,
// UTC), whatever is installed; empty when it takes it. It must expire (an
// Expires that is a valid time, not yet past), give a NewVersion of dotted
// numbers and a size and a hash for every file.
std::string signedListProblem(const ReleaseList& list, int64_t now);

}  // namespace release
