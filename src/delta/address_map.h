// The prediction that makes patches of executables small. When code moves,
// every branch to or from the moved part and every stored address of it
// changes, by the distance it moved: in a library whose code grew by 32 bytes
// in one place, tens of thousands of bytes differ after it. The patch's
// control stream already says where each stretch of the base moved; with the
// base's segments (file offset against address) it predicts those changes,
// and the diff stream holds only what the prediction misses.
//
// A prediction is a sum over fields of the base: at each position of a step's
// old range that a rule picks, the value read there (a branch displacement or
// an address) is moved by where its target moved, and the difference of the
// moved value's bytes from the base's bytes is added to them. Every field is
// read from the base itself, never from another field's result, so a piece of
// a step gives the same bytes however the step is cut into pieces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace delta {

// Which fields are predicted: the patch header's flags.
enum AddressRules : uint32_t {
  // x86 call and jump (E8, E9 and 0F 80..8F, then a 32-bit displacement), in code segments.
  kRuleBranch = 1,
  // x86-64 operands relative to the instruction pointer (ModRM 00xxx101 after one of
  // the common opcodes), in code segments.
  kRuleRipRelative = 2,
  // 64-bit addresses at offsets that are multiples of 8, in any segment.
  kRuleAddress64 = 4,
  // 32-bit addresses at any offset, in any segment.
  kRuleAddress32 = 8,
};
inline constexpr uint32_t kAllRules = 15;

// A part of the base that is loaded at an address.
struct Segment {
  uint64_t offset = 0;      // in the base
  uint64_t fileSize = 0;    // bytes of the base at offset
  uint64_t address = 0;     // where offset is loaded
  uint64_t memorySize = 0;  // bytes at address (at least fileSize; the rest is zeros)
  bool code = false;        // whether the branch rules apply to it
  // How much further than its bytes the segment's addresses moved in the new
  // file (where a section's address and file offset grew by different steps).
  int64_t extraShift = 0;
};

// From this offset of the base on (up to the next breakpoint), bytes moved
// by `shift` in the new file.
struct Breakpoint {
  uint64_t start = 0;
  int64_t shift = 0;
};

inline constexpr size_t kMaxSegments = 128;
inline constexpr size_t kMaxBreakpoints = size_t{1} << 16;
// Bytes of the base around a piece that a prediction reads besides it.
inline constexpr uint64_t kContextBefore = 9;
inline constexpr uint64_t kContextAfter = 7;

// A step of the control stream as the prediction sees it: it makes new bytes
// from the base's [begin, end), which moved by `shift` in the new file (the
// step's new position less its old one, wrapping around).
struct Step {
  uint64_t begin = 0;
  uint64_t end = 0;
  int64_t shift = 0;
};

// The base's bytes from offset `begin` on, at `bytes`: for a piece of a step,
// at least from kContextBefore bytes before the piece to kContextAfter bytes
// after it, as far as the base has them.
struct Window {
  const unsigned char* bytes = nullptr;
  uint64_t begin = 0;
  // Where the base's byte at that offset is.
  const unsigned char* at(uint64_t offset) const { return bytes + (offset - begin); }
};

class AddressMap {
 public:
  AddressMap() = default;
  // Segments sorted by offset and by address, neither overlapping; breakpoints
  // sorted by start. Raises base::Error otherwise.
  AddressMap(uint32_t rules, std::vector<Segment> segments, std::vector<Breakpoint> breakpoints);

  // The map as the patch's map stream holds it, and back; decode raises
  // base::Error for anything but what encode writes.
  std::string encode() const;
  static AddressMap decode(uint32_t rules, std::string_view bytes);

  uint32_t rules() const { return rules_; }
  const std::vector<Segment>& segments() const { return segments_; }
  const std::vector<Breakpoint>& breakpoints() const { return breakpoints_; }

  // Adds the step's prediction to piece, which holds the base's bytes of
  // [pieceBegin, pieceEnd) within the step's range, read from the window
  // around it.
  void predict(const Window& base, const Step& step, uint64_t pieceBegin, uint64_t pieceEnd,
               unsigned char* piece) const;

 private:
  class Prediction;

  // The segment whose addresses hold the address; null when none does.
  const Segment* segmentAt(uint64_t address) const;
  // How far the target at that address moved; false when it is in no segment.
  bool targetShift(uint64_t address, uint64_t& shift) const;

  uint32_t rules_ = 0;
  std::vector<Segment> segments_;
  std::vector<Segment> byAddress_;
  std::vector<Breakpoint> breakpoints_;
  uint64_t lowestAddress_ = 0;
  uint64_t highestAddress_ = 0;
};

}  // namespace delta
