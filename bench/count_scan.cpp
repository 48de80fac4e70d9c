// The update list's key scan with Count=2147483647 against Count=3 on the
// same three entries: the ratio of the median times of interleaved rounds.
// The scan must cost what the file holds, not what Count says.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "ini/profile.h"

namespace {

double timeScan(const ini::Profile& profile, int32_t count) {
  const auto start = std::chrono::steady_clock::now();
  size_t names = 0;
  for (int i = 0; i < 2000; ++i) names += profile.numberedValues("FileList", "File", count).size();
  const auto end = std::chrono::steady_clock::now();
  if (names != 3 * 2000) std::fprintf(stderr, "unexpected result\n");
  return std::chrono::duration<double, std::micro>(end - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const ini::Profile profile(
      "[Version]\r\nNewVersion=6.3\r\n[FileList]\r\nCount=2147483647\r\n"
      "File1=client.exe\r\nFile2=data.dll\r\nFile3=lang\\zh.txt\r\n");
  std::vector<double> small, huge;
  for (int round = 0; round < 21; ++round) {
    small.push_back(timeScan(profile, 3));
    huge.push_back(timeScan(profile, 2147483647));
  }
  const double ratio = median(huge) / median(small);
  std::printf("{\"count_scan\": {\"count_3_us\": %.1f, \"count_max_us\": %.1f, \"ratio\": %.3f}}\n",
              median(small), median(huge), ratio);
  return ratio <= 1.1 ? 0 : 1;
}
