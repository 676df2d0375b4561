// The video decoders: H.263 and screen video clips decoded frame by frame and checked against
// reference decodes (tests/data/swf/video, see its README), the inverse DCT's accuracy, the
// colour matrix, and frames that are cut short or damaged.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "swf/video/decoder.h"
#include "swf/video/h263.h"
#include "swf/video/screen_video.h"
#include "test_support.h"

namespace dbx::swf::video {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadVideo(const std::string& name) {
  return swftest::ReadFile(*swftest::SamplesDir() / "video" / name);
}

// A reference decode of `size` bytes, stored zlib-compressed.
Bytes ReadReference(const std::string& name, std::size_t size) {
  const Bytes z = ReadVideo(name);
  Bytes out(size);
  uLongf n = static_cast<uLongf>(size);
  if (uncompress(out.data(), &n, z.data(), static_cast<uLong>(z.size())) != Z_OK || n != size)
    return {};
  return out;
}

// The video tags of an FLV file: the frame type (1 key, 2 inter, 3 disposable) and the codec's
// data after the tag's first byte.
struct VideoTag {
  int frameType;
  Bytes data;
};
std::vector<VideoTag> VideoTags(const Bytes& flv) {
  std::vector<VideoTag> tags;
  for (std::size_t pos = 13; pos + 12 <= flv.size();) {
    const std::size_t size = (std::size_t{flv[pos + 1]} << 16) | (flv[pos + 2] << 8) | flv[pos + 3];
    const auto body = flv.begin() + static_cast<long>(pos) + 11;
    if (flv[pos] == 9)
      tags.push_back({*body >> 4, Bytes(body + 1, body + static_cast<long>(size))});
    pos += 11 + size + 4;
  }
  return tags;
}

TEST(H263Video, DecodesClipsAsTheReferenceDoes) {
  // Made by an encoder (version 1) and by make_h263_syntax.py (both versions, every macroblock
  // type, stuffing, quantiser changes, escapes, disposable frames, which later frames must not
  // refer to, vectors that wrap and point out of the picture), each beside its reference decode
  // (YUV 4:2:0).
  const struct {
    const char* name;
    int width, height, frames;
  } clips[] = {
      {"h263_pan_72x40_q2", 72, 40, 12},     {"h263_pan_70x34_4mv", 70, 34, 10},
      {"h263_pan_128x96", 128, 96, 12},      {"h263_pan_264x40", 264, 40, 8},
      {"h263_pan_160x120_q31", 160, 120, 5}, {"h263_aq_88x72", 88, 72, 10},
      {"h263_syntax_v0", 40, 24, 10},        {"h263_syntax_v1", 40, 24, 10},
  };
  for (const auto& clip : clips) {
    SCOPED_TRACE(clip.name);
    const auto tags = VideoTags(ReadVideo(std::string(clip.name) + ".flv"));
    const int w = clip.width, h = clip.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    const std::size_t frameSize = static_cast<std::size_t>(w * h + 2 * cw * ch);
    const Bytes ref = ReadReference(std::string(clip.name) + ".yuv.z", frameSize * clip.frames);
    ASSERT_EQ(tags.size(), static_cast<std::size_t>(clip.frames));
    ASSERT_FALSE(ref.empty());
    H263Decoder decoder;
    int maxDiff = 0, maxRgbDiff = 0;
    double sum = 0;
    for (std::size_t f = 0; f < tags.size(); ++f) {
      SCOPED_TRACE("frame " + std::to_string(f));
      const Bytes& data = tags[f].data;
      EXPECT_EQ(decoder.IsKeyFrame(data.data(), data.size()), tags[f].frameType == 1);
      Bitmap out;
      ASSERT_TRUE(decoder.Decode(data.data(), data.size(), out));
      const YuvPlanes& p = decoder.Picture();
      ASSERT_TRUE(p.width == w && p.height == h && out.width == w && out.height == h);
      ASSERT_TRUE(out.opaque);
      const std::uint8_t *ry = ref.data() + f * frameSize, *ru = ry + w * h, *rv = ru + cw * ch;
      const auto compare = [&](const std::vector<std::uint8_t>& plane, int stride,
                               const std::uint8_t* expected, int pw, int ph) {
        for (int y = 0; y < ph; ++y)
          for (int x = 0; x < pw; ++x) {
            const int d = std::abs(plane[static_cast<std::size_t>(y) * stride + x] - *expected++);
            maxDiff = std::max(maxDiff, d);
            sum += d;
          }
      };
      compare(p.y, p.lumaStride, ry, w, h);
      compare(p.u, p.chromaStride, ru, cw, ch);
      compare(p.v, p.chromaStride, rv, cw, ch);
      // The shown picture is the reference's through the colour matrix, rows from the top, each
      // chroma sample covering 2x2 pixels.
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::size_t c = static_cast<std::size_t>(y / 2) * cw + x / 2;
          const std::uint32_t want = YuvToArgb(ry[y * w + x], ru[c], rv[c]);
          const std::uint32_t got = out.pixels[static_cast<std::size_t>(y) * w + x];
          ASSERT_EQ(got >> 24, 0xFFu);
          for (int s = 0; s < 24; s += 8)
            maxRgbDiff = std::max(maxRgbDiff, std::abs(static_cast<int>((got >> s) & 255) -
                                                       static_cast<int>((want >> s) & 255)));
        }
    }
    // The inverse DCTs round differently, and inter frames carry the differences on.
    EXPECT_LE(maxDiff, 3);
    EXPECT_LT(sum / static_cast<double>(ref.size()), 0.05);
    EXPECT_LE(maxRgbDiff, 8);
  }
}

