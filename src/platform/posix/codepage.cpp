// Code page conversion through the C library's iconv, whose "CP936" table is
// that of the Windows code page.
#include "release/codepage.h"

#include <cerrno>

#include <iconv.h>

namespace release {

namespace {

const char* iconvName(Encoding encoding) {
  return encoding == Encoding::Gbk ? "CP936" : "UTF-8";
}

}  // namespace

std::optional<std::string> convertText(std::string_view text, Encoding from, Encoding to) {
  iconv_t converter = iconv_open(iconvName(to), iconvName(from));
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(text.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* at = out.data();
  size_t outLeft = out.size();
  // A character without a form in the target fails with EILSEQ (no "//TRANSLIT").
  const size_t result = iconv(converter, &in, &inLeft, &at, &outLeft);
  const bool whole = result == 0 && inLeft == 0;  // irreversible conversions count as failures
  iconv_close(converter);
  if (!whole) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace release
