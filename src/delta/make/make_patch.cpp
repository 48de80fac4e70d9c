#include "delta/make/make_patch.h"

#include <divsufsort.h>
#include <divsufsort64.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "delta/address_map.h"
#include "delta/delta.h"
#include "delta/make/executable.h"
#include "delta/patch_format.h"
#include "delta/streams.h"

namespace delta {

namespace {

// One triple of the control stream, with where it reads and writes.
struct PlacedTriple : Triple {
  uint64_t oldStart = 0;
  uint64_t newStart = 0;
};

// See the search loop of matchSteps.
constexpr int64_t kLongMatch = 64;
// Stretches shorter than this do not place the address map's breakpoints: a
// few bytes that happen to match elsewhere say nothing about where code went.
constexpr uint64_t kMinMappedStretch = 64;
// Pieces in which steps are predicted and differenced.
constexpr uint64_t kPiece = uint64_t{1} << 20;
// The new file's bytes matched between two progress reports.
constexpr int64_t kProgressStep = int64_t{1} << 20;

int64_t matchLength(const uint8_t* a, int64_t aSize, const uint8_t* b, int64_t bSize) {
  const int64_t n = std::min(aSize, bSize);
  int64_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// The longest match of now[0..) among the old file's suffixes, by binary
// search over the suffix array; its length, and its start in *pos.
template <typename Index>
int64_t longestMatch(const Index* sa, const uint8_t* old, int64_t oldSize, const uint8_t* now,
                     int64_t nowSize, int64_t* pos) {
  *pos = 0;
  if (oldSize == 0) return 0;
  int64_t low = 0, high = oldSize - 1;
  while (high - low >= 2) {
    const int64_t mid = low + (high - low) / 2;
    const int64_t start = sa[mid];
    if (std::memcmp(old + start, now, static_cast<size_t>(std::min(oldSize - start, nowSize))) < 0)
      low = mid;
    else
      high = mid;
  }
  const int64_t lowLength = matchLength(old + sa[low], oldSize - sa[low], now, nowSize);
  const int64_t highLength = matchLength(old + sa[high], oldSize - sa[high], now, nowSize);
  *pos = lowLength > highLength ? sa[low] : sa[high];
  return std::max(lowLength, highLength);
}

// The steps that make the new file. A stretch of it is covered by the old
// bytes at a chosen alignment (the diff stream then holds the byte-wise
// differences, mostly zeros where code moved but little changed) until a
// match appears that beats that alignment by more than 8 bytes; the stretch
// between two alignments is split where the bytes favour each side, and what
// neither covers is given as it is (the extra stream).
template <typename Index>
std::vector<PlacedTriple> matchSteps(const Index* sa, std::string_view oldText,
                                     std::string_view nowText, const PatchProgress& progress) {
  const auto* old = reinterpret_cast<const uint8_t*>(oldText.data());
  const auto* now = reinterpret_cast<const uint8_t*>(nowText.data());
  const auto oldSize = static_cast<int64_t>(oldText.size());
  const auto nowSize = static_cast<int64_t>(nowText.size());
  std::vector<PlacedTriple> steps;
  int64_t scan = 0, length = 0, pos = 0;
  int64_t lastScan = 0, lastPos = 0, lastOffset = 0, reported = 0;
  while (scan < nowSize) {
    int64_t oldScore = 0;
    scan += length;
    for (int64_t scored = scan; scan < nowSize; ++scan) {
      length = longestMatch(sa, old, oldSize, now + scan, nowSize - scan, &pos);
      for (; scored < scan + length; ++scored)
        if (scored + lastOffset < oldSize && old[scored + lastOffset] == now[scored]) ++oldScore;
      if ((length == oldScore && length != 0) || length > oldScore + 8) break;
      // A long match elsewhere that the current alignment nearly equals:
      // starting later within it, it cannot beat the alignment either, so
      // the search resumes near its end instead of at every byte of it
      // (which made long repeated stretches cost their length squared).
      const int64_t skip = length > kLongMatch ? length - kLongMatch : 1;
      for (const int64_t end = scan + skip; scan < end; ++scan)
        if (scan + lastOffset < oldSize && old[scan + lastOffset] == now[scan]) --oldScore;
      --scan;
    }
    if (progress && scan - reported >= kProgressStep) {
      progress(static_cast<uint64_t>(scan - reported));
      reported = scan;
    }
    if (length == oldScore && scan != nowSize) continue;

    // How far the last alignment reaches forward, and the new one backward:
    // as far as more than half of the bytes match.
    int64_t forward = 0;
    for (int64_t i = 0, same = 0, best = 0; lastScan + i < scan && lastPos + i < oldSize;) {
      if (old[lastPos + i] == now[lastScan + i]) ++same;
      ++i;
      if (same * 2 - i > best * 2 - forward) {
        best = same;
        forward = i;
      }
    }
    int64_t backward = 0;
    if (scan < nowSize) {
      for (int64_t i = 1, same = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
        if (old[pos - i] == now[scan - i]) ++same;
        if (same * 2 - i > best * 2 - backward) {
          best = same;
          backward = i;
        }
      }
    }
    // Where the two overlap, the split that matches the most bytes.
    if (lastScan + forward > scan - backward) {
      const int64_t overlap = (lastScan + forward) - (scan - backward);
      int64_t score = 0, bestScore = 0, split = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (now[lastScan + forward - overlap + i] == old[lastPos + forward - overlap + i]) ++score;
        if (now[scan - backward + i] == old[pos - backward + i]) --score;
        if (score > bestScore) {
          bestScore = score;
          split = i + 1;
        }
      }
      forward += split - overlap;
      backward -= split;
    }

    const int64_t copy = (scan - backward) - (lastScan + forward);
    const int64_t seek = (pos - backward) - (lastPos + forward);
    // A step that makes nothing only moves the old position: the previous
    // step's seek takes that over (only the first step may make nothing).
    if (forward + copy == 0 && !steps.empty())
      steps.back().seek += seek;
    else
      steps.push_back({{static_cast<uint64_t>(forward), static_cast<uint64_t>(copy), seek},
                       static_cast<uint64_t>(lastPos),
                       static_cast<uint64_t>(lastScan)});
    lastScan = scan - backward;
    lastPos = pos - backward;
    lastOffset = pos - scan;
  }
  if (progress && nowSize > reported) progress(static_cast<uint64_t>(nowSize - reported));
  return steps;
}

template <typename Index>
std::vector<PlacedTriple> suffixSortAndMatch(std::string_view old, std::string_view now,
                                             const PatchProgress& progress) {
  std::unique_ptr<Index[]> sa(new Index[old.size() + 1]);
  const auto* bytes = reinterpret_cast<const sauchar_t*>(old.data());
  int failed;
  if constexpr (sizeof(Index) == sizeof(saidx_t))
    failed = divsufsort(bytes, sa.get(), static_cast<saidx_t>(old.size()));
  else
    failed = divsufsort64(bytes, sa.get(), static_cast<saidx64_t>(old.size()));
  if (failed) throw std::runtime_error("suffix sorting failed");
  return matchSteps(sa.get(), old, now, progress);
}

// Where each stretch of the base went: the longer stretches first, so that
// a short match elsewhere does not take the place of the code around it.
std::vector<Breakpoint> breakpointsOf(const std::vector<PlacedTriple>& steps) {
  for (uint64_t shortest = kMinMappedStretch;; shortest *= 2) {
    std::vector<const PlacedTriple*> stretches;
    for (const PlacedTriple& step : steps)
      if (step.add >= shortest) stretches.push_back(&step);
    std::stable_sort(stretches.begin(), stretches.end(),
                     [](const PlacedTriple* a, const PlacedTriple* b) { return a->add > b->add; });
    std::map<uint64_t, std::pair<uint64_t, int64_t>> painted;  // start -> (end, shift)
    for (const PlacedTriple* step : stretches) {
      const int64_t shift = static_cast<int64_t>(step->newStart - step->oldStart);
      uint64_t from = step->oldStart;
      const uint64_t end = step->oldStart + step->add;
      auto next = painted.upper_bound(from);
      if (next != painted.begin() && std::prev(next)->second.first > from)
        from = std::prev(next)->second.first;
      while (from < end) {
        const uint64_t until = next == painted.end() ? end : std::min(end, next->first);
        if (until > from) painted.emplace(from, std::make_pair(until, shift));
        if (next == painted.end() || next->first >= end) break;
        from = next->second.first;
        ++next;
      }
    }
    std::vector<Breakpoint> breakpoints;
    for (const auto& [start, stretch] : painted)
      if (breakpoints.empty() ? stretch.second != 0 : breakpoints.back().shift != stretch.second)
        breakpoints.push_back({start, stretch.second});
    if (breakpoints.size() <= kMaxBreakpoints) return breakpoints;
  }
}

// The diff stream of the steps against the base with the map's prediction.
std::string diffStream(std::string_view old, std::string_view now,
                       const std::vector<PlacedTriple>& steps, const AddressMap& map) {
  const auto* oldBytes = reinterpret_cast<const unsigned char*>(old.data());
  const auto* nowBytes = reinterpret_cast<const unsigned char*>(now.data());
  std::vector<unsigned char> piece(static_cast<size_t>(std::min<uint64_t>(kPiece, now.size())));
  DiffWriter runs;
  for (const PlacedTriple& step : steps) {
    const auto shift = static_cast<int64_t>(step.newStart - step.oldStart);
    for (uint64_t done = 0; done < step.add; done += kPiece) {
      const uint64_t begin = step.oldStart + done;
      const size_t n = static_cast<size_t>(std::min(kPiece, step.add - done));
      std::memcpy(piece.data(), oldBytes + begin, n);
      map.predict({oldBytes, 0}, {step.oldStart, step.oldStart + step.add, shift}, begin, begin + n,
                  piece.data());
      const unsigned char* target = nowBytes + step.newStart + done;
      for (size_t i = 0; i < n; ++i) piece[i] = static_cast<unsigned char>(target[i] - piece[i]);
      runs.add(piece.data(), n);
    }
  }
  return runs.finish();
}

// A patch's stream: the window as the format allows, the match finder's
// tables fitted to the stream (level 19's own are sized for the largest
// window; fitted, they take a fraction of the memory and time for the same
// bytes within a fifth of a percent). The tree covers the stream; the hash
// table that leads into it is an eighth of the tree's size, which costs a
// few bytes in a hundred thousand and a quarter of the memory.
ZstdOptions forStream(int windowLog) {
  ZstdOptions options;
  options.windowLog = windowLog;
  options.fitTables = true;
  return options;
}

}  // namespace

std::string compressFrame(std::string_view bytes, const ZstdOptions& options) {
  std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
  if (!context) throw std::runtime_error("out of memory");
  const int windowLog = std::min(options.windowLog, kMaxWindowLog);
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, options.level);
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog);
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1);
  if (options.fitTables) {
    int log = 10;
    while (log < windowLog && (uint64_t{1} << log) < bytes.size()) ++log;
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_chainLog, log - 1);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_hashLog, log - 4);
  }
  // Written into memory that is only touched as far as the frame goes.
  const size_t bound = ZSTD_compressBound(bytes.size());
  std::unique_ptr<char[]> out(new char[bound]);
  const size_t size = ZSTD_compress2(context.get(), out.get(), bound, bytes.data(), bytes.size());
  context.reset();  // its tables go before the frame is copied out
  if (ZSTD_isError(size)) throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(size));
  return std::string(out.get(), size);
}

