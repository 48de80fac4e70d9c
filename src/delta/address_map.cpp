#include "delta/address_map.h"

#include <algorithm>

#include "base/error.h"
#include "delta/bytes.h"

namespace delta {

namespace {

// Opcodes (and second bytes of 0F opcodes) that take a ModRM operand which is
// often relative to the instruction pointer in x86-64 code: mov, lea, movsxd,
// arithmetic, cmp, test, call and jmp through memory, the SSE moves and a few more.
constexpr bool isRipOpcode(int byte) {
  switch (byte) {
    case 0x01:
    case 0x03:
    case 0x0B:
    case 0x10:
    case 0x11:
    case 0x23:
    case 0x28:
    case 0x29:
    case 0x2B:
    case 0x2E:
    case 0x2F:
    case 0x33:
    case 0x38:
    case 0x39:
    case 0x3A:
    case 0x3B:
    case 0x54:
    case 0x57:
    case 0x58:
    case 0x59:
    case 0x5C:
    case 0x63:
    case 0x6F:
    case 0x7F:
    case 0x80:
    case 0x81:
    case 0x83:
    case 0x85:
    case 0x88:
    case 0x89:
    case 0x8A:
    case 0x8B:
    case 0x8D:
    case 0xB6:
    case 0xB7:
    case 0xBE:
    case 0xBF:
    case 0xC6:
    case 0xC7:
    case 0xF6:
    case 0xF7:
    case 0xFF:
      return true;
    default:
      return false;
  }
}

// What a byte before a position says about a field starting there.
enum : uint8_t { kBranchOpcode = 1, kJccSecond = 2, kRipModRm = 4, kRipOpcode = 8, kTwoByte = 16 };

struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    for (int b = 0; b < 256; ++b) {
      if ((b & 0xFE) == 0xE8) of[b] |= kBranchOpcode;
      if ((b & 0xF0) == 0x80) of[b] |= kJccSecond;
      if ((b & 0xC7) == 0x05) of[b] |= kRipModRm;
      if (isRipOpcode(b)) of[b] |= kRipOpcode;
      if (b == 0x0F) of[b] |= kTwoByte;
    }
  }
};
constexpr ByteClasses kClasses;

[[noreturn]] void badMap(const std::string& why) {
  throw base::Error("Damaged patch: its address map " + why);
}

// The varint at bytes[at], which moves past it.
uint64_t varintAt(std::string_view bytes, size_t& at) {
  const auto next = [&] {
    if (at == bytes.size()) badMap("is cut short or malformed");
    return bytes[at++];
  };
  uint64_t value;
  if (!readVarint(next, value)) badMap("is cut short or malformed");
  return value;
}

}  // namespace

AddressMap::AddressMap(uint32_t rules, std::vector<Segment> segments,
                       std::vector<Breakpoint> breakpoints)
    : rules_(rules), segments_(std::move(segments)), breakpoints_(std::move(breakpoints)) {
  if (rules_ & ~kAllRules) badMap("has unknown rules");
  if (segments_.size() > kMaxSegments) badMap("has too many segments");
  if (breakpoints_.size() > kMaxBreakpoints) badMap("has too many breakpoints");
  constexpr uint64_t kLimit = uint64_t{1} << 62;
  for (size_t i = 0; i < segments_.size(); ++i) {
    const Segment& s = segments_[i];
    if (s.offset > kLimit || s.fileSize > kLimit || s.fileSize > s.memorySize ||
        s.memorySize > ~s.address)
      badMap("has a segment out of range");
    if (i > 0 && s.offset < segments_[i - 1].offset + segments_[i - 1].fileSize)
      badMap("has segments out of order");
  }
  byAddress_ = segments_;
  std::sort(byAddress_.begin(), byAddress_.end(),
            [](const Segment& a, const Segment& b) { return a.address < b.address; });
  for (size_t i = 1; i < byAddress_.size(); ++i)
    if (byAddress_[i].address < byAddress_[i - 1].address + byAddress_[i - 1].memorySize)
      badMap("has overlapping segments");
  if (!byAddress_.empty()) {
    lowestAddress_ = byAddress_.front().address;
    highestAddress_ = byAddress_.back().address + byAddress_.back().memorySize;
  }
  for (size_t i = 1; i < breakpoints_.size(); ++i)
    if (breakpoints_[i].start <= breakpoints_[i - 1].start) badMap("has breakpoints out of order");
}

