#include "platform/test_pause.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform {

// The shipped builds are compiled without UPDATER_TEST_HOOKS: the hooks do
// nothing there and no setting of the environment reaches them. The builds
// the tests run link this file compiled with it, which takes the place of
// the empty hooks.
#ifdef UPDATER_TEST_HOOKS

// Plain C text functions and stdio only: the stream library would grow the
// test build far beyond the shipped one.
void pauseForTest(const char* operation) {
  const char* setting = std::getenv("UPDATER_TEST_PAUSE");
  if (!setting) return;
  const size_t length = std::strlen(operation);
  if (std::strncmp(setting, operation, length) != 0 || setting[length] != ' ') return;
  char* rest = nullptr;
  const long n = std::strtol(setting + length + 1, &rest, 10);
  // The setting names one operation: only its calls are counted.
  static long calls = 0;
  if (++calls != n || *rest != ' ') return;
  const char* path = rest + 1;
  if (std::FILE* marker = std::fopen(path, "w")) std::fclose(marker);
  // Until the test deletes the marker, a minute at most.
  for (int waited = 0; waited < 60000; waited += 50) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::FILE* marker = std::fopen(path, "r");
    if (!marker) return;
    std::fclose(marker);
  }
}

int readLimitForTest() {
  const char* value = std::getenv("UPDATER_TEST_READ_LIMIT_MS");
  return value ? std::atoi(value) : 0;
}

const char* elevationForTest() {
  return std::getenv("UPDATER_TEST_ELEVATION");
}

#else

void pauseForTest(const char*) {}
int readLimitForTest() {
  return 0;
}
const char* elevationForTest() {
  return nullptr;
}

#endif

}  // namespace platform
