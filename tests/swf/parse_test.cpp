// The parser over the sample files and over exact hand-made fixtures, malformed ones
// included.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cctype>
#include <functional>

#include "swf/display/stage.h"
#include "swf/format/decode_util.h"
#include "swf/format/lzma_decoder.h"
#include "swf/format/movie.h"
#include "test_support.h"

namespace dbx::swf {
namespace {

using swftest::PathOp;
using swftest::SwfWriter;

enum class Kind { kNone, kShape, kMorph, kBitmap, kSprite };

bool HasKind(const Movie& m, Kind kind) {
  for (const auto& [id, ch] : m.characters) {
    if (kind == Kind::kShape && std::holds_alternative<Shape>(ch)) return true;
    if (kind == Kind::kMorph && std::holds_alternative<MorphShape>(ch)) return true;
    if (kind == Kind::kBitmap && std::holds_alternative<std::shared_ptr<const Bitmap>>(ch))
      return true;
    if (kind == Kind::kSprite && std::holds_alternative<Sprite>(ch)) return true;
  }
  return false;
}

struct SampleCase {
  const char* file;
  std::uint16_t tag;  // the tag the file is named after (counted at least once)
  Kind character;     // a character kind the parser must have built from it
  int frames;         // main timeline frames (ShowFrame tags of the main timeline)
};

// Each file is named after the tag it exercises; scripts, sounds, fonts and text are only counted.
const SampleCase kSamples[] = {
    {"Avm2DefaultValue.swf", 82, Kind::kNone, 1},
    {"Avm2Dummy.swf", 82, Kind::kSprite, 1},
    {"BitmapLineStyle.swf", 83, Kind::kBitmap, 1},
    {"DefineBinaryData.swf", 87, Kind::kNone, 1},
    {"DefineBits-JpegTables-MX.swf", 6, Kind::kBitmap, 1},
    {"DefineBitsJpeg2-MX.swf", 21, Kind::kBitmap, 1},
    {"DefineBitsJpeg3.swf", 35, Kind::kBitmap, 1},
    {"DefineBitsLossless.swf", 20, Kind::kBitmap, 1},
    {"DefineBitsLossless2.swf", 36, Kind::kBitmap, 1},
    {"DefineButton-MX.swf", 7, Kind::kShape, 1},
    {"DefineButton2-CS6.swf", 34, Kind::kShape, 1},
    {"DefineButtonCxformSound-MX.swf", 23, Kind::kShape, 1},
    {"DefineEditText-MX.swf", 37, Kind::kNone, 1},
    {"DefineFont-MX.swf", 10, Kind::kNone, 1},
    {"DefineFont2-CS6.swf", 48, Kind::kNone, 1},
    {"DefineFont3-CS6.swf", 75, Kind::kNone, 1},
    {"DefineFont3-DeviceText.swf", 75, Kind::kNone, 1},
    {"DefineFont4.swf", 91, Kind::kNone, 1},
    {"DefineMorphShape-MX.swf", 46, Kind::kMorph, 30},
    {"DefineMorphShape2-GradientFlags.swf", 84, Kind::kMorph, 5},
    {"DefineMorphShape2.swf", 84, Kind::kMorph, 30},
    {"DefineScalingGrid.swf", 78, Kind::kSprite, 1},
    {"DefineSceneAndFrameLabelData.swf", 86, Kind::kNone, 27},
    {"DefineShape.swf", 2, Kind::kShape, 1},
    {"DefineShape3.swf", 32, Kind::kShape, 1},
    {"DefineShape4.swf", 83, Kind::kShape, 1},
    {"DefineSound.swf", 14, Kind::kNone, 1},
    {"DefineSprite.swf", 39, Kind::kSprite, 1},
    {"DefineText2-MX.swf", 33, Kind::kNone, 1},
    {"DefineVideoStream.swf", 60, Kind::kNone, 4},
    {"DoAction-CS6.swf", 12, Kind::kNone, 1},
    {"DoInitAction-CS6.swf", 59, Kind::kSprite, 1},
    {"EnableDebugger2-CS6.swf", 64, Kind::kNone, 1},
    {"EnableTelemetry-password.swf", 93, Kind::kNone, 1},
    {"EnableTelemetry.swf", 93, Kind::kNone, 1},
    {"ExportAssets-CS6.swf", 56, Kind::kSprite, 1},
    {"FrameLabel-CS6.swf", 43, Kind::kNone, 2},
    {"ImportAssets-CS6.swf", 57, Kind::kNone, 1},
    {"ImportAssets2-CS6.swf", 71, Kind::kNone, 1},
    {"PlaceObject2-ClipActions-CS6.swf", 26, Kind::kSprite, 1},
    {"PlaceObject2-ClipActionsV5-CS6.swf", 26, Kind::kSprite, 1},
    {"PlaceObject3-Image.swf", 70, Kind::kBitmap, 1},
    {"PlaceObject3-theworks.swf", 70, Kind::kSprite, 1},
    {"PlaceObject4.swf", 94, Kind::kSprite, 1},
    {"Protect.swf", 24, Kind::kNone, 1},
    {"ProtectNoPassword.swf", 24, Kind::kNone, 1},
    {"ScriptLimits.swf", 65, Kind::kNone, 1},
    {"SimpleRedBackground.swf", 9, Kind::kNone, 1},
    {"SoundStreamHead2.swf", 45, Kind::kNone, 1},
    {"StartSound2.swf", 89, Kind::kNone, 1},
    {"SymbolClass.swf", 76, Kind::kSprite, 1},
    {"lzma-length-too-large.swf", 12, Kind::kNone, 1},
    {"lzma-malformed-length.swf", 12, Kind::kNone, 1},
    {"lzma.swf", 75, Kind::kNone, 1},
    {"uncompressed.swf", 75, Kind::kNone, 1},
    {"zlib.swf", 75, Kind::kNone, 1},
};

void PrintTo(const SampleCase& c, std::ostream* os) {
  *os << c.file;
}

class ParseSample : public ::testing::TestWithParam<SampleCase> {};

TEST_P(ParseSample, ParsesWithTheTagsOfItsName) {
  const auto dir = swftest::SamplesDir();
  ASSERT_TRUE(dir) << "no samples at " DBX_SWF_SAMPLES_DIR;
  const SampleCase& c = GetParam();
  const auto bytes = swftest::ReadFile(*dir / "parse" / c.file);
  ASSERT_FALSE(bytes.empty());
  swftest::JpegLoader jpeg;
  const auto movie = ParseMovie(bytes.data(), bytes.size(), &jpeg);
  ASSERT_TRUE(movie);
  EXPECT_FALSE(movie->truncated);
  EXPECT_GE(movie->tags.count(c.tag) ? movie->tags.at(c.tag) : 0, 1) << "tag " << c.tag;
  EXPECT_EQ(movie->tags.at(0), movie->tags.count(39) ? movie->tags.at(39) + 1 : 1)
      << "one End per timeline";
  if (c.character != Kind::kNone) {
    EXPECT_TRUE(HasKind(*movie, c.character));
  }
  EXPECT_EQ(static_cast<int>(movie->timeline.frames.size()), c.frames);
  EXPECT_EQ(movie->background.has_value(), movie->tags.count(9) > 0);
  // Every movie plays through two loops without trouble.
  Stage stage(*movie);
  for (int i = 0; i < 2 * c.frames + 1; ++i) stage.Step();
  EXPECT_EQ(stage.frame(), 0);
}

INSTANTIATE_TEST_SUITE_P(Samples, ParseSample, ::testing::ValuesIn(kSamples),
                         [](const auto& param) {
                           std::string n = param.param.file;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(ParseSamples, CompressionVariantsGiveIdenticalBodies) {
  const auto dir = swftest::SamplesDir();
  ASSERT_TRUE(dir) << "no samples at " DBX_SWF_SAMPLES_DIR;
  const auto plain = swftest::ReadFile(*dir / "parse" / "uncompressed.swf");
  const auto zlib = swftest::ReadFile(*dir / "parse" / "zlib.swf");
  const auto lzma = swftest::ReadFile(*dir / "parse" / "lzma.swf");
  const auto a = DecompressSwf(plain.data(), plain.size());
  const auto b = DecompressSwf(zlib.data(), zlib.size());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 9999u);
  EXPECT_EQ(*a, *b);
  const auto c = DecompressSwf(lzma.data(), lzma.size());
  ASSERT_TRUE(c);
  EXPECT_EQ(*a, *c);
}

TEST(ParseSamples, OwnLzmaDecoderGivesTheSameBody) {
  // The decoder of the builds without liblzma, checked natively against the plain file.
  const auto dir = swftest::SamplesDir();
  ASSERT_TRUE(dir) << "no samples at " DBX_SWF_SAMPLES_DIR;
  const auto plain = swftest::ReadFile(*dir / "parse" / "uncompressed.swf");
  const auto lzma = swftest::ReadFile(*dir / "parse" / "lzma.swf");
  ASSERT_GT(lzma.size(), 17u);
  const std::vector<std::uint8_t> body(plain.begin() + 8, plain.end());
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(DecodeLzma(&lzma[12], &lzma[17], lzma.size() - 17, out, 1 << 20));
  EXPECT_EQ(out, body);
  // Cut input or a small output limit give a prefix of the body, never more or other bytes.
  for (std::size_t cut : {std::size_t{20}, std::size_t{500}, lzma.size() / 2}) {
    SCOPED_TRACE(cut);
    std::vector<std::uint8_t> part;
    DecodeLzma(&lzma[12], &lzma[17], cut - 17, part, 1 << 20);
    ASSERT_LE(part.size(), body.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), body.begin()));
  }
  std::vector<std::uint8_t> limited;
  EXPECT_TRUE(DecodeLzma(&lzma[12], &lzma[17], lzma.size() - 17, limited, 1000));
  EXPECT_EQ(limited, std::vector<std::uint8_t>(body.begin(), body.begin() + 1000));
  const std::uint8_t badProps[5] = {225, 0, 0, 1, 0};
  std::vector<std::uint8_t> none;
  EXPECT_FALSE(DecodeLzma(badProps, &lzma[17], lzma.size() - 17, none, 1 << 20));
}

TEST(ParseSamples, JpegBitmapsDecodeThroughTheImageLoader) {
  const auto dir = swftest::SamplesDir();
  ASSERT_TRUE(dir) << "no samples at " DBX_SWF_SAMPLES_DIR;
  struct Case {
    const char* file;
    bool opaque;
  };
  for (const Case c : {Case{"DefineBits-JpegTables-MX.swf", true},
                       Case{"DefineBitsJpeg2-MX.swf", true}, Case{"DefineBitsJpeg3.swf", false}}) {
    SCOPED_TRACE(c.file);
    const auto bytes = swftest::ReadFile(*dir / "parse" / c.file);
    swftest::JpegLoader jpeg;
    const auto movie = ParseMovie(bytes.data(), bytes.size(), &jpeg);
    ASSERT_TRUE(movie);
    EXPECT_EQ(jpeg.decodes, 1);
    const Bitmap* bmp = nullptr;
    for (const auto& [id, ch] : movie->characters)
      if (const auto* p = std::get_if<std::shared_ptr<const Bitmap>>(&ch)) bmp = p->get();
    ASSERT_NE(bmp, nullptr);
    EXPECT_GT(bmp->width, 0);
    EXPECT_EQ(bmp->pixels.size(), static_cast<std::size_t>(bmp->width) * bmp->height);
    EXPECT_EQ(bmp->opaque, c.opaque);
    // Without a loader the movie still parses; the picture is left out.
    const auto bare = ParseMovie(bytes.data(), bytes.size(), nullptr);
    ASSERT_TRUE(bare);
    EXPECT_FALSE(HasKind(*bare, Kind::kBitmap));
  }
}

TEST(ParseSamples, PlaceObject3FieldsAreRead) {
  const auto dir = swftest::SamplesDir();
  ASSERT_TRUE(dir) << "no samples at " DBX_SWF_SAMPLES_DIR;
  // A bitmap placed directly (the image flag, no class name), and a sprite placed with every
  // field: matrix, colour transform, name, filters, blend mode, caching, visibility.
  const auto image = swftest::ReadFile(*dir / "parse" / "PlaceObject3-Image.swf");
  const auto a = ParseMovie(image.data(), image.size(), nullptr);
  ASSERT_TRUE(a);
  ASSERT_EQ(a->timeline.frames[0].commands.size(), 1u);
  EXPECT_EQ(a->timeline.frames[0].commands[0].character, 1);
  const auto works = swftest::ReadFile(*dir / "parse" / "PlaceObject3-theworks.swf");
  const auto b = ParseMovie(works.data(), works.size(), nullptr);
  ASSERT_TRUE(b);
  ASSERT_EQ(b->timeline.frames[0].commands.size(), 1u);
  const PlaceCommand& c = b->timeline.frames[0].commands[0];
  EXPECT_EQ(c.character, 2);
  ASSERT_TRUE(c.matrix && c.cxform && c.visible);
  EXPECT_EQ(c.matrix->a, 2.0);
  EXPECT_EQ(c.matrix->tx, 200.0);
  EXPECT_EQ(c.cxform->mult[1], 0.25f);
  EXPECT_EQ(c.cxform->add[3], 80.0f);
  EXPECT_FALSE(*c.visible);
}

// --- Hand-made fixtures -------------------------------------------------------------------

SwfWriter TwoFrameMovie() {
  SwfWriter w(100, 50, 10);
  w.Background(0, 0, 255);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 2000, 1000));
  w.Place(1, 1);
  w.ShowFrame();
  w.Remove(1);
  w.ShowFrame();
  w.End();
  return w;
}

