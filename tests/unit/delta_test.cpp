// Patches and compressed copies: made by the publisher's tool, applied as the
// updater applies them (through the Reader and Writer seams), on generated
// files; each stream read back as its writer wrote it; damaged and foreign
// inputs refused with base::Error; the address prediction that makes patches
// of moved code small.
#include <gtest/gtest.h>

#include <zstd.h>

#include <cstring>
#include <random>

#include "base/error.h"
#include "delta/address_map.h"
#include "delta/bytes.h"
#include "delta/delta.h"
#include "delta/make/make_patch.h"
#include "delta/patch_format.h"
#include "delta/streams.h"
#include "delta/zstd_frame.h"

namespace {

using delta::compressFrame;
using delta::makePatch;

// Bytes in memory; a read outside them is a fault of the code under test.
class MemoryReader : public delta::Reader {
 public:
  explicit MemoryReader(std::string_view bytes) : bytes_(bytes) {}
  void read(uint64_t offset, void* buffer, size_t n) override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) {
      ADD_FAILURE() << "read of " << n << " bytes at " << offset << " of " << bytes_.size();
      throw base::Error("read outside the input");
    }
    std::memcpy(buffer, bytes_.data() + offset, n);
  }

 private:
  std::string_view bytes_;
};

struct StringWriter : delta::Writer {
  std::string bytes;
  void write(const void* data, size_t n) override {
    bytes.append(static_cast<const char*>(data), n);
  }
};

std::string Apply(std::string_view base, std::string_view patch) {
  MemoryReader baseReader(base), patchReader(patch);
  StringWriter out;
  delta::applyPatch(baseReader, base.size(), patchReader, patch.size(), out);
  return out.bytes;
}

std::string Decompress(std::string_view copy, uint64_t size) {
  MemoryReader reader(copy);
  StringWriter out;
  delta::decompressCopy(reader, copy.size(), size, out);
  return out.bytes;
}

// The message of the base::Error that fn raises; "" when it raises none.
template <typename Fn>
std::string ErrorOf(Fn fn) {
  try {
    fn();
  } catch (const base::Error& e) {
    return e.message();
  }
  return "";
}

std::string Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// Text-like data: words from a small vocabulary, which compresses and
// matches the way files mostly do.
std::string Words(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"update ", "client ", "file ", "patch ", "bytes ",
                                       "window ", "list\n",  "hash ", "size ",  "copy "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) text += kWords[random() % 10];
  text.resize(size);
  return text;
}

