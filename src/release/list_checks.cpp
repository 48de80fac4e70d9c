#include "release/list_checks.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace release {

namespace {

// Takes the first number off a version text (with its dot) and returns it
// without leading zeros; "" (0) once the text is used up.
std::string_view takeNumber(std::string_view& text) {
  const size_t end = std::min(text.find('.'), text.size());
  const std::string_view number = text.substr(0, end);
  text.remove_prefix(std::min(end + 1, text.size()));
  return number.substr(std::min(number.find_first_not_of('0'), number.size()));
}

}  // namespace

bool isVersion(std::string_view text) {
  size_t start = 0;
  while (true) {
    const size_t end = std::min(text.find('.', start), text.size());
    if (end == start) return false;
    for (size_t i = start; i < end; ++i)
      if (text[i] < '0' || text[i] > '9') return false;
    if (end == text.size()) return true;
    start = end + 1;
  }
}

int compareVersions(std::string_view a, std::string_view b) {
  while (!a.empty() || !b.empty()) {
    const std::string_view x = takeNumber(a), y = takeNumber(b);
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

std::string utcTimeText(int64_t seconds) {
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t inDay = seconds - days * 86400;
  const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                static_cast<int>(inDay % 60));
  return text;
}

std::string signedListProblem(const ReleaseList& list, int64_t now) {
  // A list that may be replayed only for a while: an old signed list cannot
  // keep the clients on a release its publisher has replaced, and a list
  // that never expires would let it do so for ever.
  if (list.expires.empty()) return "The signed list has no Expires";
  const auto expires = parseUtcTime(list.expires);
  if (!expires) return "Invalid Expires in update.ini";
  if (now > *expires) return "The release list expired on " + list.expires;
  if (!isVersion(list.newVersion)) return "Invalid NewVersion in update.ini";
  for (const ListedFile& file : list.files) {
    if (!file.expected.size || !file.expected.sha256)
      return "\"" + file.name + "\" has no size or hash in the signed list";
  }
  return "";
}

}  // namespace release