TEST(ParseFixtures, HeaderLengthAndFrameCountAreNotTrusted) {
  SwfWriter w = TwoFrameMovie();
  struct Case {
    const char* name;
    char compression;
    std::uint16_t headerFrames;
    std::optional<std::uint32_t> length;
  };
  for (const Case c :
       {Case{"true header", 'F', 2, std::nullopt}, Case{"length too small", 'F', 2, 9u},
        Case{"length huge", 'F', 2, 0xFFFFFFFFu}, Case{"frames too many", 'F', 500, std::nullopt},
        Case{"frames zero", 'F', 0, std::nullopt}, Case{"zlib, length too small", 'C', 1, 20u},
        Case{"zlib, length huge", 'C', 7, 0x7FFFFFFFu}}) {
    SCOPED_TRACE(c.name);
    const auto bytes = w.Finish(c.compression, c.headerFrames, c.length);
    const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->timeline.frames.size(), 2u);
    EXPECT_EQ(movie->frameRate, 10.0);
    EXPECT_TRUE(HasKind(*movie, Kind::kShape));
    EXPECT_FALSE(movie->truncated);
  }
}

TEST(ParseFixtures, NotAMovieIsRejected) {
  const std::vector<std::vector<std::uint8_t>> inputs = {
      {},
      {'F', 'W', 'S'},
      {'G', 'W', 'S', 10, 20, 0, 0, 0, 0x50, 0, 0},
      {'F', 'W', 'S', 10, 8, 0, 0, 0},            // header only
      {'C', 'W', 'S', 10, 30, 0, 0, 0, 1, 2, 3},  // not a zlib stream
      {'Z', 'W', 'S', 10, 30, 0, 0, 0, 1, 2},     // shorter than the LZMA header
      {'F', 'W', 'S', 10, 9, 0, 0, 0, 0xF8},      // rectangle cut short
  };
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(ParseMovie(inputs[i].data(), inputs[i].size(), nullptr));
  }
}

