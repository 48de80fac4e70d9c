// The registry export reader on any bytes. Besides running without a fault:
// every key the file names can be found in any letter case, and so can every
// value in it; and a file of valid UTF-8 reads the
// same with a UTF-8 byte order mark and as a UTF-16LE export.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "platform/regfile.h"

namespace {

using platform::RegFile;

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && upper(text.substr(0, prefix.size())) == upper(prefix);
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// The paths below HKEY_LOCAL_MACHINE of the key lines in a text.
std::vector<std::string> keyPathsIn(std::string_view text) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start <= text.size() && paths.size() < 64) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trimBlanks(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() != '[') continue;
    const size_t close = line.rfind(']');
    if (close == std::string_view::npos) continue;
    std::string_view path = line.substr(1, close - 1);
    for (std::string_view root : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"}) {
      if (startsWithIgnoreCase(path, root)) paths.emplace_back(path.substr(root.size()));
    }
  }
  return paths;
}

// Decodes strictly valid UTF-8 into code points; nullopt for anything else.
std::optional<std::vector<uint32_t>> decodeUtf8(std::string_view text) {
  std::vector<uint32_t> points;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    size_t length;
    uint32_t c;
    if (lead < 0x80) {
      length = 1, c = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      length = 2, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3, c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
      length = 4, c = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = c << 6 | (next & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
    points.push_back(c);
    i += length;
  }
  return points;
}

std::string utf16le(const std::vector<uint32_t>& points) {
  std::string out = "\xFF\xFE";
  auto unit = [&](uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (uint32_t c : points) {
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

void checkLookups(const RegFile& file, const std::vector<std::string>& paths) {
  FUZZ_CHECK(file.findKey("") != nullptr);
  for (const std::string& path : paths) {
    const RegFile::Values* values = file.findKey(path);
    if (values == nullptr) continue;  // a key line that could not be read
    FUZZ_CHECK(file.findKey(upper(path)) == values);
    FUZZ_CHECK(file.findKey(path + "\\") == values);
    // The keys above it exist too.
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
      FUZZ_CHECK(file.findKey(path.substr(0, at)) != nullptr);
    for (const auto& [name, value] : *values)
      FUZZ_CHECK(RegFile::findValue(*values, upper(name)) == &value);
  }
}

bool sameKeys(const RegFile& a, const RegFile& b, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const RegFile::Values* x = a.findKey(path);
    const RegFile::Values* y = b.findKey(path);
    if ((x == nullptr) != (y == nullptr)) return false;
    if (x == nullptr) continue;
    if (x->size() != y->size()) return false;
    for (auto i = x->begin(), j = y->begin(); i != x->end(); ++i, ++j) {
      if (i->first != j->first || i->second.type != j->second.type ||
          i->second.data != j->second.data)
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<RegFile> file = RegFile::parse(bytes);
  if (!file) return 0;

  // The key lines of a UTF-16 file are not looked for.
  const bool utf8Mark = bytes.substr(0, 3) == "\xEF\xBB\xBF";
  const bool utf16Mark = bytes.substr(0, 2) == "\xFF\xFE";
  const std::vector<std::string> paths =
      keyPathsIn(utf16Mark ? std::string_view() : bytes.substr(utf8Mark ? 3 : 0));
  checkLookups(*file, paths);

  // The same text with a byte order mark, and as UTF-16LE.
  if (utf8Mark || utf16Mark) return 0;
  const std::optional<RegFile> marked = RegFile::parse("\xEF\xBB\xBF" + std::string(bytes));
  FUZZ_CHECK(marked && sameKeys(*file, *marked, paths));
  if (auto points = decodeUtf8(bytes)) {
    const std::optional<RegFile> wide = RegFile::parse(utf16le(*points));
    FUZZ_CHECK(wide && sameKeys(*file, *wide, paths));
  }
  return 0;
}
