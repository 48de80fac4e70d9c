#include "delta/make/executable.h"

#include <algorithm>

#include "delta/bytes.h"

namespace delta {

namespace {

bool fits(std::string_view file, uint64_t at, uint64_t size) {
  return at <= file.size() && size <= file.size() - at;
}

constexpr uint32_t kRules32 = kRuleBranch | kRuleAddress32;
constexpr uint32_t kRules64 = kRuleBranch | kRuleRipRelative | kRuleAddress64;

std::optional<ExecutableLayout> elfLayout(std::string_view file) {
  if (!fits(file, 0, 64) ||
      file.substr(0, 4) !=
          "\x7F"
          "ELF" ||
      file[5] != 1)
    return std::nullopt;
  const bool wide = file[4] == 2;
  const uint64_t machine = little(file, 18, 2);
  ExecutableLayout layout;
  if (wide && machine == 62)
    layout.rules = kRules64;
  else if (!wide && machine == 3)
    layout.rules = kRules32;
  else
    return std::nullopt;
  const uint64_t table = wide ? little(file, 32, 8) : little(file, 28, 4);
  const uint64_t entrySize = little(file, wide ? 54 : 42, 2);
  const uint64_t count = little(file, wide ? 56 : 44, 2);
  if (entrySize < (wide ? 56u : 32u) || !fits(file, table, entrySize * count)) return std::nullopt;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t at = table + i * entrySize;
    if (little(file, at, 4) != 1) continue;  // PT_LOAD only
    Segment s;
    if (wide) {
      s.code = little(file, at + 4, 4) & 1;  // PF_X
      s.offset = little(file, at + 8, 8);
      s.address = little(file, at + 16, 8);
      s.fileSize = little(file, at + 32, 8);
      s.memorySize = little(file, at + 40, 8);
    } else {
      s.offset = little(file, at + 4, 4);
      s.address = little(file, at + 8, 4);
      s.fileSize = little(file, at + 16, 4);
      s.memorySize = little(file, at + 20, 4);
      s.code = little(file, at + 24, 4) & 1;
    }
    s.fileSize =
        std::min<uint64_t>(s.fileSize, file.size() - std::min<uint64_t>(s.offset, file.size()));
    s.memorySize = std::max(s.memorySize, s.fileSize);
    layout.segments.push_back(s);
  }
  return layout;
}

std::optional<ExecutableLayout> peLayout(std::string_view file) {
  if (!fits(file, 0, 64) || file.substr(0, 2) != "MZ") return std::nullopt;
  const uint64_t pe = little(file, 60, 4);
  if (!fits(file, pe, 24) || file.substr(pe, 4) != std::string_view("PE\0\0", 4))
    return std::nullopt;
  const uint64_t machine = little(file, pe + 4, 2);
  const uint64_t sections = little(file, pe + 6, 2);
  const uint64_t optionalSize = little(file, pe + 20, 2);
  const uint64_t optional = pe + 24;
  if (!fits(file, optional, std::max<uint64_t>(optionalSize, 32))) return std::nullopt;
  const uint64_t magic = little(file, optional, 2);
  ExecutableLayout layout;
  uint64_t imageBase;
  if (machine == 0x14C && magic == 0x10B) {
    layout.rules = kRules32;
    imageBase = little(file, optional + 28, 4);
  } else if (machine == 0x8664 && magic == 0x20B) {
    layout.rules = kRules64;
    imageBase = little(file, optional + 24, 8);
  } else {
    return std::nullopt;
  }
  const uint64_t table = optional + optionalSize;
  if (!fits(file, table, sections * 40)) return std::nullopt;
  for (uint64_t i = 0; i < sections; ++i) {
    const uint64_t at = table + i * 40;
    Segment s;
    s.memorySize = little(file, at + 8, 4);
    s.address = imageBase + little(file, at + 12, 4);
    s.fileSize = little(file, at + 16, 4);
    s.offset = little(file, at + 20, 4);
    // IMAGE_SCN_CNT_CODE or IMAGE_SCN_MEM_EXECUTE
    s.code = (little(file, at + 36, 4) & 0x20000020) != 0;
    if (s.fileSize == 0) continue;  // uninitialised data: nothing of it in the file
    s.fileSize =
        std::min<uint64_t>(s.fileSize, file.size() - std::min<uint64_t>(s.offset, file.size()));
    s.memorySize = std::max(s.memorySize, s.fileSize);
    layout.segments.push_back(s);
  }
  return layout;
}

}  // namespace

std::optional<ExecutableLayout> executableLayout(std::string_view file) {
  std::optional<ExecutableLayout> layout = elfLayout(file);
  if (!layout) layout = peLayout(file);
  if (!layout) return std::nullopt;
  // The map takes loaded parts in order and apart, in the file and in memory;
  // a part whose bytes run into the next one's (ELF headers loaded with the
  // code, say) is cut where the next begins.
  auto& segments = layout->segments;
  std::sort(segments.begin(), segments.end(),
            [](const Segment& a, const Segment& b) { return a.offset < b.offset; });
  for (size_t i = 0; i + 1 < segments.size(); ++i)
    segments[i].fileSize =
        std::min(segments[i].fileSize, segments[i + 1].offset - segments[i].offset);
  try {
    AddressMap check(layout->rules, layout->segments, {});
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (layout->segments.empty()) return std::nullopt;
  return layout;
}

}  // namespace delta