TEST(ParseFixtures, EveryTruncationParsesOrIsRejected) {
  // Cutting the file anywhere must neither crash nor read outside it (the sanitizer build checks
  // the latter); what survives keeps its first frame once the first ShowFrame is in.
  for (char compression : {'F', 'C'}) {
    const auto full = TwoFrameMovie().Finish(compression, 2);
    for (std::size_t n = 0; n <= full.size(); ++n) {
      std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
      const auto movie = ParseMovie(cut.data(), cut.size(), nullptr);
      if (!movie) continue;
      EXPECT_GE(movie->timeline.frames.size(), 1u);
      Stage stage(*movie);
      stage.Step();
      stage.Step();
    }
  }
}

TEST(ParseFixtures, TagLongerThanTheFileIsCutAndMarked) {
  SwfWriter w(10, 10);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 200, 200));
  w.Place(1, 1);
  w.ShowFrame();
  w.body().insert(w.body().end(), {0x3F, 0x03, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});  // huge length
  const auto bytes = w.Finish();
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  EXPECT_TRUE(movie->truncated);
  EXPECT_EQ(movie->timeline.frames.size(), 1u);
  EXPECT_EQ(movie->timeline.frames[0].commands.size(), 1u);
}

TEST(ParseFixtures, LongTagHeaderAndUnknownTagsAreSkippedByLength) {
  SwfWriter w(10, 10);
  w.Tag(12, std::vector<std::uint8_t>(70, 0x96));  // DoAction, long header
  w.Tag(14, {1, 2, 3}, /*longForm=*/true);         // DefineSound, long form of a short length
  w.Tag(777 & 0x3FF, {9, 9});                      // unknown code
  w.SolidShape(5, 0x00FF00FF, swftest::Rectangle(0, 0, 100, 100));
  w.Place(5, 3);
  w.ShowFrame();
  w.End();
  const auto bytes = w.Finish();
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  EXPECT_EQ(movie->tags.at(12), 1);
  EXPECT_EQ(movie->tags.at(14), 1);
  ASSERT_EQ(movie->timeline.frames.size(), 1u);
  ASSERT_EQ(movie->timeline.frames[0].commands.size(), 1u);
  EXPECT_EQ(movie->timeline.frames[0].commands[0].character, 5);
}

