// The ADPCM decoder against an independent one: movies with an ADPCM stream sound of random codes
// (every code and every clipping case comes up) are written by the test, decoded by ffmpeg's own
// decoder of the format and by ours through the movie's parsed blocks; the samples must be equal.
// ffmpeg is installed by scripts/install-deps.sh; without it the test fails and says so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "swf/audio/decoders.h"
#include "swf/format/movie.h"
#include "swf/format/tags.h"
#include "test_support.h"

namespace dbx::swf {
namespace {

using swftest::BitWriter;
using swftest::SwfWriter;

// A block of random codes: the 2-bit code size, then `frames` frames in packets of 4096 (the
// first frame of a packet is an initial sample and a step index, random too, index up to 63).
// `frames` is chosen by the caller so that the last byte's padding holds no whole code.
std::vector<std::uint8_t> RandomBlock(std::mt19937& rng, int bits, int channels, int frames) {
  BitWriter w;
  w.UB(static_cast<std::uint32_t>(bits - 2), 2);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      if (i % 4096 == 0) {
        w.UB(rng() & 0xFFFF, 16);
        w.UB(rng() & 63, 6);
      } else {
        w.UB(rng() & ((1u << bits) - 1), static_cast<unsigned>(bits));
      }
    }
  return w.Take();
}

// Frames near `wanted` whose codes end within a code of a byte boundary.
int WholeFrames(int wanted, int bits, int channels) {
  for (int n = wanted;; ++n) {
    const int packets = (n + 4095) / 4096;
    const long total = 2 + static_cast<long>(channels) * (22L * packets + bits * (n - packets));
    if ((8 - total % 8) % 8 < bits * channels) return n;
  }
}

std::vector<std::int16_t> FfmpegDecode(const std::filesystem::path& file) {
  const std::string cmd =
      "ffmpeg -nostdin -v error -i '" + file.string() + "' -f s16le -acodec pcm_s16le - 2>&1";
  std::vector<std::int16_t> out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::vector<char> bytes;
  char buf[65536];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  if (pclose(p) != 0) {
    ADD_FAILURE() << "ffmpeg failed (is it installed? scripts/install-deps.sh installs it): "
                  << std::string(bytes.begin(), bytes.end()).substr(0, 400);
    return out;
  }
  out.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                       static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
  return out;
}

TEST(AdpcmOracle, RandomStreamsDecodeAsAnIndependentDecoderDoes) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("dbx-adpcm-" + std::to_string(static_cast<long>(getpid())));
  std::filesystem::create_directories(dir);
  std::mt19937 rng(20261207);
  struct Case {
    int bits, channels, rate, fps;
  };
  // 5 fps at 44.1 kHz puts three packets in a block; 10 fps at 11 kHz less than one.
  const Case cases[] = {{2, 1, 22050, 10}, {3, 1, 44100, 5},  {4, 1, 11025, 10}, {5, 1, 5512, 10},
                        {2, 2, 44100, 5},  {3, 2, 22050, 10}, {4, 2, 44100, 5},  {5, 2, 11025, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.bits << " bits, " << c.channels << " channels, " << c.rate << " Hz");
    const int rateCode = c.rate == 5512 ? 0 : c.rate == 11025 ? 1 : c.rate == 22050 ? 2 : 3;
    const int perFrame = c.rate / c.fps;
    SwfWriter swf(100, 100, c.fps);
    {
      BitWriter w;
      w.UB(0, 4);  // playback: PCM at the same rate, as encoders write it
      w.UB(static_cast<std::uint32_t>(rateCode), 2);
      w.UB(1, 1);
      w.UB(static_cast<std::uint32_t>(c.channels - 1), 1);
      w.UB(static_cast<std::uint32_t>(SoundCoding::kAdpcm), 4);
      w.UB(static_cast<std::uint32_t>(rateCode), 2);
      w.UB(1, 1);
      w.UB(static_cast<std::uint32_t>(c.channels - 1), 1);
      w.U16(static_cast<std::uint16_t>(perFrame));
      swf.Tag(static_cast<std::uint16_t>(Tag::kSoundStreamHead2), w.Take());
    }
    for (int f = 0; f < 12; ++f) {
      swf.Tag(static_cast<std::uint16_t>(Tag::kSoundStreamBlock),
              RandomBlock(rng, c.bits, c.channels, WholeFrames(perFrame, c.bits, c.channels)));
      swf.ShowFrame();
    }
    swf.End();
    const auto bytes = swf.Finish();
    const auto file =
        dir / ("stream-" + std::to_string(c.bits) + "-" + std::to_string(c.channels) + ".swf");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
    ASSERT_TRUE(movie && movie->timeline.streamHead);
    StreamDecoder decoder(*movie->timeline.streamHead, {});
    std::vector<std::int16_t> ours;
    for (const Frame& frame : movie->timeline.frames)
      decoder.Block(frame.streamBlock.data(), frame.streamBlock.size(), ours);

    const auto theirs = FfmpegDecode(file);
    ASSERT_FALSE(theirs.empty());
    ASSERT_EQ(ours.size(), theirs.size());
    std::size_t differing = 0, first = ours.size();
    for (std::size_t i = 0; i < ours.size(); ++i)
      if (ours[i] != theirs[i] && differing++ == 0) first = i;
    EXPECT_EQ(differing, 0u) << "first at sample " << first << ": " << ours[first] << " vs "
                             << theirs[first];
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dbx::swf
