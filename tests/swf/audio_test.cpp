// Sound: the sound tags, the decoders against data built here from the format's definition, the
// mixer measured on tones, and a movie's sound played without a device.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "avm1_asm.h"
#include "platform/mpg123/mpg123_decoder.h"
#include "swf/audio/decoders.h"
#include "swf/audio/mixer.h"
#include "swf/audio/movie_sound.h"
#include "swf/flash_player.h"
#include "swf/format/movie.h"
#include "swf/format/tags.h"
#include "test_support.h"

namespace dbx::swf {
namespace {

using swftest::BitWriter;
using swftest::SwfWriter;

constexpr std::uint16_t Code(Tag t) {
  return static_cast<std::uint16_t>(t);
}

std::vector<std::int16_t> Sine(int frames, double hz, int rate, double amplitude,
                               int channels = 1) {
  std::vector<std::int16_t> s;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s.push_back(static_cast<std::int16_t>(
          std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate + c))));
  return s;
}

// Frequency by rising zero crossings of one channel of interleaved samples.
double MeasureHz(const std::vector<std::int16_t>& s, int channels, int channel, int rate) {
  int first = -1, last = -1, crossings = 0;
  const int frames = static_cast<int>(s.size()) / channels;
  for (int i = 1; i < frames; ++i) {
    if (s[(i - 1) * channels + channel] < 0 && s[i * channels + channel] >= 0) {
      if (first < 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * static_cast<double>(rate) / (last - first);
}

double Rms(const std::int16_t* s, std::size_t frames, int channels, int channel) {
  double sum = 0;
  for (std::size_t i = 0; i < frames; ++i) sum += std::pow(s[i * channels + channel], 2.0);
  return frames ? std::sqrt(sum / frames) : 0;
}

void WriteSoundInfo(BitWriter& w, const SoundInfo& info) {
  w.UB(0, 2);
  w.UB(info.stop, 1);
  w.UB(info.noMultiple, 1);
  w.UB(!info.envelope.empty(), 1);
  w.UB(info.loops != 1, 1);
  w.UB(info.outPoint.has_value(), 1);
  w.UB(info.inPoint.has_value(), 1);
  if (info.inPoint) w.U32(*info.inPoint);
  if (info.outPoint) w.U32(*info.outPoint);
  if (info.loops != 1) w.U16(info.loops);
  if (!info.envelope.empty()) {
    w.U8(static_cast<std::uint8_t>(info.envelope.size()));
    for (const auto& p : info.envelope) {
      w.U32(p.position);
      w.U16(p.left);
      w.U16(p.right);
    }
  }
}

int RateCode(int rate) {
  return rate == 5512 ? 0 : rate == 11025 ? 1 : rate == 22050 ? 2 : 3;
}

std::vector<std::uint8_t> DefineSoundBody(std::uint16_t id, SoundCoding coding, int rate,
                                          bool sixteen, bool stereo, std::uint32_t count,
                                          const std::vector<std::uint8_t>& data) {
  BitWriter w;
  w.U16(id);
  w.UB(static_cast<std::uint32_t>(coding), 4);
  w.UB(static_cast<std::uint32_t>(RateCode(rate)), 2);
  w.UB(sixteen, 1);
  w.UB(stereo, 1);
  w.U32(count);
  if (coding == SoundCoding::kMp3) w.U16(0);
  w.Bytes(data);
  return w.Take();
}

std::vector<std::uint8_t> StartSoundBody(std::uint16_t id, const SoundInfo& info) {
  BitWriter w;
  w.U16(id);
  WriteSoundInfo(w, info);
  return w.Take();
}

std::vector<std::uint8_t> Le16(const std::vector<std::int16_t>& s) {
  std::vector<std::uint8_t> b;
  for (std::int16_t v : s) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  return b;
}

// ---------------------------------------------------------------------------------------------
// The sound tags.

TEST(SoundTags, EveryFieldIsRead) {
  SwfWriter swf(100, 100, 10);
  swf.Tag(Code(Tag::kDefineSound),
          DefineSoundBody(7, SoundCoding::kAdpcm, 22050, true, true, 1234, {1, 2, 3}));
  SoundInfo info;
  info.noMultiple = true;
  info.inPoint = 10;
  info.outPoint = 5000;
  info.loops = 3;
  info.envelope = {{0, 0, 32768}, {44100, 32768, 100}};
  swf.Tag(Code(Tag::kStartSound), StartSoundBody(7, info));
  {
    BitWriter w;
    for (char c : std::string("Ding")) w.U8(static_cast<std::uint8_t>(c));
    w.U8(0);
    SoundInfo stop;
    stop.stop = true;
    WriteSoundInfo(w, stop);
    swf.Tag(Code(Tag::kStartSound2), w.Take());
  }
  {
    BitWriter w;
    w.U8(0x0F);  // playback: 44 kHz 16-bit stereo
    w.UB(static_cast<std::uint32_t>(SoundCoding::kMp3), 4);
    w.UB(1, 2);
    w.UB(1, 1);
    w.UB(0, 1);
    w.U16(1102);
    w.U16(static_cast<std::uint16_t>(-576));
    swf.Tag(Code(Tag::kSoundStreamHead2), w.Take());
  }
  swf.ShowFrame();
  swf.Tag(Code(Tag::kSoundStreamBlock), {9, 8, 7, 6, 5});
  {
    BitWriter w;
    w.U16(30);  // the button
    w.U16(0);   // no sound for the first transition
    w.U16(7);
    SoundInfo plain;
    WriteSoundInfo(w, plain);
    w.U16(0);
    w.U16(0);
    swf.Tag(Code(Tag::kDefineButtonSound), w.Take());
  }
  swf.ShowFrame();
  swf.End();
  const auto bytes = swf.Finish();
  const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
  ASSERT_TRUE(movie);

  ASSERT_EQ(movie->sounds.count(7), 1u);
  const SoundDef& def = *movie->sounds.at(7);
  EXPECT_EQ(def.format.coding, SoundCoding::kAdpcm);
  EXPECT_EQ(def.format.rate, 22050);
  EXPECT_TRUE(def.format.sixteenBit);
  EXPECT_TRUE(def.format.stereo);
  EXPECT_EQ(def.sampleCount, 1234u);
  EXPECT_EQ(def.data, (std::vector<std::uint8_t>{1, 2, 3}));

  ASSERT_EQ(movie->timeline.frames.size(), 2u);
  const auto& sounds = movie->timeline.frames[0].sounds;
  ASSERT_EQ(sounds.size(), 2u);
  EXPECT_EQ(sounds[0].sound, 7);
  EXPECT_TRUE(sounds[0].info.noMultiple);
  EXPECT_FALSE(sounds[0].info.stop);
  EXPECT_EQ(sounds[0].info.inPoint, 10u);
  EXPECT_EQ(sounds[0].info.outPoint, 5000u);
  EXPECT_EQ(sounds[0].info.loops, 3);
  ASSERT_EQ(sounds[0].info.envelope.size(), 2u);
  EXPECT_EQ(sounds[0].info.envelope[1].position, 44100u);
  EXPECT_EQ(sounds[0].info.envelope[1].left, 32768);
  EXPECT_EQ(sounds[0].info.envelope[1].right, 100);
  EXPECT_EQ(sounds[1].className, "Ding");
  EXPECT_TRUE(sounds[1].info.stop);

  ASSERT_TRUE(movie->timeline.streamHead);
  const StreamHead& head = *movie->timeline.streamHead;
  EXPECT_EQ(head.format.coding, SoundCoding::kMp3);
  EXPECT_EQ(head.format.rate, 11025);
  EXPECT_TRUE(head.format.sixteenBit);
  EXPECT_FALSE(head.format.stereo);
  EXPECT_EQ(head.samplesPerBlock, 1102);
  EXPECT_EQ(head.latencySeek, -576);
  EXPECT_TRUE(movie->timeline.frames[0].streamBlock.empty());
  EXPECT_EQ(movie->timeline.frames[1].streamBlock, (std::vector<std::uint8_t>{9, 8, 7, 6, 5}));

  ASSERT_EQ(movie->buttonSounds.count(30), 1u);
  const auto& button = movie->buttonSounds.at(30).transitions;
  EXPECT_FALSE(button[0]);
  ASSERT_TRUE(button[1]);
  EXPECT_EQ(button[1]->sound, 7);
  EXPECT_FALSE(button[2]);
  EXPECT_FALSE(button[3]);
}

TEST(SoundTags, CutRecordsAddNothingOrTheWholePart) {
  SoundInfo info;
  info.envelope = {{0, 1, 2}, {100, 3, 4}, {200, 5, 6}};
  const auto whole = StartSoundBody(3, info);
  // A start command cut in its fixed fields is dropped; cut in the envelope it keeps the points
  // that were whole.
  for (std::size_t keep = 0; keep < whole.size(); ++keep) {
    SwfWriter swf(10, 10);
    swf.Tag(Code(Tag::kStartSound), {whole.begin(), whole.begin() + static_cast<long>(keep)});
    swf.ShowFrame();
    swf.End();
    const auto bytes = swf.Finish();
    const auto movie = ParseMovie(bytes.data(), bytes.size(), nullptr);
    ASSERT_TRUE(movie);
    const auto& sounds = movie->timeline.frames[0].sounds;
    if (keep < 3) {
      EXPECT_TRUE(sounds.empty()) << keep;
    } else {
      ASSERT_EQ(sounds.size(), 1u) << keep;
      EXPECT_EQ(sounds[0].info.envelope.size(), keep < 4 ? 0 : (keep - 4) / 8) << keep;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// PCM.

TEST(Pcm, EveryLayoutRoundTrips) {
  const std::vector<std::int16_t> values = {0, 1, -1, 32767, -32768, 256, -256, 12345, -12345, 77};
  for (bool stereo : {false, true}) {
    for (ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
      std::vector<std::uint8_t> bytes;
      for (std::int16_t v : values) {
        const auto u = static_cast<std::uint16_t>(v);
        const std::uint8_t lo = u & 0xFF, hi = u >> 8;
        bytes.push_back(order == ByteOrder::kLittle ? lo : hi);
        bytes.push_back(order == ByteOrder::kLittle ? hi : lo);
      }
      bytes.push_back(0x55);  // a cut last sample is dropped
      std::vector<std::int16_t> out;
      DecodePcm(bytes.data(), bytes.size(), true, stereo, order, 1000, out);
      EXPECT_EQ(out, values) << stereo << static_cast<int>(order);
      out.clear();
      DecodePcm(bytes.data(), bytes.size(), true, stereo, order, 2, out);
      EXPECT_EQ(out.size(), stereo ? 4u : 2u);
    }
    // 8-bit samples are unsigned around 128.
    const std::vector<std::uint8_t> eight = {0, 128, 255, 1, 127, 129};
    std::vector<std::int16_t> out;
    DecodePcm(eight.data(), eight.size(), false, stereo, ByteOrder::kLittle, 1000, out);
    EXPECT_EQ(out, (std::vector<std::int16_t>{-32768, 0, 32512, -32512, -256, 256}));
  }
}

TEST(Pcm, NativeOrderIsRecognisedFromTheSound) {
  for (bool stereo : {false, true}) {
    const auto sine = Sine(2000, 440, 22050, 20000, stereo ? 2 : 1);
    std::vector<std::uint8_t> little = Le16(sine), big = little;
    for (std::size_t i = 0; i + 1 < big.size(); i += 2) std::swap(big[i], big[i + 1]);
    EXPECT_EQ(GuessByteOrder(little.data(), little.size(), stereo), ByteOrder::kLittle);
    EXPECT_EQ(GuessByteOrder(big.data(), big.size(), stereo), ByteOrder::kBig);
    SoundDef def;
    def.format = {SoundCoding::kPcmNative, 22050, true, stereo};
    def.sampleCount = 2000;
    def.data = big;
    const auto pcm = DecodeSound(def, {}, 1 << 20);
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->samples, sine);
  }
}

// ---------------------------------------------------------------------------------------------
// ADPCM. The reference encoder below follows the format's definition on its own: for each sample
// it tries every code, keeps the one whose reconstruction is nearest, and tracks the decoder's
// state the way the definition states it.

constexpr int kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

int IndexShift(int bits, int magnitude) {
  static const std::vector<std::vector<int>> tables = {
      {-1, 2},
      {-1, -1, 2, 4},
      {-1, -1, -1, -1, 2, 4, 6, 8},
      {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16}};
  return tables[static_cast<std::size_t>(bits - 2)][static_cast<std::size_t>(magnitude)];
}

struct RefState {
  int predicted = 0, index = 0;
  // The definition: the difference is step/2^(bits-1) plus step/2^k for each magnitude bit k
  // (most significant first, k = 0), negated by the sign bit.
  int Next(int code, int bits) const {
    const int magnitude = code & ((1 << (bits - 1)) - 1);
    const int step = kSteps[index];
    int diff = step >> (bits - 1);
    for (int k = 0; k < bits - 1; ++k)
      if (magnitude & (1 << (bits - 2 - k))) diff += step >> k;
    const int v = (code >> (bits - 1)) ? predicted - diff : predicted + diff;
    return std::clamp(v, -32768, 32767);
  }
  void Take(int code, int bits) {
    predicted = Next(code, bits);
    index = std::clamp(index + IndexShift(bits, code & ((1 << (bits - 1)) - 1)), 0, 88);
  }
};

// Encodes interleaved samples; returns the file's bytes and what a decoder must give back.
std::vector<std::uint8_t> RefEncode(const std::vector<std::int16_t>& in, int channels, int bits,
                                    std::vector<std::int16_t>& expected) {
  BitWriter w;
  w.UB(static_cast<std::uint32_t>(bits - 2), 2);
  RefState st[2];
  const int frames = static_cast<int>(in.size()) / channels;
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const int target = in[static_cast<std::size_t>(i * channels + c)];
      if (i % 4096 == 0) {
        // A packet starts with the sample itself and the step index carried on.
        st[c].predicted = target;
        w.SB(target, 16);
        w.UB(static_cast<std::uint32_t>(st[c].index), 6);
      }
    }
    for (int c = 0; c < channels && i % 4096 != 0; ++c) {
      const int target = in[static_cast<std::size_t>(i * channels + c)];
      int best = 0, bestErr = 1 << 30;
      for (int code = 0; code < (1 << bits); ++code) {
        const int err = std::abs(st[c].Next(code, bits) - target);
        if (err < bestErr) bestErr = err, best = code;
      }
      st[c].Take(best, bits);
      w.UB(static_cast<std::uint32_t>(best), static_cast<unsigned>(bits));
    }
    for (int c = 0; c < channels; ++c)
      expected.push_back(static_cast<std::int16_t>(st[c].predicted));
  }
  return w.Take();
}

// An ADPCM packet of 2-bit codes, from sample 0 at index 0, then codes 01, 11, 00.
std::vector<std::uint8_t> HandAdpcmPacket() {
  BitWriter w;
  w.UB(0, 2);
  w.SB(0, 16);
  w.UB(0, 6);
  w.UB(0b01, 2);
  w.UB(0b11, 2);
  w.UB(0b00, 2);
  return w.Take();
}

TEST(Adpcm, HandDecodedPacket) {
  // 2-bit codes, initial sample 0, index 0 (step 7), then codes 01, 11, 00:
  //   01: +(7>>1) + 7 = +10 -> 10, index 2 (step 9)
  //   11: -((9>>1) + 9) = -13 -> -3, index 4 (step 11)
  //   00: +(11>>1) = +5 -> 2, index 3
  const auto bytes = HandAdpcmPacket();
  std::vector<std::int16_t> out;
  DecodeAdpcm(bytes.data(), bytes.size(), false, 1000, out);
  // The padding of the last byte holds one more whole code (00: +(step 10 >> 1) = +5).
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(std::vector<std::int16_t>(out.begin(), out.begin() + 4),
            (std::vector<std::int16_t>{0, 10, -3, 2}));
}

TEST(Adpcm, SineAtEveryCodeSizeMatchesTheReference) {
  double previousSnr = 0;
  for (int bits = 2; bits <= 5; ++bits) {
    for (int channels : {1, 2}) {
      // Longer than two packets, so that packet starts and the step index carried across them
      // are covered.
      const auto sine = Sine(9000, 440, 22050, 12000, channels);
      std::vector<std::int16_t> expected;
      const auto bytes = RefEncode(sine, channels, bits, expected);
      std::vector<std::int16_t> out;
      DecodeAdpcm(bytes.data(), bytes.size(), channels == 2, 9000, out);
      ASSERT_EQ(out.size(), expected.size()) << bits << " bits, " << channels;
      EXPECT_EQ(out, expected) << bits << " bits, " << channels;
      double signal = 0, noise = 0;
      for (std::size_t i = 0; i < sine.size(); ++i) {
        signal += std::pow(sine[i], 2.0);
        noise += std::pow(sine[i] - out[i], 2.0);
      }
      const double snr = 10 * std::log10(signal / std::max(noise, 1.0));
      if (channels == 1) {
        // Each bit buys precision: at least 3 dB more per bit, and 2 bits already above 20 dB
        // (measured: 23.8, 27.5, 33.5 and 40.1 dB).
        EXPECT_GT(snr, bits == 2 ? 20.0 : previousSnr + 3) << bits;
        previousSnr = snr;
      }
    }
  }
}

TEST(Adpcm, DamagedDataStaysBounded) {
  std::vector<std::uint8_t> noise(5000);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 97 + 13);
  for (bool stereo : {false, true}) {
    std::vector<std::int16_t> out;
    DecodeAdpcm(noise.data(), noise.size(), stereo, 1u << 30, out);
    // Never more frames than the bits can hold, at 2 bits per code at the least.
    EXPECT_LE(out.size(), noise.size() * 8 / 2 + 2);
    out.clear();
    DecodeAdpcm(noise.data(), noise.size(), stereo, 100, out);
    EXPECT_EQ(out.size(), stereo ? 200u : 100u);
  }
}

// ---------------------------------------------------------------------------------------------
// MP3 through the platform decoder.

std::vector<std::uint8_t> ToneMp3() {
  std::ifstream in(DBX_SWF_TONE_MP3, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Mp3, PlatformDecoderGivesTheTone) {
  const auto mp3 = ToneMp3();
  ASSERT_GT(mp3.size(), 1000u);
  SoundDef def;
  def.format = {SoundCoding::kMp3, 22050, true, false};
  def.sampleCount = 22050;
  def.data = mp3;
  const auto pcm = DecodeSound(def, CreateMpg123Decoder, 1 << 20);
  ASSERT_TRUE(pcm);
  EXPECT_EQ(pcm->rate, 22050);
  EXPECT_EQ(pcm->channels, 1);
  // One second of a 440 Hz tone at half scale (the encoder adds a little at either end).
  EXPECT_NEAR(static_cast<double>(pcm->Frames()), 22050, 3000);
  const std::vector<std::int16_t> middle(pcm->samples.begin() + 4000, pcm->samples.begin() + 18000);
  EXPECT_NEAR(MeasureHz(middle, 1, 0, 22050), 440, 2);
  EXPECT_NEAR(Rms(pcm->samples.data() + 4000, 10000, 1, 0), 16384 / std::sqrt(2.0), 600);
  // Without a decoder the sound is silent rather than noise.
  EXPECT_FALSE(DecodeSound(def, {}, 1 << 20));
  // Garbage is no MP3 at all: nothing, or silence, but no crash.
  def.data.assign(4000, 0xAB);
  const auto junk = DecodeSound(def, CreateMpg123Decoder, 1 << 20);
  if (junk) {
    EXPECT_LT(Rms(junk->samples.data(), junk->Frames(), 1, 0), 1.0);
  }
}

// ---------------------------------------------------------------------------------------------
// The mixer.

std::shared_ptr<const Pcm> MakePcm(std::vector<std::int16_t> samples, int rate, int channels) {
  auto p = std::make_shared<Pcm>();
  p->rate = rate;
  p->channels = channels;
  p->samples = std::move(samples);
  return p;
}

std::vector<std::int16_t> MixFrames(Mixer& m, std::size_t frames) {
  std::vector<std::int16_t> out(frames * 2);
  m.Mix(out.data(), frames);
  return out;
}

TEST(Mixer, SumsClipInsteadOfWrapping) {
  Mixer m;
  const auto loud = MakePcm(Sine(4410, 100, 44100, 30000), 44100, 1);
  m.Start(loud, {}, 1);
  m.Start(loud, {}, 2);
  const auto out = MixFrames(m, 4410);
  const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
  EXPECT_EQ(*hi, 32767);
  EXPECT_EQ(*lo, -32768);
  // Where the sum exceeds the range the output stays at the rail with the sum's sign.
  for (std::size_t i = 0; i < loud->samples.size(); ++i) {
    const int sum = 2 * loud->samples[i];
    if (sum > 32767) {
      EXPECT_EQ(out[2 * i], 32767) << i;
    } else if (sum < -32768) {
      EXPECT_EQ(out[2 * i], -32768) << i;
    }
  }
}

TEST(Mixer, OtherRatesAreResampled) {
  for (int rate : {5512, 11025, 22050, 44100}) {
    Mixer m;
    // Half a second of 300 Hz, mono, at the sound's own rate.
    m.Start(MakePcm(Sine(rate / 2, 300, rate, 10000), rate, 1), {}, 1);
    const auto out = MixFrames(m, 44100);
    EXPECT_NEAR(MeasureHz(out, 2, 0, 44100), 300, 1.5) << rate;
    // It lasts half a second at the output rate, and is silent after.
    EXPECT_NEAR(Rms(out.data() + 2 * 1000, 20000, 2, 0), 10000 / std::sqrt(2.0), 150) << rate;
    EXPECT_EQ(Rms(out.data() + 2 * 22100, 22000, 2, 0), 0) << rate;
  }
}

TEST(Mixer, InAndOutPointsAndLoops) {
  // A ramp at 22.05 kHz: sample i holds i. In and out points count 44.1 kHz samples.
  std::vector<std::int16_t> ramp(2000);
  for (int i = 0; i < 2000; ++i) ramp[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
  Mixer m;
  SoundInfo info;
  info.inPoint = 200;   // source sample 100
  info.outPoint = 600;  // source sample 300
  info.loops = 3;
  m.Start(MakePcm(ramp, 22050, 1), info, 1);
  const auto out = MixFrames(m, 2000);
  // 200 source samples a loop, two output frames each: 3 loops fill 1200 frames.
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[2 * 2], 101);
  EXPECT_EQ(out[2 * 399], 299);
  EXPECT_EQ(out[2 * 400], 100);  // the second loop starts at the in point again
  EXPECT_EQ(out[2 * 1199], 299);
  EXPECT_EQ(out[2 * 1200], 0);
  EXPECT_FALSE(m.Playing(1));
}

TEST(Mixer, EnvelopeShapesEachChannel) {
  Mixer m;
  SoundInfo info;
  // Left rises from silence to full over 1000 frames; right falls from full to a quarter.
  info.envelope = {{0, 0, 32768}, {1000, 32768, 8192}};
  m.Start(MakePcm(std::vector<std::int16_t>(3000, 16000), 44100, 1), info, 1);
  const auto out = MixFrames(m, 3000);
  EXPECT_NEAR(out[0], 0, 1);
  EXPECT_NEAR(out[2 * 500], 8000, 20);
  EXPECT_NEAR(out[2 * 1000], 16000, 20);
  EXPECT_NEAR(out[2 * 2500], 16000, 1);  // held after the last point
  EXPECT_NEAR(out[1], 16000, 1);
  EXPECT_NEAR(out[2 * 500 + 1], 10000, 20);
  EXPECT_NEAR(out[2 * 2500 + 1], 4000, 1);
}

TEST(Mixer, VolumePanStopAndNoDoubleStart) {
  Mixer m;
  const auto tone = MakePcm(std::vector<std::int16_t>(44100, 10000), 44100, 1);
  const int v = m.Start(tone, {}, 5, ChannelTransform::FromVolumePan(50, 100));
  auto out = MixFrames(m, 100);
  EXPECT_EQ(out[0], 0);     // panned fully right: nothing on the left
  EXPECT_EQ(out[1], 5000);  // at half volume
  m.SetVoiceTransform(v, ChannelTransform::FromVolumePan(100, -50));
  out = MixFrames(m, 100);
  EXPECT_EQ(out[0], 10000);
  EXPECT_EQ(out[1], 5000);
  EXPECT_TRUE(m.Playing(5));
  m.StopGroup(5);
  EXPECT_FALSE(m.Playing(5));
  out = MixFrames(m, 10);
  EXPECT_EQ(out[0], 0);
}

TEST(Mixer, StreamWaitsForItsPrerollAndStaysNearTheTimeline) {
  Mixer m;
  m.StreamStart(44100, 1, 1000, 4000);
  const std::vector<std::int16_t> block(800, 1000);
  m.StreamPush(block.data(), block.size());
  auto out = MixFrames(m, 100);
  EXPECT_EQ(out[0], 0);  // 800 queued < 1000: still waiting
  m.StreamPush(block.data(), block.size());
  out = MixFrames(m, 100);
  EXPECT_EQ(out[0], 1000);
  EXPECT_EQ(m.StreamPlayedFrames(), 100u);
  // Far more than the bound queued: the oldest goes, so what plays next is the newest sound.
  std::vector<std::int16_t> late(8000, 2000);
  m.StreamPush(late.data(), late.size());
  out = MixFrames(m, 10);
  EXPECT_EQ(out[0], 2000);
}

// ---------------------------------------------------------------------------------------------
// A movie's sound, mixed as the timeline plays.

// Plays `frames` frames and mixes exactly one frame interval of sound after each.
std::vector<std::int16_t> PlayToPcm(FlashPlayer& player, int frames) {
  std::vector<std::int16_t> all;
  player.Play();
  const double interval = player.FrameIntervalMs();
  double now = 0;
  double mixed = 0;  // output frames owed so far
  for (int f = 0; f < frames; ++f) {
    player.Advance(static_cast<std::int64_t>(now));
    now += interval;
    mixed += 44100 * interval / 1000;
    const auto owed = static_cast<std::size_t>(mixed) - all.size() / 2;
    std::vector<std::int16_t> piece(owed * 2);
    player.MixSound(piece.data(), owed);
    all.insert(all.end(), piece.begin(), piece.end());
  }
  return all;
}

// SoundStreamHead2 of a 22.05 kHz 16-bit mono stream of `coding`, `perFrame` samples a frame (and
// a latency of 0 for MP3).
void StreamHead22k(SwfWriter& swf, SoundCoding coding, std::uint16_t perFrame) {
  BitWriter w;
  w.U8(0x0A);
  w.UB(static_cast<std::uint32_t>(coding), 4);
  w.UB(2, 2);
  w.UB(1, 1);
  w.UB(0, 1);
  w.U16(perFrame);
  if (coding == SoundCoding::kMp3) w.U16(0);
  swf.Tag(Code(Tag::kSoundStreamHead2), w.Take());
}

TEST(MovieSound, LoopingEventSoundStartsOnItsFrame) {
  // 10 fps; frame 2 starts a 0.15 s tone that loops twice (with noMultiple, so that the second
  // pass of the timeline does not start another), frame 8 stops it... it ends before that.
  SwfWriter swf(100, 100, 10);
  swf.Tag(Code(Tag::kDefineSound), DefineSoundBody(4, SoundCoding::kPcmLittle, 22050, true, false,
                                                   3307, Le16(Sine(3307, 441, 22050, 8000))));
  swf.ShowFrame();
  swf.ShowFrame();
  SoundInfo info;
  info.loops = 2;
  info.noMultiple = true;
  swf.Tag(Code(Tag::kStartSound), StartSoundBody(4, info));
  for (int i = 0; i < 8; ++i) swf.ShowFrame();
  swf.End();
  const auto bytes = swf.Finish();
  FlashPlayer player;
  player.SetSoundMode(SoundMode::kPulled);
  player.LoadMovieBytes(bytes.data(), bytes.size());
  const auto pcm = PlayToPcm(player, 10);
  ASSERT_EQ(pcm.size(), 2u * 44100);
  // Silent for frames 0 and 1, then 0.3 s of tone, then silence.
  EXPECT_EQ(Rms(pcm.data(), 8820, 2, 0), 0);
  EXPECT_NEAR(Rms(pcm.data() + 2 * 8820, 13230, 2, 0), 8000 / std::sqrt(2.0), 100);
  EXPECT_NEAR(Rms(pcm.data() + 2 * 8820, 13230, 2, 1), 8000 / std::sqrt(2.0), 100);
  EXPECT_EQ(Rms(pcm.data() + 2 * 22100, 20000, 2, 0), 0);
  const std::vector<std::int16_t> tone(pcm.begin() + 2 * 8820, pcm.begin() + 2 * 22050);
  EXPECT_NEAR(MeasureHz(tone, 2, 0, 44100), 441, 1);
}

// A video file's sound: its blocks decode one after another into one sound, in the file's
// coding (each ADPCM block starts anew); codings that cannot be decoded give none.
TEST(MovieSound, AVideoFilesBlocksDecodeIntoOneSound) {
  const Movie movie;
  Mixer mixer;
  MovieSound sound(movie, mixer, nullptr, {});
  SoundFormat pcm;
  pcm.coding = SoundCoding::kPcmLittle;
  pcm.rate = 22050;
  const std::vector<std::int16_t> tone = Sine(300, 441, 22050, 8000);
  const std::vector<std::int16_t> first(tone.begin(), tone.begin() + 100),
      second(tone.begin() + 100, tone.end());
  const std::uint32_t handle = sound.LoadBlocks(pcm, {Le16(first), Le16(second)});
  ASSERT_NE(handle, 0u);
  const auto decoded = sound.DecodedHandle(handle);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->rate, 22050);
  EXPECT_EQ(decoded->channels, 1);
  EXPECT_EQ(decoded->samples, tone);

  // Two ADPCM packets of codes 01, 11, 00 from 0 (0, 10, -3, 2, then the padding's code).
  const auto packet = HandAdpcmPacket();
  std::vector<std::int16_t> once;
  DecodeAdpcm(packet.data(), packet.size(), false, 1000, once);
  SoundFormat adpcm = pcm;
  adpcm.coding = SoundCoding::kAdpcm;
  const auto twice = sound.DecodedHandle(sound.LoadBlocks(adpcm, {packet, packet}));
  ASSERT_TRUE(twice);
  std::vector<std::int16_t> expected = once;
  expected.insert(expected.end(), once.begin(), once.end());
  EXPECT_EQ(twice->samples, expected);

  SoundFormat nelly = pcm;
  nelly.coding = SoundCoding::kNellymoser;
  EXPECT_EQ(sound.LoadBlocks(nelly, {packet}), 0u);
  EXPECT_EQ(sound.LoadBlocks(pcm, {}), 0u);
}

TEST(MovieSound, StreamSoundKeepsWithTheFrames) {
  // 20 frames at 10 fps, each with its own block of 0.1 s of 22.05 kHz PCM whose level is the
  // frame number: what plays in each frame interval is that frame's block, to the last frame.
  SwfWriter swf(100, 100, 10);
  StreamHead22k(swf, SoundCoding::kPcmLittle, 2205);
  for (int f = 0; f < 20; ++f) {
    swf.Tag(Code(Tag::kSoundStreamBlock),
            Le16(std::vector<std::int16_t>(2205, static_cast<std::int16_t>(1000 * (f + 1)))));
    swf.ShowFrame();
  }
  swf.End();
  const auto bytes = swf.Finish();
  FlashPlayer player;
  player.SetSoundMode(SoundMode::kPulled);
  player.LoadMovieBytes(bytes.data(), bytes.size());
  const auto pcm = PlayToPcm(player, 20);
  for (int f = 0; f < 20; ++f) {
    const std::size_t mid = static_cast<std::size_t>(f) * 4410 + 2205;
    EXPECT_EQ(pcm[2 * mid], 1000 * (f + 1)) << f;
  }
  // The sound ends with the last frame's interval.
  EXPECT_EQ(pcm[2 * (20 * 4410 - 2)], 20000);
}

TEST(MovieSound, StreamKeepsWithThePictureWhenDrawingIsSlow) {
  // 20 s at 25 fps: each frame's block is 40 ms of 22.05 kHz PCM whose level is the frame number;
  // the last frame stops the movie. Every drawing takes 1.5 frame intervals, and a sound device
  // pulls 1024 frames at a time as the clock passes. The timeline must skip frames to keep up:
  // its last frame is on screen within one interval of the time its own sound starts playing,
  // and the sound is not stretched (it ends after 20 s and its preroll, not after 30 s).
  constexpr int kFrames = 500;
  SwfWriter swf(100, 100, 25);
  StreamHead22k(swf, SoundCoding::kPcmLittle, 882);
  for (int f = 0; f < kFrames; ++f) {
    swf.Tag(Code(Tag::kSoundStreamBlock),
            Le16(std::vector<std::int16_t>(882, static_cast<std::int16_t>(60 * (f + 1)))));
    if (f == kFrames - 1) swf.DoAction({0x07, 0x00});  // stop
    swf.ShowFrame();
  }
  swf.End();
  const auto bytes = swf.Finish();
  FlashPlayer player;
  player.SetSoundMode(SoundMode::kDevice);
  player.LoadMovieBytes(bytes.data(), bytes.size());
  player.Play();
  const double interval = player.FrameIntervalMs();
  ASSERT_DOUBLE_EQ(interval, 40.0);
  std::vector<std::int16_t> out;
  std::vector<std::int16_t> piece(2 * 1024);
  double now = 0, lastShown = -1;
  int drawn = 0;
  while (now < 26000) {
    if (player.Advance(static_cast<std::int64_t>(now))) {
      now += 1.5 * interval;  // the drawing
      if (lastShown < 0) ++drawn;
      if (player.CurrentFrame() == kFrames - 1 && lastShown < 0) lastShown = now;
    } else {
      now += 1;
    }
    while ((out.size() / 2 + 1024) * 1000.0 / 44100 <= now) {
      player.MixSound(piece.data(), 1024);
      out.insert(out.end(), piece.begin(), piece.end());
    }
  }
  ASSERT_GT(lastShown, 0) << "the last frame was never shown";
  // Where the last frame's sound plays: the output frames at its level.
  std::size_t first = 0, last = 0;
  for (std::size_t i = 0; i < out.size() / 2; ++i)
    if (out[2 * i] == 60 * kFrames) {
      if (!first) first = i;
      last = i;
    }
  ASSERT_GT(first, 0u) << "the last frame's sound never played";
  const double soundStart = first * 1000.0 / 44100, soundEnd = (last + 1) * 1000.0 / 44100;
  EXPECT_NEAR(soundEnd - soundStart, interval, 1);
  EXPECT_NEAR(lastShown, soundStart, interval) << "sound ends at " << soundEnd << " ms";
  EXPECT_LT(soundEnd, 20000 + 4 * interval);
  // About two frames of every three drawn: the others were run without drawing.
  EXPECT_NEAR(drawn, kFrames * 2 / 3, 10);
}

// The byte offsets where the frames of an MPEG-2 layer III file at 22.05 kHz and 64 kbit/s start
// (each 208 bytes, 209 with the padding bit, holding 576 samples).
std::vector<std::size_t> Mp3FrameStarts(const std::vector<std::uint8_t>& mp3) {
  std::vector<std::size_t> starts;
  std::size_t at = 0;
  while (at + 4 <= mp3.size() && mp3[at] == 0xFF && (mp3[at + 1] & 0xE0) == 0xE0) {
    starts.push_back(at);
    at += 208 + ((mp3[at + 2] >> 1) & 1);
  }
  return starts;
}

TEST(MovieSound, Mp3StreamPlaysThroughThePlatformDecoder) {
  // The tone file as a stream of four MP3 frames (2304 samples) per movie frame, as an encoder
  // writes it: a block holds whole frames and a little more sound than a frame interval lasts.
  const auto mp3 = ToneMp3();
  const auto starts = Mp3FrameStarts(mp3);
  ASSERT_GT(starts.size(), 20u);
  SwfWriter swf(100, 100, 10);
  StreamHead22k(swf, SoundCoding::kMp3, 2205);
  int frames = 0;
  // The encoder's information frame (no sound) stays out, as in a movie.
  for (std::size_t i = 1; i < starts.size(); i += 4, ++frames) {
    const std::size_t end = i + 4 < starts.size() ? starts[i + 4] : mp3.size();
    BitWriter w;
    w.U16(2304);
    w.U16(0);
    const std::vector<std::uint8_t> block(mp3.begin() + static_cast<long>(starts[i]),
                                          mp3.begin() + static_cast<long>(end));
    w.Bytes(block);
    swf.Tag(Code(Tag::kSoundStreamBlock), w.Take(), true);
    swf.ShowFrame();
  }
  // A last frame without sound, for the stream to play out.
  swf.ShowFrame();
  ++frames;
  swf.End();
  const auto bytes = swf.Finish();
  FlashPlayer player;
  player.SetMp3Decoders(CreateMpg123Decoder);
  player.SetSoundMode(SoundMode::kPulled);
  player.LoadMovieBytes(bytes.data(), bytes.size());
  const auto pcm = PlayToPcm(player, frames);
  // The tone at the output rate, on both sides, for about the second it lasts.
  const std::vector<std::int16_t> middle(pcm.begin() + 2 * 10000, pcm.begin() + 2 * 40000);
  EXPECT_NEAR(MeasureHz(middle, 2, 0, 44100), 440, 2);
  EXPECT_NEAR(Rms(middle.data(), 30000, 2, 1), 16384 / std::sqrt(2.0), 600);
  // It starts after the encoder's delay (1105 samples, 2210 at the output rate) and the frame
  // interval the stream keeps in hand (the decoder holds back the last frame it was given, so the
  // first block alone would run dry before the second comes), and lasts its second without a gap
  // (a gap is 3 ms with no sample beyond the quietest of the tone's peaks).
  std::size_t first = 0, last = 0, gaps = 0, quiet = 0;
  while (first < pcm.size() / 2 && std::abs(pcm[2 * first]) <= 2000) ++first;
  for (std::size_t i = 0; i < pcm.size() / 2; ++i)
    if (std::abs(pcm[2 * i]) > 2000) last = i;
  for (std::size_t i = first; i < last; ++i) {
    quiet = std::abs(pcm[2 * i]) <= 2000 ? quiet + 1 : 0;
    if (quiet == 130) ++gaps;
  }
  EXPECT_NEAR(static_cast<double>(first), 2210 + 4410, 30);
  EXPECT_NEAR(static_cast<double>(last - first), 44100, 30);
  EXPECT_EQ(gaps, 0u);
}

// ---------------------------------------------------------------------------------------------
// The Sound object of scripts.

using avm1::test::Asm;
using avm1::test::Item;

// obj.method(args...), its result dropped unless `keep`.
void CallMethod(Asm& a, const std::string& obj, const std::string& method,
                const std::vector<Item>& args, bool keep = false) {
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Push({*it});
  a.Push({static_cast<int>(args.size())});
  a.Get(obj);
  a.Push({method}).Op(0x52);
  if (!keep) a.Op(0x17);
}

// trace(obj.method()).
void TraceCall(Asm& a, const std::string& obj, const std::string& method) {
  CallMethod(a, obj, method, {}, true);
  a.Trace();
}

// A 10 fps movie exporting a 0.15 s tone (22.05 kHz mono) as "tone", whose first frame runs
// `script` and whose other frames do nothing.
std::vector<std::uint8_t> ToneMovie(Asm& script, int frames) {
  SwfWriter swf(100, 100, 10);
  swf.SetVersion(8);
  swf.Tag(Code(Tag::kDefineSound), DefineSoundBody(4, SoundCoding::kPcmLittle, 22050, true, false,
                                                   3307, Le16(Sine(3307, 441, 22050, 8000))));
  swf.Export(4, "tone");
  auto code = script.Build();
  swf.DoAction(code->bytes);
  for (int i = 0; i < frames; ++i) swf.ShowFrame();
  swf.End();
  return swf.Finish();
}

// What a tone movie traced and played in `frames` frames.
struct Played {
  std::vector<std::string> trace;
  std::vector<std::int16_t> pcm;
};
Played PlayToneMovie(Asm& script, int frames, int movieFrames = 10) {
  const auto bytes = ToneMovie(script, movieFrames);
  FlashPlayer player;
  Played out;
  player.SetTraceSink([&](std::string_view line) { out.trace.emplace_back(line); });
  player.SetSoundMode(SoundMode::kPulled);
  player.LoadMovieBytes(bytes.data(), bytes.size());
  out.pcm = PlayToPcm(player, frames);
  return out;
}

// A movie loaded into a level plays its own sounds: one its timeline starts, and one its script
// attaches through a Sound object made for its clip. The main movie has no sounds (before, the
// loaded movie's ids were looked up in it, and nothing played).
TEST(SoundObject, ALoadedMoviePlaysItsOwnSounds) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("dbx-loaded-sound-" + std::to_string(reinterpret_cast<std::uintptr_t>(&dir)));
  std::filesystem::create_directories(dir);
  auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  Asm main;
  main.Push({"child.swf", "_level1"}).Long(0x9A, {0});
  SwfWriter mainSwf(100, 100, 10);
  mainSwf.SetVersion(8);
  mainSwf.DoAction(main.Build()->bytes);
  for (int i = 0; i < 10; ++i) mainSwf.ShowFrame();
  mainSwf.End();
  write("main.swf", mainSwf.Finish());
  for (const bool scripted : {false, true}) {
    SCOPED_TRACE(scripted ? "attached" : "timeline");
    Asm child;
    if (scripted) {
      // s = new Sound(this); s.attachSound("tone"); trace(...); s.start();
      child.Push({"s"}).Get("this").Push({1, "Sound"}).Op(0x40).Op(0x1D);
      CallMethod(child, "s", "attachSound", {"tone"}, true);
      child.Trace();
      CallMethod(child, "s", "start", {});
    }
    SwfWriter swf(100, 100, 10);
    swf.SetVersion(8);
    swf.Tag(Code(Tag::kDefineSound), DefineSoundBody(4, SoundCoding::kPcmLittle, 22050, true, false,
                                                     3307, Le16(Sine(3307, 441, 22050, 8000))));
    swf.Export(4, "tone");
    if (scripted)
      swf.DoAction(child.Build()->bytes);
    else
      swf.Tag(Code(Tag::kStartSound), StartSoundBody(4, SoundInfo{}));
    swf.ShowFrame();
    swf.End();
    write("child.swf", swf.Finish());
    FlashPlayer player;
    std::vector<std::string> trace;
    player.SetTraceSink([&](std::string_view line) { trace.emplace_back(line); });
    player.SetSoundMode(SoundMode::kPulled);
    player.SetMovie((dir / "main.swf").string());
    const auto pcm = PlayToPcm(player, 10);
    // The child shows at the second frame (0.1 s) and plays the tone for 0.15 s.
    ASSERT_EQ(pcm.size(), 2u * 44100);
    EXPECT_NEAR(Rms(pcm.data() + 2 * 4900, 4000, 2, 0), 8000 / std::sqrt(2.0), 300);
    EXPECT_EQ(trace, scripted ? std::vector<std::string>{"true"} : std::vector<std::string>{});
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

TEST(SoundObject, AttachedSoundPlaysAtItsVolumeLoopsAndSaysWhenItIsDone) {
  Asm a;
  // s = new Sound(); s.attachSound("tone"); s.setVolume(50);
  a.Push({"s", 0, "Sound"}).Op(0x40).Op(0x1D);
  CallMethod(a, "s", "attachSound", {"tone"});
  CallMethod(a, "s", "setVolume", {50});
  // s.onSoundComplete = function () { trace("complete"); };
  a.Get("s").Push({"onSoundComplete"});
  a.Function("", {}, [](Asm& b) { b.Push({"complete"}).Trace(); });
  a.Op(0x4F);
  // s.start(0, 2); trace(s.duration); trace(s.getVolume()); trace(s.getPan());
  CallMethod(a, "s", "start", {0, 2});
  a.Get("s").Push({"duration"}).Op(0x4E).Trace();
  TraceCall(a, "s", "getVolume");
  TraceCall(a, "s", "getPan");
  const auto [trace, pcm] = PlayToneMovie(a, 10);
  // The tone plays twice (0.3 s) at half its level from the start, then silence; the handler
  // runs once, after the second pass.
  ASSERT_EQ(pcm.size(), 2u * 44100);
  EXPECT_NEAR(Rms(pcm.data(), 13000, 2, 0), 4000 / std::sqrt(2.0), 100);
  EXPECT_NEAR(Rms(pcm.data(), 13000, 2, 1), 4000 / std::sqrt(2.0), 100);
  EXPECT_EQ(Rms(pcm.data() + 2 * 13400, 30000, 2, 0), 0);
  EXPECT_EQ(trace, (std::vector<std::string>{"150", "50", "0", "complete"}));
}

// The Sound constructor run on another object (as the constructor of a class extending Sound
// runs it on its instance) makes that object a sound.
TEST(SoundObject, AnObjectTheConstructorRunsOnBecomesASound) {
  Asm a;
  // o = {}; o.__proto__ = Sound.prototype; trace(o.getVolume()); Sound.call(o);
  a.Push({"o", 0}).Op(0x43).Op(0x1D);
  a.Get("o").Push({"__proto__"}).Get("Sound").Push({"prototype"}).Op(0x4E).Op(0x4F);
  TraceCall(a, "o", "getVolume");
  a.Get("o").Push({1}).Get("Sound").Push({"call"}).Op(0x52).Op(0x17);
  // o.attachSound("tone"); o.setVolume(50); o.start(); trace(o.getVolume());
  CallMethod(a, "o", "attachSound", {"tone"});
  CallMethod(a, "o", "setVolume", {50});
  CallMethod(a, "o", "start", {});
  TraceCall(a, "o", "getVolume");
  const auto [trace, pcm] = PlayToneMovie(a, 10);
  ASSERT_EQ(pcm.size(), 2u * 44100);
  EXPECT_NEAR(Rms(pcm.data(), 6000, 2, 0), 4000 / std::sqrt(2.0), 100);
  EXPECT_EQ(trace, (std::vector<std::string>{"undefined", "50"}));
}

// A Sound made with a path names its clip from the timeline of the script that calls it; one made
// with the clip itself names it from anywhere.
TEST(SoundObject, APathNamesTheClipFromTheCallersTimeline) {
  Asm a;
  // createEmptyMovieClip("mc", 1); mc.createEmptyMovieClip("inner", 1);
  CallMethod(a, "_root", "createEmptyMovieClip", {"mc", 1});
  CallMethod(a, "mc", "createEmptyMovieClip", {"inner", 1});
  // s = new Sound("inner"); t = new Sound(mc.inner);
  a.Push({"s", "inner", 1, "Sound"}).Op(0x40).Op(0x1D);
  a.Push({"t"}).Get("mc").Push({"inner"}).Op(0x4E).Push({1, "Sound"}).Op(0x40).Op(0x1D);
  TraceCall(a, "s", "getVolume");  // from the root: no clip "inner" there
  CallMethod(a, "t", "setVolume", {40});
  a.Long(0x8B, {'m', 'c', 0});  // tellTarget("mc")
  a.Push({0}).Get("_root").Push({"s"}).Op(0x4E).Push({"getVolume"}).Op(0x52).Trace();
  a.Long(0x8B, {0});
  TraceCall(a, "t", "getVolume");
  const auto bytes = ToneMovie(a, 1);
  FlashPlayer player;
  std::vector<std::string> trace;
  player.SetTraceSink([&](std::string_view line) { trace.emplace_back(line); });
  player.LoadMovieBytes(bytes.data(), bytes.size());
  player.Advance(100);
  EXPECT_EQ(trace, (std::vector<std::string>{"undefined", "40", "40"}));
}

TEST(SoundObject, ClipSoundsFollowTheClipsLevelsAndStopAllSoundsSilencesThem) {
  Asm a;
  // createEmptyMovieClip("mc", 1); s = new Sound(mc); s.attachSound("tone");
  CallMethod(a, "_root", "createEmptyMovieClip", {"mc", 1});
  a.Push({"s"}).Get("mc").Push({1, "Sound"}).Op(0x40).Op(0x1D);
  CallMethod(a, "s", "attachSound", {"tone"});
  // Panned hard left, then played twice; the transform reads back what was set.
  CallMethod(a, "s", "setPan", {-100});
  CallMethod(a, "s", "start", {0, 2});
  TraceCall(a, "s", "getPan");
  CallMethod(a, "s", "getTransform", {}, true);
  a.Push({"t"}).Op(0x4D).Op(0x1D);  // t = s.getTransform() (swap name under value)
  for (const char* channel : {"ll", "lr", "rr", "rl"}) a.Get("t").Push({channel}).Op(0x4E).Trace();
  // Another Sound for the same clip shares its levels.
  a.Push({"u"}).Get("mc").Push({1, "Sound"}).Op(0x40).Op(0x1D);
  TraceCall(a, "u", "getPan");
  // Once the clip is gone the object governs nothing.
  a.Get("mc").Push({"_name", "gone"}).Op(0x4F);
  TraceCall(a, "s", "getVolume");
  const auto [trace, pcm] = PlayToneMovie(a, 2, 4);
  EXPECT_NEAR(Rms(pcm.data(), 8000, 2, 0), 8000 / std::sqrt(2.0), 100);
  EXPECT_EQ(Rms(pcm.data(), 8000, 2, 1), 0);
  EXPECT_EQ(trace, (std::vector<std::string>{"-100", "100", "0", "0", "0", "-100", "undefined"}));

  // stopAllSounds ends the tone before its time.
  Asm stop;
  stop.Op(0x09);
  const auto stopBytes = ToneMovie(stop, 4);
  FlashPlayer again;
  again.SetSoundMode(SoundMode::kPulled);
  again.LoadMovieBytes(stopBytes.data(), stopBytes.size());
  EXPECT_EQ(Rms(PlayToPcm(again, 2).data(), 8000, 2, 0), 0);
}

}  // namespace
}  // namespace dbx::swf
