// The profile reader and the update list on any bytes. Besides running
// without a fault, every result is compared with a slow reader that goes
// through the text line by line for each look-up, and the update list with
// reading File1, File2, ... one key at a time.
#include <algorithm>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "ini/encoding.h"
#include "ini/profile.h"
#include "base/error.h"
#include "release/release_list.h"

namespace {

bool isBlank(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A' || c == ' ';
}

std::string_view trimLeft(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view trim(std::string_view s) {
  return trimLeft(trimRight(s));
}

std::string_view upToZero(std::string_view s) {
  const size_t zero = s.find('\0');
  return zero == std::string_view::npos ? s : s.substr(0, zero);
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return lines;
}

// "[name]" up to the last "]" of the line; nullopt for other lines.
std::optional<std::string_view> sectionHeader(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  const size_t close = line.rfind(']');
  if (close == std::string_view::npos || close == 0) return std::nullopt;
  return upToZero(trim(line.substr(1, close - 1)));
}

// Matching quotes removed, at most 2047 bytes. Of a quoted text the reader
// copies at most 2047 bytes after the opening quote and drops the last one
// copied when the rest, closing quote included, is at most 2048 bytes long.
std::string valueText(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    std::string_view rest = value.substr(1);
    std::string copied(rest.substr(0, 2047));
    if (rest.size() <= 2048) copied.pop_back();
    return copied;
  }
  return std::string(value.substr(0, 2047));
}

// The key's value read the slow way: nullopt when the section or key is
// missing or the key has no "=".
std::optional<std::string> slowLookup(const std::vector<std::string_view>& lines,
                                      std::string_view section, std::string_view key) {
  section = trim(upToZero(section));
  key = trim(upToZero(key));
  bool inside = section.empty();  // the nameless section comes first
  bool found = inside;
  for (std::string_view line : lines) {
    line = trim(line);
    if (line.empty()) continue;
    if (auto name = sectionHeader(line)) {
      if (inside) return std::nullopt;  // only the first section of a name counts
      if (!found && sameName(*name, section)) inside = found = true;
      continue;
    }
    if (!inside) continue;
    const size_t equals = line.find('=');
    std::string_view name = equals == std::string_view::npos ? line : line.substr(0, equals);
    if (!sameName(upToZero(trimRight(name)), key)) continue;
    if (equals == std::string_view::npos) return std::nullopt;
    return valueText(upToZero(trimLeft(line.substr(equals + 1))));
  }
  return std::nullopt;
}

bool slowHasSection(const std::vector<std::string_view>& lines, std::string_view section) {
  for (std::string_view line : lines) {
    auto name = sectionHeader(trim(line));
    if (name && sameName(*name, section)) return true;
  }
  return false;
}

std::string slowRead(const std::vector<std::string_view>& lines, std::string_view section,
                     std::string_view key, std::string_view def) {
  if (auto value = slowLookup(lines, section, key)) return *value;
  def = upToZero(def);
  while (def.size() > 1 && def.back() == ' ') def.remove_suffix(1);
  return valueText(def);
}

// The "Count" conversion, written out with wide arithmetic.
int32_t slowInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
    base = 16;
    i += 2;
  } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    i += 1;
  }
  if (i == text.size()) return 0;
  __int128 magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return 0;
    magnitude = magnitude * base + digit;
    if (magnitude > (__int128{1} << 40)) return 0;
  }
  if (base == 16) {
    if (magnitude > 0xFFFFFFFFll) return 0;
    const auto bits = static_cast<uint32_t>(magnitude);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
  }
  const __int128 value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<int32_t>(value);
}

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The unsafe-name rule, written out again: a leading separator, a colon, a
// ".." part, a part ending in a dot or a blank, a device name as a part (with
// or without an extension), or the endings of the updater's own files.
bool unsafeName(const std::string& name) {
  if (name.empty()) return false;
  if (name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) return true;
  for (const char* ending : {".UPDATE-PART", ".UPDATE-DELTA"}) {
    const std::string tail(ending);
    if (name.size() >= tail.size() && upper(name.substr(name.size() - tail.size())) == tail)
      return true;
  }
  std::string segment;
  for (char c : name + "/") {
    if (c == '\\' || c == '/') {
      if (segment == ".." || (!segment.empty() && (segment.back() == '.' || segment.back() == ' ')))
        return true;
      std::string stem = upper(segment.substr(0, segment.find('.')));
      while (!stem.empty() && (stem.back() == ' ' || stem.back() == '\t')) stem.pop_back();
      if (stem == "CON" || stem == "NUL" || stem == "AUX" || stem == "PRN" || stem == "CONIN$" ||
          stem == "CONOUT$" ||
          (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
           stem[3] >= '1' && stem[3] <= '9'))
        return true;
      segment.clear();
    } else {
      segment += c;
    }
  }
  return false;
}

