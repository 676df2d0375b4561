#include <gtest/gtest.h>

#include "slideshow/slideshow_values.h"

namespace dbx {
namespace {

TEST(SlideshowValues, ListsKeepEmptyPieces) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitKeepEmpty("a.jpg*b.jpg*", '*'), (V{"a.jpg", "b.jpg", ""}));
  EXPECT_EQ(SplitKeepEmpty("a.jpg*b.jpg*c.jpg", '*'), (V{"a.jpg", "b.jpg", "c.jpg"}));
  EXPECT_EQ(SplitKeepEmpty("", '*'), V{});
  EXPECT_EQ(SplitKeepEmpty("*", '*'), (V{"", ""}));
  EXPECT_EQ(SplitKeepEmpty("3  5", ' '), (V{"3", "", "5"}));
}

TEST(SlideshowValues, IntervalsFromTheLeadingNumber) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> ms;
  };
  const Case cases[] = {{"5", 5000},
                        {"2.5", 2500},
                        {" 3 ", 3000},
                        {"1 0", 10000},
                        {"7abc", 7000},
                        {"0.0005", std::nullopt},
                        {"0.0015", 2},
                        {"0", std::nullopt},
                        {"", std::nullopt},
                        {"abc", std::nullopt},
                        {"-5", std::nullopt},
                        {"86400", 86400000},
                        {"1e1", 10000},
                        {"2e", 2000},
                        {"1e400", std::nullopt},
                        {".5", 500},
                        {"99999999999", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(IntervalMs(c.text), c.ms) << "'" << c.text << "'";
}

TEST(SlideshowValues, EffectEntriesAreSmallWholeNumbers) {
  EXPECT_EQ(ParseSmallInteger("17"), 17);
  EXPECT_EQ(ParseSmallInteger(" 3 "), 3);
  EXPECT_EQ(ParseSmallInteger("19"), 19);
  EXPECT_EQ(ParseSmallInteger("x"), std::nullopt);
  EXPECT_EQ(ParseSmallInteger(""), std::nullopt);
  EXPECT_EQ(ParseSmallInteger("40000"), std::nullopt);
}

}  // namespace
}  // namespace dbx
