#include "umain/plan.h"

namespace UMain {

FilePlan PlanFile(const release::ListedFile&, const OnDisk& disk) {
  FilePlan plan;
  // A download is staged from its first byte: what a cut-off run left of it
  // goes first, so that nothing of it can reach the installation.
  plan.discardStaged = disk.stagedSize.has_value();
  plan.fetch = Fetch::Whole;
  return plan;
}

}  // namespace UMain