std::string AddressMap::encode() const {
  std::string out;
  appendVarint(out, segments_.size());
  for (const Segment& s : segments_) {
    appendVarint(out, s.offset);
    appendVarint(out, s.fileSize);
    appendVarint(out, s.address);
    appendVarint(out, s.memorySize);
    appendVarint(out, s.code ? 1 : 0);
    appendVarint(out, zigzag(s.extraShift));
  }
  appendVarint(out, breakpoints_.size());
  uint64_t last = 0;
  for (const Breakpoint& b : breakpoints_) {
    appendVarint(out, b.start - last);
    appendVarint(out, zigzag(b.shift));
    last = b.start;
  }
  return out;
}

AddressMap AddressMap::decode(uint32_t rules, std::string_view bytes) {
  size_t at = 0;
  const uint64_t segmentCount = varintAt(bytes, at);
  if (segmentCount > kMaxSegments) badMap("has too many segments");
  std::vector<Segment> segments(static_cast<size_t>(segmentCount));
  for (Segment& s : segments) {
    s.offset = varintAt(bytes, at);
    s.fileSize = varintAt(bytes, at);
    s.address = varintAt(bytes, at);
    s.memorySize = varintAt(bytes, at);
    const uint64_t code = varintAt(bytes, at);
    if (code > 1) badMap("has a segment of an unknown kind");
    s.code = code == 1;
    s.extraShift = unzigzag(varintAt(bytes, at));
  }
  const uint64_t breakpointCount = varintAt(bytes, at);
  if (breakpointCount > kMaxBreakpoints) badMap("has too many breakpoints");
  std::vector<Breakpoint> breakpoints(static_cast<size_t>(breakpointCount));
  uint64_t last = 0;
  for (size_t i = 0; i < breakpoints.size(); ++i) {
    const uint64_t gap = varintAt(bytes, at);
    if ((i > 0 && gap == 0) || gap > ~last) badMap("has breakpoints out of order");
    breakpoints[i].start = last += gap;
    breakpoints[i].shift = unzigzag(varintAt(bytes, at));
  }
  if (at != bytes.size()) badMap("has bytes after its end");
  return AddressMap(rules, std::move(segments), std::move(breakpoints));
}

const Segment* AddressMap::segmentAt(uint64_t address) const {
  if (address < lowestAddress_ || address >= highestAddress_) return nullptr;
  auto next = std::upper_bound(byAddress_.begin(), byAddress_.end(), address,
                               [](uint64_t a, const Segment& s) { return a < s.address; });
  if (next == byAddress_.begin()) return nullptr;
  const Segment& s = *(next - 1);
  return address - s.address < s.memorySize ? &s : nullptr;
}

bool AddressMap::targetShift(uint64_t address, uint64_t& shift) const {
  const Segment* segment = segmentAt(address);
  if (!segment) return false;
  // Offsets wrap around like the shifts: a damaged map predicts nonsense, never more.
  const uint64_t offset = segment->offset + (address - segment->address);
  auto next = std::upper_bound(breakpoints_.begin(), breakpoints_.end(), offset,
                               [](uint64_t o, const Breakpoint& b) { return o < b.start; });
  shift = (next == breakpoints_.begin() ? 0 : static_cast<uint64_t>((next - 1)->shift)) +
          static_cast<uint64_t>(segment->extraShift);
  return true;
}

// One piece's prediction, a function per rule: which fields of the step the
// rules pick that reach into the piece, and how far each moves.
class AddressMap::Prediction {
 public:
  Prediction(const AddressMap& map, const Window& base, const Step& step, uint64_t pieceBegin,
             uint64_t pieceEnd, unsigned char* piece)
      : map_(map),
        rules_(map.rules_),
        base_(base),
        step_(step),
        pieceBegin_(pieceBegin),
        pieceEnd_(pieceEnd),
        piece_(piece) {}

