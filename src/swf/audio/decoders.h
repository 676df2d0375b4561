// Sound decoders: the movie's coded samples to 16-bit PCM at the sound's own rate. PCM and the
// format's ADPCM are decoded here; MP3 through a decoder the platform supplies. Every decoder is
// bounded by its input and by `maxFrames`, and damaged data decodes to what could be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/platform.h"
#include "swf/format/movie.h"

namespace dbx::swf {

// Decoded sound: interleaved 16-bit samples, `channels` (1 or 2) per frame, at `rate` Hz.
struct Pcm {
  int rate = 44100;
  int channels = 1;
  std::vector<std::int16_t> samples;
  std::size_t Frames() const { return channels > 0 ? samples.size() / channels : 0; }
};

// Makes an MP3 decoder for a stream of the given rate and channels (nothing: none available).
using Mp3DecoderFactory = std::function<std::unique_ptr<Mp3Decoder>(int rate, int channels)>;

enum class ByteOrder { kLittle, kBig };

// Uncompressed samples: 8-bit unsigned (128 is silence) or 16-bit signed in `order`. Appends at
// most `maxFrames` frames; a cut last frame is dropped.
void DecodePcm(const std::uint8_t* data, std::size_t size, bool sixteenBit, bool stereo,
               ByteOrder order, std::size_t maxFrames, std::vector<std::int16_t>& out);

// The byte order of 16-bit samples stored in the authoring machine's order: the reading under
// which neighbouring samples differ less (sound is smooth, the wrong order is noise).
ByteOrder GuessByteOrder(const std::uint8_t* data, std::size_t size, bool stereo);

// The format's ADPCM: a 2-bit code size, then packets of 4096 frames (an initial 16-bit sample
// and 6-bit step index per channel, then 4095 codes of 2 to 5 bits per channel). Appends at most
// `maxFrames` frames.
void DecodeAdpcm(const std::uint8_t* data, std::size_t size, bool stereo, std::size_t maxFrames,
                 std::vector<std::int16_t>& out);

// A whole event sound. Nothing for codings we cannot decode (Nellymoser, Speex, MP3 without a
// decoder) and for sounds that decode to no sample at all.
std::shared_ptr<const Pcm> DecodeSound(const SoundDef& sound, const Mp3DecoderFactory& mp3,
                                       std::size_t maxFrames);

// Decodes the blocks of one stream sound, one frame's block at a time.
class StreamDecoder {
 public:
  StreamDecoder(const StreamHead& head, const Mp3DecoderFactory& mp3);
  // Appends the samples of one block (at Rate(), Channels() per frame) to `out`.
  void Block(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>& out);
  int Rate() const;
  int Channels() const;
  // False for codings this build cannot decode (the stream is then silent).
  bool Decodable() const { return decodable_; }

 private:
  StreamHead head_;
  std::unique_ptr<Mp3Decoder> mp3_;
  bool decodable_ = true;
};

// Whether the coding is one we can decode given an MP3 decoder factory.
bool CanDecode(SoundCoding coding, bool haveMp3);

}  // namespace dbx::swf
