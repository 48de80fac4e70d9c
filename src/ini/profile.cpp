#include "ini/profile.h"

#include "base/text.h"

#include <algorithm>
#include <limits>

#include "ini/encoding.h"

namespace ini {

namespace {

// The Windows reader's blanks: tab, LF, VT, FF, CR, ^Z (the old end-of-file mark) and
// space. Wider blanks of a code page (such as the ideographic space) are kept.
bool isBlank(char c) {
  return (c >= '\t' && c <= '\r') || c == '\x1A' || c == ' ';
}

std::string_view trim(std::string_view s) {
  return base::trim(s, isBlank);
}

// The reader keeps names and values as zero-terminated strings: a zero byte ends them.
std::string_view upToZero(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

using base::decimalValue;
using base::equalsIgnoringAsciiCase;

// A name as the reader looks it up: up to a zero byte, blanks removed.
std::string_view queryName(std::string_view name) {
  return trim(upToZero(name));
}

// A value as the reader hands it out: matching quotes removed, at most 2047 bytes.
// The reader copies the text after the opening quote into its 2048-byte buffer and
// then drops the last character when the rest (closing quote included) is at most
// 2048 long. So a quoted text of exactly 2047 bytes loses its last byte as well,
// and one of 2048 or more keeps 2047 bytes and no closing quote.
std::string copyEntry(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    const std::string_view rest = value.substr(1);
    std::string result(rest.substr(0, kMaxValueLength));
    if (rest.size() <= kMaxValueLength + 1) result.pop_back();
    return result;
  }
  return std::string(value.substr(0, kMaxValueLength));
}

// The default as the Windows reader uses it: trailing spaces removed, but never its
// first character (so "   " becomes " ").
std::string_view trimDefault(std::string_view def) {
  def = upToZero(def);
  size_t end = def.size();
  while (end > 1 && def[end - 1] == ' ') --end;
  return def.substr(0, end);
}

// The number n of a key named prefix + n (decimal, no leading zeros, 1..count),
// or 0 when the name is not of that form.
int64_t keyNumber(std::string_view name, std::string_view prefix, int32_t count) {
  if (name.size() <= prefix.size() ||
      !equalsIgnoringAsciiCase(name.substr(0, prefix.size()), prefix))
    return 0;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.front() == '0') return 0;
  const int64_t number = decimalValue(digits, 10).value_or(0);
  return number <= count ? number : 0;
}

// The numbers n and m of a key named prefix + n + "." + m (n in 1..count, m in
// 1..2^31 - 1, decimal, no leading zeros), as n * 2^32 + m; 0 when the name is
// not of that form.
int64_t keyPairNumber(std::string_view name, std::string_view prefix, int32_t count) {
  const size_t dot = name.find('.', prefix.size());
  if (dot == std::string_view::npos) return 0;
  const int64_t number = keyNumber(name.substr(0, dot), prefix, count);
  const int64_t sub =
      number ? keyNumber(name.substr(dot + 1), "", std::numeric_limits<int32_t>::max()) : 0;
  return sub ? number << 32 | sub : 0;
}

}  // namespace

Profile::Profile(std::string bytes) : text_(profileText(std::move(bytes))) {
  const std::string_view text(text_);
  // Lines before the first section header belong to a nameless section.
  sections_.emplace_back();
  size_t next = 0;
  while (next < text.size()) {
    const size_t start = next;
    const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    next = std::min(text.find_first_not_of("\r\n", end), text.size());

    const std::string_view line = trim(text.substr(start, end - start));
    if (line.empty()) continue;
    auto spanOf = [&](std::string_view part) {
      return Span{static_cast<size_t>(part.data() - text.data()), part.size()};
    };

    if (line.front() == '[') {
      const size_t close = line.rfind(']');
      if (close != std::string_view::npos && close > 0) {
        Section section;
        section.name = spanOf(upToZero(trim(line.substr(1, close - 1))));
        sections_.push_back(std::move(section));
        continue;
      }
      // Without "]" the line is an ordinary key line.
    }

    Key key;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      key.name = spanOf(upToZero(line));
    } else {
      std::string_view name = line.substr(0, equals);
      while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
      std::string_view value = line.substr(equals + 1);
      while (!value.empty() && isBlank(value.front())) value.remove_prefix(1);
      key.name = spanOf(upToZero(name));
      key.value = spanOf(upToZero(value));
      key.hasValue = true;
    }
    sections_.back().keys.push_back(key);
  }
}

