#include "platform/regfile.h"
#include "base/text.h"
#include "base/utf.h"

namespace platform {

namespace {

constexpr std::string_view kHeaderVersion4 = "REGEDIT4";
constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";

using base::lowerAscii;

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         base::equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimLeft(std::string_view text) {
  return base::trimLeft(text, isBlank);
}

std::string_view trimRight(std::string_view text) {
  return base::trimRight(text, isBlank);
}

std::string_view trim(std::string_view text) {
  return base::trim(text, isBlank);
}

// A key path below the root as it is stored and looked up.
std::string keyOf(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return lowerAscii(path);
}

// UTF-16LE bytes as UTF-8; an odd last byte is dropped.
std::string utf16ToUtf8(std::string_view bytes) {
  return base::utf16ToUtf8(base::utf16Units(bytes, false));
}

// The file as text: UTF-16LE converted, a UTF-8 byte order mark dropped.
std::string decodeFile(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
    return utf16ToUtf8(bytes.substr(2));
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return std::string(bytes);
}

class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}
  bool next(std::string_view& line) {
    if (done_) return false;
    const size_t end = rest_.find('\n');
    if (end == std::string_view::npos) {
      line = rest_;
      done_ = true;
    } else {
      line = rest_.substr(0, end);
      rest_.remove_prefix(end + 1);
    }
    return true;
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};

// One to eight hex digits.
std::optional<uint32_t> parseHexNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    const int d = base::hexDigitValue(c);
    if (d < 0) return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(d);
  }
  return value;
}

// "41,00,42" (blanks allowed around the items, one trailing comma allowed).
std::optional<std::string> parseHexBytes(std::string_view list) {
  std::string bytes;
  list = trim(list);
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view item = trim(list.substr(0, comma));
    if (item.empty() || item.size() > 2) return std::nullopt;
    auto value = parseHexNumber(item);
    if (!value) return std::nullopt;
    bytes += static_cast<char>(*value);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return bytes;
}

// A quoted string starting at text[at] == '"', with "\\" and "\"" escaped; a
// backslash before any other character stands for itself. On success, at is
// moved past the closing quote.
std::optional<std::string> readQuoted(std::string_view text, size_t& at) {
  std::string out;
  for (size_t i = at + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      at = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out += text[++i];
      continue;
    }
    out += c;
  }
  return std::nullopt;
}

// The data after "=": a quoted string, dword:, hex: or hex(<type>):.
std::optional<RegValue> parseData(std::string_view data, bool unicodeFile) {
  data = trim(data);
  if (!data.empty() && data.front() == '"') {
    size_t at = 0;
    auto text = readQuoted(data, at);
    if (!text) return std::nullopt;
    const std::string_view rest = trimLeft(data.substr(at));
    if (!rest.empty() && rest.front() != ';') return std::nullopt;
    return RegValue{kRegSz, std::move(*text)};
  }
  if (startsWithIgnoreCase(data, "dword:")) {
    auto number = parseHexNumber(data.substr(6));
    if (!number) return std::nullopt;
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(*number >> shift);
    return RegValue{kRegDword, std::move(bytes)};
  }
  if (startsWithIgnoreCase(data, "hex")) {
    uint32_t type = kRegBinary;
    size_t at = 3;
    if (at < data.size() && data[at] == '(') {
      const size_t close = data.find(')', at);
      if (close == std::string_view::npos) return std::nullopt;
      auto number = parseHexNumber(data.substr(at + 1, close - at - 1));
      if (!number) return std::nullopt;
      type = *number;
      at = close + 1;
    }
    if (at >= data.size() || data[at] != ':') return std::nullopt;
    auto bytes = parseHexBytes(data.substr(at + 1));
    if (!bytes) return std::nullopt;
    if (unicodeFile && (type == kRegSz || type == kRegExpandSz)) *bytes = utf16ToUtf8(*bytes);
    return RegValue{type, std::move(*bytes)};
  }
  return std::nullopt;
}

}  // namespace

std::optional<RegFile> RegFile::parse(std::string_view bytes) {
  const std::string text = decodeFile(bytes);
  Lines lines(text);
  std::string_view line;
  if (!lines.next(line)) return std::nullopt;
  line = trimRight(line);
  if (line != kHeaderVersion4 && line != kHeaderVersion5) return std::nullopt;
  const bool unicodeFile = line == kHeaderVersion5;

  RegFile file;
  file.keys_[""];
  Values* current = nullptr;  // null: values are not ours (another root, a deletion, a bad line)
  while (lines.next(line)) {
    line = trim(line);
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      current = nullptr;
      const size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      const std::string_view path = line.substr(1, close - 1);
      const size_t split = path.find('\\');
      const std::string_view root = path.substr(0, split);
      if (lowerAscii(root) != "hkey_local_machine" && lowerAscii(root) != "hklm") continue;
      const std::string key =
          keyOf(split == std::string_view::npos ? std::string_view() : path.substr(split + 1));
      // The keys above it exist too.
      for (size_t at = key.find('\\'); at != std::string::npos; at = key.find('\\', at + 1))
        file.keys_[key.substr(0, at)];
      current = &file.keys_[key];
      continue;
    }

    std::string name;
    size_t at = 1;
    if (line.front() == '@') {
      name.clear();
    } else if (line.front() == '"') {
      at = 0;
      auto quoted = readQuoted(line, at);
      if (!quoted) continue;
      name = std::move(*quoted);
    } else {
      continue;
    }
    std::string_view rest = trimLeft(line.substr(at));
    if (rest.empty() || rest.front() != '=') continue;
    rest = trimLeft(rest.substr(1));

    // Hex lists go on over lines that end in a backslash.
    std::string data(rest);
    if (startsWithIgnoreCase(rest, "hex")) {
      std::string_view more;
      while (!data.empty() && data.back() == '\\' && lines.next(more)) {
        data.pop_back();
        data += trim(more);
      }
    }

    if (!current || data == "-") continue;
    if (auto value = parseData(data, unicodeFile)) (*current)[lowerAscii(name)] = std::move(*value);
  }
  return file;
}

const RegFile::Values* RegFile::findKey(std::string_view path) const {
  auto it = keys_.find(keyOf(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const RegValue* RegFile::findValue(const Values& values, std::string_view name) {
  auto it = values.find(lowerAscii(name));
  return it == values.end() ? nullptr : &it->second;
}

}  // namespace platform
