// The text of a profile file in the program's byte encoding. A file that starts
// with a byte-order mark is UTF-8 (EF BB BF), UTF-16 little-endian (FF FE) or
// UTF-16 big-endian (FE FF); the Windows profile reader converts such a file to
// the system's ANSI code page, which this does too on Windows. The other systems
// keep their texts in UTF-8, so there the result is UTF-8. A file without a mark
// is returned unchanged.
#pragma once

#include <string>

namespace ini {

std::string profileText(std::string bytes);

}  // namespace ini
