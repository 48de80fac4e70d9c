// Rules of the installation settings and the installed client's version that
// other parts of the run share.
#pragma once

#include <string>

namespace UMain {

// Whether the installed client's version text counts as not read: the text
// of a file without version information (65535.65535.65535.65535), or any
// text with 65535 in it.
bool VersionUnknown(const std::string& version);

}  // namespace UMain
