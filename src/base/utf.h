// Conversions between the Unicode encodings the program reads: UTF-16 files
// and values, UTF-8 texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace base {

// Appends one code point in UTF-8.
void appendUtf8(std::string& out, uint32_t c);

// UTF-16 code units from their bytes, little- or big-endian; an odd last
// byte is no unit.
std::u16string utf16Units(std::string_view bytes, bool bigEndian);

// UTF-16 code units as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view units);

}  // namespace base
