// Hooks for the end-to-end tests only: they cut a run off at a chosen file
// operation by stopping the updater there and killing it, shorten the wait
// for a silent server and play a process without administrator rights. The
// system providers call them. They work in the test build of the updater
// alone (target updater_test); in the shipped one they do nothing.
#pragma once

namespace platform {

// With the environment variable UPDATER_TEST_PAUSE set to "<operation> <n>
// <marker>" (operation "copy", "replace" or "resume"), the n-th call of that
// operation first creates the file <marker> (a path of this system) and then
// waits until the test deletes it (a minute at most) before it goes on.
// Without the variable it does nothing.
void pauseForTest(const char* operation);

// With the environment variable UPDATER_TEST_READ_LIMIT_MS set, how long a
// transfer waits for a silent server before it counts as broken (instead of
// a minute); 0 without it.
int readLimitForTest();

// With the environment variable UPDATER_TEST_ELEVATION set to "limited", the
// Windows provider acts as if the process lacked administrator rights and
// every directory it probes refused it with access denied (the test system
// neither withholds rights nor enforces access control); with "limited
// refuse", the user also says no to starting it again with those rights.
// Null without the variable.
const char* elevationForTest();

}  // namespace platform