TEST(ParseFixtures, ShapeRecordsBecomeEdgesWithTheirStyles) {
  SwfWriter w(10, 10);
  const std::vector<PathOp> ops = {{PathOp::kMove, 100, 100},
                                   {PathOp::kLine, 300, 100},
                                   {PathOp::kCurve, 100, 300, 300, 300},
                                   {PathOp::kLine, 100, 100}};
  w.SolidShape(1, 0x11223344, ops, /*nonZero=*/true, /*version=*/4);
  w.End();
  const auto bytes = w.Finish();
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  const Shape& s = std::get<Shape>(movie->characters.at(1));
  EXPECT_TRUE(s.nonZero);
  ASSERT_EQ(s.fills.size(), 1u);
  EXPECT_EQ(s.fills[0].color, (Rgba{0x11, 0x22, 0x33, 0x44}));
  ASSERT_EQ(s.edges.size(), 3u);
  EXPECT_EQ(s.edges[0].from, (Vec2{100, 100}));
  EXPECT_EQ(s.edges[0].to, (Vec2{300, 100}));
  EXPECT_FALSE(s.edges[0].curve);
  EXPECT_TRUE(s.edges[1].curve);
  EXPECT_EQ(s.edges[1].control, (Vec2{300, 300}));
  EXPECT_EQ(s.edges[1].to, (Vec2{100, 300}));
  for (const ShapeEdge& e : s.edges) {
    EXPECT_EQ(e.fill0, -1);
    EXPECT_EQ(e.fill1, 0);
  }
}

