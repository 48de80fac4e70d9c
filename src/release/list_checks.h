// The checks that a signed release description adds beyond its signature:
// its new version against the installed one, and the time its list expires.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace release {

// A version text of dotted decimal numbers ("6.3.0.12"), each number kept as
// its digits without leading zeros, so that numbers of any length compare
// exactly. nullopt for anything else: an empty text or field, a sign, a blank.
using Version = std::vector<std::string>;
std::optional<Version> parseVersion(std::string_view text);

// Negative, zero or positive as a is older than, the same as or newer than b,
// number by number; a missing number counts as 0 ("6.3" is "6.3.0.0").
int compareVersions(const Version& a, const Version& b);

// "YYYY-MM-DDTHH:MM:SSZ", a time in UTC, as seconds since 1970-01-01T00:00:00Z;
// nullopt for any other text and for a date or time that does not exist.
std::optional<int64_t> parseUtcTime(std::string_view text);

}  // namespace release
