#include "umain/plan.h"

namespace UMain {

FilePlan PlanFile(const release::ListedFile& file, const OnDisk& disk) {
  FilePlan plan;
  const release::Expected& expected = file.expected;
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