TEST(ParseFixtures, SpriteThatPlacesItselfStaysBounded) {
  SwfWriter w(10, 10);
  w.SolidShape(1, 0xFF0000FF, swftest::Rectangle(0, 0, 100, 100));
  // Sprite 2 places shape 1 and two copies of itself.
  swftest::BitWriter sprite;
  sprite.U16(2);
  sprite.U16(1);
  SwfWriter inner(1, 1);
  inner.Place(1, 1);
  inner.Place(2, 2);
  inner.Place(2, 3);
  inner.ShowFrame();
  inner.End();
  sprite.Bytes(inner.body());
  w.Tag(39, sprite.Take());
  w.Place(2, 1);
  w.ShowFrame();
  w.End();
  const auto bytes = w.Finish();
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);
  Stage stage(*movie);
  for (int i = 0; i < 3; ++i) stage.Step();
  // Count what was built: bounded by the instance limit, not 2^depth.
  std::function<int(const Clip&)> count = [&](const Clip& s) {
    int n = 0;
    for (const auto& [d, o] : s.children())
      if (o->kind == ClipKind::kMovie) n += 1 + count(*o);
    return n;
  };
  const int n = count(stage.root());
  EXPECT_GT(n, 1);
  EXPECT_LE(n, Stage::kMaxInstances);
}

// --- Bitmap payloads ------------------------------------------------------------------------

std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> out(raw.size() + 64);
  uLongf len = static_cast<uLongf>(out.size());
  compress(out.data(), &len, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(len);
  return out;
}

std::vector<std::uint8_t> LosslessPayload(int format, int w, int h,
                                          const std::vector<std::uint8_t>& raw, int paletteSize) {
  std::vector<std::uint8_t> p = {static_cast<std::uint8_t>(format), static_cast<std::uint8_t>(w), 0,
                                 static_cast<std::uint8_t>(h), 0};
  if (format == 3) p.push_back(static_cast<std::uint8_t>(paletteSize - 1));
  const auto z = Zlib(raw);
  p.insert(p.end(), z.begin(), z.end());
  return p;
}

TEST(ParseFixtures, BitmapsShareOnePixelBudget) {
  // Three 100 x 100 bitmaps against a budget of 25 000 pixels: the first two are kept.
  SwfWriter w(10, 10);
  std::vector<std::uint8_t> raw(100 * 100 * 4, 0xFF);
  for (std::uint16_t id = 1; id <= 3; ++id) {
    std::vector<std::uint8_t> tag = {static_cast<std::uint8_t>(id), 0};
    const auto payload = LosslessPayload(5, 100, 100, raw, 0);
    tag.insert(tag.end(), payload.begin(), payload.end());
    w.Tag(36, tag);
  }
  w.ShowFrame();
  w.End();
  const auto bytes = w.Finish();
  ParseLimits limits;
  limits.maxTotalBitmapPixels = 25000;
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr, limits);
  ASSERT_TRUE(movie);
  EXPECT_TRUE(movie->characters.count(1));
  EXPECT_TRUE(movie->characters.count(2));
  EXPECT_FALSE(movie->characters.count(3));
}

