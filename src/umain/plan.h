// What the run does with each listed file, decided from what the release
// lists for it and what lies on disk when the run starts. A pure function of
// plain values: every decision can be tested without a server, a window or
// files, and each new way of getting a file is one more answer here.
#pragma once

#include <cstdint>
#include <optional>

#include "release/release_list.h"

namespace UMain {

// What lies on disk for one listed file when the run starts.
struct OnDisk {
  // The size of the staged download (Place::Staged of the name) that a run cut
  // off before its end left beside the target; nullopt when there is none.
  std::optional<uint64_t> stagedSize;
  // The target the download would replace: its size (nullopt when there is
  // none) and, where its size is the listed one, its SHA-256.
  std::optional<uint64_t> installedSize;
  std::optional<release::Digest> installedHash;
};

// Whether the installed file's hash is worth computing: for a size that
// matches (a file already current), and for any installed file where the
// list names patches (each applies to a base of one hash).
bool WantsInstalledHash(const release::ListedFile& file, std::optional<uint64_t> installedSize);

// How the file's new bytes are fetched.
enum class Fetch {
  Current,  // nothing: the installed file is what the release lists
  Whole,    // the plain file, from its first byte
  Resume,   // the plain file, from the end of what an earlier run staged
  Patch,    // a patch from the installed file, applied to it
  Copy,     // the compressed copy, decompressed
};

struct FilePlan {
  Fetch fetch = Fetch::Whole;
  uint64_t resumeFrom = 0;  // for Resume: the bytes staged already
  // For Patch and Copy: the one of the file's cheaper ways chosen.
  const release::Delta* delta = nullptr;
  // Whether the staged download an earlier run left is deleted first.
  bool discardStaged = false;
};

FilePlan PlanFile(const release::ListedFile& file, const OnDisk& disk);

}  // namespace UMain
