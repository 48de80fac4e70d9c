#include "umain/plan.h"

namespace UMain {

bool WantsInstalledHash(const release::ListedFile& file, std::optional<uint64_t> installedSize) {
  return file.expected.size && file.expected.sha256 && installedSize == file.expected.size;
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
  // What a cut-off run staged of a file whose size and hash are listed is
  // taken up where it stopped: every byte is checked at the end. Anything
  // else it left goes first, so that nothing of it can reach the
  // installation.
  if (expected.size && expected.sha256 && disk.stagedSize && *disk.stagedSize > 0 &&
      *disk.stagedSize < *expected.size) {
    plan.fetch = Fetch::Resume;
    plan.resumeFrom = *disk.stagedSize;
    return plan;
  }
  plan.discardStaged = disk.stagedSize.has_value();
  return plan;
}

}  // namespace UMain
