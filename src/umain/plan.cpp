#include "umain/plan.h"

namespace UMain {

bool WantsInstalledHash(const release::ListedFile& file, std::optional<uint64_t> installedSize) {
  if (!installedSize || !file.expected.size || !file.expected.sha256) return false;
  return installedSize == file.expected.size || !file.patches.empty();
}

FilePlan PlanFile(const release::ListedFile& file, const OnDisk& disk) {
  FilePlan plan;
  const release::Expected& expected = file.expected;
  // A file already as listed is left alone; whatever a cut-off run staged
  // for it goes.
  if (WantsInstalledHash(file, disk.installedSize) && disk.installedHash == expected.sha256) {
    plan.fetch = Fetch::Current;
    plan.discardStaged = disk.stagedSize.has_value();
    return plan;
  }
  // A patch made for exactly the installed bytes.
  const release::Delta* patch = nullptr;
  for (const release::Delta& offered : file.patches)
    if (!patch && disk.installedHash && offered.base == *disk.installedHash) patch = &offered;
  // What a cut-off run staged of a file whose size and hash are listed is
  // taken up where it stopped (every byte is checked at the end), unless
  // the patch costs fewer bytes than the rest. Anything else it left goes
  // first, so that nothing of it can reach the installation.
  if (expected.size && expected.sha256 && disk.stagedSize && *disk.stagedSize > 0 &&
      *disk.stagedSize < *expected.size &&
      !(patch && *patch->expected.size < *expected.size - *disk.stagedSize)) {
    plan.fetch = Fetch::Resume;
    plan.resumeFrom = *disk.stagedSize;
    return plan;
  }
  plan.discardStaged = disk.stagedSize.has_value();
  // The cheaper ways, when the list names them: the patch, else the
  // compressed copy. Either ends in the same check as the plain file, which
  // is fetched when they fail.
  if (patch) {
    plan.fetch = Fetch::Patch;
    plan.delta = patch;
  } else if (file.copy) {
    plan.fetch = Fetch::Copy;
    plan.delta = &*file.copy;
  }
  return plan;
}

}  // namespace UMain