void Little(std::string& bytes, size_t at, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// An x86 executable (64-bit ELF, or 32-bit PE with a table of function
// addresses) of `functions` functions that call each other, with `inserted`
// more bytes in the middle one: every call and address that crosses that
// point changes, as when a library's code grows in one place.
std::string CodeImage(bool pe, size_t functions, size_t inserted) {
  constexpr size_t kFunction = 256;
  constexpr uint64_t kElfBase = 0x400000, kPeBase = 0x400000, kPeSection = 0x1000;
  const size_t headerSize = pe ? 512 : 128;
  std::string code;
  std::vector<size_t> starts;
  std::vector<std::pair<size_t, size_t>> calls;  // (offset of the E8, callee)
  for (size_t f = 0; f < functions; ++f) {
    starts.push_back(headerSize + code.size());
    if (f == functions / 2) code += Random(inserted, 8);
    std::mt19937 random(static_cast<uint32_t>(f));  // the same body in both versions
    const size_t bodyEnd = code.size() + kFunction;
    while (code.size() + 5 <= bodyEnd) {
      if (random() % 24 == 0) {
        calls.emplace_back(headerSize + code.size(), random() % functions);
        code += std::string(5, '\xE8');
      } else {
        code += static_cast<char>(random() % 0xE0);  // never a call or jump opcode
      }
    }
    code.resize(bodyEnd, '\x90');
  }
  std::string image(headerSize, '\0');
  image += code;
  const size_t table = image.size();
  if (pe) image.resize(table + 4 * functions);
  const uint64_t address = pe ? kPeBase + kPeSection - headerSize : kElfBase;
  for (const auto& [at, callee] : calls) Little(image, at + 1, starts[callee] - (at + 5), 4);
  if (pe) {
    for (size_t f = 0; f < functions; ++f) Little(image, table + 4 * f, address + starts[f], 4);
    image.replace(0, 2, "MZ");
    Little(image, 60, 64, 4);
    image.replace(64, 4, std::string("PE\0\0", 4));
    Little(image, 68, 0x14C, 2);  // i386
    Little(image, 70, 1, 2);      // one section
    Little(image, 84, 224, 2);    // optional header size
    Little(image, 88, 0x10B, 2);  // PE32
    Little(image, 88 + 28, kPeBase, 4);
    const size_t section = 88 + 224;
    Little(image, section + 8, image.size() - headerSize, 4);  // virtual size
    Little(image, section + 12, kPeSection, 4);
    Little(image, section + 16, image.size() - headerSize, 4);  // raw size
    Little(image, section + 20, headerSize, 4);
    Little(image, section + 36, 0x60000020, 4);  // code, executable, readable
  } else {
    image.replace(0, 4,
                  "\x7F"
                  "ELF");
    image[4] = 2;                   // 64-bit
    image[5] = 1;                   // little-endian
    Little(image, 18, 62, 2);       // x86-64
    Little(image, 32, 64, 8);       // program headers at 64
    Little(image, 54, 56, 2);       // of 56 bytes
    Little(image, 56, 1, 2);        // one
    Little(image, 64, 1, 4);        // PT_LOAD
    Little(image, 68, 5, 4);        // readable, executable
    Little(image, 80, address, 8);  // loaded at
    Little(image, 96, image.size(), 8);
    Little(image, 104, image.size(), 8);
  }
  return image;
}

TEST(Patch, MakesTheNewFileFromTheBase) {
  const std::string words = Words(300000, 1);
  std::string edited = words;
  edited.replace(1000, 50, Random(80, 2));           // changed and grown
  edited.erase(150000, 3000);                        // cut
  edited.insert(200000, words.substr(5000, 20000));  // moved copy
  const struct {
    const char* name;
    std::string base, now;
  } cases[] = {
      {"both empty", "", ""},
      {"from nothing", "", Words(5000, 3)},
      {"to nothing", Words(5000, 3), ""},
      {"identical", words, words},
      {"edited", words, edited},
      {"base shorter", words.substr(0, 100000), words},
      {"base longer", words, words.substr(50000, 100000)},
      {"unrelated", Random(70000, 4), Random(60000, 5)},
      {"one byte", "a", "b"},
      {"zeros grown", std::string(100000, '\0'), std::string(150000, '\0')},
      {"code moved (ELF)", CodeImage(false, 400, 0), CodeImage(false, 400, 40)},
      {"code moved (PE)", CodeImage(true, 400, 0), CodeImage(true, 400, 40)},
  };
  for (const auto& c : cases) {
    const std::string patch = makePatch(c.base, c.now);
    EXPECT_EQ(Apply(c.base, patch), c.now) << c.name;
    MemoryReader reader(patch);
    const delta::PatchInfo info = delta::readPatchInfo(reader, patch.size());
    EXPECT_EQ(info.newSize, c.now.size()) << c.name;
    EXPECT_EQ(info.baseSize, c.base.size()) << c.name;
  }
}

// A few bytes inserted into code move hundreds of calls and addresses; with
// the prediction the patch holds little more than the inserted bytes, where
// plain differences would hold two bytes for every call that crosses them.
TEST(Patch, OfMovedCodeHoldsLittleMoreThanWhatChanged) {
  for (bool pe : {false, true}) {
    const std::string base = CodeImage(pe, 2000, 0), now = CodeImage(pe, 2000, 40);
    const std::string patch = makePatch(base, now);
    EXPECT_EQ(Apply(base, patch), now);
    EXPECT_LT(patch.size(), 1500u) << (pe ? "PE" : "ELF");
  }
}

// The applier cuts steps into pieces of its own size, the maker into others:
// a prediction must not depend on where the cuts fall.
TEST(AddressMap, PredictsTheSameBytesHoweverAStepIsCut) {
  std::string base = CodeImage(false, 300, 0);
  for (size_t at = 200; at + 8 < base.size(); at += 97) Little(base, at, 0x401000 + at * 3, 8);
  const delta::AddressMap map(
      delta::kAllRules,
      {{0, base.size() / 2, 0x400000, base.size() / 2, true, 0},
       {base.size() / 2, base.size() / 2, 0x500000, base.size(), false, 16}},
      {{0, 5}, {20000, -40}, {40000, 3}});
  const uint64_t stepBegin = 100, stepEnd = base.size() - 50;
  const auto* bytes = reinterpret_cast<const unsigned char*>(base.data());
  std::string whole = base.substr(stepBegin, stepEnd - stepBegin);
  map.predict({bytes, 0}, {stepBegin, stepEnd, 12}, stepBegin, stepEnd,
              reinterpret_cast<unsigned char*>(whole.data()));
  ASSERT_NE(whole, base.substr(stepBegin, stepEnd - stepBegin));
  std::mt19937 random(9);
  for (uint64_t begin = stepBegin; begin < stepEnd;) {
    const uint64_t end = std::min(stepEnd, begin + 1 + random() % 5000);
    const uint64_t windowBegin = begin - std::min(begin, delta::kContextBefore);
    // The window alone, as the applier reads it: a read outside it is out of bounds.
    const uint64_t windowEnd = std::min<uint64_t>(base.size(), end + delta::kContextAfter);
    const std::vector<unsigned char> window(bytes + windowBegin, bytes + windowEnd);
    std::string piece = base.substr(begin, end - begin);
    map.predict({window.data(), windowBegin}, {stepBegin, stepEnd, 12}, begin, end,
                reinterpret_cast<unsigned char*>(piece.data()));
    ASSERT_EQ(piece, whole.substr(begin - stepBegin, end - begin)) << begin;
    begin = end;
  }
}

TEST(Patch, DamagedOrForeignIsRefused) {
  const std::string base = CodeImage(false, 300, 0), now = CodeImage(false, 300, 24) + "tail";
  const std::string patch = makePatch(base, now);
  ASSERT_EQ(Apply(base, patch), now);

  // Every byte changed and every length cut short: refused, or (where the
  // change does not matter) the same file; never more bytes than it holds.
  // Changed rules (bytes 12 to 15) predict other bytes, which only the
  // result's hash can tell: the updater checks it.
  for (size_t at = 0; at < patch.size(); ++at) {
    std::string damaged = patch;
    damaged[at] = static_cast<char>(damaged[at] ^ (1 << (at % 8)));
    MemoryReader baseReader(base), patchReader(damaged);
    StringWriter out;
    const std::string error = ErrorOf(
        [&] { delta::applyPatch(baseReader, base.size(), patchReader, damaged.size(), out); });
    if (at < 16 || at >= 24) {
      EXPECT_LE(out.bytes.size(), now.size()) << at;
    }
    if (error.empty() && (at < 12 || at >= 16)) {
      EXPECT_EQ(out.bytes, now) << "byte " << at;
    }
  }
  for (size_t size = 0; size < patch.size(); size += 1 + size / 8)
    EXPECT_NE(ErrorOf([&] { Apply(base, patch.substr(0, size)); }), "") << size;

  const struct {
    std::string base, patch, message;
  } refusals[] = {
      {base + "x", patch,
       "The patch is for a file of " + std::to_string(base.size()) + " bytes, not " +
           std::to_string(base.size() + 1)},
      {base, "PK\3\4" + patch.substr(4), "Not a patch"},
      {base, patch.substr(0, 8) + std::string("\2\0\0\0", 4) + patch.substr(12),
       "Patch format version 2 is not supported"},
      {base, patch.substr(0, 12) + std::string("\0\0\0\1", 4) + patch.substr(16),
       "Patch has unknown flags"},
      {base, patch + "x", "Patch has bytes after its end"},
      {base, patch.substr(0, 40), "Patch is cut short"},
  };
  for (const auto& r : refusals) EXPECT_EQ(ErrorOf([&] { Apply(r.base, r.patch); }), r.message);
}

// A patch whose streams ask for more than the applier's memory, or whose
// steps leave the base or make too much, is refused, however it was made.
TEST(Patch, StepsOutsideTheBaseOrTheNewSizeAreRefused) {
  auto patchOf = [](uint64_t baseSize, uint64_t newSize, const std::string& control,
                    const std::string& diff, const std::string& extra) {
    delta::PatchHeader header;
    header.newSize = newSize;
    header.baseSize = baseSize;
    const std::string frames[] = {compressFrame(control), compressFrame(diff),
                                  compressFrame(extra)};
    header.controlSize = frames[0].size();
    header.diffSize = frames[1].size();
    header.extraSize = frames[2].size();
    return delta::encodeHeader(header) + frames[0] + frames[1] + frames[2];
  };
  auto steps = [](std::initializer_list<int64_t> numbers) {
    std::string control;
    size_t i = 0;
    for (int64_t n : numbers)
      delta::appendVarint(control, i++ % 3 == 2 ? delta::zigzag(n) : static_cast<uint64_t>(n));
    return control;
  };
  const std::string base = "0123456789";
  const std::string zeros = {'\x0A', '\0'};  // a run of 10 zero differences
  EXPECT_EQ(Apply(base, patchOf(10, 12, steps({10, 2, -10}), zeros, "ab")), base + "ab");
  const struct {
    std::string patch, message;
  } refusals[] = {
      {patchOf(10, 12, steps({11, 1, 0}), zeros, "a"),
       "Damaged patch: it reads past the base's end"},
      {patchOf(10, 12, steps({10, 3, 0}), zeros, "abc"),
       "Damaged patch: it makes more than its 12 bytes"},
      {patchOf(10, 12, steps({10, 0, 1, 0, 2, 0}), zeros, "ab"),
       "Damaged patch: it seeks outside the base"},
      {patchOf(10, 12, steps({10, 0, -11, 0, 2, 0}), zeros, "ab"),
       "Damaged patch: it seeks outside the base"},
      {patchOf(10, 12, steps({0, 0, 3, 0, 0, 0, 10, 2, 0}), zeros, "ab"),
       "Damaged patch: a step makes nothing"},
      {patchOf(10, 12, steps({10, 2, 0}), zeros + zeros, "ab"),
       "Damaged patch: it holds more than its 12 bytes"},
      {patchOf(10, 12, steps({10, 2, 0}), std::string(2, '\0'), "ab"),
       "Damaged patch: its diff stream holds an empty run"},
      {patchOf(10, 12, steps({10, 2, 0}), zeros, "a"),
       "Damaged patch: its extra stream ends early"},
      {patchOf(10, 12, std::string(11, '\xFF'), zeros, "ab"),
       "Damaged patch: a number in its control stream is too long"},
  };
  for (const auto& r : refusals) EXPECT_EQ(ErrorOf([&] { Apply(base, r.patch); }), r.message);
}

// A stream as the applier reads it: one frame, decompressed as it is read.
struct Stream {
  Stream(const std::string& bytes, int windowLog)
      : frame(compressFrame(bytes)),
        reader(frame),
        in(reader, 0, frame.size(), windowLog, "patch") {}
  std::string frame;
  MemoryReader reader;
  delta::FrameReader in;
};

// Each stream's reader gives back what its writer wrote: triples at the ends
// of their ranges, and diff bytes however zeros and other bytes alternate,
// written and read in pieces that cut through their runs.
TEST(PatchStreams, ReadBackWhatTheirWritersWrote) {
  const delta::Triple triples[] = {{0, 0, 0},
                                   {1, 2, -3},
                                   {~uint64_t{0}, 0, INT64_MIN},
                                   {0, ~uint64_t{0}, INT64_MAX},
                                   {300, 70000, -1}};
  std::string control;
  for (const delta::Triple& t : triples) delta::appendTriple(control, t);
  Stream controlStream(control, delta::kControlWindowLog);
  for (const delta::Triple& t : triples) {
    const delta::Triple back = delta::readTriple(controlStream.in);
    EXPECT_EQ(std::tie(back.add, back.copy, back.seek), std::tie(t.add, t.copy, t.seek));
  }
  EXPECT_TRUE(controlStream.in.atEnd());

  std::string mixed = Random(20000, 7);
  for (size_t at = 0; at < mixed.size(); at += 1 + at % 13) mixed.replace(at, at % 9, at % 9, '\0');
  const std::string diffs[] = {"", std::string(1000, '\0'), "only bytes",
                               std::string("\0\0a\0b\0\0\0\0c\0\0", 13), mixed};
  for (const std::string& bytes : diffs) {
    delta::DiffWriter writer;
    for (size_t at = 0; at < bytes.size(); at += 5)
      writer.add(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                 std::min<size_t>(5, bytes.size() - at));
    Stream diffStream(writer.finish(), delta::kDiffWindowLog);
    delta::DiffReader diff(diffStream.in);
    std::string back(bytes.size(), '\0');
    for (size_t at = 0; at < back.size(); at += 7)
      diff.addTo(reinterpret_cast<unsigned char*>(back.data()) + at,
                 std::min<size_t>(7, back.size() - at));
    EXPECT_EQ(back, bytes) << bytes.size();
    EXPECT_TRUE(diff.atEnd()) << bytes.size();
  }
}

// A zstd frame of the bytes whose window is 2^windowLog, however few the bytes.
std::string FrameWithWindow(const std::string& bytes, int windowLog) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
  std::string out(ZSTD_compressBound(bytes.size()) + 64, '\0');
  ZSTD_outBuffer output{out.data(), out.size(), 0};
  ZSTD_inBuffer input{bytes.data(), bytes.size(), 0};
  ZSTD_compressStream2(context, &output, &input, ZSTD_e_continue);  // the size stays unknown
  ZSTD_inBuffer none{nullptr, 0, 0};
  while (ZSTD_compressStream2(context, &output, &none, ZSTD_e_end) != 0) {
  }
  ZSTD_freeCCtx(context);
  out.resize(output.pos);
  return out;
}