TEST(Lossless, AllFormatsDecodeToPremultipliedPixels) {
  struct Case {
    const char* name;
    int format;
    bool alpha;
    std::vector<std::uint8_t> raw;
    int palette;
    std::vector<std::uint32_t> expected;  // 3 x 1 pixels
  };
  const Case cases[] = {
      {"palette RGB, rows padded to 4",
       3,
       false,
       {10, 20, 30, 40, 50, 60, /*indices*/ 1, 0, 1, /*pad*/ 0},
       2,
       {0xFF28323Cu, 0xFF0A141Eu, 0xFF28323Cu}},
      {"palette RGBA",
       3,
       true,
       {255, 0, 0, 255, 0, 64, 0, 128, /*indices*/ 0, 1, 1, 0},
       2,
       {0xFFFF0000u, 0x80004000u, 0x80004000u}},
      {"RGB15",
       4,
       false,
       {0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F, /*pad*/ 0, 0},
       0,
       {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu}},
      {"XRGB",
       5,
       false,
       {0, 1, 2, 3, 7, 4, 5, 6, 255, 7, 8, 9},
       0,
       {0xFF010203u, 0xFF040506u, 0xFF070809u}},
      {"ARGB premultiplied, colour above alpha clamped",
       5,
       true,
       {255, 1, 2, 3, 16, 8, 8, 8, 16, 200, 8, 8},
       0,
       {0xFF010203u, 0x10080808u, 0x10100808u}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto payload = LosslessPayload(c.format, 3, 1, c.raw, c.palette);
    const auto bmp = DecodeLossless(payload.data(), payload.size(), c.alpha, 1 << 20);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->pixels, c.expected);
  }
}

TEST(Lossless, ShortOrHostileDataIsContained) {
  // A short stream leaves the rest transparent; absurd sizes and unknown formats give nothing.
  const auto shortData = LosslessPayload(5, 4, 4, {255, 1, 2, 3}, 0);
  const auto bmp = DecodeLossless(shortData.data(), shortData.size(), true, 1 << 20);
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->pixels[0], 0xFF010203u);
  EXPECT_EQ(bmp->pixels[15], 0u);
  EXPECT_FALSE(bmp->opaque);
  const auto huge = LosslessPayload(5, 255, 255, {0}, 0);
  EXPECT_FALSE(DecodeLossless(huge.data(), huge.size(), true, 1000));
  const std::vector<std::uint8_t> noData = {5, 200, 0, 200, 0};  // 200 x 200, no stream
  EXPECT_FALSE(DecodeLossless(noData.data(), noData.size(), true, 1 << 20));
  const auto unknown = LosslessPayload(6, 2, 2, {0}, 0);
  EXPECT_FALSE(DecodeLossless(unknown.data(), unknown.size(), true, 1 << 20));
  EXPECT_FALSE(DecodeLossless(nullptr, 0, false, 1 << 20));
}

TEST(Jpeg, CleaningJoinsTablesAndDropsStrayMarkers) {
  // Segments: tables stream (SOI, DQT, EOI) and image stream (SOI, SOF0, SOS + data, EOI).
  const std::vector<std::uint8_t> tables = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x01, 0xFF, 0xD9};
  const std::vector<std::uint8_t> image = {0xFF, 0xD9, 0xFF, 0xD8,  // stray end/start pair
                                           0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0xFF,
                                           0xDA, 0x00, 0x02, 0x42, 0xFF, 0xD9};
  const auto out = CleanJpeg(tables.data(), tables.size(), image.data(), image.size());
  const std::vector<std::uint8_t> expected = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x01, 0xFF, 0xC0,
                                              0x00, 0x02, 0xFF, 0xDA, 0x00, 0x02, 0x42, 0xFF, 0xD9};
  EXPECT_EQ(out, expected);
  // Data that is not a marker stream is passed through for the decoder to judge.
  const std::vector<std::uint8_t> junk = {1, 2, 3};
  EXPECT_EQ(CleanJpeg(nullptr, 0, junk.data(), junk.size()), junk);
}

}  // namespace
}  // namespace dbx::swf
