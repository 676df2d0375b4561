#include "swf/audio/decoders.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "core/trace.h"

namespace dbx::swf {

namespace {

// Bits read most significant first, with the count of bits left known (ADPCM packets are packed
// without alignment and end wherever the data ends).
class Bits {
 public:
  Bits(const std::uint8_t* data, std::size_t size) : data_(data), bits_(size * 8) {}
  std::size_t Left() const { return bits_ - pos_; }
  std::uint32_t Read(unsigned n) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos_)
      v = (v << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
    return v;
  }
  std::int32_t ReadSigned(unsigned n) {
    const std::uint32_t v = Read(n);
    return (v & (1u << (n - 1))) ? static_cast<std::int32_t>(v) - (1 << n)
                                 : static_cast<std::int32_t>(v);
  }

 private:
  const std::uint8_t* data_;
  std::size_t bits_;
  std::size_t pos_ = 0;
};

constexpr std::array<int, 89> kStepSizes = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// How the step index moves after a code, by the code's magnitude bits, for 2 to 5 bits.
constexpr int kIndex2[2] = {-1, 2};
constexpr int kIndex3[4] = {-1, -1, 2, 4};
constexpr int kIndex4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kIndex5[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};
constexpr const int* kIndexTables[4] = {kIndex2, kIndex3, kIndex4, kIndex5};

struct AdpcmChannel {
  int sample = 0;
  int index = 0;

  void Apply(std::uint32_t code, unsigned bits) {
    const std::uint32_t sign = 1u << (bits - 1);
    const std::uint32_t magnitude = code & (sign - 1);
    int step = kStepSizes[static_cast<std::size_t>(index)];
    int diff = step >> (bits - 1);
    for (std::uint32_t k = sign >> 1; k != 0; k >>= 1, step >>= 1)
      if (magnitude & k) diff += step;
    sample = std::clamp((code & sign) ? sample - diff : sample + diff, -32768, 32767);
    index = std::clamp(index + kIndexTables[bits - 2][magnitude], 0, 88);
  }
};

constexpr int kAdpcmPacketFrames = 4096;

}  // namespace

void DecodePcm(const std::uint8_t* data, std::size_t size, bool sixteenBit, bool stereo,
               ByteOrder order, std::size_t maxFrames, std::vector<std::int16_t>& out) {
  if (!data) return;
  const std::size_t channels = stereo ? 2 : 1;
  const std::size_t bytes = sixteenBit ? 2 : 1;
  const std::size_t frames = std::min(size / (channels * bytes), maxFrames);
  const std::size_t values = frames * channels;
  out.reserve(out.size() + values);
  for (std::size_t i = 0; i < values; ++i) {
    if (!sixteenBit) {
      out.push_back(static_cast<std::int16_t>((data[i] - 128) * 256));
      continue;
    }
    const std::uint8_t a = data[2 * i], b = data[2 * i + 1];
    const unsigned v = order == ByteOrder::kLittle ? (a | (b << 8)) : (b | (a << 8));
    out.push_back(static_cast<std::int16_t>(v));
  }
}

ByteOrder GuessByteOrder(const std::uint8_t* data, std::size_t size, bool stereo) {
  const std::size_t stride = stereo ? 4 : 2;
  if (!data || size < 2 * stride) return ByteOrder::kLittle;
  const std::size_t limit = std::min<std::size_t>(size / stride, 1 << 16) * stride;
  long long little = 0, big = 0;
  for (std::size_t i = stride; i + 1 < limit; i += stride) {
    auto le = [&](std::size_t at) {
      return static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));
    };
    auto be = [&](std::size_t at) {
      return static_cast<std::int16_t>(data[at + 1] | (data[at] << 8));
    };
    little += std::abs(le(i) - le(i - stride));
    big += std::abs(be(i) - be(i - stride));
  }
  return big < little ? ByteOrder::kBig : ByteOrder::kLittle;
}

void DecodeAdpcm(const std::uint8_t* data, std::size_t size, bool stereo, std::size_t maxFrames,
                 std::vector<std::int16_t>& out) {
  if (!data || size == 0) return;
  Bits in(data, size);
  const unsigned bits = in.Read(2) + 2;
  const unsigned channels = stereo ? 2 : 1;
  AdpcmChannel ch[2];
  std::size_t frames = 0;
  while (frames < maxFrames && in.Left() >= 22 * channels) {
    for (unsigned c = 0; c < channels; ++c) {
      ch[c].sample = in.ReadSigned(16);
      ch[c].index = static_cast<int>(in.Read(6));
      out.push_back(static_cast<std::int16_t>(ch[c].sample));
    }
    ++frames;
    for (int i = 1; i < kAdpcmPacketFrames && frames < maxFrames; ++i) {
      if (in.Left() < bits * channels) return;
      for (unsigned c = 0; c < channels; ++c) {
        ch[c].Apply(in.Read(bits), bits);
        out.push_back(static_cast<std::int16_t>(ch[c].sample));
      }
      ++frames;
    }
  }
}

bool CanDecode(SoundCoding coding, bool haveMp3) {
  switch (coding) {
    case SoundCoding::kPcmNative:
    case SoundCoding::kPcmLittle:
    case SoundCoding::kAdpcm:
      return true;
    case SoundCoding::kMp3:
      return haveMp3;
    default:
      return false;
  }
}