// A frame of the format before the standard one (v0.7: single segment, one
// raw block), which a library built with the legacy formats decodes.
std::string LegacyFrame(std::string_view data) {
  const auto n = static_cast<unsigned char>(data.size());
  std::string frame = {'\x27', '\xB5', '\x2F',
                       '\xFD', '\x20', static_cast<char>(n),
                       '\x40', '\0',   static_cast<char>(n)};
  return frame.append(data).append("\xC0\0\0", 3);
}

TEST(CompressedCopy, GivesItsBytesAndRefusesAnythingElse) {
  const std::string text = Words(200000, 6);
  const std::string copy = compressFrame(text);
  EXPECT_LT(copy.size(), text.size() / 4);
  EXPECT_EQ(Decompress(copy, text.size()), text);
  EXPECT_EQ(Decompress(compressFrame(""), 0), "");
  EXPECT_EQ(Decompress(FrameWithWindow(text, delta::kMaxWindowLog), text.size()), text);

  const struct {
    std::string copy;
    uint64_t size;
    std::string message;
  } refusals[] = {
      {copy, text.size() - 1, "Damaged compressed copy: it holds more than 199999 bytes"},
      {copy, text.size() + 1, "Damaged compressed copy: it holds 200000 bytes, not 200001"},
      {copy + copy, text.size(), "Damaged compressed copy: it has bytes after its end"},
      {copy.substr(0, copy.size() / 2), text.size(), "Damaged compressed copy: it is cut short"},
      {text, text.size(), "Damaged compressed copy: it is not a zstd frame"},
      {LegacyFrame("an old format's frame"), 21, "Damaged compressed copy: it is not a zstd frame"},
      {FrameWithWindow(text, delta::kMaxWindowLog + 1), text.size(),
       "Damaged compressed copy: it needs more memory than 8 MiB"},
  };
  for (const auto& r : refusals)
    EXPECT_EQ(ErrorOf([&] { Decompress(r.copy, r.size); }), r.message) << r.message;
  std::string flipped = copy;
  flipped[copy.size() - 2] ^= 1;  // in the checksum
  EXPECT_NE(ErrorOf([&] { Decompress(flipped, text.size()); }), "");
}

