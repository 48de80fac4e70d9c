#include "release/list_checks.h"

#include <algorithm>
#include <chrono>

namespace release {

std::optional<Version> parseVersion(std::string_view text) {
  Version version;
  size_t start = 0;
  while (true) {
    const size_t end = std::min(text.find('.', start), text.size());
    std::string_view field = text.substr(start, end - start);
    if (field.empty() || field.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    const size_t digits = std::min(field.find_first_not_of('0'), field.size());
    version.emplace_back(field.substr(digits));
    if (end == text.size()) return version;
    start = end + 1;
  }
}

int compareVersions(const Version& a, const Version& b) {
  static const std::string zero;
  for (size_t i = 0; i < a.size() || i < b.size(); ++i) {
    const std::string& x = i < a.size() ? a[i] : zero;
    const std::string& y = i < b.size() ? b[i] : zero;
    // Without leading zeros the longer number is the larger one.
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    if (const int order = x.compare(y)) return order < 0 ? -1 : 1;
  }
  return 0;
}

std::optional<int64_t> parseUtcTime(std::string_view text) {
  // Positions of the digits in "YYYY-MM-DDTHH:MM:SSZ" and of the separators.
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  auto number = [&](size_t at, size_t length) -> std::optional<int> {
    int value = 0;
    for (size_t i = at; i < at + length; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const auto year = number(0, 4), month = number(5, 2), day = number(8, 2), hour = number(11, 2),
             minute = number(14, 2), second = number(17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*year),
                                         std::chrono::month(static_cast<unsigned>(*month)),
                                         std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  const int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
  return days * 86400 + *hour * 3600 + *minute * 60 + *second;
}

}  // namespace release
