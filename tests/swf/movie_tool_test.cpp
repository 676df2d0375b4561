// The headless movie tool's fixed calendar (--date) and its input lists.
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

// The input lists: pointer events with their place and button, keys by name or character, typed
// text as its first character, pastes of the clipboard's text as it was set last; kinds the
// player does not take, and keys it does not know, are left out.
TEST(MovieToolInput, EventsOfTheListBecomeThePlayersInput) {
  const auto events = ParseInputEvents(R"([
    { "type": "MouseMove", "pos": [5.5, 6.0] },
    { "type": "MouseDown", "pos": [1, 2], "btn": "Middle" },
    { "type": "KeyDown", "key": "Tab" },
    { "type": "KeyUp", "key": { "Char": "q" } },
    { "type": "TextInput", "codepoint": "\u00e9" },
    { "type": "TextInput", "codepoint": "𝼙" },
    { "type": "KeyDown", "key": "NoSuchKey" },
    { "type": "TextControl", "code": "MoveRight" },
    { "type": "TextControl", "code": "Paste" },
    { "type": "SetClipboardText", "text": "x\u00e9" },
    { "type": "TextControl", "code": "SelectAll" },
    { "type": "TextControl", "code": "Paste" },
    { "type": "Wait" }
  ])");
  ASSERT_TRUE(events);
  using K = InputEvent::Kind;
  ASSERT_EQ(events->size(), 10u);
  const auto& e = *events;
  EXPECT_EQ(e[0].kind, K::kMouseMove);
  EXPECT_EQ(e[0].x, 5.5);
  EXPECT_EQ(e[1].kind, K::kMouseDown);
  EXPECT_EQ(e[1].button, 2);
  EXPECT_EQ(e[2].kind, K::kKeyDown);
  EXPECT_EQ(e[2].keyCode, 9);
  EXPECT_EQ(e[3].kind, K::kKeyUp);
  EXPECT_EQ(e[3].keyCode, 'Q');
  EXPECT_EQ(e[3].charCode, 'q');
  EXPECT_EQ(e[4].kind, K::kTextInput);
  EXPECT_EQ(e[4].character, U'\u00E9');
  EXPECT_EQ(e[5].character, U'\U0001DF19');
  EXPECT_EQ(e[6].kind, K::kCaretRight);
  EXPECT_EQ(e[7].kind, K::kPaste);
  EXPECT_EQ(e[7].pasted, U"");
  EXPECT_EQ(e[8].kind, K::kPaste);
  EXPECT_EQ(e[8].pasted, U"x\u00E9");
  EXPECT_EQ(e[9].kind, K::kWait);
  EXPECT_FALSE(ParseInputEvents("{}"));
}

TEST(MovieToolSocket, StepsOfThePeerKeepTheirBytesAndOrder) {
  const auto steps = ParseSocketSteps(R"([
    {"type": "Send", "payload": [72, 0, 255]},
    {"type": "Unknown"},
    {"type": "Receive", "expected": [1, 2]},
    {"type": "WaitForDisconnect"},
    {"type": "Disconnect"}
  ])");
  ASSERT_TRUE(steps);
  using K = SocketStep::Kind;
  ASSERT_EQ(steps->size(), 4u);
  EXPECT_EQ((*steps)[0].kind, K::kSend);
  EXPECT_EQ((*steps)[0].bytes, std::string("H\0\xFF", 3));
  EXPECT_EQ((*steps)[1].kind, K::kReceive);
  EXPECT_EQ((*steps)[1].bytes, std::string("\x01\x02"));
  EXPECT_EQ((*steps)[2].kind, K::kWaitForClose);
  EXPECT_EQ((*steps)[3].kind, K::kClose);
  EXPECT_FALSE(ParseSocketSteps("{}"));
}

}  // namespace
}  // namespace dbx::movie