  void run() {
    // Fields start within the step and at most 7 bytes before the piece, so
    // that those reaching into it count; each has at least 4 bytes, all
    // within the step.
    const uint64_t first = std::max(step_.begin, pieceBegin_ > 7 ? pieceBegin_ - 7 : 0);
    const uint64_t last = std::min(pieceEnd_, step_.end);
    for (const Segment& s : map_.segments_) {
      const uint64_t from = std::max(first, s.offset);
      const uint64_t to = std::min(last, s.offset + s.fileSize);
      for (uint64_t q = from; q < to && step_.end - q >= 4; ++q) {
        if (s.code && (branch(q) || ripRelative(q))) moveDisplacement(s, q);
        if (address64(q)) moveAddress(q, 8);
        if (address32(q)) moveAddress(q, 4);
      }
    }
  }

 private:
  // Rule 1: the displacement of a call or jump (E8, E9, 0F 80..8F).
  bool branch(uint64_t q) const {
    if (!(rules_ & kRuleBranch) || q < 1) return false;
    const uint8_t before = kClasses.of[*base_.at(q - 1)];
    return (before & kBranchOpcode) ||
           ((before & kJccSecond) && q >= 2 && (kClasses.of[*base_.at(q - 2)] & kTwoByte));
  }

  // Rule 2: an operand relative to the instruction pointer (ModRM 00xxx101
  // after one of the common opcodes).
  bool ripRelative(uint64_t q) const {
    return (rules_ & kRuleRipRelative) && q >= 2 && (kClasses.of[*base_.at(q - 1)] & kRipModRm) &&
           (kClasses.of[*base_.at(q - 2)] & kRipOpcode);
  }

  // Rule 4: a 64-bit address at an offset that is a multiple of 8.
  bool address64(uint64_t q) const {
    return (rules_ & kRuleAddress64) && q % 8 == 0 && step_.end - q >= 8;
  }

  // Rule 8: a 32-bit address anywhere.
  bool address32(uint64_t) const { return rules_ & kRuleAddress32; }

  // A displacement moves by how far its target moved, less how far the field
  // itself moved: the step's shift and its segment's extra shift.
  void moveDisplacement(const Segment& s, uint64_t q) {
    const uint64_t displacement = little(base_.at(q), 4);
    const uint64_t source = s.address + (q - s.offset) + 4;
    const uint64_t target =
        source + static_cast<uint64_t>(static_cast<int64_t>(
                     static_cast<int32_t>(static_cast<uint32_t>(displacement))));
    uint64_t shift;
    if (!map_.targetShift(target, shift)) return;
    const uint64_t by =
        shift - static_cast<uint64_t>(step_.shift) - static_cast<uint64_t>(s.extraShift);
    if (by) move(q, 4, displacement, by);
  }

  // An address moves by how far what it points at moved.
  void moveAddress(uint64_t q, unsigned width) {
    const uint64_t value = little(base_.at(q), width);
    uint64_t shift;
    if (map_.targetShift(value, shift) && shift) move(q, width, value, shift);
  }

  // Adds the difference that moving the field's value makes to its bytes
  // within the piece.
  void move(uint64_t q, unsigned width, uint64_t value, uint64_t by) {
    const uint64_t moved = value + by;
    for (unsigned i = 0; i < width; ++i) {
      const uint64_t x = q + i;
      if (x < pieceBegin_ || x >= pieceEnd_) continue;
      piece_[x - pieceBegin_] +=
          static_cast<unsigned char>((moved >> (8 * i)) - (value >> (8 * i)));
    }
  }

  const AddressMap& map_;
  const uint32_t rules_;
  const Window& base_;
  const Step& step_;
  const uint64_t pieceBegin_;
  const uint64_t pieceEnd_;
  unsigned char* const piece_;
};

void AddressMap::predict(const Window& base, const Step& step, uint64_t pieceBegin,
                         uint64_t pieceEnd, unsigned char* piece) const {
  if (rules_ == 0 || pieceBegin >= pieceEnd) return;
  Prediction(*this, base, step, pieceBegin, pieceEnd, piece).run();
}

}  // namespace delta
