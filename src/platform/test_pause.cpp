#include "platform/test_pause.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform {

// Plain C text functions and stdio only: the stream library would double the
// size of the shipped executable for this test hook.
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
  if (std::FILE* marker = std::fopen(rest + 1, "w")) std::fclose(marker);
  std::this_thread::sleep_for(std::chrono::minutes(1));
}

int readLimitForTest() {
  const char* value = std::getenv("UPDATER_TEST_READ_LIMIT_MS");
  return value ? std::atoi(value) : 0;
}

const char* elevationForTest() {
  return std::getenv("UPDATER_TEST_ELEVATION");
}

}  // namespace platform
