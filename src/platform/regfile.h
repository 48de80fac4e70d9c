// HKEY_LOCAL_MACHINE as written in a registry export file ("REGEDIT4" or
// "Windows Registry Editor Version 5.00"), the way the POSIX provider reads it.
//
// The file is untrusted input. A file without one of the two headers is not
// a registry file at all; within a registry file, lines that cannot be read
// (a broken key line, an unterminated string, a bad hex list, ...) are
// skipped one by one, as are deletions ("[-KEY]", "name"=-) and keys under
// other roots. Key paths and value names match without regard to ASCII case.
//
// Text encodings: a UTF-8 byte order mark is dropped and the bytes are kept
// as they are. A UTF-16LE file (byte order mark FF FE, as "reg export" writes
// it) is converted to UTF-8, and so are the UTF-16LE strings inside hex(1)
// and hex(2) data of a version 5 file; the program's strings on this system
// are UTF-8, so a UTF-16 export and a UTF-8 export of the same key give the
// same bytes. Code units that do not form a character become U+FFFD.
// REGEDIT4 files hold the bytes of hex(1) and hex(2) strings as they are.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Registry value types, by their Windows numbers.
enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegValue {
  uint32_t type = kRegNone;
  // REG_SZ and REG_EXPAND_SZ: the text as bytes, as stored (terminating NULs
  // of hex data included). REG_DWORD: four bytes, least significant first.
  // Other types: the bytes as listed.
  std::string data;
};

class RegFile {
 public:
  // Value name in lower case -> value.
  using Values = std::map<std::string, RegValue>;

  // Nullopt when the bytes do not begin with a registry export header.
  static std::optional<RegFile> parse(std::string_view bytes);

  // The values of HKEY_LOCAL_MACHINE\<path>; null when the file has no such
  // key. A key exists when the file names it or any key below it.
  const Values* findKey(std::string_view path) const;
  // The value of that name in a key's values, or null.
  static const RegValue* findValue(const Values& values, std::string_view name);

 private:
  std::map<std::string, Values> keys_;  // key path below the root, in lower case
};

}  // namespace platform
