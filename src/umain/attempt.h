// Whether a checked download that failed is tried again, and how: a pure
// function of what failed and what the attempts before did, so that every
// answer can be tested without a server (as the plan of each file is).
#pragma once

namespace UMain {

// What ended an attempt.
enum class Failure {
  Broken,               // the body broke off: a reset, an early close, a minute of silence
  RangeRefused,         // a range asked for, another part (or an unfitting 206) answered
  RangeNotSatisfiable,  // a range asked for, 416 answered (the file changed on the server)
  NotAsListed,          // the whole file arrived, shorter than listed or with another hash
  Other,                // anything else: a status, the disk, a body longer than listed
};

// What the attempts on one file did so far.
struct Attempts {
  // The list gives the file's size and hash: whatever bytes the file is
  // made of are checked at the end, so a broken body may be taken up.
  bool resumable = false;
  // Breaks taken up so far.
  int resumes = 0;
  // The file holds bytes of an earlier attempt or run (the next check of
  // the whole may fail for them rather than for the server's file).
  bool kept = false;
  // Fetched from its first byte once more after a whole file not as listed.
  bool fetchedWholeAgain = false;
};

// A body that breaks is taken up this many times.
inline constexpr int kResumeAttempts = 3;

enum class Next {
  Resume,   // ask for the rest, from the end of what the file holds
  Restart,  // the file anew, from its first byte
  Fail,     // the transfer's failure is the user's
};

Next NextAttempt(Failure failure, const Attempts& attempts);

}  // namespace UMain
