// The ID3 tag of an MP3 file as scripts read it: text frames and comments in every text encoding,
// in versions 2.3 and 2.4, with the unsynchronisation, extended headers and frame flags the
// versions have, and no reading past a damaged frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "swf/format/id3_tags.h"

namespace dbx::swf {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Str(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

void Put32(Bytes& out, std::uint32_t v, bool syncsafe) {
  for (int i = 3; i >= 0; --i)
    out.push_back(static_cast<std::uint8_t>(syncsafe ? (v >> (7 * i)) & 0x7F : v >> (8 * i)));
}

Bytes Frame(const std::string& id, const Bytes& payload, int version, std::uint16_t flags = 0) {
  Bytes f = Str(id);
  Put32(f, static_cast<std::uint32_t>(payload.size()), version == 4);
  f.push_back(static_cast<std::uint8_t>(flags >> 8));
  f.push_back(static_cast<std::uint8_t>(flags));
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

Bytes Tag(int version, const Bytes& body, std::uint8_t flags = 0) {
  Bytes t = {'I', 'D', '3', static_cast<std::uint8_t>(version), 0, flags};
  Put32(t, static_cast<std::uint32_t>(body.size()), true);
  t.insert(t.end(), body.begin(), body.end());
  return t;
}

std::vector<std::pair<std::string, std::string>> Read(const Bytes& tag) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const Id3Frame& f : ReadId3(tag.data(), tag.size())) out.emplace_back(f.id, f.text);
  return out;
}

TEST(Id3Tags, TextFramesAndCommentsInEveryEncoding) {
  for (const int version : {3, 4}) {
    SCOPED_TRACE("version 2." + std::to_string(version));
    const Bytes body = Cat({
        Frame("TIT2", Cat({{0}, Str("Caf\xE9")}), version),                 // Latin-1
        Frame("TPE1", {1, 0xFF, 0xFE, 'A', 0, 0x3A, 0x04, 0, 0}, version),  // UTF-16, little end
        Frame("TALB", {1, 0xFE, 0xFF, 0xD8, 0x3D, 0xDE, 0x00},
              version),                               // UTF-16, a surrogate pair
        Frame("TYER", {2, 0, '1', 0, '9'}, version),  // UTF-16 big-endian
        Frame("TCON", Cat({{3}, Str("Jazz \xE2\x99\xAA"), {0}}), version),  // UTF-8
        Frame("TXXX", Cat({{0}, Str("key"), {0}, Str("value")}), version),  // left out
        Frame("WOAR", Str("http://example.com"), version),                  // left out
        Frame("COMM", Cat({{0}, Str("eng"), Str("short"), {0}, Str("The comment")}), version),
        Frame("COMM", {1, 'e', 'n', 'g', 0xFF, 0xFE, 'd', 0, 0, 0, 0xFF, 0xFE, 'x', 0}, version),
        Frame("TRCK", {}, version),            // empty: left out
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // padding ends the frames
        Frame("TPOS", Cat({{0}, Str("1")}), version),
    });
    const auto frames = Read(Tag(version, body));
    const std::vector<std::pair<std::string, std::string>> want = {{"TIT2", "Caf\xC3\xA9"},
                                                                   {"TPE1", "A\xD0\xBA"},
                                                                   {"TALB", "\xF0\x9F\x98\x80"},
                                                                   {"TYER", "19"},
                                                                   {"TCON", "Jazz \xE2\x99\xAA"},
                                                                   {"COMM", "The comment"},
                                                                   {"COMM", "x"}};
    EXPECT_EQ(frames, want);
  }
}

TEST(Id3Tags, EachVersionsFramingIsFollowed) {
  // A frame longer than 127 bytes: 2.4 writes its size syncsafe, 2.3 as a plain number.
  const std::string longText(200, 'z');
  for (const int version : {3, 4}) {
    const Bytes tag = Tag(version, Cat({Frame("TIT2", Cat({{0}, Str(longText)}), version),
                                        Frame("TPE1", Cat({{0}, Str("after")}), version)}));
    const auto frames = Read(tag);
    ASSERT_EQ(frames.size(), 2u) << version;
    EXPECT_EQ(frames[0].second, longText);
    EXPECT_EQ(frames[1].second, "after");
  }
  // 2.3: the whole tag unsynchronised (0xFF 0x00 stands for 0xFF), after an extended header.
  Bytes ext = {0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
  Bytes frame = Frame("TIT2", {0, 'a', 0xFF, 'b'}, 3);
  Bytes synced;
  for (std::uint8_t b : frame) {
    synced.push_back(b);
    if (b == 0xFF) synced.push_back(0);
  }
  EXPECT_EQ(Read(Tag(3, Cat({ext, synced}), 0x80 | 0x40)),
            (std::vector<std::pair<std::string, std::string>>{{"TIT2",
                                                               "a\xC3\xBF"
                                                               "b"}}));
  // 2.4: a frame with a data length indicator, a compressed one (left out), an encrypted 2.3 one.
  EXPECT_EQ(Read(Tag(4, Cat({Frame("TIT2", {0, 0, 0, 2, 0, 'q'}, 4, 0x0001),
                             Frame("TPE1", {0, 'c'}, 4, 0x0008 | 0x0001)}))),
            (std::vector<std::pair<std::string, std::string>>{{"TIT2", "q"}}));
  EXPECT_TRUE(Read(Tag(3, Frame("TIT2", {0, 'e'}, 3, 0x0040))).empty());
  // Other versions, no tag, or a frame that claims more than there is: nothing from there on.
  EXPECT_TRUE(Read(Tag(2, Frame("TIT2", {0, 'a'}, 3))).empty());
  EXPECT_TRUE(Read(Str("not a tag at all")).empty());
  Bytes cut = Tag(3, Cat({Frame("TIT2", {0, 'a'}, 3), Frame("TPE1", {0, 'b', 'c'}, 3)}));
  cut[10 + 12 + 7] = 50;  // TPE1 claims 50 bytes
  EXPECT_EQ(Read(cut), (std::vector<std::pair<std::string, std::string>>{{"TIT2", "a"}}));
  for (std::size_t n = 0; n < cut.size(); ++n) ReadId3(cut.data(), n);  // no reading past the end
}

}  // namespace
}  // namespace dbx::swf
