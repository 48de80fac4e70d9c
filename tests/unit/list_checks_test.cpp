// Version order and expiry times of a signed release description.
#include "release/list_checks.h"

#include <gtest/gtest.h>

namespace {

TEST(ListChecks, VersionsAreDottedNumbersComparedNumberByNumber) {
  for (const char* bad : {"", ".", "6.", ".6", "6..3", "6.3 ", " 6.3", "6.-3", "+6", "6,3", "v6",
                          "6.3a", "6.\xA3\xB3"})
    EXPECT_FALSE(release::isVersion(bad)) << bad;

  const struct {
    const char *a, *b;
    int order;
  } cases[] = {
      {"6.3.0.0", "6.3.0.0", 0},    {"6.3", "6.3.0.0", 0},
      {"6.3.0.1", "6.3", 1},        {"6.2.9.9", "6.3.0.0", -1},
      {"6.10", "6.9", 1},           {"06.010", "6.10", 0},
      {"0", "0.0.0.0", 0},          {"10", "9.99.99", 1},
      {"6.3.0.0.1", "6.3.0.0", 1},  {"123456789012345678901", "123456789012345678902", -1},
      {"65535.65535", "65536", -1},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(release::isVersion(c.a) && release::isVersion(c.b)) << c.a << " " << c.b;
    EXPECT_EQ(release::compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(release::compareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
  }
}

TEST(ListChecks, ExpiryTimesAreExactUtcTimesWrittenTheSameWay) {
  const struct {
    const char* text;
    std::optional<int64_t> seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2026-12-08T15:30:05Z", 1796743805},
      {"2000-02-29T23:59:59Z", 951868799},
      {"1969-12-31T23:59:59Z", -1},
      {"9999-12-31T23:59:59Z", 253402300799},
      {"2001-02-29T00:00:00Z", std::nullopt},  // not a leap year
      {"2026-04-31T00:00:00Z", std::nullopt},
      {"2026-13-01T00:00:00Z", std::nullopt},
      {"2026-00-10T00:00:00Z", std::nullopt},
      {"2026-12-08T24:00:00Z", std::nullopt},
      {"2026-12-08T12:60:00Z", std::nullopt},
      {"2026-12-08T12:00:60Z", std::nullopt},
      {"2026-12-08T12:00:00", std::nullopt},
      {"2026-12-08 12:00:00Z", std::nullopt},
      {"2026-12-08T12:00:00+00:00", std::nullopt},
      {"2026-12-8T12:00:00Z", std::nullopt},
      {"2026-12-08T12:00:0xZ", std::nullopt},
      {"+026-12-08T12:00:00Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(release::parseUtcTime(c.text), c.seconds) << c.text;
    if (c.seconds) {
      EXPECT_EQ(release::utcTimeText(*c.seconds), c.text);  // and back
    }
  }
}

}  // namespace
