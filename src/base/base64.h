// Standard base64 (RFC 4648, with "=" padding): the signatures' and keys'
// encoding, and the HTTP client's Basic credentials.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace base {

// Strict standard base64: nullopt for an empty text, a character outside the
// alphabet, a missing or misplaced "=", or bits left over that an encoder
// sets to zero.
std::optional<std::string> decodeBase64(std::string_view text);
std::string encodeBase64(std::string_view bytes);

}  // namespace base
