#include "umain/attempt.h"

namespace UMain {

Next NextAttempt(Failure failure, const Attempts& attempts) {
  switch (failure) {
    case Failure::Broken:
      return attempts.resumable && attempts.resumes < kResumeAttempts ? Next::Resume : Next::Fail;
    case Failure::RangeRefused:
    case Failure::RangeNotSatisfiable:
      return Next::Restart;
    case Failure::NotAsListed:
      // Pieces of two versions of the file, or a prefix left by an earlier
      // run that was not what it seemed: once more from the first byte, and
      // only that attempt's failure is the transfer's.
      return attempts.kept && !attempts.fetchedWholeAgain ? Next::Restart : Next::Fail;
    case Failure::Other:
      break;
  }
  return Next::Fail;
}

}  // namespace UMain