// Every number n for which a key "File<n>" might be in the text: the digits
// after each "file", whatever the case.
std::set<int64_t> fileNumbersIn(std::string_view text, int32_t count) {
  std::set<int64_t> numbers;
  for (size_t at = 0; at + 4 <= text.size(); ++at) {
    if (!sameName(text.substr(at, 4), "file")) continue;
    size_t digits = at + 4;
    int64_t number = 0;
    while (digits < text.size() && digits - at - 4 < 11 && text[digits] >= '0' &&
           text[digits] <= '9') {
      number = number * 10 + (text[digits] - '0');
      ++digits;
    }
    if (number >= 1 && number <= count) numbers.insert(number);
  }
  return numbers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const ini::Profile profile(bytes);
  const std::string text = ini::profileText(bytes);
  const std::vector<std::string_view> lines = linesOf(text);

  // The update list: the Count rule against one key at a time.
  const std::string countText = profile.readString("FileList", "Count", "");
  const int32_t count = ini::profileInteger(countText);
  FUZZ_CHECK(count == slowInteger(countText));
  const std::vector<std::string> values = profile.numberedValues("FileList", "File", count);
  std::vector<std::string> expected;
  if (count > 0 && count <= 300) {
    for (int32_t n = 1; n <= count; ++n) {
      std::string value = profile.readString("FileList", "File" + std::to_string(n), "");
      if (!value.empty()) expected.push_back(std::move(value));
    }
  } else if (count > 300) {
    for (int64_t n : fileNumbersIn(text, count)) {
      std::string value = profile.readString("FileList", "File" + std::to_string(n), "");
      if (!value.empty()) expected.push_back(std::move(value));
    }
  }
  FUZZ_CHECK(values == expected);

  // Patch<n>.<m>: the one-pass reading against one key at a time, for the
  // numbers a slow reading can try.
  std::vector<std::string> pairs, slowPairs;
  for (const auto& entry : profile.numberedPairEntries("FileList", "Patch", count))
    if (entry.number <= 300 && entry.sub <= 12) pairs.push_back(entry.value);
  for (int32_t n = 1; n <= std::min(count, 300); ++n) {
    for (int32_t m = 1; m <= 12; ++m) {
      std::string value =
          profile.readString("FileList", "Patch" + std::to_string(n) + "." + std::to_string(m), "");
      if (!value.empty()) slowPairs.push_back(std::move(value));
    }
  }
  FUZZ_CHECK(pairs == slowPairs);

  // The updater's own reading of the list: the same names, or the first unsafe one refused.
  const auto unsafe = std::find_if(values.begin(), values.end(), unsafeName);
  try {
    const release::ReleaseList list = release::readReleaseList(bytes);
    FUZZ_CHECK(unsafe == values.end());
    FUZZ_CHECK(list.files.size() == values.size());
    for (size_t i = 0; i < values.size() && i < list.files.size(); ++i)
      FUZZ_CHECK(list.files[i].name == values[i]);
    FUZZ_CHECK(list.newVersion == profile.readString("Version", "NewVersion", ""));
    FUZZ_CHECK(list.describesRelease ==
               (slowHasSection(lines, "FileList") || slowHasSection(lines, "Version")));
  } catch (const base::Error& error) {
    // The first unsafe name, or else a malformed Size<n> or Hash<n> of a listed
    // name, or a copy or patch of one with a key missing or malformed, an
    // unsafe name, or a file without size and hash.
    const std::string& message = error.message();
    if (unsafe != values.end()) {
      FUZZ_CHECK(message == "Unsafe file name \"" + *unsafe + "\"");
    } else if (message.rfind("Invalid ", 0) == 0) {
      bool known = false;
      for (const char* key :
           {"Size", "Hash", "CopySize", "CopyHash", "PatchBase", "PatchSize", "PatchHash"})
        known |= message.compare(8, std::strlen(key), key) == 0;
      FUZZ_CHECK(known);
      FUZZ_CHECK(message.size() > 26 &&
                 message.compare(message.size() - 14, 14, " in update.ini") == 0);
    } else {
      FUZZ_CHECK(message.rfind("Unsafe file name \"", 0) == 0 ||
                 ((message.rfind("Copy", 0) == 0 || message.rfind("Patch", 0) == 0) &&
                  message.find(" in update.ini without Size") != std::string::npos));
    }
  }

  // Look-ups of names taken from the text itself, against the slow reader.
  std::vector<std::string_view> sections{"", "FileList", "Version"};
  std::vector<std::string_view> keys{"Count", "File1", "NewVersion", ""};
  for (std::string_view line : lines) {
    line = trim(line);
    if (line.empty()) continue;
    if (line.front() == '[' && sections.size() < 8)
      sections.push_back(line.substr(1, line.find(']') - 1));
    if (keys.size() < 12) keys.push_back(line.substr(0, line.find('=')));
  }
  for (std::string_view section : sections) {
    for (std::string_view key : keys) {
      for (std::string_view def : {std::string_view(""), std::string_view(" 'd' ")}) {
        const std::string value = profile.readString(section, key, def);
        FUZZ_CHECK(value.size() <= ini::kMaxValueLength);
        FUZZ_CHECK(value == slowRead(lines, section, key, def));
      }
    }
  }
  return 0;
}