std::string makePatch(std::string_view old, std::string_view now, const PatchProgress& progress) {
  const std::vector<PlacedTriple> steps = old.size() < (size_t{1} << 31)
                                              ? suffixSortAndMatch<saidx_t>(old, now, progress)
                                              : suffixSortAndMatch<saidx64_t>(old, now, progress);

  // The extra stream first and alone: level 19's tables for it are the
  // largest thing a patch needs, so they are not held beside the diff
  // streams and their frames (on a thread of its own, they were, for a
  // twentieth of the time).
  const std::string extra = [&] {
    std::string bytes;
    for (const PlacedTriple& step : steps)
      bytes.append(now.substr(step.newStart + step.add, step.copy));
    return compressFrame(bytes, forStream(kExtraWindowLog));
  }();

  // With the address prediction where the base is an x86 executable and the
  // prediction leaves fewer bytes to give.
  AddressMap map;
  std::string diff = diffStream(old, now, steps, map);
  if (const std::optional<ExecutableLayout> layout = executableLayout(old)) {
    AddressMap predicting(layout->rules, layout->segments, breakpointsOf(steps));
    std::string predicted = diffStream(old, now, steps, predicting);
    if (predicted.size() < diff.size()) {
      diff = std::move(predicted);
      map = std::move(predicting);
    }
  }
  std::string control;
  for (const PlacedTriple& step : steps) appendTriple(control, step);
  PatchHeader header;
  header.rules = map.rules();
  header.newSize = now.size();
  header.baseSize = old.size();
  const std::string mapFrame =
      map.rules() ? compressFrame(map.encode(), forStream(kMapWindowLog)) : "";
  const std::string controlFrame = compressFrame(control, forStream(kControlWindowLog));
  const std::string diffFrame = compressFrame(diff, forStream(kDiffWindowLog));
  header.mapSize = mapFrame.size();
  header.controlSize = controlFrame.size();
  header.diffSize = diffFrame.size();
  header.extraSize = extra.size();
  return encodeHeader(header) + mapFrame + controlFrame + diffFrame + extra;
}

}  // namespace delta
