// Rules that look at characters rather than bytes. The program's texts are
// byte strings in the system's code page, where one character may take more
// than one byte (code page 936: a lead byte and a trail byte, and the trail
// byte may be "\" or an ASCII letter), so such rules walk the text character
// by character with the system's own notion of a character's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace base {

// Blanks of the protocols the program reads: space and tab.
bool isSpaceOrTab(char c);

// Text without the leading, trailing or both kinds of characters for which
// isBlank holds.
std::string_view trimLeft(std::string_view text, bool (*isBlank)(char) = isSpaceOrTab);
std::string_view trimRight(std::string_view text, bool (*isBlank)(char) = isSpaceOrTab);
std::string_view trim(std::string_view text, bool (*isBlank)(char) = isSpaceOrTab);

// ASCII letters in lower case; every other byte as it is.
char lowerAscii(char c);
std::string lowerAscii(std::string_view text);
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
// Whether text ends in tail, ASCII letters compared without regard to case.
bool endsWithIgnoringAsciiCase(std::string_view text, std::string_view tail);

// The value of a hexadecimal digit (either case), or -1.
int hexDigitValue(char c);

// The value of a decimal number of 1 to maxDigits digits (at most 18),
// nothing else around them; nullopt for anything else.
std::optional<int64_t> decimalValue(std::string_view text, size_t maxDigits);

// The number of bytes of the character that starts at text[at] (at least 1).
using CharLength = std::function<size_t(std::string_view text, size_t at)>;

// Every byte a character: the rule of a single-byte code page.
size_t singleByteChar(std::string_view text, size_t at);

// Calls visit(at, length) for every character of text, in order; a length
// never reaches past the end of the text.
void forEachChar(std::string_view text, const CharLength& charLength,
                 const std::function<void(size_t at, size_t length)>& visit);

// Whether the last character of text is the single byte c; a double-byte
// character whose trail byte happens to be c does not count.
bool endsWithChar(std::string_view text, char c, const CharLength& charLength);

// Text with every single-byte ASCII capital letter from character number
// `from` on lower-cased; double-byte characters are kept whole.
std::string lowerAsciiFrom(std::string_view text, size_t from, const CharLength& charLength);

}  // namespace base