// The inverse DCT on the usual accuracy test: blocks of random samples in -L..H, transformed
// exactly and rounded, must come back within the error bounds of an exact inverse.
TEST(H263Video, InverseDctIsAccurate) {
  double basis[8][8];  // [x][u]
  for (int x = 0; x < 8; ++x)
    for (int u = 0; u < 8; ++u)
      basis[x][u] =
          (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * std::numbers::pi / 16);
  // out = B in B^T for the inverse, B^T in B for the forward transform.
  const auto transform = [&](bool forward, const double in[64], double out[64]) {
    double t[64];
    for (int pass = 0; pass < 2; ++pass, in = t)
      for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
          double s = 0;
          for (int k = 0; k < 8; ++k)
            s += (forward ? basis[k][i] : basis[i][k]) * in[pass ? k * 8 + j : j * 8 + k];
          (pass ? out : t)[pass ? i * 8 + j : j * 8 + i] = s;
        }
  };
  std::mt19937 random(1180);
  for (const int range : {256, 5, 300}) {
    for (const int sign : {1, -1}) {
      SCOPED_TRACE("range " + std::to_string(range) + " sign " + std::to_string(sign));
      const int blocks = 10000;
      std::uniform_int_distribution<int> sample(-range, range == 256 ? 255 : range);
      double errorSum[64] = {}, squareSum[64] = {};
      int peak = 0;
      for (int b = 0; b < blocks; ++b) {
        double spatial[64], exact[64], back[64];
        int coefficients[64], got[64];
        for (double& s : spatial) s = sign * sample(random);
        transform(true, spatial, exact);
        for (int i = 0; i < 64; ++i)
          exact[i] = coefficients[i] =
              std::clamp(static_cast<int>(std::lround(exact[i])), -2048, 2047);
        transform(false, exact, back);
        InverseDct8x8(coefficients, got);
        for (int i = 0; i < 64; ++i) {
          const int e = got[i] - std::clamp(static_cast<int>(std::floor(back[i] + 0.5)), -256, 255);
          peak = std::max(peak, std::abs(e));
          errorSum[i] += e;
          squareSum[i] += e * e;
        }
      }
      EXPECT_LE(peak, 1);
      double totalError = 0, totalSquare = 0;
      for (int i = 0; i < 64; ++i) {
        EXPECT_LE(std::abs(errorSum[i]) / blocks, 0.015);
        EXPECT_LE(squareSum[i] / blocks, 0.06);
        totalError += errorSum[i];
        totalSquare += squareSum[i];
      }
      EXPECT_LE(std::abs(totalError) / (64.0 * blocks), 0.0015);
      EXPECT_LE(totalSquare / (64.0 * blocks), 0.02);
    }
  }
}

TEST(H263Video, ShowsColoursThroughTheBt601Matrix) {
  const struct {
    int y, u, v;
    std::uint32_t rgb;
  } cases[] = {
      {16, 128, 128, 0x000000}, {235, 128, 128, 0xFFFFFF}, {126, 128, 128, 0x808080},
      {81, 90, 240, 0xFF0000},  {145, 54, 34, 0x00FF00},   {41, 240, 110, 0x0000FF},
      {210, 16, 146, 0xFFFF00}, {0, 128, 128, 0x000000},   {255, 128, 128, 0xFFFFFF},
  };
  for (const auto& c : cases) {
    const std::uint32_t got = YuvToArgb(c.y, c.u, c.v);
    EXPECT_EQ(got >> 24, 0xFFu);
    for (int s = 0; s < 24; s += 8)
      EXPECT_NEAR(static_cast<int>((got >> s) & 255), static_cast<int>((c.rgb >> s) & 255), 2)
          << c.y << " " << c.u << " " << c.v;
  }
}

