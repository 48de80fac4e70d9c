// Where the parts of an x86 executable (ELF or PE, 32 or 64 bits) are loaded:
// what the address prediction of patches needs to know about a base.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "delta/address_map.h"

namespace delta {

struct ExecutableLayout {
  uint32_t rules = 0;  // the address rules that fit the machine
  std::vector<Segment> segments;
};

// The layout of an ELF or PE file for x86 or x86-64 whose loaded parts lie
// in order, both in the file and in memory; nullopt for anything else.
std::optional<ExecutableLayout> executableLayout(std::string_view file);

}  // namespace delta