const Profile::Section* Profile::findSection(std::string_view name) const {
  const std::string_view wanted = queryName(name);
  for (const Section& section : sections_) {
    if (equalsIgnoringAsciiCase(view(section.name), wanted)) return &section;
  }
  return nullptr;
}

std::string Profile::readString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  if (const Section* found = findSection(section)) {
    const std::string_view wanted = queryName(key);
    for (const Key& candidate : found->keys) {
      if (!equalsIgnoringAsciiCase(view(candidate.name), wanted)) continue;
      if (candidate.hasValue) return copyEntry(view(candidate.value));
      break;
    }
  }
  return copyEntry(trimDefault(def));
}

std::vector<std::string> Profile::numberedValues(std::string_view section, std::string_view prefix,
                                                 int32_t count) const {
  std::vector<std::string> values;
  for (auto& [number, value] : numberedEntries(section, prefix, count))
    values.push_back(std::move(value));
  return values;
}

std::vector<std::pair<int64_t, std::string>> Profile::numberedValues(std::string_view section,
                                                                     std::string_view prefix,
                                                                     int32_t count,
                                                                     KeyNumber number) const {
  std::vector<std::pair<int64_t, std::string>> entries;
  const Section* found = count > 0 ? findSection(section) : nullptr;
  if (!found) return entries;
  // The looked-up names are prefix + number; their leading blanks do not count.
  while (!prefix.empty() && isBlank(prefix.front())) prefix.remove_prefix(1);

  // (number, position) of every key the rule numbers; the first key of a
  // number wins, even one without a value.
  std::vector<std::pair<int64_t, size_t>> numbered;
  for (size_t i = 0; i < found->keys.size(); ++i) {
    if (const int64_t n = number(view(found->keys[i].name), prefix, count))
      numbered.emplace_back(n, i);
  }
  std::sort(numbered.begin(), numbered.end());
  for (size_t i = 0; i < numbered.size(); ++i) {
    if (i > 0 && numbered[i].first == numbered[i - 1].first) continue;
    const Key& key = found->keys[numbered[i].second];
    if (!key.hasValue) continue;
    std::string value = copyEntry(view(key.value));
    if (!value.empty()) entries.emplace_back(numbered[i].first, std::move(value));
  }
  return entries;
}

std::vector<std::pair<int32_t, std::string>> Profile::numberedEntries(std::string_view section,
                                                                      std::string_view prefix,
                                                                      int32_t count) const {
  std::vector<std::pair<int32_t, std::string>> entries;
  for (auto& [n, value] : numberedValues(section, prefix, count, keyNumber))
    entries.emplace_back(static_cast<int32_t>(n), std::move(value));
  return entries;
}

std::vector<Profile::PairEntry> Profile::numberedPairEntries(std::string_view section,
                                                             std::string_view prefix,
                                                             int32_t count) const {
  std::vector<PairEntry> entries;
  for (auto& [n, value] : numberedValues(section, prefix, count, keyPairNumber))
    entries.push_back(
        {static_cast<int32_t>(n >> 32), static_cast<int32_t>(n & 0xFFFFFFFF), std::move(value)});
  return entries;
}

int32_t profileInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  unsigned radix = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    radix = 16;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    radix = 16;
    i += 2;
  }
  if (i == text.size()) return 0;

  // Decimal numbers must fit the signed range; hexadecimal ones 32 bits.
  const uint64_t limit = radix == 16 ? std::numeric_limits<uint32_t>::max()
                         : negative  ? uint64_t{1} << 31
                                     : std::numeric_limits<int32_t>::max();
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    const int digit = base::hexDigitValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= radix) return 0;
    magnitude = magnitude * radix + static_cast<unsigned>(digit);
    if (magnitude > limit) return 0;
  }
  const auto bits = static_cast<uint32_t>(magnitude);
  return static_cast<int32_t>(negative ? 0u - bits : bits);
}

}  // namespace ini