// A 16x16 H.263 picture (type 0 key, 1 inter): an intra macroblock of DC values whose first
// block has the coefficient events `ac` (a string of bits and spaces), or a macroblock predicted
// unchanged.
Bytes H263Picture(int version, int sizeCode, int type, const std::string& ac = "", int width = 16) {
  swftest::BitWriter w;
  w.UB(1, 17), w.UB(static_cast<std::uint32_t>(version), 5), w.UB(0, 8);
  w.UB(static_cast<std::uint32_t>(sizeCode), 3);
  if (sizeCode == 0) w.UB(static_cast<std::uint32_t>(width), 8), w.UB(16, 8);
  w.UB(static_cast<std::uint32_t>(type), 2), w.UB(0, 1), w.UB(4, 5), w.UB(0, 1);
  // Inter: coded, no block coded, vector 0. Intra: no chroma block coded, no luma block or the
  // first.
  const std::string mb = type != 0 ? "0 1 11 1 1" : ac.empty() ? "1 0011" : "1 00010";
  const auto bits = [&](const std::string& b) {
    for (const char bit : b)
      if (bit != ' ') w.UB(bit == '1', 1);
  };
  bits(mb);
  for (int b = 0; b < 6 && type == 0; ++b) {
    w.UB(100, 8);
    if (b == 0) bits(ac);
  }
  return w.Take();
}

TEST(H263Video, RefusesBrokenFrames) {
  H263Decoder decoder;
  Bitmap out;
  const Bytes inter = H263Picture(1, 0, 1), good = H263Picture(1, 0, 0);
  EXPECT_FALSE(decoder.Decode(inter.data(), inter.size(), out));  // no key frame before it
  ASSERT_TRUE(decoder.Decode(good.data(), good.size(), out));
  ASSERT_TRUE(decoder.Decode(inter.data(), inter.size(), out));
  const YuvPlanes kept = decoder.Picture();
  const std::vector<std::uint32_t> shown = out.pixels;
  Bytes badStart = good, cut = good, noCodes = good;
  badStart[2] ^= 0x80;
  cut.pop_back();
  noCodes[7] &= 0xC0;  // the macroblock starts at bit 58
  std::fill(noCodes.begin() + 8, noCodes.end(), 0);
  const struct {
    const char* what;
    Bytes data;
  } cases[] = {
      {"empty", {}},
      {"start code only", Bytes(good.begin(), good.begin() + 3)},
      {"bad start code", badStart},
      {"version 2", H263Picture(2, 0, 0)},
      {"size code 7", H263Picture(1, 7, 0)},
      {"picture type 3", H263Picture(1, 0, 3)},
      {"no width", H263Picture(1, 0, 0, "", 0)},
      {"last byte cut", cut},
      {"bits that start no macroblock code", noCodes},
      {"inter frame of another size", H263Picture(1, 3, 1)},
      // Escapes: 0000011, then (version 1) the 7/11-bit flag, last, run and level.
      {"coefficient past the block", H263Picture(1, 0, 0, "0000011 0 1 111111 0000001")},
      {"event after the last place", H263Picture(1, 0, 0, "0000011 0 0 111110 0000001")},
      {"level -128 in version 0", H263Picture(0, 0, 0, "0000011 1 000000 10000000")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(decoder.Decode(c.data.data(), c.data.size(), out));
    EXPECT_EQ(out.pixels, shown);
    EXPECT_EQ(decoder.Picture().y, kept.y);
  }
  // Every cut of a real key frame, and of the inter frame after it, fails.
  const auto tags = VideoTags(ReadVideo("h263_pan_72x40_q2.flv"));
  for (std::size_t f = 0; f < 2; ++f) {
    const Bytes& data = tags.at(f).data;
    for (std::size_t n = 0; n < data.size(); ++n)
      ASSERT_FALSE(decoder.Decode(data.data(), n, out)) << "frame " << f << ", " << n << " bytes";
    ASSERT_TRUE(decoder.Decode(data.data(), data.size(), out));
  }
}

TEST(ScreenVideo, DecodesClipAsTheReferenceDoes) {
  const auto tags = VideoTags(ReadVideo("screen_100x70.flv"));
  const std::size_t frameSize = 100 * 70 * 3;
  const Bytes ref = ReadReference("screen_100x70.rgb.z", frameSize * 5);
  ASSERT_EQ(tags.size(), 5u);
  ASSERT_FALSE(ref.empty());
  ScreenVideoDecoder decoder;
  for (std::size_t f = 0; f < tags.size(); ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const Bytes& data = tags[f].data;
    // The frames after the first send only the blocks that changed.
    EXPECT_EQ(decoder.IsKeyFrame(data.data(), data.size()), f == 0);
    Bitmap out;
    ASSERT_TRUE(decoder.Decode(data.data(), data.size(), out));
    ASSERT_TRUE(out.width == 100 && out.height == 70 && out.opaque);
    Bytes rgb;
    for (const std::uint32_t p : out.pixels) {
      ASSERT_EQ(p >> 24, 0xFFu);
      rgb.insert(rgb.end(), {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                             static_cast<std::uint8_t>(p)});
    }
    EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), ref.begin() + static_cast<long>(f * frameSize)));
  }
}

