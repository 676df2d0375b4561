// The headless movie tool's fixed calendar (--date): the moment and zone it reads.
#include <gtest/gtest.h>

#include <optional>

#include "movie_run.h"

namespace dbx::movie {
namespace {

TEST(MovieToolDate, LocalTimesInAZoneBecomeTheirMomentInUtc) {
  struct Case {
    const char* text;
    double nowMs, zoneMinutes;
  } cases[] = {
      {"2001-02-03T04:05:06+05:45", 981152406000.0, 345},
      {"1970-01-01T00:00:00Z", 0, 0},
      {"1969-12-31T23:59:59Z", -1000, 0},
      {"2000-02-29T12:00:00-08:00", 951854400000.0, -480},
      {"1600-03-01T00:00:00Z", -11670912000000.0, 0},
  };
  for (const Case& c : cases) {
    const std::optional<swf::FixedDate> d = ParseFixedDate(c.text);
    ASSERT_TRUE(d) << c.text;
    EXPECT_EQ(d->nowMs, c.nowMs) << c.text;
    EXPECT_EQ(d->zoneOffsetMs, c.zoneMinutes * 60000) << c.text;
  }
}

TEST(MovieToolDate, TextsThatAreNotADateInAZoneAreRefused) {
  for (const char* text :
       {"", "2001-02-03T04:05:06", "2001-02-03 04:05:06Z", "2001-02-30T00:00:00Z",
        "2001-02-29T00:00:00Z", "2001-13-01T00:00:00Z", "2001-02-03T24:00:00Z",
        "2001-02-03T04:05:06+5:45", "2001-02-03T04:05:06+05:45 ", "2001-02-03T04:05:06Zx",
        "2001-02-03T04:05:06+24:00", "2OO1-02-03T04:05:06Z"})
    EXPECT_FALSE(ParseFixedDate(text)) << '"' << text << '"';
}

}  // namespace
}  // namespace dbx::movie