namespace {

void TraceUndecodable(SoundCoding coding) {
  // Once per coding and run: a movie full of such sounds says so once.
  static std::array<bool, 16> said{};
  const auto i = static_cast<std::size_t>(coding) & 15;
  if (said[i]) return;
  said[i] = true;
  char line[96];
  std::snprintf(line, sizeof line, "sound: coding %d is not decoded here; those sounds are silent",
                static_cast<int>(i));
  Trace(line);
}

// Feeds MP3 data to a fresh decoder in pieces (the system decoders take a bounded input each
// call) and keeps at most `maxFrames` frames.
void DecodeMp3(Mp3Decoder& decoder, const std::uint8_t* data, std::size_t size,
               std::size_t maxFrames, std::vector<std::int16_t>& out) {
  constexpr std::size_t kPiece = 16 << 10;
  for (std::size_t at = 0; at < size; at += kPiece) {
    if (!decoder.Feed(data + at, std::min(kPiece, size - at), out)) break;
    const int channels = std::max(1, decoder.Channels());
    if (out.size() >= maxFrames * static_cast<std::size_t>(channels)) {
      out.resize(maxFrames * static_cast<std::size_t>(channels));
      break;
    }
  }
}

}  // namespace

std::shared_ptr<const Pcm> DecodeSound(const SoundDef& sound, const Mp3DecoderFactory& mp3,
                                       std::size_t maxFrames) {
  auto pcm = std::make_shared<Pcm>();
  const SoundFormat& f = sound.format;
  pcm->rate = f.rate;
  pcm->channels = f.stereo ? 2 : 1;
  const std::uint8_t* data = sound.data.data();
  const std::size_t size = sound.data.size();
  // The header's sample count bounds what is decoded (it is not trusted to be there).
  const std::size_t frames = std::min<std::size_t>(maxFrames, sound.sampleCount);
  switch (f.coding) {
    case SoundCoding::kPcmNative:
      DecodePcm(data, size, f.sixteenBit, f.stereo,
                f.sixteenBit ? GuessByteOrder(data, size, f.stereo) : ByteOrder::kLittle, frames,
                pcm->samples);
      break;
    case SoundCoding::kPcmLittle:
      DecodePcm(data, size, f.sixteenBit, f.stereo, ByteOrder::kLittle, frames, pcm->samples);
      break;
    case SoundCoding::kAdpcm:
      DecodeAdpcm(data, size, f.stereo, frames, pcm->samples);
      break;
    case SoundCoding::kMp3: {
      std::unique_ptr<Mp3Decoder> decoder = mp3 ? mp3(f.rate, pcm->channels) : nullptr;
      if (!decoder) {
        TraceUndecodable(f.coding);
        return nullptr;
      }
      DecodeMp3(*decoder, data, size, maxFrames, pcm->samples);
      if (decoder->SampleRate() > 0) pcm->rate = decoder->SampleRate();
      if (decoder->Channels() > 0) pcm->channels = decoder->Channels();
      break;
    }
    default:
      TraceUndecodable(f.coding);
      return nullptr;
  }
  if (pcm->Frames() == 0) return nullptr;
  pcm->samples.resize(pcm->Frames() * static_cast<std::size_t>(pcm->channels));
  return pcm;
}

StreamDecoder::StreamDecoder(const StreamHead& head, const Mp3DecoderFactory& mp3) : head_(head) {
  if (head.format.coding == SoundCoding::kMp3) {
    if (mp3) mp3_ = mp3(head.format.rate, head.format.stereo ? 2 : 1);
    decodable_ = mp3_ != nullptr;
  } else {
    decodable_ = CanDecode(head.format.coding, false);
  }
  if (!decodable_) TraceUndecodable(head.format.coding);
}

int StreamDecoder::Rate() const {
  if (mp3_ && mp3_->SampleRate() > 0) return mp3_->SampleRate();
  return head_.format.rate;
}

int StreamDecoder::Channels() const {
  if (mp3_ && mp3_->Channels() > 0) return mp3_->Channels();
  return head_.format.stereo ? 2 : 1;
}

void StreamDecoder::Block(const std::uint8_t* data, std::size_t size,
                          std::vector<std::int16_t>& out) {
  if (!decodable_ || !data || size == 0) return;
  // A frame's block holds about a frame of sound; anything far larger is damage.
  constexpr std::size_t kMaxBlockFrames = 1 << 18;
  const SoundFormat& f = head_.format;
  switch (f.coding) {
    case SoundCoding::kPcmNative:
    case SoundCoding::kPcmLittle:
      DecodePcm(data, size, f.sixteenBit, f.stereo, ByteOrder::kLittle, kMaxBlockFrames, out);
      break;
    case SoundCoding::kAdpcm:
      DecodeAdpcm(data, size, f.stereo, kMaxBlockFrames, out);
      break;
    case SoundCoding::kMp3:
      // Sample count and seek samples come before the MP3 frames.
      if (size > 4 && !mp3_->Feed(data + 4, size - 4, out)) decodable_ = false;
      break;
    default:
      break;
  }
}

}  // namespace dbx::swf
