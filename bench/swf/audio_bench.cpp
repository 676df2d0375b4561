// Decoding and mixing cost of movie sound, per second of 44.1 kHz stereo output: 16 sounds at
// once (8 MP3, 8 ADPCM, decoded as a movie starts them), beside the MP3 decoding of the platform
// library alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/mpg123/mpg123_decoder.h"
#include "swf/audio/decoders.h"
#include "swf/audio/mixer.h"

namespace {

std::vector<std::uint8_t> ToneMp3() {
  std::ifstream in(DBX_SWF_TONE_MP3, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// One second of a 4-bit ADPCM tone at 22.05 kHz: packets of an initial sample and index, then
// codes that swing the prediction up and down.
dbx::swf::SoundDef AdpcmTone() {
  dbx::swf::SoundDef def;
  def.format = {dbx::swf::SoundCoding::kAdpcm, 22050, true, false};
  def.sampleCount = 22050;
  std::vector<bool> bits = {1, 0};  // 4-bit codes
  for (int i = 0; i < 22050; ++i) {
    if (i % 4096 == 0) {
      for (int b = 0; b < 22; ++b) bits.push_back(b == 21);
      continue;
    }
    const int code = (i / 8) % 2 ? 0x3 : 0xB;
    for (int b = 3; b >= 0; --b) bits.push_back((code >> b) & 1);
  }
  def.data.assign((bits.size() + 7) / 8, 0);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) def.data[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
  return def;
}

// The MP3 decoder alone: one second of sound (the test tone lasts about a second).
void BM_Mp3DecodeOneSecond(benchmark::State& state) {
  const auto mp3 = ToneMp3();
  for (auto _ : state) {
    auto d = dbx::CreateMpg123Decoder(22050, 1);
    std::vector<std::int16_t> out;
    d->Feed(mp3.data(), mp3.size(), out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_Mp3DecodeOneSecond)->Unit(benchmark::kMillisecond);

// 16 sounds decoded and mixed into one second of output.
void BM_DecodeAndMix16Sounds(benchmark::State& state) {
  dbx::swf::SoundDef mp3;
  mp3.format = {dbx::swf::SoundCoding::kMp3, 22050, true, false};
  mp3.sampleCount = 22050;
  mp3.data = ToneMp3();
  const auto adpcm = AdpcmTone();
  std::vector<std::int16_t> out(2 * 44100);
  for (auto _ : state) {
    dbx::swf::Mixer mixer;
    for (int i = 0; i < 16; ++i) {
      const auto pcm = i % 2 ? dbx::swf::DecodeSound(mp3, dbx::CreateMpg123Decoder, 1 << 20)
                             : dbx::swf::DecodeSound(adpcm, {}, 1 << 20);
      dbx::swf::SoundInfo info;
      info.envelope = {{0, 0, 32768}, {22050, 32768, 0}};
      mixer.Start(pcm, info, static_cast<std::uint32_t>(i),
                  dbx::swf::ChannelTransform::FromVolumePan(50, i * 10 - 80));
    }
    for (int piece = 0; piece < 44100 / 1024 + 1; ++piece) mixer.Mix(out.data(), 1024);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_DecodeAndMix16Sounds)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