TEST(AddressMap, RefusesWhatItCouldNotHaveWritten) {
  const delta::AddressMap map(delta::kRuleBranch,
                              {{0, 100, 1000, 200, true, -3}, {100, 50, 2000, 50, false, 0}},
                              {{0, 1}, {70, -2}});
  const delta::AddressMap back = delta::AddressMap::decode(map.rules(), map.encode());
  EXPECT_EQ(back.encode(), map.encode());
  using Segments = std::vector<delta::Segment>;
  const struct {
    Segments segments;
    std::vector<delta::Breakpoint> breakpoints;
    std::string message;
  } refusals[] = {
      {Segments{{0, 100, 1000, 100, true, 0}, {50, 100, 5000, 100, true, 0}},
       {},
       "Damaged patch: its address map has segments out of order"},
      {Segments{{0, 100, 1000, 100, true, 0}, {100, 100, 1050, 100, true, 0}},
       {},
       "Damaged patch: its address map has overlapping segments"},
      {Segments{{0, 100, ~uint64_t{0} - 10, 100, true, 0}},
       {},
       "Damaged patch: its address map has a segment out of range"},
      {Segments{},
       {{10, 1}, {10, 2}},
       "Damaged patch: its address map has breakpoints out of order"},
  };
  for (const auto& r : refusals)
    EXPECT_EQ(ErrorOf([&] { delta::AddressMap(delta::kAllRules, r.segments, r.breakpoints); }),
              r.message);
  std::string cut = map.encode();
  EXPECT_EQ(ErrorOf([&] { delta::AddressMap::decode(1, cut.substr(0, cut.size() - 1)); }),
            "Damaged patch: its address map is cut short or malformed");
  EXPECT_EQ(ErrorOf([&] { delta::AddressMap::decode(1, cut + "x"); }),
            "Damaged patch: its address map has bytes after its end");
}

}  // namespace