// A screen video frame of width x 20 in 16x16 blocks of one colour; the blocks listed in `omit`
// are sent as unchanged, the others with `extra` samples more or less than they hold.
Bytes ScreenFrame(int width, const std::vector<int>& omit = {}, int extra = 0) {
  Bytes frame = {0x00, static_cast<std::uint8_t>(width), 0x00, 20};
  for (int y0 = 0, index = 0; y0 < 20; y0 += 16)
    for (int x0 = 0; x0 < width; x0 += 16, ++index) {
      Bytes z;
      if (std::find(omit.begin(), omit.end(), index) == omit.end()) {
        const Bytes samples(
            static_cast<std::size_t>(std::min(16, 20 - y0) * std::min(16, width - x0) * 3 + extra),
            0x40);
        uLongf size = compressBound(static_cast<uLong>(samples.size()));
        z.resize(size);
        compress(z.data(), &size, samples.data(), static_cast<uLong>(samples.size()));
        z.resize(size);
      }
      frame.insert(frame.end(),
                   {static_cast<std::uint8_t>(z.size() >> 8), static_cast<std::uint8_t>(z.size())});
      frame.insert(frame.end(), z.begin(), z.end());
    }
  return frame;
}

TEST(ScreenVideo, RefusesBrokenFrames) {
  ScreenVideoDecoder decoder;
  Bitmap out;
  const Bytes whole = ScreenFrame(20), partial = ScreenFrame(20, {1});
  EXPECT_FALSE(decoder.Decode(partial.data(), partial.size(), out));  // nothing to keep yet
  ASSERT_TRUE(decoder.Decode(whole.data(), whole.size(), out));
  ASSERT_TRUE(decoder.Decode(partial.data(), partial.size(), out));
  const std::vector<std::uint32_t> shown = out.pixels;
  Bytes cut = whole, badZlib = whole, longBlock = whole;
  cut.pop_back();
  badZlib[6] ^= 0xFF;
  longBlock[5] = 0xFF;
  const struct {
    const char* what;
    Bytes data;
  } cases[] = {
      {"no header", Bytes{0x00, 0x14, 0x00}},
      {"no width", ScreenFrame(0)},
      {"block longer than the frame", longBlock},
      {"last block cut", cut},
      {"block lengths missing", Bytes(whole.begin(), whole.begin() + 5)},
      {"bad zlib data", badZlib},
      {"samples short", ScreenFrame(20, {}, -1)},
      {"samples over", ScreenFrame(20, {}, 1)},
      {"unchanged block of another size", ScreenFrame(24, {0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(decoder.Decode(c.data.data(), c.data.size(), out));
    EXPECT_EQ(out.pixels, shown);
  }
}

TEST(VideoDecoders, MadeForTheirCodecs) {
  EXPECT_NE(dynamic_cast<H263Decoder*>(MakeDecoder(2).get()), nullptr);
  EXPECT_NE(dynamic_cast<ScreenVideoDecoder*>(MakeDecoder(3).get()), nullptr);
  for (const int codec : {0, 1, 4, 5, 6, 7, 15}) EXPECT_EQ(MakeDecoder(codec), nullptr);
}

}  // namespace
}  // namespace dbx::swf::video
