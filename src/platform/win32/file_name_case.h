// How the Windows provider ignores case in file names (sameFileKey): by the
// system's own table, which the tests hold against the one the publisher's
// tool folds names by on any system (base/windows_case.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The UTF-16 text with each unit in the system's invariant upper case, the
// one its file systems compare names by (not the user's language: a Turkish
// "i" is no exception); nullopt when the system cannot map it.
std::optional<std::wstring> upperCaseAsFileNames(std::wstring_view text);

}  // namespace platform
