// Reader of Windows profile (INI) files with the rules of the Windows profile
// reader, working on the file's bytes in memory:
//  - lines end at CR or LF (any run of them, so CR LF, LF and lone CR all work);
//  - blanks (tab, LF, VT, FF, CR, ^Z, space) around lines, names and values are removed;
//  - a line "[name]" starts a section; the name runs to the LAST "]" of the line,
//    anything after it is ignored, blanks inside the brackets are removed; a "[" line
//    without "]" is an ordinary key line;
//  - "name=value" splits at the first "="; a line without "=" is a key without a
//    value, which reads as missing (the default) and still hides later keys of its name;
//  - comment lines are no special case: ";x=1" is a key named ";x";
//  - lines before the first section belong to a nameless section, read with the name "";
//  - names match without regard to ASCII case; only the first section of a name and
//    the first key of a name in it count;
//  - a value in matching quotes ('...' or "...") loses them; a value keeps at most
//    2047 bytes; a zero byte ends a name or a value;
//  - a UTF-8 or UTF-16 byte-order mark selects that encoding; the text is then
//    converted to the system's code page (see encoding.h). Without one the bytes are
//    kept as they are, whatever their code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ini {

// The longest value a read returns (the classic 2048-byte buffer with its zero).
inline constexpr size_t kMaxValueLength = 2047;

class Profile {
 public:
  // The file's bytes; an empty string (a missing file) gives the defaults everywhere.
  explicit Profile(std::string bytes);

  // The value of `key` in `section`, or `def` when either is missing or the key
  // has no "=". Like the Windows reader, the default loses its trailing spaces
  // (all but the first character) and, like a value, its matching quotes.
  std::string readString(std::string_view section, std::string_view key,
                         std::string_view def) const;

  // What reading prefix+"1" .. prefix+count (decimal, no leading zeros) in that
  // order with an empty default returns, empty values skipped; computed by one
  // pass over the section's keys, so its cost follows the file, not `count`.
  // `prefix` is a plain name (no zero byte).
  std::vector<std::string> numberedValues(std::string_view section, std::string_view prefix,
                                          int32_t count) const;
  // The same values with their numbers, in number order, empty values skipped.
  std::vector<std::pair<int32_t, std::string>> numberedEntries(std::string_view section,
                                                               std::string_view prefix,
                                                               int32_t count) const;

  // The same for keys named prefix + n + "." + m, n from 1 to count and m from 1
  // (both decimal, no leading zeros, m at most 2^31 - 1): the values with both
  // numbers, in (n, m) order, empty values skipped; also one pass.
  struct PairEntry {
    int32_t number;
    int32_t sub;
    std::string value;
  };
  std::vector<PairEntry> numberedPairEntries(std::string_view section, std::string_view prefix,
                                             int32_t count) const;

  // Whether the text has a section of that name (matched without regard to case).
  bool hasSection(std::string_view section) const { return findSection(section) != nullptr; }

 private:
  struct Span {
    size_t pos = 0;
    size_t len = 0;
  };
  struct Key {
    Span name;
    Span value;
    bool hasValue = false;
  };
  struct Section {
    Span name;
    std::vector<Key> keys;
  };

  std::string_view view(Span span) const {
    return std::string_view(text_).substr(span.pos, span.len);
  }
  const Section* findSection(std::string_view name) const;
  // (number, value) of every key the given rule numbers (0: not such a key),
  // by number; the first key of a number wins, and empty values are left out.
  using KeyNumber = int64_t (*)(std::string_view name, std::string_view prefix, int32_t count);
  std::vector<std::pair<int64_t, std::string>> numberedValues(std::string_view section,
                                                              std::string_view prefix,
                                                              int32_t count,
                                                              KeyNumber number) const;

  std::string text_;
  std::vector<Section> sections_;
};

// The "Count" conversion: optional leading spaces, an optional sign, then decimal
// digits or a hexadecimal number introduced by "$", "x", "X", "0x" or "0X" (at most
// 32 bits, so "$FFFFFFFF" is -1). Anything else, an overflow or an empty text gives 0.
int32_t profileInteger(std::string_view text);

}  // namespace ini
